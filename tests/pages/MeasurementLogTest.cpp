#include "pages/MeasurementLog.h"
#include "app/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace quillon;

namespace {

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder per test, removed afterwards, and a log whose clock stands at
// 6 December 2026, 2:08:33.
class MeasurementLogFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string pathOf(const std::string &name) const { return (m_folder / name).string(); }

    fs::path m_folder;
    MeasurementLog m_log{[] {
        return LocalDateTime{2026, 12, 6, 2, 8, 33};
    }};
};

} // namespace

TEST(LogTimeText, MonthDayTwoDigitYearAnd24HourTimeWithoutLeadingZeros)
{
    EXPECT_EQ(logTimeText({2026, 12, 6, 2, 8, 33}), "12/6/26 2:08:33");
    EXPECT_EQ(logTimeText({2026, 12, 16, 12, 8, 33}), "12/16/26 12:08:33");
    EXPECT_EQ(logTimeText({2026, 1, 1, 0, 0, 0}), "1/1/26 0:00:00");
    EXPECT_EQ(logTimeText({2031, 10, 31, 23, 59, 59}), "10/31/31 23:59:59");
    // The year keeps two digits, as strftime's %y does.
    EXPECT_EQ(logTimeText({2005, 3, 9, 14, 5, 7}), "3/9/05 14:05:07");
    EXPECT_EQ(logTimeText({2000, 2, 29, 9, 30, 0}), "2/29/00 9:30:00");
}

TEST(LogTimeText, CurrentLocalTimeIsAPlausibleDate)
{
    const LocalDateTime now = currentLocalDateTime();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
}

TEST(LogReadingLabels, ExactTextsOfBothPagesAndNothingOutsideTheFourReadings)
{
    EXPECT_EQ(nfReadingLabel(0), "Noise (ON)");
    EXPECT_EQ(nfReadingLabel(1), "Noise (OFF)");
    EXPECT_EQ(nfReadingLabel(2), "DUT (ON)");
    EXPECT_EQ(nfReadingLabel(3), "DUT (OFF)");
    EXPECT_EQ(enrReadingLabel(0), "Calbrated Noise Source (on)");
    EXPECT_EQ(enrReadingLabel(1), "Calbrated Noise Source (off)");
    EXPECT_EQ(enrReadingLabel(2), "Unknown Noise Source (on)");
    EXPECT_EQ(enrReadingLabel(3), "Unknown Noise Source (off)");
    EXPECT_EQ(nfReadingLabel(-1), "");
    EXPECT_EQ(nfReadingLabel(4), "");
    EXPECT_EQ(enrReadingLabel(4), "");
}

TEST(LogLineText, ReadingInDbUsesSixDecimalsAndCSpellingOfInfinityAndNan)
{
    const auto line = [](double db) {
        return readingLineText(ReadingLineKind::Nf, "T", "L", db, "R");
    };
    EXPECT_EQ(line(-52.104717), "NF,T,L,-52.104717,R\n");
    EXPECT_EQ(line(-41.25), "NF,T,L,-41.250000,R\n");
    EXPECT_EQ(line(-130.0000004), "NF,T,L,-130.000000,R\n");
    // Zero power: 10*log10(0).
    EXPECT_EQ(line(10.0 * std::log10(0.0)), "NF,T,L,-inf,R\n");
    EXPECT_EQ(line(std::numeric_limits<double>::quiet_NaN()), "NF,T,L,nan,R\n");
    EXPECT_EQ(line(-std::numeric_limits<double>::quiet_NaN()), "NF,T,L,-nan,R\n");
    EXPECT_EQ(readingLineText(ReadingLineKind::Enr, "T", "L", 0.0, "R"), "ENR,T,L,0.000000,R\n");
}

TEST_F(MeasurementLogFiles, MissingFileIsCreatedWithTheOneLine)
{
    const std::string path = pathOf("results.log");
    ASSERT_EQ(
        m_log.appendNf(path, nfReadingLabel(3), -52.104717, " 15.318, 2410.842, 9.313, 9.691,"),
        kMsgNone);
    EXPECT_EQ(readFile(path), "NF,12/6/26 2:08:33,DUT (OFF),-52.104717, 15.318, 2410.842, "
                              "9.313, 9.691,\n");
}

TEST_F(MeasurementLogFiles, LinesAreAppendedAfterExistingContentInOrder)
{
    const std::string path = pathOf("results.log");
    std::ofstream(path) << "written yesterday\nno line end";

    EXPECT_EQ(m_log.appendNf(path, nfReadingLabel(0), -41.25, "Not Calculated."), kMsgNone);
    EXPECT_EQ(m_log.appendNf(path, nfReadingLabel(1), -44.0,
                             "Gain Not Measured, 9896.561, 35.383, 15.456,"),
              kMsgNone);
    EXPECT_EQ(m_log.appendEnr(path, enrReadingLabel(0), -30.5, "Not Calculated."), kMsgNone);
    EXPECT_EQ(m_log.appendEnr(path, enrReadingLabel(3), -50.125, " 22.708,"), kMsgNone);
    EXPECT_EQ(m_log.appendMeasure(path, false, false, " -37.210, -37.300, 3.410,"), kMsgNone);
    EXPECT_EQ(m_log.appendMeasure(path, true, true, " -37.21, 3.41,"), kMsgNone);

    EXPECT_EQ(readFile(path),
              "written yesterday\nno line end"
              "NF,12/6/26 2:08:33,Noise (ON),-41.250000,Not Calculated.\n"
              "NF,12/6/26 2:08:33,Noise (OFF),-44.000000,Gain Not Measured, 9896.561, 35.383, "
              "15.456,\n"
              "ENR,12/6/26 2:08:33,Calbrated Noise Source (on),-30.500000,Not Calculated.\n"
              "ENR,12/6/26 2:08:33,Unknown Noise Source (off),-50.125000, 22.708,\n"
              "Measure,12/6/26 2:08:33,Noise Off,DUT out of Circuit,  -37.210, -37.300, 3.410,\n"
              "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit,  -37.21, 3.41,\n");
}

