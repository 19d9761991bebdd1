// Real capture through PortAudio from ALSA's file plugin: each pcm below turns a raw file
// of known samples into a capture device, bit-exact from frame 0 and faster than real time.

#include "core/Settings.h"
#include "capture/DeviceList.h"
#include "capture/PortAudioBackend.h"
#include "capture/WaveCapture.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <cstdlib> // mkdtemp, setenv

#include <algorithm>
#include <filesystem>
#include <fstream>

// AddressSanitizer: ALSA plugins' allocations trace to the suppressed libasound only so.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr char kMonoDevice[] = "quillon_mono16";
constexpr char kStereoDevice[] = "quillon_stereo24";

// 200,000 samples; an odd multiplier makes a block shifted by a byte or frame mismatch.
std::string fileBytes(int bytesPerSample)
{
    std::string out;
    for (std::uint32_t n = 0; n < 200'000; ++n)
        for (int b = 0; b < bytesPerSample; ++b)
            out.push_back(
                static_cast<char>(n * (bytesPerSample == 2 ? 40503u : 0x9E3779B1u) >> (8 * b)));
    return out;
}

// ALSA reads its configuration once per process: written before any test starts PortAudio.
class AlsaFileDevices : public ::testing::Environment
{
    void SetUp() override
    {
        char pattern[] = "/tmp/quillon-alsa-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        std::ofstream conf(m_dir / "test.conf");
        for (const auto &[name, bytes] :
             {std::pair{kMonoDevice, 2}, std::pair{kStereoDevice, 3}, std::pair{"!default", 2}}) {
            const fs::path raw = m_dir / (std::to_string(bytes) + ".raw");
            std::ofstream(raw, std::ios::binary) << fileBytes(bytes);
            conf << "pcm." << name
                 << " {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
                 << "  infile \"" << raw.string() << "\"\n  format \"raw\"\n}\n";
        }
        conf.close();
        const std::string path = "/usr/share/alsa/alsa.conf:" + (m_dir / "test.conf").string();
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

[[maybe_unused]] ::testing::Environment *const g_devices =
    ::testing::AddGlobalTestEnvironment(new AlsaFileDevices);

class PortAudioCaptureTest : public ::testing::Test
{
protected:
    PortAudioCaptureTest() { devices.addBackend(portAudio); }

    PortAudioBackend portAudio;
    DeviceList devices;
    Settings settings;
};

TEST_F(PortAudioCaptureTest, ListsTheFilePcmsAndRefusesBadDevicesAndFormats)
{
    ASSERT_TRUE(portAudio.initialised());
    const int mono = devices.findDevice(kMonoDevice);
    ASSERT_GE(mono, 0);
    std::uint32_t all16 = 0; // the null slave takes every rate and width
    for (const WaveFormatRow &row : WaveFormatTable)
        all16 |= row.bitsPerSample == 16 ? row.capabilityFlag : 0;
    DeviceCaps caps;
    ASSERT_TRUE(devices.deviceCaps(mono, caps));
    EXPECT_EQ(std::pair(caps.productName, caps.formats),
              std::pair(std::string(kMonoDevice), all16));

    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    const CaptureFormat eightBit{.avgBytesPerSec = 44100, .blockAlign = 1, .bitsPerSample = 8};
    EXPECT_EQ(devices.open(mono, eightBit, queue, stream), kCaptureBadFormat);
    for (int bad : {devices.deviceCount(), -1})
        EXPECT_EQ(devices.open(bad, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
}

// Mended fault: blocks 1 and 2 are the file's first whole frames, back to back. Holding
// block 1 makes the device drop audio: the loss is counted and block 3 starts on a frame.
TEST_F(PortAudioCaptureTest, BlocksAreBitExactWholeFramesAndLostAudioIsCounted)
{
    // Device, format row, requested and whole-frame block length.
    for (const auto &[device, row, requested, expected] :
         {std::tuple{kMonoDevice, 0, 2205u, 2204u}, std::tuple{kStereoDevice, 15, 6005u, 6000u}}) {
        SCOPED_TRACE(device);
        settings.waveInDevice = devices.findDevice(device);
        applyFormatRow(settings, row);
        std::vector<std::string> blocks(3);
        std::atomic<int> count{0};
        std::atomic<std::uint64_t> lostSeen{0};
        WaveCapture engine(settings, devices); // after what its callback uses
        ASSERT_TRUE(engine.probeDevice());
        auto collect = [&](WaveCapture &capture, CaptureHeader &h) {
            while (count == 0 && capture.running() && capture.lostFrames() == 0)
                std::this_thread::yield();
            if (count == 0)
                lostSeen = capture.lostFrames();
            if (const int i = count.load(); i < 3) {
                blocks[i].assign(h.data, h.data + h.bytesRecorded);
                count = i + 1;
            }
            capture.requeue(h);
        };
        ASSERT_EQ(engine.startCaptureBytes(collect, requested), kCaptureOk);
        while (count.load() < 3) // a hang fails by ctest's time limit
            std::this_thread::yield();
        EXPECT_TRUE(engine.stopCapture());
        EXPECT_GT(lostSeen.load(), 0u);
        EXPECT_GE(engine.lostEvents(), 1u);
        const std::string file = fileBytes(row == 0 ? 2 : 3);
        for (const auto &block : blocks)
            ASSERT_EQ(block.size(), expected);
        EXPECT_TRUE(blocks[0] + blocks[1] == file.substr(0, 2 * expected));
        const std::size_t frame = engine.format().blockAlign;
        bool found = false;
        for (std::size_t at = 0; at + frame <= file.size() && !found; at += frame)
            found = file.compare(at, frame, blocks[2], 0, frame) == 0;
        EXPECT_TRUE(found);
    }
}

// Scan, format queries, a 24-bit trial open of every device (no other backend alive).
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
        const CaptureFormat f24{.avgBytesPerSec = 3 * 44100, .blockAlign = 3, .bitsPerSample = 24};
        if (scan.open(i, f24, queue, stream) == kCaptureOk)
            stream->close();
    }
    return names;
}

// gtest's capture redirects file descriptor 2, so it sees what ALSA and JACK print.
TEST(PortAudioScanTest, NamesAreStableAndStderrStaysQuiet)
{
    snd_lib_error_set_handler(nullptr); // ALSA's default prints every error of the scan
    testing::internal::CaptureStderr();
    std::fputs("control line\n", stderr);
    const std::vector<std::string> first = scanAll();
    EXPECT_EQ(first, scanAll());
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::find(first.begin(), first.end(), kStereoDevice), first.end());
    EXPECT_EQ(text.rfind("control line\n", 0), 0u) << text;
    for (const char *noise : {"ALSA lib", "Cannot connect", "jack server", "JackShm", "WARNING"})
        EXPECT_EQ(text.find(noise), std::string::npos) << text;
}

} // namespace
} // namespace quillon
