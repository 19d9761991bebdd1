#pragma once

#include "capture/Level.h"

#include <cstdint>
#include <limits>

namespace quillon {

// The statistics of one reading (the counted blocks of a modal reading, or any run of blocks
// of one steady signal), from the sub-block sums the level's own pass gathers
// (BlockMoments). Nothing here assumes a bandwidth: the spread of the sub-block powers is
// measured, not predicted (batch means).
//
// Sub-block power: the mean square of a sub-block's working samples about its block's mean,
// so a DC offset does not count. Relative values are taken against the block's own mean
// sub-block power, so a level that differs from block to block does not inflate the
// within-block spread.
struct ReadingStatistics
{
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    int blocks = 0;          // blocks added
    std::int64_t frames = 0; // frames measured over all blocks
    double meanPower = kNaN; // mean of the blocks' L^2, full-scale units (the reading)
    // Relative standard error of meanPower (standard deviation / mean). Batch means over
    // all sub-blocks of the reading; over the blocks instead when the blocks spread
    // significantly more than their sub-blocks predict (blockSpreadZ above
    // kBlockSpreadLimit), so that a slow wander is not hidden.
    double relativeStandardError = kNaN;
    double degreesOfFreedom = 0.0; // of that standard error: sub-blocks - 1, or blocks - 1
    // Independent Gaussian samples that would give the same precision: 2 / relative
    // variance. For receiver noise of statistical bandwidth B measured for t seconds, 2 B t.
    double effectiveSamples = kNaN;
    // Kurtosis of the working samples: 3 for Gaussian noise, 1.5 for a pure tone, below 3
    // for compressed or clipped noise, above 3 for impulsive interference (or a level that
    // moves within a block). Standard error by batch means over the sub-blocks.
    double kurtosis = kNaN;
    double kurtosisStandardError = kNaN;
    // Largest |working sample| of any block, as a fraction of full scale (peak * s), and the
    // largest of the blocks' peak-to-rms ratios (peak - |mean|) / rms about the mean.
    double peak = 0.0;
    double crestFactor = kNaN;
    // Trend of the first block's 16 sub-block powers after a switch: the least-squares
    // slope's t statistic (14 degrees of freedom) and the fitted change from the first to
    // the last sub-block, relative to the block's power.
    double settlingT = kNaN;
    double settlingChange = kNaN;
    // From the second block on: how far the blocks' powers spread beyond what their
    // sub-blocks predict, as a normal score (0 on average for a steady level; a chi-square
    // of blocks - 1 degrees of freedom, Wilson-Hilferty). NaN below 2 blocks.
    double blockSpreadZ = kNaN;
    // From the third block on: the t statistic of a straight-line trend of the block powers
    // over the reading, against the block-to-block noise the sub-blocks predict. NaN below 3.
    double blockTrendT = kNaN;

    // Above this normal score (one-sided p of 1e-3) the blocks themselves carry the
    // standard error.
    static constexpr double kBlockSpreadLimit = 3.09;
};

// Adds the blocks of one reading, one at a time, in the order they were captured; the
// statistics are available at any moment (a precision rule asks after every block).
// Blocks are summed, never stored: any number can be added. add() runs on the capture
// delivery thread and allocates nothing; statistics() on any thread that owns the object
// at that moment (the modal reading hands it over after the capture stops).
class ReadingStatisticsAccumulator
{
public:
    void reset() { *this = ReadingStatisticsAccumulator{}; }

    // One block: the stats and moments of one measureBlock call. A block below 16 frames
    // (no sub-blocks) or a silent one counts in meanPower only.
    void add(const BlockStats &stats, const BlockMoments &moments);

    int blocks() const { return m_blocks; }
    ReadingStatistics statistics() const;

private:
    int m_blocks = 0;
    std::int64_t m_frames = 0;
    double m_peak = 0.0;
    double m_crest = 0.0;
    // Block powers L^2: running mean and sum of squared deviations (Welford), and the sum
    // of (block index - mean index) * deviation for the trend.
    double m_powerMean = 0.0;
    double m_powerM2 = 0.0;
    double m_indexPowerCo = 0.0;
    // Blocks with sub-blocks, and their relative sub-block powers r = p / p_block (mean 1
    // within a block): the within-block sum of (r - 1)^2, and the sums over all sub-blocks
    // of the reading of the power relative to the first such block's (a fixed scale keeps
    // the sums well conditioned), for the batch means about the reading's mean.
    int m_statBlocks = 0;
    double m_withinSquares = 0.0;
    double m_scale = 0.0;
    double m_subPowerSum = 0.0;
    double m_subPowerSquares = 0.0;
    // Kurtosis: per sub-block the relative second moment a = m2 / p_block (= r) and fourth
    // moment b = m4 / p_block^2, summed with their squares and product for the batch-means
    // standard error (delta method).
    double m_sumA = 0.0, m_sumB = 0.0, m_sumAA = 0.0, m_sumBB = 0.0, m_sumAB = 0.0;
    // The first block's trend.
    double m_settlingT = ReadingStatistics::kNaN;
    double m_settlingChange = ReadingStatistics::kNaN;
};

} // namespace quillon
