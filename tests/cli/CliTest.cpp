// quillon-cli, the real executable, run in a folder of its own with its own settings.
#include "capture/HighPass.h"
#include "capture/Level.h"
#include "core/Messages.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using Samples = std::vector<std::int32_t>;

struct Result
{
    int status = -1;
    std::string out, err;
};

bool has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

std::size_t count(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The number after "key": in a JSON text, searching from `from`; NaN when absent or null.
double jsonNumber(const std::string &json, const std::string &key, std::size_t from = 0)
{
    const std::string k = "\"" + key + "\":";
    const auto at = json.find(k, from);
    if (at == std::string::npos || json.compare(at + k.size(), 4, "null") == 0)
        return std::nan("");
    return std::strtod(json.c_str() + at + k.size(), nullptr);
}

// A PCM WAV file of interleaved little-endian samples.
std::string wavBytes(int rate, int bits, int channels, const Samples &samples)
{
    auto le = [](std::uint32_t v, int bytes) { // this machine is little-endian
        return std::string(reinterpret_cast<const char *>(&v), static_cast<std::size_t>(bytes));
    };
    std::string data;
    for (const std::int32_t v : samples)
        data += le(static_cast<std::uint32_t>(v), bits / 8);
    const int frame = channels * bits / 8;
    const std::string body = "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
                             le(rate * frame, 4) + le(frame, 2) + le(bits, 2) + "data" +
                             le(data.size(), 4) + data;
    return "RIFF" + le(body.size(), 4) + body;
}

// `seconds` of a sine of `amplitude` codes at `hz`.
Samples sine(int rate, double seconds, double hz, double amplitude)
{
    Samples s;
    for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
        s.push_back(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    return s;
}

class Cli : public ::testing::Test
{
protected:
    Cli()
    {
        std::filesystem::create_directories(dir / "config" / "Tremont");
        file(settings, "[VirtualBench]\nSeed=12345\n"); // repeatable bench noise
    }
    ~Cli() override { std::filesystem::remove_all(dir); }

    std::string file(const std::string &name, const std::string &content = "")
    {
        std::ofstream(dir / name, std::ios::binary) << content;
        return name;
    }
    std::string read(const std::string &name)
    {
        return {std::istreambuf_iterator<char>(std::ifstream(dir / name).rdbuf()), {}};
    }
    // The shell command that runs quillon-cli in `dir` on the command line `args`; no probe
    // reaches the machine's own ports.
    std::string command(const std::string &args) const
    {
        return "cd " + dir.string() + " && export XDG_CONFIG_HOME=$PWD/config " +
               "LSAN_OPTIONS=$LSAN_OPTIONS:print_suppressions=0 " + // ASan builds
               "QUILLON_SWITCH_PROBE_DEVICES=" + probeDevices + " && exec " + QUILLON_CLI + " " +
               args;
    }
    Result run(const std::string &args, const std::string &input = "")
    {
        file("in", input);
        const int raw = std::system((command(args) + " <in >out 2>err").c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("out"), read("err")};
    }
    // quillon-cli started in the background, its standard input a pipe that stays open and
    // empty, as a terminal nobody types into.
    pid_t start(const std::string &args)
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        const std::string cmd = command(args) + " >out 2>err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[0], STDIN_FILENO);
            ::close(fds[0]);
            ::close(fds[1]); // the test's end: closing it is the end of input
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[0]);
        m_stdinWriter = fds[1];
        return pid;
    }
    // Waits up to 20 s for the exit status of a started quillon-cli (-1: still running, then
    // killed, or killed by a signal), sending `signal` (Ctrl-C's) first once `ready` holds;
    // `usage`: its resource use.
    int finish(pid_t pid, const std::function<bool()> &ready = {}, rusage *usage = nullptr,
               int signal = SIGINT)
    {
        using namespace std::chrono_literals;
        for (auto t = 0ms; ready && !ready() && t < 20s; t += 10ms)
            std::this_thread::sleep_for(10ms);
        if (ready)
            ::kill(pid, signal);
        int raw = 0;
        rusage own{};
        bool done = false;
        for (auto t = 0ms; !(done = ::wait4(pid, &raw, WNOHANG, &own) == pid) && t < 20s; t += 10ms)
            std::this_thread::sleep_for(10ms);
        if (!done) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &raw, 0, &own);
        }
        if (m_stdinWriter >= 0)
            ::close(m_stdinWriter);
        m_stdinWriter = -1;
        if (usage != nullptr)
            *usage = own;
        return done && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillon-cli-" + std::to_string(::getpid()));
    const std::string settings = "config/Tremont/Quillon.conf"; // as the window program keeps it
    std::string probeDevices = "/nonexistent/ttyQ0";
    int m_stdinWriter = -1;
};

TEST_F(Cli, LevelOfEachBlockAndTheWholeFile)
{
    file("sine.wav", wavBytes(48000, 16, 1, sine(48000, 2.0, 1000, 32767))); // -0.0003 dBFS peak
    EXPECT_EQ(run("level sine.wav").out,
              "sine.wav: 48000 Hz, 16-bit, mono, 2.000 s; blocks of 1000 ms, high-pass off\n"
              " block   time (s)         dB      crest       peak\n"
              "     0      0.000     -3.011      1.414      1.000\n"
              "     1      1.000     -3.011      1.414      1.000\n"
              "  file      2.000     -3.011      1.414      1.000\n");
    file("zero.wav", wavBytes(44100, 16, 1, Samples(441)));
    EXPECT_PRED2(has, run("level zero.wav --decimals 1").out,
                 "     0      0.000     -120.0      Error        0.0\n");
    auto whole = [&](const std::string &wav, const std::string &options = "") {
        const std::string out = run("level " + wav + " --json " + options).out;
        return out.substr(std::min(out.find("\"whole\""), out.size()));
    };
    std::string w = whole("sine.wav");
    EXPECT_NEAR(jsonNumber(w, "dB"), -3.0103, 5e-4);
    // A WAV written as a stream declares 0xFFFFFFFF bytes: read to the end of the file.
    std::string streamed = read("sine.wav");
    streamed.replace(40, 4, std::string(4, '\xFF'));
    EXPECT_EQ(whole(file("streamed.wav", streamed)), w);
    EXPECT_PRED2(has, whole("zero.wav"), "\"crestFactor\":null"); // undefined
    // Left a -6 dBFS sine; the right channel, a full-scale square, must not count.
    Samples stereo;
    for (const std::int32_t v : sine(96000, 1.0, 3000, 4194304))
        stereo.insert(stereo.end(), {v, stereo.size() % 4 ? 8388607 : -8388607});
    w = whole(file("in.wav", wavBytes(96000, 24, 2, stereo)));
    EXPECT_NEAR(jsonNumber(w, "dB"), -9.0309, 1e-3);
    EXPECT_NEAR(jsonNumber(w, "crestFactor"), std::sqrt(2.0), 1e-3);
    // The filter starts at rest: only the start transient of a 100 Hz tone remains.
    w = whole(file("in.wav", wavBytes(44100, 16, 1, sine(44100, 1.0, 100, 16384))), "--highpass");
    EXPECT_LT(jsonNumber(w, "dB"), -60.0);
}

// Every number is the one measureBlock gives for each block, and for the whole file as one
// block, to the last bit. 2.5 s of 96 kHz stereo noise with a negative DC offset: blocks of
// several pieces and a last short one.
TEST_F(Cli, LevelReadsTheFileInPiecesWithTheNumbersOfWholeBlocks)
{
    Samples noise;
    std::uint32_t state = 5;
    for (int i = 0; i < 2 * 240007; ++i) {
        state = state * 1664525u + 1013904223u;
        noise.push_back(i % 9973 ? (static_cast<std::int32_t>(state) >> 9) - 300000 : -8388608);
    }
    const std::string wav = wavBytes(96000, 24, 2, noise);
    file("noise.wav", wav);
    const auto *data = reinterpret_cast<const std::uint8_t *>(wav.data()) + 44;
    const quillon::CaptureFormat format{1, 2, 96000, 576000, 6, 24};
    for (const bool highPass : {false, true}) {
        const std::string j =
            run(std::string("level noise.wav --json") + (highPass ? " --highpass" : "")).out;
        quillon::HighPass1kHz filter;
        filter.selectHighPass(96000);
        auto expectSame = [&](std::size_t at, std::uint32_t offset, std::uint32_t bytes) {
            const quillon::BlockStats s =
                quillon::measureBlock(data + offset, bytes, format, highPass ? &filter : nullptr);
            EXPECT_EQ(jsonNumber(j, "frames", at), s.N);
            EXPECT_EQ(jsonNumber(j, "level", at), s.L) << at;
            EXPECT_EQ(jsonNumber(j, "dB", at), s.dB);
            EXPECT_EQ(jsonNumber(j, "peakTerm", at), s.P);
            EXPECT_EQ(jsonNumber(j, "crestFactor", at), s.C);
            EXPECT_EQ(jsonNumber(j, "peak", at), s.peak);
        };
        for (std::uint32_t b = 0; b < 3; ++b)
            expectSame(j.find("\"index\":" + std::to_string(b)), b * 576000,
                       std::min(576000u, 1440042 - b * 576000));
        expectSame(j.find("\"whole\""), 0, 1440042);
        EXPECT_EQ(j.find("\"index\":3"), std::string::npos);
    }
}

// 256 MiB of silence (a sparse file) takes no more than a file of one block. (A child's peak
// includes what it shared with this process before it started quillon-cli.)
TEST_F(Cli, LevelMemoryStaysFlatForALongFile)
{
    auto peakKiB = [&](std::uint32_t bytes) {
        std::string wav = wavBytes(96000, 24, 2, {});
        wav.replace(40, 4, reinterpret_cast<const char *>(&bytes), 4);
        file("long.wav", wav);
        std::filesystem::resize_file(dir / "long.wav", wav.size() + bytes);
        rusage usage{};
        EXPECT_EQ(finish(start("level long.wav --time 10000 --json"), {}, &usage), 0)
            << read("err");
        return usage.ru_maxrss;
    };
    const long oneBlock = peakKiB(576000 * 10);
    EXPECT_LT(peakKiB(256u << 20) - oneBlock, 16 * 1024) << "KiB";
    EXPECT_PRED2(has, read("out"), "\"whole\":{\"frames\":44739242,\"level\":0,\"dB\":-120,");
}

TEST_F(Cli, LevelBlocksAreWholeFramesAndTheAverageWaitsForTheRingToWrap)
{
    Samples s(3310); // three 0.1 s tones at 11025 Hz, each 6 dB quieter, and 4 frames of silence
    for (int i = 0; i < 3306; ++i)
        s[i] = std::lround((16384 >> (i / 1102)) *
                           std::sin(2 * std::numbers::pi * 1000 * (i % 1102) / 11025));
    const std::string args =
        "level " + file("in.wav", wavBytes(11025, 16, 1, s)) + " --time 100 --average 2";
    const std::string j = run(args + " --json").out;
    // 100 ms at 11025 Hz is 2205 bytes: 1102 whole frames, three such blocks and one of 4.
    const auto b1 = j.find("\"index\":1"), b2 = j.find("\"index\":2");
    EXPECT_EQ(count(j, "\"index\":"), 4u);
    EXPECT_EQ(jsonNumber(j, "frames", b1), 1102);
    EXPECT_EQ(jsonNumber(j, "frames", j.find("\"index\":3")), 4);
    // Block 0 takes part in no average until the ring wraps: null, shown " Wait...".
    EXPECT_TRUE(std::isnan(jsonNumber(j, "average", j.find("\"index\":0"))));
    EXPECT_DOUBLE_EQ(jsonNumber(j, "average", b1), jsonNumber(j, "dB", b1));
    EXPECT_NEAR(jsonNumber(j, "average", b2),
                (jsonNumber(j, "dB", b1) + jsonNumber(j, "dB", b2)) / 2, 1e-12);
    EXPECT_PRED2(has, run(args).out, " Wait...");
}

TEST_F(Cli, DevicesListTheBenchLastWithAllFormatsAndThePortsOfTheProbeList)
{
    const auto port = (dir / file("ttyFAKE0")).string();
    probeDevices = "/nonexistent/ttyQ0:" + port;
    const std::string t = run("devices").out, j = run("devices --json").out;
    const auto bench = t.find("  Quillon virtual bench\n"), ports = t.find("Switch ports:");
    ASSERT_LT(bench, ports) << t;
    EXPECT_EQ(count(t.substr(bench), "       format "), 20u); // labels as in the format table
    EXPECT_PRED2(has, t.substr(bench), "format 19  96 kHz, stereo, 24-bit\n");
    EXPECT_EQ(t.substr(ports), "Switch ports:\n  None\n  " + port + "\n  USB\n  Virtual bench\n");
    const auto last = j.rfind("\"number\":");
    EXPECT_PRED2(has, j.substr(last), "\"name\":\"Quillon virtual bench\",\"virtualBench\":true");
    EXPECT_EQ(count(j.substr(last), "\"row\":"), 20u);
    EXPECT_PRED2(has, j, "\"switchPorts\":[\"None\",\"" + port + "\",\"USB\",\"Virtual bench\"]");
}

