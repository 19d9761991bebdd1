// The live meter: the ON, OFF, OFF, ON order and the blocks it drops (a device whose samples
// follow the switch outputs sample by sample, so that a block captured across a switch
// shows), the drift cancellation, the smoothing as it fills, the calibration and its checks,
// the hand-over between the delivery, live and calling threads, every way a run ends, and
// the source left OFF; on the bench, the system noise figure and a step of the DUT followed.
#include "measure/LiveMeter.h"

#include "core/Messages.h"
#include "measure/SeriesRunner.h"
#include "nf/NoiseResults.h"
#include "support/BenchSeries.h"
#include "support/LiveRecorder.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- Calibration checks ----

TEST(CalibrationCheck, AgeFrequencyEnrAndOffTemperatureWithTheirSentences)
{
    const auto now = std::chrono::system_clock::time_point{} + std::chrono::hours(1000);
    ReceiverCalibration cal;
    cal.valid = true;
    cal.enrDb = 15.0;
    cal.tsOff = 293.0;
    cal.frequencyMHz = 144.0;
    cal.takenAt = now - std::chrono::minutes(12);
    LivePlan plan;
    plan.conditions.enrDb = 15.0;
    plan.conditions.tsOff = 293.0;
    plan.frequencyMHz = 144.0;

    struct Case
    {
        const char *name;
        double frequencyMHz, enrDb, tsOff;
        int maxAgeMinutes;
        bool tooOld, otherFrequency, otherEnr, otherTsOff;
        const char *text;
    };
    const Case cases[] = {
        {"fits", 144.0, 15.0, 293.0, 15, false, false, false, false, ""},
        {"age limit 0 = none", 144.0, 15.0, 293.0, 0, false, false, false, false, ""},
        {"too old", 144.0, 15.0, 293.0, 10, true, false, false, false,
         "The receiver calibration is 12 min old."},
        // 0.5% of 144 MHz is 0.72 MHz.
        {"frequency within 0.5%", 144.7, 15.0, 293.0, 15, false, false, false, false, ""},
        {"frequency beyond 0.5%", 144.75, 15.0, 293.0, 15, false, true, false, false,
         "The receiver calibration was taken at 144.000 MHz, not at 144.750 MHz."},
        {"unknown frequency now", std::nan(""), 15.0, 293.0, 15, false, false, false, false, ""},
        {"ENR within 0.005 dB", 144.0, 15.005, 293.0, 15, false, false, false, false, ""},
        {"other ENR", 144.0, 15.01, 293.0, 15, false, false, true, false,
         "The receiver calibration was taken with an ENR of 15.00 dB, not 15.01 dB."},
        {"TSoff within 0.05 K", 144.0, 15.0, 293.05, 15, false, false, false, false, ""},
        {"other TSoff", 144.0, 15.0, 296.0, 15, false, false, false, true,
         "The receiver calibration was taken with a noise source off temperature of 293.0 K, "
         "not 296.0 K."},
        {"all at once", 432.0, 16.0, 296.0, 5, true, true, true, true,
         "The receiver calibration is 12 min old. The receiver calibration was taken at "
         "144.000 MHz, not at 432.000 MHz. The receiver calibration was taken with an ENR of "
         "15.00 dB, not 16.00 dB. The receiver calibration was taken with a noise source off "
         "temperature of 293.0 K, not 296.0 K."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LivePlan p = plan;
        p.frequencyMHz = c.frequencyMHz;
        p.conditions.enrDb = c.enrDb;
        p.conditions.tsOff = c.tsOff;
        const CalibrationCheck check =
            checkCalibration(cal, p, now, std::chrono::minutes(c.maxAgeMinutes));
        EXPECT_FALSE(check.missing);
        EXPECT_DOUBLE_EQ(check.ageSeconds, 720.0);
        EXPECT_EQ(check.tooOld, c.tooOld);
        EXPECT_EQ(check.otherFrequency, c.otherFrequency);
        EXPECT_EQ(check.otherEnr, c.otherEnr);
        EXPECT_EQ(check.otherTsOff, c.otherTsOff);
        EXPECT_EQ(check.fits(), std::string(c.text).empty());
        EXPECT_EQ(calibrationWarningText(check), c.text);
    }

    // Seconds below two minutes, hours from two hours on.
    cal.takenAt = now - std::chrono::seconds(95);
    EXPECT_EQ(calibrationWarningText(checkCalibration(cal, plan, now, std::chrono::seconds(60))),
              "The receiver calibration is 95 s old.");
    cal.takenAt = now - std::chrono::minutes(150);
    EXPECT_EQ(calibrationWarningText(checkCalibration(cal, plan, now, std::chrono::seconds(60))),
              "The receiver calibration is 2 h old.");

    const CalibrationCheck none = checkCalibration({}, plan, now, std::chrono::minutes(10));
    EXPECT_TRUE(none.missing);
    EXPECT_FALSE(none.fits());
    EXPECT_EQ(calibrationWarningText(none),
              "There is no receiver calibration: the noise figure shown is that of the whole "
              "chain, the receiver's contribution included.");
}

// ---- A device whose samples follow the switch outputs ----

// Square waves (+A, -A, ... by the frame's position since the start) whose amplitude is that
// of the bench's switch state read before every frame, so that a block captured across a
// switch has a power between the two states'. Its power can drift linearly in time. Fills
// every free buffer at once, as the bench at speed 0 does: the ring is full of blocks
// captured before each switch.
class SwitchedSquares : public test::NamedDevices
{
public:
    SwitchedSquares() : NamedDevices({{"Switched squares", 0xFFFFF}}) {}

    const VirtualBench *bench = nullptr;
    std::array<double, 4> amplitude{2000, 8000, 2000, 8000}; // codes, by switchStateIndex
    double driftPerFrame = 0.0; // relative change of the power per frame

    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        if (device != 0 || format.bitsPerSample != 16)
            return kCaptureBadDevice;
        stream = std::make_unique<Stream>(queue, *this, format);
        return kCaptureOk;
    }

private:
    class Stream : public InputStream
    {
    public:
        Stream(BlockQueue &q, const SwitchedSquares &d, const CaptureFormat &f)
            : InputStream(q), m_device(d), m_format(f)
        {
        }
        ~Stream() override { reset(); }
        int start() override
        {
            m_thread = std::thread([this] { run(); });
            return kCaptureOk;
        }
        void reset() override
        {
            if (!m_thread.joinable())
                return;
            queue().shutdown();
            m_thread.join();
        }
        void close() override { reset(); }

    private:
        void run()
        {
            std::uint64_t frame = 0;
            const std::atomic<int> &state = m_device.bench->stateWord();
            const int channels = m_format.channels;
            while (CaptureHeader *h = queue().waitPopFree()) {
                const std::uint32_t frames = h->bufferLength / m_format.blockAlign;
                auto *out = reinterpret_cast<std::int16_t *>(h->data);
                for (std::uint32_t i = 0; i < frames; ++i, ++frame) {
                    const double a = m_device.amplitude[static_cast<std::size_t>(
                                         state.load(std::memory_order_relaxed) & 3)] *
                                     std::sqrt(1.0 + m_device.driftPerFrame * double(frame));
                    const auto v = static_cast<std::int16_t>(std::lround(frame % 2 ? -a : a));
                    for (int c = 0; c < channels; ++c)
                        out[i * channels + c] = v;
                }
                h->bytesRecorded = frames * m_format.blockAlign;
                queue().pushFull(h);
            }
        }
        const SwitchedSquares &m_device;
        CaptureFormat m_format;
        std::thread m_thread;
    };
};

