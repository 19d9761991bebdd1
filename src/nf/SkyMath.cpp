#include "nf/SkyMath.h"

#include "core/NumberText.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillon {

namespace {

constexpr double kDbPerNeper = 10.0 / std::numbers::ln10; // d(10 log10 x) / d(ln x)

bool positive(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// A result q of the two readings with dq/d(ln P_hot) = cHot and dq/d(ln P_cold) = cCold,
// and a stated part of variance `systematic` (exactly known distribution: infinite degrees).
Uncertain fromReadings(double value, double cHot, double cCold, const SkyReadings &r,
                       double systematic)
{
    const double h = cHot * r.hotError.relative;
    const double c = cCold * r.coldError.relative;
    const double statistical = h * h + c * c;
    const double welch =
        h * h * h * h / r.hotError.degreesOfFreedom + c * c * c * c / r.coldError.degreesOfFreedom;
    Uncertain u;
    u.value = value;
    u.statistical = std::sqrt(statistical);
    u.total = std::sqrt(statistical + systematic);
    if (welch > 0.0) {
        u.statisticalDegrees = statistical * statistical / welch;
        u.totalDegrees = (statistical + systematic) * (statistical + systematic) / welch;
    }
    return u;
}

// The common checks of the two readings: both powers above 0 and Y above 1 (the source
// reads louder than the cold sky). Empty when usable.
std::string readingsError(const SkyReadings &r)
{
    if (!positive(r.hotPower) || !positive(r.coldPower))
        return "Both readings are needed.";
    if (!(r.hotPower / r.coldPower > 1.0))
        return "Y must be above 1: the reading on the source must be louder than on cold sky.";
    return {};
}

Uncertain yDbOf(const SkyReadings &r)
{
    const double y = r.hotPower / r.coldPower;
    return fromReadings(10.0 * std::log10(y), kDbPerNeper, -kDbPerNeper, r, 0.0);
}

} // namespace

// The beam-size correction K.
//
// The beam's power pattern is a Gaussian of half-power width b: P(t) = exp(-a t^2), with
// a = 4 ln2 / b^2 and t the angle from the axis. Its solid angle (small angles) is
//   Omega_A = integral of P over the sky = 2 pi integral_0^inf exp(-a t^2) t dt = pi / a.
// A point source of flux S raises the antenna temperature by T_point = S A_e / (2 k) with
// A_e = lambda^2 / Omega_A; in brightness terms S = 2 k T_B Omega_s / lambda^2, so
//   T_point = T_B Omega_s / Omega_A.
// A uniform disk of brightness T_B and diameter s (radius r = s/2) centred in the beam
// raises it by
//   T_disk = T_B / Omega_A * 2 pi integral_0^r exp(-a t^2) t dt = T_B (1 - exp(-a r^2)).
// With Omega_s = pi r^2, Omega_s / Omega_A = a r^2 = ln2 s^2 / b^2 =: x^2, and
//   K = T_point / T_disk = x^2 / (1 - exp(-x^2)).
// K -> 1 for a source much smaller than the beam (1 + x^2/2 to first order); for a source
// much larger than the beam K -> x^2, the antenna seeing only the disk's brightness.
SkyValue beamCorrection(double sourceDeg, double beamDeg)
{
    if (!positive(beamDeg))
        return {0.0, "The beamwidth must be a number above 0 degrees."};
    if (!(std::isfinite(sourceDeg) && sourceDeg >= 0.0))
        return {0.0, "The source diameter must be a number of 0 degrees or more."};
    const double x2 = std::numbers::ln2 * (sourceDeg / beamDeg) * (sourceDeg / beamDeg);
    // -expm1 keeps the small-source limit exact, where 1 - exp(-x^2) loses its digits.
    return {x2 < 1e-12 ? 1.0 : x2 / -std::expm1(-x2), {}};
}

double angularDiameterDeg(double radiusKm, double distanceKm)
{
    return 2.0 * std::asin(std::min(1.0, radiusKm / distanceKm)) * 180.0 / std::numbers::pi;
}

FluxAt fluxAt(std::vector<FluxPoint> points, double frequencyMHz)
{
    FluxAt out;
    if (!positive(frequencyMHz)) {
        out.error = "The frequency must be a number above 0 MHz.";
        return out;
    }
    if (points.empty()) {
        out.error = "The solar flux must be a number above 0 sfu.";
        return out;
    }
    for (const FluxPoint &p : points)
        if (!positive(p.fluxSfu) || !positive(p.frequencyMHz)) {
            out.error = "The solar flux must be a number above 0 sfu.";
            return out;
        }
    std::sort(points.begin(), points.end(), [](const FluxPoint &a, const FluxPoint &b) {
        return a.frequencyMHz < b.frequencyMHz;
    });
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].frequencyMHz == frequencyMHz) {
            out.fluxSfu = points[i].fluxSfu;
            out.sourceLowMHz = out.sourceHighMHz = frequencyMHz;
            return out;
        }
        if (i + 1 < points.size() && points[i].frequencyMHz < frequencyMHz &&
            frequencyMHz < points[i + 1].frequencyMHz) {
            const FluxPoint &a = points[i];
            const FluxPoint &b = points[i + 1];
            // A straight line in log(flux) against log(frequency): a power law between them.
            const double t =
                std::log(frequencyMHz / a.frequencyMHz) / std::log(b.frequencyMHz / a.frequencyMHz);
            out.fluxSfu = std::exp(std::log(a.fluxSfu) + t * std::log(b.fluxSfu / a.fluxSfu));
            out.sourceLowMHz = a.frequencyMHz;
            out.sourceHighMHz = b.frequencyMHz;
            return out;
        }
    }
    out.error = "The frequency lies outside the frequencies of the published solar flux.";
    return out;
}

