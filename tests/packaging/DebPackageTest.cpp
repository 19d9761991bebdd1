// The Debian package, built as `make package` builds it (scripts/build-deb.sh: a copy of the
// tree, dpkg-buildpackage -b), then inspected: its contents, its dependencies and lintian's
// verdict. Skipped, saying what to install, where the package tools are missing. A repeat
// run is mostly ccache hits: the copy is always built at the same path.
#include "support/Shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

using quillon::test::haveTool;
using quillon::test::shell;
using quillon::test::ShellResult;

const std::string kSource = QUILLON_SOURCE_DIR;

// The lintian warnings README.md explains ("- `tag`: why it stays").
std::set<std::string> warningsExplainedInReadme()
{
    std::ifstream in(kSource + "/README.md");
    std::set<std::string> tags;
    static const std::regex item("^- `([a-z0-9-]+)`: lintian warning.*");
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, item))
            tags.insert(m[1]);
    return tags;
}

class DebPackage : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (const char *tool : {"dpkg-buildpackage", "dh", "lintian", "dpkg-deb"})
            if (!haveTool(tool)) {
                s_skip = std::string(tool) +
                         " is missing: the package check needs dpkg-dev, debhelper and "
                         "lintian (scripts/install-deps.sh installs them)";
                return;
            }
        const auto start = std::chrono::steady_clock::now();
        s_build = shell("cd '" + kSource + "' && JOBS=2 scripts/build-deb.sh '" +
                        QUILLON_BINARY_DIR + "/package' 2>&1");
        s_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "package built in " << s_seconds << " s\n";
        // What dpkg-buildpackage leaves where it runs: none of it in the source tree.
        s_treeLitter = shell("cd '" + kSource +
                             "' && ls -d obj-* debian/quillon debian/.debhelper "
                             "debian/files debian/debhelper-build-stamp debian/*.substvars "
                             "../quillon_*.deb 2>/dev/null")
                           .output;
        const std::size_t last = s_build.output.find_last_of('\n', s_build.output.size() - 2);
        s_deb = s_build.output.substr(last == std::string::npos ? 0 : last + 1);
        if (!s_deb.empty() && s_deb.back() == '\n')
            s_deb.pop_back();
    }
    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        ASSERT_EQ(s_build.status, 0) << s_build.output;
    }

    static inline std::string s_skip;
    static inline ShellResult s_build;
    static inline std::string s_deb;
    static inline double s_seconds = 0;
    static inline std::string s_treeLitter;
};

TEST_F(DebPackage, IsBuiltFromACopyAndNamedByTheProjectVersion)
{
    const std::string arch = shell("dpkg --print-architecture").output;
    EXPECT_EQ(s_deb, std::string(QUILLON_BINARY_DIR) + "/package/quillon_" +
                         QUILLON_PROJECT_VERSION + "_" + arch.substr(0, arch.size() - 1) + ".deb");
    EXPECT_EQ(s_treeLitter, "") << "the package build wrote into the source tree";
    EXPECT_EQ(shell("dpkg-deb -f '" + s_deb + "' Package").output, "quillon\n");
    EXPECT_EQ(shell("dpkg-deb -f '" + s_deb + "' Version").output,
              std::string(QUILLON_PROJECT_VERSION) + "\n");
}

TEST_F(DebPackage, HoldsTheProgramsAndEverythingAroundThem)
{
    const std::string listing = shell("dpkg-deb -c '" + s_deb + "'").output;
    std::set<std::string> files;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        const std::size_t path = line.find(" ./");
        if (path != std::string::npos && line[0] != 'd')
            files.insert(line.substr(path + 2, line.find(" -> ") - path - 2));
    }
    for (const char *expected :
         {"/usr/bin/quillon", "/usr/bin/quillon-cli", "/usr/share/applications/quillon.desktop",
          "/usr/share/icons/hicolor/256x256/apps/quillon.png",
          "/usr/share/metainfo/org.tremont.quillon.metainfo.xml",
          "/usr/share/man/man1/quillon.1.gz", "/usr/share/man/man1/quillon-cli.1.gz",
          "/usr/share/quillon/bench-enr.txt", "/usr/share/doc/quillon/copyright",
          "/usr/share/doc/quillon/changelog.gz", "/usr/share/doc/quillon/help/overview.html",
          "/usr/share/doc/quillon/help/sweep.html"})
        EXPECT_EQ(files.count(expected), 1u) << expected << " missing from\n" << listing;
    // Nothing of the build's own tools, nothing outside /usr.
    for (const std::string &file : files) {
        EXPECT_EQ(file.rfind("/usr/", 0), 0u) << file;
        EXPECT_EQ(file.find("quillon-manpage"), std::string::npos) << file;
        EXPECT_EQ(file.find("test_"), std::string::npos) << file;
    }
}

TEST_F(DebPackage, DependsOnTheLinkedLibrariesAndRecommendsRigctld)
{
    const std::string depends = shell("dpkg-deb -f '" + s_deb + "' Depends").output;
    for (const char *library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libportaudio2",
                                "libfftw3-double3", "libsndfile1", "libhamlib4", "libc6"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    EXPECT_EQ(shell("dpkg-deb -f '" + s_deb + "' Recommends").output, "libhamlib-utils\n");
}

TEST_F(DebPackage, LintianFindsNoErrorAndOnlyTheWarningsTheReadmeExplains)
{
    const ShellResult lintian = shell("lintian --tag-display-limit 0 '" + s_deb + "' 2>&1");
    const std::set<std::string> explained = warningsExplainedInReadme();
    static const std::regex tag("^([EW]): quillon[^:]*: ([a-z0-9-]+).*");
    std::istringstream in(lintian.output);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, m, tag))
            continue;
        EXPECT_NE(m[1], "E") << line;
        if (m[1] == "W") {
            EXPECT_EQ(explained.count(m[2]), 1u) << "not explained in README: " << line;
        }
    }
    EXPECT_EQ(lintian.output.find("E: "), std::string::npos) << lintian.output;
}

} // namespace
