#include "measure/LiveMeter.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "capture/Level.h"
#include "capture/ReadingStatistics.h"
#include "capture/WaveCapture.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingGuards.h"
#include "measure/SeriesRunner.h"
#include "nf/Corrections.h"
#include "nf/YFactorMath.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quillon {

// How the blocks are cut and dropped.
//
// The capture runs at half the chosen block length; each state of the group keeps two
// half-blocks, so a state holds one block's worth of audio. After every change of the switch
// outputs the live thread reads the number of blocks the device has filled (P); the blocks
// up to and including P were captured, fully or partly, before the change took effect (the
// ring may hold several of them, at the bench's speed 0 all of its buffers) and are dropped,
// and so are further blocks the automatic dummy reads judge unsettled. In real time that is
// one half-block per switch, and a group (ON, OFF, OFF, ON; the ON of one group and the ON
// that starts the next are not switched between) takes 8 kept and 2 dropped half-blocks:
// 0.5 s at 100 ms blocks. Where more are dropped on one side than the other the times of
// the two ON parts are no longer symmetric about the OFF part; the Y factor interpolates
// the ON power linearly to the OFF part's mean time, which is (ON1 + ON2) / 2 in the
// symmetric case and cancels a linear gain drift exactly in every case.

void LiveListener::calibrated(const ReceiverCalibration &) {}
void LiveListener::failed(int) {}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kHalvesPerState = 2;
constexpr int kGroupRing = 64; // groups handed from the delivery to the live thread
constexpr int kAutoDummyLimit = 10;

// The three parts of a group: ON, OFF (the two OFF states together), ON.
constexpr std::array<int, 3> kSlotHalves{kHalvesPerState, 2 * kHalvesPerState, kHalvesPerState};

// One completed group, as the delivery thread measured it.
struct GroupRecord
{
    bool calibration = false;    // DUT switched out
    bool lastOfCalibration = false;
    std::array<double, 3> power{}; // mean power of each part, full-scale units
    std::array<double, 3> time{};  // mean centre of each part's blocks, frames since start
    double endFrames = 0.0;        // end of the group's last block, frames since start
};

// The group's Y factor with the ON power interpolated to the OFF part's time.
double groupY(const GroupRecord &g)
{
    const double span = g.time[2] - g.time[0];
    const double w = span > 0.0 ? (g.time[1] - g.time[0]) / span : 0.5;
    const double on = g.power[0] + (g.power[2] - g.power[0]) * w;
    return on / g.power[1];
}

// Mean and standard deviation of the mean of n values.
struct Spread
{
    double mean = kNaN;
    double errorOfMean = kNaN; // NaN below 2 values
};

template <typename Get>
Spread spreadOf(int n, Get get)
{
    Spread s;
    if (n <= 0)
        return s;
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += get(i);
    s.mean = sum / n;
    if (n < 2)
        return s;
    double sq = 0.0;
    for (int i = 0; i < n; ++i) {
        const double d = get(i) - s.mean;
        sq += d * d;
    }
    s.errorOfMean = std::sqrt(sq / (n - 1) / n);
    return s;
}

// The statistical part from the groups' spread (`groups` values, n - 1 degrees) joined
// with a part from a fixed uncertainty result `fixed` (its statistical and stated parts).
Uncertain combine(double value, const Spread &groups, int n, const Uncertain &fixed)
{
    Uncertain u;
    u.value = value;
    if (!(n >= 2) || !std::isfinite(groups.errorOfMean))
        return u;
    const double ug = groups.errorOfMean;
    const double uc = std::isfinite(fixed.statistical) ? fixed.statistical : 0.0;
    const double stated =
        std::isfinite(fixed.total) ? std::sqrt(std::max(0.0, fixed.total * fixed.total - uc * uc))
                                   : 0.0;
    const double nu = n - 1.0;
    u.statistical = std::sqrt(ug * ug + uc * uc);
    const double s4 = std::pow(u.statistical, 4);
    const double cDen = uc > 0.0 && std::isfinite(fixed.statisticalDegrees)
                            ? std::pow(uc, 4) / fixed.statisticalDegrees
                            : 0.0;
    const double den = std::pow(ug, 4) / nu + cDen;
    u.statisticalDegrees = den > 0.0 ? s4 / den : std::numeric_limits<double>::infinity();
    u.total = std::sqrt(u.statistical * u.statistical + stated * stated);
    u.totalDegrees = den > 0.0 ? std::pow(u.total, 4) / den : std::numeric_limits<double>::infinity();
    return u;
}

