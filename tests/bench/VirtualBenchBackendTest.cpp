// The bench as a sound-input device, driven through the backend interface: the test plays
// the capture engine's part (two headers, the queue, the delivery side).

#include "bench/VirtualBenchBackend.h"
#include "BenchTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using benchtest::fastBench;
using Clock = std::chrono::steady_clock;

CaptureFormat formatOf(int row)
{
    Settings s;
    applyFormatRow(s, row);
    return DeriveFormat(s);
}

// The engine's side of one stream of the bench.
class EngineSide
{
public:
    EngineSide(const BenchParameters &p, int row, std::uint32_t blockBytes)
        : bench(p), backend(bench), format(formatOf(row))
    {
        for (int i = 0; i < 2; ++i) {
            m_buffers[i].assign(blockBytes, 0xAA);
            headers[i] = CaptureHeader{m_buffers[i].data(), blockBytes, 0, i};
        }
    }
    ~EngineSide() { stop(); }
    // Opens, prepares and queues both headers, starts.
    int start()
    {
        queue.reset();
        int rc = backend.open(0, format, queue, stream);
        for (CaptureHeader &h : headers)
            if (rc == kCaptureOk && (rc = stream->prepare(h)) == kCaptureOk)
                rc = stream->addBuffer(h);
        return rc == kCaptureOk ? stream->start() : rc;
    }
    // The engine's stop sequence.
    void stop()
    {
        if (!stream)
            return;
        queue.shutdown();
        stream->reset();
        stream->close();
        stream.reset();
    }
    CaptureHeader *next() { return queue.waitPopFull(); }
    void requeue(CaptureHeader *h) { ASSERT_EQ(stream->addBuffer(*h), kCaptureOk); }

    VirtualBench bench;
    VirtualBenchBackend backend;
    CaptureFormat format;
    CaptureHeader headers[2];
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;

private:
    std::vector<std::uint8_t> m_buffers[2];
};

