// quillon-cli measure: whole Measure Device series on the virtual bench, checked against the
// bench's true DUT noise figure and gain; the log; failures that stop a series.

#include "CliRunner.h"

#include <regex>

namespace quillon::clitest {
namespace {

class MeasureTest : public CliTest
{
protected:
    // A fixed seed keeps the numbers repeatable from run to run.
    MeasureTest() { writeSettings("[VirtualBench]\nSeed=12345\n"); }
};

TEST_F(MeasureTest, BenchSeriesReadsTheTrueNoiseFigureAndGain)
{
    // Eight 1 s blocks of noise in a 2.4 kHz band per reading: each reading's power is good
    // to about 0.5 % (one sigma), which moves the gain and the NF by about 0.03 dB; the
    // limits are five sigma. System mode takes two readings and reads the receiver.
    const struct
    {
        std::vector<std::string> mode;
        std::size_t readings;
        const char *trueNf;
    } cases[] = {{{}, 4, "dutNfDb"}, {{"--system"}, 2, "receiverNfDb"}};
    for (const auto &c : cases) {
        std::vector<std::string> args{"measure", "--average", "8", "--dummy", "0", "--json"};
        args.insert(args.end(), c.mode.begin(), c.mode.end());
        const Result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const auto results = r.out.find("\"results\""), truth = r.out.find("\"benchTruth\"");
        ASSERT_NE(truth, std::string::npos) << r.out;
        EXPECT_NEAR(jsonNumber(r.out, "noiseFigure", results), jsonNumber(r.out, c.trueNf, truth),
                    0.15);
        EXPECT_EQ(count(r.out, "\"reading\":"), c.readings);
        EXPECT_NE(r.out.find("\"complete\":true"), std::string::npos);
        // Eight block powers per reading, kept as measured.
        const auto blocks = r.out.find("\"blockPowers\":[");
        EXPECT_EQ(count(r.out.substr(blocks, r.out.find(']', blocks) - blocks), ","), 7u);
        if (c.readings == 4) {
            EXPECT_EQ(jsonNumber(r.out, "dutNfDb", truth), 1.0);
            EXPECT_NEAR(jsonNumber(r.out, "gainDb", results), jsonNumber(r.out, "dutGainDb", truth),
                        0.15);
        } else {
            EXPECT_EQ(r.out.find("\"gainDb\""), std::string::npos);
        }
    }
}

TEST_F(MeasureTest, TextOutputAndLogLinesAsTheWindowWritesThem)
{
    const auto log = dir / "results.log";
    const Result r = run({"measure", "--decimals", "2", "--log", log.string(), "--dummy", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string reading = ": -[0-9]+\\.[0-9]{2}\n", result = ": [0-9]+\\.[0-9]{2}\n";
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("Noise \\(ON\\)" + reading + "Noise \\(OFF\\)" + reading +
                          "DUT \\(ON\\)" + reading + "DUT \\(OFF\\)" + reading + "Gain \\(dB\\)" +
                          result + "Noise Temp \\(K\\)" + result + "Noise Factor" + result +
                          "Noise Figure \\(dB\\)" + result +
                          "Virtual bench truth: DUT gain 20\\.000 dB, DUT NF 1\\.000 dB\n")))
        << r.out;

    const std::string lines = readAll(log);
    const std::string power = ",-[0-9]+\\.[0-9]{6},",
                      time = "NF,[0-9]+/[0-9]+/[0-9]{2} [0-9]+:[0-9]{2}:[0-9]{2}";
    EXPECT_TRUE(std::regex_match(
        lines, std::regex(time + ",Noise \\(ON\\)" + power + "Not Calculated\\.\n" + time +
                          ",Noise \\(OFF\\)" + power + "Not Calculated\\.\n" + time +
                          ",DUT \\(ON\\)" + power + "Not Calculated\\.\n" + time +
                          ",DUT \\(OFF\\)" + power + "( [0-9.]+,){4}\n")))
        << lines;
    // The logged results are the shown texts.
    const auto nfShown = r.out.substr(r.out.find("Noise Figure (dB):") + 18);
    EXPECT_NE(lines.find("," + nfShown.substr(0, nfShown.find('\n')) + ",\n"), std::string::npos);

    // Appended, never rewritten: two system-mode runs add two lines each.
    const Result again = run({"measure", "--system", "--repeat", "2", "--log", log.string()});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Run 2\n"), std::string::npos) << again.out;
    const std::string after = readAll(log);
    EXPECT_EQ(after.substr(0, lines.size()), lines);
    EXPECT_EQ(count(after, "\n"), 8u);
    EXPECT_NE(after.find(",Gain Not Measured, "), std::string::npos) << after;
}

TEST_F(MeasureTest, ManualSwitchingFollowsTheAnswers)
{
    // With port None the bench's outputs are never driven: every reading sees the same
    // state (noise off, DUT out), so the Y factors are 1 and every result fails.
    Result r = run({"measure", "--port", "None", "--system", "--time", "100"}, "\n\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, "press Enter: "), 2u);
    EXPECT_NE(r.err.find("Set the noise source OFF and the DUT out of circuit"), std::string::npos);
    EXPECT_NE(r.out.find("Noise Temp (K): Error\n"), std::string::npos) << r.out;

    // No one to answer the prompt.
    r = run({"measure", "--port", "None"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Set the noise source ON and the DUT out of circuit, then press Enter: "
                         "quillon-cli: no switch port drives the noise source and the DUT"),
              std::string::npos)
        << r.err;
}

TEST_F(MeasureTest, FailuresStopTheSeriesWithTheProgramsMessages)
{
    // A bench whose loudest state (DUT in, noise on) is -3 dBFS RMS: its noise peaks pass
    // full scale in reading 2, after the reference pair has been taken and shown.
    writeSettings("[VirtualBench]\nSeed=7\nLoudestLevelDbfs=-3\n");
    Result r = run({"measure", "--dummy", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        std::regex_match(r.out, std::regex("Noise \\(ON\\): [^\n]+\nNoise \\(OFF\\): [^\n]+\n")))
        << r.out;
    EXPECT_EQ(r.err, "quillon-cli: Error. Signal level too high.\n");

    writeSettings("[VirtualBench]\nSeed=7\n");
    r = run({"measure", "--log", (dir / "no" / "such" / "folder.log").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, 11), "Noise (ON):"); // the reading is taken and shown first
    EXPECT_EQ(r.err, "quillon-cli: Error - Cannot open log file.\n");
}

} // namespace
} // namespace quillon::clitest
