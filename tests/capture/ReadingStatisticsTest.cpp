// The sub-block sums of the level's pass and the statistics of a reading, on blocks whose
// numbers are known by hand. Against the bench's Gaussian noise: measure/ReadingQualityTest.

#include "capture/ReadingStatistics.h"
#include "capture/HighPass.h"
#include "support/PcmBlocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

using test::measureBuffer;
using test::format;

// `frames` frames, every channel the same value.
std::vector<std::uint8_t> block(unsigned bits, unsigned channels, std::size_t frames,
                                const std::function<std::int32_t(std::size_t)> &sample)
{
    return test::makeBlock(bits, channels, frames,
                           [&](std::size_t i, unsigned) { return sample(i); });
}

// 16 sub-blocks and a rest (16 * 5 + 7 frames: sub-block j holds frames 5j .. 5j + 4)
// hold the first frames in order, the block's own numbers unchanged. The 24-bit mono case
// reads its last frame byte by byte; with the filter the sub-blocks see its output.
TEST(BlockMoments, SubBlocksHoldTheFirstFramesInOrder)
{
    const auto value = [](std::size_t i) {
        return static_cast<std::int32_t>(i * i % 97) * 301 - 9000;
    };
    for (const auto &[bits, channels, filter] : {std::tuple{16u, 1u, false}, {24u, 1u, false},
                                                 {24u, 2u, true}, {16u, 2u, true}}) {
        SCOPED_TRACE(testing::Message() << bits << " bit, " << channels << " ch, " << filter);
        const auto f =
            format(static_cast<std::uint16_t>(bits), static_cast<std::uint16_t>(channels));
        const auto whole = block(bits, channels, 87, value);
        HighPass1kHz hp;
        hp.selectHighPass(48000);
        HighPass1kHz *const highPass = filter ? &hp : nullptr;
        BlockMoments moments;
        const BlockStats stats = measureBuffer(whole, f, highPass, &moments);
        const BlockStats plain = measureBuffer(whole, f, highPass);
        EXPECT_TRUE(stats.sum == plain.sum && stats.sumsq == plain.sumsq &&
                    stats.peak == plain.peak);
        ASSERT_EQ(moments.subLength, 5);
        // The first 5(j + 1) frames measured alone give the running sums.
        std::int64_t sum = 0;
        SquareSum sumsq = 0;
        for (std::size_t j = 0; j < BlockMoments::kSubBlocks; ++j) {
            const auto headBytes = static_cast<std::uint32_t>(5 * (j + 1) * bits / 8 * channels);
            const BlockStats head = measureBlock(whole.data(), headBytes, f, highPass);
            sum += moments.subSum[j];
            sumsq += moments.subSumsq[j];
            EXPECT_TRUE(sum == head.sum && sumsq == head.sumsq) << j;
        }
        double fourth = 0.0; // sub-block 3: frames 15..19
        for (std::size_t i = 15; i < 20; ++i)
            fourth += std::pow(static_cast<double>(value(i)), 4);
        if (!filter) {
            EXPECT_DOUBLE_EQ(moments.subSumFourth[3], fourth);
        }
    }
    // Below 16 frames there are no sub-blocks.
    const auto tiny = block(16, 1, 15, [](std::size_t i) { return static_cast<std::int32_t>(i); });
    BlockMoments moments;
    moments.subLength = 99;
    measureBuffer(tiny, format(16, 1), nullptr, &moments);
    EXPECT_EQ(moments.subLength, 0);
}

