#include "measure/SweepRunner.h"

#include "core/Messages.h"
#include "measure/DeviceResultsText.h"
#include "measure/MeasurementLog.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingSeries.h"
#include "nf/Uncertainty.h"
#include "nf/YFactorMath.h"
#include "rig/RigControl.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20); // how often a reading looks at abort
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A reading's statistical error from the spread of its averaged blocks: the relative
// standard error of their mean and its degrees of freedom; NaN below two blocks.
void blockSpread(const ModalReading &reading, double &relative, double &degrees)
{
    const int n = reading.blocksMeasured();
    relative = kNaN;
    degrees = 0.0;
    if (n < 2)
        return;
    double mean = 0.0;
    for (int i = 0; i < n; ++i)
        mean += reading.blockPower(i);
    mean /= n;
    double squares = 0.0;
    for (int i = 0; i < n; ++i)
        squares += (reading.blockPower(i) - mean) * (reading.blockPower(i) - mean);
    if (!(mean > 0.0))
        return;
    relative = std::sqrt(squares / (n - 1) / n) / mean;
    degrees = n - 1;
}

std::string joined(const std::string &a, const std::string &b)
{
    return a.empty() ? b : a + "; " + b;
}

} // namespace

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

bool SweepRunner::takeReading(int r, double &power, double &relativeError, double &degrees,
                              bool &overRange, std::string &failure)
{
    const std::lock_guard capture(m_captureMutex);
    if (m_abort.load())
        return false;
    const DeviceSwitchState st = deviceReadingSwitches(r);
    m_engine.switches().setSwitches(st.noiseOn, st.dutIn);
    status("Reading " + std::string(nfReadingLabel(r)));

    ModalReading reading(m_engine.capture(), m_config.settings, m_engine.highPass());
    if (reading.start(m_config.plan) != kMsgNone) {
        reading.stop();
        failure = messageText(kMsgCannotOpenWaveDevice);
        return false;
    }
    // A device that delivers no block for three capture times and a second has failed.
    const auto stallLimit = std::max(
        std::chrono::milliseconds(3 * std::int64_t{m_config.settings.captureTimeMs} + 1000),
        std::chrono::milliseconds(2000));
    int lastBlocks = 0;
    auto lastChange = std::chrono::steady_clock::now();
    while (!reading.waitFinished(kPoll)) {
        if (m_abort.load()) {
            reading.stop();
            return false;
        }
        const int blocks = reading.blocksSeen();
        const auto now = std::chrono::steady_clock::now();
        if (blocks != lastBlocks) {
            lastBlocks = blocks;
            lastChange = now;
        } else if (now - lastChange > stallLimit) {
            reading.stop();
            failure = messageText(kMsgCannotOpenWaveDevice);
            return false;
        }
    }
    reading.stop(); // from here the block powers are stable
    overRange = reading.outcome() == ModalReading::kOutcomeOverRange;
    power = reading.meanPower();
    blockSpread(reading, relativeError, degrees);
    return true;
}

void SweepRunner::run()
{
    SweepOutcome outcome;
    const SweepConfig &c = m_config;
    std::unique_ptr<RigControl> rig = makeRigControl(c.rig, &m_engine.bench());
    const DeviceSeriesFlags flags{true, true, false};
    ResultLine line; // the log lines' result text, the worker's own
    DeviceReadings logged;

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

        const double enrDb = c.useEnrFile ? enrForEntry(f, true, c.enrTable) : c.typedEnrDb;
        double enrHalfWidth =
            c.useEnrFile ? enrUncertaintyForEntry(f, true, c.enrTable) : c.enrUncertaintyDb;
        if (!std::isfinite(enrHalfWidth))
            enrHalfWidth = 0.0;

        std::array<double, kDeviceReadingCount> power{};
        std::array<bool, kDeviceReadingCount> present{};
        std::array<ReadingError, kDeviceReadingCount> error{};
        bool spreadKnown = true;
        SweepRow row;
        row.frequencyMHz = f;
        row.enrDb = enrDb;
        bool ended = false;
        for (int r = nextDeviceReading(0, -1, flags); r >= 0; r = nextDeviceReading(0, r, flags)) {
            double p = kNaN, relative = kNaN, degrees = 0.0;
            bool overRange = false;
            std::string failure;
            if (!takeReading(r, p, relative, degrees, overRange, failure)) {
                outcome.end = failure.empty() ? SweepEnd::Stopped : SweepEnd::Failed;
                outcome.message = failure;
                ended = true;
                break;
            }
            if (overRange) {
                row.warnings = joined(row.warnings, std::string(nfReadingLabel(r)) + ": " +
                                                        messageText(kMsgSignalTooHigh));
                continue;
            }
            if (!YFactorMath::readingInRange(p))
                row.warnings = joined(row.warnings,
                                      std::string(nfReadingLabel(r)) + ": reading out of range");
            const auto k = static_cast<std::size_t>(r);
            power[k] = p;
            present[k] = true;
            error[k] = {relative, degrees};
            spreadKnown = spreadKnown && std::isfinite(relative);
        }
        if (ended)
            break; // the point being read is dropped; those before it are kept

        const DeviceResults res =
            computeDeviceResults(power, present, false, enrDb, c.t0, c.tsOff);
        if (res.complete) {
            row.gainDb = res.gainDb;
            if (!res.gainValid)
                row.warnings = joined(row.warnings, "gain out of range");
            if (res.noise.valid) {
                row.nfDb = res.noise.nf;
                row.teK = res.noise.te;
            } else {
                row.warnings = joined(row.warnings, "noise temperature out of range");
            }
            if (spreadKnown) {
                const DeviceResultsUncertainty u = computeDeviceUncertainty(
                    power, error, present, false, enrDb, c.t0, c.tsOff, {enrHalfWidth, 0.0});
                row.nfUncertaintyDb = std::isfinite(row.nfDb) ? u.nf.total : kNaN;
                row.teUncertaintyK = std::isfinite(row.teK) ? u.te.total : kNaN;
                row.gainUncertaintyDb = u.gainDb.total;
            }
        }

        // The point is complete: its four "NF" lines, as the Measure Device page writes them.
        if (c.settings.logMeasurements) {
            logged.clearPresent();
            const DeviceConditions conditions{false, enrDb, c.t0, c.tsOff};
            for (int r = 0; r < kDeviceReadingCount; ++r) {
                if (!present[static_cast<std::size_t>(r)])
                    continue;
                DeviceEvaluation evaluation;
                if (logged.complete(r, power[static_cast<std::size_t>(r)], conditions,
                                    c.settings, line, m_engine.log(), evaluation) != kMsgNone) {
                    outcome.end = SweepEnd::Failed;
                    outcome.message = messageText(kMsgCannotOpenLog);
                }
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_rows.push_back(row);
        }
        ++outcome.points;
        if (m_pointHook)
            m_pointHook(row);
        if (outcome.end == SweepEnd::Failed)
            break; // the log failed: the point is kept, the sweep ends with the message
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
