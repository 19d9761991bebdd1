#include "measure/SeriesRunner.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "measure/MeasurementLog.h"
#include "measure/QuillonEngine.h"

#include <algorithm>
#include <cmath>

namespace quillon {

int nextSeriesReading(const SeriesPlan &plan, int last)
{
    const int button = plan.button;
    if (last < 0)
        return button >= 0 && button < kDeviceReadingCount ? button : -1;
    if (plan.conditions.kind == SeriesKind::Sky) // on the source, then (pointed) on cold sky
        return last == 0 && plan.noiseGen ? 1 : -1;
    const bool calibration = plan.conditions.kind == SeriesKind::Calibration;
    if (calibration && !plan.dutSwitch) {
        const bool pairStart = last == button && (button == 0 || button == 2);
        return pairStart && plan.noiseGen ? last + 1 : -1;
    }
    // The series goes on to the DUT pair (the unknown source's, where the DUT output selects
    // it).
    const bool dutPair = (calibration || !plan.conditions.systemMode) && plan.dutSwitch;
    switch (last) {
    case 0: // only button 0 starts here
        if (plan.noiseGen)
            return 1;
        return dutPair ? 2 : -1;
    case 1:
        if (!dutPair)
            return -1;
        return button == 0 ? 2 : 3; // button 1 moves its own OFF reading to the DUT
    case 2:
        return plan.noiseGen ? 3 : -1;
    default:
        return -1;
    }
}

std::optional<PrecisionTarget> precisionFromText(bool on, std::string_view targetDb,
                                                 std::string_view maxSeconds)
{
    const double target = parseDecimal(targetDb);
    if (!on || !(target > 0.0) || !std::isfinite(target))
        return std::nullopt;
    PrecisionTarget p;
    p.halfWidthDb = target;
    const double limit = parseDecimal(maxSeconds);
    if (limit > 0.0 && std::isfinite(limit))
        p.maxSeconds = limit;
    return p;
}

StoredSeriesOptions readStoredSeriesOptions(const SettingsStore &store)
{
    StoredSeriesOptions o;
    o.enrUncertaintyDb = store.readNumber(keys::EnrUncertainty);
    o.tsOffUncertaintyK = store.readNumber(keys::TSoffUncertainty);
    o.precision = precisionFromText(store.read(keys::AveragePrecisionFlag) != 0,
                                    store.read(keys::AveragePrecision),
                                    store.read(keys::AveragePrecisionMaxTime));
    o.autoDummy = store.read(keys::AutomaticDummyReads) != 0;
    o.driftOrder = store.read(keys::DriftCancellingOrder) != 0;
    return o;
}

std::string_view seriesReadingLabel(SeriesKind kind, int reading)
{
    switch (kind) {
    case SeriesKind::Device:
        return nfReadingLabel(reading);
    case SeriesKind::Calibration:
        return enrReadingLabel(reading);
    case SeriesKind::Sky:
        break;
    }
    return reading == 0 ? "On source" : reading == 1 ? "Cold sky" : "";
}

std::chrono::milliseconds readingStallLimit(std::uint32_t captureTimeMs)
{
    const auto limit = std::chrono::milliseconds(3 * std::int64_t{captureTimeMs} + 1000);
    return std::max(limit, std::chrono::milliseconds(2000));
}

// ---- The listener's defaults ----

bool SeriesListener::beforeReading(int, std::string_view)
{
    return true;
}

bool SeriesListener::waitSlice(ModalReading &reading, std::chrono::milliseconds slice)
{
    reading.waitFinished(slice);
    return true;
}

void SeriesListener::afterReading(int) {}
void SeriesListener::readingDone(const SeriesReadingReport &) {}
void SeriesListener::passDone(const SeriesPassReport &) {}
void SeriesListener::message(int) {}
void SeriesListener::progress(const ReadingProgress &) {}
void SeriesListener::readingEnded(int) {}

// ---- The runner ----

// One pass of the sequence: what it has taken, and the precision rule's view of the
// readings (this pass's own, the others' last values).
struct SeriesRunner::Pass
{
    Pass(const SeriesPlan &p, SeriesReadings &r, SeriesListener &l, int n)
        : plan(p), readings(r), listener(l), number(n)
    {
    }
    const SeriesPlan &plan;
    SeriesReadings &readings;
    SeriesListener &listener;
    int number = 0;
    std::array<bool, kDeviceReadingCount> taken{};
    std::array<PrecisionReading, kDeviceReadingCount> precision{};
    std::array<ReadingTimeline, kDeviceReadingCount> timeline{}; // this pass's captures
    SeriesEvaluation evaluation; // after the last reading completed
    SeriesUncertainty uncertainty;
    SeriesOutcome failure; // set when a reading failed
};

SeriesRunner::SeriesRunner(QuillonEngine &engine, const Settings &settings, ResultLine &line)
    : m_engine(engine), m_settings(settings), m_line(line), m_log(&engine.log()),
      m_reading(engine.capture(), settings, engine.highPass())
{
    // Delivery thread. m_listener is set before a capture starts and cleared after it stops.
    m_reading.setProgressHook([this](ReadingProgress p) { m_listener->progress(p); });
    m_reading.setFinishedHook([this](int outcome) { m_listener->readingEnded(outcome); });
}

SeriesRunner::~SeriesRunner()
{
    m_reading.stop(); // no block may reach the hooks once the runner is gone
}

std::optional<PrecisionQuantity> precisionQuantity(const SeriesPlan &plan)
{
    if (!plan.precision)
        return std::nullopt;
    switch (plan.conditions.kind) {
    case SeriesKind::Device:
        return PrecisionQuantity::NoiseFigure;
    case SeriesKind::Sky:
        return PrecisionQuantity::YFactor;
    case SeriesKind::Calibration: // its rule would share a noise figure's target
        break;
    }
    return std::nullopt;
}

ReadingPlan SeriesRunner::precisionPlan(const Pass &pass, int reading) const
{
    ReadingPlan plan = pass.plan.reading;
    plan.precision.reset();
    const std::optional<PrecisionQuantity> quantity = precisionQuantity(pass.plan);
    if (!quantity)
        return plan;
    const SeriesConditions &c = pass.plan.conditions;
    ReadingPlan::Precision p;
    p.target = *pass.plan.precision;
    p.series = pass.precision;
    p.current = reading;
    p.quantity = *quantity;
    p.systemMode = c.systemMode;
    p.enrDb = c.enrDb;
    p.t0 = c.t0;
    p.tsOff = c.tsOff;
    plan.precision = p;
    return plan;
}

SeriesRunner::Taken SeriesRunner::take(Pass &pass, int reading, const ReadingPlan &plan,
                                       const ReadingCarry *resume)
{
    if (cancelled())
        return Taken::Cancelled;
    const auto entered = std::chrono::steady_clock::now();
    const ReadingCarry before = resume ? *resume : ReadingCarry{};
    ReadingTimeline &timeline = pass.timeline[static_cast<std::size_t>(reading)];
    if (!resume)
        timeline = {};
    // The clock goes on by this capture's time however the reading ends.
    struct Clock
    {
        SeriesRunner &runner;
        ModalReading &modal;
        ReadingTimeline &timeline;
        const ReadingCarry &before;
        std::chrono::steady_clock::time_point entered;
        bool started = false;
        ~Clock()
        {
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - entered).count();
            if (!started) {
                runner.m_clock += wall;
                return;
            }
            const ReadingCarry &c = modal.carry();
            const int counted = c.position - before.position;
            const double block =
                counted > 0 ? (c.blockSeconds - before.blockSeconds) / counted
                            : runner.m_settings.captureTimeMs / 1000.0;
            const double audio = modal.blocksSeen() * block;
            // Opening the device and switching come before the audio.
            const double start = runner.m_clock + std::max(wall - audio, 0.0);
            if (counted > 0) {
                const int skipped =
                    c.dummies - before.dummies + c.autoDummies - before.autoDummies;
                const int from = std::min(before.position, ModalReading::kMaxBlocks);
                const int to = std::min(c.position, ModalReading::kMaxBlocks);
                timeline.addBlocks(start + (skipped + 0.5) * block, block, counted,
                                   std::span<const double>(c.powers.data() + from,
                                                           static_cast<std::size_t>(to - from)));
            }
            runner.m_clock += std::max(wall, audio);
        }
    } clock{*this, m_reading, timeline, before, entered};
    if (pass.plan.driveSwitches) {
        // Both outputs, even with one automation on; they stay so after the reading.
        const DeviceSwitchState st = deviceReadingSwitches(reading);
        m_engine.switches().setSwitches(st.noiseOn, st.dutIn);
    }
    // A switch message may have been up, or the user answers a prompt: look again after it.
    const std::string_view label = seriesReadingLabel(pass.plan.conditions.kind, reading);
    if (!pass.listener.beforeReading(reading, label) || cancelled())
        return Taken::Cancelled;

