#include "measure/ResultUncertainty.h"

#include <cmath>
#include <limits>

namespace quillon {

ReadingError readingError(const ReadingStatistics &s)
{
    if (!std::isfinite(s.relativeStandardError) || !(s.degreesOfFreedom > 0.0))
        return {};
    return {s.relativeStandardError, s.degreesOfFreedom};
}

ReadingError halvesError(const ReadingStatistics &first, const ReadingStatistics &second)
{
    const ReadingError a = readingError(first);
    const ReadingError b = readingError(second);
    const double wa = first.blocks * first.meanPower;
    const double wb = second.blocks * second.meanPower;
    if (!(wa > 0.0) || !(wb > 0.0))
        return wa > 0.0 ? a : b;
    // Absolute errors of the two sums, over the whole sum; Welch-Satterthwaite degrees.
    const double ua = wa * a.relative, ub = wb * b.relative;
    const double u2 = ua * ua + ub * ub;
    ReadingError e;
    e.relative = std::sqrt(u2) / (wa + wb);
    const double welch =
        ua * ua * ua * ua / a.degreesOfFreedom + ub * ub * ub * ub / b.degreesOfFreedom;
    if (welch > 0.0)
        e.degreesOfFreedom = u2 * u2 / welch;
    return e;
}

HalfWidthTexts halfWidthTexts(const Uncertain &u, std::string_view unit)
{
    return {halfWidthText(u.statisticalHalfWidth(), unit), halfWidthText(u.totalHalfWidth(), unit)};
}

DeviceUncertaintyTexts deviceUncertaintyTexts(const DeviceResultsUncertainty &u)
{
    DeviceUncertaintyTexts t;
    t.complete = u.complete;
    if (!u.complete)
        return t;
    if (!u.systemMode)
        t.gain = halfWidthTexts(u.gainDb, "dB");
    t.te = halfWidthTexts(u.te, "K");
    t.f = halfWidthTexts(u.f, "");
    t.nf = halfWidthTexts(u.nf, "dB");
    return t;
}

CalibrationUncertainty
calibrationUncertainty(const std::array<double, kDeviceReadingCount> &power,
                       const std::array<ReadingError, kDeviceReadingCount> &error,
                       const std::array<bool, kDeviceReadingCount> &present, double referenceEnrDb,
                       double tsOffReference, double tsOffUnknown, double t0,
                       const StatedUncertainty &stated, const DriftTerm &drift)
{
    CalibrationUncertainty c;
    for (const bool p : present)
        if (!p)
            return c;
    c.complete = true;
    c.enrDb = unknownSourceEnrUncertainty(power[0], power[1], power[2], power[3], error[0],
                                          error[1], error[2], error[3], referenceEnrDb,
                                          tsOffReference, tsOffUnknown, t0, stated, drift);
    c.texts = halfWidthTexts(c.enrDb, "dB");
    return c;
}

ReadingWarnings mergedWarnings(const std::array<ReadingWarnings, kDeviceReadingCount> &warnings,
                               const std::array<bool, kDeviceReadingCount> &present)
{
    ReadingWarnings m;
    for (std::size_t i = 0; i < warnings.size(); ++i) {
        if (!present[i])
            continue;
        m.settling = m.settling || warnings[i].settling;
        m.compression = m.compression || warnings[i].compression;
        m.headroom = m.headroom || warnings[i].headroom;
        m.interference = m.interference || warnings[i].interference;
        m.lostAudio = m.lostAudio || warnings[i].lostAudio;
    }
    return m;
}

} // namespace quillon