// calc and enr print what the window shows: leading blank, the chosen decimals, " Error".
TEST_F(Cli, CalcAndEnrPrintTheWindowTexts)
{
    file("source.dat", "; heading comment\r\n200\t14.0\r\n100,15.0\r\n");
    const std::pair<const char *, const char *> cases[] = {
        {"calc system --on 10 --off 0 --bandwidth 2.4",
         "Noise Temp (K): 9896.561\nNoise Factor: 35.126\nNoise Figure (dB): 15.456\n"
         "RX Noise Floor (dBm): -124.717\n"},
        {"calc device --on 10 --off 0 --dut-on 25 --dut-off 10",
         "Gain (dB): 15.318\nNoise Temp (K): 2410.842\nNoise Factor: 9.313\n"
         "Noise Figure (dB): 9.691\n"},
        {"calc calibrate --on 10 --off 0 --unknown-on 8 --unknown-off 0 --unknown-tsoff=303",
         "ENR (dB): 22.712\n"},
        {"calc calibrate --on 10 --off 0 --unknown-on 8 --unknown-off 0 --bandwidth 2.4 --nf 3",
         "ENR (dB): 22.708\nRX Noise Floor (dBm): -137.173\n"},
        {"enr source.dat 50 150 250",
         "source.dat: 2 rows\n  Freq (MHz)   ENR (dB)\n     100.000     15.000\n     200.000"
         "     14.000\nENR at 50.000 MHz: 15.000\nENR at 150.000 MHz: 14.500\n"
         "ENR at 250.000 MHz: 14.000\n"},
    };
    for (const auto &[args, out] : cases)
        EXPECT_EQ(run(args).out, out);
    file(settings, "[Setup]\nT0=300.0\nDecimalPointsInResults=1\n"); // stored T0 and decimals
    EXPECT_EQ(run("calc simple --nf 3").out,
              "Noise Temp (K): 298.6\nNoise Factor: 2.0\nNoise Figure (dB): 3.0\n");
}

// Full precision; ENR and TSoff from the stored settings or a calibration file at a frequency.
TEST_F(Cli, CalcAndEnrJsonCarryFullPrecisionAndStoredDefaults)
{
    file("source.dat", "# MHz, dB\n100,15.0\n200;14.0\n");
    const std::string sys = "calc system --on 10 --off 0 --json";
    std::string out = run(sys).out;
    const double te = jsonNumber(out, "value", out.find("\"noiseTemperature\""));
    EXPECT_NEAR(te, 9896.561, 5e-4);
    EXPECT_NE(te, 9896.561); // not the display rounding
    EXPECT_PRED2(has, out, "\"shown\":\" 9896.561\"");
    EXPECT_PRED2(has, run("calc system --on 1 --off 1 --json").out,
                 "\"noiseTemperature\":{\"value\":null,\"valid\":false,\"shown\":\" Error\"}");
    EXPECT_EQ(jsonNumber(run(sys + " --freq 150 --enr-file source.dat").out, "enrDb"), 14.5);
    out = run("enr source.dat 125 --json").out;
    EXPECT_PRED2(has, out, "\"rows\":[{\"frequencyMHz\":100,\"enrDb\":15},{\"frequencyMHz\":200,");
    EXPECT_EQ(jsonNumber(out, "enrDb", out.find("lookups")), 14.75);

    file(settings, "[Setup]\nTSoff=303\nENR=20\n");
    out = run(sys).out;
    EXPECT_EQ(jsonNumber(out, "enrDb"), 20.0);
    EXPECT_EQ(jsonNumber(out, "tsOff"), 303.0);
    // A stored calibration file: used at --freq, else the stored ENR entry is the frequency.
    file(settings, "[Setup]\nUseEnrFile=1\nEnrCalibrationFile=source.dat\nENR=200\n");
    EXPECT_EQ(jsonNumber(run(sys + " --freq 50").out, "enrDb"), 15.0);
    EXPECT_EQ(jsonNumber(run(sys).out, "enrDb"), 14.0);
}

// main() dispatches, the main help lists and the unknown-command message names the commands
// of one table: each lists every command, in the same order, and each command answers --help.
TEST_F(Cli, EveryCommandIsListedFromTheOneTable)
{
    const std::vector<std::string> names{"devices",   "level",    "calc",  "enr",   "measure",
                                         "calibrate", "spectrum", "bench", "sweep", "live",
                                         "sky",       "recompute"};
    const Result help = run("--help");
    std::vector<std::string> listed;
    const auto list = help.out.find("Commands:\n");
    ASSERT_NE(list, std::string::npos) << help.out;
    for (auto at = list + 10; help.out.compare(at, 2, "  ") == 0; at = help.out.find('\n', at) + 1)
        listed.push_back(help.out.substr(at + 2, help.out.find_first_of(" \n", at + 2) - at - 2));
    EXPECT_EQ(listed, names);
    EXPECT_PRED2(has, help.out, "\n  level FILE       block levels of a WAV file, as the Measure ");
    const Result bare = run(""); // no command: the same text, as an error
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err, help.out);

    std::string joined;
    for (const std::string &name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
        const Result r = run(name + " --help");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out.rfind("Usage: quillon-cli " + name + " ", 0), 0u) << r.out;
    }
    const Result unknown = run("frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "quillon-cli: unknown command 'frobnicate' (commands: " + joined +
                               "; see quillon-cli --help)\n");
}

// One case per place a message is made; the ENR reader's own messages are tested in tests/nf.
TEST_F(Cli, BadInputGivesOneLineAndStatusTwo)
{
    file("u8.wav", wavBytes(44100, 8, 1, Samples(100, 128)));
    file("six.wav", wavBytes(44100, 16, 6, Samples(600)));
    file("phone.wav", wavBytes(8000, 16, 1, Samples(100)));
    file("bad.dat", "100 15.5\n");
    file("short.wav", wavBytes(48000, 16, 1, Samples(100)));
    std::string cut = wavBytes(44100, 16, 1, Samples(500)); // 1000 bytes; its header says 8820
    cut.replace(40, 4, std::string("\x74\x22\0\0", 4));
    file("cut.wav", cut);
    const std::pair<const char *, const char *> cases[] = {
        {"devices extra", "devices takes no argument 'extra'"},
        {"level missing.wav", "cannot read 'missing.wav'"},
        {"level u8.wav", "unsupported WAV format in 'u8.wav': Unsigned 8 bit"},
        {"level six.wav", "unsupported WAV format in 'six.wav': 6 channels (quillon-cli reads 16- "
                          "or 24-bit PCM, mono or stereo)"},
        {"level phone.wav", "unsupported WAV format in 'phone.wav': 8000 Hz (Quillon captures at "
                            "11025, 22050, 44100, 48000 or 96000 Hz)"},
        {"level cut.wav", "'cut.wav' is cut short: its data chunk declares 8820 bytes of audio, "
                          "the file holds 1000"},
        {"level", "level needs a WAV file: quillon-cli level FILE"},
        {"level a.wav a.wav", "level takes one WAV file, not 2"},
        {"level a.wav --time 50", "--time must be 100, 1000 or 10000 (ms), not 50"},
        {"level a.wav --average two", "--average needs a whole number, not 'two'"},
        {"level a.wav --fast",
         "unknown option '--fast' for 'level' (see quillon-cli level --help)"},
        {"level a.wav --time", "option --time needs a value"},
        {"level a.wav --highpass=yes", "option --highpass takes no value"},
        {"calc fancy",
         "unknown calculator mode 'fancy' (modes: simple, system, device, calibrate)"},
        {"calc system --off 0", "calc system needs --on DB"},
        {"calc system --on 10dB", "--on needs a number, not '10dB'"},
        {"calc system --on 1 --t0 0", "--t0 must lie between 1 and 10000000 (got 0)"},
        {"calc system --on 1 --off 0 --enr 5 --freq 3",
         "give either --enr or --freq (with --enr-file), not both"},
        {"calc system --on 1 --off 0 --freq 3",
         "--freq needs an ENR calibration file (--enr-file FILE)"},
        {"calc system --on 1 --off 0 --freq 1 --enr-file bad.dat",
         "A line in the calibration file is missing an ENR value (dB)"},
        {"calc simple --nf 3 --te 290",
         "calc simple needs exactly one of --te K, --factor F, --nf DB"},
        {"calc simple --nf 3 --on 1",
         "unknown option '--on' for 'calc simple' (see quillon-cli calc simple --help)"},
        {"calc simple --nf 3 extra", "calc simple takes no argument 'extra'"},
        {"enr", "enr needs the calibration file: quillon-cli enr FILE [FREQ_MHZ...]"},
        {"enr missing.dat --json", "The specified calibration file cannot be opened."},
        {"enr a.dat 40000", "frequency 40000 MHz is outside 0 to 30000 MHz"},
        {"measure --device 99", "there is no input device 99 (devices 0 to "},
        {"measure --format 20",
         "there is no capture format 20 (formats 0 to 19; see quillon-cli devices)"},
        {"measure --average 0", "--average must be 1 to 32 (got 0)"},
        {"measure --port LPX9", "unknown switch port 'LPX9' (a serial device such as /dev/ttyUSB0, "
                                "USB, Virtual bench or None)"},
        {"measure --dut-line 8", "--dut-line must be rts, dtr or a USB data bit 0 to 7"},
        {"measure --highpass --no-highpass", "give --highpass or --no-highpass, not both"},
        {"measure --log ''", "--log needs a file name"},
        {"measure now", "measure takes no argument 'now'"},
        {"measure --precision 0", "--precision must be above 0 dB"},
        {"measure --precision 0.1 --average 4", "give --precision or --average, not both"},
        {"measure --max-time 5", "--max-time needs --precision"},
        {"measure --drift-order --no-drift-order",
         "give --drift-order or --no-drift-order, not both"},
        {"calibrate --drift-order",
         "unknown option '--drift-order' for 'calibrate' (see quillon-cli calibrate --help)"},
        {"spectrum", "spectrum needs a WAV file: quillon-cli spectrum FILE"},
        {"spectrum a.wav --fft 1000",
         "--fft must be 1024, 2048, 4096, 8192, 16384 or 32768, not 1000"},
        {"spectrum a.wav --average 33", "--average must be 1 to 32 (got 33)"},
        {"spectrum short.wav", "'short.wav' holds 100 frames, fewer than one FFT block of 8192"},
        {"bench now", "bench takes no argument 'now'"},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.out, "") << message;
        EXPECT_EQ(r.err.rfind("quillon-cli: " + std::string(message), 0), 0u) << "got: " << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    }
    const Result usage = run("calc"); // no mode: the usage
    EXPECT_TRUE(usage.status == 2 && has(usage.err, "Usage: quillon-cli calc MODE")) << usage.err;
}

