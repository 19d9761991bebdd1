// quillon-cli measure: the Measure Device series without a window.

#include "core/Messages.h"
#include "measure/QuillonEngine.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/StoredValues.h"
#include "nf/NoiseResults.h"
#include "nf/YFactorMath.h"
#include "measure/DeviceResultsText.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/ReadingSeries.h"
#include "measure/ResultUncertainty.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
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

// The output selection of a switch line: "rts" 0, "dtr" 1, or a USB data bit 0..7.
int lineArg(const Options &o, const char *name, int stored)
{
    const auto text = o.text(name);
    if (!text)
        return stored;
    if (*text == "rts" || *text == "RTS")
        return 0;
    if (*text == "dtr" || *text == "DTR")
        return 1;
    const int bit = parseIntegerArg(*text, std::string("--") + name);
    if (bit < 0 || bit > 7)
        throw CliError(std::string("--") + name + " must be rts, dtr or a USB data bit 0 to 7");
    return bit;
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

struct Reading
{
    int number = 0;
    double power = 0.0; // mean linear power, full-scale units
    int blocks = 0;
    int autoDummies = 0;             // blocks discarded as automatic dummy reads
    std::vector<double> blockPowers; // the first 32 blocks'
    ReadingStatistics statistics;
    ReadingWarnings warnings;
};

struct Run
{
    bool cutShort = false; // Ctrl-C came before the series was complete
    std::vector<Reading> readings;
    DeviceResults results;
    DeviceResultTexts texts;
    DeviceResultsUncertainty uncertainty;
    ReadingWarnings warnings;
};

// "Noise Figure (dB) 95%: ± 0.052 dB (95%) statistical, ± 0.11 dB (95%) total"
void printHalfWidths(const char *caption, const Uncertain &u, std::string_view unit)
{
    const HalfWidthTexts t = halfWidthTexts(u, unit);
    if (t.statistical.empty() && t.total.empty())
        return;
    std::printf("%s 95%%: %s statistical, %s total\n", caption, t.statistical.c_str(),
                t.total.c_str());
}

void writeUncertain(Json &doc, const char *name, const Uncertain &u, std::string_view unit)
{
    doc.key(name).beginObject();
    doc.key("statistical").value(u.statistical).key("total").value(u.total);
    doc.key("statisticalHalfWidth95").value(u.statisticalHalfWidth());
    doc.key("totalHalfWidth95").value(u.totalHalfWidth());
    doc.key("statisticalText").value(halfWidthText(u.statisticalHalfWidth(), unit));
    doc.key("totalText").value(halfWidthText(u.totalHalfWidth(), unit));
    doc.endObject();
}

void writeWarnings(Json &doc, const ReadingWarnings &w)
{
    doc.key("warnings").beginArray();
    if (w.settling)
        doc.value(kSettlingWarningText);
    if (w.compression)
        doc.value(kCompressionWarningText);
    if (w.headroom)
        doc.value(kHeadroomWarningText);
    if (w.interference)
        doc.value(kInterferenceWarningText);
    doc.endArray();
}

// What the user is asked to set when no switch port drives the outputs.
std::string switchPrompt(int reading)
{
    const DeviceSwitchState st = deviceReadingSwitches(reading);
    return std::string("Set the noise source ") + (st.noiseOn ? "ON" : "OFF") + " and the DUT " +
           (st.dutIn ? "in circuit" : "out of circuit") + ", then press Enter: ";
}

} // namespace