double db(double ratio)
{
    return 10.0 * std::log10(ratio);
}

std::string durationText(double seconds)
{
    if (seconds < 120.0)
        return std::to_string(static_cast<long long>(seconds)) + " s";
    if (seconds < 7200.0)
        return std::to_string(static_cast<long long>(seconds / 60.0)) + " min";
    return std::to_string(static_cast<long long>(seconds / 3600.0)) + " h";
}

} // namespace

CalibrationCheck checkCalibration(const ReceiverCalibration &calibration, const LivePlan &plan,
                                  std::chrono::system_clock::time_point now,
                                  std::chrono::seconds maxAge)
{
    CalibrationCheck c;
    c.calibrationFrequencyMHz = calibration.frequencyMHz;
    c.frequencyMHz = plan.frequencyMHz;
    c.calibrationEnrDb = calibration.enrDb;
    c.enrDb = plan.conditions.enrDb;
    c.calibrationTsOff = calibration.tsOff;
    c.tsOff = plan.conditions.tsOff;
    if (!calibration.valid) {
        c.missing = true;
        return c;
    }
    c.ageSeconds = std::chrono::duration<double>(now - calibration.takenAt).count();
    c.tooOld = maxAge.count() > 0 && c.ageSeconds > static_cast<double>(maxAge.count());
    constexpr double kSlack = 1e-9;
    const double fc = calibration.frequencyMHz;
    const double fn = plan.frequencyMHz;
    if (std::isfinite(fc) && std::isfinite(fn))
        c.otherFrequency = std::abs(fc - fn) > std::max(0.005 * std::abs(fn), 0.01) + kSlack;
    // The limits themselves still fit (typed values such as 15.005 differ from 15 by a
    // little more than 0.005 in binary).
    c.otherEnr = !(std::abs(calibration.enrDb - plan.conditions.enrDb) <= 0.005 + kSlack);
    c.otherTsOff = !(std::abs(calibration.tsOff - plan.conditions.tsOff) <= 0.05 + kSlack);
    return c;
}

std::string calibrationWarningText(const CalibrationCheck &check)
{
    if (check.missing)
        return "There is no receiver calibration: the noise figure shown is that of the whole "
               "chain, the receiver's contribution included.";
    std::string text;
    const auto add = [&text](const std::string &sentence) {
        if (!text.empty())
            text += ' ';
        text += sentence;
    };
    if (check.tooOld)
        add("The receiver calibration is " + durationText(check.ageSeconds) + " old.");
    if (check.otherFrequency)
        add("The receiver calibration was taken at " +
            formatFixed(check.calibrationFrequencyMHz, 3) + " MHz, not at " +
            formatFixed(check.frequencyMHz, 3) + " MHz.");
    if (check.otherEnr)
        add("The receiver calibration was taken with an ENR of " +
            formatFixed(check.calibrationEnrDb, 2) + " dB, not " + formatFixed(check.enrDb, 2) +
            " dB.");
    if (check.otherTsOff)
        add("The receiver calibration was taken with a noise source off temperature of " +
            formatFixed(check.calibrationTsOff, 1) + " K, not " + formatFixed(check.tsOff, 1) +
            " K.");
    return text;
}

ChainCorrections liveAppliedCorrections(const ChainCorrections &corrections, bool corrected)
{
    return corrected ? corrections : ChainCorrections{};
}

// ---- The meter ----

struct LiveMeter::Impl
{
    explicit Impl(QuillonEngine &e) : engine(e) {}

    // Window thread.
    int start(const LivePlan &plan, const ReceiverCalibration &calibration, LiveListener &l);
    void stop();

