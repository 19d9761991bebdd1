#include "cli/CaptureOptions.h"
#include "core/SettingsStore.h"

#include "capture/WaveFormat.h"
#include "cli/CliSupport.h"
#include "cli/StoredValues.h"
#include "core/SettingsRecord.h"
#include "measure/QuillonEngine.h"
#include "switch/SwitchControl.h"

namespace quillon::cli {

namespace {

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

} // namespace

void addCaptureOptionNames(const CaptureOptionSet &set, std::vector<std::string_view> &valued,
                           std::vector<std::string_view> &flags)
{
    valued.insert(valued.end(), {"device", "format", "time", "dummy", "average", "enr", "enr-file",
                                 "enr-uncertainty", "tsoff", "tsoff-uncertainty", "t0", "log"});
    flags.insert(flags.end(), {"highpass", "no-highpass", "auto-dummy"});
    if (set.switchPort)
        valued.insert(valued.end(), {"port", "noise-line", "dut-line"});
    if (set.precision)
        valued.insert(valued.end(), {"precision", "max-time"});
    if (set.enrLookup == EnrLookup::AtOneFrequency)
        valued.push_back("freq");
}

namespace {

EngineOptions engineOptions(const Options &o)
{
    EngineOptions options;
    options.portAudio = o.text("device").has_value();
    return options;
}

} // namespace

CommandEngine::CommandEngine(const Options &o) : engine(messages, engineOptions(o))
{
    SettingsStore store;
    engine.loadSettings(store);
}

CaptureRequest parseCaptureOptions(const Options &o, const CaptureOptionSet &set,
                                   QuillonEngine &engine)
{
    if (o.flag("highpass") && o.flag("no-highpass"))
        throw CliError("give --highpass or --no-highpass, not both");
    const Settings &s = engine.settings();
    const PageValues stored = readPageValues();
    CaptureRequest r;

    // Device and format.
    const int deviceCount = engine.devices().deviceCount();
    r.device = o.integer("device", 0, 1'000'000).value_or(engine.benchDevice());
    if (r.device >= deviceCount)
        throw CliError("there is no input device " + std::to_string(r.device) + " (devices 0 to " +
                       std::to_string(deviceCount - 1) + "; see quillon-cli devices)");
    r.onBench = r.device == engine.benchDevice();
    r.formatRow = s.waveInFormat >= 0 && s.waveInFormat < kWaveFormatCount ? s.waveInFormat : 8;
    if (const auto text = o.text("format")) {
        r.formatRow = parseIntegerArg(*text, "--format");
        if (r.formatRow < 0 || r.formatRow >= kWaveFormatCount)
            throw CliError("there is no capture format " + *text +
                           " (formats 0 to 19; see quillon-cli devices)");
    }
    r.captureTimeMs = captureTimeArg(o);
    r.highPass = o.flag("highpass") || (s.highPassFilter && !o.flag("no-highpass"));

    // The reading plan.
    r.plan.dummyReads = o.integer("dummy", 0, 10).value_or(stored.dummyReads);
    r.plan.averaging = stored.averaging || set.alwaysAverage;
    r.plan.averageCount = set.alwaysAverage && !stored.averaging ? 8 : stored.averageCount;
    if (const auto n = o.integer("average", 1, ModalReading::kMaxBlocks)) {
        r.plan.averaging = true;
        r.plan.averageCount = *n;
    }
    if (set.precision) {
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
            r.plan.precision = precision;
        }
    }
    r.plan.autoDummy = o.flag("auto-dummy");

    // Switch port: the bench's own on the bench, else the stored one.
    r.switchPort = r.onBench ? kVirtualBenchPortName : s.switchPortName;
    r.noiseLine = s.noiseSourceLine;
    r.dutLine = s.dutLine;
    if (set.switchPort) {
        r.switchPort = o.text("port").value_or(r.switchPort);
        if (r.switchPort.empty())
            r.switchPort = kNoPortName;
        if (switchPortKind(r.switchPort) == SwitchPortKind::None && r.switchPort != kNoPortName)
            throw CliError("unknown switch port '" + r.switchPort +
                           "' (a serial device such as /dev/ttyUSB0, USB, Virtual bench or None)");
        r.noiseLine = lineArg(o, "noise-line", r.noiseLine);
        r.dutLine = lineArg(o, "dut-line", r.dutLine);
    }

    // Noise source and temperatures. On the bench the defaults are the bench's own source.
    const BenchParameters bench = engine.bench().parameters();
    const EnrDefaults enrDefaults{s,
                                  engine.enrTable(),
                                  stored.enrEntry,
                                  stored.enrUncertaintyDb,
                                  r.onBench,
                                  engine.bench().truth().referenceEnrDb,
                                  bench.referenceEnrDb};
    r.enr = resolveEnrSource(o, set.enrLookup, enrDefaults);
    r.tsOff = o.number("tsoff", 0.0, 1e7)
                  .value_or(r.onBench ? bench.sourceOffTemperatureK : stored.tsOff);
    r.t0 = o.number("t0", 1.0, 1e7).value_or(r.onBench ? kBenchT0 : stored.t0);
    r.tsOffUncertaintyK = o.number("tsoff-uncertainty", 0.0, 1e4)
                              .value_or(r.onBench ? 0.0 : stored.tsOffUncertaintyK);

    if (const auto log = o.text("log")) {
        if (log->empty())
            throw CliError("--log needs a file name");
        r.logFile = *log;
    }
    return r;
}

void applyCaptureRequest(const CaptureRequest &r, QuillonEngine &engine)
{
    Settings &s = engine.settings();
    s.waveInDevice = r.device;
    s.waveInFormat = r.formatRow;
    applyFormatRow(s, r.formatRow);
    engine.highPass().selectHighPass(s.sampleRate);
    s.captureTimeMs = r.captureTimeMs;
    s.highPassFilter = r.highPass;
    s.switchPortName = r.switchPort;
    s.switchPortChosen = automationPresentFor(r.switchPort);
    s.noiseSourceLine = r.noiseLine;
    s.dutLine = r.dutLine;
    if (r.logFile) {
        s.logResultsFile = *r.logFile;
        s.logMeasurements = true;
    }
    if (r.onBench) {
        BenchParameters fast = engine.bench().parameters();
        fast.speed = 0.0; // as fast as the buffers come back
        engine.bench().setParameters(fast);
    }
}

} // namespace quillon::cli
