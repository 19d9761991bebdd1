#include "nf/EnrTable.h"
#include "app/Messages.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::pair<double, double>>;

// A data line of exactly `length` characters before its line end: a row 100 MHz, 15.5 dB,
// padded by an ignored third field.
std::string dataLine(std::size_t length)
{
    std::string line = "100,15.5,";
    return line.append(length - line.size(), 'x');
}

std::string commentLine(std::size_t length)
{
    return "#" + std::string(length - 1, 'c');
}

std::string rowLines(int count, const char *lineEnd = "\n")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(i * 10) + ",15" + lineEnd;
    return text;
}

// Real calibration files in a fresh temporary folder. Every read goes into a table that
// holds a previous file's rows, so each failure also shows that it empties the table.
class EnrFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-enr-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
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
        if (code != 0) {
            EXPECT_EQ(m_table.count, 0);
            EXPECT_EQ(m_table.rows[0].frequencyMHz, 0.0);
        }
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

    fs::path m_folder;
    EnrTable m_table;
};

TEST(EnrMessages, EveryResultCodeHasItsExactText)
{
    const std::pair<int, const char *> texts[] = {
        {kMsgEnrCannotOpen, "The specified calibration file cannot be opened."},
        {kMsgEnrMissingFrequency, "A line in the calibration file was missing a frequency"},
        {kMsgEnrFrequencyRange,
         "One or more frequencies in the calibration file are out of range."},
        {kMsgEnrMissingEnr, "A line in the calibration file is missing an ENR value (dB)"},
        {kMsgEnrEnrRange,
         "One or more lines in the calibration file has an ENR value out of range"},
        {kMsgEnrTooManyRows, "The calibration file contains too many rows of data. Sorry."},
        {kMsgEnrReadError,
         "An error occurred reading from the calibration file (sorry-no diagnosis)."},
        {kMsgEnrLineTooLong, "One or more lines in the calibration file are too long to handle."},
        {kMsgEnrNoFile, "You must specify a valid ENR calibration file."},
        {kMsgEnrNoData, "The Calibration file appears to contain no valid data!"}};
    for (const auto &[code, text] : texts)
        EXPECT_STREQ(messageText(code), text) << code;
}

// Lines are at most 252 characters before their line end (a CR LF counts as one).
TEST_F(EnrFileTest, FailingFilesGiveTheFirstFailingLinesCode)
{
    const std::pair<int, std::vector<std::string>> cases[] = {
        {kMsgEnrNoData,
         {"", "# ENR\r\n\r\n; vendor\r\n/ x\n\\ y\n", std::string("\0\n\0abc\n", 7)}},
        {kMsgEnrMissingFrequency, {"100,15\n,,\n"}},
        {kMsgEnrFrequencyRange,
         {"-5,10\n", "30000.001,10\n", "1e999,10\n", "100,15\n-1,10\n100\n"}},
        {kMsgEnrMissingEnr, {"100\r\n", "100 15.5\n" /* a space is no separator */}},
        {kMsgEnrEnrRange, {"100,50.001\n", "100,-0.5\n", "100,99\n" + dataLine(400) + "\n"}},
        {kMsgEnrTooManyRows, {rowLines(1024, "\r\n")}},
        // A NUL hides the text after it, not the length of the line.
        {kMsgEnrLineTooLong,
         {dataLine(253) + "\n", dataLine(253) + "\r\n", "10,15\n" + commentLine(253) + "\n",
          "10,15\n" + dataLine(254) /* last line, no line end */, dataLine(5000) + "\n",
          "10,15" + std::string(1, '\0') + dataLine(300) + "\n"}}};
    for (const auto &[code, files] : cases)
        for (const std::string &content : files)
            EXPECT_EQ(parse(content), code) << content.substr(0, 40);
}

