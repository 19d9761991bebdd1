#pragma once

#include "rig/RigControl.h"

#include <memory>
#include <string>

struct s_rig; // hamlib's RIG

namespace quillon {

// A receiver through hamlib 4.5: any model hamlib knows, on a serial port, or a rigctld
// daemon through hamlib's NET rigctl model (2) at host:port.
//
// Every call gives up after the settings' time-out and retries (hamlib's own "timeout" and
// "retry"); hamlib's cache is off, so that every read asks the receiver and a receiver that
// went away fails the next call instead of answering from the cache. Before hamlib
// connects to a rigctld, the address is tried with the time-out, so that a host that does
// not answer fails within it too. hamlib's debug printing is silenced.
//
// hamlib keeps process-wide state, so all hamlib calls of all HamlibRig objects are made
// one at a time (a process-wide lock): a rig that does not answer holds up another for at
// most one time-out. Note that hamlib ignores SIGPIPE for the whole process once a network
// rig is opened.
class HamlibRig final : public RigControl
{
public:
    explicit HamlibRig(const RigSettings &settings);
    ~HamlibRig() override;
    HamlibRig(const HamlibRig &) = delete;
    HamlibRig &operator=(const HamlibRig &) = delete;

    std::string name() const override { return m_name; }
    RigResult open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    RigResult setFrequency(double frequencyHz) override;
    RigResult readFrequency(double &frequencyHz) override;
    RigResult setMode(RigMode mode) override;
    RigResult readMode(std::string &mode) override;
    RigResult setAgcOff(AgcState &agc) override;

private:
    struct RigDeleter
    {
        void operator()(s_rig *rig) const;
    };
    RigResult failure(RigError error, const std::string &what, int hamlibCode) const;
    RigResult notOpen(const std::string &what) const;

    RigSettings m_settings;
    std::string m_name;
    std::unique_ptr<s_rig, RigDeleter> m_rig; // while open
    bool m_networkPort = false;               // the model talks TCP (rigctld and the like)
    bool m_open = false;
};

// Splits a rigctld address: "host:port", "host" (port 4532), "[v6 address]:port" or a bare
// IPv6 address. False when the port is not a number 1..65535 or the host is empty.
bool splitHostPort(const std::string &address, std::string &host, int &port);

// The hamlib library's own version text ("Hamlib 4.5.5 ..."), as a report states it.
std::string hamlibVersionText();

} // namespace quillon
