#include "measure/SweepRunner.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "measure/DeviceResultsText.h"
#include "measure/MeasurementLog.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingGuards.h"
#include "nf/Uncertainty.h"
#include "nf/YFactorMath.h"
#include "rig/RigControl.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

std::string joined(const std::string &a, const std::string &b)
{
    return a.empty() ? b : b.empty() ? a : a + "; " + b;
}

// The readings' warnings, one line each, as one "; "-joined text.
std::string warningsInOneLine(const ReadingWarnings &w)
{
    std::string text = warningText(w);
    std::replace(text.begin(), text.end(), '\n', ';');
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(';', at), text.size());
        out = joined(out, text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

} // namespace

// What the sweep shows of a point's series: its status line, and the abort.
class SweepRunner::PointListener : public SeriesListener
{
public:
    explicit PointListener(SweepRunner &runner) : m_runner(runner) {}

    bool beforeReading(int, std::string_view label) override
    {
        m_runner.status("Reading " + std::string(label));
        return !m_runner.m_abort.load();
    }
    bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice) override
    {
        reading.waitFinished(slice);
        return !m_runner.m_abort.load();
    }
    void readingDone(const SeriesReadingReport &report) override
    {
        if (report.reading >= 0 && report.reading < kDeviceReadingCount)
            m_statistics[static_cast<std::size_t>(report.reading)] = report.statistics;
    }
    void passDone(const SeriesPassReport &pass) override { m_pass = pass; }

    SeriesPassReport m_pass;
    std::array<ReadingStatistics, kDeviceReadingCount> m_statistics{}; // by reading number

private:
    SweepRunner &m_runner;
};

SweepRunner::SweepRunner(QuillonEngine &engine) : m_engine(engine) {}

SweepRunner::~SweepRunner()
{
    abort();
    if (m_worker.joinable())
        m_worker.join();
}

bool SweepRunner::start(SweepConfig config)
{
    if (running() || config.frequenciesMHz.empty())
        return false;
    if (m_worker.joinable())
        m_worker.join(); // ended: its finished hook has returned
    m_config = std::move(config);
    m_series = std::make_unique<SeriesRunner>(m_engine, m_config.settings, m_line);
    m_stop.store(false);
    m_abort.store(false);
    {
        const std::lock_guard lock(m_mutex);
        m_rows.clear();
        m_ended = false;
    }
    m_running.store(true, std::memory_order_release);
    m_worker = std::thread([this] { run(); });
    return true;
}

void SweepRunner::requestStop()
{
    m_stop.store(true);
    const std::lock_guard lock(m_mutex);
    m_wake.notify_all();
}

void SweepRunner::abort()
{
    m_abort.store(true);
    requestStop();
    if (m_series)
        m_series->cancel();
    // The worker looks at the flag every kPoll while it holds the capture.
    const std::lock_guard capture(m_captureMutex);
}

bool SweepRunner::waitFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_wake.wait_for(lock, timeout, [this] { return m_ended; });
}

std::vector<SweepRow> SweepRunner::rows() const
{
    const std::lock_guard lock(m_mutex);
    return m_rows;
}

void SweepRunner::status(const std::string &text)
{
    if (m_statusHook)
        m_statusHook(text);
}