struct RecordMessages : MessageSink
{
    void showMessage(int id) override
    {
        const std::lock_guard lock(mutex);
        ids.push_back(id);
    }
    std::mutex mutex;
    std::vector<int> ids;
};

class LiveSquaresTest : public ::testing::Test
{
protected:
    LiveSquaresTest()
    {
        squares.bench = &engine.bench();
        Settings &s = engine.settings();
        s.waveInDevice = 0;
        applyFormatRow(s, 8); // 44.1 kHz mono 16-bit: half-blocks of 2205 frames
        s.captureTimeMs = 100;
        s.switchPortName = "Virtual bench";
        s.switchPortChosen = true;
        // Every output the live thread sets, in order.
        engine.switches().setVirtualBenchOutputs([this](bool noiseOn, bool dutIn) {
            {
                const std::lock_guard lock(switchMutex);
                switches.emplace_back(noiseOn, dutIn);
            }
            engine.bench().setOutputs(noiseOn, dutIn);
        });
    }
    static LivePlan plan(int smoothing)
    {
        LivePlan p;
        p.conditions.enrDb = 15.0;
        p.conditions.tsOff = 290.0;
        p.smoothingGroups = smoothing;
        return p;
    }
    std::vector<std::pair<bool, bool>> switchLog()
    {
        const std::lock_guard lock(switchMutex);
        return switches;
    }

