#include "cli/CliSupport.h"
#include "cli/Commands.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quillon::cli {

// The run functions, each defined in its command's .cpp file, and the help texts (Help.cpp).
int runDevices(const std::vector<std::string> &args);
int runLevel(const std::vector<std::string> &args);
int runCalc(const std::vector<std::string> &args);
int runEnr(const std::vector<std::string> &args);
int runMeasure(const std::vector<std::string> &args);
int runCalibrate(const std::vector<std::string> &args);
int runSpectrum(const std::vector<std::string> &args);
int runBench(const std::vector<std::string> &args);
int runSweep(const std::vector<std::string> &args);
int runLive(const std::vector<std::string> &args);
extern const char *const kMainHelpIntro;
extern const char *const kMainHelpNotes;
extern const char *const kDevicesHelp;
extern const char *const kLevelHelp;
extern const char *const kCalcHelp;
extern const char *const kEnrHelp;
extern const char *const kMeasureHelp;
extern const char *const kCalibrateHelp;
extern const char *const kSpectrumHelp;
extern const char *const kBenchHelp;
extern const char *const kSweepHelp;
extern const char *const kLiveHelp;

namespace {

const std::array kCommands{
    Command{"devices", "", runDevices,
            "the sound inputs with their capture formats, and the switch ports", kDevicesHelp},
    Command{"level", "FILE", runLevel,
            "block levels of a WAV file, as the Measure Noise page reads them", kLevelHelp},
    Command{"calc", "MODE", runCalc, "the calculator: simple, system, device or calibrate",
            kCalcHelp},
    Command{"enr", "FILE", runEnr, "read an ENR calibration file and interpolate ENRs", kEnrHelp},
    Command{"measure", "", runMeasure,
            "the Measure Device series (the virtual bench when no device is given)", kMeasureHelp},
    Command{"calibrate", "", runCalibrate,
            "the Calibrate Noise Source series: the ENR of an unknown noise source",
            kCalibrateHelp},
    Command{"spectrum", "", runSpectrum,
            "a WAV file's spectrum as Show Spectrum computes it, and its passband", kSpectrumHelp},
    Command{"bench", "", runBench,
            "what a correct measurement of the virtual bench reads, at its settings", kBenchHelp},
    Command{"sweep", "", runSweep,
            "noise figure and gain against frequency, the receiver tuned per point", kSweepHelp},
    Command{"live", "", runLive,
            "the live noise figure: the source switched continuously, a line per group",
            kLiveHelp},
};

std::string synopsis(const Command &c)
{
    return c.arguments.empty() ? std::string(c.name)
                               : std::string(c.name) + " " + std::string(c.arguments);
}

} // namespace

std::span<const Command> commands()
{
    return kCommands;
}

const Command *findCommand(std::string_view name)
{
    const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                                 [name](const Command &c) { return c.name == name; });
    return it == kCommands.end() ? nullptr : &*it;
}

std::string mainHelp()
{
    // The summaries line up three columns after the longest name with its arguments.
    std::size_t width = 0;
    for (const Command &c : kCommands)
        width = std::max(width, synopsis(c).size());
    std::string text = kMainHelpIntro;
    for (const Command &c : kCommands) {
        const std::string name = synopsis(c);
        text +=
            "  " + name + std::string(width + 3 - name.size(), ' ') + std::string(c.summary) + "\n";
    }
    return text + kMainHelpNotes;
}

std::string unknownCommandMessage(std::string_view name)
{
    std::string names;
    for (const Command &c : kCommands)
        names += (names.empty() ? "" : ", ") + std::string(c.name);
    return "unknown command '" + std::string(name) + "' (commands: " + names +
           "; see quillon-cli --help)";
}

const char *helpText(std::string_view name)
{
    const Command *c = findCommand(name);
    return c != nullptr ? c->help : "";
}

int printHelp(std::string_view name)
{
    std::fputs(helpText(name), stdout);
    return kExitOk;
}

} // namespace quillon::cli
