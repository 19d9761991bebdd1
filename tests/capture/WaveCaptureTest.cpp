// The capture engine against a fake device: block lengths, the start and stop sequences
// with their undo paths, and the hand-over of blocks to the page callback.

#include "capture/WaveCapture.h"
#include "core/Settings.h"
#include "capture/PortAudioBackend.h" // uniqueDeviceNames
#include "capture/ResultText.h"
#include "support/PcmBlocks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

namespace quillon {
namespace {

using Calls = std::vector<std::string>;

// One device whose stream the test drives. Logs the engine's calls ("open 0", "prepare 1",
// ..., "close") and fails the one named by failAt.
class FakeBackend : public AudioBackend
{
public:
    struct FakeStream : InputStream
    {
        FakeStream(FakeBackend &o, BlockQueue &q) : InputStream(q), owner(o) {}
        ~FakeStream() override { owner.stream = nullptr; }
        int prepare(CaptureHeader &h) override
        {
            const int rc = owner.call("prepare", &h);
            return rc ? rc : InputStream::prepare(h);
        }
        int unprepare(CaptureHeader &h) override
        {
            owner.call("unprepare", &h);
            return InputStream::unprepare(h);
        }
        int addBuffer(CaptureHeader &h) override // after start: a re-queue, counted not logged
        {
            const int rc = started ? (++owner.requeues, 0) : owner.call("add", &h);
            return rc ? rc : InputStream::addBuffer(h);
        }
        int start() override
        {
            started = owner.call("start") == kCaptureOk;
            return started ? kCaptureOk : owner.failCode;
        }
        void reset() override { owner.call("reset"); }
        void close() override { owner.call("close"); }
        // Hands over the next free header, every byte `value`; none free: a frame lost.
        bool produce(std::uint8_t value)
        {
            if (tryProduce(value))
                return true;
            queue().addLostFrames(1);
            return false;
        }
        // The same without counting a loss.
        bool tryProduce(std::uint8_t value)
        {
            const auto sample = static_cast<std::int16_t>(value * 0x0101);
            return test::handOver16(queue(), [=](std::uint32_t) { return sample; });
        }
        void lose(std::uint64_t frames, bool newGap) { queue().addLostFrames(frames, newGap); }
        FakeBackend &owner;
        bool started = false;
    };

    int deviceCount() override { return 1; }
    bool deviceCaps(int, DeviceCaps &) override { return false; }
    int open(int device, const CaptureFormat &, BlockQueue &queue,
             std::unique_ptr<InputStream> &out) override
    {
        if (const int rc = call("open " + std::to_string(device)); rc || device != 0)
            return rc ? rc : kCaptureBadDevice;
        out = std::make_unique<FakeStream>(*this, queue);
        stream = static_cast<FakeStream *>(out.get());
        return kCaptureOk;
    }
    int call(std::string name, const CaptureHeader *h = nullptr)
    {
        calls.push_back(h ? name + " " + std::to_string(h->index + 1) : name);
        return calls.back() == failAt ? failCode : kCaptureOk;
    }
    Calls take() { return std::exchange(calls, {}); }

