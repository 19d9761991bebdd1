// quillon-cli measure and calibrate: the Measure Device and Calibrate Noise Source series
// without a window.

#include "cli/CaptureOptions.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/CorrectionOptions.h"
#include "cli/MeasureSeries.h"
#include "core/SettingsStore.h"
#include "capture/WaveFormat.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/Report.h"

#include <cstdio>
#include <string>

namespace quillon::cli {

namespace {

// measure switches through --port, reads the ENR at --freq and can average to a precision.
constexpr CaptureOptionSet kMeasureOptions{true, true, EnrLookup::AtOneFrequency, false};
// calibrate likewise, without the precision (its rule shares a noise figure's target).
constexpr CaptureOptionSet kCalibrateOptions{true, false, EnrLookup::AtOneFrequency, false};

// Both commands: options, engine, series, output; the exit status.
int runSeriesCommand(const std::vector<std::string> &args, SeriesKind kind)
{
    const bool calibrate = kind == SeriesKind::Calibration;
    const char *name = calibrate ? "calibrate" : "measure";
    std::vector<std::string_view> valued{"repeat", "decimals"}, flags{"json"};
    (calibrate ? valued : flags).push_back(calibrate ? "tsoff-unknown" : "system");
    if (!calibrate) {
        addCorrectionOptionNames(valued, flags);
        flags.insert(flags.end(), {"drift-order", "no-drift-order"});
    }
    addCaptureOptionNames(calibrate ? kCalibrateOptions : kMeasureOptions, valued, flags);
    if (!calibrate)
        addLimitOptionNames(valued);
    const Options o(name, args, valued, flags);
    if (o.flag("help"))
        return printHelp(name);
    if (!o.positional().empty())
        throw CliError(std::string(name) + " takes no argument '" + o.positional().front() + "'");

    // From here a stop signal ends the command with what was measured: the JSON's head may be
    // printed before the first reading, and its document must be closed whenever it ends.
    catchStopSignals();
    CommandEngine command(o);
    QuillonEngine &engine = command.engine;
    const MeasureRequest request = parseMeasureRequest(o, kind, engine);
    applyCaptureRequest(request.capture, engine);
    if (calibrate && request.capture.onBench) {
        // The bench's DUT output then selects its unknown source, as a coaxial relay would.
        BenchParameters p = engine.bench().parameters();
        p.dutSwitchSelects = DutSwitchSelects::UnknownSource;
        engine.bench().setParameters(p);
    }
    engine.settings().decimalPointsInResults = request.decimals;
    const auto output =
        request.json ? makeMeasureJsonOutput(request) : makeMeasureTextOutput(request);
    DeviceCaps caps;
    if (request.json || request.limits.reportFile)
        engine.devices().deviceCaps(request.capture.device, caps);
    output->begin(caps.productName);
    MeasureResult result;
    try {
        result = takeMeasureSeries(request, engine, *output);
    } catch (const CliError &) {
        output->failed();
        throw;
    }
    if (result.cancelled)
        printError("measurement cancelled");
    result.benchTruth = engine.bench().truth();
    result.benchChain = engine.bench().parameters().chain;
    output->finished(result);
    if (request.limits.reportFile && !result.reportResults.empty()) {
        const std::string failed = writeReport(*request.limits.reportFile,
                                               measureReport(request, engine, caps.productName,
                                                             std::move(result.reportResults)));
        if (!failed.empty()) { // the results are printed above; no report file is left
            printError(failed);
            return result.cancelled ? stopStatus() : kExitFailed;
        }
    }
    if (result.cancelled)
        return stopStatus();
    return verdictExitStatus(request.limits.limits, result.verdicts);
}

} // namespace

ReportData measureReport(const MeasureRequest &request, QuillonEngine &engine,
                         const std::string &deviceName, std::vector<ReportResult> results)
{
    const CaptureRequest &c = request.capture;
    ReportData d;
    d.page = "Measure Device";
    d.dut = request.limits.dut;
    d.dateTime = reportDateTime();
    d.soundDevice = deviceName.empty() && c.onBench ? "Quillon virtual bench" : deviceName;
    d.format = WaveFormatTable[static_cast<std::size_t>(c.formatRow)].label;
    d.captureTimeMs = static_cast<int>(c.captureTimeMs);
    d.dummyReads = c.plan.dummyReads;
    d.averageCount = ModalReading::countedBlocks(c.plan);
    d.highPass = c.highPass;
    d.switchPort = c.switchPort;
    d.systemMode = request.systemMode;
    d.tsOff = c.tsOff;
    d.t0 = c.t0;
    d.enrFromFile = c.enr.fromFile;
    if (c.enr.fromFile) {
        d.enrFile = request.enrFile;
        d.enrRows = enrRowsUsed(c.enr.table, c.enr.frequencyMHz);
    }
    const std::string correctedFor =
        correctedForText(appliedCorrections(request.corrections, request.systemMode));
    if (!correctedFor.empty())
        d.corrections.push_back(correctedFor);
    d.limits = request.limits.limits;
    d.results = std::move(results);
    return d;
}

MeasureRequest parseMeasureRequest(const Options &o, SeriesKind kind, QuillonEngine &engine)
{
    const bool calibrate = kind == SeriesKind::Calibration;
    MeasureRequest request;
    request.kind = kind;
    request.capture =
        parseCaptureOptions(o, calibrate ? kCalibrateOptions : kMeasureOptions, engine);
    request.systemMode = !calibrate && o.flag("system");
    // The unknown source's off temperature: the bench's own on the bench, else the stored
    // TSoff (where the page starts its target field).
    const double unknownOff = request.capture.onBench
                                  ? engine.bench().parameters().unknownOffTemperatureK
                                  : request.capture.tsOff;
    request.tsOffUnknown =
        calibrate ? o.number("tsoff-unknown", 0.0, 1e7).value_or(unknownOff) : unknownOff;
    request.repeat = o.integer("repeat", 0, 1'000'000).value_or(1);
    request.decimals =
        o.integer("decimals", 0, 3).value_or(engine.settings().decimalPointsInResults);
    request.json = o.flag("json");
    if (!calibrate) {
        if (o.flag("drift-order") && o.flag("no-drift-order"))
            throw CliError("give --drift-order or --no-drift-order, not both");
        request.driftOrder =
            o.flag("drift-order") ||
            (!o.flag("no-drift-order") && SettingsStore().read(keys::DriftCancellingOrder) != 0);
    }
    const EnrSource &enr = request.capture.enr;
    request.enrDb = enr.enrDb();
    request.stated = {enr.uncertaintyDb(), request.capture.tsOffUncertaintyK};
    if (!calibrate) {
        request.corrections = capturedCorrections(o, request.capture, engine);
        request.limits = parseLimitOptions(o);
        // A result has a frequency where the ENR was read at one: --freq, or the calibration
        // file's entry.
        if (o.has("freq") || enr.fromFile)
            request.frequencyMHz = enr.frequencyMHz;
        if (enr.fromFile)
            request.enrFile = o.text("enr-file").value_or(engine.settings().enrCalibrationFile);
    }
    return request;
}

int runMeasure(const std::vector<std::string> &args)
{
    return runSeriesCommand(args, SeriesKind::Device);
}

int runCalibrate(const std::vector<std::string> &args)
{
    return runSeriesCommand(args, SeriesKind::Calibration);
}

} // namespace quillon::cli
