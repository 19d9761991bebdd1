// The conversion of quillon-cli's --help texts into man(7) markup, on small texts whose
// markup is known line for line.
#include "ManPage.h"
#include "support/Shell.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace quillon::manpage;

TEST(ManPage, TextIsEscapedForRoff)
{
    const struct
    {
        const char *plain;
        const char *roff;
    } cases[] = {
        {"--time MS", "\\-\\-time MS"},
        {"C:\\temp", "C:\\etemp"},                   // a backslash would start an escape
        {".PP is a request", "\\&.PP is a request"}, // a leading dot would be a request
        {"'quoted", "\\&'quoted"},
        {"mid.dot and 'quote'", "mid.dot and 'quote'"}, // only at the start of a line
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(roffText(c.plain), c.roff) << c.plain;
}

TEST(ManPage, TermsSetOptionsBoldAndPlaceholdersItalic)
{
    const struct
    {
        const char *words;
        const char *roff;
    } cases[] = {
        {"--time MS", "\\fB\\-\\-time\\fR \\fIMS\\fR"},
        {"[--t0 K]", "[\\fB\\-\\-t0\\fR \\fIK\\fR]"},
        {"--highpass, --no-highpass", "\\fB\\-\\-highpass\\fR, \\fB\\-\\-no\\-highpass\\fR"},
        {"enr FILE [FREQ_MHZ...]", "enr \\fIFILE\\fR [\\fIFREQ_MHZ\\fR...]"},
        {"neither", "neither"},
        {"calc simple", "calc simple"},
        {"[ENR]", "[\\fIENR\\fR]"},
        {"|", "|"},
        {"  spaced   out  ", "spaced out"},
        {"...more", "\\&...more"}, // at the start of a line only
    };
    for (const auto &c : cases)
        EXPECT_EQ(roffTerm(c.words), c.roff) << c.words;
}

const char *const kMainHelp = "Usage: quillon-cli COMMAND [OPTIONS]\n"
                              "\n"
                              "Commands:\n"
                              "  level FILE   block levels of a WAV file\n"
                              "  bench        the virtual  bench's truth\n"
                              "\n"
                              "Every command takes --json and --help.\n"
                              "Exit status: 0 done.\n"
                              "\n"
                              "Settings come from a file.\n";

TEST(ManPage, TheCommandListIsReadFromTheMainHelp)
{
    EXPECT_EQ(commandNames(kMainHelp), (std::vector<std::string>{"level", "bench"}));
    EXPECT_EQ(commandList(kMainHelp), ".TP\nlevel \\fIFILE\\fR\nblock levels of a WAV file\n"
                                      ".TP\nbench\nthe virtual bench's truth\n");
    // The notes after the list: one paragraph per blank-separated block.
    EXPECT_EQ(mainNotes(kMainHelp), ".PP\nEvery command takes \\-\\-json and \\-\\-help.\n"
                                    "Exit status: 0 done.\n"
                                    ".PP\nSettings come from a file.\n");
    // A help without a command list gives no names (the generator then stops the build).
    EXPECT_TRUE(commandNames("Usage: quillon-cli\n\n  level FILE   x\n").empty());
    EXPECT_TRUE(commandNames("").empty());
}

TEST(ManPage, ACommandHelpBecomesSynopsisParagraphsAndTaggedList)
{
    const std::string help = "Usage: quillon-cli sweep --start MHZ [OPTIONS]\n"
                             "       quillon-cli sweep --list TEXT\n"
                             "\n"
                             "At each frequency: tunes the receiver,\n"
                             "and measures.\n"
                             "\n"
                             "  --start MHZ   the first frequency\n"
                             "  --average N   blocks averaged per reading,\n"
                             "                1 to 32\n"
                             "  --all\n"
                             "The noise source:\n"
                             "  --enr DB      a typed ENR\n"
                             "\n"
                             "The frequency measured is each point's.\n";
    EXPECT_EQ(commandSection("sweep", help),
              ".SS sweep\n"
              "quillon\\-cli sweep \\fB\\-\\-start\\fR \\fIMHZ\\fR [\\fIOPTIONS\\fR]\n"
              ".br\n"
              "quillon\\-cli sweep \\fB\\-\\-list\\fR \\fITEXT\\fR\n"
              ".PP\n"
              "At each frequency: tunes the receiver,\n"
              "and measures.\n"
              ".TP\n\\fB\\-\\-start\\fR \\fIMHZ\\fR\nthe first frequency\n"
              ".TP\n\\fB\\-\\-average\\fR \\fIN\\fR\nblocks averaged per reading,\n1 to 32\n"
              ".TP\n\\fB\\-\\-all\\fR\n"
              // Prose right after a list returns to the left margin.
              ".PP\nThe noise source:\n"
              ".TP\n\\fB\\-\\-enr\\fR \\fIDB\\fR\na typed ENR\n"
              ".PP\nThe frequency measured is each point's.\n");
}

// Indented like the options but without a term set off by two blanks: running prose, one
// paragraph (the limits' verdict rule and exit statuses in measure and sweep), and the items
// after it go on.
TEST(ManPage, IndentedProseStaysOneParagraphAmongTheItems)
{
    const std::string help = "Usage: quillon-cli measure [OPTIONS]\n"
                             "\n"
                             "  --nf-max DB        limit: the noise figure's maximum\n"
                             "  Each result gets a verdict: PASS when the\n"
                             "  whole interval meets the limit.\n"
                             "  Exit status with limits: 0 all pass, 3 any fail.\n"
                             "  --dut-name TEXT    the DUT record\n"
                             "  neither            the bench's own source\n"
                             "  (calc: the options alone)\n";
    EXPECT_EQ(commandSection("measure", help),
              ".SS measure\n"
              "quillon\\-cli measure [\\fIOPTIONS\\fR]\n"
              ".TP\n\\fB\\-\\-nf\\-max\\fR \\fIDB\\fR\nlimit: the noise figure's maximum\n"
              ".PP\nEach result gets a verdict: PASS when the\nwhole interval meets the limit.\n"
              "Exit status with limits: 0 all pass, 3 any fail.\n"
              ".TP\n\\fB\\-\\-dut\\-name\\fR \\fITEXT\\fR\nthe DUT record\n"
              ".TP\nneither\nthe bench's own source\n"
              ".PP\n(calc: the options alone)\n");
}

TEST(ManPage, AHelpWithoutUsageLineStillGetsItsHeading)
{
    EXPECT_EQ(commandSection("bench", "The truth.\n"), ".SS bench\n.PP\nThe truth.\n");
}

TEST(ManPage, SubstituteFillsEveryMarkerOnce)
{
    EXPECT_EQ(substitute("@A@ and @A@, @B@ @C@", {{"A", "x@A@y"}, {"B", ""}}),
              "x@A@y and x@A@y,  @C@"); // a value holding its own marker is not expanded again
    EXPECT_EQ(substitute("no markers", {{"A", "x"}}), "no markers");
}

// quillon-manpage as the build runs it: every failure says what failed, exits 1 and leaves no
// page behind (a stale page from an earlier build would otherwise be installed).
TEST(ManPageTool, EveryFailureIsNamedAndLeavesNoPage)
{
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("quillon-manpage-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string page = (dir / "out.1").string();
    const std::string templ = (dir / "page.1.in").string();
    std::ofstream(templ) << ".TH X 1 \"@DATE@\" \"Quillon @VERSION@\"\n@COMMANDS@";
    const std::string tool = std::string("'") + QUILLON_MANPAGE + "' ";
    const struct
    {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"", "usage: quillon-manpage CLI TEMPLATE OUTPUT VERSION DATE\n"},
        {"/bin/false " + templ + " " + page + " 1.2.3 2026-01-01",
         "quillon-manpage: /bin/false --help failed (status 1)\n"},
        {"/bin/echo " + templ + " " + page + " 1.2.3 2026-01-01",
         "quillon-manpage: no command list in /bin/echo --help\n"},
        {std::string(QUILLON_CLI) + " " + (dir / "none.in").string() + " " + page + " 1 d",
         "quillon-manpage: cannot read " + (dir / "none.in").string() + "\n"},
        {std::string(QUILLON_CLI) + " " + templ + " " + (dir / "no" / "out.1").string() + " 1 d",
         "quillon-manpage: cannot write " + (dir / "no" / "out.1").string() + "\n"},
    };
    for (const auto &c : cases) {
        std::ofstream(page) << "stale page";
        const quillon::test::ShellResult r =
            quillon::test::shell(tool + c.arguments + " 2>&1 >/dev/null");
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.output, c.message);
        if (!c.arguments.empty() && c.message.find("cannot write") == std::string::npos) {
            EXPECT_FALSE(fs::exists(page)) << c.arguments;
        }
    }

    // And with everything in place, the page: the markers filled, a subsection per command.
    const quillon::test::ShellResult ok = quillon::test::shell(
        tool + QUILLON_CLI + " " + templ + " " + page + " 1.2.3 2026-01-01 2>&1");
    EXPECT_EQ(ok.status, 0) << ok.output;
    std::ifstream in(page);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text.rfind(".TH X 1 \"2026-01-01\" \"Quillon 1.2.3\"\n.SS devices\n", 0), 0u)
        << text.substr(0, 200);
    EXPECT_NE(text.find(".SS measure\n"), std::string::npos);
    fs::remove_all(dir);
}

} // namespace
