#include "rig/RigControl.h"

#include "core/NumberText.h"

#include <cmath>

namespace quillon {

namespace {

// Checks the read-back frequency against the one set; a control that cannot read it
// (NaN) passes.
RigResult checkFrequency(const RigControl &rig, double setHz, double readHz)
{
    if (std::isnan(readHz) || std::fabs(readHz - setHz) <= kFrequencyToleranceHz)
        return {};
    return rigFailure(rig, RigError::ReadBack, "tuning to " + frequencyText(setHz),
                      "the receiver reports " + frequencyText(readHz));
}

RigResult tuneAndRead(RigControl &rig, double frequencyHz, RigReadback &readback)
{
    if (RigResult r = rig.setFrequency(frequencyHz); !r.ok())
        return r;
    if (RigResult r = rig.readFrequency(readback.frequencyHz); !r.ok())
        return r;
    return checkFrequency(rig, frequencyHz, readback.frequencyHz);
}

} // namespace

std::string frequencyText(double frequencyHz)
{
    return formatFixed(frequencyHz / 1e6, 6) + " MHz";
}

RigResult rigFailure(const RigControl &rig, RigError error, const std::string &what,
                     const std::string &reason)
{
    std::string text = "Receiver " + rig.name() + ": " + what + " failed";
    if (!reason.empty())
        text += ": " + reason;
    return {error, text + "."};
}

RigResult NoRig::open()
{
    m_open = true;
    return {};
}

RigResult NoRig::readFrequency(double &frequencyHz)
{
    frequencyHz = std::numeric_limits<double>::quiet_NaN();
    return {};
}

RigResult NoRig::readMode(std::string &mode)
{
    mode.clear();
    return {};
}

RigResult NoRig::setAgcOff(AgcState &agc)
{
    agc = AgcState::NotOffered;
    return {};
}

std::unique_ptr<RigControl> makeRigControl(const RigSettings &settings, VirtualBench *bench)
{
    if (std::unique_ptr<RigControl> rig = rigKindInfo(settings.kind).make(settings, bench))
        return rig;
    return std::make_unique<NoRig>();
}

RigResult connectRig(RigControl &rig, double frequencyHz, RigMode mode, RigReadback &readback)
{
    readback = RigReadback{};
    const auto failed = [&rig](RigResult r) {
        rig.close();
        return r;
    };
    if (!rig.isOpen()) {
        if (RigResult r = rig.open(); !r.ok())
            return failed(r);
    }
    if (RigResult r = rig.setMode(mode); !r.ok())
        return failed(r);
    if (RigResult r = tuneAndRead(rig, frequencyHz, readback); !r.ok())
        return failed(r);
    if (RigResult r = rig.setAgcOff(readback.agc); !r.ok())
        return failed(r);
    if (RigResult r = rig.readMode(readback.mode); !r.ok())
        return failed(r);
    if (!readback.mode.empty() && readback.mode != rigModeName(mode))
        return failed(rigFailure(rig, RigError::ReadBack,
                                 std::string("setting the mode to ") + rigModeName(mode),
                                 "the receiver reports " + readback.mode));
    return {};
}

RigResult tuneRig(RigControl &rig, double frequencyHz, RigReadback &readback)
{
    if (!rig.isOpen())
        return rigFailure(rig, RigError::NotOpen, "tuning to " + frequencyText(frequencyHz),
                          "it is not connected");
    return tuneAndRead(rig, frequencyHz, readback);
}

} // namespace quillon
