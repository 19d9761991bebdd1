#include "FakeBackend.h"

#include "app/Settings.h"
#include "capture/DeviceList.h"
#include "capture/PortAudioBackend.h"
#include "capture/WaveCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>

namespace quillon {
namespace {

using test::FakeBackend;
using Calls = std::vector<std::string>;
using Step = FakeBackend::Step;

const Calls kStartCalls{"open 0", "prepare 1", "prepare 2", "add 1", "add 2", "start"};
const Calls kStopCalls{"reset", "unprepare 1", "unprepare 2", "close"};

// Counts events of another thread; the test thread waits for a count. The wait's limit
// only keeps a broken build from hanging: no test depends on timing.
struct EventCount
{
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    void bump()
    {
        {
            std::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    bool waitFor(int target)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return count >= target; });
    }
    int value()
    {
        std::lock_guard lock(mutex);
        return count;
    }
};

Calls concat(Calls a, const Calls &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class WaveCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
        settings.captureTimeMs = 100;
        engine.DeriveFormat();
    }

    // A callback that counts, advances the block counter and re-queues.
    CaptureCallback countingCallback()
    {
        return [this](WaveCapture &capture, CaptureHeader &h) {
            positions.push_back(capture.nextBlock());
            firstBytes.push_back(h.data[0]);
            recorded.push_back(h.bytesRecorded);
            capture.requeue(h);
            delivered.bump();
        };
    }

    Settings settings;
    FakeBackend fake;
    EventCount delivered;
    // Written by the delivery thread, read after delivered.waitFor().
    std::vector<int> positions;
    std::vector<int> firstBytes;
    std::vector<std::uint32_t> recorded;
    // Last: destroyed (and stopped) before everything its callbacks use.
    WaveCapture engine{settings, fake};
};

// --- block length ---

struct LengthCase
{
    int formatRow;
    std::uint32_t timeMs;
    std::uint32_t expectedLength;
};

class BlockLengthTest : public WaveCaptureTest, public ::testing::WithParamInterface<LengthCase>
{
};

