#pragma once

#include <array>

namespace quillon {

// The evaluations that the Calculator page and the Measure Device page make with the
// Y-factor formulas, as plain functions: numbers in, numbers and their validity out. A
// window page and quillon-cli both show the results through ResultText, so a number that
// fails its test shows " Error" in both.
//
// Units as in YFactorMath: readings in dB, powers linear (full-scale units), temperatures
// in kelvin, ENR and noise figure in dB, noise factor and gain linear unless named ...Db,
// bandwidth in kHz, noise floor in dBm.

// Noise temperature, factor and figure of one evaluation. All three are shown, or all three
// show " Error", by temperatureInRange(te); F and NF have no range of their own but must be
// numbers (a T0 of 0 gives an infinite F).
struct NoiseResult
{
    double te = 0.0; // K
    double f = 1.0;  // linear
    double nf = 0.0; // dB
    bool valid = true;
};

// "Simple Calculator": the other two quantities from the one typed, at reference
// temperature t0.
NoiseResult noiseFromTemperature(double te, double t0);
NoiseResult noiseFromFactor(double f, double t0);
NoiseResult noiseFromFigure(double nfDb, double t0);

// Te, F, NF of a receiving system from its noise-source ON and OFF powers (linear).
NoiseResult systemNoise(double pOn, double pOff, double enrDb, double t0, double tsOff);

// The DUT measured ahead of the receiver: the receiver pair (system ON, OFF) and the DUT
// pair (DUT ON, OFF), all linear powers. `noise` is the DUT's own Te, F and NF with the
// receiver's contribution removed.
struct DeviceNoise
{
    NoiseResult noise;
    double teReceiver = 0.0; // K, the receiver alone
    double teChain = 0.0;    // K, DUT and receiver together
    double gain = 0.0;       // linear
    double gainDb = 0.0;
    bool gainInRange = false; // gainInRange(gainDb): -50..50 dB, NaN fails
};
DeviceNoise deviceNoise(double pSystemOn, double pSystemOff, double pDutOn, double pDutOff,
                        double enrDb, double t0, double tsOff);

// Calculator, "Y Factor System": two readings in dB.
NoiseResult calcSystem(double onDb, double offDb, double enrDb, double t0, double tsOff);

// Calculator, "Y Factor Device": four readings in dB. The gain is shown by the Te test, as
// the page has always done; a gain that is not a finite number (a negative ratio of the
// ON-OFF differences) fails as well, rather than printing "nan".
struct CalcDeviceResult
{
    NoiseResult noise;
    double gainDb = 0.0;
    bool gainValid = false;
};
CalcDeviceResult calcDevice(double systemOnDb, double systemOffDb, double dutOnDb, double dutOffDb,
                            double enrDb, double t0, double tsOff);

// ENR (dB) of an uncalibrated source, and whether it may be shown (enrInRange: 0..50 dB).
struct EnrResult
{
    double enrDb = 0.0;
    bool valid = false;
};

// Calculator, "Calibrate Noise Source": reference pair and unknown pair in dB; `enrDb` is
// the reference's ENR in effect; `t0` is the Measure Device page's T0, not the
// calculator's own field.
EnrResult calcCalibrate(double referenceOnDb, double referenceOffDb, double unknownOnDb,
                        double unknownOffDb, double enrDb, double tsOffReference,
                        double tsOffUnknown, double t0);

// Receiver noise floor (dBm) for the NF now held, shown by the Te test of `noise` when it is
// a number (a bandwidth or T0 of 0 or below gives none).
struct NoiseFloorResult
{
    double dbm = 0.0;
    bool valid = false;
};
NoiseFloorResult noiseFloor(const NoiseResult &noise, double t0, double bandwidthKHz);

// Readings of the Measure Device page, by reading number: 0 noise source ON and 1 OFF with
// the DUT out of circuit (the receiver, or the whole system), 2 ON and 3 OFF with the DUT in
// circuit.
inline constexpr int kDeviceReadingCount = 4;

// computeDeviceResults of the Measure Device page. `complete` is false when a reading the
// mode needs is missing (0 and 1; 2 and 3 too unless `systemMode`): nothing is evaluated
// and the page keeps what it showed. In system mode the gain is not measured.
struct DeviceResults
{
    bool complete = false;
    bool systemMode = false;
    NoiseResult noise; // the DUT's, or the system's in system mode
    double gain = 0.0; // linear; device mode only
    double gainDb = 0.0;
    bool gainValid = false; // gainInRange(gainDb)
};
DeviceResults computeDeviceResults(const std::array<double, kDeviceReadingCount> &power,
                                   const std::array<bool, kDeviceReadingCount> &present,
                                   bool systemMode, double enrDb, double t0, double tsOff);

// Readings of the Calibrate Noise Source page, by reading number: 0 reference source ON and
// 1 OFF, 2 unknown source ON and 3 OFF; linear powers.
// The unknown source's ENR once all four are present (`complete`); otherwise nothing is
// evaluated and the page keeps what it showed. `enrDb` is the reference's ENR in effect.
struct CalibrationResults
{
    bool complete = false;
    EnrResult enr;
};
CalibrationResults computeCalibrationResults(const std::array<double, kDeviceReadingCount> &power,
                                             const std::array<bool, kDeviceReadingCount> &present,
                                             double enrDb, double tsOffReference,
                                             double tsOffUnknown, double t0);

} // namespace quillon
