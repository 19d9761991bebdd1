// quillon-cli: Quillon's measurements without a window, for scripts, production test and
// checking Quillon's numbers against other tools. It links the same engine libraries as the
// window program and no widget code, so it runs without a display.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "core/Version.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

using namespace quillon::cli;

int main(int argc, char *argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(mainHelp().c_str(), stderr);
        return kExitBadInput;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(mainHelp().c_str(), stdout);
            return kExitOk;
        }
        if (command == "--version") {
            std::printf("quillon-cli %s\n", quillon::kVersion);
            return kExitOk;
        }
        if (const Command *c = findCommand(command))
            return c->run(args);
        throw CliError(unknownCommandMessage(command));
    } catch (const CliError &e) {
        printError(e.what());
        return e.status();
    } catch (const std::bad_alloc &) {
        printError("out of memory");
        return kExitFailed;
    }
}
