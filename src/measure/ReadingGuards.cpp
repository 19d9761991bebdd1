#include "measure/ReadingGuards.h"

#include "measure/SeriesDrift.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quillon {

namespace {

constexpr double kSettlingLimitT = 5.0;
constexpr double kSpreadLimitZ = 4.0;
constexpr double kTrendLimitT = 5.0;
constexpr double kKurtosisLimitZ = 5.0;
constexpr double kKurtosisErrorFloor = 0.6;
constexpr double kHeadroomLimit = 0.5;
// The crest factor a reading must fall short of, as a share of the model's floor.
constexpr double kCrestMargin = 0.9;
constexpr double kCrestProbability = 1e-3;

// Power of a tone over the noise's that gives Gaussian noise plus the tone the kurtosis k:
// k = (3 + 6 r + 1.5 r^2) / (1 + r)^2, solved for r >= 0. 0 for k >= 3, infinite for
// k <= 1.5 (a tone alone).
double toneToNoise(double k)
{
    if (k >= 3.0)
        return 0.0;
    if (k <= 1.5)
        return INFINITY;
    const double a = k - 1.5, b = 2.0 * k - 6.0, c = k - 3.0;
    return (-b + std::sqrt(b * b - 4.0 * a * c)) / (2.0 * a);
}

} // namespace

double gaussianPeakFloor(double n, double probability)
{
    // Solve (1 - 2 Q(t))^n = p for t: Q(t) = -expm1(ln p / n) / 2, by bisection on erfc.
    const double tail = -std::expm1(std::log(probability) / std::max(n, 1.0)) / 2.0;
    double low = 0.0, high = 40.0;
    for (int i = 0; i < 100; ++i) {
        const double mid = (low + high) / 2.0;
        (0.5 * std::erfc(mid / std::sqrt(2.0)) > tail ? low : high) = mid;
    }
    return (low + high) / 2.0;
}

bool isSettling(const ReadingStatistics &s)
{
    return std::fabs(s.settlingT) > kSettlingLimitT; // NaN: false
}

bool isLevelMoving(const ReadingStatistics &s)
{
    return s.blockSpreadZ > kSpreadLimitZ || std::fabs(s.blockTrendT) > kTrendLimitT;
}

bool isCompressed(const ReadingStatistics &s)
{
    if (!(s.crestFactor > 0.0) || !(s.effectiveSamples > 0.0))
        return false;
    const double r = std::isfinite(s.kurtosis) ? toneToNoise(s.kurtosis) : 0.0;
    if (std::isinf(r))
        return s.crestFactor < kCrestMargin * std::sqrt(2.0);
    // A tone makes the power steadier, so the measured effective samples overstate the
    // noise's own by about (1 + r)^2 / (1 + 2 r); the peaks come from the noise.
    const double noiseSamples =
        std::clamp(s.effectiveSamples * (1.0 + 2.0 * r) / ((1.0 + r) * (1.0 + r)), 16.0,
                   std::max(static_cast<double>(s.frames), 16.0));
    const double floor = (std::sqrt(2.0 * r) + gaussianPeakFloor(noiseSamples, kCrestProbability)) /
                         std::sqrt(1.0 + r);
    return s.crestFactor < kCrestMargin * floor;
}

bool lacksHeadroom(const ReadingStatistics &s)
{
    return s.peak > kHeadroomLimit;
}

bool hasInterference(const ReadingStatistics &s)
{
    // For Gaussian noise the kurtosis varies at most 12 times as much as the power does
    // (24 sum(rho^4) / N against 2 sum(rho^2) / N). The batch-means error, 15 degrees of
    // freedom a block, reads far lower by chance just when the kurtosis does; a floor at a
    // share of that bound keeps such readings from looking like a tone.
    const double floor = kKurtosisErrorFloor * std::sqrt(12.0) * s.relativeStandardError;
    const double error = std::max(s.kurtosisStandardError, floor);
    if (!(error > 0.0))
        return false;
    const double z = (s.kurtosis - 3.0) / error;
    if (z < -kKurtosisLimitZ)
        return !isCompressed(s);
    if (z > kKurtosisLimitZ)
        return !isSettling(s) && !isLevelMoving(s);
    return false;
}

double spectralLineDb(std::span<const double> bins)
{
    if (bins.size() < 8)
        return NAN;
    // Window-thread work on a row of at most a few thousand bins: a copy is fine here.
    std::vector<double> sorted(bins.begin(), bins.end());
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double median = *middle;
    const double peak = *std::max_element(bins.begin(), bins.end());
    if (!(median > 0.0))
        return NAN;
    return 10.0 * std::log10(peak / median);
}

ReadingWarnings checkReading(const ReadingStatistics &s, double spectralLine)
{
    ReadingWarnings w;
    w.settling = isSettling(s);
    w.compression = isCompressed(s) || isLevelMoving(s);
    w.headroom = lacksHeadroom(s);
    w.interference = hasInterference(s) || spectralLine > kSpectralLineLimitDb;
    return w;
}

std::string warningText(const ReadingWarnings &w)
{
    std::string text;
    auto add = [&](bool on, std::string_view line) {
        if (!on)
            return;
        if (!text.empty())
            text += '\n';
        text += line;
    };
    add(w.settling, kSettlingWarningText);
    add(w.compression, kCompressionWarningText);
    add(w.headroom, kHeadroomWarningText);
    add(w.interference, kInterferenceWarningText);
    add(w.lostAudio, kLostAudioWarningText);
    if (w.drift())
        add(true, driftWarningText(w.driftDb));
    return text;
}

} // namespace quillon
