#pragma once

// The options that measure and sweep share for limits, the DUT record and the report:
// --nf-max, --gain-min, --gain-max, --limit-file, --dut-name, --dut-serial, --dut-notes,
// --report; and the exit status their verdicts give.

#include "measure/Limits.h"
#include "measure/Report.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::cli {

class Options;

// Exit statuses of a measurement with limits (1, 2 and 130 keep their meaning).
inline constexpr int kExitLimitFailed = 3;        // a result failed its limit
inline constexpr int kExitLimitIndeterminate = 4; // none failed, some indeterminate

// `report`: also --report (measure and sweep; the sky command takes it through
// reportFileOption alone).
void addLimitOptionNames(std::vector<std::string_view> &valued, bool report = true);

struct LimitRequest
{
    Limits limits;
    DutRecord dut;
    std::optional<std::string> reportFile; // --report FILE.html
};

// Throws CliError (status 2) for a bad number, a gain minimum above the maximum, a limit
// file that cannot be read, or single limits given together with --limit-file; and a
// report whose folder cannot take the file, before anything is measured.
LimitRequest parseLimitOptions(const Options &o);

// --report FILE.html as given, checked as parseLimitOptions checks it (the sky command's too).
std::optional<std::string> reportFileOption(const Options &o);

// 0 when every result passed or no limit was set, 3 when any failed, 4 when none failed but
// some were indeterminate or had no verdict.
int verdictExitStatus(const Limits &limits, const VerdictCounts &counts);

// The local date and time as a report states it: "2026-12-07 04:31:27".
std::string reportDateTime();

} // namespace quillon::cli
