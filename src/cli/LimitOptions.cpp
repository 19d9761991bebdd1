#include "cli/LimitOptions.h"

#include "cli/CliSupport.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

// Why a report cannot be written at `path`, before anything is measured; empty when it can.
// A file made in its folder and removed again: permissions alone do not tell.
std::string reportPathProblem(const std::string &path)
{
    auto refused = [&](const std::string &reason) {
        return "The report \"" + path + "\" could not be written: " + reason + ".";
    };
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return refused("it is a folder");
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    std::string probe = folder + "/.quillon-report-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return refused("its folder " + folder + ": " + std::strerror(errno));
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

} // namespace

void addLimitOptionNames(std::vector<std::string_view> &valued, bool report)
{
    valued.insert(valued.end(), {"nf-max", "gain-min", "gain-max", "limit-file", "dut-name",
                                 "dut-serial", "dut-notes"});
    if (report)
        valued.push_back("report");
}

LimitRequest parseLimitOptions(const Options &o)
{
    LimitRequest r;
    Limits &l = r.limits;
    l.nfMaxDb = o.number("nf-max", -100.0, 100.0).value_or(LimitRow::kNone);
    l.gainMinDb = o.number("gain-min", -100.0, 100.0).value_or(LimitRow::kNone);
    l.gainMaxDb = o.number("gain-max", -100.0, 100.0).value_or(LimitRow::kNone);
    if (l.gainMinDb > l.gainMaxDb)
        throw CliError("--gain-min must not be above --gain-max");
    if (const auto file = o.text("limit-file")) {
        if (o.has("nf-max") || o.has("gain-min") || o.has("gain-max"))
            throw CliError("give --limit-file or single limits (--nf-max, --gain-min, "
                           "--gain-max), not both");
        std::string message;
        if (!readLimitFile(*file, l.table, message))
            throw CliError(message);
        l.tableFile = *file;
    }
    r.dut.name = o.text("dut-name").value_or("");
    r.dut.serial = o.text("dut-serial").value_or("");
    r.dut.notes = o.text("dut-notes").value_or("");
    r.reportFile = reportFileOption(o);
    return r;
}

std::optional<std::string> reportFileOption(const Options &o)
{
    std::optional<std::string> file = o.text("report");
    if (file) {
        if (file->empty() || *file == "-")
            throw CliError("--report needs a file name (FILE.html)");
        const std::string problem = reportPathProblem(*file);
        if (!problem.empty())
            throw CliError(problem);
    }
    return file;
}

int verdictExitStatus(const Limits &limits, const VerdictCounts &counts)
{
    if (!limits.any())
        return kExitOk;
    if (counts.fail > 0)
        return kExitLimitFailed;
    if (counts.indeterminate > 0 || counts.none > 0)
        return kExitLimitIndeterminate;
    return kExitOk;
}

std::string reportDateTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace quillon::cli