    // Delivery thread.
    void onBlock(WaveCapture &capture, CaptureHeader &header);
    void enterSlot(int slot);
    void finishGroup();
    void deliveryFailed(int messageId);

    // Live thread.
    void liveLoop();
    void handleGroup(const GroupRecord &g);
    void publishUpdate(int groupNumber, double endFrames);
    void finishCalibration();
    void fail(int messageId);

    QuillonEngine &engine;

    // Fixed while a run goes (set by start before the threads exist).
    LivePlan plan;
    LiveListener *listener = nullptr;
    std::uint32_t halfFrames = 0;
    double sampleRate = 0.0;
    HighPass1kHz *filter = nullptr;
    std::chrono::milliseconds stallLimit{2000};

    // Delivery thread only.
    enum class Phase
    {
        AwaitSwitch, // a switch is requested: blocks are dropped until it has taken effect
        Settle,      // after the switch: blocks before firstClean dropped, then settling judged
        Collect
    };
    Phase phase = Phase::AwaitSwitch;
    int slot = 0;
    int slotKept = 0;
    double slotPower = 0.0;
    double slotTime = 0.0;
    GroupRecord group;
    bool calibrationMode = false;
    int calibrationLeft = 0;
    int settleDummies = 0;
    bool appliedKnown = false;
    bool appliedNoise = false;
    bool appliedDut = false;
    std::uint64_t awaitedRequest = 0;
    BlockMoments moments;
    ReadingStatisticsAccumulator probe;
    bool deliveryEnded = false;

    // Delivery -> live hand-over, under `mutex`.
    std::mutex mutex;
    std::condition_variable wake;
    std::uint64_t switchRequest = 0; // last requested
    std::uint64_t switchDone = 0;    // last the live thread has carried out
    bool wantNoise = false;
    bool wantDut = false;
    std::array<GroupRecord, kGroupRing> ring{};
    std::uint64_t ringHead = 0; // next to read (live thread)
    std::uint64_t ringTail = 0; // next to write (delivery thread)
    int deliveryFailure = 0;
    bool stopRequested = false;

    // Live -> delivery: the switch carried out, and the first block captured wholly after it.
    std::atomic<std::uint64_t> ackRequest{0};
    std::atomic<std::uint64_t> firstClean{0};

    // Any thread.
    std::atomic<bool> active{false};       // between start and the run's end (stop or failure)
    std::atomic<int> smoothing{8};
    std::atomic<int> calibrationRequest{0}; // groups asked for by calibrate()
    std::atomic<int> blocksSeen{0};
    std::atomic<std::uint64_t> discarded{0};
    mutable std::mutex calibrationMutex;
    ReceiverCalibration calibrationInUse;

    // Live thread only.
    struct GroupResult
    {
        double y = kNaN;
        double off = kNaN;
        double systemNf = kNaN, systemTe = kNaN, yDb = kNaN;
        double dutNf = kNaN, dutTe = kNaN, dutGainDb = kNaN;
    };
    std::array<GroupResult, kLiveMaxSmoothing> window{};
    int windowCount = 0; // filled entries (up to the smoothing)
    int windowNext = 0;  // where the next goes
    int windowSmoothing = 8;
    int groupsDone = 0;
    ReceiverCalibration liveCalibration; // the one the live thread corrects with
    int calibrationGroups = 0;
    double calOnSum = 0.0, calOffSum = 0.0, calOnSq = 0.0, calOffSq = 0.0;

    std::thread live;
};

