// The spectrum of one block: window, scale, filter, transform, dB, averaging, and the two
// FFTW routes.

#include "spectrum/SpectrumAnalyzer.h"
#include "capture/HighPass.h"
#include "spectrum/FftPlan.h"
#include "support/PcmBlocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace quillon {
namespace {

using test::format;
using test::makeBlock;
using test::toneBlock;

bool process(SpectrumAnalyzer &a, const std::vector<std::uint8_t> &block, const CaptureFormat &f,
             HighPass1kHz *filter = nullptr)
{
    return a.processBlock(block.data(), static_cast<std::uint32_t>(block.size()), f, filter);
}

TEST(HannWindow, SymmetricWithZeroEndsAndTheNineDecimalConstant)
{
    constexpr int n = 4097;
    std::vector<double> w(n);
    makeHannWindow(w.data(), n);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_EQ(w[n - 1], 0.0);
    EXPECT_EQ(w[2048], 1.0);
    for (int i = 1; i < n / 2; ++i) // symmetric up to the constant's 8e-10 beyond 2 pi
        ASSERT_NEAR(w[i], w[n - 1 - i], 1e-9) << i;
    // At a quarter 6.283185308 / 4 lies 2.05e-10 beyond pi/2: w = 0.5 + 1.03e-10, where the
    // full-precision 2 pi gives 0.5.
    EXPECT_NEAR(w[1024] - 0.5, 1.0254e-10, 1e-13);
}

// A full-scale sine exactly on bin k: the window's coherent gain 0.5 puts it at
// 10 log10(n / 16) dB, in the first channel only, whatever the width.
struct FullScaleCase
{
    int n;
    unsigned bits;
    unsigned channels;
    double expectedDb;
};

using FullScaleSine = ::testing::TestWithParam<FullScaleCase>;

TEST_P(FullScaleSine, PeaksAtTenLog10NOver16InItsBin)
{
    const auto [n, bits, channels, expected] = GetParam();
    const int k = n / 8 + 3;
    const double amplitude = bits == 16 ? 32767.0 : 8388607.0;
    const auto block = makeBlock(bits, channels, n, [&](std::size_t i, unsigned ch) {
        if (ch == 1)
            return i % 2 ? -32768 : 32767; // the second channel takes no part
        return static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * k * double(i) / n)));
    });
    SpectrumAnalyzer a;
    ASSERT_TRUE(a.activate(n, 1));
    ASSERT_TRUE(process(a, block, format(bits, channels, 48000)));
    EXPECT_NEAR(a.shownRow()[k], expected, 0.01);
    EXPECT_EQ(std::max_element(a.shownRow(), a.shownRow() + a.shownBins()) - a.shownRow(), k);
    // The Hann window's main lobe: the neighbours a quarter of the power (-6.02 dB) below.
    EXPECT_NEAR(a.shownRow()[k - 1], expected - 6.02, 0.01);
    EXPECT_NEAR(a.shownRow()[k + 1], expected - 6.02, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Spectrum, FullScaleSine,
                         ::testing::Values(FullScaleCase{8192, 16, 1, 27.093},
                                           FullScaleCase{8192, 24, 2, 27.093},
                                           FullScaleCase{32768, 16, 2, 33.113}));

// The fifth-order 1 kHz high-pass on the windowed values: about 100 dB off a 100 Hz tone,
// nothing off a 5 kHz tone.
TEST(SpectrumHighPass, LowersA100HzToneBy100DbAndLeaves5kHz)
{
    constexpr int n = 8192;
    const CaptureFormat f = format(16, 1, 48000);
    HighPass1kHz filter;
    filter.selectHighPass(48000);
    SpectrumAnalyzer a;
    ASSERT_TRUE(a.activate(n, 1));
    for (const auto &[hz, drop, tolerance] : {std::tuple{100.0, 100.0, 2.0}, {5000.0, 0.0, 0.05}}) {
        const auto block = toneBlock(16384, hz, 48000, n);
        ASSERT_TRUE(process(a, block, f));
        const int bin = static_cast<int>(std::lround(hz * n / 48000));
        const double plain = a.shownRow()[bin];
        ASSERT_TRUE(process(a, block, f, &filter));
        EXPECT_NEAR(plain - a.shownRow()[bin], drop, tolerance) << hz << " Hz";
        // The filter starts every block from rest: a second block reads the same.
        const double first = a.shownRow()[bin];
        ASSERT_TRUE(process(a, block, f, &filter));
        EXPECT_EQ(a.shownRow()[bin], first) << hz << " Hz";
    }
}

// Row 0 after each block against the rows of the single blocks: the mean of the last m dB
// rows, m growing 1, 2, 3 ... up to the averaging count, which is clamped to 1 .. 32. The
// history wraps several times, and a silent block enters and leaves the average.
struct AverageCase
{
    int requested;
    bool averaging;
    int window; // rows in the mean from then on
};

using Averaging = ::testing::TestWithParam<AverageCase>;