TEST_P(BlockLengthTest, StartCaptureUsesWholeFramesOfTheCaptureTime)
{
    const LengthCase c = GetParam();
    applyFormatRow(settings, c.formatRow);
    settings.captureTimeMs = c.timeMs;
    engine.DeriveFormat();
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_EQ(engine.blockLength(), c.expectedLength);
    EXPECT_EQ(engine.blockLength() % engine.format().blockAlign, 0u);
    EXPECT_TRUE(engine.StopCapture());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, BlockLengthTest,
    ::testing::Values(
        // 10 s of 96 kHz stereo 24-bit: 576,000 bytes/s; the product 5.76e9 needs 64 bits.
        LengthCase{19, 10000, 5'760'000},
        // 100 ms of 11.025 kHz mono 16-bit is 2205 bytes: half a frame too many. A frame
        // straddling two blocks would shift every sample of the next block by one byte.
        LengthCase{0, 100, 2204},
        // 100 ms of 11.025 kHz mono 24-bit: 3307 bytes -> 1102 frames of 3 bytes.
        LengthCase{1, 100, 3306},
        // 100 ms of 11.025 kHz stereo 24-bit: 6615 bytes -> 1102 frames of 6 bytes.
        LengthCase{3, 100, 6612},
        // 1 s of 44.1 kHz stereo 16-bit: already whole frames.
        LengthCase{10, 1000, 176'400}));

struct BytesCase
{
    int formatRow;
    std::uint32_t requested;
    std::uint32_t expectedLength; // 0: refused with kCaptureInvalidParam
};

class StartBytesTest : public WaveCaptureTest, public ::testing::WithParamInterface<BytesCase>
{
};

TEST_P(StartBytesTest, RoundsDownToWholeFramesOrRefuses)
{
    const BytesCase c = GetParam();
    applyFormatRow(settings, c.formatRow);
    engine.DeriveFormat();
    const int rc = engine.StartCaptureBytes(countingCallback(), c.requested);
    if (c.expectedLength == 0) {
        EXPECT_EQ(rc, kCaptureInvalidParam);
        EXPECT_FALSE(engine.running());
        EXPECT_TRUE(fake.log.take().empty()); // refused before the device was touched
        return;
    }
    ASSERT_EQ(rc, kCaptureOk);
    EXPECT_EQ(engine.blockLength(), c.expectedLength);
    EXPECT_TRUE(engine.StopCapture());
}

INSTANTIATE_TEST_SUITE_P(Lengths, StartBytesTest,
                         ::testing::Values(BytesCase{1, 3 * 1000 + 2, 3000},    // 3-byte frames
                                           BytesCase{3, 6 * 1000 + 5, 6000},    // 6-byte frames
                                           BytesCase{3, 6 * 32768, 196'608},    // largest FFT
                                           BytesCase{19, 6'000'000, 6'000'000}, // a buffer
                                           BytesCase{18, 6'000'000, 6'000'000},
                                           BytesCase{19, 6'000'001, 0}, // over a buffer
                                           BytesCase{19, 5, 0},         // below one frame
                                           BytesCase{0, 0, 0}));

TEST_F(WaveCaptureTest, StartRefusesAnEmptyCallback)
{
    EXPECT_EQ(engine.StartCaptureBytes(CaptureCallback{}, 2000), kCaptureInvalidParam);
    EXPECT_FALSE(engine.running());
    EXPECT_TRUE(fake.log.take().empty());
}

// --- format and probe ---

TEST_F(WaveCaptureTest, DeriveFormatFollowsSettings)
{
    applyFormatRow(settings, 17);
    engine.DeriveFormat();
    EXPECT_EQ(engine.format().samplesPerSec, 96000u);
    EXPECT_EQ(engine.format().channels, 1);
    EXPECT_EQ(engine.format().bitsPerSample, 24);
    EXPECT_EQ(engine.format().blockAlign, 3);
    EXPECT_EQ(engine.format().avgBytesPerSec, 288'000u);
}

TEST_F(WaveCaptureTest, ProbeOpensAndClosesAtOnce)
{
    applyFormatRow(settings, 15);
    engine.DeriveFormat();
    EXPECT_TRUE(engine.ProbeDevice());
    EXPECT_EQ(fake.log.take(), (Calls{"open 0", "close"}));
    EXPECT_EQ(fake.lastFormat.samplesPerSec, 48000u);
    EXPECT_EQ(fake.lastFormat.blockAlign, 6);
    EXPECT_FALSE(engine.running());
}

TEST_F(WaveCaptureTest, ProbeFailsForARefusedFormatOrAMissingDevice)
{
    fake.failAt = Step::Open;
    fake.failCode = kCaptureBadFormat;
    EXPECT_FALSE(engine.ProbeDevice());
    EXPECT_EQ(fake.log.take(), (Calls{"open 0"}));

    fake.failAt = Step::None;
    settings.waveInDevice = 3;
    EXPECT_FALSE(engine.ProbeDevice());
    settings.waveInDevice = -1; // none chosen
    EXPECT_FALSE(engine.ProbeDevice());
    EXPECT_EQ(fake.log.take(), (Calls{"open 3", "open -1"}));
}

// --- start and stop sequences ---

TEST_F(WaveCaptureTest, StartRunsTheSequenceAndStopUndoesIt)
{
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(fake.log.take(), kStartCalls);
    EXPECT_TRUE(engine.StopCapture());
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(fake.log.take(), kStopCalls);
    EXPECT_EQ(fake.stream(), nullptr);
}

TEST_F(WaveCaptureTest, StopWhileIdleReturnsFalseAndCallsNothing)
{
    EXPECT_FALSE(engine.StopCapture()); // never started
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_TRUE(engine.StopCapture());
    fake.log.take();
    EXPECT_FALSE(engine.StopCapture()); // stopped already
    EXPECT_TRUE(fake.log.take().empty());
}

struct FailCase
{
    Step step;
    Calls calls;
};

class StartFailureTest : public WaveCaptureTest, public ::testing::WithParamInterface<FailCase>
{
};

TEST_P(StartFailureTest, UndoesTheStepsDoneAndReturnsTheCode)
{
    fake.failAt = GetParam().step;
    fake.failCode = kCaptureAllocated;
    EXPECT_EQ(engine.StartCapture(countingCallback()), kCaptureAllocated);
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(fake.log.take(), GetParam().calls);
    EXPECT_EQ(fake.stream(), nullptr);
    // The engine is idle: nothing left to stop, and a later start works.
    EXPECT_FALSE(engine.StopCapture());
    EXPECT_TRUE(fake.log.take().empty());
    fake.failAt = Step::None;
    EXPECT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_EQ(fake.log.take(), kStartCalls);
}

const Calls kUndoAll{"unprepare 1", "unprepare 2", "close"};

INSTANTIATE_TEST_SUITE_P(
    Steps, StartFailureTest,
    ::testing::Values(
        FailCase{Step::Open, {"open 0"}},
        FailCase{Step::Prepare1, {"open 0", "prepare 1", "close"}},
        FailCase{Step::Prepare2, {"open 0", "prepare 1", "prepare 2", "unprepare 1", "close"}},
        FailCase{Step::Add1, concat({"open 0", "prepare 1", "prepare 2", "add 1"}, kUndoAll)},
        FailCase{Step::Add2,
                 concat({"open 0", "prepare 1", "prepare 2", "add 1", "add 2"}, kUndoAll)},
        FailCase{Step::Start, concat(kStartCalls, kUndoAll)}));

TEST_F(WaveCaptureTest, StartOnAMissingDeviceReportsBadDevice)
{
    settings.waveInDevice = 1;
    EXPECT_EQ(engine.StartCapture(countingCallback()), kCaptureBadDevice);
    EXPECT_FALSE(engine.running());
}

TEST_F(WaveCaptureTest, StartWhileRunningStopsFirstAndResetsTheCounter)
{
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(fake.stream()->produce(static_cast<std::uint8_t>(i)));
        ASSERT_TRUE(delivered.waitFor(i + 1));
    }
    EXPECT_EQ(engine.blockCounter(), 3);
    fake.log.take();

    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_EQ(fake.log.take(), concat(kStopCalls, kStartCalls));
    EXPECT_EQ(engine.blockCounter(), 0);
    ASSERT_TRUE(fake.stream()->produce(7));
    ASSERT_TRUE(delivered.waitFor(4));
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 0}));
}

// --- delivery ---

TEST_F(WaveCaptureTest, DeliversEachBlockWithItsBytesInOrder)
{
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    // Both buffers are queued: two blocks can be produced before any re-queue.
    ASSERT_TRUE(fake.stream()->produce(10));
    ASSERT_TRUE(fake.stream()->produce(11));
    ASSERT_TRUE(delivered.waitFor(2));
    ASSERT_TRUE(fake.stream()->produce(12, 100)); // a short block
    ASSERT_TRUE(delivered.waitFor(3));
    EXPECT_EQ(firstBytes, (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(recorded, (std::vector<std::uint32_t>{2204, 2204, 100}));
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(fake.requeues.load(), 3);
    EXPECT_EQ(engine.lostFrames(), 0u);
}

TEST_F(WaveCaptureTest, WithoutARequeueAudioIsLostAndCountedUntilTheNextStart)
{
    EventCount held;
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &, CaptureHeader &) { held.bump(); }), 0);
    ASSERT_TRUE(fake.stream()->produce(1));
    ASSERT_TRUE(fake.stream()->produce(2));
    ASSERT_TRUE(held.waitFor(2));
    EXPECT_FALSE(fake.stream()->produce(3)); // neither buffer came back
    EXPECT_FALSE(fake.stream()->produce(4));
    EXPECT_EQ(engine.lostFrames(), 2u);
    EXPECT_EQ(engine.lostEvents(), 2u);

    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_EQ(engine.lostFrames(), 0u);
    EXPECT_EQ(engine.lostEvents(), 0u);
}

