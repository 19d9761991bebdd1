#pragma once

#include "nf/NoiseResults.h"

#include <array>
#include <limits>
#include <string>
#include <string_view>

namespace quillon {

// First-order uncertainty of the Y-factor results: every result's partial derivatives
// with respect to the readings' linear powers, the ENR and the off temperature, taken from
// the formulas themselves, combined as a root sum of squares (the readings, the ENR and the
// off temperature are independent of each other).
//
// Two parts are kept apart: the statistical one from the readings' own noise (what more
// averaging reduces), and the total with the systematic parts the user states. A 95% half-
// width is the standard uncertainty times Student's t for the Welch-Satterthwaite degrees
// of freedom (systematic parts count as exactly known distributions: infinite degrees).
//
// Units as in NoiseResults: powers linear, temperatures in kelvin, ENR and noise figure in
// dB, noise factor linear, gain in dB.

// The noise of one reading: the relative standard error of its mean power (standard
// deviation over mean, as ReadingStatistics gives it) and that error's degrees of freedom.
struct ReadingError
{
    double relative = 0.0;
    double degreesOfFreedom = std::numeric_limits<double>::infinity();
};

// What the user states: each a 95% half-width, as a calibration certificate gives it
// (k = 2; the standard uncertainty is half of it). 0 = exactly known.
struct StatedUncertainty
{
    double enrDb = 0.0;           // of the ENR in effect, dB
    double offTemperatureK = 0.0; // of each noise source's off temperature, K
};

// A drift of the receiver's gain during the readings, as a systematic part: the gain is
// exp(rate t) (linear in dB), so that reading i's mean power is off by the factor
// exp(bias[i]) against its value at the series' reference time, with
//   bias[i] = rate mean(t) + rate^2 var(t) / 2
// over the reading's counted blocks (the first two cumulants; t in s from the reference
// time). slope[i] = d bias[i] / d rate. The bias is not corrected: a result's drift part is
// its bias (sum of gradient x bias) and the rate's own uncertainty through the slopes,
// in quadrature; it enters the total only (more averaging does not reduce it). All zeros
// = no drift known.
struct DriftTerm
{
    std::array<double, kDeviceReadingCount> bias{};  // natural log of the power factor
    std::array<double, kDeviceReadingCount> slope{}; // s
    double rateStandard = 0.0;                       // standard uncertainty of the rate, 1/s
};

// One result and its uncertainty. Standard uncertainties in the result's own unit.
struct Uncertain
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    double value = kNaN;
    double statistical = kNaN; // from the readings alone
    double total = kNaN;       // readings, stated parts and drift together
    double drift = 0.0;        // the drift part alone (in the total)
    double statisticalDegrees = std::numeric_limits<double>::infinity();
    double totalDegrees = std::numeric_limits<double>::infinity();

    // 95% half-widths: coverageFactor95(degrees) times the standard uncertainty.
    double statisticalHalfWidth() const;
    double totalHalfWidth() const;
};

// One result's uncertainty from its partial derivatives against the readings' log powers:
// the readings' errors give the statistical part with Welch-Satterthwaite degrees; the
// drift term (its bias and the rate's uncertainty through the gradient) and `systematic`,
// the variance of the stated parts in the result's unit squared, join the total as exactly
// known distributions. Every result of this library and of the correction chain is made here.
Uncertain combineUncertainty(double value, const std::array<double, kDeviceReadingCount> &dLnPower,
                             const std::array<ReadingError, kDeviceReadingCount> &errors,
                             double systematic, const DriftTerm &drift);

// Student's t for a two-sided 95% interval with `degrees` degrees of freedom: 12.706 for 1,
// 4.303 for 2, 2.131 for 15, 1.960 for infinitely many. Below 1 counts as 1; NaN as
// infinite. (Exact at 1, 2 and 3, interpolated between; a Cornish-Fisher series from 3 on,
// good to 0.1% there and better above.)
double coverageFactor95(double degrees);

// Y, Te, F and NF of a receiving system (systemNoise), readings ON and OFF.
struct SystemUncertainty
{
    Uncertain yDb; // the Y factor in dB (statistical only)
    Uncertain te;
    Uncertain f;
    Uncertain nf;
};
SystemUncertainty systemNoiseUncertainty(double pOn, double pOff, ReadingError on, ReadingError off,
                                         double enrDb, double t0, double tsOff,
                                         const StatedUncertainty &stated,
    const DriftTerm &drift = {});

// The DUT ahead of the receiver (deviceNoise): readings by number as in
// computeDeviceResults, 0 system ON, 1 OFF, 2 DUT ON, 3 OFF.
struct DeviceUncertainty
{
    Uncertain ySystemDb;
    Uncertain yDutDb;
    Uncertain te; // the DUT's own, the receiver's contribution removed
    Uncertain f;
    Uncertain nf;
    Uncertain gainDb;
};
DeviceUncertainty deviceNoiseUncertainty(const std::array<double, kDeviceReadingCount> &power,
                                         const std::array<ReadingError, kDeviceReadingCount> &error,
                                         double enrDb, double t0, double tsOff,
                                         const StatedUncertainty &stated,
    const DriftTerm &drift = {});

// What the Measure Device page shows, in its two modes (computeDeviceResults): the system's
// Te, F, NF from readings 0 and 1 in system mode, else the DUT's and its gain. `complete` as
// in DeviceResults; nothing is evaluated without it.
struct DeviceResultsUncertainty
{
    bool complete = false;
    bool systemMode = false;
    Uncertain te;
    Uncertain f;
    Uncertain nf;
    Uncertain gainDb; // device mode only
};
DeviceResultsUncertainty
computeDeviceUncertainty(const std::array<double, kDeviceReadingCount> &power,
                         const std::array<ReadingError, kDeviceReadingCount> &error,
                         const std::array<bool, kDeviceReadingCount> &present, bool systemMode,
                         double enrDb, double t0, double tsOff, const StatedUncertainty &stated,
    const DriftTerm &drift = {});

// ENR of an uncalibrated source (calcCalibrate): the reference pair and the unknown pair as
// linear powers. The stated ENR uncertainty is the reference's; the stated off-temperature
// uncertainty applies to each source's off temperature, independently.
Uncertain unknownSourceEnrUncertainty(double referenceOn, double referenceOff, double unknownOn,
                                      double unknownOff, ReadingError referenceOnError,
                                      ReadingError referenceOffError, ReadingError unknownOnError,
                                      ReadingError unknownOffError, double referenceEnrDb,
                                      double tsOffReference, double tsOffUnknown, double t0,
                                      const StatedUncertainty &stated,
    const DriftTerm &drift = {});

// "± 0.052 dB (95%)": a 95% half-width with two significant digits (no fewer than the
// integer part's: 123 stays "123"), then " " and the unit unless it is empty, then
// " (95%)". Empty for a half-width that is negative or not finite.
std::string halfWidthText(double halfWidth, std::string_view unit);

} // namespace quillon
