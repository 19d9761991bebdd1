// Block levels, the 1 kHz high-pass, the running average, the reference and the result texts.

#include "capture/Level.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "capture/HighPass.h"
#include "capture/ReadingHistory.h"
#include "capture/ResultText.h"
#include "capture/WaveFormat.h"
#include "support/PcmBlocks.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

using test::format;
using test::makeBlock;
using test::measureBuffer;
using test::toneBlock;

std::vector<std::uint8_t> monoBlock(unsigned bits, const std::vector<std::int32_t> &samples)
{
    return makeBlock(bits, 1, samples.size(), [&](std::size_t i, unsigned) { return samples[i]; });
}

TEST(measureBlock, WorkedLevelsOnTheFirstChannel)
{
    const BlockStats st = measureBuffer(toneBlock(32767, 1000, 48000, 48000), format(16, 1));
    EXPECT_EQ(st.peak, 32767);
    EXPECT_NEAR(st.dB, -3.01, 0.005);
    EXPECT_NEAR(st.C, 1.414, 1e-3);

    // Half-scale square on the left of 24-bit stereo; the full-scale right takes no part.
    const auto halfSquare = makeBlock(24, 2, 9600, [](std::size_t i, unsigned ch) {
        return ch ? 8388607 : (i % 2 ? -4194304 : 4194304);
    });
    const BlockStats sq = measureBuffer(halfSquare, format(24, 2));
    EXPECT_NEAR(sq.dB, -6.0206, 1e-4);
    EXPECT_EQ(sq.C, 1.0);
}

// Readings stop at -120 dB: a level of one millionth and below, DC alone.
TEST(measureBlock, LevelsAtOrBelowOneMillionthReadMinus120)
{
    EXPECT_EQ(levelToDb(0.000001), -120.0);
    const auto square = [](std::int32_t a) { // +-8 on 24 bits: L = 9.5e-7
        return measureBuffer(
            makeBlock(24, 1, 1000, [a](std::size_t i, unsigned) { return i % 2 ? -a : a; }),
            format(24, 1));
    };
    EXPECT_EQ(square(8).dB, -120.0);
    EXPECT_NEAR(square(9).dB, 20 * std::log10(9.0 / 8388608), 1e-9);
    for (const std::int32_t level : {1000, -1000}) { // |mean| is removed, whatever its sign
        const BlockStats dc =
            measureBuffer(monoBlock(16, std::vector<std::int32_t>(1000, level)), format(16, 1));
        EXPECT_EQ(dc.dB, -120.0) << level;
        EXPECT_TRUE(showsCrestError(dc.C)); // P / 0
    }
}

// Exactly sized buffers (AddressSanitizer sees over-reads); under one frame reads -120 dB.
TEST(measureBlock, TrailingPartialFrameIsNeverRead)
{
    for (const auto [bits, channels, extra] :
         {std::array<unsigned, 3>{16, 1, 1}, {16, 2, 3}, {24, 1, 2}, {24, 2, 5}}) {
        auto block = makeBlock(bits, channels, 1103, [](std::size_t i, unsigned) {
            return static_cast<std::int32_t>(i * 37 % 2001) - 1000;
        });
        const BlockStats whole = measureBuffer(block, format(bits, channels));
        block.insert(block.end(), extra, 0x7F);
        EXPECT_EQ(measureBuffer(block, format(bits, channels)).sumsq, whole.sumsq);
        EXPECT_EQ(measureBuffer({block.begin(), block.begin() + extra}, format(bits, channels)).dB,
                  -120.0);
    }
}