TEST_F(WaveCaptureTest, StopWaitsForACallbackMidBlockAndDropsTheWaitingBlock)
{
    std::atomic<int> calls{0};
    std::atomic<bool> inCallback{false};
    EventCount entered;
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &capture, CaptureHeader &h) {
        inCallback = true;
        ++calls;
        entered.bump();
        // A bounded callback: it works until the stop clears the flag.
        while (capture.running())
            std::this_thread::yield();
        capture.requeue(h); // too late: ignored
        inCallback = false;
    }),
              kCaptureOk);
    ASSERT_TRUE(fake.stream()->produce(1));
    ASSERT_TRUE(entered.waitFor(1));
    ASSERT_TRUE(fake.stream()->produce(2)); // waits in the full ring
    fake.log.take();

    EXPECT_TRUE(engine.StopCapture());
    // Once StopCapture has returned no callback runs; the waiting block was dropped.
    EXPECT_FALSE(inCallback.load());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(fake.requeues.load(), 0);
    EXPECT_EQ(fake.log.take(), kStopCalls);
}

TEST_F(WaveCaptureTest, StopFromInsideTheCallbackEndsDeliveryWithoutDeadlock)
{
    std::atomic<int> calls{0};
    std::atomic<bool> stopResult{false};
    EventCount done;
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &capture, CaptureHeader &h) {
        ++calls;
        stopResult = capture.StopCapture();
        capture.requeue(h); // ignored: the capture has ended
        done.bump();
    }),
              kCaptureOk);
    fake.log.take();
    ASSERT_TRUE(fake.stream()->produce(1));
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(stopResult.load());
    EXPECT_FALSE(engine.running());
    ASSERT_TRUE(fake.stream()->produce(2)); // handed over, never delivered
    EXPECT_EQ(fake.requeues.load(), 0);

    // The window thread's stop releases the device; the capture was stopped already.
    EXPECT_FALSE(engine.StopCapture());
    EXPECT_EQ(fake.log.take(), kStopCalls);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(engine.StopCapture());
    EXPECT_TRUE(fake.log.take().empty());
}