FluxAt parseFluxTable(const std::string &text, std::vector<FluxPoint> &points)
{
    FluxAt out;
    points.clear();
    std::string item;
    const auto take = [&]() -> bool {
        if (item.empty())
            return true;
        const auto colon = item.find(':');
        const std::string f = colon == std::string::npos ? "" : item.substr(0, colon);
        const std::string s = colon == std::string::npos ? "" : item.substr(colon + 1);
        if (!isDecimalText(f) || !isDecimalText(s)) {
            out.error = "'" + item + "' is not a frequency in MHz and a flux in sfu (MHz:sfu).";
            return false;
        }
        points.push_back({parseDecimal(f), parseDecimal(s)});
        item.clear();
        return true;
    };
    for (const char ch : text) {
        if (ch == ',' || ch == ' ' || ch == ';' || ch == '\t') {
            if (!take())
                return out;
        } else {
            item += ch;
        }
    }
    if (take() && points.empty())
        out.error = "The solar flux must be a number above 0 sfu.";
    return out;
}

SunResult sunResult(const SkyReadings &r, const SunInput &in)
{
    SunResult out;
    if (!positive(in.fluxSfu))
        out.error = "The solar flux must be a number above 0 sfu.";
    else if (!positive(in.frequencyMHz))
        out.error = "The frequency must be a number above 0 MHz.";
    else if (!positive(in.k) || in.k < 1.0)
        out.error = "The beam-size correction K must be a number of 1 or more.";
    else if (!(std::isfinite(in.fluxUncertaintyPercent) && in.fluxUncertaintyPercent >= 0.0))
        out.error = "The flux uncertainty must be a number of 0 % or more.";
    else
        out.error = readingsError(r);
    if (!out.ok())
        return out;

    const double y = r.hotPower / r.coldPower;
    const double lambda = kSpeedOfLight / (in.frequencyMHz * 1e6);
    const double s = in.fluxSfu * kSolarFluxUnit;
    const double gOverT =
        8.0 * std::numbers::pi * kBoltzmann * (y - 1.0) * in.k / (s * lambda * lambda);
    // d ln(Y - 1) / d ln P_hot = Y / (Y - 1), and the opposite for the cold reading.
    const double c = kDbPerNeper * y / (y - 1.0);
    const double fluxRelative = in.fluxUncertaintyPercent / 100.0 / 2.0;
    const double fluxDb = kDbPerNeper * fluxRelative;
    out.yDb = yDbOf(r);
    out.gOverTDbK = fromReadings(10.0 * std::log10(gOverT), c, -c, r, fluxDb * fluxDb);
    if (std::isfinite(in.gainDbi)) {
        const double g = std::pow(10.0, in.gainDbi / 10.0);
        const double rise = g * s * lambda * lambda / (8.0 * std::numbers::pi * kBoltzmann * in.k);
        // The rise does not depend on the readings; the flux's part is relative.
        out.antennaRiseK.value = rise;
        out.antennaRiseK.statistical = 0.0;
        out.antennaRiseK.total = rise * fluxRelative;
        const double tsys = g / gOverT;
        const double ct = tsys * y / (y - 1.0); // dTsys/d ln P_hot, with the minus sign below
        const double sys = tsys * fluxRelative;
        out.tsysK = fromReadings(tsys, -ct, ct, r, sys * sys);
    }
    return out;
}