    Calls calls;
    std::string failAt; // e.g. "prepare 2"
    int failCode = kCaptureError;
    std::atomic<int> requeues{0};
    FakeStream *stream = nullptr; // the open stream
};

Calls operator+(Calls a, const Calls &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `step` of headers 1 .. n: {"prepare 1", "prepare 2", ...}.
Calls eachHeader(const std::string &step, int n)
{
    Calls calls;
    for (int i = 1; i <= n; ++i)
        calls.push_back(step + " " + std::to_string(i));
    return calls;
}

// The fixture's capture, 100 ms of 11.025 kHz mono 16-bit (1102 frames), has a ring of 4.
constexpr int kDepth = 4;
const Calls kStartCalls =
    Calls{"open 0"} + eachHeader("prepare", kDepth) + eachHeader("add", kDepth) + Calls{"start"};
const Calls kStopCalls = Calls{"reset"} + eachHeader("unprepare", kDepth) + Calls{"close"};

class WaveCaptureTest : public ::testing::Test
{
protected:
    WaveCaptureTest()
    {
        applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
        settings.captureTimeMs = 100;
        engine.deriveFormat();
    }
    // Records (first byte, bytes, block position) of each block and re-queues it.
    CaptureCallback counting()
    {
        return [this](WaveCapture &capture, CaptureHeader &h) {
            blocks.emplace_back(h.data[0], h.bytesRecorded, capture.nextBlock());
            capture.requeue(h);
            ++delivered;
        };
    }
    void waitDelivered(int n)
    {
        while (delivered.load() < n)
            std::this_thread::yield();
    }
    void produce(std::uint8_t value, int deliveredCount)
    {
        ASSERT_TRUE(fake.stream->produce(value));
        waitDelivered(deliveredCount);
    }

    Settings settings;
    FakeBackend fake;
    std::atomic<int> delivered{0};
    std::vector<std::tuple<int, std::uint32_t, int>> blocks; // read after waitDelivered
    WaveCapture engine{settings, fake}; // last: stopped before what its callbacks use
};

// Mended fault: block lengths are whole frames; 0 frames or over a buffer are refused
// before the device is touched.
TEST_F(WaveCaptureTest, BlockLengthIsWholeFramesOrRefused)
{
    // Row, startCapture(ms) or (ms 0) startCaptureBytes(bytes), length (0: refused).
    const std::tuple<int, std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
        {19, 10000, 0, 5'760'000}, // 10 s of 96 kHz stereo 24-bit: the product needs 64 bits
        {0, 100, 0, 2204},         // 2205 bytes of 11.025 kHz mono 16-bit
        {3, 100, 0, 6612},         // 6615 bytes -> 1102 frames of 6 bytes
        {19, 0, 6'000'000, 6'000'000},
        {19, 0, 6'000'001, 0},
        {19, 0, 5, 0},
        {0, 0, 0, 0}};
    for (const auto &[row, ms, bytes, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "row " << row << ", " << ms << " ms, " << bytes);
        applyFormatRow(settings, row);
        settings.captureTimeMs = ms;
        engine.deriveFormat();
        const int rc =
            ms == 0 ? engine.startCaptureBytes(counting(), bytes) : engine.startCapture(counting());
        EXPECT_EQ(rc, expected ? kCaptureOk : kCaptureInvalidParam);
        EXPECT_EQ(rc == kCaptureOk ? engine.blockLength() : 0u, expected);
        EXPECT_EQ(engine.stopCapture(), expected != 0);
        EXPECT_EQ(fake.take().empty(), expected == 0);
    }
    EXPECT_EQ(engine.startCaptureBytes(CaptureCallback{}, 2000), kCaptureInvalidParam);
    EXPECT_TRUE(fake.take().empty());
}

// A failed start step undoes exactly the steps before it, returns the device's code and
// leaves the engine idle; a later start runs the whole sequence and stop undoes it.
TEST_F(WaveCaptureTest, ProbeAndStartFailuresUndoTheStepsDone)
{
    EXPECT_TRUE(engine.probeDevice());
    EXPECT_EQ(fake.take(), (Calls{"open 0", "close"}));
    for (int device : {1, -1}) { // -1: none chosen
        settings.waveInDevice = device;
        EXPECT_FALSE(engine.probeDevice());
        EXPECT_EQ(engine.startCapture(counting()), kCaptureBadDevice);
        EXPECT_EQ(fake.take(), (Calls(2, "open " + std::to_string(device))));
    }
    settings.waveInDevice = 0;
    const Calls undoAll = eachHeader("unprepare", kDepth) + Calls{"close"};
    const Calls prepared = Calls{"open 0"} + eachHeader("prepare", kDepth);
    const std::pair<std::string, Calls> cases[] = {
        {"open 0", {"open 0"}},
        {"prepare 1", {"open 0", "prepare 1", "close"}},
        {"prepare 2", {"open 0", "prepare 1", "prepare 2", "unprepare 1", "close"}},
        {"prepare 4", Calls{"open 0"} + eachHeader("prepare", 4) + eachHeader("unprepare", 3) +
                          Calls{"close"}},
        {"add 1", prepared + Calls{"add 1"} + undoAll},
        {"add 4", prepared + eachHeader("add", 4) + undoAll},
        {"start", kStartCalls + undoAll}};
    fake.failCode = kCaptureAllocated;
    for (const auto &[step, calls] : cases) {
        SCOPED_TRACE(step);
        fake.failAt = step;
        EXPECT_EQ(engine.startCapture(counting()), kCaptureAllocated);
        EXPECT_EQ(fake.stream, nullptr);
        EXPECT_FALSE(engine.stopCapture()); // idle: nothing more to call
        EXPECT_EQ(fake.take(), calls);
    }
    fake.failAt.clear();
    EXPECT_EQ(engine.startCapture(counting()), kCaptureOk);
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(engine.stopCapture());
    EXPECT_FALSE(engine.stopCapture()); // stopped already: nothing to call
    EXPECT_EQ(fake.take(), kStartCalls + kStopCalls);
    EXPECT_EQ(fake.stream, nullptr);
}

// A callback keeping every block makes the device lose audio once the ring is used up; a
// start while running stops first and restarts the counters; blocks arrive in order.
TEST_F(WaveCaptureTest, RestartResetsCountersAndDeliversEachBlockInOrder)
{
    ASSERT_EQ(engine.startCapture([&](WaveCapture &c, CaptureHeader &) {
        c.nextBlock();
        ++delivered;
    }),
              kCaptureOk);
    ASSERT_EQ(engine.bufferCount(), kDepth);
    for (int i = 1; i <= kDepth; ++i)
        produce(static_cast<std::uint8_t>(i), i);
    EXPECT_FALSE(fake.stream->produce(3));
    EXPECT_FALSE(fake.stream->produce(4));
    EXPECT_EQ(std::tuple(engine.lostFrames(), engine.lostEvents(), engine.blockCounter()),
              std::tuple(2u, 2u, kDepth));
    fake.take();

    delivered = 0;
    ASSERT_EQ(engine.startCapture(counting()), kCaptureOk);
    EXPECT_EQ(fake.take(), kStopCalls + kStartCalls);
    EXPECT_EQ(std::tuple(engine.lostFrames(), engine.lostEvents(), engine.blockCounter()),
              std::tuple(0u, 0u, 0));
    ASSERT_TRUE(fake.stream->produce(10)); // every buffer is queued
    produce(11, 2);
    produce(12, 3);
    using B = std::tuple<int, std::uint32_t, int>;
    EXPECT_EQ(blocks, (std::vector<B>{{10, 2204, 0}, {11, 2204, 1}, {12, 2204, 2}}));
    EXPECT_EQ(fake.requeues.load(), 3);
}

// After stopCapture no callback runs: a waiting block is dropped, a late re-queue ignored.
TEST_F(WaveCaptureTest, StopWaitsForACallbackMidBlockAndDropsTheWaitingBlock)
{
    std::atomic<bool> inCallback{false};
    ASSERT_EQ(engine.startCapture([&](WaveCapture &capture, CaptureHeader &h) {
        inCallback = true;
        ++delivered;
        while (capture.running()) // a bounded callback: it works until the stop
            std::this_thread::yield();
        capture.requeue(h);
        inCallback = false;
    }),
              kCaptureOk);
    produce(1, 1);
    ASSERT_TRUE(fake.stream->produce(2));
    fake.take();
    EXPECT_TRUE(engine.stopCapture());
    EXPECT_FALSE(inCallback.load());
    EXPECT_EQ(delivered.load(), 1);
    EXPECT_EQ(fake.requeues.load(), 0);
    EXPECT_EQ(fake.take(), kStopCalls);
}

// A stop inside the callback ends delivery without a deadlock; the engine's end or the
// next stop releases the device.
TEST_F(WaveCaptureTest, StopFromInsideTheCallbackEndsDelivery)
{
    auto stopper = [&](WaveCapture &capture, CaptureHeader &h) {
        EXPECT_TRUE(capture.stopCapture());
        capture.requeue(h); // ignored: the capture has ended
        ++delivered;
    };
    {
        FakeBackend local;
        WaveCapture scoped(settings, local);
        ASSERT_EQ(scoped.startCapture(stopper), kCaptureOk);
        ASSERT_TRUE(local.stream->produce(1));
        waitDelivered(1);
    }
    ASSERT_EQ(engine.startCapture(stopper), kCaptureOk);
    produce(1, 2);
    ASSERT_TRUE(fake.stream->produce(2)); // handed over, never delivered
    fake.take();
    EXPECT_FALSE(engine.stopCapture());
    EXPECT_EQ(fake.take(), kStopCalls);
    EXPECT_EQ(fake.requeues.load(), 0);
}

// Mended fault: two buffers of 1024 frames held 21 ms at 96 kHz, less than a busy machine
// keeps the delivery thread waiting. Every format row at every block size a page asks for
// (1024 to 32768 FFT points, 100 ms to 10 s) gets a ring that holds at least 200 ms besides
// the block in the page callback, cut from the engine's memory without overlap.
TEST_F(WaveCaptureTest, RingHoldsTwoHundredMillisecondsAtEveryRowAndBlockSize)
{
    // Worked depths: frames, rate, buffers.
    const std::tuple<std::uint32_t, std::uint32_t, int> worked[] = {
        {1024, 96000, 20},   // 19 x 10.67 ms = 202.7 ms
        {1102, 11025, 4},    // 99.95 ms blocks: 2 would hold 199.9 ms
        {1103, 11025, 3},    // 100.04 ms: 2 hold 200.1 ms
        {19200, 96000, 2},   // exactly 200 ms
        {96000, 96000, 2},   // 1 s
        {1, 96000, kMaxCaptureBuffers},
        {0, 96000, 2}};
    for (const auto &[frames, rate, depth] : worked)
        EXPECT_EQ(captureRingDepth(frames, rate), depth) << frames << " frames at " << rate;

    for (int row = 0; row < kWaveFormatCount; ++row) {
        applyFormatRow(settings, row);
        engine.deriveFormat();
        const std::uint32_t frameBytes = engine.format().blockAlign;
        const double rate = engine.format().samplesPerSec;
        std::vector<std::uint32_t> lengths;
        for (std::uint32_t points = 1024; points <= 32768; points *= 2)
            lengths.push_back(points * frameBytes);
        for (std::uint32_t ms : {100u, 1000u, 10000u})
            lengths.push_back(static_cast<std::uint32_t>(std::uint64_t{ms} *
                                                         engine.format().avgBytesPerSec / 1000));
        for (const std::uint32_t bytes : lengths) {
            SCOPED_TRACE(testing::Message() << "row " << row << ", " << bytes << " bytes");
            ASSERT_EQ(engine.startCaptureBytes(counting(), bytes), kCaptureOk);
            const int n = engine.bufferCount();
            const double blockSeconds = engine.blockLength() / frameBytes / rate;
            EXPECT_GE(n, 2);
            EXPECT_GE((n - 1) * blockSeconds, 0.2);
            EXPECT_LT((n - 2) * blockSeconds, 0.2); // no deeper than it needs
            // The headers queued at the start are the ring's, in order, back to back.
            const Calls calls = fake.take();
            EXPECT_EQ(calls, Calls{"open 0"} + eachHeader("prepare", n) + eachHeader("add", n) +
                                 Calls{"start"});
            EXPECT_TRUE(engine.stopCapture());
            fake.take();
        }
    }
}

// A consumer that stalls while the device fills every other buffer of the ring: nothing is
// lost until the ring is full, blocks arrive whole and in order, the gap after it is counted
// once and stamped on the first block behind it.
TEST_F(WaveCaptureTest, SlowConsumerKeepsOrderAndBoundariesAndTheGapIsStamped)
{
    applyFormatRow(settings, 16); // 96 kHz mono 16-bit
    engine.deriveFormat();
    std::atomic<bool> release{false};
    std::vector<std::tuple<int, bool, std::uint64_t>> got; // value, block uniform, lost before
    ASSERT_EQ(engine.startCaptureBytes(
                  [&](WaveCapture &c, CaptureHeader &h) {
                      while (got.empty() && !release && c.running()) // holds the first block
                          std::this_thread::yield();
                      bool uniform = h.bytesRecorded == 2048;
                      for (std::uint32_t i = 0; i < h.bytesRecorded; ++i)
                          uniform = uniform && h.data[i] == h.data[0];
                      got.emplace_back(h.data[0], uniform, h.lostFramesBefore);
                      c.requeue(h);
                      ++delivered;
                  },
                  1024 * 2),
              kCaptureOk);
    const int depth = engine.bufferCount();
    ASSERT_EQ(depth, 20);
    int value = 0;
    ASSERT_TRUE(fake.stream->tryProduce(static_cast<std::uint8_t>(value++)));
    for (int i = 1; i < depth; ++i) // the callback holds block 0: the rest fill the ring
        ASSERT_TRUE(fake.stream->tryProduce(static_cast<std::uint8_t>(value++))) << i;
    for (bool newGap : {true, false}) { // two periods of one gap: the ring is full
        EXPECT_FALSE(fake.stream->tryProduce(static_cast<std::uint8_t>(value++)));
        fake.stream->lose(1024, newGap);
    }
    release = true;
    waitDelivered(depth);
    for (int i = 0; i < 3; ++i)
        produce(static_cast<std::uint8_t>(value++), depth + i + 1);
    EXPECT_TRUE(engine.stopCapture());
    std::vector<std::tuple<int, bool, std::uint64_t>> expected;
    for (int v = 0; v < depth; ++v)
        expected.emplace_back(v, true, 0);
    for (int v = depth + 2; v < depth + 5; ++v)
        expected.emplace_back(v, true, 2048);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(std::tuple(engine.lostFrames(), engine.lostEvents()), std::tuple(2048u, 1u));
}

// The continuously capturing pages' lost-audio note.
TEST(LostAudioText, NothingWhenNoneLostElseGapsAndMilliseconds)
{
    const std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, const char *> cases[] = {
        {0, 0, 96000, ""},
        {1024, 1, 96000, "Audio lost: 1 gap, 10.7 ms"}, // 10.667 rounded up
        {3072, 3, 96000, "Audio lost: 3 gaps, 32.0 ms"},
        {1, 1, 11025, "Audio lost: 1 gap, 0.1 ms"},
        {441000, 2, 44100, "Audio lost: 2 gaps, 10000.0 ms"}};
    for (const auto &[frames, gaps, rate, text] : cases)
        EXPECT_EQ(lostAudioText(frames, gaps, rate), text);
}

TEST(DeviceNamesTest, DuplicatesGetNumberedInListOrder)
{
    EXPECT_EQ(uniqueDeviceNames({"USB Audio", "HDA", "USB Audio", "USB Audio"}),
              (Calls{"USB Audio", "HDA", "USB Audio (2)", "USB Audio (3)"}));
    EXPECT_EQ(uniqueDeviceNames({"X", "X", "X (2)"}), (Calls{"X", "X (3)", "X (2)"}));
}

} // namespace
} // namespace quillon