TEST_F(WaveCaptureTest, AStartOrTheEndAfterAStopFromTheCallbackReleasesTheDevice)
{
    auto stopper = [](WaveCapture &capture, CaptureHeader &) {
        capture.StopCapture();
    };
    {
        FakeBackend local;
        WaveCapture scoped(settings, local);
        ASSERT_EQ(scoped.StartCapture(stopper), kCaptureOk);
        ASSERT_TRUE(local.stream()->produce(1));
        local.log.take();
        // ~WaveCapture joins the delivery thread and closes the device.
    }
    ASSERT_EQ(engine.StartCapture(stopper), kCaptureOk);
    ASSERT_TRUE(fake.stream()->produce(1));
    while (engine.running()) // the callback stops the capture
        std::this_thread::yield();
    fake.log.take();
    ASSERT_EQ(engine.StartCapture(countingCallback()), kCaptureOk);
    EXPECT_EQ(fake.log.take(), concat(kStopCalls, kStartCalls));
    ASSERT_TRUE(fake.stream()->produce(5));
    ASSERT_TRUE(delivered.waitFor(1));
    EXPECT_EQ(positions, (std::vector<int>{0}));
}

TEST_F(WaveCaptureTest, ManyStartStopCyclesAgainstARunningProducer)
{
    // The stream's own thread produces as fast as it can; every cycle stops after a
    // different number of blocks, sometimes before the first. A callback of an old
    // capture must never run once its StopCapture has returned.
    fake.autoProduce = true;
    std::atomic<int> currentCycle{-1};
    std::atomic<int> staleCallbacks{0};
    std::atomic<int> badBlocks{0};
    for (int cycle = 0; cycle < 200; ++cycle) {
        EventCount blocks;
        currentCycle = cycle;
        ASSERT_EQ(engine.StartCapture([&, cycle](WaveCapture &capture, CaptureHeader &h) {
            if (currentCycle.load() != cycle)
                ++staleCallbacks;
            if (h.bytesRecorded != capture.blockLength())
                ++badBlocks;
            capture.nextBlock();
            capture.requeue(h);
            blocks.bump();
        }),
                  kCaptureOk);
        ASSERT_TRUE(blocks.waitFor(cycle % 4));
        EXPECT_TRUE(engine.StopCapture());
        EXPECT_GE(engine.blockCounter(), cycle % 4);
    }
    currentCycle = -1;
    EXPECT_EQ(staleCallbacks.load(), 0);
    EXPECT_EQ(badBlocks.load(), 0);
}

