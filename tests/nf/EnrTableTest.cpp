#include "nf/EnrTable.h"
#include "app/Messages.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

using quillon::EnrTable;
namespace fs = std::filesystem;

// Real calibration files in a fresh temporary folder, removed afterwards.
class EnrFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-enr-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // Writes `bytes` exactly as given (no line-end translation) and returns the path.
    std::string write(const std::string &bytes, const std::string &name = "enr.dat")
    {
        const fs::path path = m_folder / name;
        std::ofstream out(path, std::ios::binary);
        out << bytes;
        return path.string();
    }

    // Reads `bytes` from a real file into a table that held a previous file's rows, so
    // that every failure also shows that it empties the table.
    int parse(const std::string &bytes)
    {
        fillWithPreviousRows();
        return quillon::parseEnrFile(write(bytes), m_table);
    }

    void fillWithPreviousRows()
    {
        ASSERT_EQ(quillon::parseEnrData("1,1\n2,2\n3,3\n", m_table), 0);
        ASSERT_EQ(m_table.count, 3);
    }

    std::vector<std::pair<double, double>> rows() const
    {
        std::vector<std::pair<double, double>> out;
        for (int i = 0; i < m_table.count; ++i)
            out.emplace_back(m_table.rows[i].frequencyMHz, m_table.rows[i].enrDb);
        return out;
    }

    fs::path m_folder;
    EnrTable m_table;
};

using Rows = std::vector<std::pair<double, double>>;

