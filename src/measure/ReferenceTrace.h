#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// An earlier sweep's results, drawn on the Sweep page beside the current one to compare
// DUTs. Pure functions but readReferenceTrace(); any thread.
struct ReferencePoint
{
    double frequencyMHz = 0.0;
    double nfDb = 0.0;   // NaN where the point has none
    double gainDb = 0.0; // NaN where the point has none
};

struct ReferenceTrace
{
    std::string name; // the file's name without its folder, as the legend shows it
    std::vector<ReferencePoint> points; // in ascending frequency
};

// The results in `text`: the CSV that "Export CSV..." and quillon-cli sweep --csv write (its
// "Frequency (MHz)", "NF (dB)" and "Gain (dB)" columns), the JSON of quillon-cli sweep --json
// (its "points"), or a report's JSON (its "results"). Points without a frequency or with
// neither an NF nor a gain are left out. False, with `why` (the reason alone), when the text
// is none of these or holds no point.
bool parseReferenceTrace(std::string_view text, std::vector<ReferencePoint> &points,
                         std::string &why);

// The file at `path`, whole: on failure the one message for the user, "The reference file
// "x" could not be read: No such file or directory." or "The reference file "x" holds no
// sweep results: <why>.", and `trace` left as it was.
bool readReferenceTrace(const std::string &path, ReferenceTrace &trace, std::string &message);

} // namespace quillon
