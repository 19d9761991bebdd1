#include "LevelTestSupport.h"

#include "capture/HighPass.h"
#include "capture/Level.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace leveltest;
using quillon::HighPass1kHz;

namespace {

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<double> noise(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-8388608.0, 8388607.0);
    std::vector<double> v(n);
    for (auto &x : v)
        x = d(gen);
    return v;
}

} // namespace

TEST(SelectHighPass, UnknownRatesUseThe96kHzRow)
{
    for (std::int32_t rate : {8000, 0, -1, 44099, 192000}) {
        HighPass1kHz f;
        f.SelectHighPass(11025);
        f.SelectHighPass(rate);
        EXPECT_EQ(f.coefficients().sampleRate, 96000) << rate;
        EXPECT_EQ(f.coefficients().g, 0.8994935023148453);
    }
    HighPass1kHz f;
    f.SelectHighPass(22050);
    EXPECT_EQ(f.coefficients().g, 0.6293909994122653);
    EXPECT_EQ(f.coefficients().c[4], 4.0787649342);
}

class HighPassRate : public testing::TestWithParam<std::int32_t>
{
};

// The program's step and the register-resident loop both give, bit for bit, what the
// specified arithmetic gives, including the state they end in.
TEST_P(HighPassRate, StepsAreBitIdenticalToTheReference)
{
    const std::int32_t rate = GetParam();
    const auto in = noise(50000, static_cast<unsigned>(rate));
    ReferenceHighPass ref(rate);
    HighPass1kHz member;
    HighPass1kHz forRun;
    member.SelectHighPass(rate);
    forRun.SelectHighPass(rate);
    ref.preset(in[0]);
    member.PresetHighPass(in[0]);
    forRun.PresetHighPass(in[0]);
    std::vector<double> expected;
    for (double x : in)
        expected.push_back(ref.step(x));

    int mismatches = 0;
    for (std::size_t i = 0; i < in.size(); ++i)
        mismatches += !sameBits(member(in[i]), expected[i]);
    EXPECT_EQ(mismatches, 0);

    // Ring steps of six and single steps, interleaved as MeasureBlock uses them.
    quillon::HighPassRun run(forRun);
    std::vector<double> out;
    std::size_t next = 0;
    while (next < in.size()) {
        if (in.size() - next >= 6)
            run.step6([&] { return in[next++]; }, [&](double y) { out.push_back(y); });
        if (next < in.size())
            out.push_back(run.step(in[next++]));
    }
    ASSERT_EQ(out.size(), expected.size());
    mismatches = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        mismatches += !sameBits(out[i], expected[i]);
    EXPECT_EQ(mismatches, 0);
    run.storeInto(forRun);
    EXPECT_EQ(forRun.history().y, ref.y);
    EXPECT_EQ(forRun.history().x, ref.x);
    EXPECT_EQ(member.history().y, ref.y);
}

// The response on a 1 s, 16-bit sine (amplitude 10000) through MeasureBlock, in dB against
// the same block unfiltered.
double responseDb(std::int32_t rate, double frequency)
{
    const auto block = monoBlock(16, sine(10000, frequency, rate, rate));
    const auto f = format(16, 1, rate);
    HighPass1kHz filter;
    filter.SelectHighPass(rate);
    const auto on = quillon::MeasureBlock(block.data(), block.size(), f, &filter);
    const auto off = quillon::MeasureBlock(block.data(), block.size(), f, nullptr);
    return on.dB - off.dB;
}

TEST_P(HighPassRate, StopsLowFrequenciesAndPassesHighOnes)
{
    const std::int32_t rate = GetParam();
    EXPECT_LT(responseDb(rate, 300), -48.0);
    EXPECT_NEAR(responseDb(rate, 1000), -3.02, 0.05);
    EXPECT_NEAR(responseDb(rate, 5000), 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Rates, HighPassRate, testing::Values(11025, 22050, 44100, 48000, 96000));
