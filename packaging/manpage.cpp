// quillon-manpage CLI TEMPLATE OUTPUT VERSION DATE
// Writes quillon-cli(1): TEMPLATE with @VERSION@, @DATE@, @COMMAND_LIST@, @COMMANDS@ and
// @NOTES@ filled in from the --help texts of the quillon-cli at path CLI. Exit status 0, or 1
// with a message on stderr (the build then stops).
#include "ManPage.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

// The standard output of `program argument`; throws on a failed start or a non-zero status.
std::string output(const std::string &program, const std::string &argument)
{
    const std::string command = "'" + program + "' " + argument + " </dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + program);
    std::string text;
    std::array<char, 4096> chunk;
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        text.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(program + " " + argument + " failed (status " +
                                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                                 ")");
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 6) {
        std::fputs("usage: quillon-manpage CLI TEMPLATE OUTPUT VERSION DATE\n", stderr);
        return 1;
    }
    namespace mp = quillon::manpage;
    try {
        const std::string cli = argv[1];
        std::ifstream templateFile(argv[2]);
        if (!templateFile)
            throw std::runtime_error(std::string("cannot read ") + argv[2]);
        const std::string page{std::istreambuf_iterator<char>(templateFile), {}};

        const std::string mainHelp = output(cli, "--help");
        const std::vector<std::string> names = mp::commandNames(mainHelp);
        if (names.empty())
            throw std::runtime_error("no command list in " + cli + " --help");
        std::string sections;
        for (const std::string &name : names)
            sections += mp::commandSection(name, output(cli, name + " --help"));

        const std::string text = mp::substitute(page, {{"VERSION", argv[4]},
                                                       {"DATE", argv[5]},
                                                       {"COMMAND_LIST", mp::commandList(mainHelp)},
                                                       {"COMMANDS", sections},
                                                       {"NOTES", mp::mainNotes(mainHelp)}});
        std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw std::runtime_error(std::string("cannot write ") + argv[3]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quillon-manpage: %s\n", e.what());
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
