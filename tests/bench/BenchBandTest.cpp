// The bench across a band: its curves in known numbers, the truth at a frequency, the
// calibration file shipped for its reference source, and retuning an existing bench.

#include "bench/VirtualBench.h"
#include "nf/EnrTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

// Defaults: 25 dB, 20 dB and 1 dB at 144 MHz; ENR -0.002 dB/MHz, gain -0.02 dB/MHz, NF
// +1e-4 dB/MHz^2. At the ends each value is held within its range; a frequency outside
// 0..30000 MHz is held at the nearer end, NaN at the centre.
TEST(BenchCurves, DefaultCurvesAtKnownFrequencies)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), nfAt0 = 1.0 + 1e-4 * 144 * 144;
    const std::pair<double, BenchCurvePoint> cases[] = {
        {144.0, {144.0, 25.0, 20.0, 1.0}},      {94.0, {94.0, 25.1, 21.0, 1.25}},
        {244.0, {244.0, 24.8, 18.0, 2.0}},      {0.0, {0.0, 25.288, 22.88, nfAt0}},
        {-5.0, {0.0, 25.288, 22.88, nfAt0}},    {1294.0, {1294.0, 22.7, -3.0, 40.0}},
        {30000.0, {30000.0, 0.0, -30.0, 40.0}}, {1e9, {30000.0, 0.0, -30.0, 40.0}},
        {nan, {144.0, 25.0, 20.0, 1.0}}};
    for (const auto &[frequencyMHz, e] : cases) {
        const BenchCurvePoint p = benchCurvesAt({}, frequencyMHz);
        SCOPED_TRACE(frequencyMHz);
        EXPECT_DOUBLE_EQ(p.frequencyMHz, e.frequencyMHz);
        EXPECT_NEAR(p.referenceEnrDb, e.referenceEnrDb, 1e-12);
        EXPECT_NEAR(p.dutGainDb, e.dutGainDb, 1e-12);
        EXPECT_NEAR(p.dutNfDb, e.dutNfDb, 1e-12);
    }
    // The curve centre moves all three; the base values hold there.
    const BenchCurvePoint moved = benchCurvesAt({.dutNfDb = 0.5, .curveCentreMHz = 50.0}, 50.0);
    EXPECT_EQ(std::tuple(moved.referenceEnrDb, moved.dutGainDb, moved.dutNfDb),
              std::tuple(25.0, 20.0, 0.5));
}

// The truth at 194 MHz: ENR 24.9 dB, gain 19 dB, NF 1.25 dB, the receiver unchanged; the
// parameters' own frequency gives the same answers.
TEST(BenchCurves, TruthFollowsTheFrequency)
{
    const BenchTruth t = computeTruth({}, 194.0);
    EXPECT_DOUBLE_EQ(t.frequencyMHz, 194.0);
    EXPECT_NEAR(t.referenceEnrDb, 24.9, 1e-12);
    EXPECT_NEAR(t.hotReferenceK, std::pow(10.0, 2.49) * 290.0 + 293.0, 1e-6);
    EXPECT_NEAR(t.dutGainDb, 19.0, 1e-12);
    EXPECT_NEAR(t.dutNfDb, 1.25, 1e-12);
    EXPECT_NEAR(t.receiverNfDb, 8.0, 1e-12);
    const double dutTe = (std::pow(10.0, 0.125) - 1.0) * 290.0;
    EXPECT_NEAR(t.chainTeK, dutTe + t.receiverTeK / std::pow(10.0, 1.9), 1e-9);
    EXPECT_DOUBLE_EQ(computeTruth({.frequencyMHz = 194.0}).chainTeK, t.chainTeK);
    // Out of range in the parameters: their default frequency, as every other field.
    EXPECT_DOUBLE_EQ(computeTruth({.frequencyMHz = 40000.0}).frequencyMHz, 144.0);
}

// The shipped calibration file, read by the program's own reader and interpolated as a
// measurement looks it up, is the default ENR curve at every frequency of the file range.
TEST(BenchCurves, ShippedCalibrationFileIsTheReferenceCurve)
{
    EnrTable table;
    ASSERT_EQ(parseEnrFile(std::string(QUILLON_SOURCE_DIR) + "/resources/bench-enr.txt", table), 0);
    std::vector<double> frequencies{144.0, 12643.9, 12644.0, 12644.1, 30000.0};
    for (double f = 0.0; f <= 30000.0; f += 7.25)
        frequencies.push_back(f);
    for (double f : frequencies)
        EXPECT_NEAR(enrForEntry(f, true, table), benchCurvesAt({}, f).referenceEnrDb, 1e-9) << f;
}

// Retuning: the next stream's state powers follow the truth at the new frequency, the
// seed sequence goes on (a fixed seed would otherwise repeat the same noise at every point
// of a sweep), and frequencies the bench cannot be tuned to change nothing.
TEST(BenchCurves, RetuningMovesTheNextStreamAndKeepsTheSeedSequence)
{
    const CaptureFormat format{};
    VirtualBench bench(BenchParameters{.seed = 7});
    const GeneratorSetup first = bench.nextGeneratorSetup(format);
    ASSERT_TRUE(bench.setFrequencyMHz(244.0));
    const GeneratorSetup second = bench.nextGeneratorSetup(format);
    EXPECT_NE(second.seed, first.seed);

    const BenchTruth t = computeTruth({}, 244.0);
    EXPECT_DOUBLE_EQ(bench.parameters().frequencyMHz, 244.0);
    EXPECT_DOUBLE_EQ(bench.truth().dutGainDb, 18.0);
    EXPECT_NEAR(second.statePower[3] / second.statePower[2], t.yDutOutput, 1e-9);
    EXPECT_NEAR(second.statePower[1] / second.statePower[0], t.ySystem, 1e-9);
    EXPECT_GT(std::fabs(first.statePower[3] / first.statePower[2] - t.yDutOutput), 1.0);

    for (double bad : {-0.1, 30000.5, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(bench.setFrequencyMHz(bad)) << bad;
        EXPECT_DOUBLE_EQ(bench.frequencyMHz(), 244.0);
    }
    // New parameters bring their own frequency.
    bench.setParameters({.seed = 7});
    EXPECT_DOUBLE_EQ(bench.frequencyMHz(), 144.0);
    EXPECT_EQ(bench.nextGeneratorSetup(format).seed, first.seed);
}

} // namespace
} // namespace quillon