int LiveMeter::Impl::start(const LivePlan &p, const ReceiverCalibration &calibration,
                           LiveListener &l)
{
    stop();
    Settings &s = engine.settings();
    if (switchPortKind(s.switchPortName) == SwitchPortKind::None ||
        switchPortKind(s.switchPortName) == SwitchPortKind::Parallel)
        return kMsgLiveNeedsSwitchPort;

    plan = p;
    plan.smoothingGroups = std::clamp(p.smoothingGroups, kLiveMinSmoothing, kLiveMaxSmoothing);
    listener = &l;
    {
        const std::lock_guard lock(calibrationMutex);
        calibrationInUse = calibration;
    }
    liveCalibration = calibration;
    smoothing.store(plan.smoothingGroups, std::memory_order_relaxed);
    windowSmoothing = plan.smoothingGroups;
    calibrationRequest.store(0, std::memory_order_relaxed);
    windowCount = windowNext = groupsDone = 0;
    calibrationGroups = 0;

    WaveCapture &capture = engine.capture();
    capture.deriveFormat();
    const CaptureFormat &format = capture.format();
    sampleRate = format.samplesPerSec;
    const std::uint64_t fullFrames = std::uint64_t{s.captureTimeMs} * format.samplesPerSec / 1000;
    halfFrames = static_cast<std::uint32_t>(std::max<std::uint64_t>(fullFrames / 2, 16));
    filter = s.highPassFilter ? &engine.highPass() : nullptr;
    stallLimit = readingStallLimit(s.captureTimeMs);

    phase = Phase::AwaitSwitch;
    slot = 0;
    slotKept = 0;
    slotPower = slotTime = 0.0;
    group = {};
    calibrationLeft = std::clamp(plan.calibrateFirst, 0, 1024);
    calibrationMode = calibrationLeft > 0;
    appliedKnown = false;
    awaitedRequest = 0;
    deliveryEnded = false;
    switchRequest = switchDone = 0;
    ringHead = ringTail = 0;
    deliveryFailure = 0;
    stopRequested = false;
    ackRequest.store(0, std::memory_order_relaxed);
    firstClean.store(0, std::memory_order_relaxed);
    blocksSeen.store(0, std::memory_order_relaxed);
    discarded.store(0, std::memory_order_relaxed);

    if (!capture.probeDevice())
        return kMsgCannotOpenWaveDevice;
    active.store(true, std::memory_order_release);
    // The live thread exists before the first block can ask it for a switch.
    live = std::thread([this] { liveLoop(); });
    const int rc = capture.startCaptureBytes(
        [this](WaveCapture &c, CaptureHeader &h) { onBlock(c, h); },
        halfFrames * format.blockAlign);
    if (rc != kCaptureOk) {
        stop();
        return kMsgCannotOpenWaveDevice;
    }
    return kMsgNone;
}

void LiveMeter::Impl::stop()
{
    if (!live.joinable())
        return;
    {
        const std::lock_guard lock(mutex);
        stopRequested = true;
    }
    wake.notify_all();
    // The delivery thread's callback takes a short lock at most: this returns promptly.
    engine.capture().stopCapture();
    live.join();
    active.store(false, std::memory_order_release);
    // The outputs are the window thread's again.
    engine.switches().setSwitches(false, true);
    listener = nullptr;
}

// ---- Delivery thread ----

void LiveMeter::Impl::enterSlot(int next)
{
    slot = next;
    slotKept = 0;
    slotPower = slotTime = 0.0;
    const bool noise = next != 1;
    const bool dut = !calibrationMode;
    if (appliedKnown && noise == appliedNoise && dut == appliedDut) {
        phase = Phase::Collect; // the same outputs as the part before: nothing to drop
        return;
    }
    appliedKnown = true;
    appliedNoise = noise;
    appliedDut = dut;
    {
        const std::lock_guard lock(mutex);
        awaitedRequest = ++switchRequest;
        wantNoise = noise;
        wantDut = dut;
    }
    wake.notify_one();
    phase = Phase::AwaitSwitch;
}

void LiveMeter::Impl::finishGroup()
{
    group.calibration = calibrationMode;
    group.lastOfCalibration = false;
    if (calibrationMode && --calibrationLeft <= 0) {
        group.lastOfCalibration = true;
        calibrationMode = false;
    }
    bool handed = false;
    {
        const std::lock_guard lock(mutex);
        if (ringTail - ringHead < kGroupRing) {
            ring[ringTail % kGroupRing] = group;
            ++ringTail;
            handed = true;
        }
    }
    if (handed)
        wake.notify_one();
    // A live thread that has fallen 64 groups behind loses the oldest: it cannot happen
    // unless its listener blocks, which the listener must not do.
    group = {};
    if (!calibrationMode) {
        const int asked = calibrationRequest.exchange(0, std::memory_order_acq_rel);
        if (asked > 0) {
            calibrationMode = true;
            calibrationLeft = asked;
        }
    }
    enterSlot(0);
}

