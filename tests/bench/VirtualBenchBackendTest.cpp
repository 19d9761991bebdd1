// The bench as a sound-input device, driven directly through the backend interface: the
// test plays the capture engine's part (two headers, the queue, the delivery side).

#include "bench/VirtualBenchBackend.h"
#include "BenchTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

CaptureFormat formatOf(const WaveFormatRow &row)
{
    CaptureFormat f;
    f.channels = row.stereo ? 2 : 1;
    f.samplesPerSec = static_cast<std::uint32_t>(row.sampleRate);
    f.bitsPerSample = static_cast<std::uint16_t>(row.bitsPerSample);
    f.blockAlign = static_cast<std::uint16_t>(f.channels * f.bitsPerSample / 8);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

CaptureFormat formatOf(std::uint32_t rate, int channels, int bits)
{
    return formatOf(WaveFormatRow{0, "", static_cast<std::uint32_t>(bits),
                                  static_cast<std::int32_t>(rate), channels == 2});
}

// The engine's side of a stream: two headers with their buffers, and the queue.
class EngineSide
{
public:
    explicit EngineSide(std::uint32_t blockBytes)
    {
        for (int i = 0; i < 2; ++i) {
            m_buffers[i].assign(blockBytes, 0xAA);
            headers[i].data = m_buffers[i].data();
            headers[i].bufferLength = blockBytes;
            headers[i].index = i;
        }
    }
    // Opens, prepares and queues both headers, starts.
    int start(VirtualBenchBackend &backend, const CaptureFormat &f)
    {
        queue.reset();
        queue.resetLost();
        int rc = backend.open(0, f, queue, stream);
        if (rc != kCaptureOk)
            return rc;
        for (CaptureHeader &h : headers) {
            if ((rc = stream->prepare(h)) != kCaptureOk)
                return rc;
            if ((rc = stream->addBuffer(h)) != kCaptureOk)
                return rc;
        }
        return stream->start();
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

    CaptureHeader headers[2];
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;

private:
    std::vector<std::uint8_t> m_buffers[2];
};

BenchParameters fastBench(std::uint64_t seed)
{
    BenchParameters p;
    p.speed = 0.0;
    p.seed = seed;
    return p;
}

TEST(BenchDevice, OneDeviceWithEveryFormat)
{
    VirtualBench bench;
    VirtualBenchBackend backend(bench);
    EXPECT_EQ(backend.deviceCount(), 1);
    DeviceCaps caps;
    ASSERT_TRUE(backend.deviceCaps(0, caps));
    EXPECT_EQ(caps.productName, "Quillon virtual bench");
    for (const WaveFormatRow &row : WaveFormatTable) {
        if (row.capabilityFlag != kFormatProbe) {
            EXPECT_NE(caps.formats & row.capabilityFlag, 0u) << row.label;
        }
    }
    EXPECT_FALSE(backend.deviceCaps(1, caps));
    EXPECT_FALSE(backend.deviceCaps(-1, caps));
}

// Every one of the 20 rows opens and delivers whole frames of the right size.
TEST(BenchDevice, AllTwentyFormatsOpenAndCapture)
{
    VirtualBench bench(fastBench(3));
    VirtualBenchBackend backend(bench);
    for (const WaveFormatRow &row : WaveFormatTable) {
        const CaptureFormat f = formatOf(row);
        // 100 ms, not rounded to whole frames (2205 bytes at 11.025 kHz mono 16-bit).
        const std::uint32_t length = f.avgBytesPerSec / 10;
        EngineSide engine(length);
        ASSERT_EQ(engine.start(backend, f), kCaptureOk) << row.label;
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->bytesRecorded, length / f.blockAlign * f.blockAlign) << row.label;
        engine.stop();
    }
}

TEST(BenchDevice, RefusesWhatNoRowDescribes)
{
    VirtualBench bench(fastBench(3));
    VirtualBenchBackend backend(bench);
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    const CaptureFormat good = formatOf(44100, 1, 16);
    EXPECT_EQ(backend.open(1, good, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);

    std::vector<CaptureFormat> bad;
    CaptureFormat f = formatOf(32000, 1, 16); // no such rate
    bad.push_back(f);
    bad.push_back(formatOf(44100, 1, 8)); // 8 bit
    f = good;
    f.channels = 3, f.blockAlign = 6, f.avgBytesPerSec = 6 * 44100;
    bad.push_back(f);
    f = good;
    f.blockAlign = 4; // inconsistent with mono 16-bit
    bad.push_back(f);
    f = good;
    f.avgBytesPerSec = 44100; // inconsistent byte rate
    bad.push_back(f);
    f = good;
    f.formatTag = 3; // float
    bad.push_back(f);
    for (const CaptureFormat &b : bad) {
        EXPECT_EQ(backend.open(0, b, queue, stream), kCaptureBadFormat);
        EXPECT_EQ(stream, nullptr);
    }
    EXPECT_EQ(backend.open(0, good, queue, stream), kCaptureOk);
    ASSERT_NE(stream, nullptr);
    // A header shorter than one frame is refused; so is a second start.
    std::uint8_t one = 0;
    CaptureHeader tiny{&one, 1};
    EXPECT_EQ(stream->prepare(tiny), kCaptureInvalidParam);
    EXPECT_EQ(stream->start(), kCaptureOk);
    EXPECT_EQ(stream->start(), kCaptureError);
    stream->reset();
    stream->close();
}

// Speed 0 hands over as fast as the consumer returns headers and never loses audio, even
// when the consumer keeps a block for a while.
TEST(BenchDevice, SpeedZeroNeverDropsABlock)
{
    VirtualBench bench(fastBench(11));
    VirtualBenchBackend backend(bench);
    const CaptureFormat f = formatOf(11025, 2, 24);
    EngineSide engine(110 * f.blockAlign);
    ASSERT_EQ(engine.start(backend, f), kCaptureOk);
    const CaptureHeader *previous = nullptr;
    for (int block = 0; block < 400; ++block) {
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->bytesRecorded, h->bufferLength);
        EXPECT_NE(h, previous); // the two headers alternate
        previous = h;
        if (block % 100 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(30)); // a slow consumer
        engine.requeue(h);
    }
    engine.stop();
    EXPECT_EQ(engine.queue.lostFrames(), 0u);
    EXPECT_EQ(engine.queue.lostEvents(), 0u);
}

std::vector<std::uint8_t> captureBytes(std::uint64_t seed, int streams, int blocks)
{
    VirtualBench bench(fastBench(seed));
    VirtualBenchBackend backend(bench);
    const CaptureFormat f = formatOf(22050, 2, 16);
    std::vector<std::uint8_t> bytes;
    for (int s = 0; s < streams; ++s) {
        EngineSide engine(4410);
        EXPECT_EQ(engine.start(backend, f), kCaptureOk);
        for (int b = 0; b < blocks; ++b) {
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
    const auto first = captureBytes(42, 2, 5);
    EXPECT_EQ(first, captureBytes(42, 2, 5));
    EXPECT_NE(first, captureBytes(43, 2, 5));
    // Successive captures of one session see independent noise.
    const std::size_t half = first.size() / 2;
    EXPECT_NE(0, std::memcmp(first.data(), first.data() + half, half));
}

// Stop while the generator waits for a free header that never comes (the consumer holds
// both) and the queue was not shut down: reset still returns.
TEST(BenchDevice, ResetReturnsWhileTheConsumerHoldsEveryHeader)
{
    for (double speed : {0.0, 1.0}) {
        BenchParameters p = fastBench(5);
        p.speed = speed;
        VirtualBench bench(p);
        VirtualBenchBackend backend(bench);
        const CaptureFormat f = formatOf(48000, 1, 16);
        EngineSide engine(960); // 10 ms blocks
        ASSERT_EQ(engine.start(backend, f), kCaptureOk);
        ASSERT_NE(engine.next(), nullptr);
        ASSERT_NE(engine.next(), nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine.stream->reset(); // no queue shutdown before it
        engine.stream->close();
        EXPECT_EQ(engine.queue.tryPopFree(), nullptr);
    }
}

// Real-time pacing at speed 4 (a 100 ms block every 25 ms). Blocks never come early: the
// schedule is absolute, so N blocks take at least N block times; the upper bound only
// guards against a stalled generator.
TEST(BenchDevice, PacedDeliveryKeepsTheSchedule)
{
    BenchParameters p = fastBench(8);
    p.speed = 4.0;
    VirtualBench bench(p);
    VirtualBenchBackend backend(bench);
    const CaptureFormat f = formatOf(11025, 1, 16);
    const std::uint32_t blockFrames = 1102;
    EngineSide engine(blockFrames * 2);
    const auto t0 = Clock::now();
    ASSERT_EQ(engine.start(backend, f), kCaptureOk);
    constexpr int blocks = 16;
    for (int i = 0; i < blocks; ++i) {
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        engine.requeue(h);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    engine.stop();
    const double due = blocks * blockFrames / (11025.0 * 4.0);
    EXPECT_GE(elapsed, due);
    EXPECT_LT(elapsed, 10.0 * due + 5.0);
    // Whatever was lost on a busy machine is accounted: delivered + lost never exceeds the
    // audio time that has passed.
    const double passed = elapsed * 11025.0 * 4.0;
    EXPECT_LE(blocks * blockFrames + engine.queue.lostFrames(), passed + blockFrames);
}

// A consumer that keeps both blocks loses audio like a real device: counted as one gap,
// in frames, and capture goes on once it hands the headers back.
TEST(BenchDevice, LateConsumerLosesAudioAndItIsCounted)
{
    BenchParameters p = fastBench(9);
    p.speed = 4.0;
    VirtualBench bench(p);
    VirtualBenchBackend backend(bench);
    const CaptureFormat f = formatOf(11025, 1, 16);
    const std::uint32_t blockFrames = 1102;
    EngineSide engine(blockFrames * 2);
    const auto t0 = Clock::now();
    ASSERT_EQ(engine.start(backend, f), kCaptureOk);
    CaptureHeader *a = engine.next();
    CaptureHeader *b = engine.next();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(250)); // ~10 blocks of audio
    engine.requeue(a);
    engine.requeue(b);
    for (int i = 0; i < 4; ++i) {
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        engine.requeue(h);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    engine.stop();
    EXPECT_GT(engine.queue.lostFrames(), 0u);
    EXPECT_GE(engine.queue.lostEvents(), 1u);
    EXPECT_LE(6 * blockFrames + engine.queue.lostFrames(), elapsed * 11025.0 * 4.0 + blockFrames);
}

// Switch changes from another thread while blocks stream: every block's variance is one
// of the states' (or between two of them for the block of the change), and the generator
// keeps up; run under ThreadSanitizer this also checks the hand-over of the outputs.
TEST(BenchDevice, OutputsChangeWhileStreaming)
{
    BenchParameters p = fastBench(21);
    VirtualBench bench(p);
    VirtualBenchBackend backend(bench);
    const BenchTruth t = bench.truth();
    const CaptureFormat f = formatOf(44100, 1, 24);
    EngineSide engine(f.avgBytesPerSec / 10);
    bench.setOutputs(false, false);
    ASSERT_EQ(engine.start(backend, f), kCaptureOk);
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        int k = 0;
        while (!done.load()) {
            bench.setOutputs(k & 1, k & 2);
            ++k;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    const double lo = t.states[0].power * 0.8, hi = t.states[3].power * 1.2;
    for (int i = 0; i < 30; ++i) {
        CaptureHeader *h = engine.next();
        ASSERT_NE(h, nullptr);
        const auto x = benchtest::decode(h->data, h->bytesRecorded / 3, 24, 1);
        const double power = benchtest::moments(x).variance / (8388608.0 * 8388608.0);
        EXPECT_GT(power, lo);
        EXPECT_LT(power, hi);
        engine.requeue(h);
    }
    done = true;
    switcher.join();
    engine.stop();
}

} // namespace
} // namespace quillon