    const auto fail = [&](int messageId) {
        pass.failure = {SeriesEnd::Failed, messageId, reading, 0};
        if (messageId != kMsgNone)
            pass.listener.message(messageId);
        return Taken::Failed;
    };
    const int rc = m_reading.start(plan, resume);
    clock.started = rc == kMsgNone;
    if (rc != kMsgNone) {
        m_reading.stop();
        pass.listener.afterReading(reading);
        return fail(rc == ModalReading::kProbeFailed ? kMsgNone : rc);
    }

    const auto stallLimit = readingStallLimit(m_settings.captureTimeMs);
    int lastBlocks = 0;
    auto lastChange = std::chrono::steady_clock::now();
    bool stalled = false;
    bool stopped = false;
    // At least one slice per reading, also for a reading that ended at once (the bench at
    // speed 0): a window runs its events there, so that Cancel can be pressed in a series
    // whose readings all end before the runner looks.
    for (bool first = true; first || !m_reading.finished(); first = false) {
        if (cancelled() || !pass.listener.waitSlice(m_reading, kWatchSlice) || cancelled()) {
            stopped = true;
            break;
        }
        const int seen = m_reading.blocksSeen();
        const auto now = std::chrono::steady_clock::now();
        if (seen != lastBlocks || m_reading.finished()) {
            lastBlocks = seen;
            lastChange = now;
        } else if (now - lastChange > stallLimit) {
            stalled = true;
            break;
        }
    }
    // From here on no callback runs for this reading: its powers and outcome are stable.
    m_reading.stop();
    pass.listener.afterReading(reading);
    if (stopped)
        return Taken::Cancelled; // the unfinished (or just finished) reading is dropped
    if (stalled)
        return fail(kMsgDeviceStoppedDelivering);
    if (m_reading.outcome() == ModalReading::kOutcomeOverRange)
        return fail(kMsgSignalTooHigh);
    return m_reading.outcome() == ModalReading::kOutcomeComplete ? Taken::Ok : Taken::Cancelled;
}

