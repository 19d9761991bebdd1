#pragma once

// Runs a shell command line for tests of whole programs and tools: its standard output (and
// standard error, when the command line says 2>&1) and its exit status.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace quillon::test {

struct ShellResult
{
    int status = -1; // the exit status; 128 + N for a signal N
    std::string output;
};

inline ShellResult shell(const std::string &commandLine)
{
    ShellResult r;
    FILE *pipe = ::popen(commandLine.c_str(), "r");
    if (pipe == nullptr)
        return r;
    std::array<char, 4096> chunk;
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        r.output.append(chunk.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
}

// Whether `tool` is on PATH.
inline bool haveTool(const std::string &tool)
{
    return shell("command -v '" + tool + "' >/dev/null 2>&1").status == 0;
}

} // namespace quillon::test
