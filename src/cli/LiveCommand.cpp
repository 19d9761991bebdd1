// quillon-cli live: the live noise figure, one line (or JSON object) per group until Ctrl-C
// or --count updates.

#include "cli/CaptureOptions.h"
#include "cli/CorrectionOptions.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "core/Messages.h"
#include "measure/LiveMeter.h"
#include "measure/QuillonEngine.h"
#include "nf/Corrections.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace quillon::cli {

namespace {

// live switches through --port and reads the ENR at --freq; no precision (it never ends).
constexpr CaptureOptionSet kLiveOptions{true, false, EnrLookup::AtOneFrequency, false};

// "1.023 ± 0.054": the value and its total 95% half-width ("± ?" while one group cannot
// tell its spread).
std::string withHalfWidth(const Uncertain &u, int decimals)
{
    const double hw = u.totalHalfWidth();
    return fixed(u.value, decimals) + " ± " + (std::isfinite(hw) ? fixed(hw, decimals) : "?");
}

void addUncertain(Json &json, std::string_view name, const Uncertain &u)
{
    json.key(name).beginObject();
    json.key("value").value(u.value);
    json.key("halfWidth").value(u.totalHalfWidth());
    json.key("statisticalHalfWidth").value(u.statisticalHalfWidth());
    json.endObject();
}

// Prints on the live thread as updates come; the main thread waits for the count, a failure
// or a stop signal. `corrections` are the run's: what of them a readout applies depends on
// whether it is the DUT's (liveAppliedCorrections).
class LivePrinter : public LiveListener
{
public:
    LivePrinter(bool json, int count, int smoothing, int decimals,
                const ChainCorrections &corrections)
        : m_json(json), m_count(count), m_smoothing(smoothing), m_decimals(decimals),
          m_corrections(corrections)
    {
    }
    // --recalibrate: a new calibration of `groups` groups after every `every` updates.
    void recalibrate(LiveMeter &meter, int every, int groups)
    {
        m_meter = &meter;
        m_recalibrateEvery = every;
        m_calibrationGroups = groups;
    }

    void update(const LiveUpdate &u) override
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_count > 0 && m_printed >= m_count)
                return; // the main thread is stopping the meter
        }
        const std::string correctedFor =
            correctedForText(liveAppliedCorrections(m_corrections, u.corrected));
        std::string line;
        if (m_json) {
            Json json;
            json.beginObject();
            json.key("group").value(u.group);
            json.key("seconds").value(u.seconds);
            json.key("groupsUsed").value(u.groupsUsed);
            json.key("smoothing").value(m_smoothing);
            json.key("corrected").value(u.corrected);
            addUncertain(json, "ySystemDb", u.ySystemDb);
            addUncertain(json, "systemNfDb", u.systemNf);
            addUncertain(json, "systemTeK", u.systemTe);
            if (u.corrected) {
                addUncertain(json, "nfDb", u.dutNf);
                addUncertain(json, "teK", u.dutTe);
                addUncertain(json, "gainDb", u.dutGainDb);
            }
            json.key("discardedBlocks").value(static_cast<long long>(u.discardedBlocks));
            json.key("lostFrames").value(static_cast<long long>(u.lostFrames));
            json.key("correctedFor");
            if (correctedFor.empty())
                json.null();
            else
                json.value(correctedFor);
            json.endObject();
            line = json.text();
        } else {
            // The corrections' line before the first group line that applies them, and again
            // when they change (the DUT's results after a calibration: all of them).
            if (correctedFor != m_correctedForStated && !correctedFor.empty())
                line = correctedFor + "\n";
            m_correctedForStated = correctedFor;
            line += "group " + std::to_string(u.group) + "  ";
            if (u.corrected)
                line += "NF " + withHalfWidth(u.dutNf, m_decimals) + " dB  gain " +
                        withHalfWidth(u.dutGainDb, m_decimals) + " dB";
            else
                line += "system NF " + withHalfWidth(u.systemNf, m_decimals) + " dB";
            line += "  groups " + std::to_string(u.groupsUsed) + "/" +
                    std::to_string(m_smoothing) + "\n";
        }
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        {
            const std::lock_guard lock(m_mutex);
            ++m_printed;
        }
        m_changed.notify_all();
        // Counted from the calibration itself, not from the request: the groups the delivery
        // thread had already taken with the DUT in still arrive after it, and are not counted.
        if (m_meter != nullptr && u.corrected && !m_calibrationAsked &&
            ++m_sinceCalibration >= m_recalibrateEvery) {
            m_calibrationAsked = true;
            m_meter->calibrate(m_calibrationGroups); // from the next group on
        }
    }

    void calibrated(const ReceiverCalibration &c) override
    {
        m_sinceCalibration = 0; // live thread, as update()
        m_calibrationAsked = false;
        std::string line;
        if (m_json) {
            Json json;
            json.beginObject().key("calibration").beginObject();
            json.key("onPower").value(c.onPower);
            json.key("offPower").value(c.offPower);
            json.key("onRelativeError").value(c.onError.relative);
            json.key("offRelativeError").value(c.offError.relative);
            json.key("enrDb").value(c.enrDb);
            json.key("tsOffK").value(c.tsOff);
            json.key("frequencyMHz").value(c.frequencyMHz);
            json.endObject().endObject();
            line = json.text();
        } else {
            line = "receiver calibrated: Y " +
                   fixed(10.0 * std::log10(c.onPower / c.offPower), m_decimals) +
                   " dB with the DUT switched out\n";
        }
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    void failed(int messageId) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_failure = messageId;
        }
        m_changed.notify_all();
    }

    // Waits up to `slice`; true once the count is reached.
    bool waitSlice(std::chrono::milliseconds slice)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, slice, [this] { return done() || m_failure != 0; });
        return done();
    }
    int failure() const
    {
        const std::lock_guard lock(m_mutex);
        return m_failure;
    }

