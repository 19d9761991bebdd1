#pragma once

#include "nf/NoiseResults.h"
#include "nf/Uncertainty.h"

#include <array>
#include <limits>
#include <string>

namespace quillon {

struct EnrTable;

// The correction chain around the DUT: a lossy path between the noise source and the DUT
// (input loss), one between the DUT and the receiver (output loss), the calibration path's
// own loss (the path the readings with the DUT out of circuit go through), and a DUT that
// converts its input frequency to another output frequency, with or without an image band.
// Pure functions of numbers; the settings, tables and messages around them live in
// measure/CorrectionSettings.
//
// Each loss is a matched attenuator of loss L (linear, >= 1) at its physical temperature
// T_phys: gain 1/L and noise temperature referred to its input (L - 1) T_phys. The chain
// in the DUT-in path is
//
//     source -> L_in (T_in) -> DUT (G, Te) -> L_out (T_out) -> receiver (Te_rx)
//
// and in the calibration path source -> L_cal (T_cal) -> receiver. By Friis:
//
//     Te_cal   = (L_cal - 1) T_cal + L_cal Te_rx                 (measured by readings 0, 1)
//     Te_chain = (L_in - 1) T_in + L_in Te + L_in T_back / G     (measured by readings 2, 3)
//     T_back   = (L_out - 1) T_out + L_out Te_rx                 (L_out and the receiver)
//
// so Te_rx = (Te_cal - (L_cal - 1) T_cal) / L_cal and Te = (Te_chain - (L_in - 1) T_in) /
// L_in - T_back / G. The measured gain is the ratio of the two paths' ON - OFF differences,
// G_m = G L_cal / (L_in L_out), so G = G_m L_in L_out / L_cal.
//
// A converter whose image band (gain r G, r linear: 1 for a double-sideband mixer,
// 10^(-R/10) for one that rejects its image by R dB) also reaches the output sees the noise
// source in both bands, at the ENRs E_s (signal) and E_i (image). With the output noise
// referred to the signal band's gain, the DUT pair's Y factor gives
//
//     X = T0 (E_s + r E_i) / (Y - 1) - (1 + r) T_off
//       = (1 + r) (L_in - 1) T_in + L_in N / G + L_in T_back / G
//
// where N is the converter's own output noise. Its single-sideband noise temperature (the
// image band's termination at T0 counts as noise, as the usual definition has it) is
// Te = N / G + r T0, so
//
//     Te = (X - (1 + r) (L_in - 1) T_in) / L_in - T_back / G + r T0,
//     G  = G_m L_in L_out / L_cal * E_out / (E_s + r E_i)
//
// with E_out the ENR at the receiver's frequency (the calibration path). For r = 0 and
// one ENR this is the loss chain above; for r = 1, no losses and a flat ENR the noise
// factor comes out exactly twice the uncorrected one: 3.01 dB.

// Where a loss sits.
enum class LossPlace
{
    Input,      // between the noise source and the DUT
    Output,     // between the DUT and the receiver
    Calibration // in the calibration path, DUT out of circuit
};
inline constexpr int kLossPlaceCount = 3;

// The entry's name in messages and the "corrected for" line: "input loss", "output loss",
// "calibration path loss".
const char *lossPlaceName(LossPlace place);

// One loss as it applies at the frequency in use.
struct AppliedLoss
{
    bool active = false;         // entered; an inactive loss is 0 dB
    double db = 0.0;             // >= 0
    double temperatureK = 290.0; // physical temperature, > 0
    double uncertaintyDb = 0.0;  // standard uncertainty of db (k = 1), 0 = exactly known
};

// What a converter's image band does.
enum class Sideband
{
    Upper, // the input above the LO, image rejected (by imageRejectionDb)
    Lower, // the input below the LO, image rejected
    Double // both bands converted with equal gain
};

// The converter as entered. Frequencies in MHz.
struct ConverterPlan
{
    bool on = false;
    double loMHz = 0.0;
    Sideband sideband = Sideband::Upper;
    double imageRejectionDb = 100.0; // single sideband: image band gain R dB below the signal's
    // Double sideband: the signal band is the input above the LO when true (the ENR and
    // the input loss are looked up there), else below.
    bool doubleSignalAbove = true;
};

// The three frequencies of a converter receiving at outputMHz: the signal input
// (LO + out above the LO, LO - out below), its image (the other one) and the output.
// Without a converter all three are outputMHz.
struct ConverterFrequencies
{
    double inputMHz = 0.0;
    double imageMHz = 0.0;
    double outputMHz = 0.0;
};
ConverterFrequencies converterFrequencies(const ConverterPlan &plan, double outputMHz);

// The image band's gain relative to the signal band's, linear: 0 without a converter, 1
// double sideband, 10^(-R/10) single sideband with R dB of rejection.
double imageResponse(const ConverterPlan &plan);

// Everything the corrections need at one frequency.
struct ChainCorrections
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    std::array<AppliedLoss, kLossPlaceCount> loss{}; // by LossPlace
    ConverterPlan converter;
    ConverterFrequencies frequencies;
    // ENR (dB) at the converter's signal input and image frequency; the series' ENR is the
    // one at the receiver's frequency. Used with a converter only.
    double enrSignalDb = kNaN;
    double enrImageDb = kNaN;

