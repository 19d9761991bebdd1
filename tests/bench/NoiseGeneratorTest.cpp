// The bench's noise: Gaussian deviates, the passband sections and the generated samples.
// Fixed seeds; tolerances are five standard errors of the sample count. The level of each
// switch state in every format is checked end to end (BenchEndToEndTest.cpp).

#include "bench/NoiseGenerator.h"
#include "BenchTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace quillon {
namespace {

using benchtest::decode;
using benchtest::moments;
using benchtest::powerResponse;

TEST(StandardNormal, MomentsAndTailsMatchTheGaussian)
{
    Xoshiro256pp rng(12345);
    constexpr int n = 4'000'000;
    // |x| beyond 3.5 and 4 only comes from the ziggurat's tail algorithm.
    constexpr std::array<std::pair<double, double>, 4> tails{{{2.0, 0.0455002638963584},
                                                              {3.0, 0.00269979606326019},
                                                              {3.5, 0.000465258900213},
                                                              {4.0, 6.33424836662398e-05}}};
    std::array<int, 4> beyond{};
    double s1 = 0, s2 = 0, s4 = 0;
    for (int i = 0; i < n; ++i) {
        const double x = standardNormal(rng);
        s1 += x;
        s2 += x * x;
        s4 += x * x * x * x;
        for (std::size_t k = 0; k < tails.size(); ++k)
            beyond[k] += std::fabs(x) > tails[k].first;
    }
    EXPECT_NEAR(s1 / n, 0.0, 5.0 / std::sqrt(n));
    EXPECT_NEAR(s2 / n, 1.0, 5.0 * std::sqrt(2.0 / n));
    EXPECT_NEAR(s4 / n, 3.0, 5.0 * std::sqrt(96.0 / n)); // var(x^4) = 105 - 9
    for (std::size_t k = 0; k < tails.size(); ++k) {
        const double p = tails[k].second;
        EXPECT_NEAR(beyond[k], p * n, 5.0 * std::sqrt(n * p * (1.0 - p))) << tails[k].first;
    }
}

// The noise gain of the cascade is checked by every level measured end to end.
TEST(Passband, ButterworthSectionsAreDown3dBAtTheirCorners)
{
    for (double fs : {11025.0, 96000.0}) {
        const Biquad hp = butterworthHighPass(fs, 300.0);
        const Biquad lp = butterworthLowPass(fs, 2700.0);
        EXPECT_NEAR(powerResponse(hp, fs, 300.0), 0.5, 1e-12);
        EXPECT_NEAR(powerResponse(lp, fs, 2700.0), 0.5, 1e-12);
        EXPECT_NEAR(powerResponse(hp, fs, 0.0), 0.0, 1e-20);
        EXPECT_NEAR(powerResponse(hp, fs, fs / 2.0) * powerResponse(lp, fs, 0.0), 1.0, 1e-12);
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

// The right channel has the left's power and no correlation with it; the passband removes
// DC. (Levels read the left channel only.)
TEST(Generator, RightChannelIsIndependentNoiseOfTheSamePower)
{
    BenchGenerator gen(setupFor(96000, 2, 24, 1e-6)); // -60 .. -30 dBFS
    const std::uint32_t frames = 1u << 19;
    std::vector<std::uint8_t> buf(frames * 6);
    const double rel = benchtest::varianceRelativeSigma(96000, 300.0, 2700.0, frames);
    for (int s = 0; s < 4; ++s) {
        gen.warmUp(gen.settleFrames(), s);
        gen.generate(buf.data(), frames, std::atomic<int>{s});
        const double expected = gen.setup().statePower[s] * 8388608.0 * 8388608.0;
        const auto left = decode(buf.data(), frames, 24, 2, 0);
        const auto right = decode(buf.data(), frames, 24, 2, 1);
        const benchtest::Moments l = moments(left), r = moments(right);
        EXPECT_NEAR(r.variance, expected, 5.0 * rel * expected) << "state " << s;
        EXPECT_LT(std::fabs(r.mean), 0.01 * std::sqrt(expected));
        double cross = 0.0;
        for (std::uint32_t i = 0; i < frames; ++i)
            cross += left[i] * right[i];
        // A correlation's standard error is that of a relative variance over sqrt 2.
        EXPECT_NEAR(cross / frames / std::sqrt(l.variance * r.variance), 0.0,
                    5.0 * rel / std::sqrt(2.0));
    }
}

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
    gen.warmUp(gen.settleFrames(), 0);
    gen.generate(buf.data(), frames, std::atomic<int>{0});
    const double rel = benchtest::varianceRelativeSigma(48000, 20.0, 20000.0, frames);
    ASSERT_LT(5.0 * rel * 4.0, 0.083 / 2.0); // the test can see the correction
    EXPECT_NEAR(moments(decode(buf.data(), frames, 16, 1)).variance, 4.0, 5.0 * rel * 4.0);
}

TEST(Generator, OverloadClipsAtFullScaleAndCounts)
{
    GeneratorSetup g = setupFor(44100, 1, 16, 0.0);
    g.statePower = {0.5, 0.5, 0.5, 0.5}; // -3 dBFS RMS: clips often
    BenchGenerator gen(g);
    std::vector<std::uint8_t> buf(44100 * 2);
    gen.generate(buf.data(), 44100, std::atomic<int>{0});
    // Every clipped sample sits on a rail (a wrapped one would not).
    const auto x = decode(buf.data(), 44100, 16, 1);
    EXPECT_GT(gen.clippedSamples(), 0u);
    EXPECT_GE(std::count_if(x.begin(), x.end(), [](double v) { return v == 32767 || v == -32768; }),
              static_cast<std::ptrdiff_t>(gen.clippedSamples()));
}

// Output does not depend on how it is cut into calls, and a switch change acts from the
// very next sample.
TEST(Generator, SwitchActsFromTheNextSample)
{
    const GeneratorSetup g = setupFor(22050, 2, 24, 1e-4);
    BenchGenerator a(g), b(g);
    std::vector<std::uint8_t> ba(4000 * 6), bb(4000 * 6);
    const std::atomic<int> quiet{0}, loud{3};
    a.generate(ba.data(), 4000, quiet);
    b.generate(bb.data(), 2000, quiet);
    EXPECT_EQ(0, std::memcmp(ba.data(), bb.data(), 2000 * 6));
    b.generate(bb.data() + 2000 * 6, 2000, loud);
    const auto la = decode(ba.data(), 4000, 24, 2), lb = decode(bb.data(), 4000, 24, 2);
    EXPECT_NE(la[2000], lb[2000]); // x 31.6 input noise from this sample on
    // Once the passband has settled, the power is 1000 times higher.
    EXPECT_GT(moments({lb.begin() + 3000, lb.end()}).variance,
              100.0 * moments({la.begin() + 3000, la.end()}).variance);
}

} // namespace
} // namespace quillon
