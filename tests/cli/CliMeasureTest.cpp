// quillon-cli devices and measure: the device list with the virtual bench last and a probe
// list of the test's own, and whole Measure Device series on the virtual bench, checked
// against the bench's true DUT noise figure and gain.

#include "CliRunner.h"

namespace quillon::clitest {
namespace {

using DevicesTest = CliTest;

TEST_F(DevicesTest, BenchIsLastWithAllFormatsAndPortsFollowTheProbeList)
{
    const auto fakePort = file("ttyFAKE0", "");
    probeDevices = "/nonexistent/ttyQ0:" + fakePort.string();
    const Result r = run({"devices"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bench = r.out.find("  Quillon virtual bench\n");
    ASSERT_NE(bench, std::string::npos) << r.out;
    const auto ports = r.out.find("Switch ports:\n");
    ASSERT_NE(ports, std::string::npos);
    EXPECT_GT(ports, bench);
    // All twenty rows, labels as in the format table.
    const std::string benchPart = r.out.substr(bench, ports - bench);
    EXPECT_EQ(count(benchPart, "       format "), 20u);
    EXPECT_NE(benchPart.find("format  0  11.025 kHz, mono, 16-bit\n"), std::string::npos);
    EXPECT_NE(benchPart.find("format 19  96 kHz, stereo, 24-bit\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(ports),
              "Switch ports:\n  None\n  " + fakePort.string() + "\n  USB\n  Virtual bench\n");

    const Result j = run({"devices", "--json"});
    ASSERT_EQ(j.status, 0) << j.err;
    const auto last = j.out.rfind("\"number\":");
    EXPECT_NE(j.out.find("\"name\":\"Quillon virtual bench\",\"virtualBench\":true", last),
              std::string::npos)
        << j.out;
    EXPECT_EQ(count(j.out.substr(last), "\"row\":"), 20u);
    EXPECT_NE(j.out.find("\"switchPorts\":[\"None\",\"" + fakePort.string() +
                         "\",\"USB\",\"Virtual bench\"]"),
              std::string::npos);

    const Result bad = run({"devices", "extra"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "quillon-cli: devices takes no argument 'extra'\n");
}

class MeasureTest : public CliTest
{
protected:
    // A fixed seed keeps the numbers repeatable from run to run.
    MeasureTest() { writeSettings("[VirtualBench]\nSeed=12345\n"); }
};

TEST_F(MeasureTest, BenchSeriesReadsTheTrueDutNoiseFigureAndGain)
{
    const Result r = run({"measure", "--average", "8", "--dummy", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto results = r.out.find("\"results\"");
    const auto truth = r.out.find("\"benchTruth\"");
    ASSERT_NE(truth, std::string::npos) << r.out;
    const double trueNf = jsonNumber(r.out, "dutNfDb", truth);
    const double trueGain = jsonNumber(r.out, "dutGainDb", truth);
    EXPECT_EQ(trueNf, 1.0);
    EXPECT_EQ(trueGain, 20.0);
    // Eight 1 s blocks of noise in a 2.4 kHz band per reading: each reading's power is good to
    // about 0.5 % (one sigma), which moves the gain by about 0.03 dB and the NF by about
    // 0.03 dB; the limits are five sigma.
    EXPECT_NEAR(jsonNumber(r.out, "noiseFigure", results), trueNf, 0.15);
    EXPECT_NEAR(jsonNumber(r.out, "gainDb", results), trueGain, 0.15);
    EXPECT_NE(r.out.find("\"complete\":true"), std::string::npos);
    EXPECT_EQ(count(r.out, "\"blockPowers\":["), 4u);
    // Eight block powers per reading, kept as measured.
    const auto firstBlocks = r.out.find("\"blockPowers\":[");
    EXPECT_EQ(count(r.out.substr(firstBlocks, r.out.find(']', firstBlocks) - firstBlocks), ","),
              7u);
}

TEST_F(MeasureTest, SystemModeTakesTwoReadingsAndReadsTheReceiver)
{
    const Result r = run({"measure", "--system", "--average", "8", "--dummy", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "\"reading\":"), 2u);
    EXPECT_EQ(r.out.find("\"gainDb\""), std::string::npos);
    const double nf = jsonNumber(r.out, "noiseFigure", r.out.find("\"results\""));
    EXPECT_NEAR(nf, jsonNumber(r.out, "receiverNfDb", r.out.find("\"benchTruth\"")), 0.15);
}

TEST_F(MeasureTest, TextOutputAndLogLinesAsTheWindowWritesThem)
{
    const auto log = dir / "results.log";
    const Result r = run({"measure", "--decimals", "2", "--log", log.string(), "--dummy", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex text("Noise \\(ON\\): -[0-9]+\\.[0-9]{2}\n"
                          "Noise \\(OFF\\): -[0-9]+\\.[0-9]{2}\n"
                          "DUT \\(ON\\): -[0-9]+\\.[0-9]{2}\n"
                          "DUT \\(OFF\\): -[0-9]+\\.[0-9]{2}\n"
                          "Gain \\(dB\\): [0-9]+\\.[0-9]{2}\n"
                          "Noise Temp \\(K\\): [0-9]+\\.[0-9]{2}\n"
                          "Noise Factor: [0-9]+\\.[0-9]{2}\n"
                          "Noise Figure \\(dB\\): [0-9]+\\.[0-9]{2}\n"
                          "Virtual bench truth: DUT gain 20\\.000 dB, DUT NF 1\\.000 dB\n");
    EXPECT_TRUE(std::regex_match(r.out, text)) << r.out;

    const std::string lines = readAll(log);
    const std::regex logText(
        "NF,[0-9]+/[0-9]+/[0-9]{2} [0-9]+:[0-9]{2}:[0-9]{2},Noise \\(ON\\),-[0-9]+\\.[0-9]{6},"
        "Not Calculated\\.\n"
        "NF,[^,]+,Noise \\(OFF\\),-[0-9]+\\.[0-9]{6},Not Calculated\\.\n"
        "NF,[^,]+,DUT \\(ON\\),-[0-9]+\\.[0-9]{6},Not Calculated\\.\n"
        "NF,[^,]+,DUT \\(OFF\\),-[0-9]+\\.[0-9]{6}, [0-9.]+, [0-9.]+, [0-9.]+, [0-9.]+,\n");
    EXPECT_TRUE(std::regex_match(lines, logText)) << lines;
    // The logged results are the shown texts.
    const auto nfShown = r.out.substr(r.out.find("Noise Figure (dB):") + 18);
    EXPECT_NE(lines.find("," + nfShown.substr(0, nfShown.find('\n')) + ",\n"), std::string::npos);

    // Appended, never rewritten: a system-mode run adds two lines.
    const Result s = run({"measure", "--system", "--log", log.string()});
    ASSERT_EQ(s.status, 0) << s.err;
    const std::string after = readAll(log);
    EXPECT_EQ(after.substr(0, lines.size()), lines);
    EXPECT_EQ(count(after, "\n"), 6u);
    EXPECT_NE(after.find(",Gain Not Measured, "), std::string::npos) << after;
}

TEST_F(MeasureTest, RepeatRunsTheSeriesAgain)
{
    const Result r = run({"measure", "--repeat", "2", "--system", "--time", "100", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "\"readings\":"), 2u);
    const Result t = run({"measure", "--repeat", "2", "--system", "--time", "100"});
    EXPECT_NE(t.out.find("Run 1\n"), std::string::npos);
    EXPECT_NE(t.out.find("Run 2\n"), std::string::npos);
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

    // No switch port and no one to answer the prompt.
    r = run({"measure", "--port", "None"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Set the noise source ON and the DUT out of circuit, then press Enter: "
                         "quillon-cli: no switch port drives the noise source and the DUT"),
              std::string::npos)
        << r.err;
}

TEST_F(MeasureTest, ManualSwitchingFollowsTheAnswers)
{
    // With port None the bench's outputs are never driven: every reading sees the same
    // state (noise off, DUT out), so the Y factors are 1 and every result fails.
    const Result r = run({"measure", "--port", "None", "--system", "--time", "100"}, "\n\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, "press Enter: "), 2u);
    EXPECT_NE(r.err.find("Set the noise source OFF and the DUT out of circuit"), std::string::npos);
    EXPECT_NE(r.out.find("Noise Temp (K): Error\n"), std::string::npos) << r.out;
}

TEST_F(MeasureTest, BadInputGivesOneLineAndStatusTwo)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"measure", "--device", "99"}, "there is no input device 99 (devices 0 to "},
        {{"measure", "--device", "-1"}, "--device must be 0 to 1000000 (got -1)"},
        {{"measure", "--format", "20"},
         "there is no capture format 20 (formats 0 to 19; see quillon-cli devices)"},
        {{"measure", "--time", "500"}, "--time must be 100, 1000 or 10000 (ms), not 500"},
        {{"measure", "--dummy", "11"}, "--dummy must be 0 to 10 (got 11)"},
        {{"measure", "--average", "0"}, "--average must be 1 to 32 (got 0)"},
        {{"measure", "--port", "LPX9"},
         "unknown switch port 'LPX9' (a serial device such as /dev/ttyUSB0, USB, Virtual bench or "
         "None)"},
        {{"measure", "--noise-line", "cts"}, "--noise-line needs a whole number, not 'cts'"},
        {{"measure", "--dut-line", "8"}, "--dut-line must be rts, dtr or a USB data bit 0 to 7"},
        {{"measure", "--tsoff", "-1"}, "--tsoff must lie between 0 and 10000000 (got -1)"},
        {{"measure", "--highpass", "--no-highpass"}, "give --highpass or --no-highpass, not both"},
        {{"measure", "--log", ""}, "--log needs a file name"},
        {{"measure", "now"}, "measure takes no argument 'now'"},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("quillon-cli: " + message, 0), 0u) << "got: " << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    }
}

} // namespace
} // namespace quillon::clitest