// A data line of exactly `length` characters before its line end: a row 100 MHz,
// 15.5 dB, padded by an ignored third field.
std::string dataLine(std::size_t length)
{
    std::string line = "100,15.5,";
    line.append(length - line.size(), 'x');
    return line;
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

// Each case: file content, the result code and the exact message the user sees.
struct ResultCase
{
    const char *name;
    std::string content;
    int code;
    const char *message;
};

void PrintTo(const ResultCase &c, std::ostream *out)
{
    *out << c.name;
}

class EnrResultTest : public EnrFileTest, public ::testing::WithParamInterface<ResultCase>
{
};

TEST_P(EnrResultTest, ResultCodeAndMessage)
{
    const ResultCase &c = GetParam();
    EXPECT_EQ(parse(c.content), c.code);
    EXPECT_STREQ(quillon::messageText(c.code), c.message);
    EXPECT_EQ(m_table.count, 0);
    EXPECT_EQ(m_table.rows[0].frequencyMHz, 0.0);
}

const char *const kNoData = "The Calibration file appears to contain no valid data!";
const char *const kMissingFrequency = "A line in the calibration file was missing a frequency";
const char *const kFrequencyRange =
    "One or more frequencies in the calibration file are out of range.";
const char *const kMissingEnr = "A line in the calibration file is missing an ENR value (dB)";
const char *const kEnrRange =
    "One or more lines in the calibration file has an ENR value out of range";
const char *const kTooMany = "The calibration file contains too many rows of data. Sorry.";
const char *const kTooLong = "One or more lines in the calibration file are too long to handle.";

INSTANTIATE_TEST_SUITE_P(
    Files, EnrResultTest,
    ::testing::Values(
        ResultCase{"Empty", "", 144, kNoData},
        ResultCase{"CommentsAndBlankLinesOnly", "# ENR table\n\n; vendor\n/ x\n\\ y\n\n", 144,
                   kNoData},
        ResultCase{"CrLfCommentsAndBlankLinesOnly", "# ENR table\r\n\r\n\r\n; end\r\n", 144,
                   kNoData},
        ResultCase{"NulLinesOnly", std::string("\0\n\0abc\n", 7), 144, kNoData},
        ResultCase{"OnlySeparators", "100,15\n,,\n", 136, kMissingFrequency},
        ResultCase{"OnlySeparatorsCrLf", "\t;\r\n", 136, kMissingFrequency},
        ResultCase{"NegativeFrequency", "-5,10\n", 137, kFrequencyRange},
        ResultCase{"FrequencyAbove30GHz", "30000.001,10\n", 137, kFrequencyRange},
        ResultCase{"InfiniteFrequency", "1e999,10\n", 137, kFrequencyRange},
        ResultCase{"FrequencyOnly", "100\n", 138, kMissingEnr},
        ResultCase{"FrequencyOnlyCrLf", "100\r\n", 138, kMissingEnr},
        ResultCase{"SpaceIsNoSeparator", "100 15.5\n", 138, kMissingEnr},
        ResultCase{"BlanksOnly", "   \n", 138, kMissingEnr},
        ResultCase{"EnrAbove50", "100,55\n", 139, kEnrRange},
        ResultCase{"NegativeEnr", "100,-0.5\n", 139, kEnrRange},
        ResultCase{"TooManyRows", rowLines(1024), 140, kTooMany},
        ResultCase{"TooManyRowsCrLf", rowLines(1024, "\r\n"), 140, kTooMany},
        ResultCase{"DataLine253", dataLine(253) + "\n", 142, kTooLong},
        ResultCase{"DataLine253CrLf", dataLine(253) + "\r\n", 142, kTooLong},
        ResultCase{"CommentLine253", "10,15\n" + commentLine(253) + "\n", 142, kTooLong},
        ResultCase{"LastLine254NoLineEnd", "10,15\n" + dataLine(254), 142, kTooLong},
        ResultCase{"VeryLongLine", dataLine(5000) + "\n", 142, kTooLong},
        // A NUL hides the text after it, not the length of the line.
        ResultCase{"NulInLongLine", "10,15" + std::string(1, '\0') + dataLine(300) + "\n", 142,
                   kTooLong},
        // The first failing line decides.
        ResultCase{"FirstFailureWinsRange", "100,15\n-1,10\n100\n", 137, kFrequencyRange},
        ResultCase{"FirstFailureWinsMissing", "100\n-1,10\n", 138, kMissingEnr},
        ResultCase{"LongLineAfterBadLine", "100,99\n" + dataLine(400) + "\n", 139, kEnrRange}),
    [](const auto &info) { return std::string(info.param.name); });

// Files that read successfully, and the rows they give (sorted by frequency).
struct RowsCase
{
    const char *name;
    std::string content;
    Rows rows;
};

void PrintTo(const RowsCase &c, std::ostream *out)
{
    *out << c.name;
}

class EnrRowsTest : public EnrFileTest, public ::testing::WithParamInterface<RowsCase>
{
};

TEST_P(EnrRowsTest, Rows)
{
    const RowsCase &c = GetParam();
    ASSERT_EQ(parse(c.content), 0);
    EXPECT_EQ(rows(), c.rows);
    // The terminator follows the last row.
    EXPECT_EQ(m_table.rows[m_table.count].frequencyMHz, 0.0);
    EXPECT_EQ(m_table.rows[m_table.count].enrDb, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, EnrRowsTest,
    ::testing::Values(
        RowsCase{"Separators",
                 "# noise source 1234\n10,15.52\n100;15.31;extra\n1296\t14.85\n,2304,14.60\n",
                 {{10, 15.52}, {100, 15.31}, {1296, 14.85}, {2304, 14.60}}},
        RowsCase{"SeparatorRuns", ",;\t10,,;\t15.5\n", {{10, 15.5}}},
        RowsCase{"CommentMarks", ";a\n#b\n/c\n\\d\n10,15\n", {{10, 15}}},
        RowsCase{"CommentOnlyByFirstCharacter", " #x,1\n", {{0, 1}}},
        RowsCase{"NoCommentAfterData", "10,15 # calibrated 2019\n", {{10, 15}}},
        RowsCase{"HeadingReadsAsZeroRow", "Freq,ENR\n100,15\n", {{0, 0}, {100, 15}}},
        RowsCase{"NumberFollowedByLetters", "100MHz,15.5dB\n", {{100, 15.5}}},
        RowsCase{"LeadingBlanksAndExponent", " 1.5e3, 1.25E1\n", {{1500, 12.5}}},
        RowsCase{"RangeBoundsIncluded", "0,0\n30000,50\n", {{0, 0}, {30000, 50}}},
        RowsCase{
            "DescendingIsSorted", "300,13\n200,14\n100,15\n", {{100, 15}, {200, 14}, {300, 13}}},
        RowsCase{"DuplicatesKeepFileOrder",
                 "200,14\n100,15\n200,13\n100,16\n",
                 {{100, 15}, {100, 16}, {200, 14}, {200, 13}}},
        RowsCase{"BlankLinesSkipped", "\n\n10,15\n\n20,14\n\n", {{10, 15}, {20, 14}}},
        RowsCase{"NoFinalLineEnd", "10,15\n20,14", {{10, 15}, {20, 14}}},
        RowsCase{"OneCharacterLastLineSkipped", "10,15\n5", {{10, 15}}},
        RowsCase{"NulEndsTheLine",
                 std::string("10,15\0,99\n\0 junk\n20,14\n", 23),
                 {{10, 15}, {20, 14}}},
        // Windows line ends: the CR belongs to the line end.
        RowsCase{"CrLf", "# table\r\n100,15.5\r\n\r\n200,14\r\n", {{100, 15.5}, {200, 14}}},
        RowsCase{"CrLfNoFinalLineEnd", "100,15.5\r\n200,14", {{100, 15.5}, {200, 14}}},
        RowsCase{"CrLfOneCharacterLastLineSkipped", "100,15.5\r\n\r\n7", {{100, 15.5}}},
        // A CR without LF is an ordinary character, as in a text-mode read on Windows.
        RowsCase{"LoneCrIsNoLineEnd", "100,15.5\r200,14\n", {{100, 15.5}}},
        RowsCase{"CrCrLf", "100,15.5\r\r\n", {{100, 15.5}}},
        RowsCase{"Line252", dataLine(252) + "\n", {{100, 15.5}}},
        RowsCase{"Line252CrLf", dataLine(252) + "\r\n", {{100, 15.5}}},
        RowsCase{"CommentLine252", commentLine(252) + "\r\n10,15\r\n", {{10, 15}}},
        RowsCase{"LastLine253NoLineEnd", dataLine(253), {{100, 15.5}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EnrFileTest, MaximumRowCount)
{
    ASSERT_EQ(parse("# 1023 rows\n" + rowLines(1023) + "; end\n"), 0);
    EXPECT_EQ(m_table.count, EnrTable::kMaxRows);
    EXPECT_EQ(m_table.rows[1022].frequencyMHz, 10220.0);
    EXPECT_EQ(m_table.rows[1023].frequencyMHz, 0.0);

    ASSERT_EQ(parse(rowLines(1023, "\r\n") + "\r\n\r\n"), 0);
    EXPECT_EQ(m_table.count, EnrTable::kMaxRows);
}

// A Windows file gives the same table as the same file with LF line ends.
TEST_F(EnrFileTest, CrLfReadsAsLf)
{
    const std::string lf = "; vendor table\n\n10,15.52\n2304,14.60\n1296\t14.85\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_EQ(parse(lf), 0);
    const Rows fromLf = rows();
    ASSERT_EQ(parse(crlf), 0);
    EXPECT_EQ(rows(), fromLf);
}

TEST_F(EnrFileTest, EmptyPathDoesNotTouchTheDisk)
{
    fillWithPreviousRows();
    EXPECT_EQ(quillon::parseEnrFile(std::string(), m_table), quillon::kMsgEnrNoFile);
    EXPECT_STREQ(quillon::messageText(143), "You must specify a valid ENR calibration file.");
    EXPECT_EQ(m_table.count, 0);
}

class EnrOpenFailure : public EnrFileTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(EnrOpenFailure, CannotBeOpened)
{
    fillWithPreviousRows();
    std::string path = GetParam();
    if (path == "missing")
        path = (m_folder / "no-such-file.dat").string();
    else if (path == "folder")
        path = m_folder.string();
    else if (path == "fifo") {
        path = (m_folder / "pipe.dat").string();
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else if (path == "nul-in-name") {
        write("10,15\n", "a.dat");
        path = (m_folder / "a.dat").string() + std::string(1, '\0') + "x";
    }
    EXPECT_EQ(quillon::parseEnrFile(path, m_table), quillon::kMsgEnrCannotOpen);
    EXPECT_STREQ(quillon::messageText(135), "The specified calibration file cannot be opened.");
    EXPECT_EQ(m_table.count, 0);
}

// A FIFO with no writer would block a plain open and /dev/zero would never end.
INSTANTIATE_TEST_SUITE_P(Paths, EnrOpenFailure,
                         ::testing::Values("missing", "folder", "fifo", "/dev/zero", "/dev/null",
                                           "nul-in-name"),
                         [](const auto &info) {
                             std::string name;
                             for (const char *p = info.param; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p)))
                                     name += *p;
                             return name;
                         });

// /proc/self/mem is a regular file that opens but fails to read at offset 0 (EIO).
TEST_F(EnrFileTest, ReadErrorIsReported)
{
    fillWithPreviousRows();
    EXPECT_EQ(quillon::parseEnrFile(std::string("/proc/self/mem"), m_table),
              quillon::kMsgEnrReadError);
    EXPECT_STREQ(quillon::messageText(141),
                 "An error occurred reading from the calibration file (sorry-no diagnosis).");
    EXPECT_EQ(m_table.count, 0);
}

TEST_F(EnrFileTest, SettingsNameTheFile)
{
    quillon::Settings settings;
    settings.enrCalibrationFile = write("100,15\n200,14\n");
    settings.useEnrFile = false;
    ASSERT_EQ(quillon::parseEnrFile(settings, m_table), 0);
    EXPECT_EQ(m_table.count, 2);
    EXPECT_FALSE(settings.useEnrFile);

    settings.enrCalibrationFile.clear();
    EXPECT_EQ(quillon::parseEnrFile(settings, m_table), quillon::kMsgEnrNoFile);
    EXPECT_EQ(m_table.count, 0);
}

// A file bigger than the reader's block size reads across block boundaries.
TEST_F(EnrFileTest, LargeFileWithManyComments)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += commentLine(200) + "\r\n";
    text += "100,15\r\n";
    ASSERT_EQ(parse(text), 0);
    EXPECT_EQ(rows(), (Rows{{100, 15}}));
}

// Lookups on the table (100 MHz, 15.0 dB), (200 MHz, 14.0 dB).
class EnrLookupTest : public ::testing::TestWithParam<std::pair<double, double>>
{
protected:
    static EnrTable load(const char *text)
    {
        EnrTable table;
        EXPECT_EQ(quillon::parseEnrData(text, table), 0);
        return table;
    }
};

TEST_P(EnrLookupTest, InterpolatedOrHeld)
{
    const auto [value, expected] = GetParam();
    EXPECT_DOUBLE_EQ(quillon::enrForEntry(value, true, load("100,15.0\n200,14.0\n")), expected);
    // The same rows given in descending order.
    EXPECT_DOUBLE_EQ(quillon::enrForEntry(value, true, load("200,14.0\n100,15.0\n")), expected);
}

INSTANTIATE_TEST_SUITE_P(Values, EnrLookupTest,
                         ::testing::Values(std::pair{50.0, 15.0}, std::pair{100.0, 15.0},
                                           std::pair{150.0, 14.5}, std::pair{175.0, 14.25},
                                           std::pair{200.0, 14.0}, std::pair{250.0, 14.0},
                                           std::pair{-10.0, 15.0}, std::pair{0.0, 15.0},
                                           std::pair{1e300, 14.0}));

TEST(EnrLookup, FileNotInUseReturnsTheEntry)
{
    EnrTable table;
    ASSERT_EQ(quillon::parseEnrData("100,15\n200,14\n", table), 0);
    EXPECT_EQ(quillon::enrForEntry(25.0, false, table), 25.0);
    EXPECT_EQ(quillon::enrForEntry(-3.0, false, table), 0.0);
    EXPECT_EQ(quillon::enrForEntry(0.0, false, table), 0.0);

    quillon::Settings settings;
    settings.useEnrFile = false;
    EXPECT_EQ(quillon::enrForEntry(150.0, settings, table), 150.0);
    settings.useEnrFile = true;
    EXPECT_EQ(quillon::enrForEntry(150.0, settings, table), 14.5);
}

TEST(EnrLookup, ExactTableFrequencyGivesThatRow)
{
    EnrTable table;
    ASSERT_EQ(quillon::parseEnrData("10,15.52\n100,15.31\n1296,14.85\n2304,14.6\n", table), 0);
    EXPECT_EQ(quillon::enrForEntry(100.0, true, table), 15.31);
    EXPECT_EQ(quillon::enrForEntry(1296.0, true, table), 14.85);
    EXPECT_NEAR(quillon::enrForEntry(1800.0, true, table), 14.725, 1e-12);
}

TEST(EnrLookup, SingleRowAnswersEverything)
{
    EnrTable table;
    ASSERT_EQ(quillon::parseEnrData("# one point\n1000,12.5\n", table), 0);
    for (double value : {-1.0, 0.0, 999.0, 1000.0, 1001.0, 30000.0})
        EXPECT_EQ(quillon::enrForEntry(value, true, table), 12.5) << value;
}

TEST(EnrLookup, DuplicateFrequenciesAreDeterministic)
{
    EnrTable table;
    ASSERT_EQ(quillon::parseEnrData("100,15\n200,14\n200,12\n300,11\n", table), 0);
    // The first of the two 200 MHz rows in file order ends the interval from 100 MHz.
    EXPECT_EQ(quillon::enrForEntry(200.0, true, table), 14.0);
    EXPECT_DOUBLE_EQ(quillon::enrForEntry(150.0, true, table), 14.5);
    EXPECT_DOUBLE_EQ(quillon::enrForEntry(250.0, true, table), 11.5);
}

// Inputs that the entry fields cannot produce but the lookup must survive.
TEST(EnrLookup, NonFiniteEntriesAndEmptyTable)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EnrTable table;
    ASSERT_EQ(quillon::parseEnrData("100,15\n200,14\n", table), 0);
    EXPECT_EQ(quillon::enrForEntry(nan, true, table), 15.0);
    EXPECT_EQ(quillon::enrForEntry(inf, true, table), 14.0);
    EXPECT_EQ(quillon::enrForEntry(-inf, true, table), 15.0);
    EXPECT_EQ(quillon::enrForEntry(nan, false, table), 0.0);

    // The file flagged in use with an empty table: the entry is taken as the ENR.
    const EnrTable empty;
    EXPECT_EQ(quillon::enrForEntry(25.0, true, empty), 25.0);
    EXPECT_EQ(quillon::enrForEntry(-4.0, true, empty), 0.0);
}

TEST(EnrLookup, ProcessWideTableStartsEmpty)
{
    EXPECT_EQ(quillon::enrTable().count, 0);
    quillon::Settings settings;
    settings.useEnrFile = true;
    EXPECT_EQ(quillon::enrForEntry(21.0, settings), 21.0);
}

} // namespace
