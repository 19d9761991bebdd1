// quillon-cli level on WAV files written here: known levels and crest factors, the left
// channel of stereo, block lengths, the running average and the filter. Bad input: the
// table in CliCommandsTest.cpp.

#include "CliRunner.h"

#include <algorithm>
#include <numbers>

namespace quillon::clitest {
namespace {

// `seconds` of a sine of `amplitude` codes at `hz`; stereo adds a right channel of ±`right`.
std::vector<std::int32_t> sine(int rate, double seconds, double hz, double amplitude,
                               int channels = 1, std::int32_t right = 0)
{
    std::vector<std::int32_t> s;
    for (int i = 0; i < static_cast<int>(rate * seconds); ++i) {
        s.push_back(static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate))));
        if (channels == 2)
            s.push_back(i % 2 ? right : -right);
    }
    return s;
}

using LevelTest = CliTest;

TEST_F(LevelTest, WholeFileLevelsAndCrestFactors)
{
    // The JSON figures of the whole file.
    auto whole = [&](const std::string &wav, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"level", file("in.wav", wav), "--json"});
        const Result r = run(options);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out.substr(std::min(r.out.find("\"whole\""), r.out.size()));
    };
    // Amplitude 32767 of 32768 is 0.0003 dB below full scale.
    std::string w = whole(wavBytes(48000, 16, 1, sine(48000, 2.0, 1000, 32767)));
    EXPECT_NEAR(jsonNumber(w, "dB"), -3.0103, 5e-4);
    EXPECT_NEAR(jsonNumber(w, "crestFactor"), std::sqrt(2.0), 1e-3);
    w = whole(wavBytes(44100, 16, 1, std::vector<std::int32_t>(44100)));
    EXPECT_EQ(jsonNumber(w, "dB"), -120.0);
    EXPECT_NE(w.find("\"crestFactor\":null"), std::string::npos) << w; // undefined
    // Left a -6 dBFS sine; the right channel, a full-scale square, must not count.
    w = whole(wavBytes(96000, 24, 2, sine(96000, 1.0, 3000, 4194304, 2, 8388607)));
    EXPECT_NEAR(jsonNumber(w, "dB"), -9.0309, 1e-3);
    EXPECT_NEAR(jsonNumber(w, "crestFactor"), std::sqrt(2.0), 1e-3);
    // The filter starts at rest: only the start transient of a 100 Hz tone remains.
    w = whole(wavBytes(44100, 16, 1, sine(44100, 1.0, 100, 16384)), {"--highpass"});
    EXPECT_LT(jsonNumber(w, "dB"), -60.0);
}

TEST_F(LevelTest, TextShowsEachBlockAndTheWholeFile)
{
    const auto sineWav = file("sine.wav", wavBytes(48000, 16, 1, sine(48000, 2.0, 1000, 32767)));
    Result r = run({"level", sineWav});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(": 48000 Hz, 16-bit, mono, 2.000 s; blocks of 1000 ms, high-pass off\n"),
              std::string::npos)
        << r.out;
    for (const char *line : {"     0      0.000     -3.011      1.414      1.000\n",
                             "     1      1.000     -3.011      1.414      1.000\n",
                             "  file      2.000     -3.011      1.414      1.000\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;

    const auto silence = file("zero.wav", wavBytes(44100, 16, 1, std::vector<std::int32_t>(441)));
    r = run({"level", silence, "--decimals", "1"});
    EXPECT_NE(r.out.find("     0      0.000     -120.0      Error        0.0\n"), std::string::npos)
        << r.out;
    const auto stereo = file("two.wav", wavBytes(44100, 24, 2, std::vector<std::int32_t>(882)));
    EXPECT_NE(run({"level", stereo}).out.find("stereo (left channel measured)"), std::string::npos);
}

TEST_F(LevelTest, BlocksAreWholeFramesAndTheAverageWaitsForTheRingToWrap)
{
    std::vector<std::int32_t> s; // 0.3 s at 11025 Hz, three steps each 6 dB quieter
    for (const double a : {16384.0, 8192.0, 4096.0}) {
        const auto part = sine(11025, 0.1, 1000, a);
        s.insert(s.end(), part.begin(), part.end());
    }
    s.resize(3310);
    const auto wav = file("steps.wav", wavBytes(11025, 16, 1, s));
    const Result r = run({"level", wav, "--time", "100", "--average", "2", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 100 ms at 11025 Hz is 2205 bytes, rounded down to 1102 whole frames: three such blocks
    // and a last one of the 4 frames left.
    const auto b1 = r.out.find("\"index\":1"), b2 = r.out.find("\"index\":2");
    EXPECT_EQ(count(r.out, "\"index\":"), 4u);
    EXPECT_EQ(jsonNumber(r.out, "frames", b1), 1102);
    EXPECT_EQ(jsonNumber(r.out, "frames", r.out.find("\"index\":3")), 4);
    // Block 0 takes part in no average until the ring wraps: null, shown " Wait...".
    EXPECT_TRUE(std::isnan(jsonNumber(r.out, "average", r.out.find("\"index\":0"))));
    EXPECT_DOUBLE_EQ(jsonNumber(r.out, "average", b1), jsonNumber(r.out, "dB", b1));
    EXPECT_NEAR(jsonNumber(r.out, "average", b2),
                (jsonNumber(r.out, "dB", b1) + jsonNumber(r.out, "dB", b2)) / 2, 1e-12);
    EXPECT_NE(run({"level", wav, "--time", "100", "--average", "2"}).out.find(" Wait..."),
              std::string::npos);
}

} // namespace
} // namespace quillon::clitest
