// Real capture through PortAudio from ALSA's file plugin: each pcm below turns a raw file
// of known samples into a capture device, bit-exact from frame 0 and faster than real
// time. ALSA reads its configuration once per process, so the files and the configuration
// are written and ALSA_CONFIG_PATH is set before any test starts PortAudio.

#include "app/Settings.h"
#include "capture/DeviceList.h"
#include "capture/PortAudioBackend.h"
#include "capture/WaveCapture.h"
#include "support/FakeDevices.h"

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

// The file of 200,000 mono 16-bit or 100,000 stereo 24-bit frames (little-endian). An odd
// multiplier makes every sample differ from its neighbours, so a block shifted by a byte
// or a frame cannot match.
std::vector<std::uint8_t> fileBytes(int bytesPerSample)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t n = 0; n < 200'000; ++n) {
        const std::uint32_t v = n * (bytesPerSample == 2 ? 40503u : 0x9E3779B1u);
        for (int b = 0; b < bytesPerSample; ++b)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
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
        std::ofstream(m_dir / "mono16.raw", std::ios::binary) << bytesOf(fileBytes(2));
        std::ofstream(m_dir / "stereo24.raw", std::ios::binary) << bytesOf(fileBytes(3));
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
    static std::string bytesOf(const std::vector<std::uint8_t> &v) { return {v.begin(), v.end()}; }
    fs::path m_dir;
};

[[maybe_unused]] ::testing::Environment *const g_devices =
    ::testing::AddGlobalTestEnvironment(new AlsaFileDevices);

class PortAudioCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        devices.addBackend(portAudio);
        devices.addBackend(other); // listed after the real devices, as the bench is
    }
    // Device number of `name` in the list; fails the test when PortAudio lacks it.
    int deviceNumber(const std::string &name)
    {
        const int n = devices.findDevice(name);
        EXPECT_GE(n, 0) << name << " not listed";
        return n;
    }

    PortAudioBackend portAudio;
    test::NamedDevices other{{{"Other"}}};
    DeviceList devices;
    Settings settings;
};

TEST_F(PortAudioCaptureTest, ListsTheFilePcmsWithTheir16BitFormats)
{
    ASSERT_TRUE(portAudio.initialised());
    const int mono = deviceNumber(kMonoDevice);
    ASSERT_GE(mono, 0);
    EXPECT_GE(deviceNumber(kStereoDevice), 0);
    EXPECT_EQ(devices.findDevice("Other"), portAudio.deviceCount());
    // The null slave takes every rate and width: all ten 16-bit rows.
    std::uint32_t all16 = 0;
    for (const WaveFormatRow &row : WaveFormatTable)
        all16 |= row.bitsPerSample == 16 ? row.capabilityFlag : 0;
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
    EXPECT_EQ(portAudio.open(deviceNumber(kMonoDevice), eightBit, queue, stream),
              kCaptureBadFormat);
    EXPECT_EQ(portAudio.open(portAudio.deviceCount(), CaptureFormat{}, queue, stream),
              kCaptureBadDevice);
    EXPECT_EQ(portAudio.open(-1, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
}

// The first two blocks are the file's first bytes, block 2 going on where block 1 ended;
// the block length is rounded down to whole frames (2205 bytes of 11.025 kHz mono 16-bit
// read 2204; 6005 bytes of stereo 24-bit read 6000), and every later block starts on a
// frame (past its end the file's last period repeats).
TEST_F(PortAudioCaptureTest, BlocksAreBitExactAndWholeFrames)
{
    struct Case
    {
        const char *device;
        int row, bytesPerSample;
        std::uint32_t requested, expected; // requested 0: 100 ms
    };
    for (const Case c :
         {Case{kMonoDevice, 0, 2, 0, 2204}, Case{kStereoDevice, 15, 3, 6005, 6000}}) {
        SCOPED_TRACE(c.device);
        settings.waveInDevice = deviceNumber(c.device);
        applyFormatRow(settings, c.row); // 11.025 kHz mono 16-bit, 48 kHz stereo 24-bit
        settings.captureTimeMs = 100;
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::vector<std::uint8_t>> blocks;
        WaveCapture engine(settings, devices); // after what its callback uses
        ASSERT_TRUE(engine.ProbeDevice());
        auto collect = [&](WaveCapture &capture, CaptureHeader &h) {
            {
                const std::lock_guard lock(mutex);
                if (blocks.size() < 3)
                    blocks.emplace_back(h.data, h.data + h.bytesRecorded);
            }
            changed.notify_all();
            capture.requeue(h);
        };
        ASSERT_EQ(c.requested == 0 ? engine.StartCapture(collect)
                                   : engine.StartCaptureBytes(collect, c.requested),
                  kCaptureOk);
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60),
                                         [&] { return blocks.size() == 3; }));
        }
        EXPECT_TRUE(engine.StopCapture());

        const std::vector<std::uint8_t> file = fileBytes(c.bytesPerSample);
        for (const auto &block : blocks)
            ASSERT_EQ(block.size(), c.expected);
        EXPECT_TRUE(std::equal(blocks[0].begin(), blocks[0].end(), file.begin()));
        EXPECT_TRUE(std::equal(blocks[1].begin(), blocks[1].end(), file.begin() + c.expected));
        const std::size_t frame = engine.format().blockAlign;
        bool found = false;
        for (std::size_t at = 0; at + frame <= file.size() && !found; at += frame)
            found = std::equal(blocks[2].begin(), blocks[2].begin() + frame, file.begin() + at);
        EXPECT_TRUE(found);
    }
}

// The callback holds the first block until the device has had to drop audio: the loss is
// counted, and capture goes on.
TEST_F(PortAudioCaptureTest, HeldBlocksLoseAudioAndCountIt)
{
    settings.waveInDevice = deviceNumber(kMonoDevice);
    applyFormatRow(settings, 0);
    settings.captureTimeMs = 100;
    WaveCapture engine(settings, devices);
    std::atomic<int> blocks{0};
    std::atomic<std::uint64_t> lostSeen{0};
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &capture, CaptureHeader &h) {
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

// The scan, the format queries and a 24-bit trial open of every device. PortAudio scans
// the devices when it is first initialised: no other PortAudioBackend may be alive.
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
