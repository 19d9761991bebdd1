// Reference traces: the three kinds of earlier results read back (the sweep's CSV, quillon-cli
// sweep --json, a report's JSON), points without results left out and the rest sorted, and
// every refusal's message.
#include "measure/ReferenceTrace.h"
#include "measure/SweepCsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quillon {
namespace {

TEST(ReferenceTrace, TheSweepsCsvReadsBackExactly)
{
    std::vector<SweepRow> rows(3);
    rows[0].frequencyMHz = 146.0;
    rows[0].nfDb = 0.1 + 0.2; // 0.30000000000000004: the CSV keeps every digit
    rows[0].gainDb = 20.25;
    rows[1].frequencyMHz = 144.0;
    rows[1].gainDb = 19.5; // a point without its NF keeps its gain
    rows[1].warnings = "noise temperature out of range, \"x\"";
    rows[2].frequencyMHz = 145.0; // no result at all: left out
    rows[0].correctedFor = "corrected for: input loss 0.30 dB at 295 K"; // the wider layout
    std::vector<ReferencePoint> points;
    std::string why;
    ASSERT_TRUE(parseReferenceTrace(sweepCsv(rows), points, why)) << why;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].frequencyMHz, 144.0); // sorted by frequency
    EXPECT_TRUE(std::isnan(points[0].nfDb));
    EXPECT_EQ(points[0].gainDb, 19.5);
    EXPECT_EQ(points[1].nfDb, 0.1 + 0.2);
}

TEST(ReferenceTrace, JsonOfASweepOrAReport)
{
    std::vector<ReferencePoint> points;
    std::string why;
    ASSERT_TRUE(parseReferenceTrace(
        R"({"ended":"complete","points":[{"frequencyMHz":432,"nfDb":1.5,"gainDb":null},
            {"frequencyMHz":430,"nfDb":null,"gainDb":null}]})",
        points, why))
        << why;
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].nfDb, 1.5);
    EXPECT_TRUE(std::isnan(points[0].gainDb));
    ASSERT_TRUE(parseReferenceTrace(
        R"({"report":"quillon-report-1","results":[{"frequencyMHz":1296,
            "results":{"noiseFigureDb":0.7,"gainDb":18}}]})",
        points, why));
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].frequencyMHz, 1296.0);
    EXPECT_EQ(points[0].gainDb, 18.0);
}

TEST(ReferenceTrace, EveryRefusalSaysWhy)
{
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("quillon-ref-" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(dir);
    struct Case
    {
        const char *name;
        const char *text; // nullptr: no such file
        const char *message;
    };
    const Case cases[] = {
        {"missing.csv", nullptr, "could not be read: No such file or directory."},
        {"folder", "", "could not be read: it is not a regular file."},
        {"empty.csv", "", "holds no sweep results: neither a sweep's CSV nor its JSON."},
        {"quote.csv", "a\"b\n", "holds no sweep results: neither a sweep's CSV nor its JSON."},
        {"other.csv", "Frequency,NF\n1,2\n",
         "holds no sweep results: a CSV file without the columns \"Frequency (MHz)\" and \"NF "
         "(dB)\" or \"Gain (dB)\"."},
        {"blank.csv", "Frequency (MHz),NF (dB)\n144,\n",
         "holds no sweep results: no point with a frequency and a noise figure or gain."},
        {"other.json", "{\"a\": 1}",
         "holds no sweep results: a JSON file without \"points\" (quillon-cli sweep --json) or "
         "a report's \"results\"."},
        {"broken.json", "{\"points\": [", "holds no sweep results: not JSON: "},
    };
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name;
        if (std::string(c.name) == "folder")
            std::filesystem::create_directories(path);
        else if (c.text != nullptr)
            std::ofstream(path, std::ios::binary) << c.text;
        ReferenceTrace trace{"kept", {{1.0, 2.0, 3.0}}};
        std::string message;
        EXPECT_FALSE(readReferenceTrace(path, trace, message)) << c.name;
        EXPECT_EQ(message.rfind("The reference file \"" + path + "\" " + c.message, 0), 0u)
            << message;
        EXPECT_EQ(trace.name, "kept"); // nothing loaded
        EXPECT_EQ(trace.points.size(), 1u);
    }
    const std::string good = dir + "/unit 2.csv";
    std::ofstream(good) << "Frequency (MHz),NF (dB),Gain (dB)\r\n144,1.25,20\r\n";
    ReferenceTrace trace;
    std::string message;
    ASSERT_TRUE(readReferenceTrace(good, trace, message)) << message;
    EXPECT_EQ(trace.name, "unit 2.csv");
    EXPECT_EQ(trace.points.size(), 1u);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quillon
