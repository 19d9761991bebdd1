// quillon-cli measure: the reading loop, the window's "Measure" of the Measure Device page with
// both automations on.

#include "cli/MeasureSeries.h"
#include "cli/CliSupport.h"
#include "core/Messages.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/ReadingSeries.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace quillon::cli {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true, std::memory_order_relaxed);
}

bool interrupted()
{
    return g_interrupted.load(std::memory_order_relaxed);
}

// One answer to a switch prompt: a line of standard input, read a byte at a time (nothing is
// held back in a buffer between prompts) and waited for in steps of 100 ms, so that Ctrl-C
// stops the wait whichever thread the signal lands on.
enum class Answer
{
    Line,
    EndOfInput,
    Interrupted
};

Answer readAnswer()
{
    for (;;) {
        if (interrupted())
            return Answer::Interrupted;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0)
            continue; // timeout, or EINTR from the signal itself
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Answer::EndOfInput;
        if (c == '\n')
            return Answer::Line;
    }
}

// What the user is asked to set when no switch port drives the outputs.
std::string switchPrompt(int reading)
{
    const DeviceSwitchState st = deviceReadingSwitches(reading);
    return std::string("Set the noise source ") + (st.noiseOn ? "ON" : "OFF") + " and the DUT " +
           (st.dutIn ? "in circuit" : "out of circuit") + ", then press Enter: ";
}

} // namespace

