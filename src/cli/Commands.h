#pragma once

#include <string>
#include <vector>

namespace quillon::cli {

// The commands of quillon-cli. Each takes the arguments after its name, prints its result
// on stdout (text, or JSON with --json) and returns the exit status; bad input throws
// CliError, which main() prints as one line on stderr.
int runDevices(const std::vector<std::string> &args);
int runLevel(const std::vector<std::string> &args);
int runCalc(const std::vector<std::string> &args);
int runEnr(const std::vector<std::string> &args);
int runMeasure(const std::vector<std::string> &args);
int runSpectrum(const std::vector<std::string> &args);
int runBench(const std::vector<std::string> &args);
int runSweep(const std::vector<std::string> &args);

// Help texts, printed by --help.
extern const char *const kMainHelp;
extern const char *const kDevicesHelp;
extern const char *const kLevelHelp;
extern const char *const kCalcHelp;
extern const char *const kEnrHelp;
extern const char *const kMeasureHelp;
extern const char *const kSpectrumHelp;
extern const char *const kBenchHelp;
extern const char *const kSweepHelp;

// The serial devices the switch-port probe tries: defaultProbeDevices(), or the
// colon-separated list in the environment variable QUILLON_SWITCH_PROBE_DEVICES when it is
// set (tests and unusual machines; an empty value probes no serial device).
std::vector<std::string> switchProbeDevices();

} // namespace quillon::cli