    const AppliedLoss &at(LossPlace p) const { return loss[static_cast<std::size_t>(p)]; }
    AppliedLoss &at(LossPlace p) { return loss[static_cast<std::size_t>(p)]; }
    // Whether anything is corrected for; with nothing the results are the uncorrected ones,
    // bit for bit.
    bool any() const;
};

// The results of Measure Device with the corrections applied (DeviceResults as
// computeDeviceResults gives them: the DUT's Te, F, NF and gain, or in system mode the
// receiver's behind the calibration path). The one function every caller uses: the series
// (pages, CLI, sweep) and the live meter with its calibration's powers as readings 0 and 1
// and a group's ON and OFF powers as 2 and 3. `enrDb` is the ENR at the receiver's
// frequency.
DeviceResults correctDeviceResults(const std::array<double, kDeviceReadingCount> &power,
                                   const std::array<bool, kDeviceReadingCount> &present,
                                   bool systemMode, double enrDb, double t0, double tsOff,
                                   const ChainCorrections &corrections);

// The part of `corrections` a series applies: in system mode (readings 0 and 1 alone, no
// DUT) only the calibration path's loss, else all of it.
ChainCorrections appliedCorrections(const ChainCorrections &corrections, bool systemMode);

// Their uncertainty: the readings' noise, the stated ENR (a common offset of every ENR
// looked up) and off-temperature uncertainties, and each loss's standard uncertainty, by
// central differences of correctDeviceResults. Without corrections: computeDeviceUncertainty.
DeviceResultsUncertainty
correctedDeviceUncertainty(const std::array<double, kDeviceReadingCount> &power,
                           const std::array<ReadingError, kDeviceReadingCount> &error,
                           const std::array<bool, kDeviceReadingCount> &present, bool systemMode,
                           double enrDb, double t0, double tsOff, const StatedUncertainty &stated,
                           const ChainCorrections &corrections, const DriftTerm &drift = {});

// What is wrong with an entry, or kMsgNone: a loss below 0 dB (kMsgLossNegative) or not a
// number, a temperature at or below 0 K (kMsgLossTemperature), an image rejection below
// 0 dB (kMsgImageRejection), a converter whose signal or image frequency is not above 0 MHz
// (kMsgConverterFrequency).
int checkLoss(const AppliedLoss &loss);
int checkConverter(const ConverterPlan &plan, double outputMHz);

// A loss table (the ENR file's format: MHz, loss dB, optional standard uncertainty in dB)
// read at `frequencyMHz`: interpolated as the ENR is; kMsgLossTableCoverage outside its
// first to last row (no result is extrapolated), kMsgLossNegative for a negative loss.
struct LossLookup
{
    int messageId = 0;
    double db = 0.0;
    double uncertaintyDb = 0.0;
};
LossLookup lookUpLoss(const EnrTable &table, double frequencyMHz);

// "corrected for: input loss 0.30 dB at 295 K, output loss 1.00 dB at 290 K, double sideband
// converter (input 1296.000 MHz, LO 1152.000 MHz)"; "" when nothing is corrected for.
std::string correctedForText(const ChainCorrections &corrections);

} // namespace quillon