// --- device list ---

TEST(DeviceListTest, NumbersTheDevicesOfItsBackendsInOrder)
{
    FakeBackend first;
    first.names = {"A", "B"};
    auto second = std::make_unique<FakeBackend>();
    second->names = {"C"};
    FakeBackend &secondRef = *second;
    DeviceList list;
    EXPECT_EQ(list.deviceCount(), 0);
    list.addBackend(first);
    list.addBackend(std::move(second));
    ASSERT_EQ(list.deviceCount(), 3);

    DeviceCaps caps;
    ASSERT_TRUE(list.deviceCaps(2, caps));
    EXPECT_EQ(caps.productName, "C");
    EXPECT_FALSE(list.deviceCaps(3, caps));
    EXPECT_FALSE(list.deviceCaps(-1, caps));
    EXPECT_EQ(list.findDevice("B"), 1);
    EXPECT_EQ(list.findDevice("C"), 2);
    EXPECT_EQ(list.findDevice("Z"), -1);

    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    EXPECT_EQ(list.open(2, CaptureFormat{}, queue, stream), kCaptureOk);
    EXPECT_NE(stream, nullptr);
    EXPECT_EQ(secondRef.log.take(), (Calls{"open 0"})); // local index 0 of the second
    EXPECT_TRUE(first.log.take().empty());
    stream.reset();
    EXPECT_EQ(list.open(3, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(list.open(-1, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
}

TEST(DeviceListTest, EngineCapturesFromTheSecondBackend)
{
    FakeBackend first;
    FakeBackend second;
    DeviceList list;
    list.addBackend(first);
    list.addBackend(second);
    Settings settings;
    settings.waveInDevice = 1;
    WaveCapture engine(settings, list);
    EXPECT_TRUE(engine.ProbeDevice());
    ASSERT_EQ(engine.StartCaptureBytes([](WaveCapture &, CaptureHeader &) {}, 400), kCaptureOk);
    EXPECT_EQ(second.log.take(), concat({"open 0", "close"}, kStartCalls));
    EXPECT_TRUE(first.log.take().empty());
}

TEST(DeviceNamesTest, DuplicatesGetNumberedInListOrder)
{
    EXPECT_EQ(uniqueDeviceNames({"USB Audio", "HDA", "USB Audio", "USB Audio"}),
              (Calls{"USB Audio", "HDA", "USB Audio (2)", "USB Audio (3)"}));
    // A name that already exists is not handed out again.
    EXPECT_EQ(uniqueDeviceNames({"X", "X", "X (2)"}), (Calls{"X", "X (3)", "X (2)"}));
    EXPECT_TRUE(uniqueDeviceNames({}).empty());
}

} // namespace
} // namespace quillon
