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

    // Mean linear power of bins k - half .. k + half (clipped to the analysed bins).
    auto mean = [&](int k, int half) {
        const int lo = std::max(k - half, kFirstBin) - kFirstBin;
        const int hi = std::min(k + half, bins - 1) - kFirstBin;
        return (prefix[hi + 1] - prefix[lo]) / (hi - lo + 1);
    };
    auto edgeLevel = [&](int k) {
        return mean(k, static_cast<int>(k * kEdgeSmoothing));
    };
    // The highest level of a row smoothed over `halfWidth(k)` bins around each bin k.
    auto highest = [&](auto halfWidth) {
        std::pair<int, double> best{kFirstBin, mean(kFirstBin, halfWidth(kFirstBin))};
        for (int k = kFirstBin + 1; k < bins; ++k) {
            const double level = mean(k, halfWidth(k));
            if (level > best.second)
                best = {k, level};
        }
        return best;
    };
    // The -3 dB edges around `peak` for `reference`: where the edge level first falls below
    // half the reference going outward, interpolated linearly in power between the two bins
    // around that point.
    auto findEdges = [&](int peak, double reference, Passband &p) {
        const double half = reference / 2.0;
        // Where `half` lies between the levels of two neighbouring bins, 0 .. 1 from `below`.
        auto crossing = [half](double below, double above) {
            return above > below ? std::clamp((half - below) / (above - below), 0.0, 1.0) : 0.0;
        };
        p.lowEdgeFound = p.highEdgeFound = false;
        p.lowEdgeHz = kFirstBin * binHz;
        p.highEdgeHz = (bins - 1) * binHz;
        for (int k = peak - 1; k >= kFirstBin; --k) {
            const double below = edgeLevel(k);
            if (below < half) {
                p.lowEdgeHz = (k + crossing(below, edgeLevel(k + 1))) * binHz;
                p.lowEdgeFound = true;
                break;
            }
        }
        for (int k = peak + 1; k < bins; ++k) {
            const double below = edgeLevel(k);
            if (below < half) {
                p.highEdgeHz = (k - crossing(below, edgeLevel(k - 1))) * binHz;
                p.highEdgeFound = true;
                break;
            }
        }
    };

    // First pass: the band from the edge smoothing alone. Its highest level lies above the
    // true one by the scatter it still has, which pulls both edges inward.
    const auto [roughPeak, roughReference] =
        highest([](int k) { return static_cast<int>(k * kEdgeSmoothing); });
    findEdges(roughPeak, roughReference, result);
    // Second pass: the reference from a wider smoothing (less scatter), but over no more
    // than a quarter of the band found, so that a narrow filter keeps its full height.
    const int limit =
        std::max(0, static_cast<int>((result.highEdgeHz - result.lowEdgeHz) / binHz / 8.0));
    const auto [peak, reference] = highest(
        [limit](int k) { return std::min(static_cast<int>(k * kReferenceSmoothing), limit); });
    findEdges(peak, reference, result);

    result.found = true;
    result.peakBin = peak;
    result.peakHz = peak * binHz;
    result.peakDb = 10.0 * std::log10(reference);
    result.noiseBandwidthHz = total / reference * binHz;
    return result;
}

} // namespace quillon