private:
    bool done() const { return m_count > 0 && m_printed >= m_count; }

    const bool m_json;
    const int m_count;
    const int m_smoothing;
    const int m_decimals;
    const ChainCorrections m_corrections;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_printed = 0;
    int m_failure = 0;
    // Live thread only.
    LiveMeter *m_meter = nullptr;
    int m_recalibrateEvery = 0;
    int m_calibrationGroups = 0;
    int m_sinceCalibration = 0;
    bool m_calibrationAsked = false;
    std::string m_correctedForStated; // the corrected-for line last printed ("" none)
};

} // namespace

int runLive(const std::vector<std::string> &args)
{
    std::vector<std::string_view> valued{"smoothing", "count",    "calibrate",
                                         "recalibrate", "bench-speed", "decimals"},
        flags{"json"};
    addCaptureOptionNames(kLiveOptions, valued, flags);
    addCorrectionOptionNames(valued, flags);
    const Options o("live", args, valued, flags);
    if (o.flag("help"))
        return printHelp("live");
    if (!o.positional().empty())
        throw CliError("live takes no argument '" + o.positional().front() + "'");
    const int smoothing = o.integer("smoothing", kLiveMinSmoothing, kLiveMaxSmoothing).value_or(8);
    const int count = o.integer("count", 1, 1'000'000'000).value_or(0);
    const int calibrateGroups = o.integer("calibrate", 1, 1024).value_or(0);
    const int recalibrateEvery = o.integer("recalibrate", 1, 1'000'000).value_or(0);
    if (recalibrateEvery > 0 && calibrateGroups == 0)
        throw CliError("--recalibrate needs --calibrate (the groups each calibration takes)");
    const double benchSpeed = o.number("bench-speed", 0.0, 10000.0).value_or(1.0);

    catchStopSignals();
    CommandEngine command(o);
    QuillonEngine &engine = command.engine;
    const CaptureRequest request = parseCaptureOptions(o, kLiveOptions, engine);
    const int decimals =
        o.integer("decimals", 0, 3).value_or(engine.settings().decimalPointsInResults);
    applyCaptureRequest(request, engine);
    if (request.onBench) {
        // Live on the bench is shown in real time unless asked otherwise.
        BenchParameters p = engine.bench().parameters();
        p.speed = benchSpeed;
        engine.bench().setParameters(p);
    }

    LivePlan plan;
    plan.conditions.enrDb = request.enr.enrDb();
    plan.conditions.t0 = request.t0;
    plan.conditions.tsOff = request.tsOff;
    plan.stated = {request.enr.uncertaintyDb(), request.tsOffUncertaintyK};
    plan.frequencyMHz = request.enr.fromFile ? request.enr.frequencyMHz : std::nan("");
    plan.smoothingGroups = smoothing;
    plan.autoDummy = request.plan.autoDummy;
    plan.calibrateFirst = calibrateGroups;
    // The losses around the DUT and a converter (they apply once the receiver is calibrated).
    plan.conditions.corrections = capturedCorrections(o, request, engine);

    LivePrinter printer(o.flag("json"), count, smoothing, decimals, plan.conditions.corrections);
    LiveMeter meter(engine);
    if (recalibrateEvery > 0)
        printer.recalibrate(meter, recalibrateEvery, calibrateGroups);
    const int rc = meter.start(plan, {}, printer);
    if (rc != kMsgNone)
        throw CliError(messageText(rc), kExitFailed);
    for (;;) {
        if (printer.waitSlice(std::chrono::milliseconds(100)))
            break;
        if (printer.failure() != 0 || stopSignal() != 0)
            break;
    }
    meter.stop(); // the noise source OFF
    if (request.onBench)
        std::fprintf(stderr, "quillon-cli: live stopped; the bench's noise source is %s\n",
                     engine.bench().noiseOn() ? "ON" : "OFF");
    if (const int failure = printer.failure(); failure != 0)
        throw CliError(messageText(failure), kExitFailed);
    return stopSignal() != 0 ? stopStatus() : kExitOk;
}

} // namespace quillon::cli
