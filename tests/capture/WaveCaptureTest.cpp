// The capture engine against a fake device: block lengths, the start and stop sequences
// with their undo paths, and the hand-over of blocks to the page callback. Engine over the
// virtual bench: BenchEndToEndTest; over PortAudio: PortAudioCaptureTest.

#include "capture/WaveCapture.h"
#include "app/Settings.h"
#include "capture/DeviceList.h"
#include "capture/PortAudioBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <tuple>

namespace quillon {
namespace {

// A capture backend whose one stream is driven by the test: produce() plays the part of
// the device's producer. Logs every call the engine makes ("open 0", "prepare 1", ...,
// "close"), on the window thread only, and fails the call named by `failAt`.
class FakeBackend : public AudioBackend
{
public:
    class Stream : public InputStream
    {
    public:
        Stream(FakeBackend &owner, BlockQueue &queue) : InputStream(queue), m_owner(owner) {}
        ~Stream() override
        {
            stopProducer();
            m_owner.m_stream = nullptr;
        }
        int prepare(CaptureHeader &h) override
        {
            const int rc = m_owner.call("prepare " + std::to_string(h.index + 1));
            return rc != kCaptureOk ? rc : InputStream::prepare(h);
        }
        int unprepare(CaptureHeader &h) override
        {
            m_owner.call("unprepare " + std::to_string(h.index + 1));
            return InputStream::unprepare(h);
        }
        // Also the callbacks' re-queue (delivery thread): counted, not logged.
        int addBuffer(CaptureHeader &h) override
        {
            if (m_started) {
                ++m_owner.requeues;
            } else if (const int rc = m_owner.call("add " + std::to_string(h.index + 1))) {
                return rc;
            }
            return InputStream::addBuffer(h);
        }
        int start() override
        {
            if (const int rc = m_owner.call("start"))
                return rc;
            m_started = true;
            if (m_owner.autoProduce) { // a device much faster than real time
                m_producer = std::thread([this] {
                    for (std::uint8_t next = 0; !m_stop; std::this_thread::yield())
                        next += produce(next);
                });
            }
            return kCaptureOk;
        }
        // Like a device: once reset() has returned the producer touches no header.
        void reset() override
        {
            m_owner.call("reset");
            stopProducer();
        }
        void close() override { m_owner.call("close"); }

        // Fills the next free header with `bytes` bytes (all of it when 0) of `value` and
        // hands it over; false, and a frame counted as lost, when no header is free.
        bool produce(std::uint8_t value, std::uint32_t bytes = 0)
        {
            CaptureHeader *h = queue().tryPopFree();
            if (h == nullptr) {
                queue().addLostFrames(1);
                return false;
            }
            h->bytesRecorded = bytes != 0 ? bytes : h->bufferLength;
            std::memset(h->data, value, h->bytesRecorded);
            queue().pushFull(h);
            return true;
        }

    private:
        void stopProducer()
        {
            m_stop = true;
            if (m_producer.joinable())
                m_producer.join();
        }
        FakeBackend &m_owner;
        std::atomic<bool> m_started{false}, m_stop{false};
        std::thread m_producer;
    };

    int deviceCount() override { return static_cast<int>(names.size()); }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        if (device < 0 || device >= deviceCount())
            return false;
        caps.productName = names[static_cast<std::size_t>(device)];
        return true;
    }
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        lastFormat = format;
        const int rc = call("open " + std::to_string(device));
        if (device < 0 || device >= deviceCount())
            return kCaptureBadDevice;
        if (rc != kCaptureOk)
            return rc;
        stream = std::make_unique<Stream>(*this, queue);
        m_stream = static_cast<Stream *>(stream.get());
        return kCaptureOk;
    }

    int call(const std::string &name)
    {
        calls.push_back(name);
        return name == failAt ? failCode : kCaptureOk;
    }
    std::vector<std::string> take() { return std::exchange(calls, {}); }
    // The open stream, or nullptr.
    Stream *stream() { return m_stream; }

    std::vector<std::string> names{"Fake A"};
    std::vector<std::string> calls;
    std::string failAt; // e.g. "prepare 2"
    int failCode = kCaptureError;
    std::atomic<int> requeues{0};
    bool autoProduce = false; // the stream runs its own producer thread once started
    CaptureFormat lastFormat;

private:
    Stream *m_stream = nullptr;
};

using Calls = std::vector<std::string>;

const Calls kStartCalls{"open 0", "prepare 1", "prepare 2", "add 1", "add 2", "start"};
const Calls kStopCalls{"reset", "unprepare 1", "unprepare 2", "close"};

