#include "capture/ResultText.h"
#include "app/Messages.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

using quillon::ResultLine;
using quillon::ResultText;

struct DecimalsCase
{
    double value;
    int decimals;
    const char *text;
};

class ResultDecimals : public testing::TestWithParam<DecimalsCase>
{
};

TEST_P(ResultDecimals, LeadingBlankAndDecimals)
{
    const auto c = GetParam();
    EXPECT_EQ(ResultText(false, c.value, quillon::kMsgWait, c.decimals), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ResultDecimals,
    testing::Values(DecimalsCase{-37.2, 0, " -37"}, DecimalsCase{-37.2, 1, " -37.2"},
                    DecimalsCase{2.345678, 2, " 2.35"}, DecimalsCase{2.345678, 3, " 2.346"},
                    DecimalsCase{2.345678, 5, " 2.346"}, DecimalsCase{2.345678, -1, " 2.346"},
                    DecimalsCase{-120.0, 3, " -120.000"}, DecimalsCase{0.5, 0, " 0"}));

TEST(ResultText, TextFlagShowsTheStringTableEntry)
{
    EXPECT_EQ(ResultText(true, 12.0, quillon::kMsgWait, 3), " Wait...");
    EXPECT_EQ(ResultText(true, 12.0, quillon::kMsgResultError, 0), " Error");
}

TEST(ResultText, WaitForZeroOrNaN)
{
    EXPECT_TRUE(quillon::showsWait(0.0));
    EXPECT_TRUE(quillon::showsWait(-0.0));
    EXPECT_TRUE(quillon::showsWait(std::nan("")));
    EXPECT_FALSE(quillon::showsWait(1e-300));
    EXPECT_FALSE(quillon::showsWait(-120.0));
}

TEST(ResultText, CrestErrorOutside0To100)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double c : {-0.001, 100.0001, inf, -inf, std::nan("")})
        EXPECT_TRUE(quillon::showsCrestError(c)) << c;
    for (double c : {0.0, 1.0, 1.414, 100.0})
        EXPECT_FALSE(quillon::showsCrestError(c)) << c;
}

TEST(ResultLine, CollectsShownTextsWithCommas)
{
    ResultLine line;
    line.append(" -3.010");
    line.append(" Error");
    EXPECT_EQ(line.text(), " -3.010, Error,");
    line.clear();
    EXPECT_EQ(line.text(), "");
}

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
        EXPECT_EQ(t.size(), 4 * 10u);
    });
}

TEST(ShowResultText, LogsOnlyWhenAskedAndLoggingIsOn)
{
    quillon::Settings settings;
    settings.decimalPointsInResults = 1;
    ResultLine line;
    for (bool logOn : {false, true}) {
        for (bool log : {false, true}) {
            line.clear();
            line.append("x");
            settings.logMeasurements = logOn;
            EXPECT_EQ(quillon::showResultText(false, -37.25, 0, log, settings, line), " -37.2");
            EXPECT_EQ(quillon::showResultText(true, 1.0, quillon::kMsgWait, log, settings, line),
                      " Wait...");
            EXPECT_EQ(line.text(), logOn && log ? "x, -37.2, Wait...," : "x,");
        }
    }
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