    SwitchedSquares squares;
    RecordMessages sink;
    QuillonEngine engine{sink, [this] {
                             EngineOptions o;
                             o.portAudio = false;
                             o.soundDevices = {&squares};
                             return o;
                         }()};
    std::mutex switchMutex;
    std::vector<std::pair<bool, bool>> switches;
};

TEST_F(LiveSquaresTest, BlocksCapturedBeforeASwitchAreDroppedAndTheOrderIsOnOffOffOn)
{
    // ON 8000, OFF 2000 codes: Y is 16 exactly while no block captured across or before a
    // switch is kept; one such block in a group moves it by a percent or more.
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(4), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(30, 20s));
    meter.stop();

    const std::vector<LiveUpdate> updates = rec.updates();
    for (std::size_t i = 0; i < updates.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(updates[i].group, static_cast<int>(i) + 1);
        EXPECT_NEAR(updates[i].ySystemDb.value, 10 * std::log10(16.0), 1e-9);
        // Identical groups: no spread.
        if (updates[i].groupsUsed >= 2) {
            EXPECT_NEAR(updates[i].ySystemDb.statisticalHalfWidth(), 0.0, 1e-9);
        }
        if (i > 0) {
            EXPECT_GE(updates[i].discardedBlocks, updates[i - 1].discardedBlocks);
            EXPECT_GT(updates[i].seconds, updates[i - 1].seconds);
        }
    }
    // The bench at speed 0 fills the whole ring (10 half-blocks at 44.1 kHz) before the
    // live thread switches: far more than one block per switch is dropped, every one counted.
    const std::uint64_t dropped = updates.back().discardedBlocks;
    EXPECT_GE(dropped, 2u * updates.size());
    EXPECT_GE(meter.discardedBlocks(), dropped);
    // Audio time: at least 10 half-blocks of 50 ms per group.
    EXPECT_GE(updates.back().seconds, 0.5 * updates.size());

    // The outputs: ON, then OFF and ON by turns (the ON ending one group and the ON starting
    // the next are one state, never switched between), DUT in throughout; stop leaves OFF.
    const auto log = switchLog();
    ASSERT_GE(log.size(), 2 * updates.size() + 1);
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        EXPECT_EQ(log[i].first, i % 2 == 0) << i;
        EXPECT_TRUE(log[i].second) << i;
    }
    EXPECT_EQ(log.back(), std::make_pair(false, true));
    EXPECT_FALSE(engine.bench().noiseOn());
    // Two switches per group: the run stopped within a group or two of the last update.
    EXPECT_LE(log.size(), 2 * updates.size() + 6);
}

TEST_F(LiveSquaresTest, LinearGainDriftCancelsWhateverWasDroppedAroundEachSwitch)
{
    // The power rises 5% per second of audio (1.1 dB/s): a Y from an ON and an OFF part
    // taken one after the other would be 2.5% off at 100 ms blocks. The squares' powers are
    // linear in time, so the cancellation is exact: Y stays 16 to rounding.
    squares.driftPerFrame = 0.05 / 44100.0;
    squares.amplitude = {4000, 16000, 4000, 16000};
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(1), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(20, 20s));
    meter.stop();
    for (const LiveUpdate &u : rec.updates()) {
        SCOPED_TRACE(u.group);
        EXPECT_NEAR(u.ySystemDb.value, 10 * std::log10(16.0), 2e-4);
    }
}