MoonResult moonResult(const SkyReadings &r, const MoonInput &in)
{
    MoonResult out;
    const SkyValue k = beamCorrection(in.moonDiameterDeg, in.beamDeg);
    if (!positive(in.beamDeg))
        out.error = k.error;
    else if (!positive(in.moonDiameterDeg))
        out.error = "The source diameter must be a number of 0 degrees or more.";
    else if (!positive(in.moonTemperatureK))
        out.error = "The Moon's temperature must be a number above 0 K.";
    else if (!(std::isfinite(in.skyTemperatureK) && in.skyTemperatureK >= 0.0 &&
               in.skyTemperatureK < in.moonTemperatureK))
        out.error = "The cold sky's temperature must be a number from 0 K up to the Moon's.";
    else
        out.error = readingsError(r);
    if (!out.ok())
        return out;
    const double y = r.hotPower / r.coldPower;
    const double x2 = std::numbers::ln2 * std::pow(in.moonDiameterDeg / in.beamDeg, 2.0);
    out.yDb = yDbOf(r);
    out.expectedRiseK = (in.moonTemperatureK - in.skyTemperatureK) * -std::expm1(-x2);
    if (positive(in.tsysK))
        out.expectedYDb = 10.0 * std::log10(1.0 + out.expectedRiseK / in.tsysK);
    const double implied = out.expectedRiseK / (y - 1.0);
    const double ct = implied * y / (y - 1.0);
    out.impliedTsysK = fromReadings(implied, -ct, ct, r, 0.0);
    return out;
}

GroundResult groundResult(const SkyReadings &r, const GroundInput &in)
{
    GroundResult out;
    if (!(std::isfinite(in.skyTemperatureK) && in.skyTemperatureK >= 0.0))
        out.error = "The cold sky's temperature must be a number of 0 K or more.";
    else if (!(std::isfinite(in.groundTemperatureK) && in.groundTemperatureK > in.skyTemperatureK))
        out.error = "The ground's temperature must be a number above the cold sky's.";
    else if (!(std::isfinite(in.groundUncertaintyK) && in.groundUncertaintyK >= 0.0 &&
               std::isfinite(in.skyUncertaintyK) && in.skyUncertaintyK >= 0.0))
        out.error = "A temperature uncertainty must be a number of 0 K or more.";
    else
        out.error = readingsError(r);
    if (!out.ok())
        return out;
    const double y = r.hotPower / r.coldPower;
    const double tg = in.groundTemperatureK;
    const double ts = in.skyTemperatureK;
    const double tsys = (tg - ts) / (y - 1.0);
    const double te = tsys - ts;
    // dTsys/dY = -(Tg - Ts)/(Y-1)^2 = -Tsys/(Y-1); per ln P_hot times Y.
    const double c = tsys * y / (y - 1.0);
    const double ug = in.groundUncertaintyK / 2.0;
    const double us = in.skyUncertaintyK / 2.0;
    // Tsys: dTsys/dTg = 1/(Y-1), dTsys/dTs = -1/(Y-1); Te = Tsys - Ts: dTe/dTs = -Y/(Y-1).
    const double sysTsys = (ug * ug + us * us) / ((y - 1.0) * (y - 1.0));
    const double sysTe = (ug * ug + us * us * y * y) / ((y - 1.0) * (y - 1.0));
    out.yDb = yDbOf(r);
    out.tsysK = fromReadings(tsys, -c, c, r, sysTsys);
    out.receiverTeK = fromReadings(te, -c, c, r, sysTe);
    return out;
}

} // namespace quillon