Calls operator+(Calls a, const Calls &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Counts events of another thread; the test thread waits for a count. The wait's limit
// only keeps a broken build from hanging.
struct EventCount
{
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    void bump()
    {
        const std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    bool waitFor(int target)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return count >= target; });
    }
};

class WaveCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        applyFormatRow(settings, 0); // 11.025 kHz mono 16-bit
        settings.captureTimeMs = 100;
        engine.DeriveFormat();
    }
    // A callback that records each block, advances the block counter and re-queues.
    CaptureCallback counting()
    {
        return [this](WaveCapture &capture, CaptureHeader &h) {
            positions.push_back(capture.nextBlock());
            firstBytes.push_back(h.data[0]);
            recorded.push_back(h.bytesRecorded);
            capture.requeue(h);
            delivered.bump();
        };
    }
    void produce(std::uint8_t value, int deliveredCount)
    {
        ASSERT_TRUE(fake.stream()->produce(value));
        ASSERT_TRUE(delivered.waitFor(deliveredCount));
    }

    Settings settings;
    FakeBackend fake;
    EventCount delivered;
    // Written by the delivery thread, read after delivered.waitFor().
    std::vector<int> positions, firstBytes;
    std::vector<std::uint32_t> recorded;
    // Last: destroyed (and stopped) before everything its callbacks use.
    WaveCapture engine{settings, fake};
};