// JACK's metadata store, set up while PortAudio scans ALSA, printed three lines of its own where
// /dev/shm is read-only (containers). Skipped where no mount namespace is allowed.
TEST_F(Cli, OneErrorLineWhereSharedMemoryCannotBeWritten)
{
    const std::string readOnlyShm = "unshare -m sh -c 'mount -t tmpfs -o ro tmpfs /dev/shm && ";
    if (std::system((readOnlyShm + "true' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no mount namespace here";
    file("in");
    const int raw =
        std::system((readOnlyShm + command("measure --device 99") + " <in >out 2>err'").c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2);
    EXPECT_EQ(read("err").rfind("quillon-cli: there is no input device 99", 0), 0u) << read("err");
    EXPECT_EQ(count(read("err"), "\n"), 1u) << read("err");
}

// Eight 1 s blocks of 2.4 kHz noise per reading: about 0.03 dB (one sigma) on gain and NF.
TEST_F(Cli, MeasureOnTheBenchReadsTheTrueNoiseFigureAndGain)
{
    for (const bool system : {false, true}) { // system mode takes two readings of the receiver
        const Result r =
            run(std::string("measure --average 8 --dummy 0 --json") + (system ? " --system" : ""));
        const std::string &j = r.out;
        ASSERT_EQ(r.err, "");
        const auto results = j.find("\"results\""), truth = j.find("\"benchTruth\"");
        EXPECT_NEAR(jsonNumber(j, "noiseFigure", results),
                    jsonNumber(j, system ? "receiverNfDb" : "dutNfDb", truth), 0.15);
        EXPECT_EQ(count(j, "\"reading\":"), system ? 2u : 4u);
        if (!system) {
            EXPECT_EQ(jsonNumber(j, "dutNfDb", truth), 1.0);
            EXPECT_NEAR(jsonNumber(j, "gainDb", results), jsonNumber(j, "dutGainDb", truth), 0.15);
        }
    }
}

// The truth table of the README, for the bench's settings as the window program keeps them.
TEST_F(Cli, BenchPrintsItsTruthAtTheStoredSettings)
{
    EXPECT_EQ(run("bench").out, "Virtual bench truth (T0 290 K, source off 293.0 K)\n"
                                "  Thot reference      91999.052 K (ENR 25.00 dB)\n"
                                "  System Te           1539.776 K, NF 8.000 dB\n"
                                "  DUT Te              75.088 K, NF 1.000 dB, gain 20.000 dB\n"
                                "  DUT + receiver Te   90.486 K, NF 1.179 dB\n"
                                "  Y system            51.0367 (17.079 dB)\n"
                                "  Y DUT in            240.1379 (23.805 dB)\n"
                                "  Noise source  DUT     Power (FS^2)      Level (dBFS)\n"
                                "  on            out     1.015738e-04      -39.932\n"
                                "  off           out     1.990211e-06      -57.011\n"
                                "  on            in      1.000000e-02      -20.000\n"
                                "  off           in      4.164275e-05      -43.805\n");
    file(settings, "[VirtualBench]\nDutNfDb=3\nUnknownEnrDb=6\nDutSwitchSelects=UnknownSource\n");
    EXPECT_PRED2(has, run("bench").out, "  Unknown source ENR  6.000 dB\n");
    const std::string j = run("bench --json").out;
    const auto truth = j.find("\"truth\"");
    EXPECT_PRED2(has, j, "\"dutSwitchSelects\":\"UnknownSource\"");
    EXPECT_NEAR(jsonNumber(j, "hotUnknownK", truth), std::pow(10, 0.6) * 290 + 293, 1e-9);
    EXPECT_NEAR(jsonNumber(j, "dutNfDb", truth), 3.0, 1e-12);
    EXPECT_EQ(count(j, "\"noiseOn\""), 4u);
}

// The README's loss bench: DUT NF 0.5 dB, gain 20 dB between 0.4 dB at 300 K and 1.0 dB at
// 290 K, the source off at 303 K.
constexpr const char *kLossBench = "[VirtualBench]\nSeed=12345\nDutNfDb=0.5\nDutGainDb=20\n"
                                   "SourceOffTemperatureK=303\nInputLossDb=0.4\n"
                                   "InputLossTemperatureK=300\nOutputLossDb=1.0\n";

// The bench prints its losses and converter and what the plain formulas read without
// corrections (the worked example of the correction tests: 0.922 dB, 18.600 dB).
TEST_F(Cli, BenchPrintsItsLossesConverterAndUncorrectedReading)
{
    file(settings, kLossBench);
    std::string out = run("bench").out;
    EXPECT_PRED2(has, out, "  Input loss          0.400 dB at 300.0 K\n"
                           "  Output loss         1.000 dB at 290.0 K\n"
                           "  Uncorrected reading DUT NF 0.922 dB, gain 18.600 dB\n");
    file(settings, "[VirtualBench]\nConverterOn=1\nConverterLoMHz=1152\nConverterSideband=double\n"
                   "DutNfDb=6\nReferenceEnrSlopeDbPerMHz=0\nDutNfCurvatureDbPerMHz2=0\n"
                   "DutGainSlopeDbPerMHz=0\n");
    out = run("bench").out;
    EXPECT_PRED2(has, out, "  Converter           double sideband, LO 1152.000 MHz\n"
                           "  Input               1296.000 MHz (ENR 25.00 dB), image 1008.000 "
                           "MHz (ENR 25.00 dB)\n");
    // A double-sideband mixer reads 3.01 dB too good and its gain 3.01 dB too high.
    EXPECT_PRED2(has, out, "  Uncorrected reading DUT NF 2.990 dB, gain 23.010 dB\n");
    const std::string j = run("bench --json").out;
    EXPECT_PRED2(has, j, "\"converterSideband\":\"double\"");
    EXPECT_EQ(jsonNumber(j, "inputFrequencyMHz"), 1296.0);
    EXPECT_EQ(jsonNumber(j, "imageFrequencyMHz"), 1008.0);
    EXPECT_NEAR(jsonNumber(j, "uncorrectedDutNfDb"), 6.0 - 10 * std::log10(2.0), 1e-9);
}

// measure with the corrections typed, stored, or neither: the corrected result near the truth,
// the "corrected for" line, the JSON's entries, the log line's addition at its end.
TEST_F(Cli, MeasureAppliesTheCorrectionsTypedOrStored)
{
    file(settings, kLossBench);
    const std::string options = "--average 8 --tsoff 303 --loss-before 0.4@300 --loss-after 1.0";
    Result r = run("measure " + options + " --log c.log");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PRED2(has, r.out, "\ncorrected for: input loss 0.40 dB at 300 K, output loss 1.00 dB "
                             "at 290 K\nVirtual bench truth: DUT gain 20.000 dB, DUT NF 0.500 dB\n"
                             "Virtual bench uncorrected reading: DUT gain 18.600 dB, DUT NF "
                             "0.922 dB\n");
    const std::string log = read("c.log");
    EXPECT_EQ(count(log, "corrected for"), 1u);
    EXPECT_PRED2(has, log, ",corrected for: input loss 0.40 dB at 300 K; output loss 1.00 dB at "
                           "290 K\n");
    EXPECT_EQ(log.substr(log.size() - 1), "\n");

    r = run("measure " + options + " --json");
    const std::string &j = r.out;
    const auto results = j.find("\"results\"");
    EXPECT_NEAR(jsonNumber(j, "noiseFigure", results), 0.5, 0.15);
    EXPECT_NEAR(jsonNumber(j, "gainDb", results), 20.0, 0.15);
    EXPECT_PRED2(has, j, "\"inputLoss\":{\"db\":0.4,\"temperatureK\":300,\"uncertaintyDb\":0}");
    EXPECT_PRED2(has, j, "\"calibrationLoss\":null,\"converter\":null");
    EXPECT_NEAR(jsonNumber(j, "uncorrectedDutNfDb"), 0.9217117285106866, 1e-9);
    // System mode measures the receiver alone: the losses around the DUT are not its own.
    r = run("measure --system " + options + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PRED2(has, r.out, "\"corrections\":null");

    // Stored in the "Corrections" group: applied without options; --no-corrections drops them.
    file(settings, std::string(kLossBench) + "[Corrections]\nInputLossOn=1\nInputLossDb=0.4\n"
                                             "InputLossTemperatureK=300\nOutputLossOn=1\n"
                                             "OutputLossDb=1\n");
    r = run("measure --average 8 --tsoff 303 --json");
    EXPECT_NEAR(jsonNumber(r.out, "noiseFigure", r.out.find("\"results\"")), 0.5, 0.15);
    r = run("measure --average 8 --tsoff 303 --no-corrections --json");
    EXPECT_PRED2(has, r.out, "\"corrections\":null");
    EXPECT_NEAR(jsonNumber(r.out, "noiseFigure", r.out.find("\"results\"")), 0.92, 0.15);
}

// live corrects its DUT readout for the same losses once the receiver is calibrated: near
// the bench's own 0.5 dB and 20 dB, not the 0.92 dB and 18.6 dB the plain formulas read, and
// says so once before the first group line (each JSON line in "correctedFor"); the system's
// noise figure without a calibration is corrected for nothing and says nothing. A refused
// entry starts nothing.
TEST_F(Cli, LiveAppliesTheCorrections)
{
    file(settings, kLossBench);
    const std::string losses = " --loss-before 0.4@300 --loss-after 1.0";
    const std::string correctedFor =
        "corrected for: input loss 0.40 dB at 300 K, output loss 1.00 dB at 290 K";
    Result r = run("live --bench-speed 0 --tsoff 303 --calibrate 16 --smoothing 32 --count 32 "
                   "--json" + losses);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string last = r.out.substr(r.out.rfind("{\"group\":32,"));
    EXPECT_NEAR(jsonNumber(last, "value", last.find("\"nfDb\":")), 0.5, 0.15) << last;
    EXPECT_NEAR(jsonNumber(last, "value", last.find("\"gainDb\":")), 20.0, 0.15) << last;
    EXPECT_PRED2(has, last, ",\"correctedFor\":\"" + correctedFor + "\"}\n");
    EXPECT_EQ(count(r.out, "\"correctedFor\":\"corrected for:"), 32u);

    r = run("live --bench-speed 0 --tsoff 303 --calibrate 2 --count 3" + losses);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PRED2(has, r.out, " with the DUT switched out\n" + correctedFor + "\ngroup 1  NF ");
    EXPECT_EQ(count(r.out, "corrected for"), 1u) << r.out;
    r = run("live --bench-speed 0 --tsoff 303 --count 2" + losses);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 19), "group 1  system NF ");
    EXPECT_EQ(count(r.out, "corrected for"), 0u) << r.out;
    EXPECT_EQ(count(run("live --bench-speed 0 --count 2 --json" + losses).out,
                    ",\"correctedFor\":null}\n"),
              2u);
    const Result refused = run("live --bench-speed 0 --calibrate 2 --loss-after 1@0");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "quillon-cli: Output loss: the physical temperature must be above 0 K.\n");
}

// A double-sideband converter measured end to end on the bench (LO 1152 MHz, the receiver at
// 144 MHz, input 1296 MHz, image 1008 MHz; SSB NF 6 dB, gain 12 dB, a flat ENR of 25 dB): with
// it entered, the DUT's NF and gain lie within their 95% intervals of the bench's truth.
// Entered as single sideband (image rejected by the default 100 dB), the image band's noise is
// read as the DUT's signal: NF 3.01 dB too good, gain 3.01 dB too high.
TEST_F(Cli, ConverterMeasuredEndToEndOnTheBench)
{
    file(settings, "[VirtualBench]\nSeed=12345\nDutNfDb=6\nDutGainDb=12\nConverterOn=1\n"
                   "ConverterLoMHz=1152\nConverterSideband=double\nReferenceEnrSlopeDbPerMHz=0\n"
                   "DutGainSlopeDbPerMHz=0\nDutNfCurvatureDbPerMHz2=0\n");
    struct Measured
    {
        double nf, nfHalfWidth, gain, gainHalfWidth, truthNf, truthGain;
    };
    const auto measure = [this](const std::string &sideband) {
        const Result r = run("measure --average 8 --json --lo 1152 --sideband " + sideband);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string &j = r.out;
        const auto results = j.find("\"results\"");
        const auto uncertainty = j.find("\"uncertainty\"", results);
        const auto truth = j.find("\"benchTruth\"");
        EXPECT_PRED2(has, j, "\"converter\":{\"loMHz\":1152,\"sideband\":\"" + sideband + "\"");
        return Measured{jsonNumber(j, "noiseFigure", results),
                        jsonNumber(j, "totalHalfWidth95", j.find("\"noiseFigure\":{", uncertainty)),
                        jsonNumber(j, "gainDb", results),
                        jsonNumber(j, "totalHalfWidth95", j.find("\"gainDb\":{", uncertainty)),
                        jsonNumber(j, "dutNfDb", truth), jsonNumber(j, "dutGainDb", truth)};
    };
    // One series is one draw: 95% intervals miss the truth one time in twenty, so the test
    // allows 1.5 of them (seed 12345 reads 0.076 dB off with a half-width of 0.077 dB); the
    // image's 3 dB is forty half-widths.
    const Measured dsb = measure("double");
    EXPECT_EQ(dsb.truthNf, 6.0);
    EXPECT_EQ(dsb.truthGain, 12.0);
    EXPECT_NEAR(dsb.nf, dsb.truthNf, 1.5 * dsb.nfHalfWidth);
    EXPECT_NEAR(dsb.gain, dsb.truthGain, 1.5 * dsb.gainHalfWidth);
    EXPECT_LT(dsb.nfHalfWidth, 0.3); // a real interval, not one that holds anything
    EXPECT_LT(dsb.gainHalfWidth, 0.3);
    const double dsbError = 10.0 * std::log10(2.0); // 3.0103 dB
    const Measured ssb = measure("upper");
    EXPECT_NEAR(ssb.nf, ssb.truthNf - dsbError, 1.5 * ssb.nfHalfWidth);
    EXPECT_NEAR(ssb.gain, ssb.truthGain + dsbError, 1.5 * ssb.gainHalfWidth);
}

// Each refused correction: one line, status 2, nothing measured.
TEST_F(Cli, EveryRefusedCorrectionGivesOneLineAndNoResult)
{
    file("narrow.txt", "100, 0.3\n140, 0.4\n");
    const std::pair<const char *, const char *> cases[] = {
        {"measure --loss-before -0.1", "Input loss: a loss must be a number of 0 dB or more."},
        {"measure --loss-after 1@0", "Output loss: the physical temperature must be above 0 K."},
        {"measure --loss-cal 1@-4", "Calibration path loss: the physical temperature must be "
                                    "above 0 K."},
        {"measure --loss-file-cal missing.txt",
         "Calibration path loss table missing.txt: the loss table cannot be read: The specified "
         "calibration file cannot be opened."},
        {"measure --loss-file-before narrow.txt@300",
         "Input loss table narrow.txt: the loss table does not cover the frequency 144.000 MHz."},
        {"measure --lo 100 --sideband lower",
         "Converter: the converter's input and image frequencies must be above 0 MHz."},
        {"measure --lo 1152 --image-rejection -3",
         "Converter: the image rejection must be a number of 0 dB or more."},
        {"measure --lo 1152 --sideband side", "--sideband takes upper, lower or double, not 'side'"},
        {"measure --sideband double", "--sideband and --image-rejection need --lo MHZ"},
        {"measure --loss-before 0.4 --loss-file-before narrow.txt",
         "give --loss-before or --loss-file-before, not both"},
        {"measure --loss-before 0.4dB", "--loss-before needs a number, not '0.4dB'"},
        {"measure --loss-after 0.4@warm",
         "--loss-after after @ (kelvin) needs a number, not 'warm'"},
        {"measure --no-corrections --lo 1152", "--no-corrections takes no loss or converter option"},
        {"sweep --list 144 --loss-file-after narrow.txt",
         "Output loss table narrow.txt: the loss table does not cover the frequency 144.000 MHz."},
        {"calc device --on 0 --off -10 --dut-on 10 --dut-off 0 --enr 15 --loss-before -1",
         "Input loss: a loss must be a number of 0 dB or more."},
        {"calc simple --nf 3 --loss-before 1",
         "unknown option '--loss-before' for 'calc simple' (see quillon-cli calc simple --help)"},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.out, "") << message;
        EXPECT_EQ(r.err, "quillon-cli: " + std::string(message) + "\n") << args;
    }
}

