#pragma once

#include "core/Messages.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::cli {

// Exit statuses of quillon-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;      // a measurement failed: device, over range, log file
inline constexpr int kExitBadInput = 2;    // bad command line, unreadable or unsupported file
inline constexpr int kExitCancelled = 130; // interrupted (Ctrl-C) during a measurement

// SIGINT, SIGTERM and SIGHUP end a measuring command alike: what was measured is printed
// and written, then the command exits with 128 + the signal's number (130, 143, 129).
// catchStopSignals() installs the one handler for all three; the handler only counts.
void catchStopSignals();
void restoreStopSignals();    // the default actions again
int stopSignal();             // the first stop signal received, 0 before any
int stopSignalCount();        // how many were received
int stopStatus();             // 128 + stopSignal(): the exit status after a stop signal

// A bad command line or input file: the one-line message (without the program name) and
// the exit status. Thrown inside the CLI only; main() prints it.
class CliError : public std::runtime_error
{
public:
    explicit CliError(const std::string &message, int status = kExitBadInput)
        : std::runtime_error(message), m_status(status)
    {
    }
    int status() const { return m_status; }

private:
    int m_status;
};

// Prints "quillon-cli: <message>" on stderr, one line per message.
void printError(std::string_view message);

// The engine's messages (switch port failures and the like) as error lines on stderr.
class StderrMessageSink : public MessageSink
{
public:
    void showMessage(int messageId) override;
    int count() const { return m_count; }

private:
    int m_count = 0;
};

// A command's options, parsed from its arguments. Options are "--name value",
// "--name=value" or flags ("--name"); anything not starting with "--" is a positional
// argument, and so is everything after "--". "-h" is "--help".
class Options
{
public:
    // `valued` and `flags` name the options this command knows (without the dashes).
    Options(std::string_view command, const std::vector<std::string> &args,
            const std::vector<std::string_view> &valued,
            const std::vector<std::string_view> &flags);

    bool flag(std::string_view name) const;
    bool has(std::string_view name) const;
    std::optional<std::string> text(std::string_view name) const;
    // A decimal number ("-3.5", "1e3"); the whole text must be one. Empty when absent.
    std::optional<double> number(std::string_view name) const;
    // The number, which must lie within [lo, hi].
    std::optional<double> number(std::string_view name, double lo, double hi) const;
    // An integer within [lo, hi].
    std::optional<int> integer(std::string_view name, int lo, int hi) const;

    const std::vector<std::string> &positional() const { return m_positional; }
    const std::string &command() const { return m_command; }

private:
    std::string m_command;
    std::map<std::string, std::string, std::less<>> m_values;
    std::vector<std::string> m_flags;
    std::vector<std::string> m_positional;
};

// Strict conversions of one whole argument; throw CliError naming `what` on bad text.
double parseNumberArg(std::string_view text, std::string_view what);
// --time: a capture time of 100, 1000 (the default) or 10000 ms, as the Setup page offers.
std::uint32_t captureTimeArg(const Options &o);
int parseIntegerArg(std::string_view text, std::string_view what);

// A number for text output: formatFixed with `decimals`.
std::string fixed(double value, int decimals);

} // namespace quillon::cli