SeriesRunner::Taken SeriesRunner::complete(Pass &pass, int reading, const ReadingCarry &carry,
                                           const std::array<ReadingStatistics, 2> *halves)
{
    SeriesReadingReport report;
    report.reading = reading;
    report.label = seriesReadingLabel(pass.plan.conditions.kind, reading);
    report.power = carry.position > 0 ? carry.powerSum / carry.position : PrecisionReading::kNaN;
    report.blocks = carry.position;
    report.autoDummies = carry.autoDummies;
    report.dummies = carry.dummies;
    const int stored = std::min(carry.position, ModalReading::kMaxBlocks);
    report.blockPowers.assign(carry.powers.begin(), carry.powers.begin() + stored);
    report.statistics = carry.statistics.statistics();

    const SeriesConditions &c = pass.plan.conditions;
    const int rc = pass.readings.complete(reading, report.power, c, m_settings, m_line, *m_log,
                                         report.evaluation);
    if (halves)
        pass.readings.setQualityOfHalves(reading, (*halves)[0], (*halves)[1], carry.lostFrames);
    else
        pass.readings.setQuality(reading, report.statistics, carry.lostFrames);
    report.timeline = pass.timeline[static_cast<std::size_t>(reading)];
    pass.readings.setTimeline(reading, report.timeline);
    report.warnings = pass.readings.warnings(reading);
    report.uncertainty = pass.readings.uncertainty(c, pass.plan.stated);
    const auto k = static_cast<std::size_t>(reading);
    pass.taken[k] = true;
    pass.precision[k] = precisionReading(report.statistics, true);
    pass.evaluation = report.evaluation;
    pass.uncertainty = report.uncertainty;
    if (c.kind == SeriesKind::Device && reading <= 1 && pass.taken[0] && pass.taken[1])
        keepReceiverCalibration(pass);
    pass.listener.readingDone(report);
    if (rc != kMsgNone) {
        // The reading is stored, shown and evaluated, but the series ends.
        pass.failure = {SeriesEnd::Failed, rc, reading, 0};
        pass.listener.message(rc);
        return Taken::Failed;
    }
    return Taken::Ok;
}

