// The noise-figure core: the Y-factor formulas and results, the ENR calibration file reader.

#include "bench/VirtualBench.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "nf/EnrTable.h"
#include "nf/NoiseResults.h"
#include "nf/YFactorMath.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <utility>
#include <vector>

namespace quillon {
namespace {

// The Y-factor formulas and the calculator / Measure Device results on the worked examples:
// ENR 25 dB, T0 290 K, TSoff 293 K; system ON 10 dB, OFF 0 dB; DUT ON 25 dB, OFF 10 dB.

namespace ym = YFactorMath;

constexpr double kEnr = 25.0, kT0 = 290.0, kTsOff = 293.0;
constexpr double kShown = 0.0005; // results are shown with at most three decimals
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// pow(10, d * 0.1) and pow(10, d / 10) differ in the last bit for some levels, and Y of two
// readings as a quotient of powers differs from the power of their difference.
TEST(YFactorMath, ConstantAndOperationOrderAreBitExact)
{
    EXPECT_EQ(std::bit_cast<std::uint64_t>(ym::kBoltzmannPerKHz), 0x3BD04CCB7B487E07ull);
    EXPECT_EQ(ym::powerRatioFromDb(3.0), 1.9952623149688797);
    EXPECT_EQ(ym::powerRatioFromDb(7.0), 5.0118723362727238);
    EXPECT_EQ(ym::yFactorFromDb(10.0, 3.0), 5.0118723362727229);
    EXPECT_EQ(ym::yFactorFromDb(25.0, 1.0), 251.18864315095803);
    const double hot = computeTruth({}).hotReferenceK; // the bench at these defaults
    EXPECT_NEAR(ym::hotTemperature(kEnr, kT0, kTsOff), hot, 1e-12 * hot);
}

// Y = 1 gives an infinite or undefined Te, Y < 1 a negative one: every result fails.
TEST(YFactorMath, YOfOneOrBelowFailsEveryResult)
{
    const double tHot = ym::hotTemperature(kEnr, kT0, kTsOff);
    const double equal = ym::noiseTemperature(ym::yFactorFromDb(5.0, 5.0), tHot, kTsOff);
    EXPECT_FALSE(std::isfinite(equal) || ym::temperatureInRange(equal));
    const double below = ym::noiseTemperature(ym::yFactorFromDb(0.0, 3.0), tHot, kTsOff);
    EXPECT_TRUE(below < 0.0 && !ym::temperatureInRange(below));
    EXPECT_FALSE(ym::gainInRange(ym::gainDb(ym::deviceGain(2.0, 2.0, 10.0, 1.0)))); // DUT Y = 1
    EXPECT_FALSE(ym::gainInRange(ym::gainDb(ym::deviceGain(2.0, 1.0, 3.0, 3.0))));  // system Y = 1
    EXPECT_FALSE(ym::gainInRange(ym::gainDb(ym::deviceGain(1.0, 2.0, 10.0, 1.0)))); // G < 0
    EXPECT_FALSE(calcSystem(5.0, 5.0, kEnr, kT0, kTsOff).valid);
    const CalcDeviceResult device = calcDevice(5.0, 5.0, 20.0, 20.0, kEnr, kT0, kTsOff);
    EXPECT_FALSE(device.noise.valid || device.gainValid);
    EXPECT_FALSE(noiseFloor(device.noise, kT0, 2.4).valid);
}

// Inclusive bounds pass, the next double beyond fails, NaN and infinities fail.
TEST(YFactorMath, ValidityTestsHaveInclusiveBoundsAndRejectNaNAndInfinity)
{
    const std::tuple<bool (*)(double), double, double> cases[] = {
        {ym::temperatureInRange, 0.0, 300000.0},
        {ym::enrInRange, 0.0, 50.0},
        {ym::gainInRange, -50.0, 50.0},
        {ym::readingInRange, 1e-12, kInf}};
    for (const auto &[test, low, high] : cases) {
        SCOPED_TRACE(low);
        EXPECT_TRUE(test(low));
        EXPECT_FALSE(test(std::nextafter(low, -kInf)) || test(kNaN) || test(-kNaN) || test(-kInf));
        EXPECT_TRUE(high == kInf ||
                    (test(high) && !test(std::nextafter(high, kInf)) && !test(kInf)));
    }
}

TEST(CalculatorModes, SimpleConvertsAndRoundTripsBetweenTemperatureFactorAndFigure)
{
    const NoiseResult fromNf = noiseFromFigure(3.0, kT0);
    EXPECT_NEAR(fromNf.f, 1.99526, 5e-6);
    EXPECT_NEAR(fromNf.te, 288.626, kShown);
    EXPECT_NEAR(noiseFromFigure(3.0, 300.0).te, 298.579, kShown); // a new T0 moves Te
    EXPECT_EQ(noiseFromTemperature(290.0, kT0).f, 2.0);
    EXPECT_NEAR(noiseFromFactor(2.0, kT0).nf, 3.0103, 5e-5);
    EXPECT_FALSE(noiseFromFactor(0.5, kT0).valid || noiseFromTemperature(300000.5, kT0).valid);
    EXPECT_TRUE(noiseFromTemperature(300000.0, kT0).valid);
    for (double te : {0.0, 35.0, 290.0, 2410.842, 300000.0}) { // round trips
        const double nf = ym::noiseFigureFromFactor(ym::noiseFactorFromTemperature(te, kT0));
        EXPECT_NEAR(ym::temperatureFromNoiseFactor(ym::noiseFactorFromFigure(nf), kT0), te,
                    1e-9 * (te + 1.0));
    }
}

TEST(CalculatorModes, SystemDeviceAndNoiseFloorWorkedExamples)
{
    const NoiseResult system = calcSystem(10.0, 0.0, kEnr, kT0, kTsOff);
    const CalcDeviceResult device = calcDevice(10.0, 0.0, 25.0, 10.0, kEnr, kT0, kTsOff);
    const DeviceNoise parts =
        deviceNoise(10.0, 1.0, ym::powerRatioFromDb(25.0), 10.0, kEnr, kT0, kTsOff);
    const NoiseFloorResult zero = noiseFloor(noiseFromFigure(0.0, kT0), kT0, 1.0);
    EXPECT_TRUE(system.valid && device.noise.valid && device.gainValid && zero.valid);
    const double floor3dB = noiseFloor(noiseFromFigure(3.0, kT0), kT0, 2.4).dbm;
    const std::pair<double, double> results[] = {
        {system.te, 9896.561},       {system.f, 35.126},      {system.nf, 15.456},
        {device.noise.te, 2410.842}, {device.noise.f, 9.313}, {device.noise.nf, 9.691},
        {device.gainDb, 15.318},     {parts.gain, 34.025},    {parts.teChain, 2701.701},
        {zero.dbm, -143.975},        {floor3dB, -137.173}};
    for (const auto &[value, worked] : results)
        EXPECT_NEAR(value, worked, kShown);
    EXPECT_FALSE(noiseFloor(noiseFromTemperature(-1.0, kT0), kT0, 2.4).valid);
    // Te in range, no number to show: T0 of 0 (F infinite), a bandwidth of 0 or below.
    EXPECT_FALSE(noiseFromTemperature(100.0, 0.0).valid);
    for (const double bandwidth : {0.0, -2.4})
        EXPECT_FALSE(noiseFloor(noiseFromFigure(3.0, kT0), kT0, bandwidth).valid) << bandwidth;
}

TEST(CalculatorModes, DeviceGainFollowsTheTemperatureTestAndMustBeANumber)
{
    // 60 dB fails gainInRange, yet the calculator shows it: only the Te test decides.
    const CalcDeviceResult high = calcDevice(10.0, 0.0, 70.0, 60.0, kEnr, kT0, kTsOff);
    EXPECT_TRUE(high.noise.valid && high.gainValid);
    EXPECT_NEAR(high.gainDb, 60.0, 1e-9);
    // System ON a little below OFF: a negative gain ratio (NaN dB, shown as " Error") while
    // Te lands in range.
    const CalcDeviceResult negative = calcDevice(0.0, 0.1, 25.0, 10.0, kEnr, kT0, kTsOff);
    EXPECT_TRUE(negative.noise.valid && std::isnan(negative.gainDb) && !negative.gainValid);
}

TEST(CalculatorModes, CalibrateSourceUsesTheOffTemperatureDifference)
{
    const EnrResult same = calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, kTsOff, kT0);
    EXPECT_TRUE(same.valid);
    EXPECT_NEAR(same.enrDb, 22.708, kShown);
    // A warmer unknown source when off has the higher ENR for the same Y (not 22.704 dB).
    EXPECT_NEAR(calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, 303.0, kT0).enrDb, 22.712, kShown);
    // The page's evaluation of linear powers: the same, and nothing until all four are in.
    const std::array<double, 4> p{10.0, 1.0, std::pow(10.0, 0.8), 1.0};
    const CalibrationResults page =
        computeCalibrationResults(p, {true, true, true, true}, kEnr, kTsOff, 303.0, kT0);
    EXPECT_TRUE(page.complete && page.enr.valid);
    EXPECT_NEAR(page.enr.enrDb, 22.712, kShown);
    EXPECT_FALSE(computeCalibrationResults(p, {true, true, true, false}, kEnr, kTsOff, 303.0, kT0)
                     .complete);
    // Below 0 dB, undefined (unknown Y = 1), far above 50 dB (reference Y barely above 1).
    for (const auto &[referenceOn, unknownOn] : {std::pair{10.0, 0.1}, {10.0, 0.0}, {1e-6, 10.0}})
        EXPECT_FALSE(calcCalibrate(referenceOn, 0, unknownOn, 0, kEnr, kTsOff, kTsOff, kT0).valid);
}

