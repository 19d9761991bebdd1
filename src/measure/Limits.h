#pragma once

// Limits on a DUT's noise figure and gain, and the verdict of a result against them given
// its 95% interval. Pure functions, any thread; the pages, the live view and quillon-cli
// all decide through verdictFor().
//
// The decision rule: a result's 95% interval is [value - U, value + U], U its total 95%
// half-width (readings and stated parts together). PASS when every point of the interval
// meets the limit (NF <= its maximum, gain >= its minimum, gain <= its maximum), FAIL when
// no point does, INDETERMINATE when the interval holds both. A result exactly on a limit
// therefore straddles it and is INDETERMINATE (an interval that ends on the limit from the
// good side still passes: the limit itself meets it). A result without a 95% interval
// (no uncertainty estimated) is INDETERMINATE; a result that is not there (NaN) has no
// verdict.

#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

enum class Verdict
{
    None, // nothing to decide: no limit set, no result, or a table not covering it
    Pass,
    Indeterminate,
    Fail, // kept last: the worse of two verdicts is the larger
};

// "PASS", "FAIL", "INDETERMINATE", "" for None.
std::string_view verdictText(Verdict v);

// One point of a limit table. NaN: no such limit at this frequency.
struct LimitRow
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double frequencyMHz = kNone;
    double nfMaxDb = kNone;
    double gainMinDb = kNone;
    double gainMaxDb = kNone;
};

// The limits in force: single values (valid at every frequency) or a table against
// frequency, which then replaces them.
struct Limits
{
    double nfMaxDb = LimitRow::kNone;
    double gainMinDb = LimitRow::kNone;
    double gainMaxDb = LimitRow::kNone;
    std::vector<LimitRow> table; // sorted by ascending frequency; empty: the single values
    std::string tableFile;       // where the table came from, for the report

    bool any() const;
};

// The limits at one frequency (MHz; NaN for a result taken at none, as Measure Device's).
// From a table: each limit interpolated linearly in dB between the two neighbouring rows
// that give it; at a row's own frequency that row's. `covered` is false, with `message`
// saying so, where the table does not reach the frequency (below its first or above its last
// row: no extrapolation) or where the neighbouring rows give no limit of any kind.
struct LimitsAt
{
    bool covered = true;
    std::string message;
    double nfMaxDb = LimitRow::kNone;
    double gainMinDb = LimitRow::kNone;
    double gainMaxDb = LimitRow::kNone;
};
LimitsAt limitsAt(const Limits &limits, double frequencyMHz);

// The verdict of one value with its 95% half-width against an upper or lower limit. A NaN
// limit gives None, a NaN value None, a NaN or negative half-width Indeterminate.
Verdict upperLimitVerdict(double value, double halfWidth95, double limit);
Verdict lowerLimitVerdict(double value, double halfWidth95, double limit);

// One result's verdict: the worst of its noise figure's and gain's. Half-widths are 95%.
// Without a gain (system mode) pass NaN for it: a gain limit then has nothing to judge.
struct ResultVerdict
{
    Verdict overall = Verdict::None;
    Verdict nf = Verdict::None;
    Verdict gain = Verdict::None;
    LimitsAt limits;
    std::string message; // why there is no verdict (the table's message), else empty
};
ResultVerdict verdictFor(const Limits &limits, double frequencyMHz, double nfDb,
                         double nfHalfWidth95Db, double gainDb, double gainHalfWidth95Db);

// The counts of a sweep's verdicts and its summary: "19 PASS, 1 INDETERMINATE" (kinds with
// none left out, in the order PASS, FAIL, INDETERMINATE, then "2 no verdict").
struct VerdictCounts
{
    int pass = 0;
    int fail = 0;
    int indeterminate = 0;
    int none = 0;
    void add(Verdict v);
    std::string summary() const;
};

// Reads a limit table, given as the file's bytes, in the ENR file's layout: one row per
// line, fields separated by runs of ',', TAB or ';': frequency in MHz, the noise figure's
// maximum, the gain's minimum and optionally the gain's maximum, in dB. A field "-" (or a
// missing last field) is no limit of that kind at this row. Comment lines begin with ';',
// '#', '/' or '\'; blank lines are skipped; a UTF-8 byte-order mark and CR LF line ends are
// read. Rows may come in any order; two rows at one frequency are refused. On failure returns
// false and `message` says why, naming the line: "line 3: the noise figure maximum "abc" is
// not a number", "it holds no limits", "two rows at 100.000 MHz".
bool parseLimitTable(std::string_view bytes, std::vector<LimitRow> &rows, std::string &message);
// The file at `path`: "The limit file "x" could not be read: No such file or directory", or
// for its content "The limit file "x" was refused: line 3: ...".
bool readLimitFile(const std::string &path, std::vector<LimitRow> &rows, std::string &message);

} // namespace quillon
