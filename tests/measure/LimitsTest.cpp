// Limits and verdicts: the decision rule at its boundaries, limit tables against frequency,
// and the limit file's reader with every message it gives.
#include "measure/Limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quillon {
namespace {

constexpr double kNaN = LimitRow::kNone;

// The rule's truth table. Values and half-widths are exact in binary, so the boundaries are
// met exactly: NF 1.0 dB with a 95% half-width of 0.25 dB is the interval [0.75, 1.25].
struct RuleCase
{
    const char *name;
    bool upper;
    double value, halfWidth, limit;
    Verdict expected;
};

const RuleCase kRuleCases[] = {
    {"upper_well_inside", true, 1.0, 0.25, 1.5, Verdict::Pass},
    {"upper_interval_ends_on_limit", true, 1.0, 0.25, 1.25, Verdict::Pass},
    {"upper_value_exactly_on_limit", true, 1.0, 0.25, 1.0, Verdict::Indeterminate},
    {"upper_interval_starts_on_limit", true, 1.0, 0.25, 0.75, Verdict::Indeterminate},
    {"upper_whole_interval_above", true, 1.0, 0.25, 0.5, Verdict::Fail},
    {"upper_no_uncertainty_on_limit", true, 1.0, 0.0, 1.0, Verdict::Pass},
    {"upper_no_interval_estimated", true, 1.0, kNaN, 5.0, Verdict::Indeterminate},
    {"upper_infinite_interval", true, 1.0, INFINITY, 5.0, Verdict::Indeterminate},
    {"upper_no_result", true, kNaN, 0.25, 5.0, Verdict::None},
    {"upper_no_limit", true, 1.0, 0.25, kNaN, Verdict::None},
    {"lower_well_inside", false, 20.0, 0.5, 19.0, Verdict::Pass},
    {"lower_interval_ends_on_limit", false, 20.0, 0.5, 19.5, Verdict::Pass},
    {"lower_value_exactly_on_limit", false, 20.0, 0.5, 20.0, Verdict::Indeterminate},
    {"lower_interval_starts_on_limit", false, 20.0, 0.5, 20.5, Verdict::Indeterminate},
    {"lower_whole_interval_below", false, 20.0, 0.5, 21.0, Verdict::Fail},
};

class DecisionRule : public ::testing::TestWithParam<RuleCase>
{
};

TEST_P(DecisionRule, DecidesByTheWhole95PercentInterval)
{
    const RuleCase &c = GetParam();
    const Verdict v = c.upper ? upperLimitVerdict(c.value, c.halfWidth, c.limit)
                              : lowerLimitVerdict(c.value, c.halfWidth, c.limit);
    EXPECT_EQ(verdictText(v), verdictText(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Limits, DecisionRule, ::testing::ValuesIn(kRuleCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Verdicts, TheWorstLimitDecidesAndAMissingResultNeverPasses)
{
    Limits limits;
    EXPECT_FALSE(limits.any());
    EXPECT_EQ(verdictFor(limits, kNaN, 1.0, 0.1, 20.0, 0.1).overall, Verdict::None);

    limits.nfMaxDb = 1.5;
    limits.gainMinDb = 19.0;
    limits.gainMaxDb = 21.0;
    EXPECT_TRUE(limits.any());
    EXPECT_EQ(verdictFor(limits, kNaN, 1.0, 0.25, 20.0, 0.5).overall, Verdict::Pass);
    // Gain above its maximum: the noise figure's PASS does not hide it.
    ResultVerdict v = verdictFor(limits, kNaN, 1.0, 0.25, 22.0, 0.5);
    EXPECT_EQ(v.nf, Verdict::Pass);
    EXPECT_EQ(v.gain, Verdict::Fail);
    EXPECT_EQ(v.overall, Verdict::Fail);
    // An indeterminate noise figure and a passing gain: indeterminate; with a failing gain:
    // fail.
    EXPECT_EQ(verdictFor(limits, kNaN, 1.5, 0.25, 20.0, 0.5).overall, Verdict::Indeterminate);
    EXPECT_EQ(verdictFor(limits, kNaN, 1.5, 0.25, 18.0, 0.5).overall, Verdict::Fail);
    // System mode has no gain: with a gain limit set, the NF's PASS is not the whole answer.
    v = verdictFor(limits, kNaN, 1.0, 0.25, kNaN, kNaN);
    EXPECT_EQ(v.nf, Verdict::Pass);
    EXPECT_EQ(v.gain, Verdict::None);
    EXPECT_EQ(v.overall, Verdict::Indeterminate);
    // A point without a noise figure (out of range) and only an NF limit: nothing to decide.
    Limits nfOnly;
    nfOnly.nfMaxDb = 2.0;
    EXPECT_EQ(verdictFor(nfOnly, kNaN, kNaN, kNaN, 20.0, 0.5).overall, Verdict::None);
}

class LimitTable : public ::testing::Test
{
protected:
    LimitTable()
    {
        // 100 MHz: NF <= 1.0, gain >= 20; 200 MHz: NF <= 2.0, 18 <= gain <= 22.
        limits.table = {{100.0, 1.0, 20.0, kNaN}, {200.0, 2.0, 18.0, 22.0}};
        limits.nfMaxDb = 9.0; // a table replaces the single values
    }
    Limits limits;
};

TEST_F(LimitTable, InterpolatesBetweenRowsInDbAndNeverExtrapolates)
{
    LimitsAt at = limitsAt(limits, 150.0);
    EXPECT_TRUE(at.covered);
    EXPECT_DOUBLE_EQ(at.nfMaxDb, 1.5);
    EXPECT_DOUBLE_EQ(at.gainMinDb, 19.0);
    EXPECT_TRUE(std::isnan(at.gainMaxDb)); // only one neighbour gives it
    at = limitsAt(limits, 125.0);
    EXPECT_DOUBLE_EQ(at.nfMaxDb, 1.25);
    EXPECT_DOUBLE_EQ(at.gainMinDb, 19.5);
    at = limitsAt(limits, 200.0); // the last row's own frequency: its own limits
    EXPECT_DOUBLE_EQ(at.nfMaxDb, 2.0);
    EXPECT_DOUBLE_EQ(at.gainMaxDb, 22.0);
    at = limitsAt(limits, 100.0);
    EXPECT_DOUBLE_EQ(at.nfMaxDb, 1.0);
    EXPECT_TRUE(std::isnan(at.gainMaxDb));

    // Interpolated limit 1.5 dB at 150 MHz: NF 1.25 +- 0.25 ends on it and passes.
    EXPECT_EQ(verdictFor(limits, 150.0, 1.25, 0.25, 20.0, 0.5).overall, Verdict::Pass);
    EXPECT_EQ(verdictFor(limits, 150.0, 1.5, 0.25, 20.0, 0.5).overall, Verdict::Indeterminate);
}

TEST_F(LimitTable, APointItDoesNotCoverGetsAMessageAndNoVerdict)
{
    struct
    {
        double f;
        const char *message;
    } const cases[] = {
        {99.999, "The limit table does not cover 99.999 MHz (it runs from 100.000 MHz to "
                 "200.000 MHz): no verdict."},
        {200.5, "The limit table does not cover 200.500 MHz (it runs from 100.000 MHz to "
                "200.000 MHz): no verdict."},
        {kNaN, "The limit table gives limits against frequency, and this result has no "
               "frequency: no verdict."},
    };
    for (const auto &c : cases) {
        const ResultVerdict v = verdictFor(limits, c.f, 0.5, 0.1, 20.0, 0.1);
        EXPECT_EQ(v.overall, Verdict::None) << c.f;
        EXPECT_EQ(v.message, c.message);
        EXPECT_FALSE(v.limits.covered);
    }
    // Rows that leave every limit out between them.
    Limits gaps;
    gaps.table = {{100.0, 1.0, kNaN, kNaN}, {200.0, kNaN, 20.0, kNaN}};
    const ResultVerdict v = verdictFor(gaps, 150.0, 0.5, 0.1, 25.0, 0.1);
    EXPECT_EQ(v.overall, Verdict::None);
    EXPECT_EQ(v.message, "The limit table gives no limit at 150.000 MHz (its rows there leave "
                         "every limit out): no verdict.");
    EXPECT_EQ(verdictFor(gaps, 200.0, 0.5, 0.1, 25.0, 0.1).overall, Verdict::Pass);
}

TEST(VerdictSummary, CountsEachKindInOneOrder)
{
    VerdictCounts counts;
    EXPECT_EQ(counts.summary(), "");
    for (int i = 0; i < 19; ++i)
        counts.add(Verdict::Pass);
    counts.add(Verdict::Indeterminate);
    EXPECT_EQ(counts.summary(), "19 PASS, 1 INDETERMINATE");
    counts.add(Verdict::Fail);
    counts.add(Verdict::None);
    counts.add(Verdict::None);
    EXPECT_EQ(counts.summary(), "19 PASS, 1 FAIL, 1 INDETERMINATE, 2 no verdict");
}

TEST(LimitFile, ReadsTheEnrFilesLayout)
{
    std::vector<LimitRow> rows;
    std::string message;
    // BOM, comments, CR LF, mixed separators, "-" for no limit, rows out of order, and a row
    // without its last field.
    const std::string text = "\xEF\xBB\xBF# MHz, NF max, gain min, gain max\r\n"
                             "200;2.0;18;22\r\n"
                             "\r\n"
                             "; comment\n"
                             "100,\t1.0 , -\n"
                             "150\t1.5";
    ASSERT_TRUE(parseLimitTable(text, rows, message)) << message;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].frequencyMHz, 100.0);
    EXPECT_EQ(rows[0].nfMaxDb, 1.0);
    EXPECT_TRUE(std::isnan(rows[0].gainMinDb));
    EXPECT_EQ(rows[1].frequencyMHz, 150.0);
    EXPECT_TRUE(std::isnan(rows[1].gainMaxDb));
    EXPECT_EQ(rows[2].gainMaxDb, 22.0);
}

TEST(LimitFile, RefusesBadContentNamingTheLine)
{
    const struct
    {
        const char *text;
        const char *message;
    } cases[] = {
        {"100,1\n200\n", "line 2: a frequency and at least one limit are needed"},
        {"100,1,2,3,4\n", "line 1: more than four fields (frequency, NF max, gain min, gain max)"},
        {"# x\n100,abc\n", "line 2: the noise figure maximum \"abc\" is not a number"},
        {"100,1,nan\n", "line 1: the gain minimum \"nan\" is not a number"},
        {"100,1,2,0x19\n", "line 1: the gain maximum \"0x19\" is not a number"},
        {"-,1\n", "line 1: the frequency \"-\" is not a number"},
        {"100,1e999\n", "line 1: the noise figure maximum is out of range"},
        {"-5,1\n", "line 1: the frequency must lie between 0 and 1000000 MHz"},
        {"100,-,-,-\n", "line 1: no limit given"},
        {"100,-,22,18\n", "line 1: the gain minimum is above the gain maximum"},
        {"# only a comment\n", "it holds no limits"},
        {"", "it holds no limits"},
        {"100,1\n100,2\n", "two rows at 100.000 MHz"},
    };
    for (const auto &c : cases) {
        std::vector<LimitRow> rows{{1.0, 1.0, 1.0, 1.0}};
        std::string message;
        EXPECT_FALSE(parseLimitTable(c.text, rows, message)) << c.text;
        EXPECT_EQ(message, c.message) << c.text;
        EXPECT_TRUE(rows.empty()) << c.text;
    }
}

TEST(LimitFile, AFileThatCannotBeReadIsOneMessage)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillon-limits-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<LimitRow> rows;
    std::string message;
    const std::string missing = (dir / "missing.txt").string();
    EXPECT_FALSE(readLimitFile(missing, rows, message));
    EXPECT_EQ(message,
              "The limit file \"" + missing + "\" could not be read: No such file or directory");
    EXPECT_FALSE(readLimitFile(dir.string(), rows, message));
    EXPECT_EQ(message, "The limit file \"" + dir.string() +
                           "\" could not be read: it is not a regular file");
    const std::string bad = (dir / "bad.txt").string();
    std::ofstream(bad) << "100,1\n150,x\n";
    EXPECT_FALSE(readLimitFile(bad, rows, message));
    EXPECT_EQ(message,
              "The limit file \"" + bad +
                  "\" was refused: line 2: the noise figure maximum \"x\" is not a number");
    std::ofstream(bad) << "100,1\n150,2\n";
    EXPECT_TRUE(readLimitFile(bad, rows, message));
    EXPECT_EQ(rows.size(), 2u);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quillon
