#pragma once

#include "core/Result.h"
#include "rig/RigSettings.h"

#include <limits>
#include <memory>
#include <string>

namespace quillon {

class VirtualBench;

// Why a call to the receiver failed.
enum class RigError
{
    None = 0,
    Settings,  // the settings cannot work: unknown model, no port, a port that is no host:port
    Connect,   // opening the connection failed, or nothing answers at the port
    NotOpen,   // a call before open() succeeded
    Frequency, // setting the frequency failed
    Mode,      // setting the mode failed
    Agc,       // turning the AGC off failed, or the AGC still reads on
    ReadBack,  // reading back failed, or the rig reports other values than were set
};

// The outcome of a call: on failure the code says which step failed and the detail is a
// whole sentence for the user that names the receiver and what failed, e.g. "Receiver
// Hamlib NET rigctl (hamlib model 2) at localhost:4532: setting the frequency to
// 144.300000 MHz failed: Communication timed out." The window or quillon-cli shows the
// detail as it stands.
using RigResult = Outcome<RigError>;

// What the receiver reports about its AGC after it was told to turn it off.
enum class AgcState
{
    NotOffered, // the rig has no AGC control (the bench: it has no AGC at all)
    Off,        // set and read back off
    Unknown     // set, but the rig cannot report its AGC
};

// What the receiver accepted, as it reports it.
struct RigReadback
{
    // Hz; NaN when the control cannot read it (None).
    double frequencyHz = std::numeric_limits<double>::quiet_NaN();
    std::string mode; // as the rig names it ("USB", "CW", "LSB", ...); empty: not read
    AgcState agc = AgcState::NotOffered;
};

// A read-back frequency further than this from the one set counts as not accepted. Coarser
// than the tuning step of any computer-controlled receiver, fine against the kilohertz of
// an audio passband.
inline constexpr double kFrequencyToleranceHz = 100.0;

// One receiver control. Calls block until the receiver answers or its time-out passes
// (RigSettings::timeoutMs per call), so a control is used by one thread at a time and,
// for hamlib, not by the window thread: a sweep calls it from its worker. close() and the
// destructor never block longer than one time-out.
class RigControl
{
public:
    virtual ~RigControl() = default;

    // Names the receiver in messages: "None", "Virtual bench", "Hamlib Dummy (hamlib model
    // 1)", "Hamlib NET rigctl (hamlib model 2) at localhost:4532".
    virtual std::string name() const = 0;

    virtual RigResult open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual RigResult setFrequency(double frequencyHz) = 0;
    virtual RigResult readFrequency(double &frequencyHz) = 0; // NaN when it cannot be read
    virtual RigResult setMode(RigMode mode) = 0;
    virtual RigResult readMode(std::string &mode) = 0; // empty when it cannot be read
    // Turns the AGC off where the rig offers it; `agc` says what the rig then reports.
    virtual RigResult setAgcOff(AgcState &agc) = 0;
};

// The control the settings choose, made by the kind's row of rigKinds(). `bench` is the
// bench a "Virtual bench" control tunes; it must outlive the control (without one that
// choice gives the "None" control).
std::unique_ptr<RigControl> makeRigControl(const RigSettings &settings, VirtualBench *bench);

// Connecting: opens the rig (unless open), sets the mode, then the frequency (a mode change
// may move some rigs' frequency, so the frequency comes second), turns the AGC off where
// the rig offers it and reads frequency and mode back into `readback`. A read-back
// frequency more than kFrequencyToleranceHz away, or another mode, fails with
// RigError::ReadBack. On any failure the rig is closed again.
RigResult connectRig(RigControl &rig, double frequencyHz, RigMode mode, RigReadback &readback);

// Retuning an open rig for the next point of a sweep: sets the frequency and reads it back
// (checked as in connectRig). The rig stays open on failure.
RigResult tuneRig(RigControl &rig, double frequencyHz, RigReadback &readback);

// The message of a failed call: "Receiver <name>: <what> failed: <reason>." (without
// ": <reason>" when it is empty). For the controls' own use.
RigResult rigFailure(const RigControl &rig, RigError error, const std::string &what,
                     const std::string &reason);

// "144.300000 MHz": a frequency in messages, to the hertz, locale-free.
std::string frequencyText(double frequencyHz);

// The control that controls nothing: every call succeeds, nothing can be read back.
class NoRig final : public RigControl
{
public:
    std::string name() const override { return "None"; }
    RigResult open() override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    RigResult setFrequency(double) override { return {}; }
    RigResult readFrequency(double &frequencyHz) override;
    RigResult setMode(RigMode) override { return {}; }
    RigResult readMode(std::string &mode) override;
    RigResult setAgcOff(AgcState &agc) override;

private:
    bool m_open = false;
};

} // namespace quillon