void LiveMeter::Impl::deliveryFailed(int messageId)
{
    deliveryEnded = true;
    {
        const std::lock_guard lock(mutex);
        deliveryFailure = messageId;
    }
    wake.notify_one();
}

void LiveMeter::Impl::onBlock(WaveCapture &capture, CaptureHeader &header)
{
    // After a failure (or while stopping) blocks are neither measured nor re-queued: the
    // capture runs dry.
    if (deliveryEnded || !active.load(std::memory_order_acquire))
        return;
    const auto index = static_cast<std::uint64_t>(capture.nextBlock());
    blocksSeen.fetch_add(1, std::memory_order_relaxed);

    if (phase == Phase::AwaitSwitch) {
        if (index == 0) {
            enterSlot(0); // the first block asks for the first state
        } else if (ackRequest.load(std::memory_order_acquire) == awaitedRequest) {
            phase = Phase::Settle;
            settleDummies = 0;
        }
    }
    if (phase == Phase::Settle) {
        if (index < firstClean.load(std::memory_order_acquire)) {
            discarded.fetch_add(1, std::memory_order_relaxed);
            capture.requeue(header);
            return;
        }
    }
    if (phase == Phase::AwaitSwitch) {
        discarded.fetch_add(1, std::memory_order_relaxed);
        capture.requeue(header);
        return;
    }

    const BlockStats stats =
        measureBlock(header.data, header.bytesRecorded, capture.format(), filter, moments);
    if (isOverRange(stats)) {
        deliveryFailed(kMsgSignalTooHigh);
        return;
    }
    if (phase == Phase::Settle) {
        if (plan.autoDummy && settleDummies < kAutoDummyLimit) {
            probe.reset();
            probe.add(stats, moments);
            if (isSettling(probe.statistics())) {
                ++settleDummies;
                discarded.fetch_add(1, std::memory_order_relaxed);
                capture.requeue(header);
                return;
            }
        }
        phase = Phase::Collect;
    }

    const double frames = static_cast<double>(index) * halfFrames +
                          static_cast<double>(header.lostFramesBefore);
    slotPower += stats.L * stats.L;
    slotTime += frames + 0.5 * halfFrames;
    ++slotKept;
    capture.requeue(header);
    if (slotKept < kSlotHalves[static_cast<std::size_t>(slot)])
        return;
    const auto k = static_cast<std::size_t>(slot);
    group.power[k] = slotPower / slotKept;
    group.time[k] = slotTime / slotKept;
    if (slot < 2) {
        enterSlot(slot + 1);
        return;
    }
    group.endFrames = frames + halfFrames;
    finishGroup();
}

// ---- Live thread ----

void LiveMeter::Impl::fail(int messageId)
{
    engine.switches().trySetSwitches(false, true);
    active.store(false, std::memory_order_release);
    listener->failed(messageId);
}

void LiveMeter::Impl::liveLoop()
{
    SwitchControl &switches = engine.switches();
    WaveCapture &capture = engine.capture();
    int lastSeen = -1;
    auto lastChange = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait_for(lock, SeriesRunner::kWatchSlice, [this] {
            return stopRequested || deliveryFailure != 0 || switchRequest != switchDone ||
                   ringHead != ringTail;
        });
        if (stopRequested)
            break;
        if (deliveryFailure != 0) {
            const int id = deliveryFailure;
            lock.unlock();
            fail(id);
            return;
        }
        if (switchRequest != switchDone) {
            const std::uint64_t request = switchRequest;
            const bool noise = wantNoise;
            const bool dut = wantDut;
            switchDone = request;
            lock.unlock();
            const int rc = switches.trySetSwitches(noise, dut);
            if (rc != 0) {
                fail(rc);
                return;
            }
            // Every block filled up to now, and the one filling, began before the switch.
            firstClean.store(capture.blocksCaptured() + 1, std::memory_order_relaxed);
            ackRequest.store(request, std::memory_order_release);
            lock.lock();
        }
        while (ringHead != ringTail) {
            const GroupRecord g = ring[ringHead % kGroupRing];
            ++ringHead;
            lock.unlock();
            handleGroup(g);
            lock.lock();
            if (stopRequested)
                break;
        }
        // The stall rule of the series: no block for the reading's stall limit.
        const int seen = blocksSeen.load(std::memory_order_relaxed);
        const auto now = std::chrono::steady_clock::now();
        if (seen != lastSeen) {
            lastSeen = seen;
            lastChange = now;
        } else if (now - lastChange > stallLimit) {
            lock.unlock();
            fail(kMsgDeviceStoppedDelivering);
            return;
        }
    }
}