// The Measure Device page's results (worked numbers and texts: the page tests).
TEST(DeviceResults, ModeDecidesWhichReadingsCountAndGainHasItsOwnRange)
{
    const auto results = [](std::array<double, 4> p, std::array<bool, 4> present, bool system) {
        return computeDeviceResults(p, present, system, kEnr, kT0, kTsOff); // p: linear powers
    };
    const std::array<bool, 4> all{true, true, true, true};
    EXPECT_FALSE(results({10, 1, 316, 10}, {true, true, true, false}, false).complete);
    EXPECT_FALSE(results({10, 1, 316, 10}, {false, true, true, true}, true).complete);
    EXPECT_TRUE(results({10, 1, 316, 10}, {true, true, false, false}, true).complete);

    // System mode must not look at readings 2 and 3; the page's 60 dB gain fails gainInRange.
    const DeviceResults system = results({10, 1, kNaN, -kInf}, all, true);
    EXPECT_TRUE(system.complete && system.noise.valid && !system.gainValid);
    EXPECT_NEAR(system.noise.nf, 15.456, kShown);
    const DeviceResults high = results({10, 1, 1e7, 1e6}, all, false);
    EXPECT_TRUE(high.noise.valid && !high.gainValid);
}

namespace fs = std::filesystem;
using Rows = std::vector<std::pair<double, double>>;

