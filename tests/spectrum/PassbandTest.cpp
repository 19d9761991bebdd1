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
// 2700 Hz, with the -3 dB edges and the noise bandwidth of that shape, and the passband read
// from `spectra` averaged blocks of `n` frames of the bench's noise.
struct BenchReceiver
{
    explicit BenchReceiver(double fs) : fs(fs)
    {
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
        lowEdge = halfPower(900.0, -0.01);
        highEdge = halfPower(900.0, 0.01);
        bandwidth = integral / top;
    }

    Passband read(int n, int spectra, std::uint64_t seed) const
    {
        GeneratorSetup setup;
        setup.sampleRate = static_cast<std::uint32_t>(fs);
        setup.statePower = {0.01, 0.01, 0.01, 0.01}; // -20 dBFS
        setup.seed = seed;
        BenchGenerator generator(setup);
        generator.warmUp(generator.settleFrames(), 0);
        const std::atomic<int> state{0};
        std::vector<std::uint8_t> block(n * 2);
        SpectrumAnalyzer analyzer;
        EXPECT_TRUE(analyzer.activate(n, spectra));
        analyzer.setAveraging(true);
        for (int b = 0; b < spectra; ++b) {
            generator.generate(block.data(), n, state);
            EXPECT_TRUE(analyzer.processBlock(block.data(),
                                              static_cast<std::uint32_t>(block.size()),
                                              test::format(16, 1), nullptr));
        }
        EXPECT_EQ(analyzer.shownInfo().rowsAveraged, spectra);
        PassbandAnalyzer passband;
        return passband.analyze(analyzer.shownRow(), analyzer.shownBins(), fs / n);
    }

    double fs, lowEdge = 0.0, highEdge = 0.0, bandwidth = 0.0;
};

// The true shape (296.5 Hz, 2731.4 Hz and 2686.4 Hz) against 32 averaged blocks of 32768
// frames at 48 kHz: within one bin plus three standard deviations of the scatter over noise
// seeds (7 Hz low, 23 Hz high, where the skirt falls by only 0.003 dB per Hz, and 1.1 % on the
// noise bandwidth).
TEST(Passband, MatchesTheBenchReceiver)
{
    const BenchReceiver bench(48000.0);
    const double binHz = 48000.0 / 32768;
    const Passband p = bench.read(32768, 32, 20240611);
    ASSERT_TRUE(p.found && p.lowEdgeFound && p.highEdgeFound);
    EXPECT_NEAR(p.lowEdgeHz, bench.lowEdge, binHz + 20.0);
    EXPECT_NEAR(p.highEdgeHz, bench.highEdge, binHz + 70.0);
    EXPECT_NEAR(p.noiseBandwidthHz, bench.bandwidth, 0.04 * bench.bandwidth);
    EXPECT_GT(p.peakHz, bench.lowEdge);
    EXPECT_LT(p.peakHz, bench.highEdge);
    EXPECT_DOUBLE_EQ(p.binHz, binHz);
}

// The error estimate against the bench's known noise bandwidth over eight noise seeds per
// case. It is a 95 % half-width, so at most one reading of eight may lie outside it; it must
// not be far above the readings' real scatter either (it would refuse good readings): between
// 1.2 and 5 times their root-mean-square error. It decides which readings the Calculator
// gets: 1 or 31 spectra of 1024 points at 44.1 kHz (43 Hz bins; 31 read up to 25 % off) and
// 32 of 8192 points not, 32 of 16384 or 32768 points yes.
struct ErrorCase
{
    double fs;
    int n;
    int spectra;
    bool offered;
};

class PassbandErrorTest : public testing::TestWithParam<ErrorCase>
{
};

TEST_P(PassbandErrorTest, BoundsTheBenchReading)
{
    const ErrorCase c = GetParam();
    const BenchReceiver bench(c.fs);
    constexpr int kSeeds = 8;
    int outside = 0;
    double squares = 0.0, estimates = 0.0;
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        const Passband p = bench.read(c.n, c.spectra, 7000 + seed);
        ASSERT_TRUE(p.found);
        const PassbandError e = passbandError(p, c.spectra);
        const double actual = p.noiseBandwidthHz / bench.bandwidth - 1.0;
        outside += std::abs(actual) > e.total;
        squares += actual * actual;
        estimates += e.total;
        EXPECT_NEAR(e.resolution, 1.5 * c.fs / c.n / p.noiseBandwidthHz, 1e-12);
        EXPECT_NEAR(e.total, e.statistical + e.resolution, 1e-12);
        EXPECT_EQ(e.total <= kOfferableBandwidthError, c.offered)
            << "seed " << seed << ": " << e.total;
    }
    EXPECT_LE(outside, 1);
    if (c.spectra > 1) {
        const double rms = std::sqrt(squares / kSeeds), estimate = estimates / kSeeds;
        EXPECT_GT(estimate, 1.2 * rms);
        EXPECT_LT(estimate, 5.0 * rms);
    }
}

INSTANTIATE_TEST_SUITE_P(Bench, PassbandErrorTest,
                         testing::Values(ErrorCase{44100.0, 1024, 1, false},
                                         ErrorCase{44100.0, 1024, 31, false},
                                         ErrorCase{44100.0, 8192, 32, false},
                                         ErrorCase{44100.0, 16384, 32, true},
                                         ErrorCase{48000.0, 32768, 32, true}));

TEST(Passband, NoErrorEstimateWithoutAPassband)
{
    EXPECT_TRUE(std::isinf(passbandError(Passband{}, 32).total));
}

} // namespace
} // namespace quillon
