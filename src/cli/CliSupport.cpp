#include "cli/CliSupport.h"

#include "core/NumberText.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>

namespace quillon::cli {

void printError(std::string_view message)
{
    std::fprintf(stderr, "quillon-cli: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

void StderrMessageSink::showMessage(int messageId)
{
    ++m_count;
    printError(messageText(messageId));
}

namespace {

std::atomic<int> g_stopSignal{0};
std::atomic<int> g_stopSignals{0};
static_assert(std::atomic<int>::is_always_lock_free);
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Any thread, in a signal handler: only lock-free atomics.
extern "C" void onStopSignal(int signal)
{
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    g_stopSignals.fetch_add(1, std::memory_order_relaxed);
}

bool contains(const std::vector<std::string_view> &names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

void catchStopSignals()
{
    for (const int signal : kStopSignals)
        std::signal(signal, onStopSignal);
}

void restoreStopSignals()
{
    for (const int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
}

int stopSignal()
{
    return g_stopSignal.load(std::memory_order_relaxed);
}

int stopSignalCount()
{
    return g_stopSignals.load(std::memory_order_relaxed);
}

int stopStatus()
{
    const int signal = stopSignal();
    return signal != 0 ? 128 + signal : kExitCancelled;
}

double parseNumberArg(std::string_view text, std::string_view what)
{
    if (!isDecimalText(text))
        throw CliError(std::string(what) + " needs a number, not '" + std::string(text) + "'");
    return parseDecimal(text);
}

int parseIntegerArg(std::string_view text, std::string_view what)
{
    int value = 0;
    const char *first = text.data();
    if (!text.empty() && text[0] == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        throw CliError(std::string(what) + " needs a whole number, not '" + std::string(text) +
                       "'");
    return value;
}

std::string fixed(double value, int decimals)
{
    return formatFixed(value, decimals);
}

Options::Options(std::string_view command, const std::vector<std::string> &args,
                 const std::vector<std::string_view> &valued,
                 const std::vector<std::string_view> &flags)
    : m_command(command)
{
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-' ||
            (arg[1] != '-' && arg != "-h" && !std::isalpha(static_cast<unsigned char>(arg[1])))) {
            m_positional.push_back(arg); // "-3.5" is a number, not an option
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        if (arg == "-h") {
            m_flags.push_back("help");
            continue;
        }
        if (arg[1] != '-')
            throw CliError("unknown option '" + arg + "' for '" + m_command +
                           "' (see quillon-cli " + m_command + " --help)");
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "help" || contains(flags, name)) {
            if (inlineValue)
                throw CliError("option --" + name + " takes no value");
            m_flags.push_back(name);
        } else if (contains(valued, name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    throw CliError("option --" + name + " needs a value");
                inlineValue = args[++i];
            }
            m_values[name] = *inlineValue;
        } else {
            throw CliError("unknown option '--" + name + "' for '" + m_command +
                           "' (see quillon-cli " + m_command + " --help)");
        }
    }
}

bool Options::flag(std::string_view name) const
{
    return std::find(m_flags.begin(), m_flags.end(), name) != m_flags.end();
}

bool Options::has(std::string_view name) const
{
    return m_values.find(name) != m_values.end();
}

std::optional<std::string> Options::text(std::string_view name) const
{
    const auto it = m_values.find(name);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

std::optional<double> Options::number(std::string_view name) const
{
    const auto t = text(name);
    if (!t)
        return std::nullopt;
    return parseNumberArg(*t, "--" + std::string(name));
}

std::optional<double> Options::number(std::string_view name, double lo, double hi) const
{
    const auto v = number(name);
    if (v && !(*v >= lo && *v <= hi))
        throw CliError("--" + std::string(name) + " must lie between " + formatFixed(lo, 0) +
                       " and " + formatFixed(hi, 0) + " (got " + *text(name) + ")");
    return v;
}

std::optional<int> Options::integer(std::string_view name, int lo, int hi) const
{
    const auto t = text(name);
    if (!t)
        return std::nullopt;
    const int v = parseIntegerArg(*t, "--" + std::string(name));
    if (v < lo || v > hi)
        throw CliError("--" + std::string(name) + " must be " + std::to_string(lo) + " to " +
                       std::to_string(hi) + " (got " + *t + ")");
    return v;
}

std::uint32_t captureTimeArg(const Options &o)
{
    const int ms = o.integer("time", 1, 10000).value_or(1000);
    if (ms != 100 && ms != 1000 && ms != 10000)
        throw CliError("--time must be 100, 1000 or 10000 (ms), not " + std::to_string(ms));
    return static_cast<std::uint32_t>(ms);
}

} // namespace quillon::cli
