#include "nf/YFactorMath.h"

#include <cmath>

namespace quillon::YFactorMath {

double PowerRatioFromDb(double levelDb)
{
    const double exponent = levelDb * 0.1;
    return std::pow(10.0, exponent);
}

double YFactorFromDb(double onDb, double offDb)
{
    return PowerRatioFromDb(onDb) / PowerRatioFromDb(offDb);
}

double HotTemperature(double enrDb, double t0, double tsOff)
{
    return PowerRatioFromDb(enrDb) * t0 + tsOff;
}

double NoiseTemperature(double y, double tHot, double tsOff)
{
    return (tHot - y * tsOff) / (y - 1.0);
}

double DeviceGain(double pDutOn, double pDutOff, double pSystemOn, double pSystemOff)
{
    return (pDutOn - pDutOff) / (pSystemOn - pSystemOff);
}

double SecondStageCorrected(double teChain, double teReceiver, double gain)
{
    return teChain - teReceiver / gain;
}

double NoiseFactorFromTemperature(double te, double t0)
{
    return te / t0 + 1.0;
}

double NoiseFigureFromFactor(double f)
{
    return 10.0 * std::log10(f);
}

double NoiseFactorFromFigure(double nfDb)
{
    return PowerRatioFromDb(nfDb);
}

double TemperatureFromNoiseFactor(double f, double t0)
{
    return (f - 1.0) * t0;
}

double GainDb(double gain)
{
    return 10.0 * std::log10(gain);
}

double UnknownSourceEnrDb(double referenceEnrDb, double yReference, double yUnknown,
                          double tsOffReference, double tsOffUnknown, double t0)
{
    const double referenceTerm = PowerRatioFromDb(referenceEnrDb) / (yReference - 1.0);
    const double offTerm = (tsOffUnknown - tsOffReference) / t0;
    return 10.0 * std::log10((referenceTerm - offTerm) * (yUnknown - 1.0));
}

double NoiseFloorDbm(double nfDb, double t0, double bandwidthKHz)
{
    // Kept as two subtracted negative terms: this is the order the published floors
    // were computed in, and it must not be simplified to a sum.
    const double thermalTerm = -10.0 * std::log10((t0 * bandwidthKHz) * kBoltzmannPerKHz);
    return nfDb - thermalTerm - (-30.0);
}

// Written as "x >= low && x <= high" so that a NaN fails.
bool TemperatureInRange(double te)
{
    return te >= 0.0 && te <= 300000.0;
}

bool EnrInRange(double enrDb)
{
    return enrDb >= 0.0 && enrDb <= 50.0;
}

bool GainInRange(double gainDb)
{
    return gainDb >= -50.0 && gainDb <= 50.0;
}

bool ReadingInRange(double powerLinear)
{
    return powerLinear >= 1e-12;
}

} // namespace quillon::YFactorMath