void LiveMeter::Impl::handleGroup(const GroupRecord &g)
{
    const double y = groupY(g);
    const double off = g.power[1];
    if (g.calibration) {
        const double on = y * off;
        ++calibrationGroups;
        calOnSum += on;
        calOffSum += off;
        calOnSq += on * on;
        calOffSq += off * off;
        if (g.lastOfCalibration)
            finishCalibration();
        return;
    }
    ++groupsDone;
    const int wanted = smoothing.load(std::memory_order_relaxed);
    if (wanted != windowSmoothing) {
        windowSmoothing = wanted; // the average starts again, the trend goes on
        windowCount = windowNext = 0;
    }
    const SeriesConditions &c = plan.conditions;
    GroupResult r;
    r.y = y;
    r.off = off;
    r.yDb = db(y);
    const NoiseResult sys = systemNoise(y * off, off, c.enrDb, c.t0, c.tsOff);
    r.systemNf = sys.nf;
    r.systemTe = sys.te;
    if (liveCalibration.valid) {
        // The losses around the DUT and a converter (c.corrections) as Measure Device
        // applies them; with none entered, deviceNoise's results.
        const DeviceResults d = correctDeviceResults(
            {liveCalibration.onPower, liveCalibration.offPower, y * off, off},
            {true, true, true, true}, false, c.enrDb, c.t0, c.tsOff, c.corrections);
        r.dutNf = d.noise.nf;
        r.dutTe = d.noise.te;
        r.dutGainDb = d.gainDb;
    }
    window[static_cast<std::size_t>(windowNext)] = r;
    windowNext = (windowNext + 1) % windowSmoothing;
    windowCount = std::min(windowCount + 1, windowSmoothing);
    publishUpdate(groupsDone, g.endFrames);
}

void LiveMeter::Impl::publishUpdate(int groupNumber, double endFrames)
{
    const int n = windowCount;
    const auto at = [this](int i) -> const GroupResult & {
        return window[static_cast<std::size_t>(i)];
    };
    // The ratio of the mean powers, not the mean of the groups' ratios (which is biased up
    // by the OFF power's own noise).
    const Spread on = spreadOf(n, [&](int i) { return at(i).y * at(i).off; });
    const Spread off = spreadOf(n, [&](int i) { return at(i).off; });
    const SeriesConditions &c = plan.conditions;
    const double pOn = on.mean;
    const double pOff = off.mean;

    LiveUpdate u;
    u.group = groupNumber;
    u.groupsUsed = n;
    u.seconds = sampleRate > 0.0 ? endFrames / sampleRate : 0.0;
    u.discardedBlocks = discarded.load(std::memory_order_relaxed);
    u.lostFrames = engine.capture().lostFrames();

    // The stated parts (the readings' errors 0 here: the groups' spread is their noise).
    const SystemUncertainty su =
        systemNoiseUncertainty(pOn, pOff, {}, {}, c.enrDb, c.t0, c.tsOff, plan.stated);
    const NoiseResult sys = systemNoise(pOn, pOff, c.enrDb, c.t0, c.tsOff);
    u.ySystemDb = combine(db(pOn / pOff), spreadOf(n, [&](int i) { return at(i).yDb; }), n, su.yDb);
    u.systemNf = combine(sys.nf, spreadOf(n, [&](int i) { return at(i).systemNf; }), n, su.nf);
    u.systemTe = combine(sys.te, spreadOf(n, [&](int i) { return at(i).systemTe; }), n, su.te);

    if (liveCalibration.valid) {
        u.corrected = true;
        const std::array<double, kDeviceReadingCount> powers{
            liveCalibration.onPower, liveCalibration.offPower, pOn, pOff};
        const std::array<ReadingError, kDeviceReadingCount> errors{
            liveCalibration.onError, liveCalibration.offError, ReadingError{}, ReadingError{}};
        // The calibration's own reading errors and the stated parts.
        constexpr std::array<bool, kDeviceReadingCount> all{true, true, true, true};
        const DeviceResultsUncertainty du = correctedDeviceUncertainty(
            powers, errors, all, false, c.enrDb, c.t0, c.tsOff, plan.stated, c.corrections);
        const DeviceResults d =
            correctDeviceResults(powers, all, false, c.enrDb, c.t0, c.tsOff, c.corrections);
        u.dutNf = combine(d.noise.nf, spreadOf(n, [&](int i) { return at(i).dutNf; }), n, du.nf);
        u.dutTe = combine(d.noise.te, spreadOf(n, [&](int i) { return at(i).dutTe; }), n, du.te);
        u.dutGainDb =
            combine(d.gainDb, spreadOf(n, [&](int i) { return at(i).dutGainDb; }), n, du.gainDb);
    }
    listener->update(u);
}