// Block lengths are whole frames (a frame straddling two blocks would shift every sample of
// the next block by a byte); lengths that round to 0 or exceed a buffer are refused before
// the device is touched.
TEST_F(WaveCaptureTest, BlockLengthIsWholeFramesOrRefused)
{
    struct Case
    {
        int row;
        std::uint32_t ms, bytes; // StartCapture(ms) when bytes is 0
        std::uint32_t expected;  // 0: kCaptureInvalidParam
    };
    const Case cases[] = {
        {19, 10000, 0, 5'760'000},  // 10 s of 96 kHz stereo 24-bit: the product needs 64 bits
        {0, 100, 0, 2204},          // 2205 bytes of 11.025 kHz mono 16-bit
        {1, 100, 0, 3306},          // 3307 bytes -> 1102 frames of 3 bytes
        {3, 100, 0, 6612},          // 6615 bytes -> 1102 frames of 6 bytes
        {10, 1000, 0, 176'400},     // whole frames already
        {3, 0, 6 * 32768, 196'608}, // the largest FFT
        {18, 0, 6'000'000, 6'000'000},
        {19, 0, 6'000'000, 6'000'000}, // a whole buffer
        {19, 0, 6'000'001, 0},
        {19, 0, 5, 0},
        {0, 0, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << ", " << c.ms << " ms, " << c.bytes);
        applyFormatRow(settings, c.row);
        settings.captureTimeMs = c.ms;
        engine.DeriveFormat();
        const int rc = c.bytes != 0 || c.ms == 0 ? engine.StartCaptureBytes(counting(), c.bytes)
                                                 : engine.StartCapture(counting());
        if (c.expected == 0) {
            EXPECT_EQ(rc, kCaptureInvalidParam);
            EXPECT_FALSE(engine.running());
            EXPECT_TRUE(fake.take().empty());
        } else {
            EXPECT_EQ(rc, kCaptureOk);
            EXPECT_EQ(engine.blockLength(), c.expected);
            EXPECT_TRUE(engine.StopCapture());
            fake.take();
        }
    }
    EXPECT_EQ(engine.StartCaptureBytes(CaptureCallback{}, 2000), kCaptureInvalidParam);
    EXPECT_TRUE(fake.take().empty());
}

TEST_F(WaveCaptureTest, ProbeOpensWithTheDerivedFormatAndClosesAtOnce)
{
    applyFormatRow(settings, 17); // 96 kHz mono 24-bit
    engine.DeriveFormat();
    EXPECT_TRUE(engine.ProbeDevice());
    EXPECT_EQ(fake.take(), (Calls{"open 0", "close"}));
    const CaptureFormat &f = fake.lastFormat;
    EXPECT_EQ(std::tuple(f.formatTag, f.samplesPerSec, f.channels, f.bitsPerSample, f.blockAlign,
                         f.avgBytesPerSec),
              std::tuple(1, 96000u, 1, 24, 3, 288'000u));
    EXPECT_FALSE(engine.running());
}

TEST_F(WaveCaptureTest, ProbeAndStartFailForARefusedFormatOrAMissingDevice)
{
    fake.failAt = "open 0";
    fake.failCode = kCaptureBadFormat;
    EXPECT_FALSE(engine.ProbeDevice());
    EXPECT_EQ(engine.StartCapture(counting()), kCaptureBadFormat);
    fake.failAt.clear();
    for (int device : {1, -1}) { // -1: none chosen
        settings.waveInDevice = device;
        EXPECT_FALSE(engine.ProbeDevice());
        EXPECT_EQ(engine.StartCapture(counting()), kCaptureBadDevice);
    }
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(fake.take(), (Calls{"open 0", "open 0", "open 1", "open 1", "open -1", "open -1"}));
}

TEST_F(WaveCaptureTest, StartRunsTheSequenceAndStopUndoesIt)
{
    EXPECT_FALSE(engine.StopCapture()); // never started: nothing to call
    ASSERT_EQ(engine.StartCapture(counting()), kCaptureOk);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(fake.take(), kStartCalls);
    EXPECT_TRUE(engine.StopCapture());
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(fake.take(), kStopCalls);
    EXPECT_EQ(fake.stream(), nullptr);
    EXPECT_FALSE(engine.StopCapture()); // stopped already
    EXPECT_TRUE(fake.take().empty());
}

// A failed step undoes exactly the steps before it, returns the device's code and leaves
// the engine idle; a later start works.
TEST_F(WaveCaptureTest, StartFailureUndoesTheStepsDone)
{
    const Calls undoAll{"unprepare 1", "unprepare 2", "close"};
    const std::pair<std::string, Calls> cases[] = {
        {"open 0", {"open 0"}},
        {"prepare 1", {"open 0", "prepare 1", "close"}},
        {"prepare 2", {"open 0", "prepare 1", "prepare 2", "unprepare 1", "close"}},
        {"add 1", Calls{"open 0", "prepare 1", "prepare 2", "add 1"} + undoAll},
        {"add 2", Calls{"open 0", "prepare 1", "prepare 2", "add 1", "add 2"} + undoAll},
        {"start", kStartCalls + undoAll}};
    fake.failCode = kCaptureAllocated;
    for (const auto &[step, calls] : cases) {
        SCOPED_TRACE(step);
        fake.failAt = step;
        EXPECT_EQ(engine.StartCapture(counting()), kCaptureAllocated);
        EXPECT_FALSE(engine.running());
        EXPECT_EQ(fake.take(), calls);
        EXPECT_EQ(fake.stream(), nullptr);
        EXPECT_FALSE(engine.StopCapture());
        EXPECT_TRUE(fake.take().empty());
    }
    fake.failAt.clear();
    EXPECT_EQ(engine.StartCapture(counting()), kCaptureOk);
    EXPECT_EQ(fake.take(), kStartCalls);
}

TEST_F(WaveCaptureTest, DeliversEachBlockWithItsBytesInOrder)
{
    ASSERT_EQ(engine.StartCapture(counting()), kCaptureOk);
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

TEST_F(WaveCaptureTest, StartWhileRunningStopsFirstAndResetsCounterAndLostAudio)
{
    EventCount held; // the callback keeps both blocks: audio is lost
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &c, CaptureHeader &) {
        c.nextBlock();
        held.bump();
    }),
              kCaptureOk);
    ASSERT_TRUE(fake.stream()->produce(1));
    ASSERT_TRUE(fake.stream()->produce(2));
    ASSERT_TRUE(held.waitFor(2));
    EXPECT_FALSE(fake.stream()->produce(3));
    EXPECT_FALSE(fake.stream()->produce(4));
    EXPECT_EQ(engine.lostFrames(), 2u);
    EXPECT_EQ(engine.lostEvents(), 2u);
    EXPECT_EQ(engine.blockCounter(), 2);
    fake.take();

    ASSERT_EQ(engine.StartCapture(counting()), kCaptureOk);
    EXPECT_EQ(fake.take(), kStopCalls + kStartCalls);
    EXPECT_EQ(engine.blockCounter(), 0);
    EXPECT_EQ(engine.lostFrames(), 0u);
    EXPECT_EQ(engine.lostEvents(), 0u);
    produce(7, 1);
    EXPECT_EQ(positions, (std::vector<int>{0}));
}

// Once StopCapture has returned no callback runs; a block waiting behind the running
// callback is dropped, and a re-queue after the stop is ignored.
TEST_F(WaveCaptureTest, StopWaitsForACallbackMidBlockAndDropsTheWaitingBlock)
{
    std::atomic<int> calls{0};
    std::atomic<bool> inCallback{false};
    EventCount entered;
    ASSERT_EQ(engine.StartCapture([&](WaveCapture &capture, CaptureHeader &h) {
        inCallback = true;
        ++calls;
        entered.bump();
        while (capture.running()) // a bounded callback: it works until the stop
            std::this_thread::yield();
        capture.requeue(h);
        inCallback = false;
    }),
              kCaptureOk);
    ASSERT_TRUE(fake.stream()->produce(1));
    ASSERT_TRUE(entered.waitFor(1));
    ASSERT_TRUE(fake.stream()->produce(2));
    fake.take();
    EXPECT_TRUE(engine.StopCapture());
    EXPECT_FALSE(inCallback.load());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(fake.requeues.load(), 0);
    EXPECT_EQ(fake.take(), kStopCalls);
}

// A stop from inside the callback ends delivery without a deadlock; the device is released
// by the next stop, start or the engine's end on the window thread.
TEST_F(WaveCaptureTest, StopFromInsideTheCallbackEndsDelivery)
{
    auto stopper = [&](WaveCapture &capture, CaptureHeader &h) {
        EXPECT_TRUE(capture.StopCapture());
        capture.requeue(h); // ignored: the capture has ended
        delivered.bump();
    };
    {
        FakeBackend local;
        WaveCapture scoped(settings, local);
        ASSERT_EQ(scoped.StartCapture(stopper), kCaptureOk);
        ASSERT_TRUE(local.stream()->produce(1));
        ASSERT_TRUE(delivered.waitFor(1));
    } // ~WaveCapture joins the delivery thread and closes the device
    ASSERT_EQ(engine.StartCapture(stopper), kCaptureOk);
    produce(1, 2);
    EXPECT_FALSE(engine.running());
    ASSERT_TRUE(fake.stream()->produce(2)); // handed over, never delivered
    fake.take();
    EXPECT_FALSE(engine.StopCapture()); // stopped already, but releases the device
    EXPECT_EQ(fake.take(), kStopCalls);
    EXPECT_EQ(fake.requeues.load(), 0);

    ASSERT_EQ(engine.StartCapture(stopper), kCaptureOk);
    produce(3, 3);
    fake.take();
    ASSERT_EQ(engine.StartCapture(counting()), kCaptureOk);
    EXPECT_EQ(fake.take(), kStopCalls + kStartCalls);
    produce(5, 4);
    EXPECT_EQ(positions, (std::vector<int>{0}));
}

// The stream's own thread produces as fast as it can; every cycle stops after a different
// number of blocks, sometimes before the first. A callback of an old capture must never
// run once its StopCapture has returned.
TEST_F(WaveCaptureTest, ManyStartStopCyclesAgainstARunningProducer)
{
    fake.autoProduce = true;
    std::atomic<int> currentCycle{-1}, staleCallbacks{0}, badBlocks{0};
    for (int cycle = 0; cycle < 200; ++cycle) {
        EventCount blocks;
        currentCycle = cycle;
        ASSERT_EQ(engine.StartCapture([&, cycle](WaveCapture &capture, CaptureHeader &h) {
            staleCallbacks += currentCycle.load() != cycle;
            badBlocks += h.bytesRecorded != capture.blockLength();
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

// The engine through a list of two backends is BenchEndToEndTest's set-up.
TEST(DeviceListTest, NumbersTheDevicesOfItsBackendsInOrder)
{
    FakeBackend first;
    first.names = {"A", "B"};
    auto owned = std::make_unique<FakeBackend>(); // the list may own a backend
    FakeBackend &second = *owned;
    second.names = {"C"};
    DeviceList list;
    list.addBackend(first);
    list.addBackend(std::move(owned));
    ASSERT_EQ(list.deviceCount(), 3);
    DeviceCaps caps;
    ASSERT_TRUE(list.deviceCaps(2, caps));
    EXPECT_EQ(caps.productName, "C");
    EXPECT_FALSE(list.deviceCaps(3, caps));
    EXPECT_FALSE(list.deviceCaps(-1, caps));
    EXPECT_EQ(list.findDevice("B"), 1);
    EXPECT_EQ(list.findDevice("Z"), -1);

    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    EXPECT_EQ(list.open(2, CaptureFormat{}, queue, stream), kCaptureOk);
    EXPECT_EQ(second.take(), (Calls{"open 0"})); // local index 0 of the second
    EXPECT_TRUE(first.take().empty());
    stream.reset();
    EXPECT_EQ(list.open(3, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(list.open(-1, CaptureFormat{}, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
}

TEST(DeviceNamesTest, DuplicatesGetNumberedInListOrder)
{
    EXPECT_EQ(uniqueDeviceNames({"USB Audio", "HDA", "USB Audio", "USB Audio"}),
              (Calls{"USB Audio", "HDA", "USB Audio (2)", "USB Audio (3)"}));
    // A name that already exists is not handed out again.
    EXPECT_EQ(uniqueDeviceNames({"X", "X", "X (2)"}), (Calls{"X", "X (3)", "X (2)"}));
}

} // namespace
} // namespace quillon
