#include "nf/NoiseResults.h"

#include "nf/YFactorMath.h"

#include <cmath>

namespace quillon {

namespace yf = YFactorMath;

namespace {

EnrResult unknownEnr(double yReference, double yUnknown, double enrDb, double tsOffReference,
                     double tsOffUnknown, double t0)
{
    EnrResult r;
    r.enrDb =
        yf::unknownSourceEnrDb(enrDb, yReference, yUnknown, tsOffReference, tsOffUnknown, t0);
    r.valid = yf::enrInRange(r.enrDb);
    return r;
}

// The Te test, and F and NF must be numbers: a T0 of 0 (a T0 field being retyped) makes
// F = Te / T0 + 1 infinite while Te passes.
bool shownTogether(const NoiseResult &r)
{
    return yf::temperatureInRange(r.te) && std::isfinite(r.f) && std::isfinite(r.nf);
}

NoiseResult fromTemperature(double te, double t0)
{
    NoiseResult r;
    r.te = te;
    r.f = yf::noiseFactorFromTemperature(te, t0);
    r.nf = yf::noiseFigureFromFactor(r.f);
    r.valid = shownTogether(r);
    return r;
}

} // namespace

NoiseResult noiseFromTemperature(double te, double t0)
{
    return fromTemperature(te, t0);
}

NoiseResult noiseFromFactor(double f, double t0)
{
    NoiseResult r;
    r.f = f;
    r.nf = yf::noiseFigureFromFactor(f);
    r.te = yf::temperatureFromNoiseFactor(f, t0);
    r.valid = shownTogether(r);
    return r;
}

NoiseResult noiseFromFigure(double nfDb, double t0)
{
    NoiseResult r;
    r.nf = nfDb;
    r.f = yf::noiseFactorFromFigure(nfDb);
    r.te = yf::temperatureFromNoiseFactor(r.f, t0);
    r.valid = shownTogether(r);
    return r;
}

NoiseResult systemNoise(double pOn, double pOff, double enrDb, double t0, double tsOff)
{
    const double tHot = yf::hotTemperature(enrDb, t0, tsOff);
    return fromTemperature(yf::noiseTemperature(pOn / pOff, tHot, tsOff), t0);
}

DeviceNoise deviceNoise(double pSystemOn, double pSystemOff, double pDutOn, double pDutOff,
                        double enrDb, double t0, double tsOff)
{
    DeviceNoise d;
    const double tHot = yf::hotTemperature(enrDb, t0, tsOff);
    d.teReceiver = yf::noiseTemperature(pSystemOn / pSystemOff, tHot, tsOff);
    d.gain = yf::deviceGain(pDutOn, pDutOff, pSystemOn, pSystemOff);
    d.gainDb = yf::gainDb(d.gain);
    d.gainInRange = yf::gainInRange(d.gainDb);
    d.teChain = yf::noiseTemperature(pDutOn / pDutOff, tHot, tsOff);
    d.noise = fromTemperature(yf::secondStageCorrected(d.teChain, d.teReceiver, d.gain), t0);
    return d;
}

NoiseResult calcSystem(double onDb, double offDb, double enrDb, double t0, double tsOff)
{
    return systemNoise(yf::powerRatioFromDb(onDb), yf::powerRatioFromDb(offDb), enrDb, t0, tsOff);
}

CalcDeviceResult calcDevice(double systemOnDb, double systemOffDb, double dutOnDb, double dutOffDb,
                            double enrDb, double t0, double tsOff)
{
    const DeviceNoise d = deviceNoise(
        yf::powerRatioFromDb(systemOnDb), yf::powerRatioFromDb(systemOffDb),
        yf::powerRatioFromDb(dutOnDb), yf::powerRatioFromDb(dutOffDb), enrDb, t0, tsOff);
    CalcDeviceResult r;
    r.noise = d.noise;
    r.gainDb = d.gainDb;
    r.gainValid = d.noise.valid && std::isfinite(d.gainDb);
    return r;
}

EnrResult calcCalibrate(double referenceOnDb, double referenceOffDb, double unknownOnDb,
                        double unknownOffDb, double enrDb, double tsOffReference,
                        double tsOffUnknown, double t0)
{
    return unknownEnr(yf::yFactorFromDb(referenceOnDb, referenceOffDb),
                      yf::yFactorFromDb(unknownOnDb, unknownOffDb), enrDb, tsOffReference,
                      tsOffUnknown, t0);
}

NoiseFloorResult noiseFloor(const NoiseResult &noise, double t0, double bandwidthKHz)
{
    const double dbm = yf::noiseFloorDbm(noise.nf, t0, bandwidthKHz);
    return {dbm, noise.valid && std::isfinite(dbm)};
}

DeviceResults computeDeviceResults(const std::array<double, kDeviceReadingCount> &power,
                                   const std::array<bool, kDeviceReadingCount> &present,
                                   bool systemMode, double enrDb, double t0, double tsOff)
{
    DeviceResults r;
    r.systemMode = systemMode;
    r.complete = present[0] && present[1] && (systemMode || (present[2] && present[3]));
    if (!r.complete)
        return r;
    if (systemMode) {
        r.noise = systemNoise(power[0], power[1], enrDb, t0, tsOff);
        return r;
    }
    const DeviceNoise d = deviceNoise(power[0], power[1], power[2], power[3], enrDb, t0, tsOff);
    r.noise = d.noise;
    r.gain = d.gain;
    r.gainDb = d.gainDb;
    r.gainValid = d.gainInRange;
    return r;
}

CalibrationResults computeCalibrationResults(const std::array<double, kDeviceReadingCount> &power,
                                             const std::array<bool, kDeviceReadingCount> &present,
                                             double enrDb, double tsOffReference,
                                             double tsOffUnknown, double t0)
{
    CalibrationResults r;
    r.complete = present[0] && present[1] && present[2] && present[3];
    if (r.complete)
        r.enr = unknownEnr(power[0] / power[1], power[2] / power[3], enrDb, tsOffReference,
                           tsOffUnknown, t0);
    return r;
}

} // namespace quillon
