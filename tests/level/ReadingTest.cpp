// The running average over the reading history, the stored reference, and the result texts.

#include "app/Messages.h"
#include "app/Settings.h"
#include "capture/ReadingHistory.h"
#include "capture/ResultText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace quillon {
namespace {

// Runs blocks through the history as the Measure Noise callback does, from the start of a
// capture; returns the current reading after each.
std::vector<double> run(ReadingHistory &h, const std::vector<double> &dB, bool averaging, int count)
{
    h.clearWrapped();
    std::vector<double> out;
    int p = 0;
    for (double d : dB) {
        out.push_back(h.addReading(p, d, averaging, count));
        p = h.advance(p);
    }
    return out;
}

std::vector<double> ramp(int n) // block i reads -i dB
{
    std::vector<double> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(-i);
    return v;
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
    const auto again = run(h, {-10, -20, -30}, true, 8);
    EXPECT_TRUE(std::isnan(again[0]));
    EXPECT_EQ(again[2], -25.0);
}

TEST(RunningAverage, CountIsClampedTo0Through32AndTheRingWraps)
{
    ReadingHistory a;
    const auto with40 = run(a, ramp(70), true, 40);
    // Before the ring wraps (block 11 at position 10) the count is limited to 10.
    EXPECT_DOUBLE_EQ(with40[10], -6.5); // mean of blocks 2..11
    // From the wrap on, index 0 takes part and the window goes backwards across 0 -> 31.
    EXPECT_DOUBLE_EQ(with40[33], -18.5); // block 34 at position 1: mean of blocks 3..34
    EXPECT_DOUBLE_EQ(with40[69], -54.5); // mean of blocks 39..70
    for (int count : {0, -5}) {
        ReadingHistory h;
        for (double v : run(h, ramp(40), true, count))
            EXPECT_TRUE(std::isnan(v));
    }
    ReadingHistory h;
    h.store(33, -7.0); // a counter beyond the ring is taken modulo 32
    EXPECT_EQ(h.at(1), -7.0);
}

TEST(RunningAverage, OffShowsEachBlockAndTheReferenceGivesTheRelativeReading)
{
    ReadingHistory h;
    EXPECT_EQ(run(h, {-10, -20, -30}, false, 4), (std::vector<double>{-10, -20, -30}));
    EXPECT_FALSE(StoredReference{}.valid);
    const auto ref = storeReference(-37.25);
    EXPECT_TRUE(ref.valid);
    EXPECT_EQ(relativeReading(-40.0, ref), -2.75);
}

TEST(ResultText, LeadingBlankDecimalsWaitAndError)
{
    struct Case
    {
        double value;
        int decimals;
        const char *text;
    };
    for (const Case c : {Case{-37.2, 0, " -37"},
                         {-37.2, 1, " -37.2"},
                         {2.345678, 2, " 2.35"},
                         {2.345678, 3, " 2.346"},
                         {2.345678, 5, " 2.346"},
                         {2.345678, -1, " 2.346"},
                         {-120.0, 3, " -120.000"},
                         {0.5, 0, " 0"}})
        EXPECT_EQ(ResultText(false, c.value, kMsgWait, c.decimals), c.text);
    EXPECT_EQ(ResultText(true, 12.0, kMsgWait, 3), " Wait...");
    EXPECT_EQ(ResultText(true, 12.0, kMsgResultError, 0), " Error");

    for (double v : {0.0, -0.0, std::nan("")})
        EXPECT_TRUE(showsWait(v)) << v;
    EXPECT_FALSE(showsWait(1e-300));
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double c : {-0.001, 100.0001, inf, -inf, std::nan("")})
        EXPECT_TRUE(showsCrestError(c)) << c;
    for (double c : {0.0, 100.0})
        EXPECT_FALSE(showsCrestError(c)) << c;
}

TEST(ResultLine, LogsShownTextsOnlyWhenAskedAndLoggingIsOn)
{
    Settings settings;
    settings.decimalPointsInResults = 1;
    ResultLine line;
    for (bool logOn : {false, true}) {
        for (bool log : {false, true}) {
            line.clear();
            line.append("x");
            settings.logMeasurements = logOn;
            EXPECT_EQ(showResultText(false, -37.25, 0, log, settings, line), " -37.2");
            EXPECT_EQ(showResultText(true, 1.0, kMsgWait, log, settings, line), " Wait...");
            EXPECT_EQ(line.text(), logOn && log ? "x, -37.2, Wait...," : "x,");
        }
    }
}

// Nothing allocates per block: the line keeps its storage.
TEST(ResultLine, BlockAfterBlockReusesItsStorage)
{
    ResultLine line;
    const std::size_t capacity = line.capacity();
    EXPECT_GE(capacity, ResultLine::kReservedChars);
    const char *storage = nullptr;
    line.read([&](std::string_view t) { storage = t.data(); });
    for (int block = 0; block < 1000; ++block) {
        line.clear();
        for (int result = 0; result < 4; ++result)
            line.append(" -123.456");
    }
    EXPECT_EQ(line.capacity(), capacity);
    line.read([&](std::string_view t) {
        EXPECT_EQ(t.data(), storage);
        EXPECT_EQ(t, " -123.456, -123.456, -123.456, -123.456,");
    });
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
