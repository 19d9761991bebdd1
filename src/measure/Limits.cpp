#include "measure/Limits.h"

#include "core/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace quillon {

namespace {

bool given(double v)
{
    return !std::isnan(v);
}

// The limit between two rows at `f`, interpolated linearly; NaN unless both give one.
double between(const LimitRow &a, const LimitRow &b, double LimitRow::*field, double f)
{
    const double va = a.*field, vb = b.*field;
    if (f == a.frequencyMHz)
        return va;
    if (f == b.frequencyMHz)
        return vb;
    if (!given(va) || !given(vb))
        return LimitRow::kNone;
    return va + (vb - va) * (f - a.frequencyMHz) / (b.frequencyMHz - a.frequencyMHz);
}

std::string mhz(double f)
{
    return formatFixed(f, 3) + " MHz";
}

} // namespace

std::string_view verdictText(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        return "PASS";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Indeterminate:
        return "INDETERMINATE";
    case Verdict::None:
        break;
    }
    return "";
}

bool Limits::any() const
{
    return !table.empty() || given(nfMaxDb) || given(gainMinDb) || given(gainMaxDb);
}

LimitsAt limitsAt(const Limits &limits, double frequencyMHz)
{
    LimitsAt at;
    if (limits.table.empty()) {
        at.nfMaxDb = limits.nfMaxDb;
        at.gainMinDb = limits.gainMinDb;
        at.gainMaxDb = limits.gainMaxDb;
        return at;
    }
    const std::vector<LimitRow> &t = limits.table;
    const std::string range =
        "it runs from " + mhz(t.front().frequencyMHz) + " to " + mhz(t.back().frequencyMHz);
    if (!given(frequencyMHz)) {
        at.covered = false;
        at.message = "The limit table gives limits against frequency, and this result has no "
                     "frequency: no verdict.";
        return at;
    }
    if (frequencyMHz < t.front().frequencyMHz || frequencyMHz > t.back().frequencyMHz) {
        at.covered = false;
        at.message =
            "The limit table does not cover " + mhz(frequencyMHz) + " (" + range + "): no verdict.";
        return at;
    }
    // The first row at or above f, and the one before it (the same at the first row).
    const auto hi =
        std::lower_bound(t.begin(), t.end(), frequencyMHz,
                         [](const LimitRow &r, double f) { return r.frequencyMHz < f; });
    const auto lo = hi == t.begin() ? hi : std::prev(hi);
    at.nfMaxDb = between(*lo, *hi, &LimitRow::nfMaxDb, frequencyMHz);
    at.gainMinDb = between(*lo, *hi, &LimitRow::gainMinDb, frequencyMHz);
    at.gainMaxDb = between(*lo, *hi, &LimitRow::gainMaxDb, frequencyMHz);
    if (!given(at.nfMaxDb) && !given(at.gainMinDb) && !given(at.gainMaxDb)) {
        at.covered = false;
        at.message = "The limit table gives no limit at " + mhz(frequencyMHz) +
                     " (its rows there leave every limit out): no verdict.";
    }
    return at;
}

Verdict upperLimitVerdict(double value, double halfWidth95, double limit)
{
    if (!given(limit) || !given(value))
        return Verdict::None;
    if (!(halfWidth95 >= 0.0) || std::isinf(halfWidth95))
        return Verdict::Indeterminate;
    if (value + halfWidth95 <= limit)
        return Verdict::Pass;
    if (value - halfWidth95 > limit)
        return Verdict::Fail;
    return Verdict::Indeterminate;
}

Verdict lowerLimitVerdict(double value, double halfWidth95, double limit)
{
    // The mirror image: x >= limit is -x <= -limit.
    return upperLimitVerdict(-value, halfWidth95, -limit);
}

ResultVerdict verdictFor(const Limits &limits, double frequencyMHz, double nfDb,
                         double nfHalfWidth95Db, double gainDb, double gainHalfWidth95Db)
{
    ResultVerdict v;
    v.limits = limitsAt(limits, frequencyMHz);
    if (!v.limits.covered) {
        v.message = v.limits.message;
        return v;
    }
    v.nf = upperLimitVerdict(nfDb, nfHalfWidth95Db, v.limits.nfMaxDb);
    v.gain = std::max(lowerLimitVerdict(gainDb, gainHalfWidth95Db, v.limits.gainMinDb),
                      upperLimitVerdict(gainDb, gainHalfWidth95Db, v.limits.gainMaxDb));
    v.overall = std::max(v.nf, v.gain);
    // A limit set on a result that is not there (no noise figure at this point): nothing
    // was decided about it, and a verdict on the rest alone would pass what was not shown.
    const bool nfMissing = given(v.limits.nfMaxDb) && !given(nfDb);
    const bool gainMissing =
        (given(v.limits.gainMinDb) || given(v.limits.gainMaxDb)) && !given(gainDb);
    if ((nfMissing || gainMissing) && v.overall == Verdict::Pass)
        v.overall = Verdict::Indeterminate;
    return v;
}

