// What the package installs besides the programs, checked against the programs themselves:
// the manual pages hold every option of every command's --help (the page as man shows it,
// 80 columns wide), the README names no option the CLI does not know, the exit statuses
// agree, every place that shows the version shows the project's, and the desktop entry and
// the AppStream metainfo pass their validators.
#include "support/Shell.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quillon::test::haveTool;
using quillon::test::shell;
using Options = std::set<std::string>;

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

Options optionsIn(const std::string &text)
{
    static const std::regex option("--[a-z0-9][a-z0-9-]*");
    Options out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it)
        out.insert(it->str());
    return out;
}

std::string cli(const std::string &arguments)
{
    return shell(std::string("'") + QUILLON_CLI + "' " + arguments + " 2>&1").output;
}

// A manual page as `man` shows it: the .SH sections by heading, and the .SS subsections of
// COMMANDS by their first word.
struct RenderedPage
{
    std::map<std::string, std::string> sections;
    std::map<std::string, std::string> commands;
};

RenderedPage render(const std::string &page)
{
    const quillon::test::ShellResult r =
        shell("LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat man -l '" + page + "' 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    RenderedPage out;
    std::istringstream in(r.output);
    std::string line, section, command;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != ' ') {
            section = line;
            command.clear();
            continue;
        }
        if (section == "COMMANDS" && line.size() > 3 && line.compare(0, 3, "   ") == 0 &&
            line[3] != ' ') {
            command = line.substr(3, line.find(' ', 3) - 3);
            continue;
        }
        out.sections[section] += line + "\n";
        if (!command.empty())
            out.commands[command] += line + "\n";
    }
    return out;
}

// A line of quillon-cli(1)'s source without its escapes: fonts dropped, "\\-" as '-'.
std::string plain(const std::string &roff)
{
    std::string out;
    for (std::size_t i = 0; i < roff.size(); ++i) {
        if (roff[i] != '\\' || i + 1 == roff.size()) {
            out += roff[i];
            continue;
        }
        const char escape = roff[++i];
        if (escape == 'f')
            ++i; // \fB, \fI, \fR
        else if (escape == '-')
            out += '-';
        else if (escape == 'e')
            out += '\\';
        else if (escape != '&')
            out += std::string("\\") + escape;
    }
    return out;
}

// A command's subsection of the page's source, item by item: the options of its synopsis and
// of its list items' terms, the terms that name options ("--time MS"), and the options named
// in those items' texts.
struct CommandItems
{
    Options synopsis, terms, inOptionTexts;
    std::vector<std::string> optionTerms;
};

std::map<std::string, CommandItems> commandItems(const std::string &roffPage)
{
    std::map<std::string, CommandItems> out;
    std::istringstream in(roffPage);
    std::string command;
    enum class At
    {
        Synopsis,
        Term,
        OptionText,
        Other
    } at = At::Other;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            command.clear();
        if (line.rfind(".SS ", 0) == 0) {
            command = plain(line.substr(4));
            at = At::Synopsis;
            continue;
        }
        if (command.empty() || line == ".br") // .br: between the synopsis' forms
            continue;
        if (!line.empty() && line[0] == '.') {
            at = line == ".TP" ? At::Term : At::Other;
            continue;
        }
        CommandItems &c = out[command];
        const std::string text = plain(line);
        const Options options = optionsIn(text);
        if (at == At::Synopsis)
            c.synopsis.insert(options.begin(), options.end());
        if (at == At::OptionText)
            c.inOptionTexts.insert(options.begin(), options.end());
        if (at == At::Term) {
            c.terms.insert(options.begin(), options.end());
            const bool option = text.rfind('-', 0) == 0;
            if (option)
                c.optionTerms.push_back(text);
            at = option ? At::OptionText : At::Other;
        }
    }
    return out;
}

// A word of an option's term: an option, or a placeholder in capitals ("FILE[@K],", "KHZ]",
// "FILE.html"); never a word of a description.
bool termWord(std::string word)
{
    std::erase_if(
        word, [](char c) { return std::string_view("[](),|@").find(c) != std::string_view::npos; });
    static const std::regex allowed("-.*|[A-Z][A-Z0-9_]*(\\.[a-z]+)?|");
    return std::regex_match(word, allowed);
}

class Manual : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTool("man"))
            GTEST_SKIP() << "man (man-db) is not installed: the pages cannot be rendered";
    }
};

