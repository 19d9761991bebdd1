#include "measure/PrecisionRule.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillon {

namespace {

// 1 dB of noise figure per dB of power, per unit of ln P.
constexpr double kFallbackSensitivity = 10.0 / std::numbers::ln10;

// |dNF / d ln P_i| for the needed readings (0 for the others), from the propagation with a
// unit relative error on one reading at a time; the fallback where a power is unknown or
// the noise figure cannot be evaluated.
std::array<double, kDeviceReadingCount>
sensitivities(const std::array<PrecisionReading, kDeviceReadingCount> &readings, int needed,
              bool systemMode, double enrDb, double t0, double tsOff)
{
    std::array<double, kDeviceReadingCount> c{};
    std::array<double, kDeviceReadingCount> power{};
    std::array<bool, kDeviceReadingCount> present{};
    bool known = true;
    for (int i = 0; i < needed; ++i) {
        const auto k = static_cast<std::size_t>(i);
        power[k] = readings[k].power;
        present[k] = true;
        known = known && readings[k].power > 0.0 && std::isfinite(readings[k].power);
    }
    for (int i = 0; i < needed && known; ++i) {
        std::array<ReadingError, kDeviceReadingCount> unit{};
        unit[static_cast<std::size_t>(i)].relative = 1.0;
        const DeviceResultsUncertainty u =
            computeDeviceUncertainty(power, unit, present, systemMode, enrDb, t0, tsOff, {});
        c[static_cast<std::size_t>(i)] = u.nf.statistical;
        known = std::isfinite(u.nf.value) && std::isfinite(u.nf.statistical);
    }
    if (!known)
        for (int i = 0; i < needed; ++i)
            c[static_cast<std::size_t>(i)] = kFallbackSensitivity;
    return c;
}

} // namespace

PrecisionReading precisionReading(const ReadingStatistics &s, bool taken)
{
    PrecisionReading r;
    r.power = s.meanPower;
    r.error = {s.relativeStandardError, s.degreesOfFreedom};
    r.blocks = s.blocks;
    r.taken = taken;
    return r;
}

PrecisionDecision decidePrecision(const std::array<PrecisionReading, kDeviceReadingCount> &readings,
                                  int current, double elapsedSeconds, bool systemMode, double enrDb,
                                  double t0, double tsOff, const PrecisionTarget &target,
                                  PrecisionQuantity quantity)
{
    PrecisionDecision d;
    const bool yFactor = quantity == PrecisionQuantity::YFactor;
    const int needed = systemMode || yFactor ? 2 : kDeviceReadingCount;
    if (current < 0 || current >= needed)
        return d;
    const PrecisionReading &now = readings[static_cast<std::size_t>(current)];

    const std::array<double, kDeviceReadingCount> c =
        yFactor ? std::array<double, kDeviceReadingCount>{kFallbackSensitivity,
                                                          kFallbackSensitivity, 0.0, 0.0}
                : sensitivities(readings, needed, systemMode, enrDb, t0, tsOff);
    // The budget: the target as a standard uncertainty, at the current reading's degrees of
    // freedom (the final result has more, so this errs on the safe side).
    const double k = coverageFactor95(now.error.degreesOfFreedom);
    const double budget = (target.halfWidthDb / k) * (target.halfWidthDb / k);
    double fixed = 0.0;     // variance of the readings already taken
    double remaining = 0.0; // sum of |c| over the readings still open, the current one included
    double all = 0.0;
    for (int i = 0; i < needed; ++i) {
        const auto j = static_cast<std::size_t>(i);
        all += c[j];
        if (readings[j].taken && i != current)
            fixed += c[j] * c[j] * readings[j].error.relative * readings[j].error.relative;
        else
            remaining += c[j];
    }
    // When the readings taken have used up the whole budget, the target is out of reach:
    // the rest still get their own share rather than chasing it to the time limit.
    const double left = budget > fixed || !(all > 0.0) ? budget - fixed : budget * remaining / all;
    // A reading the result does not depend on (no sensitivity) has no share and stops at
    // its minimum of blocks.
    const double share =
        remaining > 0.0 ? c[static_cast<std::size_t>(current)] / remaining * left : 0.0;

    const double u = now.error.relative;
    if (u >= 0.0 && std::isfinite(u)) {
        d.halfWidthDb = k * c[static_cast<std::size_t>(current)] * u;
        d.goalDb = k * std::sqrt(share);
    }
    if (elapsedSeconds >= target.maxSeconds)
        d.verdict = PrecisionVerdict::TimeUp;
    else if (now.blocks >= target.minBlocks && d.halfWidthDb <= d.goalDb)
        d.verdict = PrecisionVerdict::Reached;
    return d;
}

} // namespace quillon
