#include "app/NumberText.h"
#include "app/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using quillon::formatFixed;
using quillon::parseDecimal;

TEST(ParseDecimal, ReadsTheLongestDecimalPrefix)
{
    EXPECT_DOUBLE_EQ(parseDecimal("293.5"), 293.5);
    EXPECT_DOUBLE_EQ(parseDecimal("  -12.25dB"), -12.25);
    EXPECT_DOUBLE_EQ(parseDecimal("+7"), 7.0);
    EXPECT_DOUBLE_EQ(parseDecimal(".5"), 0.5);
    EXPECT_DOUBLE_EQ(parseDecimal("5."), 5.0);
    EXPECT_DOUBLE_EQ(parseDecimal("1.5e3"), 1500.0);
    EXPECT_DOUBLE_EQ(parseDecimal("1.5E-2x"), 0.015);
    EXPECT_DOUBLE_EQ(parseDecimal("25.0,15"), 25.0);
    // An exponent without digits is not part of the number.
    EXPECT_DOUBLE_EQ(parseDecimal("2e"), 2.0);
    EXPECT_DOUBLE_EQ(parseDecimal("2e+"), 2.0);
    // A comma is never a decimal point.
    EXPECT_DOUBLE_EQ(parseDecimal("293,50"), 293.0);
}

TEST(ParseDecimal, TextWithoutANumberReadsZero)
{
    for (const char *text : {"", " ", "abc", "-", "+", ".", "-.", "e5", "nan", "NaN", "inf",
                             "-infinity", "Infinity"}) {
        EXPECT_EQ(parseDecimal(text), 0.0) << '"' << text << '"';
    }
    // Hexadecimal text reads its leading "0" only.
    EXPECT_EQ(parseDecimal("0x1A"), 0.0);
    EXPECT_EQ(parseDecimal("0x1p3"), 0.0);
}

TEST(ParseDecimal, OutOfRangeFollowsTheExponent)
{
    EXPECT_TRUE(std::isinf(parseDecimal("1e999")));
    EXPECT_LT(parseDecimal("-1e999"), 0.0);
    EXPECT_EQ(parseDecimal("1e-999"), 0.0);
}

TEST(FormatFixed, MatchesPrintfInTheCLocale)
{
    EXPECT_EQ(formatFixed(293.5, 2), "293.50");
    EXPECT_EQ(formatFixed(25.0, 3), "25.000");
    EXPECT_EQ(formatFixed(-37.2, 0), "-37");
    EXPECT_EQ(formatFixed(0.5, 0), "0"); // round half to even, as printf
    EXPECT_EQ(formatFixed(1.5, 0), "2");
    EXPECT_EQ(formatFixed(-0.0004, 3), "-0.000");
    EXPECT_EQ(formatFixed(2.0005, 3), "2.001"); // 2.0005 is stored just above
    EXPECT_EQ(formatFixed(1e20, 1), "100000000000000000000.0");
}

TEST(FormatFixed, InfinitiesAndNaNsAreSpelledAsGlibcDoes)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(formatFixed(inf, 3), "inf");
    EXPECT_EQ(formatFixed(-inf, 6), "-inf");
    EXPECT_EQ(formatFixed(nan, 6), "nan");
    EXPECT_EQ(formatFixed(-nan, 6), "-nan");
}

TEST(FormatFixed, RoundTripsThroughParseDecimal)
{
    for (double v : {0.0, 1.0, -1.25, 293.15, 1e-5, 123456.789, -98765.4321}) {
        EXPECT_NEAR(parseDecimal(formatFixed(v, 6)), v, 5e-7) << v;
    }
}

TEST(Messages, KnownNumbersAndUnknownOnes)
{
    EXPECT_STREQ(quillon::messageText(quillon::kMsgCannotOpenComPort),
                 "OOPS - I cannot open the COM port to  set switch settings.");
    EXPECT_STREQ(quillon::messageText(120), " Wait...");
    EXPECT_STREQ(quillon::messageText(121), " Error");
    EXPECT_STREQ(quillon::messageText(144),
                 "The Calibration file appears to contain no valid data!");
    EXPECT_STREQ(quillon::messageText(9999), "");
}