// calc on typed readings: the worked example Y = 10 in both pairs, ENR 15 dB, TSoff 290 K,
// 0.3 dB at 295 K ahead of the DUT: Te_rx = (31.623 * 290 + 290 - 2900) / 9 = 728.96 K,
// Te = (728.96 - 0.07152 * 295) / 1.07152 - 728.96 / (10 * 1.07152) = 592.58 K, gain 10.3 dB.
// System mode (the receiver behind the calibration path) applies that path's loss alone and
// says so; the losses around a DUT it has not measured are neither applied nor named. A
// sweep's CSV and lines carry the corrections of each point.
TEST_F(Cli, CalcAndSweepCarryTheCorrections)
{
    Result r = run("calc device --on 0 --off -10 --dut-on 10 --dut-off 0 --enr 15 --tsoff 290 "
                   "--loss-before 0.3@295 --decimals 2");
    EXPECT_EQ(r.out, "Gain (dB): 10.30\nNoise Temp (K): 592.58\nNoise Factor: 3.04\n"
                     "Noise Figure (dB): 4.83\ncorrected for: input loss 0.30 dB at 295 K\n");
    r = run("calc system --on 0 --off -10 --enr 15 --tsoff 290 --loss-cal 0.3@295 "
            "--loss-before 1 --lo 1152 --json");
    const double teCal = (std::pow(10, 1.5) * 290 + 290 - 10 * 290) / 9; // 728.96 K
    EXPECT_NEAR(jsonNumber(r.out, "value", r.out.find("noiseTemperature")),
                (teCal - (std::pow(10, 0.03) - 1) * 295) / std::pow(10, 0.03), 1e-9);
    EXPECT_PRED2(has, r.out, "\"corrections\":{\"correctedFor\":\"corrected for: calibration "
                             "path loss 0.30 dB at 295 K\",\"inputLoss\":null,\"outputLoss\":null,");
    EXPECT_PRED2(has, r.out, "\"converter\":null}");
    // Nothing of what is entered applies: the plain result, no "corrected for" line.
    const std::string plain = "calc system --on 10 --off 0 --enr 15";
    r = run(plain + " --loss-before 1 --loss-after 2@300");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, run(plain).out);
    EXPECT_PRED2(has, r.out, "Noise Figure (dB):");
    EXPECT_PRED2(has, run(plain + " --loss-before 1 --json").out, "\"corrections\":null");

    file("after.txt", "100, 0.5, 0.05\n200, 1.5, 0.05\n");
    r = run("sweep --list '140, 150' --average 2 --loss-file-after after.txt@280 --csv s.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PRED2(has, r.out, "  [corrected for: output loss 0.90 dB at 280 K]\n150.000000 MHz");
    std::string csv = read("s.csv");
    EXPECT_PRED2(has, csv, "Warnings,Input frequency (MHz),Input loss (dB),Output loss (dB),"
                           "Calibration path loss (dB),Corrected for\r\n140,");
    EXPECT_PRED2(has, csv, ",140,,0.9,,corrected for: output loss 0.90 dB at 280 K\r\n150,");
    EXPECT_PRED2(has, csv, ",150,,1,,corrected for: output loss 1.00 dB at 280 K\r\n");
}

// A tone in the passband: the readings take blocks until the noise figure's statistical
// half-width is at the target (the system pair's pilots of two blocks are enough, the DUT
// pair goes on); the tone's warning in the text and in the JSON. A fixed seed repeats the
// bench's noise, and the half-widths with it.
TEST_F(Cli, MeasureToAPrecisionWithItsUncertaintyAndWarnings)
{
    file(settings, "[VirtualBench]\nSeed=11\nToneOn=1\nToneDbfs=-57\n");
    const std::string j = run("measure --precision 0.1 --json --dummy 0").out;
    const auto nf = j.find("\"noiseFigure\":{");
    ASSERT_NE(nf, std::string::npos) << j;
    const double halfWidth = jsonNumber(j, "statisticalHalfWidth95", nf);
    EXPECT_LE(halfWidth, 0.1);
    EXPECT_GT(halfWidth, 0.07);
    EXPECT_EQ(jsonNumber(j, "blocks", j.find("\"reading\":0")), 2);
    EXPECT_GT(jsonNumber(j, "blocks", j.find("\"reading\":2")), 2);
    EXPECT_PRED2(has, j, "\"statisticalText\":\"± ");
    EXPECT_GE(count(j, "a tone or hum is in the passband"), 2u);
    const std::string text = run("measure --precision 0.1 --dummy 0").out;
    EXPECT_PRED2(has, text, "Warning: a tone or hum is in the passband\n");
    file(settings, "[VirtualBench]\nSeed=11\n");
    EXPECT_EQ(count(run("measure --precision 0.1 --dummy 0").out, "Warning"), 0u);
}

// The drift-cancelling order: --drift-order, else the stored choice, which --no-drift-order
// overrides; the ON readings take their dummy twice, the log keeps its four lines in the
// order of the sequence, and a bench drifting 20 dB per minute gets the warning in the text
// and the JSON.
TEST_F(Cli, MeasureInTheDriftCancellingOrder)
{
    file(settings, "[VirtualBench]\nSeed=4\nGainDriftDbPerMinute=20\n");
    const std::string j =
        run("measure --json --time 100 --average 16 --drift-order --log d.log").out;
    EXPECT_PRED2(has, j, "\"driftOrder\":true");
    EXPECT_EQ(jsonNumber(j, "dummies", j.find("\"reading\":0")), 2);
    EXPECT_EQ(jsonNumber(j, "dummies", j.find("\"reading\":1")), 1);
    EXPECT_EQ(jsonNumber(j, "blocks", j.find("\"reading\":0")), 16);
    EXPECT_PRED2(has, j.substr(j.find("\"results\"")), "receiver gain drifted by ");
    // The gain's drift part: the DUT pair 3.5 s after the reference pair at 1/3 dB per s.
    EXPECT_GT(jsonNumber(j, "drift", j.find("\"gainDb\":{")), 0.3);
    const std::string log = read("d.log");
    EXPECT_LT(log.find("Noise (ON)"), log.find("Noise (OFF)"));
    EXPECT_LT(log.find("Noise (OFF)"), log.find("DUT (ON)"));
    EXPECT_EQ(count(log, "NF,"), 4u);
    const std::string text = run("measure --time 100 --average 16 --drift-order").out;
    EXPECT_PRED2(has, text, "Warning: receiver gain drifted by ");

    file(settings, "[VirtualBench]\nSeed=4\n[Setup]\nDriftCancellingOrder=1\n");
    EXPECT_PRED2(has, run("measure --json --time 100 --average 2").out, "\"driftOrder\":true");
    const std::string off = run("measure --json --time 100 --average 2 --no-drift-order").out;
    EXPECT_PRED2(has, off, "\"driftOrder\":false");
    EXPECT_EQ(jsonNumber(off, "dummies", off.find("\"reading\":0")), 1);
}

// The Calibrate Noise Source series headless: the bench's unknown source (15 dB, off at
// 350 K) read within the interval the command gives, the ENR lines logged, and the texts of
// measure's forms; measure's options that calibrate has not are refused as measure refuses
// unknown ones.
TEST_F(Cli, CalibrateReadsTheUnknownSourceWithinItsInterval)
{
    file(settings, "[VirtualBench]\nSeed=5\nUnknownOffTemperatureK=350\n");
    const std::string j = run("calibrate --json --time 100 --average 16 --log cal.log").out;
    const auto results = j.find("\"results\"");
    ASSERT_NE(results, std::string::npos) << j;
    const double enr = jsonNumber(j, "enrDb", results);
    const double halfWidth = jsonNumber(j, "totalHalfWidth95", results);
    EXPECT_GT(halfWidth, 0.0);
    EXPECT_LT(halfWidth, 0.5);
    EXPECT_LE(std::fabs(enr - 15.0), halfWidth) << enr;
    EXPECT_EQ(jsonNumber(j, "tsOffUnknown", 0), 350.0);
    EXPECT_EQ(jsonNumber(j, "unknownEnrDb", j.find("\"benchTruth\"")), 15.0);
    EXPECT_EQ(count(read("cal.log"), "ENR,"), 4u);

    const std::string text = run("calibrate --time 100 --decimals 1").out;
    EXPECT_PRED2(has, text, "Unknown Noise Source (off):");
    EXPECT_PRED2(has, text, "Computed ENR (dB): ");
    EXPECT_PRED2(has, text, "Computed ENR (dB) 95%: \u00b1 ");
    EXPECT_PRED2(has, text, "Virtual bench truth: unknown source ENR 15.000 dB\n");
    const Result refused = run("calibrate --system");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "quillon-cli: unknown option '--system' for 'calibrate' (see "
                           "quillon-cli calibrate --help)\n");
}

TEST_F(Cli, MeasureTextAndLogLinesAsTheWindowWritesThem)
{
    const Result r = run("measure --decimals 2 --log results.log --dummy 1");
    auto numbers = [](const std::string &text) { // times to T, numbers of 2 or 6 decimals to N
        const std::regex time("[0-9]+/[0-9]+/[0-9]{2} [0-9]+:[0-9]{2}:[0-9]{2}");
        const std::regex halfWidth("[0-9.]+( dB| K)? \\(95%\\)");
        return std::regex_replace(
            std::regex_replace(std::regex_replace(text, time, "T"), halfWidth, "H"),
            std::regex("-?[0-9]+\\.([0-9]{2}|[0-9]{6})(,|\n)"), "N$2");
    };
    EXPECT_EQ(numbers(r.out),
              "Noise (ON): N\nNoise (OFF): N\nDUT (ON): N\nDUT (OFF): N\n"
              "Gain (dB): N\nNoise Temp (K): N\nNoise Factor: N\nNoise Figure (dB): N\n"
              "Gain (dB) 95%: ± H statistical, ± H total\n"
              "Noise Temp (K) 95%: ± H statistical, ± H total\n"
              "Noise Factor 95%: ± H statistical, ± H total\n"
              "Noise Figure (dB) 95%: ± H statistical, ± H total\n"
              "Virtual bench truth: DUT gain 20.000 dB, DUT NF 1.000 dB\n");
    const std::string lines = read("results.log");
    EXPECT_EQ(numbers(lines),
              "NF,T,Noise (ON),N,Not Calculated.\nNF,T,Noise (OFF),N,Not Calculated.\n"
              "NF,T,DUT (ON),N,Not Calculated.\nNF,T,DUT (OFF),N, N, N, N, N,\n");
    const auto nf = r.out.substr(r.out.find("Noise Figure (dB):") + 18); // logged as shown
    EXPECT_PRED2(has, lines, "," + nf.substr(0, nf.find('\n')) + ",\n");
    // Appended, never rewritten: two system-mode runs add two lines each.
    EXPECT_PRED2(has, run("measure --system --repeat 2 --log results.log").out, "Run 2\n");
    const std::string after = read("results.log");
    EXPECT_EQ(after.substr(0, lines.size()), lines);
    EXPECT_EQ(count(after, "\n"), 8u);
    EXPECT_PRED2(has, after, ",Gain Not Measured, ");
}

TEST_F(Cli, MeasureStopsWithTheProgramsMessages)
{
    // Port None drives no bench output: noise off and DUT out throughout, so every Y is 1.
    Result r = run("measure --port None --system --time 100", "\n\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, "press Enter: "), 2u);
    EXPECT_PRED2(has, r.err, "Set the noise source OFF and the DUT out of circuit");
    EXPECT_PRED2(has, r.out, "Noise Temp (K): Error\n");
    r = run("measure --port None"); // no one to answer
    EXPECT_EQ(r.status, 2);
    EXPECT_PRED2(has, r.err,
                 "Set the noise source ON and the DUT out of circuit, then press Enter: "
                 "quillon-cli: no switch port drives the noise source and the DUT");
    r = run("measure --log no/such/folder.log");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, 11), "Noise (ON):"); // the reading is taken and shown first
    EXPECT_EQ(r.err, "quillon-cli: " + std::string(quillon::messageText(quillon::kMsgCannotOpenLog)) + "\n");
    // Loudest state -3 dBFS RMS: its peaks clip in reading 2, after the reference pair is shown.
    file(settings, "[VirtualBench]\nSeed=7\nLoudestLevelDbfs=-3\n");
    r = run("measure --dummy 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("Noise \\(ON\\): .+\nNoise \\(OFF\\): .+\n")));
    EXPECT_EQ(r.err, "quillon-cli: " + std::string(quillon::messageText(quillon::kMsgSignalTooHigh)) + "\n");
}

