// quillon-cli recompute: a report's JSON file computed again from its inputs.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "measure/Report.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace quillon::cli {

int runRecompute(const std::vector<std::string> &args)
{
    const Options o("recompute", args, {"tolerance"}, {});
    if (o.flag("help"))
        return printHelp("recompute");
    if (o.positional().size() != 1)
        throw CliError("recompute takes one report JSON file");
    const std::string &path = o.positional().front();
    const double tolerance = o.number("tolerance", 0.0, 1.0).value_or(0.001);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CliError("The report \"" + path + "\" could not be read.");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const RecomputeOutcome out = recomputeReport(text, tolerance);
    if (!out.readable)
        throw CliError("The report \"" + path + "\" could not be used: " + out.message + ".");
    for (const std::string &m : out.mismatches)
        std::printf("differs: %s\n", m.c_str());
    std::printf("%d numbers and verdicts compared, %zu differ\n", out.compared,
                out.mismatches.size());
    return out.mismatches.empty() ? kExitOk : kExitFailed;
}

} // namespace quillon::cli
