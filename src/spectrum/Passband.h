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
};

// Reads the passband from a spectrum row: the peak, the -3 dB edges and the equivalent noise
// bandwidth.
//
// The single bins of a noise spectrum scatter: averaged over 32 blocks a bin still reads
// within about +-1 dB, so the highest of hundreds of bins would lie some 3 dB above the true
// passband level and put both edges far inside the band. The peak and the edges are
// therefore read from the row smoothed in linear power over +-10 % of each bin's frequency
// (about a fifth of an octave: narrow where the low edge is steep, wide where the high edge
// is gentle), while the noise bandwidth sums the unsmoothed bin powers. Bins 0 and 1 are left
// out of everything: the Hann window spreads a sound card's DC offset over them, and that is
// no noise of the receiver.
//
// Runs on any one thread at a time (the window thread when it draws); the scratch array is
// allocated at construction, so an analysis allocates nothing.
class PassbandAnalyzer
{
public:
    // First bin taken into account.
    static constexpr int kFirstBin = 2;
    // Half-width of the smoothing window as a fraction of the bin number.
    static constexpr double kSmoothingFraction = 0.1;

    PassbandAnalyzer();

    // `dB`: `bins` values of a shown row (at most kMaxShownBins), bin k at k * binHz Hz.
    Passband analyze(const double *dB, int bins, double binHz);

private:
    std::unique_ptr<double[]> m_prefix; // prefix sums of linear power, kMaxShownBins + 1
};

} // namespace quillon
