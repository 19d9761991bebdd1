#pragma once

class QSettings;

namespace quillon {

// What sits around the bench's DUT: a lossy path between the noise source and the DUT, one
// between the DUT and the receiver, and one in the calibration path (DUT out of circuit),
// each a matched attenuator at its own physical temperature; and the DUT may be a frequency
// converter whose image band also reaches its output. Everything is off by default, and
// then the bench is exactly what it was without them. Stored with the bench's parameters in
// group "VirtualBench" under the key named beside each field.
enum class BenchSideband
{
    Upper, // "upper": the input above the LO; the image (below) rejected by ImageRejectionDb
    Lower, // "lower": the input below the LO; the image (above) rejected
    Double // "double": both bands converted with equal gain
};

struct BenchChain
{
    double inputLossDb = 0.0;                   // "InputLossDb": 0..30 dB
    double inputLossTemperatureK = 290.0;       // "InputLossTemperatureK": 1..10000 K
    double outputLossDb = 0.0;                  // "OutputLossDb"
    double outputLossTemperatureK = 290.0;      // "OutputLossTemperatureK"
    double calibrationLossDb = 0.0;             // "CalibrationLossDb"
    double calibrationLossTemperatureK = 290.0; // "CalibrationLossTemperatureK"
    // "ConverterOn": the receiver's frequency is the converter's output; its input is
    // "ConverterLoMHz" (0..30000) plus or minus it, by "ConverterSideband".
    bool converterOn = false;
    double converterLoMHz = 0.0;
    BenchSideband sideband = BenchSideband::Upper;
    double imageRejectionDb = 20.0; // "ImageRejectionDb": 0..200 dB, single sideband only

    bool any() const;
};

// Out-of-range or non-finite values fall back to their defaults.
BenchChain sanitized(const BenchChain &chain);

// The image band's gain over the signal band's (linear): 0 without a converter, 1 double
// sideband, 10^(-R/10) single sideband.
double benchImageResponse(const BenchChain &chain);

// The converter's signal input and image frequencies (MHz) for the receiver at outputMHz;
// both outputMHz without a converter. May be 0 or below for an LO below the output: the
// bench's curves hold there at their 0 MHz values.
struct BenchChainFrequencies
{
    double inputMHz = 0.0;
    double imageMHz = 0.0;
};
BenchChainFrequencies benchChainFrequencies(const BenchChain &chain, double outputMHz);

// The stored name of a sideband: "upper", "lower", "double".
const char *benchSidebandName(BenchSideband sideband);

// Read from and written to the group "VirtualBench" that `settings` is in.
void loadBenchChain(QSettings &settings, BenchChain &chain);
void saveBenchChain(QSettings &settings, const BenchChain &chain);

} // namespace quillon