MeasureResult takeMeasureSeries(const MeasureRequest &request, QuillonEngine &engine,
                                MeasureOutput &output)
{
    using Reading = MeasureReading;
    using Run = MeasureRun;
    Settings &s = engine.settings();
    ReadingPlan plan = request.capture.plan; // the precision's series is filled in as it goes
    const int device = request.capture.device;
    const bool systemMode = request.systemMode;
    const int repeat = request.repeat;
    const double enrDb = request.enrDb;
    const double tsOff = request.capture.tsOff;
    const double t0 = request.capture.t0;
    const StatedUncertainty stated = request.stated;
    const bool json = request.json;
    const bool interactive = isatty(STDERR_FILENO) != 0;

    ModalReading reading(engine.capture(), s, engine.highPass());
    std::string label; // read by the progress hook while a reading runs
    if (interactive && !json) {
        reading.setProgressHook([&label](ReadingProgress p) {
            std::fprintf(stderr, "\r%-40s", readingProgressText(p, label).c_str());
        });
    }
    std::signal(SIGINT, onInterrupt);

    // The window's "Measure" of reading 0 with both automations on: 0, 1, 2, 3 (0, 1 in
    // system mode).
    const DeviceSeriesFlags seriesFlags{true, true, systemMode};
    const DeviceConditions conditions{systemMode, enrDb, t0, tsOff};
    const int blocks = ModalReading::countedBlocks(plan);
    // The longest a reading may take: with a precision its time limit decides, and the
    // automatic dummy reads add up to their limit.
    const std::int64_t maxBlocks =
        plan.dummyReads + (plan.autoDummy ? plan.autoDummyLimit : 0) +
        (plan.precision ? static_cast<std::int64_t>(plan.precision->target.maxSeconds * 1000.0 /
                                                    s.captureTimeMs) +
                              2
                        : blocks);
    const auto timeout =
        std::chrono::milliseconds(std::int64_t{s.captureTimeMs} * maxBlocks * 4 + 30'000);
    DeviceReadings readings;
    std::vector<Run> runs;
    // Ctrl-C is looked at before every reading, at every prompt and while a reading runs: on
    // the bench a reading may end before the first look inside its wait.
    bool cancelled = false;

    for (int pass = 0; !cancelled && (repeat == 0 || pass < repeat); ++pass) {
        Run run;
        if (plan.precision)
            for (PrecisionReading &p : plan.precision->series)
                p.taken = false;
        output.seriesStarted(pass);
        for (int r = nextDeviceReading(0, -1, seriesFlags); r >= 0;
             r = nextDeviceReading(0, r, seriesFlags)) {
            if (interrupted()) {
                cancelled = true;
                break;
            }
            const DeviceSwitchState st = deviceReadingSwitches(r);
            if (s.switchPortChosen) {
                engine.switches().setSwitches(st.noiseOn, st.dutIn);
            } else {
                std::fputs(switchPrompt(r).c_str(), stderr);
                const Answer answer = readAnswer();
                if (answer == Answer::Interrupted) {
                    std::fputs("\n", stderr);
                    cancelled = true;
                    break;
                }
                if (answer == Answer::EndOfInput)
                    throw CliError("no switch port drives the noise source and the DUT: give "
                                   "--port, or answer the prompts on standard input");
            }
            label = nfReadingLabel(r);
            if (plan.precision) {
                plan.precision->current = r;
                plan.precision->systemMode = systemMode;
                plan.precision->enrDb = enrDb;
                plan.precision->t0 = t0;
                plan.precision->tsOff = tsOff;
            }
            const int rc = reading.start(plan);
            if (rc != kMsgNone) {
                reading.stop();
                throw CliError(messageText(kMsgCannotOpenWaveDevice), kExitFailed);
            }
            auto waited = std::chrono::milliseconds(0);
            while (!reading.waitFinished(std::chrono::milliseconds(100))) {
                waited += std::chrono::milliseconds(100);
                if (interrupted()) {
                    if (interactive)
                        std::fputs("\n", stderr);
                    cancelled = true;
                    break;
                }
                if (waited > timeout) {
                    reading.stop();
                    throw CliError("no audio from input device " + std::to_string(device),
                                   kExitFailed);
                }
            }
            reading.stop();
            if (cancelled)
                break; // the unfinished reading is dropped
            if (interactive && !json)
                std::fprintf(stderr, "\r%-40s\r", "");
            if (reading.outcome() == ModalReading::kOutcomeOverRange)
                throw CliError(messageText(kMsgSignalTooHigh), kExitFailed);

            Reading taken;
            taken.number = r;
            taken.power = reading.meanPower();
            taken.blocks = reading.blocksMeasured();
            taken.autoDummies = reading.autoDummiesUsed();
            for (int b = 0; b < reading.blocksStored(); ++b)
                taken.blockPowers.push_back(reading.blockPower(b));
            taken.statistics = reading.statistics();
            taken.warnings = checkReading(taken.statistics);
            if (plan.precision)
                plan.precision->series[static_cast<std::size_t>(r)] =
                    precisionReading(taken.statistics, true);
            DeviceEvaluation evaluation;
            const int logRc = readings.complete(r, taken.power, conditions, s,
                                                engine.resultLine(), engine.log(), evaluation);
            readings.setQuality(r, taken.statistics);
            run.results = evaluation.results;
            run.texts = evaluation.texts;
            run.uncertainty = readings.uncertainty(conditions, stated);
            output.readingTaken(taken);
            run.readings.push_back(std::move(taken));
            if (logRc != kMsgNone)
                throw CliError(messageText(logRc), kExitFailed);
        }
        if (cancelled) {
            // Results of the readings this run took, not of those left from the run before.
            if (!run.readings.empty()) {
                run.cutShort = true;
                std::array<bool, kDeviceReadingCount> own{};
                std::array<double, kDeviceReadingCount> power{};
                for (int i = 0; i < kDeviceReadingCount; ++i)
                    power[static_cast<std::size_t>(i)] = readings.power(i);
                for (const Reading &taken : run.readings)
                    own[static_cast<std::size_t>(taken.number)] = true;
                run.results = computeDeviceResults(power, own, systemMode, enrDb, t0, tsOff);
                std::array<ReadingError, kDeviceReadingCount> error{};
                for (int i = 0; i < kDeviceReadingCount; ++i)
                    error[static_cast<std::size_t>(i)] = readings.error(i);
                run.uncertainty = computeDeviceUncertainty(power, error, own, systemMode, enrDb,
                                                           t0, tsOff, stated);
                for (const Reading &taken : run.readings) {
                    const ReadingWarnings &w = taken.warnings;
                    run.warnings.settling = run.warnings.settling || w.settling;
                    run.warnings.compression = run.warnings.compression || w.compression;
                    run.warnings.headroom = run.warnings.headroom || w.headroom;
                    run.warnings.interference = run.warnings.interference || w.interference;
                }
                runs.push_back(std::move(run));
            }
            break;
        }
        run.warnings = readings.warnings();
        output.seriesComplete(run);
        runs.push_back(std::move(run));
    }

    MeasureResult result;
    result.runs = std::move(runs);
    result.cancelled = cancelled;
    return result;
}

} // namespace quillon::cli