void SeriesRunner::keepReceiverCalibration(const Pass &pass)
{
    // Readings 0 and 1 are the receiver with the DUT out of circuit, this pass's own.
    const SeriesConditions &c = pass.plan.conditions;
    ReceiverCalibration &cal = m_engine.receiverCalibration();
    cal.valid = true;
    cal.onPower = pass.readings.power(0);
    cal.offPower = pass.readings.power(1);
    cal.onError = pass.readings.error(0);
    cal.offError = pass.readings.error(1);
    cal.enrDb = c.enrDb;
    cal.t0 = c.t0;
    cal.tsOff = c.tsOff;
    cal.frequencyMHz = pass.plan.enrFrequencyMHz;
    cal.takenAt = std::chrono::system_clock::now();
}

bool SeriesRunner::runPilotPass(Pass &pass, const std::vector<int> &sequence)
{
    const SeriesConditions &c = pass.plan.conditions;
    const PrecisionTarget &target = *pass.plan.precision;
    std::array<ReadingCarry, kDeviceReadingCount> carry{};
    ReadingPlan pilot = pass.plan.reading;
    pilot.precision.reset();
    pilot.averaging = true;
    pilot.averageCount = std::clamp(std::max(pass.plan.pilotBlocks, target.minBlocks), 1,
                                    ModalReading::kMaxBlocks);

    // The pilots, in the order of the sequence; the last reading in full, its share known.
    const std::size_t last = sequence.size() - 1;
    for (std::size_t i = 0; i <= last; ++i) {
        const int r = sequence[i];
        const auto k = static_cast<std::size_t>(r);
        if (take(pass, r, i < last ? pilot : precisionPlan(pass, r), nullptr) != Taken::Ok)
            return false;
        carry[k] = m_reading.carry();
        pass.precision[k] = precisionReading(carry[k].statistics.statistics(), i == last);
    }
    // Back through the pilots, nearest switch state first: a pilot that already meets its
    // share is the reading; the others go on from where they stopped.
    for (std::size_t i = last; i-- > 0;) {
        const int r = sequence[i];
        const auto k = static_cast<std::size_t>(r);
        const PrecisionDecision d =
            decidePrecision(pass.precision, r, carry[k].blockSeconds, c.systemMode, c.enrDb, c.t0,
                            c.tsOff, target);
        if (d.verdict == PrecisionVerdict::Continue) {
            if (take(pass, r, precisionPlan(pass, r), &carry[k]) != Taken::Ok)
                return false;
            carry[k] = m_reading.carry();
        }
        pass.precision[k] = precisionReading(carry[k].statistics.statistics(), true);
    }
    // Stored, logged and reported in the order of the sequence.
    for (const int r : sequence)
        if (complete(pass, r, carry[static_cast<std::size_t>(r)]) != Taken::Ok)
            return false;
    return true;
}

bool SeriesRunner::runPass(Pass &pass)
{
    std::vector<int> sequence;
    for (int r = nextSeriesReading(pass.plan, -1); r >= 0; r = nextSeriesReading(pass.plan, r))
        sequence.push_back(r);
    const std::optional<PrecisionQuantity> quantity = precisionQuantity(pass.plan);
    const bool precision = quantity.has_value();
    const bool unknown = std::any_of(sequence.begin(), sequence.end(), [&](int r) {
        return !(pass.precision[static_cast<std::size_t>(r)].power > 0.0);
    });
    // The Y factor's shares need no powers: its readings are taken in one go.
    if (quantity == PrecisionQuantity::NoiseFigure && unknown && sequence.size() > 1)
        return runPilotPass(pass, sequence);
    const bool driftOrder =
        pass.plan.driftOrder && !precision && pass.plan.conditions.kind == SeriesKind::Device;
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const int r = sequence[i];
        if (driftOrder && (r == 0 || r == 2) && i + 1 < sequence.size() &&
            sequence[i + 1] == r + 1) {
            if (!runDriftPair(pass, r))
                return false;
            ++i; // its OFF partner is taken
            continue;
        }
        if (take(pass, r, precisionPlan(pass, r), nullptr) != Taken::Ok ||
            complete(pass, r, m_reading.carry()) != Taken::Ok)
            return false;
    }
    return true;
}