TEST_F(LiveSquaresTest, SmoothingFillsUpAndStartsAgainWhenChanged)
{
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    // From the live thread, at the sixth update: the next group starts a new average of 2.
    rec.onUpdate = [&meter](const LiveUpdate &u) {
        if (u.group == 6)
            meter.setSmoothing(2);
    };
    ASSERT_EQ(meter.start(plan(4), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(10, 20s));
    meter.stop();
    const std::vector<LiveUpdate> u = rec.updates();
    const int expected[] = {1, 2, 3, 4, 4, 4, 1, 2, 2, 2};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(u[static_cast<std::size_t>(i)].group, i + 1);
        EXPECT_EQ(u[static_cast<std::size_t>(i)].groupsUsed, expected[i]);
        // One group has no spread to tell its noise: the +- is not known.
        EXPECT_EQ(std::isnan(u[static_cast<std::size_t>(i)].systemNf.statistical),
                  expected[i] == 1);
        EXPECT_EQ(std::isnan(u[static_cast<std::size_t>(i)].systemNf.total), expected[i] == 1);
    }
    // Out of range: held within 1..32.
    // The squares run faster than real time: more than ten updates may have arrived
    // before the stop took hold, so the second run is counted from where the first ended.
    rec.onUpdate = nullptr;
    const std::size_t firstRun = rec.updates().size();
    ASSERT_EQ(meter.start(plan(99), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(firstRun + 33, 30s));
    meter.stop();
    EXPECT_EQ(rec.updates()[firstRun + 31].groupsUsed, kLiveMaxSmoothing);
    EXPECT_EQ(rec.updates()[firstRun + 32].groupsUsed, kLiveMaxSmoothing);
}

TEST_F(LiveSquaresTest, CalibrateSwitchesTheDutOutAndCorrectsWithWhatItTook)
{
    // Receiver alone: ON 4000, OFF 2000 codes; with the DUT: ON 16000, OFF 6000.
    squares.amplitude = {2000, 4000, 6000, 16000};
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(2), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(2, 20s));
    EXPECT_FALSE(rec.last().corrected);
    const auto before = std::chrono::system_clock::now();
    meter.calibrate(3);
    ASSERT_TRUE(rec.waitForCalibration(20s));
    const std::size_t atCalibration = rec.updates().size();
    ASSERT_TRUE(rec.waitForUpdates(atCalibration + 3, 20s));
    meter.stop();

    const ReceiverCalibration cal = rec.calibrations().front();
    // A half-block of 2205 frames holds one more +A than -A (or one less): the level has
    // the mean A / 2205 taken off.
    const double fs = (1.0 - 1.0 / 2205.0) / 32768.0;
    EXPECT_TRUE(cal.valid);
    EXPECT_NEAR(cal.onPower, std::pow(4000 * fs, 2), 1e-12);
    EXPECT_NEAR(cal.offPower, std::pow(2000 * fs, 2), 1e-12);
    EXPECT_NEAR(cal.onError.relative, 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(cal.onError.degreesOfFreedom, 2.0);
    EXPECT_DOUBLE_EQ(cal.enrDb, 15.0);
    EXPECT_DOUBLE_EQ(cal.tsOff, 290.0);
    EXPECT_TRUE(std::isnan(cal.frequencyMHz));
    EXPECT_GE(cal.takenAt, before);
    EXPECT_EQ(meter.calibration().onPower, cal.onPower);

    // The DUT out during the calibration groups only; in again afterwards.
    const auto log = switchLog();
    int outStates = 0;
    for (const auto &[noise, dut] : log)
        outStates += dut ? 0 : 1;
    EXPECT_EQ(outStates, 2 * 3 + 1); // ON, OFF per group and the ON that ends the last

    const LiveUpdate u = rec.last();
    ASSERT_TRUE(u.corrected);
    // G = (16000^2 - 6000^2) / (4000^2 - 2000^2) = 220 / 12.
    EXPECT_NEAR(u.dutGainDb.value, 10 * std::log10(220.0 / 12.0), 1e-9);
    const DeviceNoise d = deviceNoise(16, 4, 256, 36, 15.0, 290.0, 290.0);
    EXPECT_NEAR(u.dutNf.value, d.noise.nf, 1e-9);
    EXPECT_NEAR(u.dutTe.value, d.noise.te, 1e-6);
    // The readout started again with the calibration: the groups after it only.
    EXPECT_LE(u.groupsUsed, 2);

    // Asked for in the plan: taken before the first group, every update corrected.
    test::LiveRecorder first;
    LivePlan p = plan(2);
    p.calibrateFirst = 2;
    ASSERT_EQ(meter.start(p, {}, first), kMsgNone);
    ASSERT_TRUE(first.waitForUpdates(3, 20s));
    meter.stop();
    ASSERT_EQ(first.calibrations().size(), 1u);
    EXPECT_NEAR(first.calibrations()[0].onPower, cal.onPower, 1e-12);
    for (const LiveUpdate &x : first.updates()) {
        EXPECT_TRUE(x.corrected);
        EXPECT_NEAR(x.dutGainDb.value, 10 * std::log10(220.0 / 12.0), 1e-9);
    }
    EXPECT_EQ(first.updates()[0].group, 1);
}

TEST_F(LiveSquaresTest, StopFromAnotherThreadWhileUpdatesFlowEndsEveryCall)
{
    // The test thread stops while the live thread is inside the listener and the delivery
    // thread is handing groups over; the listener meanwhile changes the smoothing and asks
    // for calibrations from the live thread. Nothing is called after stop() returns, and the
    // source is OFF. Twenty runs for the sanitizers to see the hand-overs.
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        LiveMeter meter(engine);
        test::LiveRecorder rec;
        rec.onUpdate = [&meter](const LiveUpdate &u) {
            meter.setSmoothing(1 + u.group % 5);
            if (u.group % 7 == 0)
                meter.calibrate(1);
            (void)meter.calibration();
        };
        ASSERT_EQ(meter.start(plan(3), {}, rec), kMsgNone);
        EXPECT_TRUE(meter.running());
        ASSERT_TRUE(rec.waitForUpdates(static_cast<std::size_t>(1 + run % 4), 20s));
        const auto t0 = Clock::now();
        meter.stop();
        EXPECT_LT(Clock::now() - t0, 2s);
        EXPECT_FALSE(meter.running());
        const std::size_t seen = rec.updates().size();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(rec.updates().size(), seen);
        EXPECT_FALSE(engine.bench().noiseOn());
        meter.stop(); // twice: no effect
    }
}

