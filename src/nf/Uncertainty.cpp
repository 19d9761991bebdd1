#include "nf/Uncertainty.h"

#include "core/NumberText.h"
#include "nf/YFactorMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillon {

namespace yf = YFactorMath;

namespace {

constexpr double kDbPerNeper = 10.0 / std::numbers::ln10; // d(10 log10 x) = kDbPerNeper dx/x

// Partial derivatives of one result: with respect to the natural logarithm of each
// reading's power (a relative error of the power is an error of its logarithm), the ENR in
// dB, and the off temperatures in kelvin (one per source; the receiver pages have one).
struct Gradient
{
    std::array<double, kDeviceReadingCount> lnPower{};
    double enrDb = 0.0;
    std::array<double, 2> offTemperature{};

    Gradient scaled(double k) const
    {
        Gradient g = *this;
        for (double &v : g.lnPower)
            v *= k;
        g.enrDb *= k;
        for (double &v : g.offTemperature)
            v *= k;
        return g;
    }
    Gradient plus(const Gradient &o) const
    {
        Gradient g = *this;
        for (std::size_t i = 0; i < g.lnPower.size(); ++i)
            g.lnPower[i] += o.lnPower[i];
        g.enrDb += o.enrDb;
        for (std::size_t i = 0; i < g.offTemperature.size(); ++i)
            g.offTemperature[i] += o.offTemperature[i];
        return g;
    }
};

using Errors = std::array<ReadingError, kDeviceReadingCount>;

Uncertain combine(double value, const Gradient &g, const Errors &errors,
                  const StatedUncertainty &stated, const DriftTerm &drift)
{
    // Stated values are 95% half-widths at k = 2.
    const double enr = g.enrDb * stated.enrDb / 2.0;
    double systematic = enr * enr;
    for (double c : g.offTemperature) {
        const double part = c * stated.offTemperatureK / 2.0;
        systematic += part * part;
    }
    return combineUncertainty(value, g.lnPower, errors, systematic, drift);
}

// Te of one Y factor and its gradient: the Y factor is reading `on` over reading `off`.
struct TemperatureTerms
{
    double y = 0.0;
    double te = 0.0;
    Gradient gradient;
};
TemperatureTerms noiseTemperatureTerms(double pOn, double pOff, int on, int off, double enrDb,
                                       double t0, double tsOff, int offIndex)
{
    TemperatureTerms t;
    t.y = pOn / pOff;
    const double enr = yf::powerRatioFromDb(enrDb);
    t.te = yf::noiseTemperature(t.y, yf::hotTemperature(enrDb, t0, tsOff), tsOff);
    // Te = (ENR T0 + Ts - Y Ts) / (Y - 1) = ENR T0 / (Y - 1) - Ts.
    const double yMinus1 = t.y - 1.0;
    const double dTeDlnY = -enr * t0 / (yMinus1 * yMinus1) * t.y;
    t.gradient.lnPower[static_cast<std::size_t>(on)] = dTeDlnY;
    t.gradient.lnPower[static_cast<std::size_t>(off)] = -dTeDlnY;
    t.gradient.enrDb = t0 / yMinus1 * enr / kDbPerNeper;
    t.gradient.offTemperature[static_cast<std::size_t>(offIndex)] = -1.0;
    return t;
}

// 10 log10 of a Y factor, reading `on` over reading `off`.
Gradient yDbGradient(int on, int off)
{
    Gradient g;
    g.lnPower[static_cast<std::size_t>(on)] = kDbPerNeper;
    g.lnPower[static_cast<std::size_t>(off)] = -kDbPerNeper;
    return g;
}

// F and NF of a noise temperature with its gradient.
void factorAndFigure(double te, const Gradient &teGradient, double t0, const Errors &errors,
                     const StatedUncertainty &stated, const DriftTerm &drift, Uncertain &f,
                     Uncertain &nf)
{
    const double factor = yf::noiseFactorFromTemperature(te, t0);
    const Gradient fGradient = teGradient.scaled(1.0 / t0);
    f = combine(factor, fGradient, errors, stated, drift);
    nf = combine(yf::noiseFigureFromFactor(factor), fGradient.scaled(kDbPerNeper / factor), errors,
                 stated, drift);
}

} // namespace