// A row 100 MHz, 15.5 dB padded by an ignored third field to `length` characters.
std::string dataLine(std::size_t length)
{
    std::string line = "100,15.5,";
    return line.append(length - line.size(), 'x');
}

std::string rowLines(int count, const char *lineEnd = "\n")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(i * 10) + ",15" + lineEnd;
    return text;
}

// Files in a fresh folder. Every read goes into a table holding a previous file's rows, so
// each failure also shows that it empties the table.
class EnrFileTest : public ::testing::Test
{
protected:
    void TearDown() override { fs::remove_all(m_folder); }

    // Writes `bytes` exactly as given (no line-end translation) and returns the path.
    std::string write(const std::string &bytes)
    {
        const fs::path path = m_folder / "enr.dat";
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    int parsePath(const std::string &path)
    {
        EXPECT_EQ(parseEnrData("1,1\n2,2\n3,3\n", m_table), 0);
        const int code = parseEnrFile(path, m_table);
        EXPECT_TRUE(code == 0 || (m_table.count == 0 && m_table.rows[0].frequencyMHz == 0.0));
        return code;
    }
    int parse(const std::string &bytes) { return parsePath(write(bytes)); }

    Rows rows() const
    {
        Rows out;
        for (int i = 0; i < m_table.count; ++i)
            out.emplace_back(m_table.rows[i].frequencyMHz, m_table.rows[i].enrDb);
        return out;
    }

    fs::path m_folder =
        ::mkdtemp((fs::temp_directory_path() / "quillon-enr-XXXXXX").string().data());
    EnrTable m_table;
};

// Lines are at most 252 characters before their line end (a CR LF counts as one).
TEST_F(EnrFileTest, FailingFilesGiveTheFirstFailingLinesCode)
{
    const std::pair<int, std::vector<std::string>> cases[] = {
        {kMsgEnrNoData, {"", "# ENR\r\n\r\n; vendor\r\n/ x\n\\ y\n", std::string("\0\n", 2)}},
        // Values that are not plain decimal numbers, once read as 0 MHz or 0 dB: a header
        // line, units, hexadecimal, a line of UTF-16 (it begins with a NUL).
        {kMsgEnrNotANumber,
         {"nan,15\n", "100,inf\n", "abc,15\n", "0x19,15\n", "100,0x19\n", "Freq,ENR\n100,15\n",
          "100MHz,15.5dB\n", " #x,1\n", std::string("100,15\n\0 junk\n", 14),
          std::string("1\0\x30\0\n\0\x32\0\n\0", 10),
          "100,15.5\r200,14\n" /* a lone CR is no line end: "15.5\r200" */}},
        // A decimal comma splits the ENR: its fraction lands in the third column.
        {kMsgEnrUncertaintyRange, {"148, 24,992\n", "100,15,10.5\n"}},
        {kMsgEnrMissingFrequency, {"100,15\n,,\n"}},
        {kMsgEnrFrequencyRange,
         {"-5,10\n", "30000.001,10\n", "1e999,10\n", "100,15\n-1,10\n100\n"}},
        {kMsgEnrMissingEnr, {"100\r\n", "100 15.5\n" /* a space is no separator */}},
        {kMsgEnrEnrRange, {"100,50.001\n", "100,-0.5\n", "100,99\n" + dataLine(400) + "\n"}},
        {kMsgEnrTooManyRows, {rowLines(1024, "\r\n")}},
        // A NUL hides the text after it, not the length of the line.
        {kMsgEnrLineTooLong,
         {dataLine(253) + "\n", dataLine(253) + "\r\n",
          "10,15\n" + ('#' + std::string(252, 'c')) + "\n",
          "10,15\n" + dataLine(254) /* last line, no line end */, dataLine(5000) + "\n",
          "10,15" + std::string(1, '\0') + dataLine(300) + "\n"}}};
    for (const auto &[code, files] : cases)
        for (const std::string &content : files)
            EXPECT_EQ(parse(content), code) << content.substr(0, 40);
}

// The message names the line that failed, counted from 1 with comment and empty lines.
TEST_F(EnrFileTest, TheMessageNamesTheFailingLine)
{
    EXPECT_EQ(parse("# vendor\n100,15\n\n200,abc\n"), kMsgEnrNotANumber);
    EXPECT_EQ(m_table.failedLine, 4);
    EXPECT_EQ(enrReadMessage(kMsgEnrNotANumber, m_table),
              std::string(messageText(kMsgEnrNotANumber)) + " (line 4)");
    EXPECT_EQ(parse(""), kMsgEnrNoData);
    EXPECT_EQ(enrReadMessage(kMsgEnrNoData, m_table), messageText(kMsgEnrNoData));
    ASSERT_EQ(parse("100,15\n"), 0);
    EXPECT_EQ(m_table.failedLine, 0);
}

TEST_F(EnrFileTest, GoodFilesGiveSortedRowsAndTheTerminator)
{
    const std::pair<std::string, Rows> cases[] = {
        {"# source 1234\n10,15.52\n100;15.31;extra\n1296\t14.85\n,2304,14.60\n",
         {{10, 15.52}, {100, 15.31}, {1296, 14.85}, {2304, 14.60}}},
        {",;\t10,,;\t15.5\n", {{10, 15.5}}},
        {";a\n#b\n/c\n\\d\n 1,1\n", {{1, 1}}}, // a comment mark only as first character
        {"\xEF\xBB\xBF" "100,15.5\n200,14\n", {{100, 15.5}, {200, 14}}}, // a UTF-8 BOM
        {"100,15.5,5\n200,14,note\n", {{100, 15.5}, {200, 14}}}, // no uncertainty: ignored
        {" 1.5e3, 1.25E1\n", {{1500, 12.5}}},
        {"0,0\n30000,50\n", {{0, 0}, {30000, 50}}},
        {"200,14\n100,15\n200,13\n100,16\n", {{100, 15}, {100, 16}, {200, 14}, {200, 13}}},
        {"\n\n10,15\n\n20,14", {{10, 15}, {20, 14}}},
        {"10,15\n5", {{10, 15}}}, // a one-character last line is skipped
        {std::string("10,15\0,99\n\0\n20,14\n", 18), {{10, 15}, {20, 14}}},
        // Windows line ends: the CR belongs to the line end; a lone CR is an ordinary character.
        {"# table\r\n100,15.5\r\n\r\n200,14", {{100, 15.5}, {200, 14}}},
        {"100,15.5\r\n\r\n7", {{100, 15.5}}},
        {"100,15.5\r\r\n", {{100, 15.5}}},
        {dataLine(252) + "\n", {{100, 15.5}}},
        {dataLine(252) + "\r\n", {{100, 15.5}}},
        {('#' + std::string(251, 'c')) + "\r\n10,15\r\n", {{10, 15}}},
        {dataLine(253), {{100, 15.5}}}, // last line, no line end
    };
    for (const auto &[content, expected] : cases) {
        SCOPED_TRACE(content.substr(0, 40));
        ASSERT_EQ(parse(content), 0);
        EXPECT_EQ(rows(), expected);
        EXPECT_TRUE(m_table.rows[m_table.count].frequencyMHz == 0 &&
                    m_table.rows[m_table.count].enrDb == 0);
    }
}

TEST_F(EnrFileTest, MaximumRowCountAndFilesBeyondTheReadBlock)
{
    ASSERT_EQ(parse("# 1023 rows\n" + rowLines(1023) + "; end\n"), 0);
    EXPECT_EQ(m_table.count, EnrTable::kMaxRows);
    EXPECT_EQ(m_table.rows[1022].frequencyMHz, 10220.0);

    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += ('#' + std::string(199, 'c')) + "\r\n";
    ASSERT_EQ(parse(text + "100,15\r\n"), 0);
    EXPECT_EQ(rows(), (Rows{{100, 15}}));
}

// A FIFO with no writer would block a plain open and /dev/zero would never end; a NUL in
// the name must not open the file named by its first part. /proc/self/mem opens but fails
// to read at offset 0 (EIO).
TEST_F(EnrFileTest, PathsThatCannotBeReadAndAnEmptyName)
{
    const std::string fifo = (m_folder / "pipe.dat").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = write("10,15\n");
    for (const std::string &path : {(m_folder / "missing.dat").string(), m_folder.string(), fifo,
                                    std::string("/dev/zero"), file + std::string(1, '\0') + "x"})
        EXPECT_EQ(parsePath(path), kMsgEnrCannotOpen) << path;
    EXPECT_EQ(parsePath("/proc/self/mem"), kMsgEnrReadError);
    EXPECT_EQ(parsePath(""), kMsgEnrNoFile);
}

// Interpolated in dB between rows, held outside; without the file in use (or an empty
// table) the entry is the ENR, a negative or NaN entry counting as 0.
TEST(EnrLookup, InterpolatedHeldOrTakenAsTheEnr)
{
    const char *two = "100,15.0\n200,14.0\n", *rev = "200,14\n100,15\n", *none = "";
    const char *one = "1000,12.5\n", *four = "10,15.52\n100,15.31\n1296,14.85\n2304,14.6\n";
    const char *twice = "100,15\n200,14\n200,12\n300,11\n"; // the first 200 row ends 100..200
    // Beyond 16 rows an unstable sort swaps rows of equal frequency: 200..10 MHz twice.
    std::string fortyRows;
    for (int i = 0; i < 40; ++i)
        fortyRows += std::to_string(200 - 10 * (i % 20)) + "," + std::to_string(10 + i / 2) +
                     (i % 2 ? ".5\n" : ".0\n");
    const char *forty = fortyRows.c_str();
    const std::tuple<const char *, bool, double, double> cases[] = {
        {two, true, 50, 15},      {two, true, 100, 15},     {two, true, 150, 14.5},
        {two, true, 200, 14},     {two, true, 1e300, 14},   {two, true, kNaN, 15},
        {two, true, kInf, 14},    {two, true, -kInf, 15},   {rev, true, 150, 14.5},
        {two, false, 25, 25},     {two, false, -3, 0},      {two, false, kNaN, 0},
        {none, true, 25, 25},     {none, true, -4, 0},      {one, true, -1, 12.5},
        {one, true, 30000, 12.5}, {four, true, 100, 15.31}, {four, true, 1800, 14.725},
        {twice, true, 200, 14},   {twice, true, 250, 11.5}, {forty, true, 5, 19.5},
        {forty, true, 195, 15.25}};
    for (const auto &[text, useFile, entry, enr] : cases) {
        EnrTable table;
        parseEnrData(text, table);
        EXPECT_NEAR(enrForEntry(entry, useFile, table), enr, 1e-12) << text << entry;
    }
}

TEST_F(EnrFileTest, SettingsNameTheFileAndChooseTheLookup)
{
    Settings settings;
    settings.enrCalibrationFile = write("100,15\n200,14\n");
    ASSERT_EQ(parseEnrFile(settings, m_table), 0);
    EXPECT_EQ(enrForEntry(150.0, settings, m_table), 150.0);
    settings.useEnrFile = true;
    EXPECT_EQ(enrForEntry(150.0, settings, m_table), 14.5);
    settings.enrCalibrationFile.clear();
    EXPECT_TRUE(parseEnrFile(settings, m_table) == kMsgEnrNoFile && m_table.count == 0);
}

} // namespace
} // namespace quillon