bool SeriesRunner::runDriftPair(Pass &pass, int on)
{
    const int off = on + 1;
    ReadingPlan full = pass.plan.reading;
    full.precision.reset();
    if (ModalReading::countedBlocks(full) < 2) {
        full.averaging = true; // a block on either side of the OFF reading
        full.averageCount = 2;
    }
    ReadingPlan firstHalf = full;
    firstHalf.averageCount = ModalReading::countedBlocks(full) / 2;

    if (take(pass, on, firstHalf, nullptr) != Taken::Ok)
        return false;
    const ReadingCarry onHalf = m_reading.carry();
    if (take(pass, off, full, nullptr) != Taken::Ok)
        return false;
    const ReadingCarry offCarry = m_reading.carry();
    if (take(pass, on, full, &onHalf) != Taken::Ok)
        return false;
    const std::array<ReadingStatistics, 2> halves{onHalf.statistics.statistics(),
                                                  m_reading.captureStatistics()};
    // Stored, logged and reported in the order of the sequence.
    return complete(pass, on, m_reading.carry(), &halves) == Taken::Ok &&
           complete(pass, off, offCarry) == Taken::Ok;
}

SeriesOutcome SeriesRunner::run(const SeriesPlan &plan, SeriesReadings &readings,
                                SeriesListener &listener)
{
    if (m_running)
        return {SeriesEnd::Cancelled, kMsgNone, -1, 0};
    m_running = true;
    m_cancel.store(false, std::memory_order_release);
    m_listener = &listener;
    if (m_lastRunEnd)
        m_clock += std::chrono::duration<double>(std::chrono::steady_clock::now() - *m_lastRunEnd)
                       .count();

    SeriesOutcome outcome;
    // The precision rule's powers: the store's readings, else those expected.
    std::array<PrecisionReading, kDeviceReadingCount> known{};
    for (int i = 0; i < kDeviceReadingCount; ++i)
        known[static_cast<std::size_t>(i)].power =
            readings.present(i) ? readings.power(i)
                                : plan.expectedPowers[static_cast<std::size_t>(i)];
    for (int n = 0; plan.passes <= 0 || n < plan.passes; ++n) {
        Pass pass(plan, readings, listener, n);
        pass.precision = known;
        const bool ok = runPass(pass);
        for (int i = 0; i < kDeviceReadingCount; ++i)
            known[static_cast<std::size_t>(i)] = {pass.precision[static_cast<std::size_t>(i)].power};
        SeriesPassReport report;
        report.pass = n;
        report.taken = pass.taken;
        if (ok) {
            report.evaluation = pass.evaluation;
            report.uncertainty = pass.uncertainty;
            report.warnings = readings.warnings();
            listener.passDone(report);
            ++outcome.passes;
            continue;
        }
        outcome.end = pass.failure.end == SeriesEnd::Failed ? SeriesEnd::Failed
                                                            : SeriesEnd::Cancelled;
        outcome.messageId = pass.failure.messageId;
        outcome.reading = pass.failure.reading;
        if (std::any_of(pass.taken.begin(), pass.taken.end(), [](bool t) { return t; })) {
            // Results of the readings this pass took, not of those left from the pass before.
            report.cutShort = true;
            report.evaluation = readings.evaluateOnly(pass.taken, plan.conditions);
            report.uncertainty = readings.uncertaintyOnly(pass.taken, plan.conditions, plan.stated);
            report.warnings = readings.warningsOnly(pass.taken);
            listener.passDone(report);
        }
        break;
    }
    m_listener = nullptr;
    m_running = false;
    m_lastRunEnd = std::chrono::steady_clock::now();
    return outcome;
}

} // namespace quillon