// A full-scale tone on bin 64 of a 1024-point FFT: 10 log10(1024 / 16) = 18.06 dB there (less
// the window's (n - 1) / n and the amplitude's 32767 / 32768), its neighbours 6 dB lower.
TEST_F(Cli, SpectrumOfAToneOnABinAndTheRunningAverage)
{
    Samples s(3100); // three blocks and 28 frames
    for (int i = 0; i < 3100; ++i)
        s[i] = std::lround(32767 * std::sin(2 * std::numbers::pi * 3000 * i / 48000));
    file("tone.wav", wavBytes(48000, 16, 1, s));
    const std::string out = run("spectrum tone.wav --fft 1024").out;
    EXPECT_EQ(out.substr(0, out.find('\n') + 1),
              "tone.wav: 48000 Hz, 16-bit, mono, 0.065 s; FFT 1024 (46.875 Hz per bin), 3 blocks "
              "(28 frames after the last block unused), high-pass off, average off\n");
    EXPECT_PRED2(has, out, "\n    63     2953.125      12.05\n    64     3000.000      18.05\n");
    EXPECT_PRED2(has, out, "\npassband: peak 3000.0 Hz at ");
    EXPECT_EQ(count(out, "\n"), 2u + 512u + 1u);
    const std::string j = run("spectrum tone.wav --fft 1024 --all --average 2 --json").out;
    EXPECT_EQ(count(j, "\"block\":"), 3u);
    EXPECT_EQ(jsonNumber(j, "rowsAveraged", j.find("\"block\":0")), 1);
    EXPECT_EQ(jsonNumber(j, "rowsAveraged", j.find("\"block\":2")), 2);
    EXPECT_EQ(jsonNumber(j, "unusedFrames"), 28);
    EXPECT_EQ(jsonNumber(j, "peakBin"), 64);
}

// Fault mended: Ctrl-C went unseen on the bench and at a prompt. Everything measured before it
// is printed: as many readings as were logged, the last run marked if cut short.
TEST_F(Cli, CtrlCEndsAMeasurementWithWhatItMeasured)
{
    pid_t pid = start("measure --repeat 0 --json --log results.log");
    EXPECT_EQ(finish(pid, [&] { return count(read("results.log"), "\n") >= 10; }), 130);
    const std::string j = read("out");
    EXPECT_EQ(read("err"), "quillon-cli: measurement cancelled\n");
    EXPECT_PRED2(has, j, "\"interrupted\":true,");
    const auto runs = count(j, "\"cutShort\":");
    const std::string last = j.substr(std::min(j.rfind("\"cutShort\":"), j.size()));
    const auto inLast = count(last, "\"reading\":");
    ASSERT_GE(runs, 3u) << j.substr(0, 300);
    EXPECT_EQ(count(j, "\"reading\":"), count(read("results.log"), "\n"));
    EXPECT_EQ(count(j, "\"reading\":"), 4 * (runs - 1) + inLast);
    EXPECT_EQ(count(j, "\"cutShort\":true"), inLast < 4 ? 1u : 0u);
    EXPECT_EQ(has(last, "\"cutShort\":true"), inLast < 4);

    pid = start("measure --port None");
    EXPECT_EQ(finish(pid, [&] { return has(read("err"), "press Enter: "); }), 130);
    EXPECT_EQ(read("err"), "Set the noise source ON and the DUT out of circuit, then press "
                           "Enter: \nquillon-cli: measurement cancelled\n");
    EXPECT_EQ(read("out"), "");
}

// One text line per point; --json, --csv and --log hold the same points (four log lines each).
TEST_F(Cli, SweepOnTheBenchPrintsWritesAndLogsEachPoint)
{
    Result r = run("sweep --start 144 --stop 146 --step 1 --average 4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "\n"), 3u);
    EXPECT_EQ(r.out.rfind("144.000000 MHz  ENR 25.000 dB  NF ", 0), 0u) << r.out;
    EXPECT_PRED2(has, r.out, "\n146.000000 MHz  ENR 24.996 dB  NF ");

    r = run("sweep --list '120, 168' --csv s.csv --log s.log --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PRED2(has, r.out, "\"ended\":\"complete\"");
    EXPECT_PRED2(has, r.out, "\"failedPoints\":[]}");
    EXPECT_EQ(count(r.out, "\"frequencyMHz\":"), 2u);
    const std::string csv = read("s.csv");
    EXPECT_EQ(count(csv, "\r\n"), 3u);
    const auto second = csv.find("\r\n168,");
    ASSERT_NE(second, std::string::npos) << csv;
    const double nf = jsonNumber(r.out, "nfDb", r.out.find("\"frequencyMHz\":168"));
    EXPECT_EQ(std::strtod(csv.c_str() + csv.find(',', csv.find(',', second + 2) + 1) + 1, nullptr),
              nf);
    EXPECT_EQ(count(read("s.log"), "\n"), 8u);
}

TEST_F(Cli, SweepRefusesBadInputAndReportsAFailedReceiver)
{
    const std::tuple<const char *, int, const char *> cases[] = {
        {"sweep --start 146 --stop 144 --step 1", 2,
         "The step must be negative to go from 146 MHz down to 144 MHz."},
        {"sweep --start 144", 2, "give --start, --stop and --step in MHz, or --list"},
        {"sweep --list 144 --start 1", 2, "give --list or --start, --stop and --step, not both"},
        {"sweep --list 144 --rig radio", 2, "--rig must be none, bench or hamlib"},
        {"sweep --list 144 --mode am", 2, "--mode must be usb or cw"},
        {"sweep --list 144 --csv ''", 2, "--csv needs a file name"},
        {"sweep --list 144 --rig hamlib --model 2 --port 127.0.0.1:1", 1,
         "Receiver Hamlib NET rigctl (hamlib model 2) at 127.0.0.1:1: connecting failed: "
         "Connection refused (is rigctld running there?)."},
    };
    for (const auto &[args, status, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_EQ(r.err, std::string("quillon-cli: ") + message + "\n") << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

// measure and sweep read the device options with one parser: the same message for the same bad
// option, and a sweep takes --format (row 8 is the stored default) and the filter options.
TEST_F(Cli, MeasureAndSweepShareTheDeviceOptions)
{
    for (const char *bad : {"--format 20", "--format x", "--device 99", "--device x", "--time 50",
                            "--highpass --no-highpass", "--enr-uncertainty 4"}) {
        const Result m = run(std::string("measure ") + bad);
        const Result s = run(std::string("sweep --list 144 ") + bad);
        EXPECT_TRUE(m.status == 2 && s.status == 2) << bad;
        EXPECT_EQ(s.err, m.err) << bad;
    }
    const std::string sweep = "sweep --list 144 --time 100 --auto-dummy --no-highpass";
    const Result stored = run(sweep), row8 = run(sweep + " --format 8"),
                 row3 = run(sweep + " --format 3");
    ASSERT_EQ(row3.status, 0) << row3.err;
    EXPECT_EQ(row3.out.rfind("144.000000 MHz  ENR 25.000 dB  NF ", 0), 0u) << row3.out;
    EXPECT_EQ(row8.out, stored.out);
    EXPECT_NE(row3.out, stored.out); // another rate: other samples
}

// measure and sweep take the noise source by one rule: the same ENR and stated ENR uncertainty
// for the same options, and the sweep's uncertainties carry it. On the bench the stored file
// and uncertainty are the user's real source's, so the bench's own source stands in for them.
TEST_F(Cli, MeasureAndSweepTakeTheNoiseSourceByOneRule)
{
    file("two.dat", "100,25.2\n200,24.8\n");
    file("three.dat", "100,25.2,0.2\n200,24.8,0.4\n");
    file(settings, "[VirtualBench]\nSeed=3\n[Setup]\nUseEnrFile=1\nEnrCalibrationFile=three.dat\n"
                   "ENR=150\nEnrUncertainty=0.7\n");
    struct Case
    {
        const char *options;
        bool file; // measure reads it at --freq 144, the sweep's point
        double enrDb, uncertaintyDb;
        const char *sameWithout; // the options of the same ENR without an uncertainty
    };
    const Case cases[] = {
        {"", false, 25.0, 0.0, nullptr}, // the bench's own source at its tuning, 144 MHz
        {"--enr 24", false, 24.0, 0.0, nullptr},
        {"--enr 24 --enr-uncertainty 0.5", false, 24.0, 0.5, "--enr 24"},
        {"--enr-file two.dat", true, 25.024, 0.0, nullptr},
        {"--enr-file three.dat", true, 25.024, 0.288, "--enr-file two.dat"},
        {"--enr-file two.dat --enr-uncertainty 0.1", true, 25.024, 0.1, "--enr-file two.dat"},
        {"--enr-file three.dat --enr-uncertainty 0", true, 25.024, 0.0, nullptr},
    };
    const std::string fast = " --time 100 --average 4 --dummy 0 --json ";
    std::map<std::string, double> nfUncertainty;
    for (const Case &c : cases) {
        const std::string m =
            run(std::string("measure") + fast + (c.file ? "--freq 144 " : "") + c.options).out;
        const std::string s = run("sweep --list 144" + fast + c.options).out;
        EXPECT_NEAR(jsonNumber(m, "enrDb"), c.enrDb, 1e-12) << c.options;
        EXPECT_NEAR(jsonNumber(s, "enrDb"), jsonNumber(m, "enrDb"), 1e-12) << c.options;
        EXPECT_NEAR(jsonNumber(m, "enrUncertaintyDb"), c.uncertaintyDb, 1e-12) << c.options;
        EXPECT_EQ(jsonNumber(s, "enrUncertaintyDb"), jsonNumber(m, "enrUncertaintyDb"))
            << c.options;
        nfUncertainty[c.options] = jsonNumber(s, "nfUncertaintyDb");
        if (c.sameWithout != nullptr) { // the same noise, only the stated ENR uncertainty added
            EXPECT_GT(nfUncertainty[c.options], nfUncertainty.at(c.sameWithout)) << c.options;
        }
    }
}

// The stated ENR and off-temperature uncertainties reach the total of every command that
// measures, on the same noise: the statistical half-width stays, the total grows.
TEST_F(Cli, StatedUncertaintiesReachEveryCommandsTotal)
{
    file(settings, "[VirtualBench]\nSeed=9\n");
    const std::string fast = " --time 100 --average 4 --json --enr 25 ";
    for (const char *command : {"measure", "calibrate", "sweep --list 144"}) {
        const bool sweep = std::string(command).starts_with("sweep");
        // The NF's (the computed ENR's for calibrate) total: standard for the sweep, the 95%
        // half-width for the others; and the statistical half-width beside it.
        const auto uncertainty = [&](const std::string &options) {
            const std::string j = run(command + fast + options).out;
            if (sweep)
                return std::pair{jsonNumber(j, "nfUncertaintyDb"), 0.0};
            const auto at = j.find(std::string(command) == "measure" ? "\"noiseFigure\":{"
                                                                     : "\"enrDb\":{");
            return std::pair{jsonNumber(j, "totalHalfWidth95", at),
                             jsonNumber(j, "statisticalHalfWidth95", at)};
        };
        const auto bare = uncertainty("");
        for (const char *stated : {"--enr-uncertainty 0.5", "--tsoff-uncertainty 30"}) {
            const auto with = uncertainty(stated);
            EXPECT_GT(with.first, bare.first * 1.001) << command << " " << stated;
            EXPECT_EQ(with.second, bare.second) << command << " " << stated;
        }
    }
}

// Ctrl-C while the second point settles: the first point is printed and written, status 130.
TEST_F(Cli, CtrlCEndsASweepWithThePointsMeasured)
{
    const pid_t pid = start("sweep --list 144,145 --settle 5000 --csv s.csv");
    EXPECT_EQ(finish(pid, [&] { return has(read("out"), "\n"); }), 130);
    EXPECT_EQ(count(read("out"), "\n"), 1u);
    EXPECT_EQ(read("err"), "quillon-cli: sweep cancelled\n");
    EXPECT_EQ(count(read("s.csv"), "\r\n"), 2u);
}

// Fault mended: SIGTERM and SIGHUP killed a command with nothing printed or written. All three
// stop signals end measure, calibrate and sweep alike: the JSON closed over the runs so far,
// the CSV with the points so far, and the exit status 128 + the signal.
TEST_F(Cli, StopSignalsEndEveryMeasuringCommandWithWhatItMeasured)
{
    const std::pair<int, int> signals[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto &[signal, status] : signals) {
        for (const char *command : {"measure", "calibrate"}) {
            std::filesystem::remove(dir / "results.log");
            const pid_t pid =
                start(std::string(command) + " --repeat 0 --json --time 100 --log results.log");
            EXPECT_EQ(finish(pid, [&] { return count(read("results.log"), "\n") >= 6; }, nullptr,
                             signal),
                      status)
                << command << " " << signal;
            const std::string j = read("out");
            EXPECT_EQ(read("err"), "quillon-cli: measurement cancelled\n") << command;
            EXPECT_PRED2(has, j, "],\"interrupted\":true,\"benchTruth\":{") << command;
            EXPECT_EQ(j.substr(std::max<std::size_t>(j.size(), 3) - 3), "}}\n") << command;
            EXPECT_GE(count(j, "\"cutShort\":"), 1u) << command;
        }
        std::filesystem::remove(dir / "out"); // the last command's
        const pid_t pid = start("sweep --list 144,145 --settle 5000 --csv s.csv");
        EXPECT_EQ(finish(pid, [&] { return has(read("out"), "\n"); }, nullptr, signal), status)
            << signal;
        EXPECT_EQ(read("err"), "quillon-cli: sweep cancelled\n");
        EXPECT_EQ(count(read("s.csv"), "\r\n"), 2u) << signal;
    }
}

// Fault mended: the CSV's path was checked only after the last point, and the CSV written only
// then, so a kill lost every point. Now a path that cannot be written is refused before the
// first point, and the file holds every point read even after a SIGKILL.
TEST_F(Cli, SweepChecksItsCsvFirstAndWritesItAfterEveryPoint)
{
    std::filesystem::create_directories(dir / "folder");
    const std::pair<const char *, const char *> refused[] = {
        {"no/such/s.csv", "its folder no/such: No such file or directory"},
        {"folder", "it is a folder"},
        {"/proc/s.csv", "its folder /proc: No such file or directory"},
    };
    for (const auto &[path, reason] : refused) {
        const Result r = run(std::string("sweep --list 144,145 --time 100 --csv ") + path);
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_EQ(r.err, std::string("quillon-cli: The CSV file \"") + path +
                             "\" could not be written: " + reason + ".\n");
        EXPECT_EQ(r.out, "") << path; // no point was read
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "folder")); // the check leaves nothing behind

    const pid_t pid = start("sweep --list 144,145,146 --settle 5000 --time 100 --csv s.csv");
    EXPECT_EQ(finish(pid, [&] { return count(read("s.csv"), "\r\n") == 2; }, nullptr, SIGKILL),
              -1);
    const std::string csv = read("s.csv");
    EXPECT_EQ(count(csv, "\r\n"), 2u);
    EXPECT_EQ(csv.substr(csv.find("\r\n") + 2, 4), "144,");
    EXPECT_EQ(count(read("out"), "\n"), 1u);
}

// Fault mended: a sweep whose every point was over range exited 0, "complete". Each failed point
// is named with its reason, "ended" is "failed", and the status is 1.
TEST_F(Cli, ASweepWithFailedPointsFails)
{
    // Loudest state -3 dBFS RMS: its peaks clip in reading 2 at every point.
    file(settings, "[VirtualBench]\nSeed=7\nLoudestLevelDbfs=-3\n");
    const std::string why = "DUT (ON): " + std::string(quillon::messageText(quillon::kMsgSignalTooHigh));
    const std::string errors = "quillon-cli: point 144.000000 MHz failed: " + why +
                               "\nquillon-cli: point 145.000000 MHz failed: " + why + "\n";
    Result r = run("sweep --list 144,145 --dummy 0 --json --csv s.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errors);
    EXPECT_PRED2(has, r.out, "\"ended\":\"failed\"");
    EXPECT_PRED2(has, r.out, "\"failedPoints\":[{\"frequencyMHz\":144,\"reason\":\"" + why +
                                 "\"},{\"frequencyMHz\":145,\"reason\":\"" + why + "\"}]}");
    EXPECT_EQ(count(read("s.csv"), "\r\n"), 3u); // the points are still written
    r = run("sweep --list 144,145 --dummy 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errors);
    EXPECT_EQ(count(r.out, "NF - dB"), 2u);
}

// Fault mended: measure --repeat 0 --json kept every run until the end, growing without bound.
// The document's head and each run are printed as they come; memory does not grow with runs.
TEST_F(Cli, MeasureStreamsItsJsonWithFlatMemory)
{
    pid_t pid = start("measure --repeat 0 --json --time 100 --average 1");
    EXPECT_EQ(finish(pid, [&] { return count(read("out"), "\"cutShort\":false") >= 2; }), 130);
    const std::string head = read("out");
    EXPECT_EQ(head.rfind("{\"device\":{\"number\":", 0), 0u) << head.substr(0, 100);
    EXPECT_LT(head.find("\"t0\":"), head.find("\"runs\":[{\"cutShort\""));

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's own bookkeeping (ASan's quarantine of freed memory, TSan's shadow) grows
    // with the work done and slows the runs tenfold: the figure says nothing of the program.
    GTEST_SKIP() << "peak memory is not the program's own in a sanitizer build";
#endif
    auto peakKb = [&](int runs) {
        rusage usage{};
        const pid_t p = start("measure --json --time 100 --average 1 --repeat " +
                              std::to_string(runs));
        EXPECT_EQ(finish(p, {}, &usage), 0) << runs;
        EXPECT_EQ(count(read("out"), "\"cutShort\":false"), static_cast<std::size_t>(runs));
        return usage.ru_maxrss;
    };
    const long few = peakKb(100), many = peakKb(2100);
    EXPECT_LT(many - few, 1024) << few << " KB for 100 runs, " << many << " KB for 2100";
}

// Fault mended: level and spectrum opened their file twice, so from a FIFO they lost its start.
// A FIFO and standard input ("-") read as the file does.
TEST_F(Cli, LevelAndSpectrumReadAFifoAndStandardInput)
{
    const std::string wav = wavBytes(48000, 16, 1, sine(48000, 1.5, 3000, 16384));
    file("tone.wav", wav);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ::signal(SIGPIPE, SIG_IGN); // a reader may stop before the end: then writes fail, no more
    // Whatever opens the FIFO for reading gets the whole file, as often as it opens it.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) {
            const int fd = ::open((dir / "fifo").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            ::fcntl(fd, F_SETFL, 0);
            for (std::size_t at = 0; at < wav.size();) {
                const ssize_t n = ::write(fd, wav.data() + at, wav.size() - at);
                if (n <= 0)
                    break;
                at += static_cast<std::size_t>(n);
            }
            ::close(fd);
        }
    });
    // From standard input, a pipe.
    auto piped = [&](const std::string &args, const std::string &bytes) {
        const pid_t pid = start(args);
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(m_stdinWriter, bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::close(m_stdinWriter);
        m_stdinWriter = -1;
        return Result{finish(pid), read("out"), read("err")};
    };
    // The output of the file, named `name`.
    auto as = [](std::string out, const std::string &name) {
        return out.replace(std::min(out.find("tone.wav"), out.size()), 8, name);
    };
    for (const char *command : {"level", "level --json", "spectrum --fft 1024 --all"}) {
        const Result fromFile = run(std::string(command) + " tone.wav");
        ASSERT_EQ(fromFile.status, 0) << command << fromFile.err;
        const Result fromFifo = run(std::string(command) + " fifo");
        EXPECT_EQ(fromFifo.status, 0) << command << fromFifo.err;
        EXPECT_EQ(fromFifo.out, as(fromFile.out, "fifo")) << command;
        const Result fromStdin = piped(std::string(command) + " -", wav);
        EXPECT_EQ(fromStdin.status, 0) << command << fromStdin.err;
        EXPECT_EQ(fromStdin.out, as(fromFile.out, "-")) << command;
    }
    done = true;
    writer.join();

    // A stream of unknown length (the data size field full, as a recording of open end writes
    // it) is read to its end by level; spectrum needs the length. A stream that stops before
    // its declared length fails.
    std::string open = wav;
    open.replace(40, 4, std::string(4, '\xFF'));
    Result r = piped("level -", open);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "-: 48000 Hz, 16-bit, mono, length unknown; blocks of 1000 ms, high-pass off");
    const std::string whole = run("level tone.wav").out;
    EXPECT_EQ(r.out.substr(std::min(r.out.find("\n"), r.out.size())),
              whole.substr(whole.find("\n"))); // every block, and the length at the end
    r = piped("spectrum -", open);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillon-cli: '-' does not say how long it is (a WAV written as it is "
                     "recorded): spectrum needs its length; give -d to arecord, or a file\n");
    r = piped("level -", wav.substr(0, wav.size() / 2));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillon-cli: cannot read '-': the file ended early\n");
}

// Faults mended: --csv replaced a device node with a regular file, and a CSV that could not
// be written was reported as success. "-" is standard output.
TEST_F(Cli, SweepCsvToDevicesAndStandardOutput)
{
    const std::string sweep = "sweep --list 144 --average 1 --dummy 0 --csv ";
    // Nodes of its own for "null" and "full" (as /dev/null and /dev/full: major 1, minor 3
    // and 7), so that no fault here can ever replace the system's.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        EXPECT_EQ(run(sweep + "null").status, 0);
        EXPECT_TRUE(std::filesystem::is_character_file(dir / "null"));
    }
    if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0) {
        const Result full = run(sweep + "full");
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, "quillon-cli: The CSV file \"full\" could not be written: No space "
                            "left on device.\n");
        EXPECT_TRUE(std::filesystem::is_character_file(dir / "full"));
    }

    const Result out = run(sweep + "-");
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(count(out.out, "\r\n"), 2u);
    EXPECT_PRED2(has, out.out, "\nFrequency (MHz),ENR used (dB),");
    EXPECT_FALSE(std::filesystem::exists(dir / "-"));
}

