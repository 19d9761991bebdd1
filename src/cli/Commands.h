#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::cli {

// One command of quillon-cli. `run` takes the arguments after the command's name, prints its
// result on stdout (text, or JSON with --json) and returns the exit status; bad input throws
// CliError, which main() prints as one line on stderr.
struct Command
{
    std::string_view name;      // what the user types: "level"
    std::string_view arguments; // shown after the name in the command list: "FILE", or ""
    int (*run)(const std::vector<std::string> &args);
    std::string_view summary; // the command list's one line
    const char *help;         // `quillon-cli NAME --help`
};

// Every command, in the order the main help lists them. main() dispatches through this table,
// and the main help and the unknown-command message list its names. Adding a command touches
// three places: its own .cpp file (the run function), its help text in Help.cpp, and its row
// in CommandTable.cpp.
std::span<const Command> commands();

// The command called `name`; null when there is none.
const Command *findCommand(std::string_view name);

// `quillon-cli --help`: usage, the command list, the options every command takes.
std::string mainHelp();

// "unknown command 'x' (commands: devices, level, ...; see quillon-cli --help)"
std::string unknownCommandMessage(std::string_view name);

// The --help text of the command called `name` (which must be in the table).
const char *helpText(std::string_view name);

// Prints that text on stdout; returns kExitOk, for `if (o.flag("help")) return printHelp(..)`.
int printHelp(std::string_view name);

} // namespace quillon::cli