// Fault mended: a 24-bit block was summed in 32 bits; 10 s of full-scale DC sums to 8.05e12.
TEST(measureBlock, NegativeSamplesDecodeAndLongLoudBlocksDoNotOverflowTheSums)
{
    const BlockStats st24 = measureBuffer(monoBlock(24, {-8388608, -1, 8388607, 1}), format(24, 1));
    EXPECT_EQ(st24.sum, -1);
    EXPECT_EQ(st24.peak, 8388608);
    EXPECT_EQ(st24.sumsq, SquareSum{8388608} * 8388608 + SquareSum{8388607} * 8388607 + 2);
    const BlockStats st16 = measureBuffer(monoBlock(16, {100, 15000, -20000, 3, -19999}), format(16, 1));
    EXPECT_DOUBLE_EQ(st16.P, (20000 + 24896.0 / 5) / 32768); // (peak - mean) * s
    const auto block = makeBlock(24, 2, 960000, [](std::size_t, unsigned) { return 8388607; });
    const BlockStats st = measureBuffer(block, format(24, 2, 96000));
    EXPECT_EQ(st.sum, std::int64_t{8388607} * 960000);
    EXPECT_EQ(st.sumsq, SquareSum{8388607} * 8388607 * 960000);
    EXPECT_EQ(st.L, 0.0);
    // Filtered: 10 s of full-range noise, every 1000th sample -8388608, squares near 2.2e19;
    // uniform noise's -4.77 dB less what the high-pass takes.
    std::uint32_t state = 1;
    const auto noise = makeBlock(24, 1, 960000, [&](std::size_t i, unsigned) {
        state = state * 1664525u + 1013904223u;
        return i % 1000 ? static_cast<std::int32_t>(state >> 8) - 8388608 : -8388608;
    });
    HighPass1kHz filter;
    filter.selectHighPass(96000);
    EXPECT_NEAR(measureBuffer(noise, format(24, 1, 96000), &filter).dB, -4.85, 0.02);
}

// Bit for bit, in every layout, at lengths around groups of eight, exactly sized buffers;
// long blocks at negative full scale take the 32-bit lane sums to their limit.
TEST(measureBlock, VectorAndPlainLoopsAgree)
{
    struct Restore
    {
        ~Restore() { setVectorMeasurement(true); }
    } restore;
    auto both = [](const std::vector<std::uint8_t> &block, const CaptureFormat &f) {
        setVectorMeasurement(false);
        const BlockStats plain = measureBuffer(block, f);
        setVectorMeasurement(true);
        const BlockStats vector = measureBuffer(block, f);
        EXPECT_TRUE(plain.N == vector.N && plain.sum == vector.sum && plain.sumsq == vector.sumsq &&
                    plain.peak == vector.peak)
            << f.bitsPerSample << " bit, " << f.channels << " channels, " << plain.N << " frames";
        EXPECT_EQ(std::bit_cast<std::uint64_t>(plain.dB), std::bit_cast<std::uint64_t>(vector.dB));
    };
    std::uint32_t state = 99;
    for (const auto [bits, channels] :
         {std::array<std::uint16_t, 2>{16, 1}, {16, 2}, {16, 3}, {24, 1}, {24, 2}})
        for (const std::size_t frames : {0, 1, 7, 8, 9, 10, 11, 17, 23, 1000, 70001})
            both(makeBlock(bits, channels, frames,
                           [&](std::size_t, unsigned) {
                               state = state * 1664525u + 1013904223u;
                               return static_cast<std::int32_t>(state) >> (32 - bits);
                           }),
                 format(bits, channels));
    both(monoBlock(24, std::vector<std::int32_t>(1100001, -8388608)), format(24, 1));
    both(monoBlock(16, std::vector<std::int32_t>(300001, -32768)), format(16, 1));
}

// 0.98 x 32768 = 32112.64 and 0.98 x 8388608 = 8220835.84; exactly 0.98 passes.
TEST(isOverRange, LimitIs98PercentOfFullScale)
{
    const std::tuple<std::uint16_t, std::int32_t, bool> cases[] = {
        {16, 32112, false}, {16, 32113, true},    {16, -32112, false}, {16, -32113, true},
        {16, -32768, true}, {24, 8220835, false}, {24, 8220836, true}, {24, -8220836, true}};
    for (const auto &[bits, peak, over] : cases)
        EXPECT_EQ(isOverRange(measureBuffer(monoBlock(bits, {0, peak, 0}), format(bits, 1))), over)
            << peak;
    const BlockStats exact{.peak = 1000, .s = 0.98 / 1000};
    ASSERT_EQ(static_cast<double>(exact.peak) * exact.s, 0.98);
    EXPECT_FALSE(isOverRange(exact));
}

