#pragma once

#include <memory>

namespace quillon {

// The receiver's audio passband read from an averaged spectrum row (dB re full scale).
struct Passband
{
    bool found = false;            // false for a row without power (or too few bins)
    int peakBin = 0;               // bin of the highest smoothed level
    double peakHz = 0.0;           // its frequency, Hz
    double peakDb = 0.0;           // the smoothed level there, dB: the passband's reference
    double lowEdgeHz = 0.0;        // -3 dB below the peak, Hz, interpolated between bins
    double highEdgeHz = 0.0;       // -3 dB above the peak, Hz
    bool lowEdgeFound = false;     // false: the level stays within 3 dB down to the first
                                   // bin analysed, whose frequency lowEdgeHz then holds
    bool highEdgeFound = false;    // false: ... up to the last bin (in highEdgeHz)
    double noiseBandwidthHz = 0.0; // equivalent noise bandwidth: sum of bin powers over the
                                   // peak power, times the bin spacing, Hz
    double binHz = 0.0;            // the row's bin spacing, Hz
    int referenceBins = 0;         // bins averaged (in power) for the reference level
};

// How far a passband reading may be off, as fractions of the noise bandwidth (0.04 = 4 %).
struct PassbandError
{
    double statistical = 0.0; // from the scatter of the averaged noise spectra
    double resolution = 0.0;  // from the bin spacing against the bandwidth
    double total = 0.0;       // both added: a bound, not a standard deviation
};

// The error estimate of a reading from a row that is the mean of `spectra` spectra (1 ..
// 32); infinite for a reading without a passband.
PassbandError passbandError(const Passband &p, int spectra);

// The largest estimated error (total) at which a noise bandwidth is offered to the
// Calculator.
constexpr double kOfferableBandwidthError = 0.05;

// Reads the passband from a spectrum row: the peak, the -3 dB edges and the equivalent noise
// bandwidth.
//
// The single bins of a noise spectrum scatter: averaged over 32 blocks a bin still reads
// within about +-1 dB, so the highest of hundreds of bins would lie some 3 dB above the true
// passband level and put both edges far inside the band. Levels are therefore read from the
// row smoothed in linear power over a fixed fraction of each bin's frequency, narrow where a
// low edge is steep and wide where a high edge is gentle:
//   - the edges from a smoothing over +-15 % of the frequency;
//   - the reference (the peak level) from a wider one, +-30 %, but over no more than a
//     quarter of the band that the edge smoothing alone finds, so that a narrow filter keeps
//     its height; the edges are then found again for that reference.
// On the virtual bench's receiver (second-order 300 Hz high-pass and 2700 Hz low-pass) with
// 32 averaged blocks of 32768 frames at 48 kHz, the edges read within about +-7 Hz (low)
// and +-23 Hz (high, where the skirt falls by only 0.003 dB per Hz), and the noise bandwidth
// within about 1 % (one standard deviation over noise seeds).
// The noise bandwidth sums the unsmoothed bin powers. Bins 0 and 1 are left out of
// everything: the Hann window spreads a sound card's DC offset over them, and that is no
// noise of the receiver.
//
// Runs on any one thread at a time (the window thread when it draws); the scratch array is
// allocated at construction, so an analysis allocates nothing.
class PassbandAnalyzer
{
public:
    // First bin taken into account.
    static constexpr int kFirstBin = 2;
    // Half-widths of the smoothing windows as fractions of the bin number.
    static constexpr double kEdgeSmoothing = 0.15;
    static constexpr double kReferenceSmoothing = 0.3;

    PassbandAnalyzer();

    // `dB`: `bins` values of a shown row (at most kMaxShownBins), bin k at k * binHz Hz.
    Passband analyze(const double *dB, int bins, double binHz);

private:
    std::unique_ptr<double[]> m_prefix; // prefix sums of linear power, kMaxShownBins + 1
};

} // namespace quillon
