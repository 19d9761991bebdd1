// quillon-cli level on WAV files written here: known levels and crest factors, the left
// channel of stereo, block lengths, the running average, the filter and every bad input.

#include "CliRunner.h"

#include <cmath>
#include <numbers>

namespace quillon::clitest {
namespace {

// `seconds` of a sine of `amplitude` codes at `hz` (interleaved with `right` when stereo).
std::vector<std::int32_t> sine(int rate, double seconds, double hz, double amplitude,
                               int channels = 1, std::int32_t right = 0)
{
    std::vector<std::int32_t> s;
    const auto n = static_cast<int>(rate * seconds);
    for (int i = 0; i < n; ++i) {
        s.push_back(static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate))));
        if (channels == 2)
            s.push_back(i % 2 ? right : -right);
    }
    return s;
}

using LevelTest = CliTest;

TEST_F(LevelTest, FullScaleSineReadsMinus3dBWithCrestRootTwo)
{
    // Amplitude 32767 of 32768: 20 log10(32767/32768) = -0.00027 dB below -3.0103.
    const auto wav = file("sine.wav", wavBytes(48000, 16, 1, sine(48000, 2.0, 1000, 32767)));
    const Result r = run({"level", wav.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("48000 Hz, 16-bit, mono, 2.000 s; blocks of 1000 ms, high-pass off"),
              std::string::npos)
        << r.out;
    // Two blocks and the whole file, each " -3.011" dB, crest " 1.414", peak " 1.000".
    EXPECT_NE(r.out.find("     0      0.000     -3.011      1.414      1.000\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("     1      1.000     -3.011      1.414      1.000\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("  file      2.000     -3.011      1.414      1.000\n"),
              std::string::npos);

    const Result j = run({"level", wav.string(), "--json"});
    ASSERT_EQ(j.status, 0) << j.err;
    const auto whole = j.out.find("\"whole\"");
    EXPECT_NEAR(jsonNumber(j.out, "dB", whole), -3.0103, 5e-4);
    EXPECT_NEAR(jsonNumber(j.out, "crestFactor", whole), std::sqrt(2.0), 1e-3);
    EXPECT_EQ(jsonNumber(j.out, "frames", whole), 96000);
    EXPECT_EQ(jsonNumber(j.out, "peak", whole), 32767);
    EXPECT_EQ(count(j.out, "\"index\":"), 2u);
}

TEST_F(LevelTest, SilenceReadsMinus120AndCrestError)
{
    const auto wav = file("silence.wav", wavBytes(44100, 16, 1, std::vector<std::int32_t>(44100)));
    const Result r = run({"level", wav.string(), "--decimals", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("     0      0.000     -120.0      Error        0.0\n"), std::string::npos)
        << r.out;
    const Result j = run({"level", wav.string(), "--json"});
    EXPECT_EQ(jsonNumber(j.out, "dB", j.out.find("\"whole\"")), -120.0);
    // An undefined crest factor is null in JSON.
    EXPECT_NE(j.out.find("\"crestFactor\":null"), std::string::npos) << j.out;
}

TEST_F(LevelTest, StereoMeasuresTheLeftChannelOnly)
{
    // 24-bit: left a sine at -6 dBFS, right a full-scale square that must not matter.
    const auto mono = file("mono.wav", wavBytes(96000, 24, 1, sine(96000, 1.0, 3000, 4194304)));
    const auto stereo =
        file("stereo.wav", wavBytes(96000, 24, 2, sine(96000, 1.0, 3000, 4194304, 2, 8388607)));
    const Result m = run({"level", mono.string(), "--json"});
    const Result s = run({"level", stereo.string(), "--json"});
    ASSERT_EQ(s.status, 0) << s.err;
    const auto wm = m.out.find("\"whole\""), ws = s.out.find("\"whole\"");
    EXPECT_EQ(jsonNumber(s.out, "level", ws), jsonNumber(m.out, "level", wm));
    EXPECT_EQ(jsonNumber(s.out, "crestFactor", ws), jsonNumber(m.out, "crestFactor", wm));
    EXPECT_NEAR(jsonNumber(s.out, "dB", ws), -9.0309, 1e-3); // -6.02 dB peak, -3.01 for a sine
    EXPECT_NE(run({"level", stereo.string()}).out.find("stereo (left channel measured)"),
              std::string::npos);
}

TEST_F(LevelTest, AlternatingHalfScaleReadsMinus6dBCrestOne)
{
    std::vector<std::int32_t> s;
    for (int i = 0; i < 11026; ++i)
        s.push_back(i % 2 ? -4194304 : 4194304);
    const auto wav = file("square.wav", wavBytes(11025, 24, 1, s));
    const Result j = run({"level", wav.string(), "--json", "--time", "100"});
    ASSERT_EQ(j.status, 0) << j.err;
    const auto whole = j.out.find("\"whole\"");
    EXPECT_DOUBLE_EQ(jsonNumber(j.out, "level", whole), 0.5);
    EXPECT_DOUBLE_EQ(jsonNumber(j.out, "crestFactor", whole), 1.0);
    // 100 ms at 11025 Hz is 1102 frames (2205 bytes rounded down to whole frames); ten
    // such blocks and a last one of the 6 frames left.
    EXPECT_EQ(jsonNumber(j.out, "frames", j.out.find("\"index\":0")), 1102);
    EXPECT_EQ(count(j.out, "\"index\":"), 11u);
    EXPECT_EQ(jsonNumber(j.out, "frames", j.out.find("\"index\":10")), 6);
}

TEST_F(LevelTest, RunningAverageWaitsOnTheFirstBlockThenAveragesLaterOnes)
{
    // Three blocks, each 6 dB quieter than the one before.
    std::vector<std::int32_t> s;
    for (const double a : {16384.0, 8192.0, 4096.0}) {
        const auto part = sine(11025, 1.0, 1000, a);
        s.insert(s.end(), part.begin(), part.end());
    }
    const auto wav = file("steps.wav", wavBytes(11025, 16, 1, s));
    const Result r = run({"level", wav.string(), "--average", "2", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto b0 = r.out.find("\"index\":0"), b1 = r.out.find("\"index\":1"),
               b2 = r.out.find("\"index\":2");
    // Block 0 takes part in no average until the ring wraps: NaN (null), shown " Wait...".
    EXPECT_TRUE(std::isnan(jsonNumber(r.out, "average", b0)));
    EXPECT_DOUBLE_EQ(jsonNumber(r.out, "average", b1), jsonNumber(r.out, "dB", b1));
    EXPECT_NEAR(jsonNumber(r.out, "average", b2),
                (jsonNumber(r.out, "dB", b1) + jsonNumber(r.out, "dB", b2)) / 2, 1e-12);
    const Result t = run({"level", wav.string(), "--average", "2"});
    EXPECT_NE(t.out.find("    avg dB"), std::string::npos);
    EXPECT_NE(t.out.find(" Wait..."), std::string::npos) << t.out;
}

TEST_F(LevelTest, HighPassStopsLowTonesAndPassesHighOnes)
{
    const auto low = file("low.wav", wavBytes(44100, 16, 1, sine(44100, 1.0, 100, 16384)));
    const auto high = file("high.wav", wavBytes(44100, 16, 1, sine(44100, 1.0, 5000, 16384)));
    const Result l = run({"level", low.string(), "--highpass", "--json"});
    const Result h = run({"level", high.string(), "--highpass", "--json"});
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(l.out.find("\"highPass\":true"), std::string::npos);
    // The block starts at rest (history preset), so only the start transient remains.
    EXPECT_LT(jsonNumber(l.out, "dB", l.out.find("\"whole\"")), -40.0);
    EXPECT_NEAR(jsonNumber(h.out, "dB", h.out.find("\"whole\"")), -9.03, 0.1);
}

TEST_F(LevelTest, BadInputGivesOneLineAndStatusTwo)
{
    const auto eightBit =
        file("u8.wav", wavBytes(44100, 8, 1, std::vector<std::int32_t>(100, 128)));
    const auto floats =
        file("float.wav", wavBytes(44100, 32, 1, std::vector<std::int32_t>(100), 3));
    const auto surround = file("six.wav", wavBytes(44100, 16, 6, std::vector<std::int32_t>(600)));
    const auto phone = file("phone.wav", wavBytes(8000, 16, 1, std::vector<std::int32_t>(100)));
    const auto text = file("notes.wav", "this is not audio\n");
    const auto good = file("good.wav", wavBytes(44100, 16, 1, std::vector<std::int32_t>(100)));
    struct Case
    {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"level", (dir / "missing.wav").string()},
         "cannot read '" + (dir / "missing.wav").string() + "'"},
        {{"level", eightBit.string()},
         "unsupported WAV format in '" + eightBit.string() + "': Unsigned 8 bit"},
        {{"level", floats.string()},
         "unsupported WAV format in '" + floats.string() + "': 32 bit float"},
        {{"level", surround.string()},
         "6 channels (quillon-cli reads 16- or 24-bit PCM, mono or stereo)"},
        {{"level", phone.string()},
         "8000 Hz (Quillon captures at 11025, 22050, 44100, 48000 or 96000 Hz)"},
        {{"level", text.string()}, "cannot read '" + text.string() + "'"},
        {{"level"}, "level needs a WAV file: quillon-cli level FILE"},
        {{"level", good.string(), good.string()}, "level takes one WAV file, not 2"},
        {{"level", good.string(), "--time", "50"},
         "--time must be 100, 1000 or 10000 (ms), not 50"},
        {{"level", good.string(), "--average", "33"}, "--average must be 1 to 32 (got 33)"},
        {{"level", good.string(), "--average", "two"}, "--average needs a whole number, not 'two'"},
        {{"level", good.string(), "--decimals", "4"}, "--decimals must be 0 to 3 (got 4)"},
        {{"level", good.string(), "--fast"},
         "unknown option '--fast' for 'level' (see quillon-cli level --help)"},
        {{"level", good.string(), "--time"}, "option --time needs a value"},
        {{"level", good.string(), "--highpass=yes"}, "option --highpass takes no value"},
    };
    for (const Case &c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("quillon-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "got: " << r.err;
    }
}

} // namespace
} // namespace quillon::clitest