TEST_F(LiveSquaresTest, AnOverRangeBlockEndsTheRunWithTheSourceOff)
{
    squares.amplitude = {2000, 32767, 2000, 32767};
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(2), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForFailure(10s));
    EXPECT_EQ(rec.failures(), std::vector<int>{kMsgSignalTooHigh});
    EXPECT_FALSE(meter.running());
    EXPECT_FALSE(engine.bench().noiseOn());
    EXPECT_TRUE(rec.updates().empty());
    meter.stop();
}

TEST_F(LiveSquaresTest, StartIsRefusedWithoutASwitchPortOrDevice)
{
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    for (const char *port : {"None", "", "/dev/parport0"}) {
        engine.settings().switchPortName = port;
        EXPECT_EQ(meter.start(plan(2), {}, rec), kMsgLiveNeedsSwitchPort) << port;
        EXPECT_FALSE(meter.running());
    }
    engine.settings().switchPortName = "Virtual bench";
    engine.settings().waveInDevice = 7; // no such device
    EXPECT_EQ(meter.start(plan(2), {}, rec), kMsgCannotOpenWaveDevice);
    EXPECT_FALSE(meter.running());
    meter.stop();
    EXPECT_TRUE(rec.updates().empty());
    EXPECT_TRUE(switchLog().empty()); // nothing was switched
}