TEST_F(Manual, QuillonCliPageHoldsEveryCommandAndOptionOfTheHelp)
{
    const RenderedPage page = render(QUILLON_CLI_MANPAGE);
    const std::string mainHelp = cli("--help");
    std::set<std::string> helpCommands;
    std::istringstream list(mainHelp.substr(mainHelp.find("Commands:\n") + 10));
    for (std::string line; std::getline(list, line) && !line.empty();)
        helpCommands.insert(line.substr(2, line.find(' ', 2) - 2));
    ASSERT_GE(helpCommands.size(), 9u) << mainHelp;

    std::set<std::string> pageCommands;
    for (const auto &[name, text] : page.commands)
        pageCommands.insert(name);
    EXPECT_EQ(pageCommands, helpCommands);
    for (const std::string &name : helpCommands)
        EXPECT_EQ(optionsIn(page.commands.at(name)), optionsIn(cli(name + " --help"))) << name;

    // And each option has an item of its own: none is named only in another option's text
    // ("--gain-min DB  the gain's minimum;  --gain-max DB  its maximum"), and an option's
    // term holds options and placeholders only (a text set off by one blank, "--report
    // FILE.html write ...", stays in the term).
    const std::map<std::string, CommandItems> items = commandItems(readFile(QUILLON_CLI_MANPAGE));
    for (const std::string &name : helpCommands) {
        const auto found = items.find(name);
        ASSERT_NE(found, items.end()) << name;
        const CommandItems &c = found->second;
        for (const std::string &option : c.inOptionTexts)
            EXPECT_TRUE(c.terms.count(option) + c.synopsis.count(option) > 0)
                << option << " is named only in another option's text (" << name << ")";
        for (const std::string &term : c.optionTerms) {
            std::string stray;
            std::istringstream words(term);
            for (std::string word; words >> word;)
                if (!termWord(word))
                    stray += " " + word;
            EXPECT_EQ(stray, "") << "in the term \"" << term << "\" (" << name << ")";
        }
    }
    EXPECT_GE(items.at("measure").optionTerms.size(), 30u);

    // The options every command takes, and the command list with each command's summary.
    EXPECT_EQ(optionsIn(page.sections.at("COMMON OPTIONS")), optionsIn(mainHelp));
    EXPECT_EQ(optionsIn(mainHelp), (Options{"--help", "--json", "--version"}));
    for (const std::string &name : helpCommands)
        EXPECT_NE(page.sections.at("DESCRIPTION").find("       " + name), std::string::npos)
            << name;
}

TEST_F(Manual, ExitStatusesAgreeWithTheHelp)
{
    // Every number of the main help's sentence from "Exit status:" to its full stop at a
    // line's end is a status: "Exit status: 0 done, ... 130 interrupted (143 SIGTERM, 129
    // SIGHUP: ...); measure and sweep with limits: 3 a limit failed, 4 ...".
    const std::string help = cli("--help");
    const std::size_t from = help.find("Exit status:");
    ASSERT_NE(from, std::string::npos) << help;
    const std::string sentence = help.substr(from, help.find(".\n", from) - from);
    std::set<int> inHelp, onPage;
    static const std::regex number("\\b[0-9]+\\b");
    for (auto it = std::sregex_iterator(sentence.begin(), sentence.end(), number);
         it != std::sregex_iterator(); ++it)
        inHelp.insert(std::stoi(it->str()));
    EXPECT_EQ(inHelp.count(0), 1u) << sentence;

    std::istringstream section(render(QUILLON_CLI_MANPAGE).sections.at("EXIT STATUS"));
    static const std::regex entry("^       ([0-9]+) .*");
    std::smatch m;
    for (std::string line; std::getline(section, line);)
        if (std::regex_match(line, m, entry))
            onPage.insert(std::stoi(m[1]));
    EXPECT_EQ(onPage, inHelp) << sentence;
}

TEST_F(Manual, QuillonPageHoldsTheWindowProgramsOptions)
{
    const RenderedPage page = render(QUILLON_APP_MANPAGE);
    const quillon::test::ShellResult help =
        shell(std::string("env -u DISPLAY -u WAYLAND_DISPLAY '") + QUILLON_APP + "' --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(optionsIn(help.output), (Options{"--help", "--version"}));
    EXPECT_EQ(optionsIn(page.sections.at("OPTIONS")), optionsIn(help.output));
    for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES",
                                "VIRTUAL BENCH", "EXAMPLES", "SEE ALSO"})
        EXPECT_EQ(page.sections.count(section), 1u) << section;
}

// Both pages' FILES sections name the settings file's groups, every one the README names where
// it says where the settings live ("group `Setup`; ... the group `Corrections`").
TEST_F(Manual, FilesNameEverySettingsGroupTheReadmeNames)
{
    const std::string readme = readFile(std::string(QUILLON_SOURCE_DIR) + "/README.md");
    const std::size_t from = readme.find("Settings live in ");
    ASSERT_NE(from, std::string::npos);
    const std::string sentence = readme.substr(from, readme.find(".\n", from) - from);
    const auto groups = [](const std::string &text, const std::regex &group) {
        std::set<std::string> out;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), group);
             it != std::sregex_iterator(); ++it)
            out.insert((*it)[1].str());
        return out;
    };
    const std::set<std::string> inReadme = groups(sentence, std::regex("group `([A-Za-z]+)`"));
    EXPECT_EQ(inReadme.count("Setup"), 1u) << sentence;
    for (const char *page : {QUILLON_CLI_MANPAGE, QUILLON_APP_MANPAGE}) {
        const std::string files = render(page).sections.at("FILES");
        EXPECT_EQ(groups(files, std::regex("group\\s+([A-Za-z]+)")), inReadme) << page << files;
    }
}

