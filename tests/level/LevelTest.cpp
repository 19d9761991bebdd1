// Block level measurement and the 1 kHz high-pass filter.

#include "capture/Level.h"
#include "capture/HighPass.h"
#include "capture/ResultText.h"
#include "capture/WaveFormat.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

namespace quillon {
namespace {

CaptureFormat format(unsigned bits, unsigned channels, std::uint32_t rate = 48000)
{
    CaptureFormat f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
}

// Interleaved little-endian PCM; sample(frame, channel) gives the value.
std::vector<std::uint8_t>
makeBlock(unsigned bits, unsigned channels, std::size_t frames,
          const std::function<std::int32_t(std::size_t, unsigned)> &sample)
{
    std::vector<std::uint8_t> block;
    for (std::size_t i = 0; i < frames; ++i)
        for (unsigned ch = 0; ch < channels; ++ch)
            for (unsigned b = 0; b < bits / 8; ++b)
                block.push_back(static_cast<std::uint8_t>(
                    static_cast<std::uint32_t>(sample(i, ch)) >> (8 * b)));
    return block;
}

std::vector<std::uint8_t> monoBlock(unsigned bits, const std::vector<std::int32_t> &samples)
{
    return makeBlock(bits, 1, samples.size(), [&](std::size_t i, unsigned) { return samples[i]; });
}

std::vector<std::int32_t> sine(double amplitude, double frequency, double rate, std::size_t frames)
{
    std::vector<std::int32_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    return v;
}

BlockStats measure(const std::vector<std::uint8_t> &block, const CaptureFormat &f,
                   HighPass1kHz *filter = nullptr)
{
    return MeasureBlock(block.data(), static_cast<std::uint32_t>(block.size()), f, filter);
}

// The filter's arithmetic written out plainly, history shifted through arrays: the yardstick
// for the program's filter and for the filtered path of MeasureBlock.
struct ReferenceHighPass
{
    explicit ReferenceHighPass(std::int32_t rate, double preset)
        : row(highPassCoefficientsFor(rate))
    {
        x.fill(preset);
        y.fill(preset);
    }
    double step(double in)
    {
        std::memmove(&x[0], &x[1], 5 * sizeof(double));
        std::memmove(&y[0], &y[1], 5 * sizeof(double));
        x[5] = row.g * in;
        const auto &c = row.c;
        y[5] = (x[5] - x[0]) + 5 * (x[1] - x[4]) + 10 * (x[3] - x[2]) + c[0] * y[0] + c[1] * y[1] +
               c[2] * y[2] + c[3] * y[3] + c[4] * y[4];
        return y[5];
    }
    HighPassCoefficients row;
    std::array<double, 6> x{}, y{};
};

TEST(MeasureBlock, FullScaleSineReadsMinus3dBWithCrestRootTwo)
{
    // 1 kHz at 48 kHz: sample 12 is the crest (+32767), sample 36 the trough.
    const BlockStats st = measure(monoBlock(16, sine(32767, 1000, 48000, 48000)), format(16, 1));
    EXPECT_EQ(st.N, 48000);
    EXPECT_EQ(st.peak, 32767);
    EXPECT_NEAR(st.dB, -3.01, 0.005);
    EXPECT_NEAR(st.C, 1.414, 1e-3);
    EXPECT_TRUE(IsOverRange(st));
}

TEST(MeasureBlock, HalfScaleSquareWaveOnTheLeftOf24BitStereo)
{
    const auto block = makeBlock(24, 2, 9600, [](std::size_t i, unsigned ch) {
        return ch == 0 ? (i % 2 ? -4194304 : 4194304) : 8388607;
    });
    const BlockStats st = measure(block, format(24, 2));
    EXPECT_EQ(st.N, 9600);
    EXPECT_EQ(st.peak, 4194304);
    EXPECT_EQ(st.L, 0.5);
    EXPECT_NEAR(st.dB, -6.0206, 1e-4);
    EXPECT_EQ(st.C, 1.0);
}

TEST(MeasureBlock, NegativeSamplesDecodeAndGiveThePeakFromTheMean)
{
    // 0x800000 is -8388608, 0xFFFFFF is -1.
    const BlockStats st24 = measure(monoBlock(24, {-8388608, -1, 8388607, 1}), format(24, 1));
    EXPECT_EQ(st24.sum, -1);
    EXPECT_EQ(st24.peak, 8388608);
    EXPECT_EQ(st24.sumsq, SquareSum{8388608} * 8388608 + SquareSum{8388607} * 8388607 + 2);
    const BlockStats st16 = measure(monoBlock(16, {100, 15000, -20000, 3, -19999}), format(16, 1));
    EXPECT_EQ(st16.peak, 20000);
    EXPECT_DOUBLE_EQ(st16.P, (20000 + 24896.0 / 5) / 32768);
}

// Readings stop at -120 dB: a level of one millionth and below, DC alone, an empty block.
TEST(MeasureBlock, LevelsAtOrBelowOneMillionthReadMinus120)
{
    EXPECT_EQ(levelToDb(0.000001), -120.0);
    EXPECT_GT(levelToDb(0.00000100001), -120.0);
    EXPECT_EQ(levelToDb(std::nan("")), -120.0);
    // +-8 on 24 bits is L = 8 / 2^23 = 9.5e-7: -120 dB, not -120.4 dB.
    const auto square = [](std::int32_t a) {
        return measure(
            makeBlock(24, 1, 1000, [a](std::size_t i, unsigned) { return i % 2 ? -a : a; }),
            format(24, 1));
    };
    EXPECT_EQ(square(8).dB, -120.0);
    EXPECT_NEAR(square(9).dB, 20 * std::log10(9.0 / 8388608), 1e-9);

    const BlockStats dc =
        measure(monoBlock(16, std::vector<std::int32_t>(1000, 1000)), format(16, 1));
    EXPECT_EQ(dc.L, 0.0);
    EXPECT_EQ(dc.dB, -120.0);
    EXPECT_TRUE(showsCrestError(dc.C)); // P / 0

    const std::vector<std::uint8_t> partial(5, 0x7F); // less than one 24-bit stereo frame
    for (std::uint32_t recorded : {0u, 5u}) {
        const BlockStats st = MeasureBlock(partial.data(), recorded, format(24, 2), nullptr);
        EXPECT_EQ(st.N, 0);
        EXPECT_EQ(st.dB, -120.0);
        EXPECT_TRUE(showsCrestError(st.C));
        EXPECT_FALSE(IsOverRange(st));
    }
}

// Exactly sized buffers: a read past the whole frames is reported by AddressSanitizer, and
// the stray bytes would change the numbers.
TEST(MeasureBlock, TrailingPartialFrameIsNeverRead)
{
    for (const auto [bits, channels, extra] :
         {std::array<unsigned, 3>{16, 1, 1}, {16, 2, 3}, {24, 1, 2}, {24, 2, 5}}) {
        const auto whole = makeBlock(bits, channels, 1103, [](std::size_t i, unsigned) {
            return static_cast<std::int32_t>(i * 37 % 2001) - 1000;
        });
        auto withTail = whole;
        withTail.insert(withTail.end(), extra, 0x7F);
        const BlockStats a = measure(whole, format(bits, channels));
        const BlockStats b = measure(withTail, format(bits, channels));
        EXPECT_EQ(b.N, 1103);
        EXPECT_EQ(b.sum, a.sum);
        EXPECT_EQ(b.sumsq, a.sumsq);
    }
}

// Fault mended: the design summed a 24-bit block in 32 bits, which overflows with a large DC
// offset or a loud 10 s block: full-scale DC for 10 s at 96 kHz sums to 8.05e12.
TEST(MeasureBlock, LongLoudBlocksDoNotOverflowTheSums)
{
    const auto block = makeBlock(24, 2, 960000, [](std::size_t, unsigned) { return 8388607; });
    const BlockStats st = measure(block, format(24, 2, 96000));
    EXPECT_EQ(st.sum, std::int64_t{8388607} * 960000);
    EXPECT_EQ(st.sumsq, SquareSum{8388607} * 8388607 * 960000);
    EXPECT_EQ(st.L, 0.0);
}

// 0.98 x 32768 = 32112.64 and 0.98 x 8388608 = 8220835.84; exactly 0.98 passes.
TEST(IsOverRange, LimitIs98PercentOfFullScale)
{
    struct Case
    {
        unsigned bits;
        std::int32_t peak;
        bool over;
    };
    for (const Case c : {Case{16, 32112, false},
                         {16, 32113, true},
                         {16, -32112, false},
                         {16, -32113, true},
                         {16, -32768, true},
                         {24, 8220835, false},
                         {24, 8220836, true},
                         {24, -8220836, true}})
        EXPECT_EQ(IsOverRange(measure(monoBlock(c.bits, {0, c.peak, 0}), format(c.bits, 1))),
                  c.over)
            << c.peak;
    BlockStats st;
    st.s = 0.98 / 1000;
    st.peak = 1000;
    ASSERT_EQ(static_cast<double>(st.peak) * st.s, 0.98);
    EXPECT_FALSE(IsOverRange(st));
    st.peak = 1001;
    EXPECT_TRUE(IsOverRange(st));
}

// The table's rows are checked through the response below; the 22.05 kHz row spot-checked.
TEST(HighPass, UnknownRatesUseThe96kHzRow)
{
    HighPass1kHz f;
    for (std::int32_t rate : {8000, 0, -1, 44099, 192000}) {
        f.SelectHighPass(11025);
        f.SelectHighPass(rate);
        EXPECT_EQ(f.coefficients().sampleRate, 96000) << rate;
    }
    f.SelectHighPass(22050);
    EXPECT_EQ(f.coefficients().g, 0.6293909994122653);
    EXPECT_EQ(f.coefficients().c[4], 4.0787649342);
}

class FilterAtRate : public testing::TestWithParam<std::int32_t>
{
protected:
    std::int32_t rate = GetParam();
    HighPass1kHz filter;
    void SetUp() override { filter.SelectHighPass(rate); }
};

// The filter's step and the register-resident run (rings of six and single steps, as
// MeasureBlock interleaves them) give, bit for bit, what the reference gives.
TEST_P(FilterAtRate, StepsAreBitIdenticalToTheReference)
{
    std::vector<double> in(50000);
    std::uint32_t state = static_cast<std::uint32_t>(rate);
    for (double &v : in) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<std::int32_t>(state >> 8) - 8388608.5;
    }
    ReferenceHighPass ref(rate, in[0]);
    HighPass1kHz forRun = filter;
    filter.PresetHighPass(in[0]);
    forRun.PresetHighPass(in[0]);
    HighPassRun run(forRun);
    std::vector<double> expected, member, viaRun;
    for (double x : in) {
        expected.push_back(ref.step(x));
        member.push_back(filter(x));
    }
    for (std::size_t next = 0; next < in.size();) {
        if (in.size() - next >= 6)
            run.step6([&] { return in[next++]; }, [&](double y) { viaRun.push_back(y); });
        if (next < in.size())
            viaRun.push_back(run.step(in[next++]));
    }
    ASSERT_EQ(viaRun.size(), in.size());
    EXPECT_EQ(std::memcmp(member.data(), expected.data(), in.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(viaRun.data(), expected.data(), in.size() * sizeof(double)), 0);
    run.storeInto(forRun);
    EXPECT_EQ(forRun.history().y, ref.y);
    EXPECT_EQ(forRun.history().x, ref.x);
}

// Through MeasureBlock on full-range noise: the block's sums of the truncated outputs and
// the history it ends with match the reference.
TEST_P(FilterAtRate, FilteredBlockMatchesTheReference)
{
    std::vector<std::int32_t> samples(20011);
    std::uint32_t state = 12345;
    for (auto &v : samples) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<std::int32_t>(state >> 8) - 8388608;
    }
    for (unsigned bits : {16u, 24u}) {
        if (bits == 16)
            for (auto &v : samples)
                v >>= 8;
        ReferenceHighPass ref(rate, samples.front());
        std::int64_t sum = 0, peak = 0;
        SquareSum sumsq = 0;
        for (std::int32_t v : samples) {
            const auto x = static_cast<std::int64_t>(ref.step(v)); // truncation toward 0
            sum += x;
            sumsq += static_cast<SquareSum>(x * x);
            peak = std::max<std::int64_t>(peak, std::llabs(x));
        }
        const BlockStats st = measure(monoBlock(bits, samples), format(bits, 1, rate), &filter);
        EXPECT_EQ(st.sum, sum);
        EXPECT_EQ(st.sumsq, sumsq);
        EXPECT_EQ(st.peak, peak);
        EXPECT_EQ(filter.history().x, ref.x);
        EXPECT_EQ(filter.history().y, ref.y);
    }
}

// Fault mended: a filtered 16-bit sample beyond +-32767 is kept as the 32-bit value it is.
// A full-scale click comes out of the filter at 35,000 to 40,000; wrapped to 16 bits those
// samples would read as smaller ones of the wrong sign, and pass the over-range test.
TEST_P(FilterAtRate, OvershootBeyond16BitsIsKept)
{
    std::vector<std::int32_t> click(2000, 0);
    click[100] = -32767;
    click[101] = 32767;
    ReferenceHighPass ref(rate, 0);
    std::int64_t peak = 0, wrappedPeak = 0;
    for (std::int32_t v : click) {
        const auto x = static_cast<std::int64_t>(ref.step(v));
        peak = std::max<std::int64_t>(peak, std::llabs(x));
        wrappedPeak = std::max<std::int64_t>(wrappedPeak, std::abs(static_cast<std::int16_t>(x)));
    }
    ASSERT_GT(peak, 35000);
    ASSERT_LT(wrappedPeak, 32112); // what the wrap would have read
    const BlockStats st = measure(monoBlock(16, click), format(16, 1, rate), &filter);
    EXPECT_EQ(st.peak, peak);
    EXPECT_TRUE(IsOverRange(st));
}

// The history is preset from each block's first sample, never carried over; the right
// channel takes no part.
TEST_P(FilterAtRate, EachBlockStartsAfreshOnItsLeftChannel)
{
    const auto samples = sine(12000, 3000, rate, 2000);
    const auto a = monoBlock(16, samples);
    const BlockStats first = measure(a, format(16, 1, rate), &filter);
    measure(monoBlock(16, sine(-30000, 200, rate, 3000)), format(16, 1, rate), &filter);
    EXPECT_EQ(measure(a, format(16, 1, rate), &filter).sumsq, first.sumsq);

    const auto stereo = makeBlock(16, 2, samples.size(), [&](std::size_t i, unsigned ch) {
        return ch == 0 ? samples[i] : (i % 2 ? 32767 : -32767);
    });
    EXPECT_EQ(measure(stereo, format(16, 2, rate), &filter).sumsq, first.sumsq);
    EXPECT_EQ(measure(stereo, format(16, 2, rate)).sumsq, measure(a, format(16, 1, rate)).sumsq);
}

// The response on a 1 s, 16-bit sine through MeasureBlock, in dB against the same block
// unfiltered.
TEST_P(FilterAtRate, StopsLowFrequenciesAndPassesHighOnes)
{
    const auto responseDb = [&](double frequency) {
        const auto block = monoBlock(16, sine(10000, frequency, rate, rate));
        return measure(block, format(16, 1, rate), &filter).dB -
               measure(block, format(16, 1, rate)).dB;
    };
    EXPECT_LT(responseDb(300), -48.0);
    EXPECT_NEAR(responseDb(1000), -3.02, 0.05);
    EXPECT_NEAR(responseDb(5000), 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Rates, FilterAtRate, testing::Values(11025, 22050, 44100, 48000, 96000));

} // namespace
} // namespace quillon
