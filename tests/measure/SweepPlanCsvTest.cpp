// The sweep's plan (boundaries, every message) and its CSV (text, quoting round trip, file).

#include "core/NumberText.h"
#include "measure/SweepCsv.h"
#include "measure/SweepPlan.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <tuple>

namespace quillon {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char *const kOutside = " is outside the sweep range: above 0 and at most 30000 MHz.";
const char *const kTooMany = " MHz are more than 10000 points, the most a sweep takes.";

TEST(SweepPlan, StartStopStepBoundaries)
{
    const std::tuple<double, double, double, std::vector<double>> plans[] = {
        {144, 146, 0.5, {144, 144.5, 145, 145.5, 146}},
        {146, 144, -0.5, {146, 145.5, 145, 144.5, 144}},
        {144, 146, 0.75, {144, 144.75, 145.5}}, // stop between points: the point before it
        {0.1, 0.3, 0.1, {0.1, 0.2, 0.3}},       // 0.1 + 2 x 0.1 lands on 0.3 exactly
        {144, 144, 0, {144}},
        {144.0000004, 144.0000004, 1, {144}}, // on the whole hertz
    };
    const std::tuple<double, double, double, std::string> failures[] = {
        {144, 146, -0.1, "The step must be positive to go from 144 MHz up to 146 MHz."},
        {146, 144, 0.1, "The step must be negative to go from 146 MHz down to 144 MHz."},
        {144, 146, 0.0000009,
         "The step must be at least 0.000001 MHz (1 Hz) when start and stop differ."},
        {144, 146, kNaN, "The step is not a number."},
        {0.0000004, 146, 1, std::string("The start frequency 0 MHz") + kOutside},
        {144, 30000.5, 1, std::string("The stop frequency 30000.5 MHz") + kOutside},
        {kNaN, 146, 1, "The start frequency is not a number."},
        {1, 10001, 1, std::string("From 1 MHz to 10001 MHz in steps of 1") + kTooMany},
        {1, 30000, 0.000001,
         std::string("From 1 MHz to 30000 MHz in steps of 0.000001") + kTooMany},
    };
    for (const auto &[start, stop, step, expected] : plans) {
        std::vector<double> f{1.0};
        const SweepPlanResult r = planSweep(start, stop, step, f);
        EXPECT_TRUE(r.ok() && r.message.empty()) << r.message;
        EXPECT_EQ(f, expected) << start << " " << step; // exactly: each point on its hertz
    }
    for (const auto &[start, stop, step, message] : failures) {
        std::vector<double> f{1.0};
        const SweepPlanResult r = planSweep(start, stop, step, f);
        EXPECT_EQ(r.message, message);
        EXPECT_FALSE(r.ok()) << message;
        EXPECT_TRUE(f.empty()) << message;
    }
    // 144 to 146 in steps of 0.1 (not exact in binary): 21 points ending on 146 itself;
    // 10000 points are allowed.
    std::vector<double> f;
    ASSERT_TRUE(planSweep(144, 146, 0.1, f).ok());
    ASSERT_EQ(f.size(), 21u);
    EXPECT_EQ(f[13], 145.3);
    EXPECT_EQ(f.back(), 146.0);
    ASSERT_TRUE(planSweep(1, 10000, 1, f).ok());
    EXPECT_EQ(f.size(), 10000u);
    ASSERT_TRUE(planSweep(10000, 1, -0.999999, f).ok());
    EXPECT_EQ(f.size(), 10000u);
}

// Each list and its points, or "" and the message.
TEST(SweepPlan, ExplicitList)
{
    const std::tuple<const char *, std::vector<double>, std::string> cases[] = {
        {"144, 145.5;146\r\n147\t+148 144", {144, 145.5, 146, 147, 148, 144}, ""},
        {"144,5", {144, 5}, ""},
        {" ,; \n", {}, "The list holds no frequency."},
        {"144 145k", {}, "\"145k\" in the list is not a frequency in MHz."},
        {"0x10", {}, "\"0x10\" in the list is not a frequency in MHz."},
        {"inf", {}, "\"inf\" in the list is not a frequency in MHz."},
        {"144 40000", {}, std::string("The list's frequency 40000 MHz") + kOutside},
        {"-144", {}, std::string("The list's frequency -144 MHz") + kOutside},
    };
    for (const auto &[text, expected, message] : cases) {
        std::vector<double> f{1.0};
        EXPECT_EQ(planSweepList(text, f).message, message) << text;
        EXPECT_EQ(f, expected) << text;
    }
    std::string many;
    for (int i = 0; i < kMaxSweepPoints; ++i)
        many += "100 ";
    std::vector<double> f;
    EXPECT_TRUE(planSweepList(many, f).ok());
    EXPECT_EQ(planSweepList(many + "101", f).error, SweepPlanError::TooManyPoints);
    EXPECT_TRUE(f.empty());
}

// A full row, and one with a -infinity, doubles that need 17 digits and no uncertainties.
std::vector<SweepRow> exampleRows()
{
    constexpr double none = SweepRow::kNone; // no corrections: their columns stay out
    return {{144.3, 25.0, 1.25, 19.5, 96.7, 0.05, 0.02, 3.5, "", none, none, none, none, ""},
            {.frequencyMHz = 145.0,
             .enrDb = 0.1 + 0.2,
             .nfDb = -std::numeric_limits<double>::infinity(),
             .gainDb = 1e-300,
             .teK = 290.00000000000006,
             .warnings = "Y factor below 1, \"DUT\" too quiet\nsecond line",
             .correctedFor = {}}};
}

// Any warning text and any double come back exactly through the reader.
TEST(SweepCsv, QuotingRoundTrip)
{
    const char *texts[] = {"",         "plain", "a,b", "say \"hi\"", "\"", "line\r\nend",
                           "lone\rcr", "\n",    ",,,", "\"\",\"\""};
    std::vector<SweepRow> rows;
    for (const char *t : texts) {
        SweepRow r = exampleRows()[1];
        r.warnings = t;
        r.frequencyMHz = 100.0 + static_cast<double>(rows.size()) / 3.0;
        rows.push_back(r);
    }
    std::vector<std::vector<std::string>> records;
    ASSERT_TRUE(parseCsv(sweepCsv(rows), records));
    ASSERT_EQ(records.size(), rows.size() + 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &fields = records[i + 1];
        ASSERT_EQ(fields.size(), 9u) << i;
        EXPECT_EQ(fields[8], rows[i].warnings) << i;
        EXPECT_EQ(parseDecimal(fields[0]), rows[i].frequencyMHz);
    }
}

TEST(SweepCsv, ReaderLineEndsAndMalformedText)
{
    const std::tuple<const char *, bool, std::vector<std::vector<std::string>>> cases[] = {
        {"a,b\nc,d", true, {{"a", "b"}, {"c", "d"}}},
        {"a,\"b\r\nc\"\r\n\r\n", true, {{"a", "b\r\nc"}, {""}}},
        {"x\ry,\"\"", true, {{"x\ry", ""}}},
        {"", true, {}},
        {"a\"b", false, {}},
        {"\"a\"b", false, {}},
        {"\"abc", false, {}},
    };
    for (const auto &[text, ok, expected] : cases) {
        std::vector<std::vector<std::string>> records{{"stale"}};
        EXPECT_EQ(parseCsv(text, records), ok) << text;
        EXPECT_EQ(records, expected) << text;
    }
}

// The text in full, and the file holds it; infinities and NaN are empty fields.
TEST(SweepCsv, FileHoldsTheTextOrTheMessageSaysWhy)
{
    const std::string text =
        "Frequency (MHz),ENR used (dB),NF (dB),Gain (dB),Te (K),NF uncertainty (dB),"
        "Gain uncertainty (dB),Te uncertainty (K),Warnings\r\n"
        "144.3,25,1.25,19.5,96.7,0.05,0.02,3.5,\r\n"
        "145,0.30000000000000004,,1e-300,290.00000000000006,,,,"
        "\"Y factor below 1, \"\"DUT\"\" too quiet\nsecond line\"\r\n";
    EXPECT_EQ(sweepCsv(exampleRows()), text);
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/sweep.csv").toStdString();
    EXPECT_EQ(writeSweepCsv(path, exampleRows()), "");
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), text);

    const std::string missing = (dir.path() + "/no/such/folder/sweep.csv").toStdString();
    const std::string message = writeSweepCsv(missing, exampleRows());
    EXPECT_EQ(message.rfind("The CSV file \"" + missing + "\" could not be written: ", 0), 0u)
        << message;
    EXPECT_GT(message.size(), missing.size() + 40);
}

// Fault mended: a full disk put a CSV cut mid-number in place of the old one and reported
// success.
TEST(SweepCsv, AFullDiskKeepsTheOldFileAndSaysWhy)
{
    test::SmallDisk disk(2); // the old file's page and one more
    if (!disk.ok())
        GTEST_SKIP() << disk.whyNot();
    const std::string path = disk.file("sweep.csv");
    std::ofstream(path, std::ios::binary) << "old\r\n";
    std::vector<SweepRow> rows;
    const std::vector<SweepRow> two = exampleRows();
    while (sweepCsv(rows).size() < 2 * 4096)
        rows.insert(rows.end(), two.begin(), two.end());
    EXPECT_EQ(writeSweepCsv(path, rows),
              "The CSV file \"" + path + "\" could not be written: No space left on device.");
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old\r\n");
    EXPECT_EQ(QDir(QString::fromStdString(disk.path())).entryList(QDir::Files | QDir::Hidden),
              QStringList{"sweep.csv"});
}

} // namespace
} // namespace quillon
