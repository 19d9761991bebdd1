// quillon-cli measure: the Measure Device series without a window.

#include "cli/CaptureOptions.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/MeasureSeries.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"

#include <cstdio>
#include <string>

namespace quillon::cli {

namespace {

// measure switches through --port, reads the ENR at --freq and can average to a precision.
constexpr CaptureOptionSet kMeasureOptions{true, true, EnrLookup::AtOneFrequency, false};

} // namespace

MeasureRequest parseMeasureRequest(const Options &o, QuillonEngine &engine)
{
    MeasureRequest request;
    request.capture = parseCaptureOptions(o, kMeasureOptions, engine);
    request.systemMode = o.flag("system");
    request.repeat = o.integer("repeat", 0, 1'000'000).value_or(1);
    request.decimals =
        o.integer("decimals", 0, 3).value_or(engine.settings().decimalPointsInResults);
    request.json = o.flag("json");
    const EnrSource &enr = request.capture.enr;
    request.enrDb = enr.enrDb();
    request.stated = {enr.uncertaintyDb(), request.capture.tsOffUncertaintyK};
    return request;
}

int runMeasure(const std::vector<std::string> &args)
{
    std::vector<std::string_view> valued{"repeat", "decimals"}, flags{"system", "json"};
    addCaptureOptionNames(kMeasureOptions, valued, flags);
    const Options o("measure", args, valued, flags);
    if (o.flag("help"))
        return printHelp("measure");
    if (!o.positional().empty())
        throw CliError("measure takes no argument '" + o.positional().front() + "'");

    StderrMessageSink messages;
    // Measuring the virtual bench needs no sound system: the machine's inputs are listed
    // (and PortAudio started) only when a device number is given.
    EngineOptions options;
    options.portAudio = o.text("device").has_value();
    QuillonEngine engine(messages, std::move(options));
    {
        SettingsStore store;
        engine.loadSettings(store);
    }
    const MeasureRequest request = parseMeasureRequest(o, engine);
    applyCaptureRequest(request.capture, engine);
    engine.settings().decimalPointsInResults = request.decimals;

    const auto output =
        request.json ? makeMeasureJsonOutput(request) : makeMeasureTextOutput(request);
    MeasureResult result = takeMeasureSeries(request, engine, *output);
    if (result.cancelled)
        printError("measurement cancelled");
    result.benchTruth = engine.bench().truth();
    if (request.json) {
        DeviceCaps caps;
        engine.devices().deviceCaps(request.capture.device, caps);
        result.deviceName = caps.productName;
    }
    output->finished(result);
    return result.cancelled ? kExitCancelled : kExitOk;
}

} // namespace quillon::cli
