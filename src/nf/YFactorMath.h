#pragma once

namespace quillon::YFactorMath {

// The Y-factor noise-figure formulas. Pure functions of doubles: no state, no I/O, no
// error reporting. Arithmetic is IEEE double with every exception masked, so a Y of
// exactly 1, a zero gain denominator or the logarithm of zero or a negative number gives
// an infinity or a NaN; the caller shows a result only when it passes its validity test
// (temperatureInRange and its kin), and every comparison with a NaN fails.
//
// Each formula is evaluated exactly in the order written in its body: results are
// compared with stored and published numbers to the last displayed digit, so no term may
// be rearranged or folded.
//
// Units: readings and levels in dB (any common reference, only differences matter),
// linear powers in full-scale units, temperatures in kelvin, ENR and noise figure in dB,
// noise factor and gain as linear ratios, bandwidth in kHz, noise floor in dBm.

// Boltzmann's constant in J/K times 1000 Hz per kHz, as the double that this product
// gives in double arithmetic (1.3806619999999998e-20, bit pattern 0x3BD04CCB7B487E07).
// The noise floor takes the bandwidth in kHz, hence the factor.
inline constexpr double kBoltzmannPerKHz = 1.380662e-23 * 1000.0;

// Linear power ratio of a level in dB: pow(10, levelDb * 0.1). The factor is applied
// before the power is taken (not levelDb / 10). Also turns an ENR or a noise figure
// into a linear ratio.
double powerRatioFromDb(double levelDb);

// Y factor of two readings in dB: the quotient of their linear powers,
// powerRatioFromDb(onDb) / powerRatioFromDb(offDb), never pow(10, 0.1 * (on - off)).
// For measured linear powers the Y factor is simply pOn / pOff.
double yFactorFromDb(double onDb, double offDb);

// Noise temperature (K) of the noise source when on: the excess noise on top of the
// source's own off temperature, powerRatioFromDb(enrDb) * t0 + tsOff.
double hotTemperature(double enrDb, double t0, double tsOff);

// Effective input noise temperature Te (K) from a linear Y factor:
// (tHot - y * tsOff) / (y - 1). Y = 1 gives an infinity or NaN, Y < 1 a negative Te.
double noiseTemperature(double y, double tHot, double tsOff);

// Linear gain of the device under test from four linear powers: the ratio of the ON-OFF
// differences, (pDutOn - pDutOff) / (pSystemOn - pSystemOff).
double deviceGain(double pDutOn, double pDutOff, double pSystemOn, double pSystemOff);

// Noise temperature (K) of the device under test alone, the receiver's contribution
// removed: teChain - teReceiver / gain (gain linear).
double secondStageCorrected(double teChain, double teReceiver, double gain);

// Noise factor (linear) of a noise temperature: te / t0 + 1.
double noiseFactorFromTemperature(double te, double t0);

// Noise figure (dB) of a noise factor: 10 * log10(f).
double noiseFigureFromFactor(double f);

// Noise factor (linear) of a noise figure in dB: pow(10, nfDb * 0.1).
double noiseFactorFromFigure(double nfDb);

// Noise temperature (K) of a noise factor: (f - 1) * t0.
double temperatureFromNoiseFactor(double f, double t0);

// Gain in dB of a linear gain: 10 * log10(gain).
double gainDb(double gain);

// ENR (dB) of an uncalibrated noise source measured against a calibrated reference:
// 10 * log10((powerRatioFromDb(referenceEnrDb) / (yReference - 1)
//             + (tsOffUnknown - tsOffReference) / t0) * (yUnknown - 1)).
// Both Y factors are linear; the off-temperature difference is unknown minus reference, and
// a warmer unknown source has the higher ENR for the same Y (derivation in the .cpp).
double unknownSourceEnrDb(double referenceEnrDb, double yReference, double yUnknown,
                          double tsOffReference, double tsOffUnknown, double t0);

// Receiver noise floor in dBm for a noise figure (dB), T0 (K) and noise bandwidth (kHz):
// nfDb - (-10 * log10((t0 * bandwidthKHz) * kBoltzmannPerKHz)) - (-30), that is the
// thermal noise power k T0 B in dBW, plus 30 for dBm, plus the noise figure.
double noiseFloorDbm(double nfDb, double t0, double bandwidthKHz);

// Validity tests: true when the result may be shown. NaN fails every test.
bool temperatureInRange(double te);      // 0 <= te <= 300000 K
bool enrInRange(double enrDb);           // 0 <= enrDb <= 50 dB
bool gainInRange(double gainDb);         // -50 <= gainDb <= 50 dB
bool readingInRange(double powerLinear); // powerLinear >= 1e-12 (full-scale units)

} // namespace quillon::YFactorMath
