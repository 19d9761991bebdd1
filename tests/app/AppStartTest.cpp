// The quillon program started without a usable display: its own message and status 2, never
// Qt's abort, with advice that fits where the program runs from.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct Outcome
{
    int status = -1;
    std::string output; // stdout and stderr
};

Outcome run(const std::string &program, const std::string &environment)
{
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                environment + " '" + program + "' 2>&1";
    Outcome r;
    FILE *pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> chunk;
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        r.output.append(chunk.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
}

TEST(AppStart, WithoutAReachableDisplayItSaysWhatToDo)
{
    const struct
    {
        const char *environment;
        const char *problem;
    } cases[] = {
        {"", "none was found (DISPLAY and\nWAYLAND_DISPLAY are not set)."},
        {"DISPLAY=:987", "cannot be\nreached (DISPLAY=:987)."},
        {"XDG_RUNTIME_DIR=/nonexistent WAYLAND_DISPLAY=wayland-9",
         "cannot be\nreached (WAYLAND_DISPLAY=wayland-9)."},
    };
    for (const auto &c : cases) {
        const Outcome r = run(QUILLON_APP, c.environment);
        EXPECT_EQ(r.status, 2) << c.environment;
        EXPECT_NE(r.output.find(c.problem), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("    xvfb-run -a make run\n"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Reinstalling"), std::string::npos) << r.output;
    }

    // A copy outside the build tree, as `cmake --install` leaves it, names itself.
    const fs::path copy = fs::temp_directory_path() / "quillon-start-test" / "quillon";
    fs::create_directories(copy.parent_path());
    fs::copy_file(QUILLON_APP, copy, fs::copy_options::overwrite_existing);
    const Outcome installed = run(copy.string(), "DISPLAY=:987");
    fs::remove_all(copy.parent_path());
    EXPECT_EQ(installed.status, 2);
    EXPECT_NE(installed.output.find("    xvfb-run -a quillon\n"), std::string::npos)
        << installed.output;
}

} // namespace
