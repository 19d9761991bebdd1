// quillon-cli devices, calc and enr: normal and JSON output, stored defaults; and the bad
// input of every command.

#include "CliRunner.h"

namespace quillon::clitest {
namespace {

using DevicesTest = CliTest;

TEST_F(DevicesTest, BenchIsLastWithAllFormatsAndPortsFollowTheProbeList)
{
    const auto fakePort = file("ttyFAKE0", "");
    probeDevices = "/nonexistent/ttyQ0:" + fakePort;
    const Result r = run({"devices"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bench = r.out.find("  Quillon virtual bench\n");
    const auto ports = r.out.find("Switch ports:\n");
    ASSERT_LT(bench, ports) << r.out;
    // All twenty rows, labels as in the format table.
    const std::string benchPart = r.out.substr(bench, ports - bench);
    EXPECT_EQ(count(benchPart, "       format "), 20u);
    EXPECT_NE(benchPart.find("format  0  11.025 kHz, mono, 16-bit\n"), std::string::npos);
    EXPECT_NE(benchPart.find("format 19  96 kHz, stereo, 24-bit\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(ports),
              "Switch ports:\n  None\n  " + fakePort + "\n  USB\n  Virtual bench\n");

    const Result j = run({"devices", "--json"});
    const auto last = j.out.rfind("\"number\":");
    EXPECT_NE(j.out.find("\"name\":\"Quillon virtual bench\",\"virtualBench\":true", last),
              std::string::npos)
        << j.out;
    EXPECT_EQ(count(j.out.substr(last), "\"row\":"), 20u);
    EXPECT_NE(
        j.out.find("\"switchPorts\":[\"None\",\"" + fakePort + "\",\"USB\",\"Virtual bench\"]"),
        std::string::npos);
}

using OutputTest = CliTest;

// calc and enr print what the window shows: leading blank, the chosen decimals, " Error".
TEST_F(OutputTest, CalcAndEnrPrintTheWindowTexts)
{
    const auto table = file("source.dat", "; heading comment\r\n200\t14.0\r\n100,15.0\r\n");
    const struct
    {
        std::string settings;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"",
         {"calc", "system", "--on", "10", "--off", "0", "--bandwidth", "2.4"},
         "Noise Temp (K): 9896.561\nNoise Factor: 35.126\nNoise Figure (dB): 15.456\n"
         "RX Noise Floor (dBm): -124.717\n"},
        {"",
         {"calc", "device", "--on", "10", "--off", "0", "--dut-on", "25", "--dut-off", "10"},
         "Gain (dB): 15.318\nNoise Temp (K): 2410.842\nNoise Factor: 9.313\n"
         "Noise Figure (dB): 9.691\n"},
        {"",
         {"calc", "simple", "--nf", "3", "--decimals", "2"},
         "Noise Temp (K): 288.63\nNoise Factor: 2.00\nNoise Figure (dB): 3.00\n"},
        {"",
         {"calc", "calibrate", "--on", "10", "--off", "0", "--unknown-on", "8", "--unknown-off",
          "0", "--unknown-tsoff=303"},
         "ENR (dB): 22.704\n"},
        {"",
         {"calc", "system", "--on", "-3.5", "--off", "-3.5", "--bandwidth", "1"}, // Y = 1
         "Noise Temp (K): Error\nNoise Factor: Error\nNoise Figure (dB): Error\n"
         "RX Noise Floor (dBm): Error\n"},
        {"[Setup]\nT0=300.0\nDecimalPointsInResults=1\n",
         {"calc", "simple", "--nf", "3"},
         "Noise Temp (K): 298.6\nNoise Factor: 2.0\nNoise Figure (dB): 3.0\n"},
        {"",
         {"enr", table, "50", "150", "250"},
         table + ": 2 rows\n  Freq (MHz)   ENR (dB)\n     100.000     15.000\n"
                 "     200.000     14.000\nENR at 50.000 MHz: 15.000\n"
                 "ENR at 150.000 MHz: 14.500\nENR at 250.000 MHz: 14.000\n"},
    };
    for (const auto &c : cases) {
        writeSettings(c.settings);
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

// JSON numbers are full precision; ENR, TSoff and T0 default to the stored settings, and the
// ENR comes from a calibration file at a frequency.
TEST_F(OutputTest, JsonCarriesFullPrecisionAndStoredDefaults)
{
    const auto table = file("source.dat", "# MHz, dB\n100,15.0\n200;14.0\n");
    const std::vector<std::string> system{"calc", "system", "--on", "10", "--off", "0", "--json"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), system.begin(), system.end());
        return more;
    };
    const std::string stored = "[Setup]\nT0=300.0\nTSoff=303\nENR=20\n";
    const std::string storedFile =
        "[Setup]\nUseEnrFile=1\nEnrCalibrationFile=" + table + "\nENR=200\n";
    const struct
    {
        std::string settings;
        std::vector<std::string> args;
        const char *key;
        double value;
    } cases[] = {
        {"", system, "enrDb", 25.0},
        {stored, system, "enrDb", 20.0},
        {stored, system, "tsOff", 303.0},
        {stored, system, "t0", 300.0},
        {"", with({"--freq", "150", "--enr-file", table}), "enrDb", 14.5},
        {storedFile, with({"--freq", "50"}), "enrDb", 15.0}, // the stored file
        {storedFile, system, "enrDb", 14.0}, // the stored ENR entry is the frequency
    };
    for (const auto &c : cases) {
        writeSettings(c.settings);
        const Result r = run(c.args);
        EXPECT_EQ(jsonNumber(r.out, c.key), c.value) << r.out;
    }

    writeSettings("");
    const Result r = run(system);
    const double te = jsonNumber(r.out, "value", r.out.find("\"noiseTemperature\""));
    EXPECT_NEAR(te, 9896.561, 5e-4);
    EXPECT_NE(te, 9896.561); // not the display rounding
    EXPECT_NE(r.out.find("\"shown\":\" 9896.561\""), std::string::npos) << r.out;
    const Result e = run({"enr", table, "125", "--json"});
    EXPECT_NE(e.out.find("\"rows\":[{\"frequencyMHz\":100,\"enrDb\":15},{\"frequencyMHz\":200,"
                         "\"enrDb\":14}]"),
              std::string::npos)
        << e.out;
    EXPECT_EQ(jsonNumber(e.out, "enrDb", e.out.find("lookups")), 14.75);
    const Result bad = run({"calc", "system", "--on", "1", "--off", "1", "--json"});
    EXPECT_NE(
        bad.out.find("\"noiseTemperature\":{\"value\":null,\"valid\":false,\"shown\":\" Error\"}"),
        std::string::npos)
        << bad.out;
}

using BadInputTest = CliTest;

// One case per place a message is made: the same option parser and range checks serve every
// command. The ENR reader's eleven messages themselves are tested in tests/nf.
TEST_F(BadInputTest, GivesOneLineAndStatusTwo)
{
    const auto u8 = file("u8.wav", wavBytes(44100, 8, 1, std::vector<std::int32_t>(100, 128)));
    const auto six = file("six.wav", wavBytes(44100, 16, 6, std::vector<std::int32_t>(600)));
    const auto phone = file("phone.wav", wavBytes(8000, 16, 1, std::vector<std::int32_t>(100)));
    const auto wav = file("good.wav", wavBytes(44100, 16, 1, std::vector<std::int32_t>(100)));
    const auto missing = (dir / "missing").string(), enr = file("good.dat", "100,15\n");
    const auto noData = file("empty.dat", "# only a comment\n");
    const auto noEnr = file("bad.dat", "100 15.5\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"frobnicate"},
         "unknown command 'frobnicate' (commands: devices, level, calc, enr, "
         "measure; see quillon-cli --help)"},
        {{"devices", "extra"}, "devices takes no argument 'extra'"},
        // level: files, then the shared option parser
        {{"level", missing}, "cannot read '" + missing + "'"},
        {{"level", u8}, "unsupported WAV format in '" + u8 + "': Unsigned 8 bit"},
        {{"level", six},
         "unsupported WAV format in '" + six +
             "': 6 channels (quillon-cli reads 16- or 24-bit PCM, mono or stereo)"},
        {{"level", phone},
         "unsupported WAV format in '" + phone +
             "': 8000 Hz (Quillon captures at 11025, 22050, 44100, 48000 or 96000 Hz)"},
        {{"level"}, "level needs a WAV file: quillon-cli level FILE"},
        {{"level", wav, wav}, "level takes one WAV file, not 2"},
        {{"level", wav, "--time", "50"}, "--time must be 100, 1000 or 10000 (ms), not 50"},
        {{"level", wav, "--average", "two"}, "--average needs a whole number, not 'two'"},
        {{"level", wav, "--fast"},
         "unknown option '--fast' for 'level' (see quillon-cli level --help)"},
        {{"level", wav, "--time"}, "option --time needs a value"},
        {{"level", wav, "--highpass=yes"}, "option --highpass takes no value"},
        // calc
        {{"calc", "fancy"},
         "unknown calculator mode 'fancy' (modes: simple, system, device, calibrate)"},
        {{"calc", "system", "--off", "0"}, "calc system needs --on DB"},
        {{"calc", "system", "--on", "10dB", "--off", "0"}, "--on needs a number, not '10dB'"},
        {{"calc", "system", "--on", "1", "--off", "0", "--t0", "0"},
         "--t0 must lie between 1 and 10000000 (got 0)"},
        {{"calc", "system", "--on", "1", "--off", "0", "--enr", "5", "--freq", "3"},
         "give either --enr or --freq (with --enr-file), not both"},
        {{"calc", "system", "--on", "1", "--off", "0", "--freq", "3"},
         "--freq needs an ENR calibration file (--enr-file FILE)"},
        {{"calc", "system", "--on", "1", "--off", "0", "--freq", "1", "--enr-file", noEnr},
         "A line in the calibration file is missing an ENR value (dB)"},
        {{"calc", "simple", "--nf", "3", "--te", "290"},
         "calc simple needs exactly one of --te K, --factor F, --nf DB"},
        {{"calc", "simple", "--nf", "3", "--on", "1"}, // an option of the other modes only
         "unknown option '--on' for 'calc simple' (see quillon-cli calc simple --help)"},
        {{"calc", "simple", "--nf", "3", "extra"}, "calc simple takes no argument 'extra'"},
        // enr
        {{"enr"}, "enr needs the calibration file: quillon-cli enr FILE [FREQ_MHZ...]"},
        {{"enr", noData, "--json"}, "The Calibration file appears to contain no valid data!"},
        {{"enr", missing}, "The specified calibration file cannot be opened."},
        {{"enr", ""}, "You must specify a valid ENR calibration file."},
        {{"enr", enr, "40000"}, "frequency 40000 MHz is outside 0 to 30000 MHz"},
        // measure
        {{"measure", "--device", "99"}, "there is no input device 99 (devices 0 to "},
        {{"measure", "--format", "20"},
         "there is no capture format 20 (formats 0 to 19; see quillon-cli devices)"},
        {{"measure", "--average", "0"}, "--average must be 1 to 32 (got 0)"},
        {{"measure", "--port", "LPX9"},
         "unknown switch port 'LPX9' (a serial device such as "
         "/dev/ttyUSB0, USB, Virtual bench or None)"},
        {{"measure", "--dut-line", "8"}, "--dut-line must be rts, dtr or a USB data bit 0 to 7"},
        {{"measure", "--highpass", "--no-highpass"}, "give --highpass or --no-highpass, not both"},
        {{"measure", "--log", ""}, "--log needs a file name"},
        {{"measure", "now"}, "measure takes no argument 'now'"},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.out, "") << message;
        EXPECT_EQ(r.err.rfind("quillon-cli: " + message, 0), 0u) << "got: " << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    }
    const Result usage = run({"calc"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Usage: quillon-cli calc MODE"), std::string::npos);
}

} // namespace
} // namespace quillon::clitest