TEST_P(Averaging, ShownRowIsTheMeanOfTheLastRows)
{
    const auto [requested, averaging, window] = GetParam();
    constexpr int n = 64;
    const CaptureFormat f = format(16, 1, 11025);
    SpectrumAnalyzer single;
    SpectrumAnalyzer averaged;
    ASSERT_TRUE(single.activate(n, 1));
    ASSERT_TRUE(averaged.activate(n, requested));
    averaged.setAveraging(averaging);
    EXPECT_EQ(averaged.averageCount(), averaging ? window : std::clamp(requested, 1, 32));

    std::mt19937 gen(5);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<std::vector<double>> rows; // each block's own row
    for (int b = 0; b < window + 3; ++b) {
        // Block 1 is digital silence: minus infinity in every bin while it takes part.
        const auto block = makeBlock(16, 1, n, [&](std::size_t, unsigned) {
            return b == 1 ? 0 : static_cast<std::int32_t>(std::lround(noise(gen)));
        });
        ASSERT_TRUE(process(single, block, f));
        ASSERT_TRUE(process(averaged, block, f));
        rows.emplace_back(single.shownRow(), single.shownRow() + single.shownBins());
        const int m = std::min(b + 1, window);
        ASSERT_EQ(averaged.shownInfo().rowsAveraged, m);
        for (int k = 0; k < n / 2; ++k) {
            double mean = 0.0;
            for (int j = b + 1 - m; j <= b; ++j)
                mean += rows[j][k];
            mean /= m;
            if (std::isinf(mean))
                ASSERT_EQ(averaged.shownRow()[k], mean) << "block " << b << " bin " << k;
            else
                ASSERT_NEAR(averaged.shownRow()[k], mean, 1e-9) << "block " << b << " bin " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Spectrum, Averaging,
                         ::testing::Values(AverageCase{4, true, 4}, AverageCase{4, false, 1},
                                           AverageCase{40, true, 32}, AverageCase{0, true, 1},
                                           AverageCase{-3, true, 1}));

TEST(SpectrumRows, BinNOver2IsComputedButNeverShown)
{
    constexpr int n = 1024;
    SpectrumAnalyzer a;
    ASSERT_TRUE(a.activate(n, 4));
    a.setAveraging(true);
    // Full-scale alternation: all its power lies in bin n/2.
    const auto nyquist =
        makeBlock(16, 1, n, [](std::size_t i, unsigned) { return i % 2 ? -32767 : 32767; });
    for (int b = 0; b < 6; ++b)
        ASSERT_TRUE(process(a, nyquist, format(16, 1, 48000)));
    EXPECT_EQ(a.shownBins(), n / 2);
    EXPECT_EQ(a.shownInfo().bins, n / 2);
    EXPECT_GT(a.historyRow(1)[n / 2], 20.0);
    EXPECT_EQ(a.shownRow()[n / 2], 0.0); // the slot after the shown bins stays as activated
    EXPECT_LT(*std::max_element(a.shownRow(), a.shownRow() + a.shownBins()),
              a.historyRow(1)[n / 2] - 3.0);
}

// Blocks that make no row leave every row as it was; sizes outside 2 .. 32768 make no plan.
TEST(SpectrumRows, BlocksThatMakeNoRowAndSizesWithoutAPlan)
{
    constexpr int n = 256;
    SpectrumAnalyzer a;
    const auto tone = toneBlock(10000, 1000, 48000, n);
    EXPECT_FALSE(process(a, tone, format(16, 1, 48000))); // not activated
    ASSERT_TRUE(a.activate(n, 1));
    ASSERT_TRUE(process(a, tone, format(16, 1, 48000)));
    const std::vector<double> before(a.shownRow(), a.shownRow() + a.shownBins());
    const auto quiet = toneBlock(10, 3000, 48000, n);
    const std::vector<std::uint8_t> shortBlock(quiet.begin(), quiet.end() - 2);
    EXPECT_FALSE(process(a, shortBlock, format(16, 1, 48000)));
    EXPECT_FALSE(process(a, quiet, format(8, 2, 48000))); // 8-bit
    EXPECT_FALSE(a.processBlock(nullptr, 512, format(16, 1, 48000), nullptr));
    EXPECT_EQ(std::vector<double>(a.shownRow(), a.shownRow() + a.shownBins()), before);
    EXPECT_EQ(a.blocksProcessed(), 1u);

    for (const int size : {0, 1, 32769}) {
        EXPECT_FALSE(a.activate(size, 1)) << size;
        EXPECT_FALSE(a.active());
    }
    EXPECT_TRUE(a.activate(2, 1));
    EXPECT_TRUE(a.activate(32768, 1));
    a.deactivate();
    EXPECT_FALSE(a.active());
}

// Parseval: the powers of every bin, the bins between DC and Nyquist counted twice, sum to
// n times the input's energy, for even and odd sizes (an odd size has no Nyquist bin).
using FftPowers = ::testing::TestWithParam<int>;

TEST_P(FftPowers, SumToNTimesTheInputEnergy)
{
    const int n = GetParam();
    FftPlan plan(n);
    ASSERT_TRUE(plan.valid());
    EXPECT_EQ(plan.binCount(), n / 2 + 1);
    std::mt19937 gen(static_cast<unsigned>(n));
    std::normal_distribution<double> noise(0.0, 0.1);
    double input = 0.0;
    for (int i = 0; i < n; ++i) {
        plan.input()[i] = noise(gen);
        input += plan.input()[i] * plan.input()[i];
    }
    plan.execute();
    std::vector<double> p(n / 2 + 1);
    plan.power(p.data());
    double sum = p[0] + (n % 2 == 0 ? p[n / 2] : 0.0);
    for (int k = 1; k < (n + 1) / 2; ++k)
        sum += 2 * p[k];
    EXPECT_NEAR(sum / n, input, input * 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Spectrum, FftPowers, ::testing::Values(1024, 32768, 1000, 999));

TEST(FftPlan, MovesOwnershipAndIsEmptyWithoutASize)
{
    FftPlan none(1);
    EXPECT_FALSE(none.valid());
    FftPlan a(16);
    double *input = a.input();
    FftPlan b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_TRUE(b.valid());
    EXPECT_EQ(b.input(), input);
    b = FftPlan(32);
    EXPECT_EQ(b.size(), 32);
}

} // namespace
} // namespace quillon
