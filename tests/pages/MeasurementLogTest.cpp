#include "pages/MeasurementLog.h"
#include "app/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(LogText, TimeAndReadingFields)
{
    EXPECT_EQ(logTimeText({2026, 12, 6, 2, 8, 33}), "12/6/26 2:08:33");
    EXPECT_EQ(logTimeText({2026, 12, 16, 12, 8, 33}), "12/16/26 12:08:33");
    EXPECT_EQ(logTimeText({2005, 3, 9, 0, 0, 0}), "3/9/05 0:00:00"); // year keeps 2 digits
    const auto line = [](double db) {
        return readingLineText(ReadingLineKind::Enr, "T", "L", db, "R");
    };
    EXPECT_EQ(line(-130.0000004), "ENR,T,L,-130.000000,R\n");
    EXPECT_EQ(line(std::numeric_limits<double>::quiet_NaN()), "ENR,T,L,nan,R\n");
    EXPECT_EQ(line(-std::numeric_limits<double>::quiet_NaN()), "ENR,T,L,-nan,R\n");
}

std::string readFile(const fs::path &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Real log files in a fresh folder; the clock stands at 6 December 2026, 2:08:33.
class LogFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_path = (m_folder / "results.log").string();
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path m_folder;
    std::string m_path;
    MeasurementLog m_log{[] {
        return LocalDateTime{2026, 12, 6, 2, 8, 33};
    }};
};

TEST_F(LogFile, MissingFileIsCreatedAndEveryLineKindIsAppended)
{
    EXPECT_EQ(nfReadingLabel(4), "");
    EXPECT_EQ(enrReadingLabel(-1), "");
    EXPECT_EQ(m_log.appendNf(m_path, nfReadingLabel(3), -52.104717, " 15.318, 9.691,"), kMsgNone);
    ASSERT_EQ(readFile(m_path), "NF,12/6/26 2:08:33,DUT (OFF),-52.104717, 15.318, 9.691,\n");
    m_log.appendNf(m_path, nfReadingLabel(0), -41.25, "Not Calculated.");
    m_log.appendNf(m_path, nfReadingLabel(1), -44.5, "Gain Not Measured, 9896.561,");
    m_log.appendNf(m_path, nfReadingLabel(2), -2.0, "x");
    m_log.appendEnr(m_path, enrReadingLabel(0), -30.0, "Not Calculated.");
    m_log.appendEnr(m_path, enrReadingLabel(2), -31.0, "Not Calculated.");
    m_log.appendEnr(m_path, enrReadingLabel(3), -50.125, " 22.708,");
    m_log.appendMeasure(m_path, false, false, " -37.210, -37.300, 3.410,");
    EXPECT_EQ(m_log.appendMeasure(m_path, true, true, " -37.21, 3.41,"), kMsgNone);
    EXPECT_EQ(readFile(m_path),
              "NF,12/6/26 2:08:33,DUT (OFF),-52.104717, 15.318, 9.691,\n"
              "NF,12/6/26 2:08:33,Noise (ON),-41.250000,Not Calculated.\n"
              "NF,12/6/26 2:08:33,Noise (OFF),-44.500000,Gain Not Measured, 9896.561,\n"
              "NF,12/6/26 2:08:33,DUT (ON),-2.000000,x\n"
              "ENR,12/6/26 2:08:33,Calbrated Noise Source (on),-30.000000,Not Calculated.\n"
              "ENR,12/6/26 2:08:33,Unknown Noise Source (on),-31.000000,Not Calculated.\n"
              "ENR,12/6/26 2:08:33,Unknown Noise Source (off),-50.125000, 22.708,\n"
              "Measure,12/6/26 2:08:33,Noise Off,DUT out of Circuit,  -37.210, -37.300, 3.410,\n"
              "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit,  -37.21, 3.41,\n");
}

// A reading of zero power is 10 log10(0): glibc prints "%f" of minus infinity as "-inf".
TEST_F(LogFile, ExistingContentIsKeptAndEachLineTakesTheTimeOfItsWriting)
{
    std::ofstream(m_path) << "written yesterday\r\nno line end";
    int second = 0;
    const MeasurementLog log([&second] { return LocalDateTime{2026, 7, 4, 9, 59, second++}; });
    ASSERT_EQ(log.appendEnr(m_path, enrReadingLabel(1), 10.0 * std::log10(0.0), "N."), kMsgNone);
    log.appendMeasure(m_path, true, false, " -21.000,");
    EXPECT_EQ(readFile(m_path), "written yesterday\r\nno line end"
                                "ENR,7/4/26 9:59:00,Calbrated Noise Source (off),-inf,N.\n"
                                "Measure,7/4/26 9:59:01,Noise On,DUT out of Circuit,  -21.000,\n");
}

// Tests run as root: a path through a regular file makes the open fail, not permission bits.
TEST_F(LogFile, UnwritablePathsFailEveryTimeAndCreateNothing)
{
    const std::string plain = (m_folder / "plain.txt").string();
    std::ofstream(plain) << "x";
    const std::string fifo = (m_folder / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path :
         {(m_folder / "no-such-folder/results.log").string(), plain + "/results.log",
          m_folder.string(), std::string(), fifo /* no reader: must not block */,
          std::string("/dev/full") /* every write: ENOSPC */}) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(m_log.appendNf(path, "Noise (ON)", -40.0, "x"), kMsgCannotOpenLog) << path;
            EXPECT_EQ(m_log.appendMeasure(path, false, false, "x"), kMsgCannotOpenLog) << path;
        }
    }
    EXPECT_FALSE(fs::exists(m_folder / "no-such-folder"));
    EXPECT_EQ(readFile(plain), "x");
    EXPECT_STREQ(messageText(kMsgCannotOpenLog), "Error - Cannot open log file.");
}

// Measure lines come from the capture thread, NF lines from the window thread.
TEST_F(LogFile, LinesFromTwoThreadsStayWhole)
{
    const std::string results(300, '9');
    auto writer = [&](bool measure) {
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(measure ? m_log.appendMeasure(m_path, true, false, results)
                              : m_log.appendNf(m_path, nfReadingLabel(2), -2.0, results),
                      kMsgNone);
    };
    std::thread capture(writer, true);
    writer(false);
    capture.join();
    std::istringstream lines(readFile(m_path));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line == "Measure,12/6/26 2:08:33,Noise On,DUT out of Circuit, " + results ||
                    line == "NF,12/6/26 2:08:33,DUT (ON),-2.000000," + results)
            << line;
    EXPECT_EQ(count, 400);
}

} // namespace
} // namespace quillon