// live: a line per group with the groups the average holds as it fills; the bench's source
// OFF at the end.
TEST_F(Cli, LivePrintsALinePerGroupUntilItsCount)
{
    const Result r = run("live --bench-speed 0 --time 100 --smoothing 3 --count 5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "quillon-cli: live stopped; the bench's noise source is OFF\n");
    std::istringstream lines(r.out);
    std::string line;
    const char *used[] = {"1/3", "2/3", "3/3", "3/3", "3/3"};
    int n = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(n, 5) << r.out;
        EXPECT_EQ(line.rfind("group " + std::to_string(n + 1) + "  system NF ", 0), 0u) << line;
        EXPECT_PRED2(has, line, std::string(" dB  groups ") + used[n]);
        // One group cannot tell its spread.
        EXPECT_EQ(has(line, "± ? dB"), n == 0) << line;
        ++n;
    }
    EXPECT_EQ(n, 5);
}

// With --calibrate the receiver is taken alone first; then the DUT's own figures, near the
// bench's truth (DUT 1 dB, 20 dB gain).
TEST_F(Cli, LiveJsonWithACalibrationCorrectsForTheReceiver)
{
    const Result r = run("live --bench-speed 0 --calibrate 8 --smoothing 8 --count 9 --json");
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> updates;
    int calibrations = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.front(), '{');
        ASSERT_EQ(line.back(), '}');
        if (line.rfind("{\"calibration\":{\"onPower\":", 0) == 0) {
            ++calibrations;
            EXPECT_TRUE(updates.empty()); // before the first update
            EXPECT_NEAR(jsonNumber(line, "enrDb"), 25.0, 1e-9);
            EXPECT_NEAR(jsonNumber(line, "tsOffK"), 293.0, 1e-9);
            EXPECT_PRED2(has, line, "\"frequencyMHz\":null");
        } else {
            updates.push_back(line);
        }
    }
    EXPECT_EQ(calibrations, 1);
    ASSERT_EQ(updates.size(), 9u) << r.out;
    for (const std::string &u : updates)
        EXPECT_PRED2(has, u, "\"smoothing\":8,\"corrected\":true");
    const std::string &last = updates.back();
    EXPECT_EQ(last.rfind("{\"group\":9,", 0), 0u) << last;
    EXPECT_EQ(jsonNumber(last, "groupsUsed"), 8.0);
    const auto at = last.find("\"nfDb\":");
    ASSERT_NE(at, std::string::npos);
    const double nf = jsonNumber(last, "value", at), hw = jsonNumber(last, "halfWidth", at);
    EXPECT_GT(hw, 0.0);
    EXPECT_NEAR(nf, 1.0, std::max(2 * hw, 0.05));
    const auto g = last.find("\"gainDb\":");
    EXPECT_NEAR(jsonNumber(last, "value", g), 20.0, std::max(2 * jsonNumber(last, "halfWidth", g),
                                                             0.05));
    EXPECT_GT(jsonNumber(last, "discardedBlocks"), 0.0);
    EXPECT_EQ(jsonNumber(last, "lostFrames"), 0.0);

    // --recalibrate 3: a calibration after every third update, taken from the group boundary
    // the delivery thread meets next (at speed 0 it may be a group ahead); each restarts the
    // average: "C" a calibration, then groups used 1, 2, 3 (and 4).
    const Result again =
        run("live --bench-speed 0 --calibrate 2 --recalibrate 3 --smoothing 8 --count 12 --json");
    EXPECT_EQ(again.status, 0) << again.err;
    std::string seen;
    std::istringstream more(again.out);
    while (std::getline(more, line))
        seen += line.rfind("{\"calibration\":", 0) == 0
                    ? 'C'
                    : line[line.find("\"groupsUsed\":") + 13];
    EXPECT_TRUE(std::regex_match(seen, std::regex("C(1234?C)+1[1-4]*"))) << seen;
}

// Ctrl-C (and the other stop signals) end live with the source OFF and the signal's status.
TEST_F(Cli, LiveStopsOnASignalWithTheSourceOff)
{
    const std::pair<int, int> signals[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto &[signal, status] : signals) {
        file("out"); // the run before's lines are not this one's
        const pid_t pid = start("live --bench-speed 0 --time 100 --smoothing 4");
        EXPECT_EQ(finish(pid, [&] { return count(read("out"), "\n") >= 6; }, nullptr, signal),
                  status);
        EXPECT_EQ(read("err"), "quillon-cli: live stopped; the bench's noise source is OFF\n");
        EXPECT_EQ(read("out").rfind("group 1  system NF ", 0), 0u);
    }
}

TEST_F(Cli, LiveRefusesBadOptionsAndAPortThatCannotSwitch)
{
    const std::pair<const char *, const char *> cases[] = {
        {"--smoothing 0", "--smoothing must be 1 to 32 (got 0)"},
        {"--smoothing 33", "--smoothing must be 1 to 32 (got 33)"},
        {"--smoothing x", "--smoothing needs a whole number, not 'x'"},
        {"--count 0", "--count must be 1 to 1000000000 (got 0)"},
        {"--calibrate 0", "--calibrate must be 1 to 1024 (got 0)"},
        {"--bench-speed -1", "--bench-speed must lie between 0 and 10000 (got -1)"},
        {"extra", "live takes no argument 'extra'"},
        {"--recalibrate 5", "--recalibrate needs --calibrate (the groups each calibration takes)"},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(std::string("live --bench-speed 0 ") + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, "quillon-cli: " + std::string(message) + "\n") << args;
        EXPECT_EQ(r.out, "") << args;
    }
    for (const char *port : {"None", "/dev/parport0"}) {
        const Result r = run(std::string("live --count 1 --port ") + port);
        EXPECT_EQ(r.status, 1) << port;
        EXPECT_EQ(r.err, "quillon-cli: Live mode switches the noise source itself: choose a "
                         "switch port on the Setup page first.\n")
            << port;
    }
}

