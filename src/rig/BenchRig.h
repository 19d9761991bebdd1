#pragma once

#include "rig/RigControl.h"

namespace quillon {

class VirtualBench;

// Tunes the virtual bench: the frequency set is the bench's frequency, which its band
// curves (reference ENR, DUT gain and NF) follow from the next capture on. The bench has
// no modes to speak of (the mode set is reported back) and no AGC. Never blocks.
class BenchRig final : public RigControl
{
public:
    explicit BenchRig(VirtualBench &bench) : m_bench(bench) {}

    std::string name() const override { return "Virtual bench"; }
    RigResult open() override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    // 0..30000 MHz; any other frequency fails with RigError::Frequency.
    RigResult setFrequency(double frequencyHz) override;
    RigResult readFrequency(double &frequencyHz) override;
    RigResult setMode(RigMode mode) override;
    RigResult readMode(std::string &mode) override;
    RigResult setAgcOff(AgcState &agc) override;

private:
    RigResult notOpen(const std::string &what) const;

    VirtualBench &m_bench;
    RigMode m_mode = RigMode::Usb;
    bool m_open = false;
};

} // namespace quillon
