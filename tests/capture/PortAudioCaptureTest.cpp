// Real capture through PortAudio from ALSA's file plugin: each pcm below turns a raw
// file of known samples into a capture device, bit-exact from frame 0 and faster than
// real time. ALSA reads its configuration once per process, so the files and the
// configuration are written and ALSA_CONFIG_PATH is set before any test starts
// PortAudio.

#include "FakeBackend.h"

#include "app/Settings.h"
#include "capture/DeviceList.h"
#include "capture/PortAudioBackend.h"
#include "capture/WaveCapture.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

// ALSA loads its pcm plugins with dlopen and unloads them again; their allocations can
// then only be traced to libasound (which the leak suppressions name) by the slow
// unwinder. Read by AddressSanitizer builds only.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr char kMonoDevice[] = "quillon_mono16";
constexpr char kStereoDevice[] = "quillon_stereo24";
constexpr int kMonoFrames = 200'000;
constexpr int kStereoFrames = 100'000;

// Sample n of the mono file: an odd multiplier makes every value differ from its
// neighbours, so a block shifted by a byte or a frame cannot match.
std::uint16_t monoSample(std::uint32_t n)
{
    return static_cast<std::uint16_t>(n * 40503u);
}
// Sample n (interleaved) of the stereo 24-bit file.
std::uint32_t stereoSample(std::uint32_t n)
{
    return (n * 0x9E3779B1u) & 0xFFFFFFu;
}

std::vector<std::uint8_t> monoBytes()
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t n = 0; n < kMonoFrames; ++n) {
        const std::uint16_t v = monoSample(n);
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return out;
}

std::vector<std::uint8_t> stereoBytes()
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t n = 0; n < 2 * kStereoFrames; ++n) {
        const std::uint32_t v = stereoSample(n); // packed little-endian 24-bit
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v >> 16));
    }
    return out;
}

class AlsaFileDevices : public ::testing::Environment
{
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillon-alsa-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        write(m_dir / "mono16.raw", monoBytes());
        write(m_dir / "stereo24.raw", stereoBytes());
        std::ofstream conf(m_dir / "test.conf");
        // The plugin needs an output file too; pcm.default must exist for PortAudio's
        // device scan.
        for (const auto &[name, file] :
             {std::pair{"quillon_mono16", "mono16.raw"},
              std::pair{"quillon_stereo24", "stereo24.raw"}, std::pair{"!default", "mono16.raw"}}) {
            conf << "pcm." << name << " {\n  type file\n  slave.pcm \"null\"\n"
                 << "  file \"/dev/null\"\n  infile \"" << (m_dir / file).string() << "\"\n"
                 << "  format \"raw\"\n  hint.description \"Quillon test " << file << "\"\n}\n";
        }
        conf.close();
        const std::string path = "/usr/share/alsa/alsa.conf:" + (m_dir / "test.conf").string();
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

private:
    static void write(const fs::path &path, const std::vector<std::uint8_t> &bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    fs::path m_dir;
};

[[maybe_unused]] ::testing::Environment *const g_devices =
    ::testing::AddGlobalTestEnvironment(new AlsaFileDevices);

// Collects the first `wanted` blocks of a capture, re-queueing every block.
struct BlockCollector
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<std::uint8_t>> blocks;
    std::size_t wanted = 2;

    CaptureCallback callback()
    {
        return [this](WaveCapture &capture, CaptureHeader &h) {
            capture.nextBlock();
            {
                std::lock_guard lock(mutex);
                if (blocks.size() < wanted)
                    blocks.emplace_back(h.data, h.data + h.bytesRecorded);
            }
            changed.notify_all();
            capture.requeue(h);
        };
    }
    // The limit only keeps a broken build from hanging.
    bool waitForAll()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return blocks.size() >= wanted; });
    }
};

class PortAudioCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        devices.addBackend(portAudio);
        devices.addBackend(bench); // listed after the real devices, as in the program
    }
    // Device number of `name` in the list; fails the test when PortAudio lacks it.
    int deviceNumber(const std::string &name)
    {
        const int n = devices.findDevice(name);
        EXPECT_GE(n, 0) << name << " not listed";
        return n;
    }

    PortAudioBackend portAudio;
    test::FakeBackend bench;
    DeviceList devices;
    Settings settings;
};

TEST_F(PortAudioCaptureTest, ListsTheFilePcmsWithTheir16BitFormats)
{
    ASSERT_TRUE(portAudio.initialised());
    const int mono = deviceNumber(kMonoDevice);
    const int stereo = deviceNumber(kStereoDevice);
    ASSERT_GE(mono, 0);
    ASSERT_GE(stereo, 0);
    EXPECT_EQ(devices.findDevice("Fake A"), portAudio.deviceCount());
    // The null slave takes every rate and width: all ten 16-bit rows.
    std::uint32_t all16 = 0;
    for (const WaveFormatRow &row : WaveFormatTable)
        if (row.bitsPerSample == 16)
            all16 |= row.capabilityFlag;
    DeviceCaps caps;
    ASSERT_TRUE(devices.deviceCaps(mono, caps));
    EXPECT_EQ(caps.productName, kMonoDevice);
    EXPECT_EQ(caps.formats, all16);
}

TEST_F(PortAudioCaptureTest, OpenRefusesBadDevicesAndFormats)
{
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    CaptureFormat eightBit;
    eightBit.bitsPerSample = 8;
    eightBit.blockAlign = 1;
    eightBit.avgBytesPerSec = eightBit.samplesPerSec;
    const int mono = portAudio.deviceCount() > 0 ? 0 : -1;
    EXPECT_EQ(portAudio.open(mono, eightBit, queue, stream), kCaptureBadFormat);
    EXPECT_EQ(portAudio.open(portAudio.deviceCount(), CaptureFormat{}, queue, stream),
              kCaptureBadDevice);
    EXPECT_EQ(portAudio.open(-1, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(PortAudioCaptureTest, Mono16BitBlocksAreBitExactAndWholeFrames)
{
    settings.waveInDevice = deviceNumber(kMonoDevice);
    applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
    settings.captureTimeMs = 100;
    WaveCapture engine(settings, devices);
    engine.DeriveFormat();
    ASSERT_TRUE(engine.ProbeDevice());
    BlockCollector collector;
    ASSERT_EQ(engine.StartCapture(collector.callback()), kCaptureOk);
    ASSERT_TRUE(collector.waitForAll());
    EXPECT_TRUE(engine.StopCapture());

    // 2205 bytes rounded down to 1102 frames; block 2 goes on at frame 1102.
    const std::vector<std::uint8_t> file = monoBytes();
    ASSERT_EQ(collector.blocks[0].size(), 2204u);
    ASSERT_EQ(collector.blocks[1].size(), 2204u);
    EXPECT_TRUE(std::equal(collector.blocks[0].begin(), collector.blocks[0].end(), file.begin()));
    EXPECT_TRUE(
        std::equal(collector.blocks[1].begin(), collector.blocks[1].end(), file.begin() + 2204));
}

TEST_F(PortAudioCaptureTest, Stereo24BitBlocksAreBitExactAndWholeFrames)
{
    settings.waveInDevice = deviceNumber(kStereoDevice);
    applyFormatRow(settings, 15); // 48 kHz stereo 24-bit
    WaveCapture engine(settings, devices);
    engine.DeriveFormat();
    ASSERT_TRUE(engine.ProbeDevice());
    BlockCollector collector;
    collector.wanted = 3;
    // 1000 frames of 6 bytes and 5 bytes more: the block is 6000 bytes.
    ASSERT_EQ(engine.StartCaptureBytes(collector.callback(), 6005), kCaptureOk);
    ASSERT_TRUE(collector.waitForAll());
    EXPECT_TRUE(engine.StopCapture());

    const std::vector<std::uint8_t> file = stereoBytes();
    ASSERT_EQ(collector.blocks[0].size(), 6000u);
    ASSERT_EQ(collector.blocks[1].size(), 6000u);
    EXPECT_TRUE(std::equal(collector.blocks[0].begin(), collector.blocks[0].end(), file.begin()));
    EXPECT_TRUE(
        std::equal(collector.blocks[1].begin(), collector.blocks[1].end(), file.begin() + 6000));
    // Every later block starts on a frame: its first left sample is one of the file's
    // left samples (the file's last period repeats past its end).
    const std::vector<std::uint8_t> &later = collector.blocks[2];
    ASSERT_EQ(later.size(), 6000u);
    bool found = false;
    for (std::size_t at = 0; at + 6 <= file.size() && !found; at += 6)
        found = std::equal(later.begin(), later.begin() + 6, file.begin() + at);
    EXPECT_TRUE(found);
}

TEST_F(PortAudioCaptureTest, HeldBlocksLoseAudioAndCountIt)
{
    settings.waveInDevice = deviceNumber(kMonoDevice);
    applyFormatRow(settings, 0);
    settings.captureTimeMs = 100;
    WaveCapture engine(settings, devices);
    engine.DeriveFormat();
    std::atomic<int> blocks{0};
    std::atomic<std::uint64_t> lostSeen{0};
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &capture, CaptureHeader &h) {
        // The first block is held until the device has had to drop audio.
        if (capture.nextBlock() == 0) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (capture.running() && capture.lostFrames() == 0 &&
                   std::chrono::steady_clock::now() < limit)
                std::this_thread::yield();
            lostSeen = capture.lostFrames();
        }
        ++blocks;
        capture.requeue(h);
    }),
              kCaptureOk);
    while (blocks.load() < 4)
        std::this_thread::yield();
    EXPECT_TRUE(engine.StopCapture());
    EXPECT_GT(lostSeen.load(), 0u);
    EXPECT_GE(engine.lostEvents(), 1u);
    EXPECT_GE(engine.lostFrames(), lostSeen.load());
}