// The sky measurements on the bench's sky mode: G/T from the Sun within its interval of the
// bench's truth, everything that makes it comparable recorded in the JSON and the SKY line.
TEST_F(Cli, SkySunOnTheBenchRecordsItsConditionsAndLogsOneSkyLine)
{
    const Result r = run("sky sun --flux-table \"100:50, 200:80\" --flux-uncertainty 10 "
                         "--beamwidth 10 --average 8 --locator JO01 "
                         "--utc 2026-06-21T12:00:00Z --log sky.log --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string &j = r.out;
    EXPECT_PRED2(has, j, "\"target\":\"Sun\",\"utc\":\"2026-06-21T12:00:00Z\"");
    EXPECT_EQ(jsonNumber(j, "frequencyMHz"), 144.0); // the bench's
    // 50 (80/50)^(log(144/100)/log(200/100)), between the published 100 and 200 MHz.
    EXPECT_NEAR(jsonNumber(j, "fluxSfu"), 50.0 * std::pow(1.6, std::log2(1.44)), 1e-9);
    EXPECT_EQ(jsonNumber(j, "fluxSourceLowMHz"), 100.0);
    EXPECT_EQ(jsonNumber(j, "fluxSourceHighMHz"), 200.0);
    // Midsummer noon in JO01 (51.5 N, 1 E): the Sun stands 90 - 51.5 + 23.44 = 61.9 deg high,
    // a little east of south.
    EXPECT_NEAR(jsonNumber(j, "elevationDeg"), 61.9, 0.3);
    EXPECT_NEAR(jsonNumber(j, "azimuthDeg"), 180.0, 5.0);
    EXPECT_NEAR(jsonNumber(j, "k"), 1.0 + std::log(2.0) * std::pow(0.0525, 2) / 2.0, 1e-4);
    const double gt = jsonNumber(j, "value", j.find("\"gOverTDbK\""));
    const double hw = jsonNumber(j, "halfWidth95", j.find("\"gOverTDbK\""));
    const double truth = jsonNumber(j, "gOverTDbK", j.find("\"benchTruth\""));
    EXPECT_NEAR(gt, truth, 2.0 * hw); // the interval (coverage in scripts/sky-validate.py)
    // The flux's 10% at 95%: 5% standard, 0.212 dB, under the total.
    EXPECT_GT(jsonNumber(j, "standardUncertainty", j.find("\"gOverTDbK\"")), 0.212);
    EXPECT_EQ(jsonNumber(j, "blocks", j.find("\"coldSky\"")), 8.0);

    const std::string log = read("sky.log");
    ASSERT_EQ(count(log, "\n"), 1u) << log;
    EXPECT_EQ(log.rfind("SKY,", 0), 0u);
    EXPECT_EQ(count(log, ","), 24u) << log; // SKY, the time and the 23 fields
    EXPECT_PRED2(has, log, ",Sun,2026-06-21T12:00:00Z,144.000000,");
    EXPECT_PRED2(has, log, ",100-200,10.0,");
}

TEST_F(Cli, SkyGroundAndMoonOnTheBench)
{
    // Ground: the bench's own temperatures (SkyColdK 20, + SkyStepK 400) by default, so Tsys
    // is the cold sky plus the receiver's 1539.8 K.
    Result r = run("sky ground --average 16 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto tsys = r.out.find("\"tsysK\"");
    EXPECT_NEAR(jsonNumber(r.out, "value", tsys), jsonNumber(r.out, "tsysK", r.out.find("benchTruth")),
                2.0 * jsonNumber(r.out, "halfWidth95", tsys));
    EXPECT_NEAR(jsonNumber(r.out, "tsysK", r.out.find("benchTruth")), 1559.776, 0.01);
    // Moon: the Y expected of a 225 K disk over the bench's 20 K sky in a 2 deg beam with Tsys
    // 100 K.
    r = run("sky moon --beamwidth 2 --tsys 100 --utc 2026-06-21T12:00:00Z --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const double d = jsonNumber(r.out, "sourceDiameterDeg");
    EXPECT_NEAR(d, 0.52, 0.04);
    const double rise = 205.0 * (1.0 - std::exp(-std::log(2.0) * d * d / 4.0));
    EXPECT_NEAR(jsonNumber(r.out, "expectedRiseK"), rise, 1e-9);
    EXPECT_NEAR(jsonNumber(r.out, "expectedYDb"), 10.0 * std::log10(1.0 + rise / 100.0), 1e-9);
}

// --precision bounds Y's 95% half-width (the ground's Y has no stated part), reached closely.
TEST_F(Cli, SkyToAPrecisionOfY)
{
    const Result r = run("sky ground --precision 0.1 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const double halfWidth = jsonNumber(r.out, "halfWidth95", r.out.find("\"yDb\""));
    EXPECT_LE(halfWidth, 0.1);
    EXPECT_GT(halfWidth, 0.05);
    EXPECT_GT(jsonNumber(r.out, "blocks", r.out.find("\"onSource\"")), 2.0);
}

// The sky report: strict HTML5 and self-contained, every number the text output printed in
// it with the station and the precision, the same G/T in the JSON; a report that cannot be
// written is refused before any reading.
TEST_F(Cli, SkyReportHoldsEveryPrintedNumber)
{
    const Result r = run("sky sun --flux 65 --flux-uncertainty 10 --beamwidth 10 --gain 20 "
                         "--locator IO91wm --utc 2026-06-21T12:00:00Z --precision 0.2 "
                         "--report s.html");
    ASSERT_EQ(r.status, 0) << r.err;
    file("printed.txt", r.out);
    const int checked = std::system(
        (std::string(QUILLON_CHECK_REPORT) + " " + (dir / "s.html").string() + " " +
         (dir / "printed.txt").string() +
         " 'The Sun' IO91wm 'Quillon virtual bench' 'Y within 0.2 dB (95%, statistical)' >" +
         (dir / "check.txt").string() + " 2>&1")
            .c_str());
    EXPECT_EQ(WEXITSTATUS(checked), 0) << read("check.txt");
    const std::string json = read("s.json");
    EXPECT_PRED2(has, json, "\"report\": \"quillon-sky-report-1\"");
    EXPECT_PRED2(has, json, "\"target\": \"Sun\"");
    const std::string gt = r.out.substr(r.out.find("G/T: ") + 5, 6);
    EXPECT_NEAR(jsonNumber(json, "value", json.find("\"gOverTDbK\"")), std::stod(gt), 0.006);

    Result refused = run("sky ground --report nowhere/s.html");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "quillon-cli: The report \"nowhere/s.html\" could not be written: its "
                           "folder nowhere: No such file or directory.\n");
    EXPECT_EQ(refused.out, "");
}

// Every message of the sky command, one line on stderr, no result printed.
TEST_F(Cli, SkyBadInputGivesOneMessageAndNoNumber)
{
    const std::pair<const char *, const char *> cases[] = {
        {"sky sun --flux 0 --beamwidth 3", "The solar flux must be a number above 0 sfu."},
        {"sky sun --flux -2 --beamwidth 3", "The solar flux must be a number above 0 sfu."},
        {"sky sun --flux 65 --beamwidth 0", "The beamwidth must be a number above 0 degrees."},
        {"sky moon --beamwidth -1", "The beamwidth must be a number above 0 degrees."},
        {"sky sun --flux 65 --beamwidth 3 --locator JZ01",
         "The locator is not a Maidenhead locator (two letters A-R, two digits, two letters A-X, "
         "two digits: JO01, IO91wm, IO91wm48)."},
        {"sky sun --beamwidth 3", "sky sun needs the solar flux: --flux SFU or --flux-table "
                                  "\"MHZ:SFU, ...\""},
        {"sky sun --flux-table 100:20,200=30 --beamwidth 3",
         "'200=30' is not a frequency in MHz and a flux in sfu (MHz:sfu)."},
        {"sky sun --flux-table 200:20,300:30 --beamwidth 3",
         "The frequency lies outside the frequencies of the published solar flux."},
        {"sky ground --ground-temperature 5", "The ground's temperature must be a number above the "
                                              "cold sky's."},
        {"sky sun --flux 65 --beamwidth 3 --utc yesterday",
         "--utc must be a UTC time as 2026-12-07T04:31:06Z, or seconds since 1970"},
        {"sky venus", "sky needs one of sun, moon or ground, not 'venus'"},
        {"sky", "sky needs one of sun, moon or ground"},
        {"sky sun --flux 65 --k 3 --lat 52", "--lat and --lon go together"},
        {"sky sun --flux 65 --k 3 --lat 95 --lon 0",
         "The latitude must be a number from -90 to 90 degrees."},
    };
    for (const auto &[args, message] : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, std::string("quillon-cli: ") + message + "\n") << args;
        EXPECT_EQ(r.out, "") << args;
    }
    // Y <= 1: a step of 0.1 K under the noise of one block (seed 1 reads the cold sky louder).
    file(settings, "[VirtualBench]\nSeed=1\nSkyStepK=0.1\n");
    const Result r = run("sky sun --flux 65 --beamwidth 10 --average 1 --dummy 0 --log sky.log");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quillon-cli: Y must be above 1: the reading on the source must be louder "
                     "than on cold sky.\n");
    EXPECT_FALSE(has(r.out, "G/T")) << r.out;
    // The log keeps the readings and says nothing of results.
    EXPECT_PRED2(has, read("sky.log"), ",,,,,,\n");
}

// A stop signal during the readings ends the command with its status and the one line:
// no result, no SKY line (Ctrl-C's part is the measure command's test).
TEST_F(Cli, StopSignalsEndASkyMeasurementWithoutAResult)
{
    for (const auto &[signal, status] : {std::pair(SIGTERM, 143), std::pair(SIGHUP, 129)}) {
        const auto begun = std::chrono::steady_clock::now();
        // 96 kHz stereo: the two readings take about a second of the bench at speed 0, so
        // that the signal at 300 ms finds them running.
        const pid_t pid = start("sky ground --time 10000 --average 32 --format 19 --log sky.log");
        EXPECT_EQ(finish(pid,
                         [&] {
                             return std::chrono::steady_clock::now() - begun >
                                    std::chrono::milliseconds(300);
                         },
                         nullptr, signal),
                  status);
        EXPECT_EQ(read("err"), "quillon-cli: measurement cancelled\n");
        EXPECT_EQ(read("out"), "");
        EXPECT_EQ(read("sky.log"), "");
    }
}

// Limits on the bench's result (seeded: every run reads the same): the interval's ends and
// its middle on the limit, each verdict's exit status, in the text and in the JSON.
TEST_F(Cli, MeasureVerdictsAtTheLimitsAndTheirExitStatus)
{
    const std::string base = "measure --average 8 --dummy 0 --decimals 3";
    const Result first = run(base + " --json");
    ASSERT_EQ(first.status, 0) << first.err;
    const auto at = first.out.find("\"noiseFigure\":{");
    const double nf = jsonNumber(first.out, "noiseFigure", first.out.find("\"results\""));
    const double hw = jsonNumber(first.out, "totalHalfWidth95", at);
    ASSERT_TRUE(std::isfinite(nf) && hw > 0.0) << first.out;
    auto limit = [](double v) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", v);
        return std::string(text);
    };
    const struct
    {
        double nfMax;
        int status;
        const char *verdict;
    } cases[] = {
        {nf + hw, 0, "PASS"},            // the interval ends on the limit: it meets it
        {nf, 4, "INDETERMINATE"},        // the result exactly on the limit
        {nf - hw, 4, "INDETERMINATE"},   // the interval starts on it
        {nf - hw - 0.001, 3, "FAIL"},    // the whole interval above
    };
    for (const auto &c : cases) {
        const Result r = run(base + " --nf-max " + limit(c.nfMax));
        EXPECT_EQ(r.status, c.status) << c.verdict << r.err;
        EXPECT_PRED2(has, r.out,
                     std::string("Verdict: ") + c.verdict + " (noise figure " + c.verdict + ")\n");
        const Result j = run(base + " --json --nf-max " + limit(c.nfMax));
        EXPECT_EQ(j.status, c.status);
        EXPECT_PRED2(has, j.out, std::string("\"verdict\":{\"overall\":\"") + c.verdict + "\"");
    }
    // The gain's limits with the noise figure's: the worst decides; three runs summed up.
    const Result gain = run(base + " --nf-max 5 --gain-min 25 --repeat 3");
    EXPECT_EQ(gain.status, 3);
    EXPECT_PRED2(has, gain.out, "Verdict: FAIL (noise figure PASS, gain FAIL)\n");
    EXPECT_PRED2(has, gain.out, "Verdicts: 3 FAIL\n");
    // No limits: no verdict line, exit 0 as before.
    EXPECT_FALSE(has(run(base).out, "Verdict"));
    // System mode has no gain: a gain limit cannot be met by a noise figure alone.
    const Result system = run(base + " --system --nf-max 20 --gain-min 10");
    EXPECT_EQ(system.status, 4);
    EXPECT_PRED2(has, system.out, "Verdict: INDETERMINATE (noise figure PASS)\n");
}