// A switch port that cannot be set ends the run; the message goes to the listener, not to
// the engine's message sink (whose window code is on another thread).
struct FailingLines : SerialLineDriver
{
    bool open(const std::string &) override { return true; }
    bool setLine(ModemLine, bool) override { return false; }
    void close() override {}
};

TEST(LiveSwitchFailure, ASwitchThatCannotBeSetEndsTheRun)
{
    RecordMessages sink;
    SwitchedSquares squares;
    QuillonEngine engine{sink, [&] {
                             EngineOptions o;
                             o.portAudio = false;
                             o.soundDevices = {&squares};
                             o.serialLines = std::make_unique<FailingLines>();
                             return o;
                         }()};
    squares.bench = &engine.bench();
    Settings &s = engine.settings();
    s.waveInDevice = 0;
    applyFormatRow(s, 8);
    s.captureTimeMs = 100;
    s.switchPortName = "/dev/ttyUSB7";
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start({}, {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForFailure(10s));
    EXPECT_EQ(rec.failures(), std::vector<int>{kMsgCannotSetComPort});
    meter.stop();
    // stop()'s own switching is the window thread's: its failure goes to the sink.
    const std::lock_guard lock(sink.mutex);
    EXPECT_EQ(sink.ids, std::vector<int>{kMsgCannotSetComPort});
}

// ---- On the bench ----

class LiveBenchTest : public test::BenchEngineTest
{
protected:
    LivePlan plan(int smoothing)
    {
        const BenchTruth t = engine.bench().truth();
        LivePlan p;
        p.conditions.enrDb = t.referenceEnrDb;
        p.conditions.t0 = kBenchT0;
        p.conditions.tsOff = t.offTemperatureK;
        p.smoothingGroups = smoothing;
        return p;
    }
};

TEST_F(LiveBenchTest, SystemNoiseFigureOfTheChainWithoutCalibration)
{
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    ASSERT_EQ(meter.start(plan(32), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(40, 30s));
    meter.stop();
    const BenchTruth t = engine.bench().truth();
    const LiveUpdate u = rec.last();
    EXPECT_FALSE(u.corrected);
    EXPECT_EQ(u.groupsUsed, 32);
    // About four standard uncertainties: 32 groups of 100 ms blocks at 2.4 kHz bandwidth
    // give about +-0.1 dB.
    const double hw = u.systemNf.statisticalHalfWidth();
    EXPECT_GT(hw, 0.02);
    EXPECT_LT(hw, 0.3);
    EXPECT_NEAR(u.systemNf.value, t.chainNfDb, 2.0 * hw);
    EXPECT_NEAR(u.ySystemDb.value, 10 * std::log10(t.yDutOutput),
                2.0 * u.ySystemDb.statisticalHalfWidth());
    EXPECT_EQ(u.lostFrames, 0u);
    EXPECT_FALSE(engine.bench().noiseOn());
}

TEST_F(LiveBenchTest, TheReadoutFollowsAStepOfTheDutWithinTwoGroups)
{
    // A wide passband (300 Hz to 20 kHz at 48 kHz) and 1 s blocks keep one group's noise
    // near 0.03 dB, so that a single group tells the step.
    BenchParameters p;
    p.passbandHighHz = 20000.0;
    p.dutNfDb = 1.0;
    setBench(p);
    applyFormatRow(engine.settings(), 12);
    engine.settings().captureTimeMs = 1000;
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    std::atomic<int> stepAt{0};
    rec.onUpdate = [&](const LiveUpdate &u) {
        if (u.corrected && u.group == 12) {
            engine.bench().setLiveDut(1.5, p.dutGainDb); // the live thread turns the trimmer
            stepAt = u.group;
        }
    };
    LivePlan lp = plan(1);
    lp.calibrateFirst = 8;
    ASSERT_EQ(meter.start(lp, {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForUpdates(20, 60s));
    meter.stop();
    ASSERT_EQ(stepAt.load(), 12);
    const std::vector<LiveUpdate> u = rec.updates();
    const auto nfOf = [&](int group) {
        for (const LiveUpdate &x : u)
            if (x.group == group)
                return x.dutNf.value;
        return std::nan("");
    };
    for (int g = 9; g <= 12; ++g)
        EXPECT_NEAR(nfOf(g), 1.0, 0.15) << g;
    // Group 13 may straddle the step; group 14, the second after it, is the new DUT's.
    for (int g = 14; g <= 18; ++g)
        EXPECT_NEAR(nfOf(g), 1.5, 0.15) << g;
    // The stored parameters stayed.
    EXPECT_DOUBLE_EQ(engine.bench().parameters().dutNfDb, 1.0);
    EXPECT_NEAR(engine.bench().liveTruth().dutNfDb, 1.5, 1e-12);
}

TEST_F(LiveBenchTest, AStalledDeviceEndsTheRunWithTheSourceOff)
{
    engine.settings().waveInDevice = test::kSilentDevice;
    engine.bench().setOutputs(true, true); // left ON by someone before
    LiveMeter meter(engine);
    test::LiveRecorder rec;
    const auto t0 = Clock::now();
    ASSERT_EQ(meter.start(plan(4), {}, rec), kMsgNone);
    ASSERT_TRUE(rec.waitForFailure(10s));
    const auto took = Clock::now() - t0;
    EXPECT_GE(took, readingStallLimit(100));
    EXPECT_LT(took, readingStallLimit(100) + 1s);
    EXPECT_EQ(rec.failures(), std::vector<int>{kMsgDeviceStoppedDelivering});
    EXPECT_FALSE(engine.bench().noiseOn());
    EXPECT_FALSE(meter.running());
    const auto s0 = Clock::now();
    meter.stop();
    EXPECT_LT(Clock::now() - s0, 1s);
}

TEST_F(LiveBenchTest, TheDestructorStopsAndLeavesTheSourceOff)
{
    test::LiveRecorder rec;
    {
        LiveMeter meter(engine);
        ASSERT_EQ(meter.start(plan(2), {}, rec), kMsgNone);
        ASSERT_TRUE(rec.waitForUpdates(1, 20s));
    }
    const std::size_t seen = rec.updates().size();
    EXPECT_FALSE(engine.bench().noiseOn());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rec.updates().size(), seen);
}

TEST_F(LiveBenchTest, ADeviceSeriesLeavesItsReceiverPairAsTheCalibration)
{
    SeriesRunner runner(engine, engine.settings(), engine.resultLine());
    SeriesReadings readings;
    SeriesPlan plan;
    plan.conditions.enrDb = 25.0;
    plan.conditions.tsOff = 293.0;
    plan.noiseGen = plan.dutSwitch = plan.driveSwitches = true;
    plan.enrFrequencyMHz = 144.0;
    plan.reading = ReadingPlan(1, true, 4);
    SeriesListener quiet;
    EXPECT_FALSE(engine.receiverCalibration().valid);
    ASSERT_EQ(runner.run(plan, readings, quiet).end, SeriesEnd::Complete);
    const ReceiverCalibration &cal = engine.receiverCalibration();
    EXPECT_TRUE(cal.valid);
    EXPECT_DOUBLE_EQ(cal.onPower, readings.power(0));
    EXPECT_DOUBLE_EQ(cal.offPower, readings.power(1));
    EXPECT_DOUBLE_EQ(cal.onError.relative, readings.error(0).relative);
    EXPECT_DOUBLE_EQ(cal.enrDb, 25.0);
    EXPECT_DOUBLE_EQ(cal.tsOff, 293.0);
    EXPECT_DOUBLE_EQ(cal.frequencyMHz, 144.0);

    // A series of the DUT pair alone (button 2) keeps it as it was.
    engine.receiverCalibration().onPower = 1.0;
    plan.button = 2;
    ASSERT_EQ(runner.run(plan, readings, quiet).end, SeriesEnd::Complete);
    EXPECT_DOUBLE_EQ(engine.receiverCalibration().onPower, 1.0);
}

} // namespace
} // namespace quillon