void LiveMeter::Impl::finishCalibration()
{
    const int n = calibrationGroups;
    ReceiverCalibration cal;
    cal.valid = n > 0;
    const double on = calOnSum / n;
    const double off = calOffSum / n;
    cal.onPower = on;
    cal.offPower = off;
    if (n >= 2) {
        const auto relError = [n](double sum, double sq, double mean) {
            const double var = std::max(0.0, (sq - sum * sum / n) / (n - 1));
            return std::sqrt(var / n) / mean;
        };
        cal.onError = {relError(calOnSum, calOnSq, on), n - 1.0};
        cal.offError = {relError(calOffSum, calOffSq, off), n - 1.0};
    } else {
        cal.onError = {kNaN, 1.0};
        cal.offError = {kNaN, 1.0};
    }
    cal.enrDb = plan.conditions.enrDb;
    cal.t0 = plan.conditions.t0;
    cal.tsOff = plan.conditions.tsOff;
    cal.frequencyMHz = plan.frequencyMHz;
    cal.takenAt = std::chrono::system_clock::now();
    calibrationGroups = 0;
    calOnSum = calOffSum = calOnSq = calOffSq = 0.0;
    liveCalibration = cal;
    {
        const std::lock_guard lock(calibrationMutex);
        calibrationInUse = cal;
    }
    windowCount = windowNext = 0; // the readout starts again with the new calibration
    listener->calibrated(cal);
}

// ---- The public face ----

LiveMeter::LiveMeter(QuillonEngine &engine) : m_impl(std::make_unique<Impl>(engine)) {}

LiveMeter::~LiveMeter()
{
    m_impl->stop();
}

int LiveMeter::start(const LivePlan &plan, const ReceiverCalibration &calibration,
                     LiveListener &listener)
{
    return m_impl->start(plan, calibration, listener);
}

void LiveMeter::stop()
{
    m_impl->stop();
}

bool LiveMeter::running() const
{
    return m_impl->active.load(std::memory_order_acquire);
}

void LiveMeter::setSmoothing(int groups)
{
    m_impl->smoothing.store(std::clamp(groups, kLiveMinSmoothing, kLiveMaxSmoothing),
                            std::memory_order_relaxed);
}

void LiveMeter::calibrate(int groups)
{
    m_impl->calibrationRequest.store(std::clamp(groups, 1, 1024), std::memory_order_release);
}

ReceiverCalibration LiveMeter::calibration() const
{
    const std::lock_guard lock(m_impl->calibrationMutex);
    return m_impl->calibrationInUse;
}

std::uint64_t LiveMeter::discardedBlocks() const
{
    return m_impl->discarded.load(std::memory_order_relaxed);
}

} // namespace quillon