TEST(HighPass, UnknownRatesUseThe96kHzRow)
{
    HighPass1kHz f;
    for (std::int32_t rate : {8000, 0, -1, 44099, 192000}) {
        f.selectHighPass(11025);
        f.selectHighPass(rate);
        EXPECT_EQ(f.coefficients().sampleRate, 96000) << rate;
    }
}

class FilterAtRate : public testing::TestWithParam<std::int32_t>
{
protected:
    void SetUp() override { filter.selectHighPass(rate); }
    std::int32_t rate = GetParam();
    HighPass1kHz filter;
};

// measureBlock's register ring gives the plain step's (operator()) truncated sums bit for
// bit, history preset from the block's first sample; the 16-bit right channel takes no part.
TEST_P(FilterAtRate, FilteredBlockIsBitIdenticalToThePlainStep)
{
    std::vector<std::int32_t> samples(20011);
    std::uint32_t state = 12345;
    for (auto &v : samples)
        v = static_cast<std::int32_t>((state = state * 1664525u + 1013904223u) >> 8) - 8388608;
    for (std::uint16_t bits : {24, 16}) {
        if (bits == 16)
            for (auto &v : samples)
                v >>= 8;
        const std::uint16_t channels = bits == 16 ? 2 : 1;
        const auto block =
            makeBlock(bits, channels, samples.size(), [&](std::size_t i, unsigned ch) {
                return ch ? (i % 2 ? 32767 : -32768) : samples[i];
            });
        HighPass1kHz plain = filter;
        plain.presetHighPass(samples.front());
        std::int64_t peak = 0;
        SquareSum sumsq = 0;
        for (std::int32_t v : samples) {
            const auto x = static_cast<std::int64_t>(plain(v)); // truncation toward 0
            sumsq += static_cast<SquareSum>(x * x);
            peak = std::max<std::int64_t>(peak, std::abs(x));
        }
        const BlockStats st = measureBuffer(block, format(bits, channels, rate), &filter);
        EXPECT_EQ(st.sumsq, sumsq);
        EXPECT_EQ(st.peak, peak);
    }
}