Uncertain combineUncertainty(double value, const std::array<double, kDeviceReadingCount> &dLnPower,
                             const std::array<ReadingError, kDeviceReadingCount> &errors,
                             double systematic, const DriftTerm &drift)
{
    double statistical = 0.0;
    double welch = 0.0; // sum of (c u)^4 / degrees over the readings
    double bias = 0.0;
    double slope = 0.0;
    for (std::size_t i = 0; i < dLnPower.size(); ++i) {
        bias += dLnPower[i] * drift.bias[i];
        slope += dLnPower[i] * drift.slope[i];
        const double part = dLnPower[i] * errors[i].relative;
        if (part == 0.0)
            continue;
        statistical += part * part;
        welch += part * part * part * part / errors[i].degreesOfFreedom;
    }
    const double driftPart = std::hypot(bias, slope * drift.rateStandard);
    systematic += driftPart * driftPart;
    Uncertain u;
    u.value = value;
    u.drift = driftPart;
    u.statistical = std::sqrt(statistical);
    u.total = std::sqrt(statistical + systematic);
    if (welch > 0.0) {
        u.statisticalDegrees = statistical * statistical / welch;
        u.totalDegrees = (statistical + systematic) * (statistical + systematic) / welch;
    }
    return u;
}

double coverageFactor95(double degrees)
{
    constexpr double z = 1.959963984540054;
    if (!(degrees < std::numeric_limits<double>::infinity()))
        return z; // infinite or NaN
    if (degrees < 3.0) {
        // Between the exact values for 1, 2 and 3 degrees, linear in 1 / degrees.
        constexpr double t1 = 12.706204736174698, t2 = 4.302652729749464, t3 = 3.182446305284263;
        const double v = 1.0 / std::max(degrees, 1.0);
        return v >= 0.5 ? t2 + (t1 - t2) * (v - 0.5) / 0.5
                        : t3 + (t2 - t3) * (v - 1.0 / 3.0) / (1.0 / 6.0);
    }
    // Cornish-Fisher expansion of Student's t about the normal quantile.
    const double z2 = z * z;
    const double g1 = (z2 + 1.0) * z / 4.0;
    const double g2 = ((5.0 * z2 + 16.0) * z2 + 3.0) * z / 96.0;
    const double g3 = (((3.0 * z2 + 19.0) * z2 + 17.0) * z2 - 15.0) * z / 384.0;
    const double g4 =
        ((((79.0 * z2 + 776.0) * z2 + 1482.0) * z2 - 1920.0) * z2 - 945.0) * z / 92160.0;
    const double v = 1.0 / degrees;
    return z + v * (g1 + v * (g2 + v * (g3 + v * g4)));
}

double Uncertain::statisticalHalfWidth() const
{
    return coverageFactor95(statisticalDegrees) * statistical;
}

double Uncertain::totalHalfWidth() const
{
    return coverageFactor95(totalDegrees) * total;
}

SystemUncertainty systemNoiseUncertainty(double pOn, double pOff, ReadingError on, ReadingError off,
                                         double enrDb, double t0, double tsOff,
                                         const StatedUncertainty &stated, const DriftTerm &drift)
{
    const Errors errors{on, off, ReadingError{}, ReadingError{}};
    const TemperatureTerms t = noiseTemperatureTerms(pOn, pOff, 0, 1, enrDb, t0, tsOff, 0);
    SystemUncertainty u;
    u.yDb = combine(yf::gainDb(t.y), yDbGradient(0, 1), errors, stated, drift);
    u.te = combine(t.te, t.gradient, errors, stated, drift);
    factorAndFigure(t.te, t.gradient, t0, errors, stated, drift, u.f, u.nf);
    return u;
}

DeviceUncertainty
deviceNoiseUncertainty(const std::array<double, kDeviceReadingCount> &p,
                       const std::array<ReadingError, kDeviceReadingCount> &errors, double enrDb,
                       double t0, double tsOff, const StatedUncertainty &stated,
                       const DriftTerm &drift)
{
    const TemperatureTerms rx = noiseTemperatureTerms(p[0], p[1], 0, 1, enrDb, t0, tsOff, 0);
    const TemperatureTerms chain = noiseTemperatureTerms(p[2], p[3], 2, 3, enrDb, t0, tsOff, 0);
    // G = (P2 - P3) / (P0 - P1); d ln G / d ln Pi:
    const double systemDiff = p[0] - p[1];
    const double dutDiff = p[2] - p[3];
    const double gain = yf::deviceGain(p[2], p[3], p[0], p[1]);
    Gradient lnGain;
    lnGain.lnPower = {-p[0] / systemDiff, p[1] / systemDiff, p[2] / dutDiff, -p[3] / dutDiff};

    DeviceUncertainty u;
    u.ySystemDb = combine(yf::gainDb(rx.y), yDbGradient(0, 1), errors, stated, drift);
    u.yDutDb = combine(yf::gainDb(chain.y), yDbGradient(2, 3), errors, stated, drift);
    u.gainDb = combine(yf::gainDb(gain), lnGain.scaled(kDbPerNeper), errors, stated, drift);
    // Te_dut = Te_chain - Te_rx / G: d = dTe_chain - dTe_rx / G + (Te_rx / G) d ln G.
    const double te = yf::secondStageCorrected(chain.te, rx.te, gain);
    const Gradient teGradient =
        chain.gradient.plus(rx.gradient.scaled(-1.0 / gain)).plus(lnGain.scaled(rx.te / gain));
    u.te = combine(te, teGradient, errors, stated, drift);
    factorAndFigure(te, teGradient, t0, errors, stated, drift, u.f, u.nf);
    return u;
}

