#include "spectrum/Passband.h"

#include "spectrum/SpectrumAnalyzer.h"

#include <algorithm>
#include <cmath>

namespace quillon {

PassbandAnalyzer::PassbandAnalyzer() : m_prefix(std::make_unique<double[]>(kMaxShownBins + 1)) {}

Passband PassbandAnalyzer::analyze(const double *dB, int bins, double binHz)
{
    Passband result;
    bins = std::min(bins, kMaxShownBins);
    if (bins <= kFirstBin || !(binHz > 0.0))
        return result;

    // m_prefix[i] = sum of the linear powers of bins kFirstBin .. kFirstBin + i - 1.
    double *prefix = m_prefix.get();
    const int count = bins - kFirstBin;
    prefix[0] = 0.0;
    for (int i = 0; i < count; ++i) {
        const double p = std::pow(10.0, dB[kFirstBin + i] / 10.0); // -inf gives 0
        prefix[i + 1] = prefix[i] + (std::isfinite(p) ? p : 0.0);
    }
    const double total = prefix[count];
    if (!(total > 0.0))
        return result;

    // Mean linear power of the bins within +-10 % of bin k's frequency.
    auto smoothed = [&](int k) {
        const int half = static_cast<int>(k * kSmoothingFraction);
        const int lo = std::max(k - half, kFirstBin) - kFirstBin;
        const int hi = std::min(k + half, bins - 1) - kFirstBin;
        return (prefix[hi + 1] - prefix[lo]) / (hi - lo + 1);
    };

    int peak = kFirstBin;
    double reference = smoothed(kFirstBin);
    for (int k = kFirstBin + 1; k < bins; ++k) {
        const double s = smoothed(k);
        if (s > reference) {
            reference = s;
            peak = k;
        }
    }
    result.found = true;
    result.peakBin = peak;
    result.peakHz = peak * binHz;
    result.peakDb = 10.0 * std::log10(reference);
    result.noiseBandwidthHz = total / reference * binHz;

    // The edges: where the smoothed level first falls below half the reference power going
    // outward from the peak, interpolated linearly in power between the two bins around it.
    const double half = reference / 2.0;
    for (int k = peak - 1; k >= kFirstBin; --k) {
        const double below = smoothed(k);
        if (below < half) {
            const double above = smoothed(k + 1);
            result.lowEdgeHz = (k + (half - below) / (above - below)) * binHz;
            result.lowEdgeFound = true;
            break;
        }
    }
    for (int k = peak + 1; k < bins; ++k) {
        const double below = smoothed(k);
        if (below < half) {
            const double above = smoothed(k - 1);
            result.highEdgeHz = (k - (half - below) / (above - below)) * binHz;
            result.highEdgeFound = true;
            break;
        }
    }
    if (!result.lowEdgeFound)
        result.lowEdgeHz = kFirstBin * binHz;
    if (!result.highEdgeFound)
        result.highEdgeHz = (bins - 1) * binHz;
    return result;
}

} // namespace quillon
