// quillon-cli calc and enr: the worked examples as the window shows them, JSON numbers in
// full precision, stored defaults, and the exact messages of bad input.

#include "CliRunner.h"

namespace quillon::clitest {
namespace {

using CalcTest = CliTest;

TEST_F(CalcTest, FourModesPrintTheWindowTexts)
{
    Result r = run({"calc", "system", "--on", "10", "--off", "0", "--bandwidth", "2.4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Noise Temp (K): 9896.561\nNoise Factor: 35.126\n"
                     "Noise Figure (dB): 15.456\nRX Noise Floor (dBm): -124.717\n");

    r = run({"calc", "device", "--on", "10", "--off", "0", "--dut-on", "25", "--dut-off", "10"});
    EXPECT_EQ(r.out, "Gain (dB): 15.318\nNoise Temp (K): 2410.842\nNoise Factor: 9.313\n"
                     "Noise Figure (dB): 9.691\n");

    r = run({"calc", "simple", "--nf", "3", "--decimals", "2"});
    EXPECT_EQ(r.out, "Noise Temp (K): 288.63\nNoise Factor: 2.00\nNoise Figure (dB): 3.00\n");

    r = run({"calc", "calibrate", "--on", "10", "--off", "0", "--unknown-on", "8", "--unknown-off",
             "0", "--unknown-tsoff=303"});
    EXPECT_EQ(r.out, "ENR (dB): 22.704\n");
}

TEST_F(CalcTest, FailingResultsShowError)
{
    Result r = run({"calc", "system", "--on", "-3.5", "--off", "-3.5", "--bandwidth", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Noise Temp (K): Error\nNoise Factor: Error\nNoise Figure (dB): Error\n"
                     "RX Noise Floor (dBm): Error\n");
    r = run({"calc", "calibrate", "--on", "10", "--off", "0", "--unknown-on", "0.1",
             "--unknown-off", "0"});
    EXPECT_EQ(r.out, "ENR (dB): Error\n");
}

TEST_F(CalcTest, JsonCarriesFullPrecisionAndValidity)
{
    const Result r = run({"calc", "system", "--on", "10", "--off", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const double te = jsonNumber(r.out, "value", r.out.find("\"noiseTemperature\""));
    EXPECT_NEAR(te, 9896.561, 5e-4);
    EXPECT_NE(te, 9896.561); // not the display rounding
    EXPECT_NE(r.out.find("\"shown\":\" 9896.561\""), std::string::npos) << r.out;
    EXPECT_EQ(jsonNumber(r.out, "enrDb"), 25.0);

    const Result bad = run({"calc", "system", "--on", "1", "--off", "1", "--json"});
    EXPECT_NE(bad.out.find("\"noiseTemperature\":{\"value\":null,\"valid\":false,\"shown\":\" "
                           "Error\"}"),
              std::string::npos)
        << bad.out;
}

TEST_F(CalcTest, DefaultsComeFromTheStoredSettings)
{
    writeSettings("[Setup]\nT0=300.0\nTSoff=303\nENR=20\nDecimalPointsInResults=1\n");
    Result r = run({"calc", "simple", "--nf", "3"});
    EXPECT_EQ(r.out, "Noise Temp (K): 298.6\nNoise Factor: 2.0\nNoise Figure (dB): 3.0\n");
    r = run({"calc", "system", "--on", "10", "--off", "0", "--json"});
    EXPECT_EQ(jsonNumber(r.out, "enrDb"), 20.0);
    EXPECT_EQ(jsonNumber(r.out, "tsOff"), 303.0);
    EXPECT_EQ(jsonNumber(r.out, "t0"), 300.0);
}

TEST_F(CalcTest, EnrFromACalibrationFileAtAFrequency)
{
    const auto table = file("source.dat", "# MHz, dB\n100,15.0\n200;14.0\n");
    Result r = run({"calc", "system", "--on", "10", "--off", "0", "--freq", "150", "--enr-file",
                    table.string(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jsonNumber(r.out, "enrDb"), 14.5);

    // The stored file is used when only a frequency is given.
    writeSettings("[Setup]\nUseEnrFile=1\nEnrCalibrationFile=" + table.string() + "\nENR=200\n");
    r = run({"calc", "system", "--on", "10", "--off", "0", "--freq", "50", "--json"});
    EXPECT_EQ(jsonNumber(r.out, "enrDb"), 15.0);
    // Without options the stored entry is a frequency while the file is in use.
    r = run({"calc", "system", "--on", "10", "--off", "0", "--json"});
    EXPECT_EQ(jsonNumber(r.out, "enrDb"), 14.0);

    const auto broken = file("broken.dat", "100 15.5\n");
    r = run({"calc", "system", "--on", "1", "--off", "0", "--freq", "1", "--enr-file",
             broken.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillon-cli: A line in the calibration file is missing an ENR value (dB)\n");
}

TEST_F(CalcTest, BadInputGivesOneLineAndStatusTwo)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"calc"}, ""},
        {{"calc", "fancy"},
         "unknown calculator mode 'fancy' (modes: simple, system, device, calibrate)"},
        {{"calc", "system", "--off", "0"}, "calc system needs --on DB"},
        {{"calc", "device", "--on", "1", "--off", "0", "--dut-on", "1"},
         "calc device needs --dut-off DB"},
        {{"calc", "system", "--on", "ten", "--off", "0"}, "--on needs a number, not 'ten'"},
        {{"calc", "system", "--on", "10dB", "--off", "0"}, "--on needs a number, not '10dB'"},
        {{"calc", "system", "--on", "1", "--off", "0", "--t0", "0"},
         "--t0 must lie between 1 and 10000000 (got 0)"},
        {{"calc", "system", "--on", "1", "--off", "0", "--enr", "60"},
         "--enr must lie between 0 and 50 (got 60)"},
        {{"calc", "system", "--on", "1", "--off", "0", "--enr", "5", "--freq", "3"},
         "give either --enr or --freq (with --enr-file), not both"},
        {{"calc", "system", "--on", "1", "--off", "0", "--freq", "3"},
         "--freq needs an ENR calibration file (--enr-file FILE)"},
        {{"calc", "simple", "--nf", "3", "--te", "290"},
         "calc simple needs exactly one of --te K, --factor F, --nf DB"},
        {{"calc", "simple", "--nf", "3", "--on", "1"},
         "unknown option '--on' for 'calc simple' (see quillon-cli calc simple --help)"},
        {{"calc", "simple", "--nf", "3", "extra"}, "calc simple takes no argument 'extra'"},
        {{"frobnicate"},
         "unknown command 'frobnicate' (commands: devices, level, calc, enr, measure; see "
         "quillon-cli --help)"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.out, "");
        if (!c.err.empty())
            EXPECT_EQ(r.err, "quillon-cli: " + c.err + "\n");
        else
            EXPECT_NE(r.err.find("Usage: quillon-cli calc MODE"), std::string::npos);
    }
}

using EnrTest = CliTest;

TEST_F(EnrTest, PrintsSortedRowsAndInterpolates)
{
    const auto table = file("source.dat", "; heading comment\r\n200\t14.0\r\n100,15.0\r\n");
    Result r = run({"enr", table.string(), "50", "150", "250"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, table.string() + ": 2 rows\n" +
                         "  Freq (MHz)   ENR (dB)\n"
                         "     100.000     15.000\n"
                         "     200.000     14.000\n"
                         "ENR at 50.000 MHz: 15.000\n"
                         "ENR at 150.000 MHz: 14.500\n"
                         "ENR at 250.000 MHz: 14.000\n");
    r = run({"enr", table.string(), "125", "--json"});
    EXPECT_NE(r.out.find("\"rows\":[{\"frequencyMHz\":100,\"enrDb\":15},{\"frequencyMHz\":200,"
                         "\"enrDb\":14}]"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(jsonNumber(r.out, "enrDb", r.out.find("lookups")), 14.75);
}

TEST_F(EnrTest, ReaderFailuresPrintTheExactMessageAndExitTwo)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "The Calibration file appears to contain no valid data!"},
        {"# only a comment\n", "The Calibration file appears to contain no valid data!"},
        {"-5,10\n", "One or more frequencies in the calibration file are out of range."},
        {"100,55\n", "One or more lines in the calibration file has an ENR value out of range"},
        {"100\n", "A line in the calibration file is missing an ENR value (dB)"},
        {",,\n", "A line in the calibration file was missing a frequency"},
        {"#" + std::string(252, 'x') + "\n",
         "One or more lines in the calibration file are too long to handle."},
    };
    for (const auto &[content, message] : cases) {
        const auto f = file("bad.dat", content);
        const Result r = run({"enr", f.string(), "--json"});
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "quillon-cli: " + message + "\n");
    }
    Result r = run({"enr", (dir / "nowhere.dat").string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillon-cli: The specified calibration file cannot be opened.\n");
    r = run({"enr", dir.string()});
    EXPECT_EQ(r.err, "quillon-cli: The specified calibration file cannot be opened.\n");
    r = run({"enr", ""});
    EXPECT_EQ(r.err, "quillon-cli: You must specify a valid ENR calibration file.\n");

    const auto good = file("good.dat", "100,15\n");
    r = run({"enr", good.string(), "x"});
    EXPECT_EQ(r.err, "quillon-cli: a frequency (MHz) needs a number, not 'x'\n");
    r = run({"enr", good.string(), "40000"});
    EXPECT_EQ(r.err, "quillon-cli: frequency 40000 MHz is outside 0 to 30000 MHz\n");
    r = run({"enr"});
    EXPECT_EQ(r.err,
              "quillon-cli: enr needs the calibration file: quillon-cli enr FILE [FREQ_MHZ...]\n");
}

} // namespace
} // namespace quillon::clitest