int runMeasure(const std::vector<std::string> &args)
{
    const Options o("measure", args,
                    {"device", "format", "time", "dummy", "average", "port", "noise-line",
                     "dut-line", "enr", "freq", "enr-file", "tsoff", "t0", "repeat", "log",
                     "decimals", "precision", "max-time", "enr-uncertainty",
                     "tsoff-uncertainty"},
                    {"system", "highpass", "no-highpass", "json", "auto-dummy"});
    if (o.flag("help")) {
        std::fputs(kMeasureHelp, stdout);
        return kExitOk;
    }
    if (!o.positional().empty())
        throw CliError("measure takes no argument '" + o.positional().front() + "'");
    if (o.flag("highpass") && o.flag("no-highpass"))
        throw CliError("give --highpass or --no-highpass, not both");

    StderrMessageSink messages;
    // Measuring the virtual bench needs no sound system: the machine's inputs are listed
    // (and PortAudio started) only when a device number is given.
    EngineOptions options;
    options.portAudio = o.text("device").has_value();
    QuillonEngine engine(messages, std::move(options));
    StatedUncertainty stated;
    {
        SettingsStore store;
        engine.loadSettings(store);
        stated.enrDb = store.readNumber(keys::EnrUncertainty);
        stated.offTemperatureK = store.readNumber(keys::TSoffUncertainty);
    }
    const PageValues stored = readPageValues();
    Settings &s = engine.settings();

    // Device and format.
    const int deviceCount = engine.devices().deviceCount();
    const int device = o.integer("device", 0, 1'000'000).value_or(engine.benchDevice());
    if (device >= deviceCount)
        throw CliError("there is no input device " + std::to_string(device) + " (devices 0 to " +
                       std::to_string(deviceCount - 1) + "; see quillon-cli devices)");
    const bool onBench = device == engine.benchDevice();
    s.waveInDevice = device;
    int row = s.waveInFormat >= 0 && s.waveInFormat < kWaveFormatCount ? s.waveInFormat : 8;
    if (const auto text = o.text("format")) {
        row = parseIntegerArg(*text, "--format");
        if (row < 0 || row >= kWaveFormatCount)
            throw CliError("there is no capture format " + *text +
                           " (formats 0 to 19; see quillon-cli devices)");
    }
    s.waveInFormat = row;
    applyFormatRow(s, row);
    engine.highPass().selectHighPass(s.sampleRate);
    s.captureTimeMs = captureTimeArg(o);
    if (o.flag("highpass"))
        s.highPassFilter = true;
    if (o.flag("no-highpass"))
        s.highPassFilter = false;

    // The reading plan.
    ReadingPlan plan;
    plan.dummyReads = o.integer("dummy", 0, 10).value_or(stored.dummyReads);
    plan.averaging = stored.averaging;
    plan.averageCount = stored.averageCount;
    if (const auto n = o.integer("average", 1, ModalReading::kMaxBlocks)) {
        plan.averaging = true;
        plan.averageCount = *n;
    }
    if (o.has("precision") && o.has("average"))
        throw CliError("give --precision or --average, not both");
    if (o.has("max-time") && !o.has("precision"))
        throw CliError("--max-time needs --precision");
    if (const auto target = o.number("precision", 0.0, 100.0)) {
        if (!(*target > 0.0))
            throw CliError("--precision must be above 0 dB");
        ReadingPlan::Precision precision;
        precision.target.halfWidthDb = *target;
        precision.target.maxSeconds = o.number("max-time", 0.1, 86400.0).value_or(60.0);
        plan.precision = precision;
    }
    plan.autoDummy = o.flag("auto-dummy");
    const bool systemMode = o.flag("system");
    const int repeat = o.integer("repeat", 0, 1'000'000).value_or(1);
    s.decimalPointsInResults = o.integer("decimals", 0, 3).value_or(s.decimalPointsInResults);

    // Switch port.
    std::string port =
        o.text("port").value_or(onBench ? kVirtualBenchPortName : s.switchPortName);
    if (port.empty())
        port = kNoPortName;
    if (switchPortKind(port) == SwitchPortKind::None && port != kNoPortName)
        throw CliError("unknown switch port '" + port +
                       "' (a serial device such as /dev/ttyUSB0, USB, Virtual bench or None)");
    s.switchPortName = port;
    s.switchPortChosen = automationPresentFor(port);
    s.noiseSourceLine = lineArg(o, "noise-line", s.noiseSourceLine);
    s.dutLine = lineArg(o, "dut-line", s.dutLine);

    // Noise source and temperatures. On the bench the defaults are the bench's own source.
    const BenchParameters benchParams = engine.bench().parameters();
    const double enrDb =
        resolveEnr(o, s, engine.enrTable(),
                   onBench && !o.has("freq") ? engine.bench().truth().referenceEnrDb // at its tuning
                                             : stored.enrEntry);
    const double tsOff = o.number("tsoff", 0.0, 1e7)
                             .value_or(onBench ? benchParams.sourceOffTemperatureK : stored.tsOff);
    const double t0 = o.number("t0", 1.0, 1e7).value_or(onBench ? kBenchT0 : stored.t0);
    // The ENR's uncertainty: given, else the ENR file's for the entry, else stored (the bench's
    // own source is exactly known).
    if (onBench) {
        stated = {};
    }
    if (s.useEnrFile) {
        const double entry = o.number("freq", 0.0, 30000.0).value_or(stored.enrEntry);
        const double fromFile = enrUncertaintyForEntry(entry, true, engine.enrTable());
        if (std::isfinite(fromFile))
            stated.enrDb = fromFile;
    }
    stated.enrDb = o.number("enr-uncertainty", 0.0, kEnrMaxUncertaintyDb).value_or(stated.enrDb);
    stated.offTemperatureK =
        o.number("tsoff-uncertainty", 0.0, 1e4).value_or(stated.offTemperatureK);

    // Log.
    if (const auto log = o.text("log")) {
        if (log->empty())
            throw CliError("--log needs a file name");
        s.logResultsFile = *log;
        s.logMeasurements = true;
    }

    if (onBench) {
        BenchParameters fast = benchParams;
        fast.speed = 0.0; // as fast as the buffers come back
        engine.bench().setParameters(fast);
    }
    const bool json = o.flag("json");
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
        if (!json && repeat != 1)
            std::printf("Run %d\n", pass + 1);
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
            if (!json)
                std::printf("%s:%s\n", label.c_str(),
                            readingText(taken.power, s.decimalPointsInResults).c_str());
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
        if (!json) {
            if (!systemMode)
                std::printf("Gain (dB):%s\n", run.texts.gain.c_str());
            std::printf("Noise Temp (K):%s\n", run.texts.te.c_str());
            std::printf("Noise Factor:%s\n", run.texts.f.c_str());
            std::printf("Noise Figure (dB):%s\n", run.texts.nf.c_str());
        }
        run.warnings = readings.warnings();
        if (!json) {
            const DeviceResultsUncertainty &u = run.uncertainty;
            if (u.complete) {
                if (!systemMode)
                    printHalfWidths("Gain (dB)", u.gainDb, "dB");
                printHalfWidths("Noise Temp (K)", u.te, "K");
                printHalfWidths("Noise Factor", u.f, "");
                printHalfWidths("Noise Figure (dB)", u.nf, "dB");
            }
            const std::string warnings = warningText(run.warnings);
            std::size_t at = 0;
            while (at < warnings.size()) {
                const std::size_t end = std::min(warnings.find('\n', at), warnings.size());
                std::printf("Warning: %s\n", warnings.substr(at, end - at).c_str());
                at = end + 1;
            }
            std::fflush(stdout);
        }
        runs.push_back(std::move(run));
    }

    const int status = cancelled ? kExitCancelled : kExitOk;
    if (cancelled)
        printError("measurement cancelled");
    const BenchTruth truth = engine.bench().truth();
    if (!json) {
        if (onBench && !cancelled) {
            if (systemMode)
                std::printf("Virtual bench truth: system NF %s dB\n",
                            fixed(truth.receiverNfDb, 3).c_str());
            else
                std::printf("Virtual bench truth: DUT gain %s dB, DUT NF %s dB\n",
                            fixed(truth.dutGainDb, 3).c_str(), fixed(truth.dutNfDb, 3).c_str());
        }
        return status;
    }

    DeviceCaps caps;
    engine.devices().deviceCaps(device, caps);
    Json doc;
    doc.beginObject();
    doc.key("device").beginObject().key("number").value(device).key("name").value(caps.productName);
    doc.key("virtualBench").value(onBench).endObject();
    doc.key("format").beginObject().key("row").value(row);
    doc.key("label").value(WaveFormatTable[static_cast<std::size_t>(row)].label).endObject();
    doc.key("captureTimeMs").value(static_cast<int>(s.captureTimeMs)).key("dummyReads").value(plan.dummyReads);
    doc.key("averageCount").value(blocks).key("highPass").value(s.highPassFilter);
    if (plan.precision) {
        doc.key("precisionDb").value(plan.precision->target.halfWidthDb);
        doc.key("maxTimeS").value(plan.precision->target.maxSeconds);
    }
    doc.key("autoDummy").value(plan.autoDummy);
    doc.key("enrUncertaintyDb").value(stated.enrDb);
    doc.key("tsOffUncertaintyK").value(stated.offTemperatureK);
    doc.key("systemMode").value(systemMode).key("switchPort").value(port);
    doc.key("enrDb").value(enrDb).key("tsOff").value(tsOff).key("t0").value(t0);
    doc.key("interrupted").value(cancelled);
    doc.key("runs").beginArray();
    for (const Run &run : runs) {
        doc.beginObject().key("cutShort").value(run.cutShort).key("readings").beginArray();
        for (const Reading &r : run.readings) {
            doc.beginObject().key("reading").value(r.number);
            doc.key("label").value(nfReadingLabel(r.number));
            doc.key("power").value(r.power).key("dB").value(10.0 * std::log10(r.power));
            doc.key("valid").value(YFactorMath::readingInRange(r.power));
            doc.key("blocks").value(r.blocks).key("autoDummies").value(r.autoDummies);
            doc.key("blockPowers").beginArray();
            for (const double p : r.blockPowers)
                doc.value(p);
            doc.endArray();
            const ReadingStatistics &st = r.statistics;
            doc.key("statistics").beginObject();
            doc.key("relativeStandardError").value(st.relativeStandardError);
            doc.key("degreesOfFreedom").value(st.degreesOfFreedom);
            doc.key("effectiveSamples").value(st.effectiveSamples);
            doc.key("kurtosis").value(st.kurtosis).key("peak").value(st.peak);
            doc.key("crestFactor").value(st.crestFactor).endObject();
            writeWarnings(doc, r.warnings);
            doc.endObject();
        }
        doc.endArray();
        const DeviceResults &res = run.results;
        doc.key("results").beginObject().key("complete").value(res.complete);
        if (!systemMode) {
            doc.key("gain").value(res.gain).key("gainDb").value(res.gainDb);
            doc.key("gainValid").value(res.gainValid);
        }
        doc.key("noiseTemperature").value(res.noise.te).key("noiseFactor").value(res.noise.f);
        doc.key("noiseFigure").value(res.noise.nf).key("valid").value(res.noise.valid);
        doc.endObject();
        // Standard uncertainties in the results' own units, and the 95% half-widths.
        const DeviceResultsUncertainty &u = run.uncertainty;
        doc.key("uncertainty").beginObject().key("complete").value(u.complete);
        if (u.complete) {
            if (!systemMode)
                writeUncertain(doc, "gainDb", u.gainDb, "dB");
            writeUncertain(doc, "noiseTemperature", u.te, "K");
            writeUncertain(doc, "noiseFactor", u.f, "");
            writeUncertain(doc, "noiseFigure", u.nf, "dB");
        }
        doc.endObject();
        writeWarnings(doc, run.warnings);
        doc.endObject();
    }
    doc.endArray();
    if (onBench) {
        doc.key("benchTruth").beginObject();
        doc.key("dutGainDb").value(truth.dutGainDb).key("dutNfDb").value(truth.dutNfDb);
        doc.key("dutTeK").value(truth.dutTeK).key("receiverNfDb").value(truth.receiverNfDb);
        doc.key("receiverTeK").value(truth.receiverTeK).endObject();
    }
    doc.endObject();
    std::fputs(doc.text().c_str(), stdout);
    return status;
}

} // namespace quillon::cli