TEST_F(EnrFileTest, GoodFilesGiveSortedRowsAndTheTerminator)
{
    const std::pair<std::string, Rows> cases[] = {
        {"# source 1234\n10,15.52\n100;15.31;extra\n1296\t14.85\n,2304,14.60\n",
         {{10, 15.52}, {100, 15.31}, {1296, 14.85}, {2304, 14.60}}},
        {",;\t10,,;\t15.5\n", {{10, 15.5}}},
        {";a\n#b\n/c\n\\d\n #x,1\n", {{0, 1}}}, // a comment mark only as first character
        {"Freq,ENR\n100MHz,15.5dB # 2019\n", {{0, 0}, {100, 15.5}}},
        {" 1.5e3, 1.25E1\n", {{1500, 12.5}}},
        {"0,0\n30000,50\n", {{0, 0}, {30000, 50}}},
        {"200,14\n100,15\n200,13\n100,16\n", {{100, 15}, {100, 16}, {200, 14}, {200, 13}}},
        {"\n\n10,15\n\n20,14", {{10, 15}, {20, 14}}},
        {"10,15\n5", {{10, 15}}}, // a one-character last line is skipped
        {std::string("10,15\0,99\n\0 junk\n20,14\n", 23), {{10, 15}, {20, 14}}},
        // Windows line ends: the CR belongs to the line end; a lone CR is an ordinary
        // character.
        {"# table\r\n100,15.5\r\n\r\n200,14", {{100, 15.5}, {200, 14}}},
        {"100,15.5\r\n\r\n7", {{100, 15.5}}},
        {"100,15.5\r200,14\n", {{100, 15.5}}},
        {"100,15.5\r\r\n", {{100, 15.5}}},
        {dataLine(252) + "\n", {{100, 15.5}}},
        {dataLine(252) + "\r\n", {{100, 15.5}}},
        {commentLine(252) + "\r\n10,15\r\n", {{10, 15}}},
        {dataLine(253), {{100, 15.5}}}, // last line, no line end
    };
    for (const auto &[content, expected] : cases) {
        SCOPED_TRACE(content.substr(0, 40));
        ASSERT_EQ(parse(content), 0);
        EXPECT_EQ(rows(), expected);
        EXPECT_EQ(m_table.rows[m_table.count].frequencyMHz, 0.0);
        EXPECT_EQ(m_table.rows[m_table.count].enrDb, 0.0);
    }
}

TEST_F(EnrFileTest, MaximumRowCountAndFilesBeyondTheReadBlock)
{
    ASSERT_EQ(parse("# 1023 rows\n" + rowLines(1023) + "; end\n"), 0);
    EXPECT_EQ(m_table.count, EnrTable::kMaxRows);
    EXPECT_EQ(m_table.rows[1022].frequencyMHz, 10220.0);
    ASSERT_EQ(parse(rowLines(1023, "\r\n") + "\r\n\r\n"), 0);
    EXPECT_EQ(m_table.count, EnrTable::kMaxRows);

    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += commentLine(200) + "\r\n";
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

TEST_F(EnrFileTest, SettingsNameTheFileAndKeepTheirFlag)
{
    Settings settings;
    settings.enrCalibrationFile = write("100,15\n200,14\n");
    settings.useEnrFile = false;
    ASSERT_EQ(parseEnrFile(settings, m_table), 0);
    EXPECT_EQ(m_table.count, 2);
    EXPECT_FALSE(settings.useEnrFile);
    settings.enrCalibrationFile.clear();
    EXPECT_EQ(parseEnrFile(settings, m_table), kMsgEnrNoFile);
    EXPECT_EQ(m_table.count, 0);
}

// Interpolated in dB between neighbouring rows, held outside the table; without the file in
// use (or with an empty table) the entry is the ENR, a negative or NaN entry counting as 0.
TEST(EnrLookup, InterpolatedHeldOrTakenAsTheEnr)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    const char *const two = "100,15.0\n200,14.0\n";
    const char *const four = "10,15.52\n100,15.31\n1296,14.85\n2304,14.6\n";
    struct Case
    {
        const char *table;
        bool useFile;
        std::vector<std::pair<double, double>> entryAndEnr;
    };
    const Case cases[] = {
        {two,
         true,
         {{50, 15},
          {100, 15},
          {150, 14.5},
          {175, 14.25},
          {200, 14},
          {250, 14},
          {1e300, 14},
          {nan, 15},
          {inf, 14},
          {-inf, 15}}},
        {"200,14\n100,15\n", true, {{150, 14.5}}},
        {two, false, {{25, 25}, {-3, 0}, {nan, 0}}},
        {"", true, {{25, 25}, {-4, 0}}},
        {"1000,12.5\n", true, {{-1, 12.5}, {30000, 12.5}}},
        {four, true, {{100, 15.31}, {1800, 14.725}}},
        // Of two rows at 200 MHz the first in file order ends the interval from 100 MHz.
        {"100,15\n200,14\n200,12\n300,11\n", true, {{200, 14}, {250, 11.5}}}};
    for (const Case &c : cases) {
        EnrTable table;
        if (*c.table) {
            ASSERT_EQ(parseEnrData(c.table, table), 0);
        }
        for (const auto &[entry, enr] : c.entryAndEnr)
            EXPECT_NEAR(enrForEntry(entry, c.useFile, table), enr, 1e-12) << c.table << entry;
    }
}

TEST(EnrLookup, SettingsChooseAndTheProcessTableStartsEmpty)
{
    EnrTable table;
    ASSERT_EQ(parseEnrData("100,15\n200,14\n", table), 0);
    Settings settings;
    settings.useEnrFile = false;
    EXPECT_EQ(enrForEntry(150.0, settings, table), 150.0);
    settings.useEnrFile = true;
    EXPECT_EQ(enrForEntry(150.0, settings, table), 14.5);
    EXPECT_EQ(enrTable().count, 0);
    EXPECT_EQ(enrForEntry(21.0, settings), 21.0);
}

} // namespace
} // namespace quillon