TEST_F(Manual, PagesRenderWithoutGroffWarnings)
{
    if (!haveTool("groff"))
        GTEST_SKIP() << "groff is not installed";
    for (const char *page : {QUILLON_CLI_MANPAGE, QUILLON_APP_MANPAGE}) {
        const quillon::test::ShellResult r =
            shell(std::string("LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z '") + page + "' 2>&1");
        EXPECT_EQ(r.status, 0) << page;
        EXPECT_EQ(r.output, "") << page;
    }
}

// The README's lines about quillon-cli name only options the CLI knows (an option renamed in
// the help but not in the README is caught here).
TEST(Readme, NamesNoOptionTheCliDoesNotKnow)
{
    Options known = optionsIn(cli("--help"));
    std::istringstream list(cli("--help").substr(cli("--help").find("Commands:\n") + 10));
    for (std::string line; std::getline(list, line) && !line.empty();) {
        const Options more = optionsIn(cli(line.substr(2, line.find(' ', 2) - 2) + " --help"));
        known.insert(more.begin(), more.end());
    }
    std::istringstream readme(readFile(std::string(QUILLON_SOURCE_DIR) + "/README.md"));
    int lines = 0;
    for (std::string line; std::getline(readme, line);) {
        if (line.find("quillon-cli") == std::string::npos ||
            line.find("make ") != std::string::npos)
            continue;
        ++lines;
        for (const std::string &option : optionsIn(line))
            EXPECT_EQ(known.count(option), 1u) << option << " in README line: " << line;
    }
    EXPECT_GT(lines, 10);
}

// The version is set once (project() in CMakeLists.txt); everything that shows one shows it.
TEST(Version, EveryPlaceShowsTheProjectVersion)
{
    const std::string version = QUILLON_PROJECT_VERSION;
    ASSERT_TRUE(std::regex_match(version, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+"))) << version;
    EXPECT_EQ(cli("--version"), "quillon-cli " + version + "\n");
    // The window program answers without a display, as on a server the package is checked on.
    const quillon::test::ShellResult app =
        shell(std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") + QUILLON_APP +
              "' --version 2>&1");
    EXPECT_EQ(app.status, 0);
    EXPECT_EQ(app.output, "quillon " + version + "\n");

    const std::string changelog = readFile(std::string(QUILLON_SOURCE_DIR) + "/debian/changelog");
    EXPECT_EQ(changelog.substr(0, changelog.find('\n')),
              "quillon (" + version + ") unstable; urgency=medium");
    // The metainfo's release: this version, on the date of the changelog entry.
    std::smatch day;
    ASSERT_TRUE(std::regex_search(changelog, day,
                                  std::regex(" -- .*>  [A-Z][a-z]{2}, ([0-9]{2}) ([A-Z][a-z]{2}) "
                                             "([0-9]{4})")));
    const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char date[11];
    std::snprintf(date, sizeof date, "%s-%02d-%s", day[3].str().c_str(),
                  static_cast<int>(months.find(day[2].str()) / 3 + 1), day[1].str().c_str());
    EXPECT_NE(readFile(QUILLON_METAINFO)
                  .find("<release version=\"" + version + "\" date=\"" + date + "\"/>"),
              std::string::npos)
        << date;
    for (const char *page : {QUILLON_CLI_MANPAGE, QUILLON_APP_MANPAGE})
        EXPECT_NE(readFile(page).find("\"Quillon " + version + "\""), std::string::npos) << page;
}

TEST(DesktopFiles, PassTheirValidators)
{
    const std::string desktop = std::string(QUILLON_SOURCE_DIR) + "/packaging/quillon.desktop";
    if (!haveTool("desktop-file-validate") || !haveTool("appstreamcli"))
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) or appstreamcli (appstream) "
                        "is not installed: run scripts/install-deps.sh";
    const quillon::test::ShellResult entry = shell("desktop-file-validate '" + desktop + "' 2>&1");
    EXPECT_EQ(entry.status, 0);
    // Hints are suggestions, not faults: the one it gives (HamRadio "can be extended" with
    // Audio or Network) would move Quillon into the multimedia or network menu.
    std::istringstream lines(entry.output);
    for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.find(": hint: "), std::string::npos) << line;
    const quillon::test::ShellResult meta = shell(
        std::string("appstreamcli validate --no-net --no-color '") + QUILLON_METAINFO + "' 2>&1");
    EXPECT_EQ(meta.status, 0) << meta.output;
    EXPECT_EQ(meta.output.find("W:"), std::string::npos) << meta.output;
    EXPECT_EQ(meta.output.find("E:"), std::string::npos) << meta.output;
    // The metainfo launches the desktop entry that is installed.
    EXPECT_NE(readFile(QUILLON_METAINFO).find(">quillon.desktop</launchable>"), std::string::npos);
}

} // namespace
