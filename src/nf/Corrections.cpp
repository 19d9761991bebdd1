#include "nf/Corrections.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "nf/EnrTable.h"
#include "nf/YFactorMath.h"

#include <cmath>

namespace quillon {

namespace yf = YFactorMath;

namespace {

using Powers = std::array<double, kDeviceReadingCount>;

// Te (K) and linear gain of the corrected chain (derivation in the header). `enrShiftDb`
// moves every ENR looked up together (the stated ENR uncertainty is a calibration offset
// common to all of them); `lossShiftDb` moves each loss.
struct Corrected
{
    double te = 0.0;
    double gain = 0.0;
};
Corrected evaluate(const Powers &p, bool systemMode, double enrDb, double t0, double tsOff,
                   const ChainCorrections &c, double enrShiftDb = 0.0,
                   const std::array<double, kLossPlaceCount> &lossShiftDb = {})
{
    auto ratio = [&](LossPlace place) {
        const AppliedLoss &l = c.at(place);
        return l.active ? yf::powerRatioFromDb(l.db + lossShiftDb[static_cast<std::size_t>(place)])
                        : 1.0;
    };
    const double lIn = ratio(LossPlace::Input), lOut = ratio(LossPlace::Output);
    const double lCal = ratio(LossPlace::Calibration);
    const double tIn = c.at(LossPlace::Input).temperatureK;
    const double tOut = c.at(LossPlace::Output).temperatureK;
    const double tCal = c.at(LossPlace::Calibration).temperatureK;

    const double enrOutDb = enrDb + enrShiftDb;
    const double teCal =
        yf::noiseTemperature(p[0] / p[1], yf::hotTemperature(enrOutDb, t0, tsOff), tsOff);
    const double teRx = (teCal - (lCal - 1.0) * tCal) / lCal;
    if (systemMode)
        return {teRx, 0.0};

    const double r = imageResponse(c.converter);
    const double eOut = yf::powerRatioFromDb(enrOutDb);
    const double eSignal =
        c.converter.on ? yf::powerRatioFromDb(c.enrSignalDb + enrShiftDb) : eOut;
    const double eImage = c.converter.on ? yf::powerRatioFromDb(c.enrImageDb + enrShiftDb) : 0.0;
    const double eBoth = eSignal + r * eImage;

    const double yDut = p[2] / p[3];
    const double x = t0 * eBoth / (yDut - 1.0) - (1.0 + r) * tsOff;
    const double gainMeasured = yf::deviceGain(p[2], p[3], p[0], p[1]);
    const double gain = gainMeasured * lIn * lOut / lCal * eOut / eBoth;
    const double tBack = (lOut - 1.0) * tOut + lOut * teRx;
    const double te = (x - (1.0 + r) * (lIn - 1.0) * tIn) / lIn - tBack / gain + r * t0;
    return {te, gain};
}

// One result's uncertainty from its partial derivatives, combined as every other result's
// (combineUncertainty), with the losses' standard uncertainties among the stated parts.
// `stated` holds 95% half-widths (k = 2).
Uncertain combine(double value, const std::array<double, kDeviceReadingCount> &dLnPower,
                  const std::array<ReadingError, kDeviceReadingCount> &errors, double dEnr,
                  double dTsOff, const std::array<double, kLossPlaceCount> &dLoss,
                  const StatedUncertainty &stated, const ChainCorrections &c,
                  const DriftTerm &drift)
{
    const double enr = dEnr * stated.enrDb / 2.0;
    const double off = dTsOff * stated.offTemperatureK / 2.0;
    double systematic = enr * enr + off * off;
    for (std::size_t k = 0; k < dLoss.size(); ++k) {
        const double part = dLoss[k] * (c.loss[k].active ? c.loss[k].uncertaintyDb : 0.0);
        systematic += part * part;
    }
    return combineUncertainty(value, dLnPower, errors, systematic, drift);
}

} // namespace

const char *lossPlaceName(LossPlace place)
{
    switch (place) {
    case LossPlace::Input: return "input loss";
    case LossPlace::Output: return "output loss";
    case LossPlace::Calibration: return "calibration path loss";
    }
    return "";
}

ConverterFrequencies converterFrequencies(const ConverterPlan &plan, double outputMHz)
{
    if (!plan.on)
        return {outputMHz, outputMHz, outputMHz};
    const bool above = plan.sideband == Sideband::Upper ||
                       (plan.sideband == Sideband::Double && plan.doubleSignalAbove);
    const double upper = plan.loMHz + outputMHz, lower = plan.loMHz - outputMHz;
    return {above ? upper : lower, above ? lower : upper, outputMHz};
}

double imageResponse(const ConverterPlan &plan)
{
    if (!plan.on)
        return 0.0;
    if (plan.sideband == Sideband::Double)
        return 1.0;
    return yf::powerRatioFromDb(-plan.imageRejectionDb);
}

bool ChainCorrections::any() const
{
    if (converter.on)
        return true;
    for (const AppliedLoss &l : loss)
        if (l.active)
            return true;
    return false;
}

ChainCorrections appliedCorrections(const ChainCorrections &corrections, bool systemMode)
{
    if (!systemMode)
        return corrections;
    ChainCorrections c;
    c.at(LossPlace::Calibration) = corrections.at(LossPlace::Calibration);
    c.frequencies = corrections.frequencies;
    return c;
}

DeviceResults correctDeviceResults(const Powers &power,
                                   const std::array<bool, kDeviceReadingCount> &present,
                                   bool systemMode, double enrDb, double t0, double tsOff,
                                   const ChainCorrections &corrections)
{
    if (!corrections.any())
        return computeDeviceResults(power, present, systemMode, enrDb, t0, tsOff);
    DeviceResults r;
    r.systemMode = systemMode;
    r.complete = present[0] && present[1] && (systemMode || (present[2] && present[3]));
    if (!r.complete)
        return r;
    const Corrected c = evaluate(power, systemMode, enrDb, t0, tsOff, corrections);
    r.noise = noiseFromTemperature(c.te, t0);
    if (systemMode)
        return r;
    r.gain = c.gain;
    r.gainDb = yf::gainDb(c.gain);
    r.gainValid = yf::gainInRange(r.gainDb);
    return r;
}

DeviceResultsUncertainty
correctedDeviceUncertainty(const Powers &power,
                           const std::array<ReadingError, kDeviceReadingCount> &error,
                           const std::array<bool, kDeviceReadingCount> &present, bool systemMode,
                           double enrDb, double t0, double tsOff, const StatedUncertainty &stated,
                           const ChainCorrections &corrections, const DriftTerm &drift)
{
    if (!corrections.any())
        return computeDeviceUncertainty(power, error, present, systemMode, enrDb, t0, tsOff,
                                        stated, drift);
    DeviceResultsUncertainty r;
    r.systemMode = systemMode;
    r.complete = present[0] && present[1] && (systemMode || (present[2] && present[3]));
    if (!r.complete)
        return r;

    // Central differences of Te and ln G. The steps are small against every input's own
    // uncertainty and large against rounding: the results are smooth in all of them.
    constexpr double hLn = 1e-6, hDb = 1e-6, hK = 1e-4;
    const Corrected base = evaluate(power, systemMode, enrDb, t0, tsOff, corrections);
    struct Partial
    {
        double te = 0.0, lnGain = 0.0;
    };
    auto difference = [&](const Corrected &up, const Corrected &down, double step) {
        Partial d;
        d.te = (up.te - down.te) / (2.0 * step);
        if (!systemMode)
            d.lnGain = (std::log(up.gain) - std::log(down.gain)) / (2.0 * step);
        return d;
    };
    std::array<Partial, kDeviceReadingCount> dPower{};
    const std::size_t readings = systemMode ? 2 : kDeviceReadingCount;
    for (std::size_t i = 0; i < readings; ++i) {
        Powers up = power, down = power;
        up[i] *= std::exp(hLn);
        down[i] *= std::exp(-hLn);
        dPower[i] = difference(evaluate(up, systemMode, enrDb, t0, tsOff, corrections),
                               evaluate(down, systemMode, enrDb, t0, tsOff, corrections), hLn);
    }
    const Partial dEnr =
        difference(evaluate(power, systemMode, enrDb, t0, tsOff, corrections, hDb),
                   evaluate(power, systemMode, enrDb, t0, tsOff, corrections, -hDb), hDb);
    const Partial dTsOff =
        difference(evaluate(power, systemMode, enrDb, t0, tsOff + hK, corrections),
                   evaluate(power, systemMode, enrDb, t0, tsOff - hK, corrections), hK);
    std::array<Partial, kLossPlaceCount> dLoss{};
    for (std::size_t k = 0; k < kLossPlaceCount; ++k) {
        std::array<double, kLossPlaceCount> up{}, down{};
        up[k] = hDb;
        down[k] = -hDb;
        dLoss[k] = difference(evaluate(power, systemMode, enrDb, t0, tsOff, corrections, 0.0, up),
                              evaluate(power, systemMode, enrDb, t0, tsOff, corrections, 0.0, down),
                              hDb);
    }

    // Te, F = Te / T0 + 1, NF = 10 log10 F, gain in dB = 10 log10 G: each a scale of Te's or
    // ln G's partials.
    constexpr double kDbPerNeper = 4.342944819032518; // 10 / ln 10
    const double factor = yf::noiseFactorFromTemperature(base.te, t0);
    auto of = [&](double value, double scale, bool gain) {
        std::array<double, kDeviceReadingCount> dp{};
        for (std::size_t i = 0; i < dp.size(); ++i)
            dp[i] = scale * (gain ? dPower[i].lnGain : dPower[i].te);
        std::array<double, kLossPlaceCount> dl{};
        for (std::size_t k = 0; k < dl.size(); ++k)
            dl[k] = scale * (gain ? dLoss[k].lnGain : dLoss[k].te);
        return combine(value, dp, error, scale * (gain ? dEnr.lnGain : dEnr.te),
                       scale * (gain ? dTsOff.lnGain : dTsOff.te), dl, stated, corrections,
                       drift);
    };
    r.te = of(base.te, 1.0, false);
    r.f = of(factor, 1.0 / t0, false);
    r.nf = of(yf::noiseFigureFromFactor(factor), kDbPerNeper / (factor * t0), false);
    if (!systemMode)
        r.gainDb = of(yf::gainDb(base.gain), kDbPerNeper, true);
    return r;
}

int checkLoss(const AppliedLoss &loss)
{
    if (!loss.active)
        return kMsgNone;
    if (!(loss.db >= 0.0) || !std::isfinite(loss.db))
        return kMsgLossNegative;
    if (!(loss.temperatureK > 0.0) || !std::isfinite(loss.temperatureK))
        return kMsgLossTemperature;
    return kMsgNone;
}

int checkConverter(const ConverterPlan &plan, double outputMHz)
{
    if (!plan.on)
        return kMsgNone;
    if (plan.sideband != Sideband::Double &&
        (!(plan.imageRejectionDb >= 0.0) || !std::isfinite(plan.imageRejectionDb)))
        return kMsgImageRejection;
    const ConverterFrequencies f = converterFrequencies(plan, outputMHz);
    if (!(f.inputMHz > 0.0) || !(f.imageMHz > 0.0) || !std::isfinite(f.inputMHz) ||
        !std::isfinite(f.imageMHz))
        return kMsgConverterFrequency;
    return kMsgNone;
}

LossLookup lookUpLoss(const EnrTable &table, double frequencyMHz)
{
    LossLookup l;
    if (table.count <= 0 || !(frequencyMHz >= table.rows[0].frequencyMHz) ||
        !(frequencyMHz <= table.rows[static_cast<std::size_t>(table.count - 1)].frequencyMHz)) {
        l.messageId = kMsgLossTableCoverage;
        return l;
    }
    l.db = enrForEntry(frequencyMHz, true, table);
    const double u = enrUncertaintyForEntry(frequencyMHz, true, table);
    l.uncertaintyDb = std::isfinite(u) ? u : 0.0;
    return l;
}

std::string correctedForText(const ChainCorrections &c)
{
    if (!c.any())
        return {};
    std::string text = "corrected for: ";
    bool first = true;
    auto add = [&](const std::string &part) {
        if (!first)
            text += ", ";
        text += part;
        first = false;
    };
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const auto place = static_cast<LossPlace>(k);
        const AppliedLoss &l = c.at(place);
        if (l.active)
            add(std::string(lossPlaceName(place)) + " " + formatFixed(l.db, 2) + " dB at " +
                formatFixed(l.temperatureK, 0) + " K");
    }
    if (c.converter.on) {
        // Without an LO (the Calculator's typed readings) the frequencies play no part.
        const std::string where =
            c.converter.loMHz > 0.0 ? " (input " + formatFixed(c.frequencies.inputMHz, 3) +
                                          " MHz, LO " + formatFixed(c.converter.loMHz, 3) + " MHz)"
                                    : std::string();
        if (c.converter.sideband == Sideband::Double)
            add("double sideband converter" + where);
        else
            add("single sideband converter, image rejected by " +
                formatFixed(c.converter.imageRejectionDb, 1) + " dB" + where);
    }
    return text;
}

} // namespace quillon
