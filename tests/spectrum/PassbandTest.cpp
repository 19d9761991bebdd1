// The passband read from an averaged spectrum: worked rows, and the virtual bench's receiver.

#include "spectrum/Passband.h"
#include "bench/NoiseGenerator.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "support/BenchBlocks.h"
#include "support/PcmBlocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

namespace quillon {
namespace {

// A flat-topped row: 0 dB from bin 100 to bin 199, -40 dB elsewhere, a huge DC bin.
TEST(Passband, BrickWallRow)
{
    std::vector<double> row(1000, -40.0);
    for (int k = 100; k < 200; ++k)
        row[k] = 0.0;
    row[0] = row[1] = 30.0; // a DC offset, spread by the window: not the receiver's
    PassbandAnalyzer analyzer;
    const Passband p = analyzer.analyze(row.data(), 1000, 10.0);
    ASSERT_TRUE(p.found);
    EXPECT_TRUE(p.lowEdgeFound && p.highEdgeFound);
    EXPECT_NEAR(p.peakDb, 0.0, 1e-9);
    EXPECT_GE(p.peakHz, 1000.0);
    EXPECT_LT(p.peakHz, 2000.0);
    // The smoothing turns each wall into a ramp whose middle stays on the wall.
    EXPECT_NEAR(p.lowEdgeHz, 995.0, 10.0);
    EXPECT_NEAR(p.highEdgeHz, 1995.0, 10.0);
    // 100 bins of 10 Hz plus 898 bins at 1e-4.
    EXPECT_NEAR(p.noiseBandwidthHz, 1000.0 + 898 * 10.0 * 1e-4, 1e-6);
}

TEST(Passband, RowsWithoutAnEdgeOrWithoutPower)
{
    PassbandAnalyzer analyzer;
    std::vector<double> rising(500);
    for (int k = 0; k < 500; ++k)
        rising[k] = 0.05 * k - 40.0; // never 3 dB below its top above it: no high edge
    Passband p = analyzer.analyze(rising.data(), 500, 2.0);
    ASSERT_TRUE(p.found);
    EXPECT_TRUE(p.lowEdgeFound);
    EXPECT_FALSE(p.highEdgeFound);
    EXPECT_EQ(p.highEdgeHz, 998.0);

    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> silent(500, -inf);
    EXPECT_FALSE(analyzer.analyze(silent.data(), 500, 2.0).found);
    EXPECT_FALSE(analyzer.analyze(rising.data(), 2, 2.0).found);
}

// The bench's receiver noise: a second-order Butterworth high-pass at 300 Hz and low-pass at
// 2700 Hz. The -3 dB edges and the noise bandwidth of that shape (296.5 Hz, 2731.4 Hz and
// 2686.4 Hz), against those read from 32 averaged blocks of the bench's noise: within one bin
// plus three standard deviations of the scatter over noise seeds (7 Hz low, 23 Hz high, where
// the skirt falls by only 0.003 dB per Hz, and 1.1 % on the noise bandwidth).
TEST(Passband, MatchesTheBenchReceiver)
{
    constexpr double fs = 48000.0;
    constexpr int n = 32768;
    constexpr double binHz = fs / n;
    const Biquad hp = butterworthHighPass(fs, 300.0), lp = butterworthLowPass(fs, 2700.0);
    auto shape = [&](double f) {
        return test::powerResponse(hp, fs, f) * test::powerResponse(lp, fs, f);
    };
    double top = 0.0, integral = 0.0;
    for (double f = 0.05; f < fs / 2; f += 0.1) {
        top = std::max(top, shape(f));
        integral += shape(f) * 0.1;
    }
    auto halfPower = [&](double from, double step) {
        double f = from;
        while (shape(f) >= top / 2)
            f += step;
        return f;
    };
    const double lowEdge = halfPower(900.0, -0.01), highEdge = halfPower(900.0, 0.01);
    const double bandwidth = integral / top;

    GeneratorSetup setup;
    setup.sampleRate = static_cast<std::uint32_t>(fs);
    setup.statePower = {0.01, 0.01, 0.01, 0.01}; // -20 dBFS
    setup.seed = 20240611;
    BenchGenerator generator(setup);
    generator.warmUp(generator.settleFrames(), 0);
    const std::atomic<int> state{0};
    std::vector<std::uint8_t> block(n * 2);
    SpectrumAnalyzer analyzer;
    ASSERT_TRUE(analyzer.activate(n, 32));
    analyzer.setAveraging(true);
    for (int b = 0; b < 32; ++b) {
        generator.generate(block.data(), n, state);
        ASSERT_TRUE(analyzer.processBlock(block.data(), static_cast<std::uint32_t>(block.size()),
                                          test::format(16, 1), nullptr));
    }
    ASSERT_EQ(analyzer.shownInfo().rowsAveraged, 32);
    PassbandAnalyzer passband;
    const Passband p = passband.analyze(analyzer.shownRow(), analyzer.shownBins(), binHz);
    ASSERT_TRUE(p.found && p.lowEdgeFound && p.highEdgeFound);
    EXPECT_NEAR(p.lowEdgeHz, lowEdge, binHz + 20.0);
    EXPECT_NEAR(p.highEdgeHz, highEdge, binHz + 70.0);
    EXPECT_NEAR(p.noiseBandwidthHz, bandwidth, 0.04 * bandwidth);
    EXPECT_GT(p.peakHz, lowEdge);
    EXPECT_LT(p.peakHz, highEdge);
}

} // namespace
} // namespace quillon
