// scripts/install-deps.sh on a machine where one package (sox) is missing: as root, as a
// user with sudo, and as a user without it. The script runs with a PATH of stand-ins only,
// which log their calls instead of installing anything.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class InstallDeps : public ::testing::Test
{
protected:
    InstallDeps()
    {
        fs::create_directories(m_bin);
        for (const char *tool : {"grep", "cat", "env"})
            fs::create_symlink(fs::path("/usr/bin") / tool, m_bin / tool);
        // dpkg-query -W -f=... PACKAGE: every package but $MISSING is installed.
        stub("dpkg-query", "for a; do last=$a; done\n"
                           "[ \"$last\" = \"${MISSING:-}\" ] && exit 1\n"
                           "printf 'install ok installed'\n");
        stub("apt-get", "echo \"apt-get $* (DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-})\" >>\"$LOG\"\n");
    }
    ~InstallDeps() override { fs::remove_all(m_dir); }

    void stub(const std::string &name, const std::string &body)
    {
        std::ofstream(m_bin / name) << "#!/bin/sh\n" << body;
        fs::permissions(m_bin / name, fs::perms::owner_all);
    }
    // Runs the script as user `uid`; its exit status.
    int run(int uid, const std::string &missing = "sox")
    {
        stub("id", "echo " + std::to_string(uid) + "\n");
        const std::string cmd = "cd " + m_dir.string() + " && env -i PATH=" + m_bin.string() +
                                " LOG=log MISSING=" + missing + " /bin/bash " + QUILLON_SOURCE_DIR +
                                "/scripts/install-deps.sh >out 2>err";
        const int raw = std::system(cmd.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string read(const std::string &name)
    {
        return {std::istreambuf_iterator<char>(std::ifstream(m_dir / name).rdbuf()), {}};
    }

    const fs::path m_dir =
        fs::temp_directory_path() / ("quillon-deps-" + std::to_string(::getpid()));
    const fs::path m_bin = m_dir / "bin";
};

TEST_F(InstallDeps, RootRunsAptGetNonInteractively)
{
    EXPECT_EQ(run(0), 0) << read("err");
    const std::string log = read("log");
    EXPECT_EQ(log, "apt-get update -q (DEBIAN_FRONTEND=noninteractive)\n"
                   "apt-get install -y -q --no-install-recommends sox "
                   "(DEBIAN_FRONTEND=noninteractive)\n");
    EXPECT_EQ(run(0, ""), 0);
    EXPECT_EQ(read("log"), log) << "nothing missing: nothing run";
}

// Fault mended: sudo resets the environment, so an exported DEBIAN_FRONTEND never reached
// apt-get; it goes on sudo's command line.
TEST_F(InstallDeps, SudoGetsTheFrontEndOnItsCommandLine)
{
    stub("sudo", "echo \"sudo $*\" >>\"$LOG\"\n");
    EXPECT_EQ(run(1000), 0) << read("err");
    EXPECT_EQ(read("log"), "sudo DEBIAN_FRONTEND=noninteractive apt-get update -q\n"
                           "sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q "
                           "--no-install-recommends sox\n");
}

// Fault mended: without sudo the script ended in "sudo: command not found".
TEST_F(InstallDeps, WithoutRootOrSudoItSaysWhatToRunAsRoot)
{
    EXPECT_EQ(run(1000), 1);
    EXPECT_EQ(read("log"), "");
    EXPECT_EQ(read("err"), "Quillon needs these Debian packages, which are not installed:\n"
                           "  sox\n"
                           "You are not root and sudo is not installed. Run this as root (for "
                           "example after su -):\n"
                           "  apt-get update && apt-get install -y --no-install-recommends sox\n"
                           "then run make again.\n");
}

} // namespace
