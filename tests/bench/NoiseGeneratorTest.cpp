// The bench's noise: Gaussian deviates, the passband sections, and the statistics of the
// generated samples per switch state. Fixed seeds throughout; every tolerance is a number
// of standard errors computed from the sample count.

#include "bench/NoiseGenerator.h"
#include "BenchTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <vector>

namespace quillon {
namespace {

using benchtest::decode;
using benchtest::moments;
using benchtest::powerResponse;
using benchtest::varianceRelativeSigma;

// Moments and tail probabilities of 4 million deviates against the standard normal.
TEST(StandardNormal, MomentsAndTailsMatchTheGaussian)
{
    Xoshiro256pp rng(12345);
    constexpr int n = 4'000'000;
    double s1 = 0, s2 = 0, s4 = 0;
    int beyond2 = 0, beyond3 = 0, beyond35 = 0, beyond4 = 0, negative = 0;
    for (int i = 0; i < n; ++i) {
        const double x = standardNormal(rng);
        s1 += x;
        s2 += x * x;
        s4 += x * x * x * x;
        const double a = std::fabs(x);
        beyond2 += a > 2.0;
        beyond3 += a > 3.0;
        beyond35 += a > 3.5; // only the ziggurat's tail algorithm gives these
        beyond4 += a > 4.0;
        negative += x < 0.0;
    }
    const double N = n;
    EXPECT_NEAR(s1 / N, 0.0, 5.0 / std::sqrt(N));
    EXPECT_NEAR(s2 / N, 1.0, 5.0 * std::sqrt(2.0 / N));
    EXPECT_NEAR(s4 / N, 3.0, 5.0 * std::sqrt(96.0 / N)); // var(x^4) = 105 - 9
    auto expectCount = [&](int count, double p) {
        EXPECT_NEAR(count, p * N, 5.0 * std::sqrt(N * p * (1.0 - p))) << "p = " << p;
    };
    expectCount(beyond2, 0.0455002638963584);
    expectCount(beyond3, 0.00269979606326019);
    expectCount(beyond35, 0.000465258900213);
    expectCount(beyond4, 6.33424836662398e-05);
    expectCount(negative, 0.5);
}

TEST(Passband, ButterworthCornersAndNoiseGain)
{
    for (double fs : {11025.0, 44100.0, 96000.0}) {
        const Biquad hp = butterworthHighPass(fs, 300.0);
        const Biquad lp = butterworthLowPass(fs, 2700.0);
        EXPECT_NEAR(powerResponse(hp, fs, 300.0), 0.5, 1e-12);
        EXPECT_NEAR(powerResponse(lp, fs, 2700.0), 0.5, 1e-12);
        EXPECT_NEAR(powerResponse(hp, fs, fs / 2.0), 1.0, 1e-12);
        EXPECT_NEAR(powerResponse(hp, fs, 0.0), 0.0, 1e-20);
        EXPECT_NEAR(powerResponse(lp, fs, 0.0), 1.0, 1e-12);

        // Parseval: the summed squared impulse response equals the mean of |H|^2 over the
        // frequency axis, integrated here independently on a fine grid.
        constexpr int steps = 400000;
        double integral = 0.0;
        for (int i = 0; i <= steps; ++i) {
            const double f = fs / 2.0 * i / steps;
            const double w = (i == 0 || i == steps) ? 0.5 : 1.0;
            integral += w * powerResponse(hp, fs, f) * powerResponse(lp, fs, f);
        }
        integral /= steps;
        EXPECT_NEAR(cascadeNoiseGain(hp, lp), integral, integral * 1e-6) << fs;
    }
}

GeneratorSetup setupFor(std::uint32_t rate, int channels, int bits, double power)
{
    GeneratorSetup g;
    g.sampleRate = rate;
    g.channels = channels;
    g.bitsPerSample = bits;
    g.statePower = {power, power * 10.0, power * 100.0, power * 1000.0};
    g.seed = 99;
    return g;
}

struct StatsCase
{
    std::uint32_t rate;
    int channels;
    int bits;
};

class GeneratorStatsTest : public ::testing::TestWithParam<StatsCase>
{
};

// Every switch state's variance is its power (in codes squared) within five standard errors
// of a variance of correlated band-limited noise; the mean is zero, and the right channel
// has the same power and no correlation with the left.
TEST_P(GeneratorStatsTest, VariancePerStateMatchesThePower)
{
    const StatsCase c = GetParam();
    // Powers of -60, -50, -40, -30 dBFS.
    BenchGenerator gen(setupFor(c.rate, c.channels, c.bits, 1e-6));
    const double fullScale = c.bits == 24 ? 8388608.0 : 32768.0;
    const std::uint32_t frames = 1u << 19;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(frames) * c.channels * c.bits / 8);
    const double relSigma = varianceRelativeSigma(c.rate, 300.0, 2700.0, frames);
    std::atomic<int> state{0};
    for (int s = 0; s < 4; ++s) {
        state = s;
        gen.warmUp(gen.settleFrames(), s);
        gen.generate(buf.data(), frames, state);
        const double expected = gen.setup().statePower[s] * fullScale * fullScale;
        const auto left = decode(buf.data(), frames, c.bits, c.channels, 0);
        const benchtest::Moments m = moments(left);
        EXPECT_NEAR(m.variance, expected, 5.0 * relSigma * expected) << "state " << s;
        // The passband removes DC: the mean of a block is far below the noise.
        EXPECT_LT(std::fabs(m.mean), 0.01 * std::sqrt(expected));
        if (c.channels == 2) {
            const auto right = decode(buf.data(), frames, c.bits, 2, 1);
            const benchtest::Moments r = moments(right);
            EXPECT_NEAR(r.variance, expected, 5.0 * relSigma * expected);
            double cross = 0.0;
            for (std::uint32_t i = 0; i < frames; ++i)
                cross += left[i] * right[i];
            const double rho = cross / frames / std::sqrt(m.variance * r.variance);
            // The correlation of independent series has the same standard error as a
            // relative variance over two.
            EXPECT_NEAR(rho, 0.0, 5.0 * relSigma / std::sqrt(2.0));
        }
    }
    EXPECT_EQ(gen.clippedSamples(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, GeneratorStatsTest,
                         ::testing::Values(StatsCase{11025, 1, 16}, StatsCase{44100, 2, 16},
                                           StatsCase{48000, 1, 24}, StatsCase{96000, 2, 24}),
                         [](const auto &info) {
                             return std::to_string(info.param.rate) + "Hz_" +
                                    std::to_string(info.param.channels) + "ch_" +
                                    std::to_string(info.param.bits) + "bit";
                         });

// A few codes of noise in 16 bits: rounding to whole codes adds 1/12 code^2, which the
// generator takes out of the analogue noise. Without that the variance would read 4.083.
TEST(Generator, RoundingNoiseIsPartOfThePower)
{
    GeneratorSetup g = setupFor(48000, 1, 16, 4.0 / (32768.0 * 32768.0));
    g.passbandLowHz = 20.0; // nearly white: many independent samples
    g.passbandHighHz = 20000.0;
    BenchGenerator gen(g);
    const std::uint32_t frames = 1u << 22;
    std::vector<std::uint8_t> buf(frames * 2);
    std::atomic<int> state{0};
    gen.warmUp(gen.settleFrames(), 0);
    gen.generate(buf.data(), frames, state);
    const benchtest::Moments m = moments(decode(buf.data(), frames, 16, 1));
    const double relSigma = varianceRelativeSigma(48000, 20.0, 20000.0, frames);
    ASSERT_LT(5.0 * relSigma * 4.0, 0.083 / 2.0); // the test can see the correction
    EXPECT_NEAR(m.variance, 4.0, 5.0 * relSigma * 4.0);
}

// At the bench's defaults the loudest state is -20 dBFS RMS: Gaussian noise peaks near
// 5.5 sigma over a second of 96 kHz audio, far below the 0.98 over-range limit.
TEST(Generator, LoudestDefaultStateStaysBelowOverRange)
{
    GeneratorSetup g = setupFor(96000, 2, 24, 0.0);
    g.statePower = {0.01, 0.01, 0.01, 0.01};
    BenchGenerator gen(g);
    const std::uint32_t frames = 960000;
    std::vector<std::uint8_t> buf(frames * 6);
    std::atomic<int> state{3};
    gen.generate(buf.data(), frames, state);
    const benchtest::Moments m = moments(decode(buf.data(), frames, 24, 2));
    EXPECT_LT(m.peak / 8388608.0, 0.98);
    EXPECT_GT(m.peak / 8388608.0, 0.4); // it is Gaussian: 4 sigma is passed many times
    EXPECT_EQ(gen.clippedSamples(), 0u);
}

TEST(Generator, OverloadClipsAtFullScaleAndCounts)
{
    GeneratorSetup g = setupFor(44100, 1, 16, 0.0);
    g.statePower = {0.5, 0.5, 0.5, 0.5}; // -3 dBFS RMS: clips often
    BenchGenerator gen(g);
    std::vector<std::uint8_t> buf(44100 * 2);
    std::atomic<int> state{0};
    gen.generate(buf.data(), 44100, state);
    const auto x = decode(buf.data(), 44100, 16, 1);
    EXPECT_GT(gen.clippedSamples(), 0u);
    for (double v : x) {
        ASSERT_LE(v, 32767.0);
        ASSERT_GE(v, -32768.0);
    }
}

TEST(Generator, SameSeedSameSamplesAndSwitchActsFromTheNextSample)
{
    const GeneratorSetup g = setupFor(22050, 2, 24, 1e-4);
    BenchGenerator a(g), b(g);
    std::vector<std::uint8_t> ba(4000 * 6), bb(4000 * 6);
    std::atomic<int> quiet{0}, loud{3};
    a.generate(ba.data(), 4000, quiet);
    b.generate(bb.data(), 2000, quiet);
    EXPECT_EQ(0, std::memcmp(ba.data(), bb.data(), 2000 * 6));
    b.generate(bb.data() + 2000 * 6, 2000, loud);
    // The first sample after the switch already differs (x 31.6 input noise).
    const auto la = decode(ba.data(), 4000, 24, 2);
    const auto lb = decode(bb.data(), 4000, 24, 2);
    EXPECT_NE(la[2000], lb[2000]);
    // Once the passband has settled, the power is 1000 times higher.
    std::vector<double> tailA(la.begin() + 3000, la.end()), tailB(lb.begin() + 3000, lb.end());
    EXPECT_GT(moments(tailB).variance, 100.0 * moments(tailA).variance);

    GeneratorSetup other = g;
    other.seed = 100;
    BenchGenerator c(other);
    std::vector<std::uint8_t> bc(2000 * 6);
    c.generate(bc.data(), 2000, quiet);
    EXPECT_NE(0, std::memcmp(ba.data(), bc.data(), 2000 * 6));
}

// Hum alone (no noise): a 50 Hz sine at the hum's RMS level, zero crossings 100 per second.
TEST(Generator, HumIsA50HzSineAtItsLevel)
{
    GeneratorSetup g = setupFor(48000, 1, 24, 0.0);
    g.humPower = 0.01; // -20 dBFS
    BenchGenerator gen(g);
    const std::uint32_t frames = 48000 * 2;
    std::vector<std::uint8_t> buf(frames * 3);
    std::atomic<int> state{0};
    // Two calls: the oscillator runs on across blocks.
    gen.generate(buf.data(), frames / 2, state);
    gen.generate(buf.data() + frames / 2 * 3, frames / 2, state);
    const auto x = decode(buf.data(), frames, 24, 1);
    const benchtest::Moments m = moments(x);
    EXPECT_NEAR(m.variance / (8388608.0 * 8388608.0), 0.01, 1e-5);
    EXPECT_NEAR(m.peak / 8388608.0, 0.1 * std::sqrt(2.0), 1e-5);
    int crossings = 0;
    for (std::uint32_t i = 1; i < frames; ++i)
        crossings += (x[i - 1] < 0) != (x[i] < 0);
    EXPECT_NEAR(crossings, 200, 1);
}

} // namespace
} // namespace quillon
