#include "nf/YFactorMath.h"

#include <cmath>

namespace quillon::YFactorMath {

double powerRatioFromDb(double levelDb)
{
    const double exponent = levelDb * 0.1;
    return std::pow(10.0, exponent);
}

double yFactorFromDb(double onDb, double offDb)
{
    return powerRatioFromDb(onDb) / powerRatioFromDb(offDb);
}

double hotTemperature(double enrDb, double t0, double tsOff)
{
    return powerRatioFromDb(enrDb) * t0 + tsOff;
}

double noiseTemperature(double y, double tHot, double tsOff)
{
    return (tHot - y * tsOff) / (y - 1.0);
}

double deviceGain(double pDutOn, double pDutOff, double pSystemOn, double pSystemOff)
{
    return (pDutOn - pDutOff) / (pSystemOn - pSystemOff);
}

double secondStageCorrected(double teChain, double teReceiver, double gain)
{
    return teChain - teReceiver / gain;
}

double noiseFactorFromTemperature(double te, double t0)
{
    return te / t0 + 1.0;
}

double noiseFigureFromFactor(double f)
{
    return 10.0 * std::log10(f);
}

double noiseFactorFromFigure(double nfDb)
{
    return powerRatioFromDb(nfDb);
}

double temperatureFromNoiseFactor(double f, double t0)
{
    return (f - 1.0) * t0;
}

double gainDb(double gain)
{
    return 10.0 * std::log10(gain);
}

double unknownSourceEnrDb(double referenceEnrDb, double yReference, double yUnknown,
                          double tsOffReference, double tsOffUnknown, double t0)
{
    // A source of excess noise ratio ENR is at Thot = ENR * T0 + TSoff when on and at TSoff
    // when off; a receiver of noise temperature Te then sees Y = (Thot + Te) / (TSoff + Te),
    // so Y - 1 = ENR * T0 / (TSoff + Te).
    // Reference source:  (TSoff_ref + Te) / T0 = ENR_ref / (Y_ref - 1).
    // Unknown source:    ENR_unk = (Y_unk - 1) * (TSoff_unk + Te) / T0
    //                            = (Y_unk - 1) * (ENR_ref / (Y_ref - 1) + (TSoff_unk - TSoff_ref) / T0).
    // The off-temperature term is added: the receiver's noise plus a warmer off source.
    const double referenceTerm = powerRatioFromDb(referenceEnrDb) / (yReference - 1.0);
    const double offTerm = (tsOffUnknown - tsOffReference) / t0;
    return 10.0 * std::log10((referenceTerm + offTerm) * (yUnknown - 1.0));
}

double noiseFloorDbm(double nfDb, double t0, double bandwidthKHz)
{
    // Kept as two subtracted negative terms: this is the order the published floors
    // were computed in, and it must not be simplified to a sum.
    const double thermalTerm = -10.0 * std::log10((t0 * bandwidthKHz) * kBoltzmannPerKHz);
    return nfDb - thermalTerm - (-30.0);
}

// Written as "x >= low && x <= high" so that a NaN fails.
bool temperatureInRange(double te)
{
    return te >= 0.0 && te <= 300000.0;
}

bool enrInRange(double enrDb)
{
    return enrDb >= 0.0 && enrDb <= 50.0;
}

bool gainInRange(double gainDb)
{
    return gainDb >= -50.0 && gainDb <= 50.0;
}

bool readingInRange(double powerLinear)
{
    return powerLinear >= 1e-12;
}

} // namespace quillon::YFactorMath