bool SweepRunner::measurePoint(double f, SweepRow &row, SeriesReadings &last,
                               SweepOutcome &outcome)
{
    const SweepConfig &c = m_config;
    SeriesPlan plan;
    plan.conditions = {SeriesKind::Device, false, 0.0, c.t0, c.tsOff, c.tsOff, {}};
    const auto enrAt = [&c](double mhz) {
        return c.useEnrFile ? enrForEntry(mhz, true, c.enrTable) : c.typedEnrDb;
    };
    plan.conditions.enrDb = enrAt(f);
    if (c.corrections.any()) {
        const Result resolved =
            resolveCorrections(c.corrections, c.lossTables, f, enrAt, plan.conditions.corrections);
        if (!resolved.ok()) {
            outcome.end = SweepEnd::Failed;
            outcome.message = resolved.detail;
            return false;
        }
        const ChainCorrections &cc = plan.conditions.corrections;
        row.inputFrequencyMHz = cc.frequencies.inputMHz;
        const auto lossDb = [&cc](LossPlace p) {
            return cc.at(p).active ? cc.at(p).db : SweepRow::kNone;
        };
        row.inputLossDb = lossDb(LossPlace::Input);
        row.outputLossDb = lossDb(LossPlace::Output);
        row.calibrationLossDb = lossDb(LossPlace::Calibration);
        row.correctedFor = correctedForText(cc);
    }
    plan.stated = statedUncertainty(f, c.useEnrFile, c.enrTable, c.enrUncertaintyDb,
                                    c.tsOffUncertaintyK);
    plan.noiseGen = plan.dutSwitch = plan.driveSwitches = true;
    plan.reading = c.plan;
    plan.precision = c.precision;
    plan.driftOrder = c.driftOrder;
    // The last point's powers share a precision target until this point has its own.
    for (int i = 0; i < kDeviceReadingCount; ++i)
        if (last.present(i))
            plan.expectedPowers[static_cast<std::size_t>(i)] = last.power(i);
    row.frequencyMHz = f;
    row.enrDb = plan.conditions.enrDb;

    SeriesReadings readings(SeriesKind::Device);
    PointListener listener(*this);
    SeriesOutcome ended;
    {
        const std::lock_guard capture(m_captureMutex);
        if (m_abort.load())
            return false;
        ended = m_series->run(plan, readings, listener);
    }
    if (ended.end == SeriesEnd::Cancelled || m_abort.load()) {
        outcome.end = SweepEnd::Stopped; // the point being read is dropped
        return false;
    }
    const bool overRange =
        ended.end == SeriesEnd::Failed && ended.messageId == kMsgSignalTooHigh;
    if (ended.end == SeriesEnd::Failed && !overRange && ended.messageId != kMsgCannotOpenLog) {
        outcome.end = SweepEnd::Failed;
        outcome.message = messageText(ended.messageId != kMsgNone ? ended.messageId
                                                                  : kMsgCannotOpenWaveDevice);
        return false;
    }

    const SeriesPassReport &pass = listener.m_pass;
    if (overRange)
        row.warnings = std::string(nfReadingLabel(ended.reading)) + ": " +
                       messageText(kMsgSignalTooHigh);
    for (int r = 0; r < kDeviceReadingCount; ++r)
        if (pass.taken[static_cast<std::size_t>(r)] && !YFactorMath::readingInRange(readings.power(r)))
            row.warnings =
                joined(row.warnings, std::string(nfReadingLabel(r)) + ": reading out of range");
    row.warnings = joined(row.warnings, warningsInOneLine(pass.warnings));
    const DeviceResults &res = pass.evaluation.device;
    const DeviceResultsUncertainty &u = pass.uncertainty.device;
    if (pass.evaluation.complete) {
        row.gainDb = res.gainDb;
        row.gainUncertaintyDb = u.gainDb.total;
        row.gainHalfWidth95Db = u.gainDb.totalHalfWidth();
        if (!res.gainValid)
            row.warnings = joined(row.warnings, "gain out of range");
        if (res.noise.valid) {
            row.nfDb = res.noise.nf;
            row.teK = res.noise.te;
            row.nfUncertaintyDb = u.nf.total;
            row.nfHalfWidth95Db = u.nf.totalHalfWidth();
            row.teUncertaintyK = u.te.total;
        } else {
            row.warnings = joined(row.warnings, "noise temperature out of range");
        }
    }
    if (row.warnings.empty() && ended.end == SeriesEnd::Failed)
        row.warnings = messageText(ended.messageId);
    if (pass.evaluation.complete) {
        ReportResult &r = row.report;
        r.label = formatFixed(f, 3) + " MHz";
        r.frequencyMHz = f;
        r.enrDb = plan.conditions.enrDb;
        r.stated = plan.stated;
        r.corrections = plan.conditions.corrections;
        r.drift = pass.uncertainty.drift;
        for (int i = 0; i < kDeviceReadingCount; ++i) {
            ReportReading x;
            x.number = i;
            x.label = std::string(nfReadingLabel(i));
            x.power = readings.power(i);
            x.statistics = listener.m_statistics[static_cast<std::size_t>(i)];
            // The error the series used (halves in the drift-cancelling order).
            x.statistics.relativeStandardError = readings.error(i).relative;
            x.statistics.degreesOfFreedom = readings.error(i).degreesOfFreedom;
            x.blocks = x.statistics.blocks;
            const std::string w = warningText(readings.warnings(i));
            for (std::size_t at = 0; at < w.size();) {
                const std::size_t end = std::min(w.find('\n', at), w.size());
                x.warnings.push_back(w.substr(at, end - at));
                at = end + 1;
            }
            r.readings.push_back(std::move(x));
        }
        if (!row.warnings.empty())
            r.warnings.push_back(row.warnings);
    }
    last = readings;
    if (ended.messageId == kMsgCannotOpenLog) {
        // The point is kept (its readings are stored), the sweep ends with the message.
        outcome.end = SweepEnd::Failed;
        outcome.message = messageText(kMsgCannotOpenLog);
    }
    return true;
}

void SweepRunner::run()
{
    SweepOutcome outcome;
    const SweepConfig &c = m_config;
    std::unique_ptr<RigControl> rig = makeRigControl(c.rig, &m_engine.bench());
    SeriesReadings last(SeriesKind::Device);

    for (std::size_t i = 0; i < c.frequenciesMHz.size(); ++i) {
        if (m_stop.load()) {
            outcome.end = SweepEnd::Stopped;
            break;
        }
        const double f = c.frequenciesMHz[i];
        status("Tuning " + frequencyText(f * 1e6));
        RigReadback readback;
        const RigResult tuned = i == 0 ? connectRig(*rig, f * 1e6, c.rig.mode, readback)
                                       : tuneRig(*rig, f * 1e6, readback);
        if (!tuned.ok()) {
            outcome.end = SweepEnd::Failed;
            outcome.message = tuned.detail;
            break;
        }
        if (c.settleMs > 0) {
            status("Settling");
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(c.settleMs),
                            [this] { return m_stop.load(); });
        }
        if (m_stop.load()) {
            outcome.end = SweepEnd::Stopped;
            break;
        }
        SweepRow row;
        if (!measurePoint(f, row, last, outcome))
            break; // the point being read is dropped; those before it are kept
        {
            const std::lock_guard lock(m_mutex);
            m_rows.push_back(row);
        }
        ++outcome.points;
        if (m_pointHook)
            m_pointHook(row);
        if (outcome.end == SweepEnd::Failed)
            break;
    }
    rig->close();
    if (m_finishedHook)
        m_finishedHook(outcome);
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        // Before the wake-up: whoever waitFinished() wakes may start the next sweep at once.
        m_running.store(false, std::memory_order_release);
        m_wake.notify_all();
    }
}

} // namespace quillon