// One device that opens every one of the 20 rows (whole frames are checked end to end)
// and refuses everything else.
TEST(BenchDevice, OpensEveryRowAndRefusesWhatNoRowDescribes)
{
    VirtualBench b;
    VirtualBenchBackend backend(b);
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    DeviceCaps caps;
    EXPECT_EQ(backend.deviceCount(), 1);
    EXPECT_FALSE(backend.deviceCaps(1, caps));
    ASSERT_TRUE(backend.deviceCaps(0, caps));
    EXPECT_EQ(caps.productName, "Quillon virtual bench");
    for (int row = 0; row < kWaveFormatCount; ++row) {
        const WaveFormatRow &r = WaveFormatTable[row];
        if (r.capabilityFlag != kFormatProbe) {
            EXPECT_NE(caps.formats & r.capabilityFlag, 0u) << r.label;
        }
        EXPECT_EQ(backend.open(0, formatOf(row), queue, stream), kCaptureOk) << r.label;
    }
    const CaptureFormat good = formatOf(8); // 44.1 kHz mono 16-bit
    EXPECT_EQ(backend.open(1, good, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
    const std::vector<std::function<void(CaptureFormat &)>> breaks{
        [](CaptureFormat &f) { f.samplesPerSec = 32000, f.avgBytesPerSec = 64000; },
        [](CaptureFormat &f) { f.bitsPerSample = 8, f.blockAlign = 1, f.avgBytesPerSec = 44100; },
        [](CaptureFormat &f) { f.channels = 3, f.blockAlign = 6, f.avgBytesPerSec = 6 * 44100; },
        [](CaptureFormat &f) { f.blockAlign = 4; },         // not mono 16-bit
        [](CaptureFormat &f) { f.avgBytesPerSec = 44100; }, // inconsistent byte rate
        [](CaptureFormat &f) {
            f.formatTag = 3;
        }}; // float
    for (const auto &change : breaks) {
        CaptureFormat f = good;
        change(f);
        EXPECT_EQ(backend.open(0, f, queue, stream), kCaptureBadFormat);
        EXPECT_EQ(stream, nullptr);
    }
    ASSERT_EQ(backend.open(0, good, queue, stream), kCaptureOk);
    // A header shorter than one frame is refused; so is a second start.
    std::uint8_t one = 0;
    CaptureHeader tiny{&one, 1};
    EXPECT_EQ(stream->prepare(tiny), kCaptureInvalidParam);
    EXPECT_EQ(stream->start(), kCaptureOk);
    EXPECT_EQ(stream->start(), kCaptureError);
    stream->close();
}

// Two captures of five blocks each from one bench.
std::vector<std::uint8_t> sessionBytes(std::uint64_t seed)
{
    EngineSide engine(fastBench(seed), 6, 4410); // 22.05 kHz stereo 16-bit
    std::vector<std::uint8_t> bytes;
    for (int capture = 0; capture < 2; ++capture) {
        EXPECT_EQ(engine.start(), kCaptureOk);
        for (int b = 0; b < 5; ++b) {
            CaptureHeader *h = engine.next();
            bytes.insert(bytes.end(), h->data, h->data + h->bytesRecorded);
            engine.requeue(h);
        }
        engine.stop();
    }
    return bytes;
}

TEST(BenchDevice, FixedSeedRepeatsEveryByteOfASession)
{
    const auto first = sessionBytes(42);
    EXPECT_EQ(first, sessionBytes(42));
    EXPECT_NE(first, sessionBytes(43));
    EXPECT_NE(sessionBytes(0), sessionBytes(0)); // seed 0: random
    // Successive captures of one session see independent noise.
    const std::size_t half = first.size() / 2;
    EXPECT_NE(0, std::memcmp(first.data(), first.data() + half, half));
}

// The consumer holds both headers and the queue was not shut down: reset still returns.
TEST(BenchDevice, ResetReturnsWhileTheConsumerHoldsEveryHeader)
{
    for (double speed : {0.0, 1.0}) {
        EngineSide engine(fastBench(5, speed), 12, 960); // 48 kHz mono 16-bit, 10 ms
        ASSERT_EQ(engine.start(), kCaptureOk);
        ASSERT_NE(engine.next(), nullptr);
        ASSERT_NE(engine.next(), nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine.stream->reset();
        engine.stream->close();
        EXPECT_EQ(engine.queue.tryPopFree(), nullptr);
    }
}

// Speed 4: a 100 ms block every 25 ms. The schedule is absolute, so blocks never come
// early and N blocks take at least N block times; the upper bound only catches a stalled
// generator. A consumer that holds both blocks loses audio like a real device, and
// delivered plus lost audio never exceeds the time that has passed.
TEST(BenchDevice, PacingIsRightOnAverageAndALateConsumerLosesAudio)
{
    constexpr std::uint32_t blockFrames = 1102;
    constexpr double framesPerSecond = 11025.0 * 4.0;
    EngineSide engine(fastBench(8, 4.0), 0, blockFrames * 2); // 11.025 kHz mono 16-bit
    const auto t0 = Clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    ASSERT_EQ(engine.start(), kCaptureOk);
    for (int i = 0; i < 16; ++i)
        engine.requeue(engine.next());
    const double due = 16 * blockFrames / framesPerSecond;
    EXPECT_GE(elapsed(), due);
    EXPECT_LT(elapsed(), 10.0 * due + 5.0);

    CaptureHeader *a = engine.next();
    CaptureHeader *b = engine.next();
    std::this_thread::sleep_for(std::chrono::milliseconds(250)); // ~10 blocks of audio
    const std::uint64_t lostWhileHeld = engine.queue.lostFrames();
    engine.requeue(a);
    engine.requeue(b);
    for (int i = 0; i < 4; ++i)
        engine.requeue(engine.next());
    const double seconds = elapsed();
    engine.stop();
    EXPECT_GT(engine.queue.lostFrames(), lostWhileHeld); // the gap is counted on return
    EXPECT_GE(engine.queue.lostEvents(), 1u);
    EXPECT_LE(22 * blockFrames + engine.queue.lostFrames(),
              seconds * framesPerSecond + blockFrames);
}

// Switch changes from another thread while blocks stream: every block's power lies within
// the states' range (a block may straddle a change). Under ThreadSanitizer this also checks
// the hand-over of the outputs.
TEST(BenchDevice, OutputsChangeWhileStreaming)
{
    EngineSide engine(fastBench(21), 9, 4410 * 3); // 44.1 kHz mono 24-bit, 100 ms
    const BenchTruth t = engine.bench.truth();
    ASSERT_EQ(engine.start(), kCaptureOk);
    std::jthread switcher([&](std::stop_token stop) {
        for (int k = 0; !stop.stop_requested(); ++k) {
            engine.bench.setOutputs(k & 1, k & 2);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int i = 0; i < 30; ++i) {
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        const auto x = benchtest::decode(h->data, h->bytesRecorded / 3, 24, 1);
        const double power = benchtest::moments(x).variance / (8388608.0 * 8388608.0);
        EXPECT_GT(power, t.states[0].power * 0.8);
        EXPECT_LT(power, t.states[3].power * 1.2);
        engine.requeue(h);
    }
}

} // namespace
} // namespace quillon