// The response on a 1 s, 16-bit sine, in dB against the same block unfiltered. Fault
// mended: a full-scale click's overshoot above 35,000 is kept, not wrapped to 16 bits.
TEST_P(FilterAtRate, StopsLowFrequenciesPassesHighOnesAndKeepsOvershoot)
{
    const auto click = makeBlock(16, 1, 2000, [](std::size_t i, unsigned) {
        return i == 100 ? -32767 : i == 101 ? 32767 : 0;
    });
    const BlockStats st = measureBuffer(click, format(16, 1, rate), &filter);
    EXPECT_TRUE(st.peak > 35000 && isOverRange(st));

    const auto responseDb = [&](double frequency) {
        const auto block = toneBlock(10000, frequency, rate, rate);
        return measureBuffer(block, format(16, 1, rate), &filter).dB -
               measureBuffer(block, format(16, 1, rate)).dB;
    };
    EXPECT_LT(responseDb(300), -48.0);
    EXPECT_NEAR(responseDb(1000), -3.02, 0.05);
    EXPECT_NEAR(responseDb(5000), 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Rates, FilterAtRate, testing::Values(11025, 22050, 44100, 48000, 96000));

// The readings of blocks run through the history from a capture's start.
std::vector<double> run(ReadingHistory &h, const std::vector<double> &dB, bool averaging, int count)
{
    h.clearWrapped();
    std::vector<double> out;
    for (int p = 0; double d : dB) {
        out.push_back(h.addReading(p, d, averaging, count));
        p = h.advance(p);
    }
    return out;
}

TEST(RunningAverage, SkipsTheFirstBlockOfEachCapture)
{
    ReadingHistory h;
    const auto out = run(h, {-10, -20, -30, -40, -50, -60}, true, 4);
    EXPECT_TRUE(showsWait(out[0]));
    EXPECT_EQ(std::vector<double>(out.begin() + 1, out.end()),
              (std::vector<double>{-20, -25, -30, -35, -45}));
    // An earlier capture that wrapped the ring takes no part in a new one.
    run(h, std::vector<double>(40, -99.0), true, 8);
    ASSERT_TRUE(h.wrapped());
    EXPECT_EQ(run(h, {-10, -20, -30}, true, 8)[2], -25.0);
    EXPECT_EQ(run(h, {-10, -20, -30}, false, 4), (std::vector<double>{-10, -20, -30}));
}

TEST(RunningAverage, CountIsClampedTo0Through32AndTheRingWraps)
{
    std::vector<double> ramp(70); // block i reads -i dB
    std::iota(ramp.rbegin(), ramp.rend(), -70.0);
    ReadingHistory a;
    const auto with40 = run(a, ramp, true, 40);
    EXPECT_DOUBLE_EQ(with40[10], -6.5);  // before the wrap at most 10 blocks: 2..11
    EXPECT_DOUBLE_EQ(with40[33], -18.5); // block 34 at position 1, back across 0: 3..34
    EXPECT_DOUBLE_EQ(with40[69], -54.5); // 39..70
    for (int count : {0, -5})
        for (double v : run(a, ramp, true, count))
            EXPECT_TRUE(std::isnan(v));
    a.store(33, -7.0); // a counter beyond the ring is taken modulo 32
    EXPECT_EQ(a.at(1), -7.0);
}

TEST(ResultText, LeadingBlankDecimalsWaitAndError)
{
    const std::tuple<double, int, const char *> cases[] = {
        {-37.2, 0, " -37"},       {-37.2, 1, " -37.2"},    {2.345678, 2, " 2.35"},
        {2.345678, 3, " 2.346"},  {2.345678, 5, " 2.346"}, {2.345678, -1, " 2.346"},
        {-120.0, 3, " -120.000"}, {0.5, 0, " 0"}};
    for (const auto &[value, decimals, text] : cases)
        EXPECT_EQ(resultText(false, value, kMsgWait, decimals), text);
    EXPECT_EQ(resultText(true, 12.0, kMsgWait, 3), messageText(kMsgWait));
    EXPECT_EQ(resultText(true, 12.0, kMsgResultError, 0), messageText(kMsgResultError));
    for (double v : {0.0, -0.0, std::nan("")})
        EXPECT_TRUE(showsWait(v)) << v;
    EXPECT_FALSE(showsWait(1e-300));
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double c : {-0.001, 100.0001, inf, -inf, std::nan("")})
        EXPECT_TRUE(showsCrestError(c)) << c;
    EXPECT_FALSE(showsCrestError(0.0) || showsCrestError(100.0));
}

// Nothing allocates per block: the line keeps its storage.
TEST(ResultLine, LogsShownTextsOnlyWhenAskedAndLoggingIsOnAndKeepsItsStorage)
{
    Settings settings;
    settings.decimalPointsInResults = 1;
    ResultLine line;
    const std::string wait = messageText(kMsgWait);
    for (int i = 0; i < 4; ++i) {
        const bool logOn = i & 1, log = i & 2;
        line.clear();
        line.append("x");
        settings.logMeasurements = logOn;
        EXPECT_EQ(showResultText(false, -37.25, 0, log, settings, line), " -37.2");
        EXPECT_EQ(showResultText(true, 1.0, kMsgWait, log, settings, line), wait);
        EXPECT_EQ(line.text(), logOn && log ? "x, -37.2," + wait + "," : "x,");
    }
    const std::size_t capacity = line.capacity();
    for (int i = 0; i < 4000; ++i) {
        if (i % 4 == 0)
            line.clear();
        line.append(" -123.456");
    }
    EXPECT_EQ(line.capacity(), capacity);
    EXPECT_EQ(line.text(), " -123.456, -123.456, -123.456, -123.456,");
}

TEST(ResultLine, AppendsFromTheCaptureThreadWhileTheWindowReads)
{
    ResultLine line;
    std::thread capture([&] {
        for (int i = 0; i < 2000; ++i)
            line.append(" 1");
    });
    std::size_t longest = 0;
    for (int i = 0; i < 2000; ++i)
        line.read([&](std::string_view t) { longest = std::max(longest, t.size()); });
    capture.join();
    EXPECT_EQ(line.text().size(), 2000u * 3);
    EXPECT_LE(longest, 2000u * 3);
}

} // namespace
} // namespace quillon
