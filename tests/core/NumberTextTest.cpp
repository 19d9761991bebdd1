#include "core/NumberText.h"
#include "core/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using quillon::formatFixed;
using quillon::parseDecimal;

TEST(ParseDecimal, ReadsTheLongestDecimalPrefixOrZero)
{
    const std::vector<std::pair<const char *, double>> cases{
        {"293.5", 293.5},  {"  -12.25dB", -12.25}, {"+7", 7.0},       {".5", 0.5},
        {"5.", 5.0},       {"1.5E-2x", 0.015},     {"25.0,15", 25.0}, {"2e", 2.0},
        {"2e+", 2.0},      // an exponent without digits is not read
        {"293,50", 293.0}, // a comma is never a decimal point
        {"", 0.0},         {"abc", 0.0},           {"-", 0.0},        {".", 0.0},
        {"e5", 0.0},       {"nan", 0.0},           {"inf", 0.0},      {"-infinity", 0.0},
        {"0x1A", 0.0},     {"0x1p3", 0.0}, // hexadecimal reads its leading "0" only
        {"1e-999", 0.0}};
    for (const auto &[text, value] : cases)
        EXPECT_EQ(parseDecimal(text), value) << '"' << text << '"';
    EXPECT_TRUE(std::isinf(parseDecimal("1e999")));
    EXPECT_LT(parseDecimal("-1e999"), 0.0);
    // Out of range as strtod reads it: too small is (signed) 0, too large infinite, whatever
    // the exponent's sign says alone.
    const std::string zeros(400, '0');
    const std::vector<std::pair<std::string, double>> outOfRange{
        {"0." + zeros + "1", 0.0},
        {"-0." + zeros + "1", -0.0},
        {"0." + zeros + "1e+50", 0.0},
        {"1" + zeros + "e-800", 0.0},
        {"1" + zeros, HUGE_VAL},
        {"-0.001e+400", -HUGE_VAL},
        {"0." + zeros + "1e+800", HUGE_VAL}};
    for (const auto &[text, value] : outOfRange) {
        EXPECT_EQ(parseDecimal(text), value) << text;
        EXPECT_EQ(std::signbit(parseDecimal(text)), std::signbit(value)) << text;
    }
}

TEST(FormatFixed, MatchesGlibcPrintfInTheCLocale)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::tuple<double, int, const char *>> cases{
        {293.5, 2, "293.50"},  {-37.2, 0, "-37"},  {0.5, 0, "0"},     {1.5, 0, "2"},
        {-0.0004, 3, "-0.000"}, {2.0005, 3, "2.001"}, {1e20, 1, "100000000000000000000.0"},
        {inf, 3, "inf"},       {-inf, 6, "-inf"},  {nan, 6, "nan"},   {-nan, 6, "-nan"}};
    for (const auto &[value, decimals, text] : cases)
        EXPECT_EQ(formatFixed(value, decimals), text) << value;
    for (double v : {1.0, -1.25, 293.15, 1e-5, 123456.789})
        EXPECT_NEAR(parseDecimal(formatFixed(v, 6)), v, 5e-7) << v;
}

// Whole-text numbers: what the ENR reader and quillon-cli accept as a value.
TEST(DecimalText, TheWholeTextIsOneNumber)
{
    for (const char *yes : {"0", "-3.5", "+2", "1e3", "1.5E-2", ".5", "5."})
        EXPECT_TRUE(quillon::isDecimalText(yes)) << yes;
    for (const char *no : {"", "-", ".", "e3", "1e", "abc", "nan", "inf", "0x19", " 25", "25 ",
                           "25dB", "1,5"})
        EXPECT_FALSE(quillon::isDecimalText(no)) << no;
}

// The whole string table: every message's number and exact text, pinned here and nowhere
// else; every other number has no text, so a message missing here fails. With them the
// names that title every message box and the settings file.
TEST(Messages, EveryNumberAndItsTextAndNoOtherNumberHasOne)
{
    using namespace quillon;
    const std::tuple<int, int, const char *> table[] = {
        {kMsgWait, 120, " Wait..."},
        {kMsgResultError, 121, " Error"},
        {kMsgEnrCannotOpen, 135, "The specified calibration file cannot be opened."},
        {kMsgEnrMissingFrequency, 136, "A line in the calibration file was missing a frequency"},
        {kMsgEnrFrequencyRange, 137,
         "One or more frequencies in the calibration file are out of range."},
        {kMsgEnrMissingEnr, 138, "A line in the calibration file is missing an ENR value (dB)"},
        {kMsgEnrEnrRange, 139,
         "One or more lines in the calibration file has an ENR value out of range"},
        {kMsgEnrTooManyRows, 140, "The calibration file contains too many rows of data. Sorry."},
        {kMsgEnrReadError, 141,
         "An error occurred reading from the calibration file (sorry-no diagnosis)."},
        {kMsgEnrLineTooLong, 142,
         "One or more lines in the calibration file are too long to handle."},
        {kMsgEnrNoFile, 143, "You must specify a valid ENR calibration file."},
        {kMsgEnrNoData, 144, "The Calibration file appears to contain no valid data!"},
        {kMsgSaveFailed, 150, "Saving parameters to the registry failed for some reason."},
        {kMsgCannotOpenWaveDevice, 151, "I could not open the wave device to read audio."},
        {kMsgSignalTooHigh, 152, "Error. Signal level too high."},
        {kMsgCannotOpenLog, 153, "Error - Cannot open log file."},
        {kMsgCannotOpenComPort, 154, "OOPS - I cannot open the COM port to  set switch settings."},
        {kMsgCannotSetComPort, 155, "Error. Cannot set Com port status."},
        {kMsgCannotWriteUsb, 156, "Error - Cannot write to Kestrel VNA USB device."},
        {kMsgEnrNotANumber, 158,
         "A line in the calibration file has a frequency or ENR that is not a number."},
        {kMsgEnrUncertaintyRange, 159,
         "A line in the calibration file has an ENR uncertainty above 10 dB (is a decimal comma "
         "used?)."},
        {kMsgDeviceStoppedDelivering, 157,
         "The wave device stopped delivering audio during the reading."},
        {kMsgLiveNeedsSwitchPort, 160,
         "Live mode switches the noise source itself: choose a switch port on the Setup page "
         "first."},
    };
    EXPECT_STREQ(kApplicationName, "Quillon");
    EXPECT_STREQ(kOrganisationName, "Tremont");
    for (const auto &[id, number, text] : table) {
        EXPECT_EQ(id, number);
        EXPECT_STREQ(messageText(id), text) << number;
    }
    for (int id = -1; id <= 10000; ++id) {
        const bool known = std::any_of(std::begin(table), std::end(table),
                                       [id](const auto &row) { return std::get<0>(row) == id; });
        if (!known)
            EXPECT_STREQ(messageText(id), "") << id;
    }
}