// A limit table read at the frequency measured (--freq with an ENR file), and one that does
// not reach it: a message, no verdict, and the status of a result not known to pass.
TEST_F(Cli, LimitTablesAgainstFrequency)
{
    file("enr.txt", "50,25\n500,25\n");
    file("limits.txt", "# MHz, NF max, gain min, gain max\n100,1.5,18,22\n200,3,-,-\n");
    const std::string base = "measure --average 8 --dummy 0 --enr-file enr.txt ";
    Result r = run(base + "--freq 150 --limit-file limits.txt --json");
    EXPECT_EQ(r.status, 0) << r.err;
    // At 150 MHz: NF max interpolated to 2.25 dB; the gain limits stop at 100 MHz.
    EXPECT_PRED2(has, r.out, "\"nfMaxDb\":2.25,\"gainMinDb\":null,\"gainMaxDb\":null");
    EXPECT_PRED2(has, r.out, "\"overall\":\"PASS\"");
    r = run(base + "--freq 300 --limit-file limits.txt");
    EXPECT_EQ(r.status, 4);
    EXPECT_PRED2(has, r.out,
                 "Verdict: none. The limit table does not cover 300.000 MHz (it runs from "
                 "100.000 MHz to 200.000 MHz): no verdict.\n");
    // Without a frequency the table has nothing to go by.
    r = run("measure --average 8 --dummy 0 --limit-file limits.txt");
    EXPECT_EQ(r.status, 4);
    EXPECT_PRED2(has, r.out, "this result has no frequency: no verdict.\n");
}

TEST_F(Cli, LimitAndReportOptionsRefuseBadInputBeforeMeasuring)
{
    file("bad.txt", "100,1\n200,x\n");
    std::filesystem::create_directories(dir / "folder");
    const struct
    {
        const char *args;
        std::string message;
    } cases[] = {
        {"--nf-max abc", "quillon-cli: --nf-max needs a number, not 'abc'\n"},
        {"--gain-min 5 --gain-max 1", "quillon-cli: --gain-min must not be above --gain-max\n"},
        {"--limit-file missing.txt",
         "quillon-cli: The limit file \"missing.txt\" could not be read: No such file or "
         "directory\n"},
        {"--limit-file bad.txt",
         "quillon-cli: The limit file \"bad.txt\" was refused: line 2: the noise figure maximum "
         "\"x\" is not a number\n"},
        {"--limit-file bad.txt --nf-max 2",
         "quillon-cli: give --limit-file or single limits (--nf-max, --gain-min, --gain-max), "
         "not both\n"},
        {"--report nowhere/r.html",
         "quillon-cli: The report \"nowhere/r.html\" could not be written: its folder nowhere: "
         "No such file or directory.\n"},
        {"--report folder", "quillon-cli: The report \"folder\" could not be written: it is a "
                            "folder.\n"},
        {"--report -", "quillon-cli: --report needs a file name (FILE.html)\n"},
    };
    for (const auto &c : cases) {
        const Result r = run(std::string("measure --average 1 ") + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "") << c.args; // refused before the first reading
    }
    // calibrate has no limits.
    EXPECT_EQ(run("calibrate --nf-max 2").status, 2);
}

// The report of three runs: strict HTML5, self-contained, every number the text output
// shows in it, the DUT record as typed (markup in it is text), and its JSON recomputing
// every number; a changed number is found.
TEST_F(Cli, ReportIsStrictHtmlWithEveryShownNumberAndRecomputes)
{
    const std::string name = "LNA <b>2</b> & \"Co\"";
    const Result r = run("measure --average 8 --dummy 0 --decimals 3 --repeat 3 --nf-max 1.2 "
                         "--gain-min 19 --report r.html --dut-serial SN-0042 "
                         "--dut-notes 'bias 12 V' --dut-name '" + name + "'");
    ASSERT_EQ(r.err, "");
    file("printed.txt", r.out);
    const int checked = std::system(
        (std::string(QUILLON_CHECK_REPORT) + " " + (dir / "r.html").string() + " " +
         (dir / "printed.txt").string() + " '" + name + "' SN-0042 'bias 12 V' 'Run 3' " +
         "'Quillon virtual bench' 'TSoff (K)' '293.00' 'T0 (K)' '290.00' 'Corrections' >" +
         (dir / "check.txt").string() + " 2>&1")
            .c_str());
    EXPECT_EQ(WEXITSTATUS(checked), 0) << read("check.txt");
    EXPECT_FALSE(has(read("r.html"), "<b>2</b>")); // escaped, not markup
    const std::string json = read("r.json");
    EXPECT_PRED2(has, json, "\"name\": \"LNA <b>2</b> & \\\"Co\\\"\"");
    EXPECT_EQ(count(json, "\"power\":"), 12u);

    Result again = run("recompute r.json");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out, "39 numbers and verdicts compared, 0 differ\n");
    // One number changed by 0.002 dB: named, exit 1. Within --tolerance it agrees.
    std::string changed = json;
    const auto at = changed.find("\"noiseFigureDb\": ") + 17;
    const double nf = std::strtod(changed.c_str() + at, nullptr);
    changed.replace(at, changed.find_first_of(",\n", at) - at, std::to_string(nf + 0.002));
    file("changed.json", changed);
    again = run("recompute changed.json");
    EXPECT_EQ(again.status, 1);
    EXPECT_PRED2(has, again.out, "differs: Run 1: noise figure (dB) ");
    EXPECT_PRED2(has, again.out, "39 numbers and verdicts compared, 1 differ\n");
    EXPECT_EQ(run("recompute changed.json --tolerance 0.01").status, 0);
    // A file that is not a report.
    file("other.json", "{\"a\": 1}");
    again = run("recompute other.json");
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(again.err, "quillon-cli: The report \"other.json\" could not be used: not a "
                         "Quillon report: \"results\", \"t0\" or \"tsOff\" is missing.\n");
    EXPECT_EQ(run("recompute missing.json").err,
              "quillon-cli: The report \"missing.json\" could not be read.\n");
}

// A corrected measurement's report: the "corrected for" line and the losses' numbers in the
// HTML, the numbers the text output printed (the corrected ones), and recompute agreeing
// with every one of them from the JSON's losses; a bench drifting 20 dB per minute in the
// drift-cancelling order: its drift term kept, so the totals recompute too.
TEST_F(Cli, ACorrectedOrDriftingMeasurementsReportRecomputes)
{
    file(settings, kLossBench);
    const Result r = run("measure --average 8 --dummy 0 --decimals 3 --tsoff 303 "
                         "--loss-before 0.4@300 --loss-after 1.0 --report c.html");
    ASSERT_EQ(r.status, 0) << r.err;
    file("printed.txt", r.out);
    const int checked = std::system(
        (std::string(QUILLON_CHECK_REPORT) + " " + (dir / "c.html").string() + " " +
         (dir / "printed.txt").string() +
         " 'corrected for: input loss 0.40 dB at 300 K, output loss 1.00 dB at 290 K' "
         "'0.400 dB at 300.0 K' '1.000 dB at 290.0 K' >" + (dir / "check.txt").string() +
         " 2>&1")
            .c_str());
    EXPECT_EQ(WEXITSTATUS(checked), 0) << read("check.txt");
    Result again = run("recompute c.json");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out, "13 numbers and verdicts compared, 0 differ\n");

    file(settings, "[VirtualBench]\nSeed=4\nGainDriftDbPerMinute=20\n");
    ASSERT_EQ(run("measure --time 100 --average 16 --drift-order --report d.html").status, 0);
    const std::string json = read("d.json");
    EXPECT_GT(jsonNumber(json, "rateStandard"), 0.0) << json;
    again = run("recompute d.json");
    EXPECT_EQ(again.out, "13 numbers and verdicts compared, 0 differ\n") << again.err;
}

// A full disk under the report of a measurement or a sweep: the results are printed, one
// message, exit 1, and neither file nor a temporary is left there.
TEST_F(Cli, AReportThatCannotBeWrittenLeavesNothingBehind)
{
    quillon::test::SmallDisk disk(2);
    if (!disk.ok())
        GTEST_SKIP() << disk.whyNot();
    ASSERT_TRUE(disk.put("filler", 2 * quillon::test::SmallDisk::kPage)); // the disk full
    const Result r = run("measure --average 4 --dummy 0 --report " + disk.file("r.html"));
    EXPECT_EQ(r.status, 1);
    EXPECT_PRED2(has, r.out, "Noise Figure (dB):");
    EXPECT_PRED2(has, r.err, "could not be written: No space left on device.\n");
    EXPECT_EQ(count(r.err, "\n"), 1u);
    std::vector<std::string> left;
    for (const auto &e : std::filesystem::directory_iterator(disk.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"filler"});

    // A sweep's likewise: every point printed, then the one message.
    const Result sweep = run("sweep --start 100 --stop 120 --step 10 --average 4 --dummy 0 "
                             "--report " + disk.file("s.html"));
    EXPECT_EQ(sweep.status, 1);
    EXPECT_EQ(count(sweep.out, " MHz  ENR "), 3u);
    EXPECT_EQ(sweep.err, "quillon-cli: The report \"" + disk.file("s.html") +
                             "\" could not be written: No space left on device.\n");
    left.clear();
    for (const auto &e : std::filesystem::directory_iterator(disk.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"filler"});
}

// A sweep's verdicts: each point's at the end of its line and in the JSON, the summary, the
// exit status; a limit table that stops short of the last point.
TEST_F(Cli, SweepVerdictsPerPointAndTheirSummary)
{
    const std::string base = "sweep --start 100 --stop 160 --step 10 --average 4 --dummy 0 ";
    Result r = run(base + "--nf-max 5 --gain-max 30");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, " dB  Gain "), 7u);
    EXPECT_EQ(count(r.out, " K  PASS\n"), 7u);
    EXPECT_PRED2(has, r.out, "\nVerdicts: 7 PASS\n");
    r = run(base + "--gain-min 25");
    EXPECT_EQ(r.status, 3);
    EXPECT_PRED2(has, r.out, "\nVerdicts: 7 FAIL\n");
    file("lim.txt", "100,5\n150,5\n");
    r = run(base + "--limit-file lim.txt --json --dut-name 'unit 3'");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(count(r.out, "\"overall\":\"PASS\""), 6u);
    EXPECT_PRED2(has, r.out, "\"overall\":\"\",\"noiseFigure\":\"\",\"gain\":\"\"");
    EXPECT_PRED2(has, r.out, "\"message\":\"The limit table does not cover 160.000 MHz (it runs "
                             "from 100.000 MHz to 150.000 MHz): no verdict.\"");
    EXPECT_PRED2(has, r.out, "\"verdicts\":\"6 PASS, 1 no verdict\"");
    EXPECT_PRED2(has, r.out, "\"dut\":{\"name\":\"unit 3\"");
}

// A sweep's report: strict HTML5 holding every number the text output printed (each point's
// NF, gain, Te and verdict), the receiver control and the corrections, one result per point;
// its JSON recomputes every point exactly, the converter's ENRs and the losses included. A
// folder that cannot be written: the sweep refused before its first point.
TEST_F(Cli, SweepReportRecomputesEveryPoint)
{
    const std::string base = "sweep --start 100 --stop 160 --step 20 --average 4 --dummy 0 "
                             "--nf-max 5 --loss-before 0.3@295 --report s.html --dut-name LNA ";
    const Result r = run(base);
    ASSERT_EQ(r.status, 0) << r.err;
    // Every number of the lines but the frequency (printed to 6 places, the report's 3):
    // each point's ENR, NF, gain and Te with their standard uncertainties, which the report
    // gives beside its 95% half-widths.
    std::string printed;
    const std::regex shown("ENR ([-0-9.]+) dB  NF ([-0-9.]+) ± ([0-9.]+) dB  Gain ([-0-9.]+) ± "
                           "([0-9.]+) dB  Te ([-0-9.]+) ± ([0-9.]+) K");
    for (std::sregex_iterator m(r.out.begin(), r.out.end(), shown), end; m != end; ++m) {
        for (int i = 1; i <= 7; ++i)
            printed += (*m)[i].str() + " ";
        printed += "\n";
    }
    EXPECT_EQ(count(printed, "\n"), 4u) << r.out;
    file("printed.txt", printed);
    const int checked = std::system(
        (std::string(QUILLON_CHECK_REPORT) + " " + (dir / "s.html").string() + " " +
         (dir / "printed.txt").string() + " 'Virtual bench' '160.000 MHz' 'Sweep' " +
         "'corrected for: input loss 0.30 dB at 295 K' 'Summary: 4 PASS' >" +
         (dir / "check.txt").string() + " 2>&1")
            .c_str());
    EXPECT_EQ(WEXITSTATUS(checked), 0) << read("check.txt") << r.out;
    const std::string json = read("s.json");
    EXPECT_EQ(count(json, "\"label\": \"1"), 4u) << json; // "100.000 MHz" .. "160.000 MHz"
    Result again = run("recompute s.json");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out, "56 numbers and verdicts compared, 0 differ\n");

    // A converter: its ENRs at the signal and image frequencies are in the JSON and used.
    ASSERT_EQ(run(base + "--lo 1152 --sideband double").status, 0);
    again = run("recompute s.json");
    EXPECT_EQ(again.out, "56 numbers and verdicts compared, 0 differ\n") << again.err;
    EXPECT_GT(jsonNumber(read("s.json"), "enrSignalDb"), 0.0);

    const Result refused = run(base + "--report none/s.html");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
}

} // namespace