// Square waves, sub-blocks 0..7 at amplitude 9, 8..15 at 11, around an offset (DC changes
// nothing). Sub-block powers 81 and 121 (mean 101): kurtosis (81^2 + 121^2) / 2 / 101^2
// before its correction, relative sd sqrt(16/15) * 20/101, trend slope per sub-block
// (20/101) * 64 / 340 with t 6.53 on 14 degrees of freedom.
TEST(ReadingStatistics, StaircaseBlockGivesItsKnownNumbers)
{
    for (const std::int32_t offset : {0, 700}) {
        SCOPED_TRACE(offset);
        const auto b = block(16, 1, 160, [&](std::size_t i) {
            const std::int32_t a = i < 80 ? 9 : 11;
            return offset + (i % 2 == 0 ? a : -a);
        });
        BlockMoments moments;
        const BlockStats stats = measureBuffer(b, format(16, 1), nullptr, &moments);
        ReadingStatisticsAccumulator acc;
        acc.add(stats, moments);
        const ReadingStatistics s = acc.statistics();
        EXPECT_EQ(s.blocks, 1);
        EXPECT_EQ(s.frames, 160);
        // Small-sample correction: 1 + relative variance of the block's power.
        const double subSd = std::sqrt(16.0 / 15.0) * 20.0 / 101.0;
        EXPECT_NEAR(s.kurtosis,
                    (81.0 * 81 + 121.0 * 121) / 2 / (101.0 * 101) * (1 + subSd * subSd / 16), 1e-9);
        EXPECT_NEAR(s.relativeStandardError, subSd / 4.0, 1e-9);
        EXPECT_DOUBLE_EQ(s.degreesOfFreedom, 15.0);
        EXPECT_NEAR(s.effectiveSamples, 2.0 / (subSd * subSd / 16.0), 1e-6);
        EXPECT_NEAR(s.settlingChange, 20.0 / 101.0 * 64.0 / 340.0 * 15.0, 1e-9);
        EXPECT_NEAR(s.settlingT, 6.532, 0.001);
        EXPECT_NEAR(s.crestFactor, 11.0 / std::sqrt(101.0), 1e-9);
        EXPECT_NEAR(s.peak, (offset + 11) / 32768.0, 1e-12);
        EXPECT_TRUE(std::isnan(s.blockSpreadZ));
        EXPECT_TRUE(std::isnan(s.blockTrendT));
    }
}

// Blocks are summed, not stored: 40 give the mean of their powers. One block four times
// louder among steady ones spreads far beyond what the sub-blocks predict, and the blocks
// then carry the standard error; a trend shows in its t statistic.
TEST(ReadingStatistics, BlocksBeyondThirtyTwoAreSummedAndTheirSpreadIsJudged)
{
    // Sub-block powers alternate 81/121: blocks agree far better than sub-blocks predict.
    auto levelBlock = [](double scale) {
        return block(16, 1, 160, [=](std::size_t i) {
            const double a = ((i / 10) % 2 == 0 ? 9.0 : 11.0) * scale;
            return static_cast<std::int32_t>(std::lround(i % 2 == 0 ? a : -a));
        });
    };
    auto measure = [](const std::vector<std::uint8_t> &b, ReadingStatisticsAccumulator &acc) {
        BlockMoments moments;
        const BlockStats stats = measureBuffer(b, format(16, 1), nullptr, &moments);
        acc.add(stats, moments);
        return stats.L * stats.L;
    };
    const auto steady = levelBlock(100.0);
    ReadingStatisticsAccumulator acc;
    double sum = 0.0;
    for (int i = 0; i < 40; ++i)
        sum += measure(steady, acc);
    ReadingStatistics s = acc.statistics();
    EXPECT_EQ(s.blocks, 40);
    EXPECT_NEAR(s.meanPower, sum / 40, 1e-15);
    EXPECT_LT(s.blockSpreadZ, 0.0);
    EXPECT_NEAR(s.blockTrendT, 0.0, 1e-6);
    EXPECT_DOUBLE_EQ(s.degreesOfFreedom, 40 * 16 - 1);

    acc.reset();
    for (int i = 0; i < 9; ++i)
        measure(i == 4 ? levelBlock(200.0) : steady, acc);
    s = acc.statistics();
    EXPECT_GT(s.blockSpreadZ, ReadingStatistics::kBlockSpreadLimit);
    EXPECT_DOUBLE_EQ(s.degreesOfFreedom, 8.0);
    // Eight blocks of power P and one of 4P: mean 12P/9, sample sd of the nine powers.
    const double mean = 12.0 / 9.0;
    const double sd = std::sqrt((8 * (1 - mean) * (1 - mean) + (4 - mean) * (4 - mean)) / 8.0);
    EXPECT_NEAR(s.relativeStandardError, sd / std::sqrt(9.0) / mean, 1e-3);

    acc.reset();
    for (int i = 0; i < 9; ++i)
        measure(levelBlock(100.0 + 10.0 * i), acc);
    EXPECT_GT(acc.statistics().blockTrendT, 10.0);
}

} // namespace
} // namespace quillon