TEST_F(MeasurementLogFiles, ZeroPowerReadingIsWrittenAsMinusInfinity)
{
    const std::string path = pathOf("results.log");
    const double zeroPowerDb = 10.0 * std::log10(0.0);
    ASSERT_EQ(m_log.appendNf(path, nfReadingLabel(1), zeroPowerDb, "Not Calculated."), kMsgNone);
    ASSERT_EQ(m_log.appendEnr(path, enrReadingLabel(1), zeroPowerDb, "Not Calculated."), kMsgNone);
    EXPECT_EQ(readFile(path),
              "NF,12/6/26 2:08:33,Noise (OFF),-inf,Not Calculated.\n"
              "ENR,12/6/26 2:08:33,Calbrated Noise Source (off),-inf,Not Calculated.\n");
}

TEST_F(MeasurementLogFiles, EachLineTakesTheTimeWhenItIsWritten)
{
    int second = 0;
    const MeasurementLog log([&second] { return LocalDateTime{2026, 7, 4, 9, 59, second++}; });
    const std::string path = pathOf("results.log");
    ASSERT_EQ(log.appendMeasure(path, true, false, " -20.000,"), kMsgNone);
    ASSERT_EQ(log.appendMeasure(path, true, false, " -21.000,"), kMsgNone);
    EXPECT_EQ(readFile(path), "Measure,7/4/26 9:59:00,Noise On,DUT out of Circuit,  -20.000,\n"
                              "Measure,7/4/26 9:59:01,Noise On,DUT out of Circuit,  -21.000,\n");
}

TEST_F(MeasurementLogFiles, PathsThatCannotBeOpenedFailEveryTimeAndCreateNothing)
{
    const std::string file = pathOf("plain.txt");
    std::ofstream(file) << "x";
    const std::vector<std::string> badPaths = {
        pathOf("no-such-folder/results.log"), // missing folder
        file + "/results.log",                // a regular file used as a folder
        m_folder.string(),                    // a folder
        "",                                   // emptied after logging was switched on
    };
    for (const std::string &path : badPaths) {
        SCOPED_TRACE(path);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(m_log.appendNf(path, nfReadingLabel(0), -40.0, "Not Calculated."),
                      kMsgCannotOpenLog);
            EXPECT_EQ(m_log.appendEnr(path, enrReadingLabel(0), -40.0, "Not Calculated."),
                      kMsgCannotOpenLog);
            EXPECT_EQ(m_log.appendMeasure(path, false, false, " -40.000,"), kMsgCannotOpenLog);
        }
    }
    EXPECT_FALSE(fs::exists(pathOf("no-such-folder")));
    EXPECT_EQ(readFile(file), "x");
    EXPECT_STREQ(messageText(kMsgCannotOpenLog), "Error - Cannot open log file.");
}

TEST_F(MeasurementLogFiles, FifoWithoutReaderFailsInsteadOfBlocking)
{
    const std::string fifo = pathOf("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(m_log.appendMeasure(fifo, false, false, " -40.000,"), kMsgCannotOpenLog);
}

TEST(MeasurementLogWrite, FullDiskIsReportedAsFailure)
{
    // /dev/full opens for appending and refuses every write with ENOSPC.
    const MeasurementLog log([] { return LocalDateTime{}; });
    EXPECT_EQ(log.appendNf("/dev/full", nfReadingLabel(0), -40.0, "Not Calculated."),
              kMsgCannotOpenLog);
}

TEST_F(MeasurementLogFiles, LinesFromTwoThreadsStayWhole)
{
    // The Measure Noise page writes on the capture thread while the window thread may write
    // NF lines of a reading; every line must reach the file in one piece.
    const std::string path = pathOf("results.log");
    const std::string nfResults(300, '9');
    constexpr int kLinesEach = 200;
    auto writer = [&](bool measure) {
        for (int i = 0; i < kLinesEach; ++i) {
            const int result = measure ? m_log.appendMeasure(path, true, false, " -1.000,")
                                       : m_log.appendNf(path, "DUT (ON)", -2.0, nfResults);
            ASSERT_EQ(result, kMsgNone);
        }
    };
    std::thread capture(writer, true);
    writer(false);
    capture.join();

    const std::string measureLine = "Measure,12/6/26 2:08:33,Noise On,DUT out of Circuit,  -1.000,";
    const std::string nfLine = "NF,12/6/26 2:08:33,DUT (ON),-2.000000," + nfResults;
    std::istringstream lines(readFile(path));
    int measures = 0, nfs = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == measureLine)
            ++measures;
        else if (line == nfLine)
            ++nfs;
        else
            ADD_FAILURE() << "torn line: " << line;
    }
    EXPECT_EQ(measures, kLinesEach);
    EXPECT_EQ(nfs, kLinesEach);
}
