// The statistics of readings of the bench's noise and the guards over them: the batch-means
// standard error against the variance the bench's passband predicts, and each guard on its
// bench fault and silent on the clean bench.

#include "bench/VirtualBench.h"
#include "capture/Level.h"
#include "capture/ReadingStatistics.h"
#include "measure/ReadingGuards.h"
#include "support/BenchBlocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace quillon {
namespace {

using test::BenchBlocks, test::kOffOut, test::kOnIn, test::kOnOut;

// One reading on the bench: a block in `before`, the switch to `state`, `dummy` blocks
// discarded, then `blocks` counted blocks of `seconds` each.
struct Take
{
    int before = kOnOut, state = kOffOut, dummy = 1, blocks = 1;
    double seconds = 1.0;
};

ReadingStatistics takeReading(const BenchParameters &p, const Take &t, std::uint64_t seed)
{
    BenchBlocks blocks(p, 48000, t.before, t.seconds, seed);
    blocks.skip();
    blocks.state = t.state;
    for (int i = 0; i < t.dummy; ++i)
        blocks.skip();
    ReadingStatisticsAccumulator acc;
    for (int i = 0; i < t.blocks; ++i) {
        BlockMoments moments;
        acc.add(blocks.next(moments), moments);
    }
    return acc.statistics();
}

// Blocks of Gaussian noise through the bench's passband: the relative variance of a
// block's power is 2 S / n (S from the passband's response), and the batch-means estimate
// from each block's own 16 sub-blocks must agree with it on average, at a low rate (few
// samples per correlation time) and a high one. Over all blocks together the estimate of
// the mean's error shrinks as 1 / sqrt(blocks), and the kurtosis is 3.
TEST(ReadingStatistics, BatchMeansMatchTheVarianceOfTheBenchNoise)
{
    for (const std::uint32_t rate : {11025u, 48000u}) {
        SCOPED_TRACE(rate);
        BenchBlocks blocks({.seed = 1}, rate, kOnOut, 0.1);
        constexpr int kBlocks = 300;
        double meanRelativeVariance = 0.0;
        ReadingStatisticsAccumulator all;
        for (int i = 0; i < kBlocks; ++i) {
            BlockMoments moments;
            const BlockStats stats = blocks.next(moments);
            ReadingStatisticsAccumulator one;
            one.add(stats, moments);
            all.add(stats, moments);
            meanRelativeVariance += std::pow(one.statistics().relativeStandardError, 2) / kBlocks;
        }
        const double predicted = test::varianceRelativeSigma(rate, 300.0, 2700.0, blocks.frames());
        // 300 estimates of 15 degrees of freedom: their mean is good to about 3% (1 sigma).
        EXPECT_NEAR(std::sqrt(meanRelativeVariance) / predicted, 1.0, 0.03);
        const ReadingStatistics s = all.statistics();
        EXPECT_NEAR(s.relativeStandardError * std::sqrt(kBlocks) / predicted, 1.0, 0.03);
        EXPECT_NEAR(s.effectiveSamples, 2.0 * kBlocks / (predicted * predicted),
                    0.07 * s.effectiveSamples);
        EXPECT_NEAR(s.kurtosis, 3.0, 4.0 * s.kurtosisStandardError);
    }
}

struct GuardCase
{
    const char *name;
    BenchParameters bench;
    Take take;
    ReadingWarnings expected;
    ReadingWarnings allowed{}; // may fire as well
};

std::string shown(const ReadingWarnings &w)
{
    return std::string(w.settling ? "S" : "-") + (w.compression ? "C" : "-") +
           (w.headroom ? "H" : "-") + (w.interference ? "I" : "-");
}

BenchParameters withFaults(BenchFaults f, double loudestDbfs = -20.0)
{
    BenchParameters p;
    p.faults = f;
    p.loudestLevelDbfs = loudestDbfs;
    return p;
}

// Every switch state of the clean bench, one and several blocks, 1 s and 100 ms: silence.
// Each fault: its own guard, and no other that would point the user the wrong way.
TEST(ReadingGuards, EachFiresOnItsBenchFaultAndStaysSilentOnTheCleanBench)
{
    const ReadingWarnings none;
    const std::vector<GuardCase> cases = {
        {"clean, off", {}, {kOnOut, kOffOut, 1, 1, 1.0}, none},
        {"clean, on", {}, {kOffOut, kOnOut, 1, 4, 1.0}, none},
        {"clean, DUT in on", {}, {2, kOnIn, 1, 8, 0.1}, none},
        {"clean, DUT in off", {}, {kOnIn, 2, 1, 32, 0.1}, none},
        // The AGC recovers after the switch inside the first counted block; a slow one keeps
        // the level moving over the counted blocks (and may still show in the first).
        {"AGC 200 ms, no dummy read", withFaults({.agcOn = true}), {kOnOut, kOffOut, 0, 1, 1.0},
         {.settling = true}},
        {"AGC 3 s", withFaults({.agcOn = true, .agcTimeConstantMs = 3000.0}),
         {kOnOut, kOffOut, 1, 4, 1.0}, {.compression = true}, {.settling = true}},
        {"compression at -8 dBFS", withFaults({.compressionOn = true}, -8.0),
         {2, kOnIn, 1, 1, 1.0}, {.compression = true, .headroom = true}},
        {"gain drift 6 dB/min", withFaults({.gainDriftDbPerMinute = 6.0}),
         {kOnOut, kOffOut, 1, 8, 1.0}, {.compression = true}},
        // A tone as strong as the noise of the quietest state (-57 dBFS); over 4 blocks one
        // 3 dB weaker.
        {"tone", withFaults({.toneOn = true, .toneDbfs = -57.0}), {kOnOut, kOffOut, 1, 1, 1.0},
         {.interference = true}},
        {"tone, 4 blocks", withFaults({.toneOn = true, .toneHz = 2200.0, .toneDbfs = -60.0}),
         {kOnOut, kOffOut, 1, 4, 1.0}, {.interference = true}},
        // Peaks of 4.4 sigma reach 0.88 of full scale.
        {"loud clean bench", withFaults({}, -14.0), {2, kOnIn, 1, 1, 1.0}, {.headroom = true}},
    };
    std::uint64_t seed = 100;
    for (const GuardCase &c : cases) {
        const ReadingStatistics s = takeReading(c.bench, c.take, ++seed);
        ReadingWarnings w = checkReading(s);
        w.settling &= !c.allowed.settling;
        w.compression &= !c.allowed.compression;
        w.headroom &= !c.allowed.headroom;
        w.interference &= !c.allowed.interference;
        EXPECT_EQ(shown(w), shown(c.expected))
            << c.name << ": settling t " << s.settlingT << ", spread z " << s.blockSpreadZ
            << ", trend t " << s.blockTrendT << ", kurtosis " << s.kurtosis << " +- "
            << s.kurtosisStandardError << ", crest " << s.crestFactor << ", peak " << s.peak
            << ", effective samples " << s.effectiveSamples;
    }
}

// The texts, in their order, one per line; a spectral line far above the floor is
// interference by itself.
TEST(ReadingGuards, TextsAndTheSpectralLine)
{
    EXPECT_EQ(warningText({}), "");
    EXPECT_EQ(warningText({.settling = true, .interference = true}),
              "level still settling after the switch \u2014 add dummy reads\na tone or hum is in "
              "the passband");
    EXPECT_EQ(warningText({.compression = true, .headroom = true}),
              "the receiver may be compressing or its AGC is on\nthe peak is above half of full "
              "scale \u2014 little "
              "headroom is left");
    EXPECT_EQ(warningText({.interference = true, .lostAudio = true}),
              "a tone or hum is in the passband\naudio was lost during the reading \u2014 the "
              "computer was too busy");

    std::vector<double> row(64, 1.0);
    row[10] = 2.0;
    row[40] = 0.5;
    EXPECT_NEAR(spectralLineDb(row), 10.0 * std::log10(2.0), 1e-12);
    EXPECT_FALSE(checkReading({}, spectralLineDb(row)).interference);
    row[20] = 40.0; // 16 dB
    EXPECT_TRUE(checkReading({}, spectralLineDb(row)).interference);
    EXPECT_TRUE(std::isnan(spectralLineDb(std::vector<double>(7, 1.0))));
}

} // namespace
} // namespace quillon
