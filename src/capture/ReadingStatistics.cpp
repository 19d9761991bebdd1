#include "capture/ReadingStatistics.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quillon {

namespace {

constexpr int kSub = BlockMoments::kSubBlocks;
// Sum over j of (j - 7.5)^2 for j = 0..15.
constexpr double kIndexSquares = 340.0;

// Normal score of a chi-square value x with k degrees of freedom (Wilson-Hilferty).
double chiSquareZ(double x, double k)
{
    const double v = 2.0 / (9.0 * k);
    return (std::cbrt(x / k) - (1.0 - v)) / std::sqrt(v);
}

} // namespace

void ReadingStatisticsAccumulator::add(const BlockStats &stats, const BlockMoments &moments)
{
    // Block power: the reading's own number, L^2, for every block.
    const double power = stats.L * stats.L;
    const int index = m_blocks++;
    m_frames += stats.N;
    if (std::isfinite(power)) {
        const double n = static_cast<double>(m_blocks);
        const double indexMean = (n - 1.0) / 2.0;
        const double deviation = power - m_powerMean;
        m_powerMean += deviation / n;
        m_powerM2 += deviation * (power - m_powerMean);
        // Index deviation from the old mean index times the power's from the new mean.
        m_indexPowerCo += (static_cast<double>(index) - (indexMean - 0.5)) * (power - m_powerMean);
    }
    m_peak = std::max(m_peak, static_cast<double>(stats.peak) * stats.s);

    const std::int64_t length = moments.subLength;
    if (length <= 0 || stats.N <= 0)
        return;
    const double n = static_cast<double>(stats.N);
    const double mean = static_cast<double>(stats.sum) / n; // sample units
    const double meanSquare = static_cast<double>(stats.sumsq) / n;
    const double variance = meanSquare - mean * mean;
    if (!(variance > 0.0))
        return;
    m_crest = std::max(m_crest,
                       (static_cast<double>(stats.peak) - std::fabs(mean)) / std::sqrt(variance));

    // Sub-block moments about the block's mean. The fourth moment is taken about it on the
    // assumption that the noise is symmetric (no third moment): E x^4 = m4 + 6 mu^2 m2 + mu^4.
    const double m = static_cast<double>(length);
    const double mu2 = mean * mean;
    std::array<double, kSub> second{};
    std::array<double, kSub> fourth{};
    double blockPower = 0.0;
    for (int j = 0; j < kSub; ++j) {
        const auto k = static_cast<std::size_t>(j);
        const double raw2 = static_cast<double>(moments.subSumsq[k]) / m;
        const double subMean = static_cast<double>(moments.subSum[k]) / m;
        // Mean square about the block's mean: raw2 - 2 mu subMean + mu^2.
        second[k] = raw2 - 2.0 * mean * subMean + mu2;
        const double central2 = raw2 - mu2;
        fourth[k] = moments.subSumFourth[k] / m - 6.0 * mu2 * central2 - mu2 * mu2;
        blockPower += second[k];
    }
    blockPower /= kSub;
    if (!(blockPower > 0.0))
        return;

    if (m_statBlocks++ == 0)
        m_scale = blockPower;
    double within = 0.0;
    double trendSum = 0.0;
    for (int j = 0; j < kSub; ++j) {
        const auto k = static_cast<std::size_t>(j);
        const double a = second[k] / blockPower; // relative sub-block power, mean 1
        const double b = fourth[k] / (blockPower * blockPower);
        within += (a - 1.0) * (a - 1.0);
        trendSum += (j - 7.5) * (a - 1.0);
        const double q = second[k] / m_scale;
        m_subPowerSum += q;
        m_subPowerSquares += q * q;
        m_sumA += a;
        m_sumB += b;
        m_sumAA += a * a;
        m_sumBB += b * b;
        m_sumAB += a * b;
    }
    m_withinSquares += within;

    if (index == 0) {
        const double slope = trendSum / kIndexSquares;
        const double residual = std::max(within - slope * slope * kIndexSquares, 0.0) / (kSub - 2);
        m_settlingT = slope / std::sqrt(residual / kIndexSquares);
        m_settlingChange = slope * (kSub - 1);
    }
}

ReadingStatistics ReadingStatisticsAccumulator::statistics() const
{
    ReadingStatistics s;
    s.blocks = m_blocks;
    s.frames = m_frames;
    if (m_blocks == 0)
        return s;
    s.meanPower = m_powerMean;
    s.peak = m_peak;
    if (m_statBlocks == 0)
        return s;
    s.crestFactor = m_crest;
    s.settlingT = m_settlingT;
    s.settlingChange = m_settlingChange;

    // Batch means over every sub-block of the reading.
    const double subBlocks = static_cast<double>(m_statBlocks) * kSub;
    const double subMean = m_subPowerSum / subBlocks;
    const double subVariance =
        std::max(m_subPowerSquares - subBlocks * subMean * subMean, 0.0) / (subBlocks - 1.0);
    double relativeVariance = subVariance / (subMean * subMean) / subBlocks;
    s.degreesOfFreedom = subBlocks - 1.0;

    // The blocks against what their sub-blocks predict for them.
    const double withinVariance = m_withinSquares / (m_statBlocks * (kSub - 1.0));
    const double blockPrediction = withinVariance / kSub; // relative variance of one block
    const double nb = static_cast<double>(m_blocks);
    if (m_blocks >= 2 && m_statBlocks == m_blocks && blockPrediction > 0.0 && m_powerMean > 0.0) {
        const double between = m_powerM2 / (m_powerMean * m_powerMean); // relative, summed
        s.blockSpreadZ = chiSquareZ(between / blockPrediction, nb - 1.0);
        if (s.blockSpreadZ > ReadingStatistics::kBlockSpreadLimit) {
            relativeVariance = between / (nb - 1.0) / nb;
            s.degreesOfFreedom = nb - 1.0;
        }
        if (m_blocks >= 3) {
            const double indexSquares = nb * (nb * nb - 1.0) / 12.0;
            const double slope = m_indexPowerCo / indexSquares / m_powerMean;
            s.blockTrendT = slope / std::sqrt(blockPrediction / indexSquares);
        }
    }
    s.relativeStandardError = std::sqrt(relativeVariance);
    s.effectiveSamples = 2.0 / relativeVariance;

    // Kurtosis: mean(b) / mean(a)^2 with mean(a) = 1, and its standard error by the delta
    // method: e = b - 2 kurtosis a per sub-block, variance of the mean of e.
    const double meanA = m_sumA / subBlocks;
    const double kurtosis = (m_sumB / subBlocks) / (meanA * meanA);
    const double c = 2.0 * kurtosis / meanA;
    const double sumE = m_sumB - c * m_sumA;
    const double sumEE = m_sumBB - 2.0 * c * m_sumAB + c * c * m_sumAA;
    const double varianceE = std::max(sumEE - sumE * sumE / subBlocks, 0.0) / (subBlocks - 1.0);
    // Each block's fourth moment is divided by the square of its own measured power, which
    // reads low by the relative variance of that power (first order, exact for independent
    // Gaussian samples: E[m2^2] = m2^2 (1 + 2/n)); without the correction many short
    // blocks would pile the bias up into a false "not Gaussian".
    const double correction = 1.0 + blockPrediction;
    s.kurtosis = kurtosis * correction;
    s.kurtosisStandardError = std::sqrt(varianceE / subBlocks) / (meanA * meanA) * correction;
    return s;
}

} // namespace quillon