DeviceResultsUncertainty
computeDeviceUncertainty(const std::array<double, kDeviceReadingCount> &power,
                         const std::array<ReadingError, kDeviceReadingCount> &error,
                         const std::array<bool, kDeviceReadingCount> &present, bool systemMode,
                         double enrDb, double t0, double tsOff, const StatedUncertainty &stated,
                         const DriftTerm &drift)
{
    DeviceResultsUncertainty r;
    r.systemMode = systemMode;
    r.complete = present[0] && present[1] && (systemMode || (present[2] && present[3]));
    if (!r.complete)
        return r;
    if (systemMode) {
        const SystemUncertainty s = systemNoiseUncertainty(power[0], power[1], error[0], error[1],
                                                           enrDb, t0, tsOff, stated, drift);
        r.te = s.te;
        r.f = s.f;
        r.nf = s.nf;
        return r;
    }
    const DeviceUncertainty d =
        deviceNoiseUncertainty(power, error, enrDb, t0, tsOff, stated, drift);
    r.te = d.te;
    r.f = d.f;
    r.nf = d.nf;
    r.gainDb = d.gainDb;
    return r;
}

Uncertain unknownSourceEnrUncertainty(double referenceOn, double referenceOff, double unknownOn,
                                      double unknownOff, ReadingError referenceOnError,
                                      ReadingError referenceOffError, ReadingError unknownOnError,
                                      ReadingError unknownOffError, double referenceEnrDb,
                                      double tsOffReference, double tsOffUnknown, double t0,
                                      const StatedUncertainty &stated, const DriftTerm &drift)
{
    const Errors errors{referenceOnError, referenceOffError, unknownOnError, unknownOffError};
    const double yRef = referenceOn / referenceOff;
    const double yUnk = unknownOn / unknownOff;
    const double enr = yf::powerRatioFromDb(referenceEnrDb);
    // ENR_unk = 10 log10(Q), Q = (ENR_ref / (Y_ref - 1) + (Ts_unk - Ts_ref) / T0) (Y_unk - 1).
    const double a = enr / (yRef - 1.0) + (tsOffUnknown - tsOffReference) / t0;
    const double q = a * (yUnk - 1.0);
    Gradient dq; // of Q
    const double dQdlnYRef = -enr / ((yRef - 1.0) * (yRef - 1.0)) * (yUnk - 1.0) * yRef;
    const double dQdlnYUnk = a * yUnk;
    dq.lnPower = {dQdlnYRef, -dQdlnYRef, dQdlnYUnk, -dQdlnYUnk};
    dq.enrDb = (yUnk - 1.0) / (yRef - 1.0) * enr / kDbPerNeper;
    dq.offTemperature = {-(yUnk - 1.0) / t0, (yUnk - 1.0) / t0};
    const double value =
        yf::unknownSourceEnrDb(referenceEnrDb, yRef, yUnk, tsOffReference, tsOffUnknown, t0);
    return combine(value, dq.scaled(kDbPerNeper / q), errors, stated, drift);
}

std::string halfWidthText(double halfWidth, std::string_view unit)
{
    if (!(halfWidth >= 0.0) || !std::isfinite(halfWidth))
        return {};
    // Two significant digits: 0.052, 0.52, 5.2, 52, 520.
    int decimals = 1;
    if (halfWidth > 0.0) {
        decimals = std::max(0, 1 - static_cast<int>(std::floor(std::log10(halfWidth))));
        // 0.0996 rounds up to 0.10, not 0.100.
        if (decimals > 0 && std::round(halfWidth * std::pow(10.0, decimals)) >= 100.0)
            --decimals;
    }
    std::string text = "\u00b1 " + formatFixed(halfWidth, decimals);
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    text += " (95%)";
    return text;
}

} // namespace quillon
