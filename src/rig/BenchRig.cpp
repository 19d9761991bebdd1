#include "rig/BenchRig.h"

#include "bench/VirtualBench.h"

namespace quillon {

RigResult BenchRig::open()
{
    m_open = true;
    return {};
}

RigResult BenchRig::notOpen(const std::string &what) const
{
    return rigFailure(*this, RigError::NotOpen, what, "it is not connected");
}

RigResult BenchRig::setFrequency(double frequencyHz)
{
    const std::string what = "setting the frequency to " + frequencyText(frequencyHz);
    if (!m_open)
        return notOpen(what);
    if (!m_bench.setFrequencyMHz(frequencyHz / 1e6))
        return rigFailure(*this, RigError::Frequency, what, "the bench tunes from 0 to 30000 MHz");
    return {};
}

RigResult BenchRig::readFrequency(double &frequencyHz)
{
    if (!m_open)
        return notOpen("reading the frequency");
    frequencyHz = m_bench.frequencyMHz() * 1e6;
    return {};
}

RigResult BenchRig::setMode(RigMode mode)
{
    if (!m_open)
        return notOpen(std::string("setting the mode to ") + rigModeName(mode));
    m_mode = mode;
    return {};
}

RigResult BenchRig::readMode(std::string &mode)
{
    if (!m_open)
        return notOpen("reading the mode");
    mode = rigModeName(m_mode);
    return {};
}

RigResult BenchRig::setAgcOff(AgcState &agc)
{
    if (!m_open)
        return notOpen("turning the AGC off");
    agc = AgcState::NotOffered;
    return {};
}

} // namespace quillon