void VerdictCounts::add(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        ++pass;
        break;
    case Verdict::Fail:
        ++fail;
        break;
    case Verdict::Indeterminate:
        ++indeterminate;
        break;
    case Verdict::None:
        ++none;
        break;
    }
}

std::string VerdictCounts::summary() const
{
    std::string s;
    auto part = [&](int n, const char *what) {
        if (n == 0)
            return;
        s += (s.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    part(pass, "PASS");
    part(fail, "FAIL");
    part(indeterminate, "INDETERMINATE");
    part(none, "no verdict");
    return s;
}

bool parseLimitTable(std::string_view bytes, std::vector<LimitRow> &rows, std::string &message)
{
    rows.clear();
    message.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    static constexpr const char *kFieldNames[] = {"frequency", "noise figure maximum",
                                                  "gain minimum", "gain maximum"};
    int lineNumber = 0;
    std::size_t at = 0;
    auto fail = [&](const std::string &why) {
        rows.clear();
        message = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (at < bytes.size()) {
        ++lineNumber;
        std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos)
            continue;
        if (std::strchr(";#/\\", line[first]) != nullptr)
            continue;
        // Fields between runs of separators; blanks around a field are not part of it.
        std::vector<std::string_view> fields;
        std::size_t p = 0;
        while (p < line.size()) {
            p = line.find_first_not_of(",;\t", p);
            if (p == std::string_view::npos)
                break;
            std::size_t q = line.find_first_of(",;\t", p);
            if (q == std::string_view::npos)
                q = line.size();
            std::string_view f = line.substr(p, q - p);
            while (!f.empty() && f.front() == ' ')
                f.remove_prefix(1);
            while (!f.empty() && f.back() == ' ')
                f.remove_suffix(1);
            if (!f.empty())
                fields.push_back(f);
            p = q;
        }
        if (fields.size() < 2)
            return fail("a frequency and at least one limit are needed");
        if (fields.size() > 4)
            return fail("more than four fields (frequency, NF max, gain min, gain max)");
        double values[4] = {LimitRow::kNone, LimitRow::kNone, LimitRow::kNone, LimitRow::kNone};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0 && fields[i] == "-")
                continue;
            if (!isDecimalText(fields[i]))
                return fail(std::string("the ") + kFieldNames[i] + " \"" + std::string(fields[i]) +
                            "\" is not a number");
            values[i] = parseDecimal(fields[i]);
            if (!std::isfinite(values[i]))
                return fail(std::string("the ") + kFieldNames[i] + " is out of range");
        }
        if (values[0] < 0.0 || values[0] > 1e6)
            return fail("the frequency must lie between 0 and 1000000 MHz");
        if (!given(values[1]) && !given(values[2]) && !given(values[3]))
            return fail("no limit given");
        if (given(values[2]) && given(values[3]) && values[2] > values[3])
            return fail("the gain minimum is above the gain maximum");
        rows.push_back({values[0], values[1], values[2], values[3]});
    }
    if (rows.empty()) {
        message = "it holds no limits";
        return false;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const LimitRow &a, const LimitRow &b) {
        return a.frequencyMHz < b.frequencyMHz;
    });
    for (std::size_t i = 1; i < rows.size(); ++i)
        if (rows[i].frequencyMHz == rows[i - 1].frequencyMHz) {
            message = "two rows at " + mhz(rows[i].frequencyMHz);
            rows.clear();
            return false;
        }
    return true;
}

bool readLimitFile(const std::string &path, std::vector<LimitRow> &rows, std::string &message)
{
    auto refused = [&](const std::string &reason) {
        rows.clear();
        message = "The limit file \"" + path + "\" could not be read: " + reason;
        return false;
    };
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return refused(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return refused("it is not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return refused(std::strerror(errno));
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.bad())
        return refused("read error");
    if (!parseLimitTable(bytes, rows, message)) {
        message = "The limit file \"" + path + "\" was refused: " + message;
        return false;
    }
    return true;
}

} // namespace quillon