// The scan, the format queries and trial opens of every device. PortAudio scans the
// devices when it is first initialised: no other PortAudioBackend may be alive.
std::vector<std::string> scanAll()
{
    std::vector<std::string> names;
    PortAudioBackend scan;
    for (int i = 0; i < scan.deviceCount(); ++i) {
        DeviceCaps caps;
        EXPECT_TRUE(scan.deviceCaps(i, caps));
        names.push_back(caps.productName);
        BlockQueue queue;
        std::unique_ptr<InputStream> stream;
        CaptureFormat f24;
        f24.bitsPerSample = 24;
        f24.blockAlign = 3;
        f24.avgBytesPerSec = 3 * f24.samplesPerSec;
        if (scan.open(i, f24, queue, stream) == kCaptureOk)
            stream->close();
    }
    return names;
}

TEST(PortAudioScanTest, NamesAreStableAndStderrStaysQuiet)
{
    const fs::path log = fs::temp_directory_path() / ("quillon-stderr-" + std::to_string(getpid()));
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    {
        std::FILE *f = std::fopen(log.c_str(), "w");
        ASSERT_NE(f, nullptr);
        dup2(fileno(f), STDERR_FILENO);
        std::fclose(f);
    }
    // ALSA's default handler prints every configuration error of the scan.
    snd_lib_error_set_handler(nullptr);
    std::fputs("control line\n", stderr);
    const std::vector<std::string> first = scanAll();
    const std::vector<std::string> second = scanAll();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::ifstream in(log);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    fs::remove(log);

    EXPECT_NE(std::find(first.begin(), first.end(), kMonoDevice), first.end());
    EXPECT_NE(std::find(first.begin(), first.end(), kStereoDevice), first.end());
    EXPECT_EQ(first, second);
    EXPECT_EQ(text.rfind("control line\n", 0), 0u) << text;
    for (const char *noise : {"ALSA lib", "Cannot connect", "jack server", "JackShm", "WARNING"})
        EXPECT_EQ(text.find(noise), std::string::npos) << text;
}

} // namespace
} // namespace quillon
