// quillon-cli calc: the Calculator page's four modes on typed values.

#include "capture/ResultText.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/CorrectionOptions.h"
#include "cli/EnrSource.h"
#include "cli/Json.h"
#include "cli/StoredValues.h"
#include "core/Messages.h"
#include "nf/Corrections.h"
#include "nf/NoiseResults.h"
#include "nf/YFactorMath.h"

#include <cstdio>
#include <optional>

namespace quillon::cli {

namespace {

constexpr double kMaxReadingDb = 400.0; // readings are dB of any reference
constexpr double kMaxTemperature = 1e7; // K

// One shown result: its number, whether it passes its test, and the field's text.
struct Shown
{
    const char *label;    // text output
    const char *jsonName; // JSON key
    double value;
    bool valid;
};

double requiredReading(const Options &o, const char *name)
{
    const auto v = o.number(name, -kMaxReadingDb, kMaxReadingDb);
    if (!v)
        throw CliError(o.command() + " needs --" + name + " DB");
    return *v;
}

void print(const std::vector<Shown> &results, int decimals, bool json, Json &doc)
{
    for (const Shown &r : results) {
        const std::string text = resultText(!r.valid, r.value, kMsgResultError, decimals);
        if (json) {
            doc.key(r.jsonName).beginObject();
            doc.key("value").value(r.value).key("valid").value(r.valid).key("shown").value(text);
            doc.endObject();
        } else {
            std::printf("%s:%s\n", r.label, text.c_str());
        }
    }
}

std::vector<Shown> noiseShown(const NoiseResult &n)
{
    return {{"Noise Temp (K)", "noiseTemperature", n.te, n.valid},
            {"Noise Factor", "noiseFactor", n.f, n.valid},
            {"Noise Figure (dB)", "noiseFigure", n.nf, n.valid}};
}

} // namespace

int runCalc(const std::vector<std::string> &args)
{
    if (args.empty() || args.front() == "--help" || args.front() == "-h") {
        std::fputs(helpText("calc"), args.empty() ? stderr : stdout);
        return args.empty() ? kExitBadInput : kExitOk;
    }
    const std::string mode = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    std::vector<std::string_view> valued;
    if (mode == "simple")
        valued = {"te", "factor", "nf", "t0", "bandwidth", "decimals"};
    else if (mode == "system")
        valued = {"on", "off", "enr", "freq", "enr-file", "tsoff", "t0", "bandwidth", "decimals"};
    else if (mode == "device")
        valued = {"on",       "off",   "dut-on", "dut-off",   "enr",     "freq",
                  "enr-file", "tsoff", "t0",     "bandwidth", "decimals"};
    else if (mode == "calibrate")
        valued = {"on",   "off",       "unknown-on", "unknown-off",   "enr",
                  "freq", "enr-file",  "tsoff",      "unknown-tsoff", "t0",
                  "nf",   "bandwidth", "decimals"};
    else
        throw CliError("unknown calculator mode '" + mode +
                       "' (modes: simple, system, device, calibrate)");
    std::vector<std::string_view> flags{"json"};
    if (mode == "system" || mode == "device")
        addCorrectionOptionNames(valued, flags);
    const Options o("calc " + mode, rest, valued, flags);
    if (o.flag("help"))
        return printHelp("calc");
    if (!o.positional().empty())
        throw CliError("calc " + mode + " takes no argument '" + o.positional().front() + "'");

    Settings settings;
    EnrTable table;
    const PageValues stored = loadStoredValues(settings, table);
    const int decimals = o.integer("decimals", 0, 3).value_or(settings.decimalPointsInResults);
    const double t0 = o.number("t0", 1.0, kMaxTemperature).value_or(stored.t0);
    const bool json = o.flag("json");
    Json doc;
    doc.beginObject().key("mode").value(mode).key("t0").value(t0);

    std::vector<Shown> results;
    std::optional<NoiseResult> noise;
    // System and device modes: what is applied (in system mode the calibration path's loss
    // alone), and what the output says it is corrected for.
    ChainCorrections corrections;
    if (mode == "simple") {
        const int given = o.has("te") + o.has("factor") + o.has("nf");
        if (given != 1)
            throw CliError("calc simple needs exactly one of --te K, --factor F, --nf DB");
        if (const auto te = o.number("te", -kMaxTemperature, kMaxTemperature))
            noise = noiseFromTemperature(*te, t0);
        else if (const auto f = o.number("factor", 0.0, 1e6))
            noise = noiseFromFactor(*f, t0);
        else
            noise = noiseFromFigure(*o.number("nf", -100.0, 100.0), t0);
        results = noiseShown(*noise);
    } else {
        const double on = requiredReading(o, "on");
        const double off = requiredReading(o, "off");
        const EnrSource source =
            resolveEnrSource(o, EnrLookup::AtOneFrequency, {settings, table, stored.enrEntry});
        const double enr = source.enrDb();
        const double tsOff = o.number("tsoff", 0.0, kMaxTemperature).value_or(stored.tsOff);
        doc.key("enrDb").value(enr).key("tsOff").value(tsOff);
        // The calculator's corrections come from its options alone (the typed readings are
        // not the stored set-up's). The frequency: where the ENR file is read, else the
        // stored corrections frequency.
        if (mode == "system" || mode == "device") {
            const CorrectionSettings entered = parseCorrectionOptions(o, {});
            LossTables tables;
            corrections = appliedCorrections(
                resolveCorrectionsOrThrow(entered, tables,
                                          source.fromFile ? source.frequencyMHz
                                                          : storedCorrectionSettings().frequencyMHz,
                                          [&source](double mhz) { return source.enrDbAt(mhz); }),
                mode == "system");
            writeCorrectionsJson(doc, corrections);
        }
        const auto power = [](double db) { return YFactorMath::powerRatioFromDb(db); };
        if (mode == "system") {
            if (corrections.any())
                noise = correctDeviceResults({power(on), power(off), 0.0, 0.0},
                                             {true, true, false, false}, true, enr, t0, tsOff,
                                             corrections)
                            .noise;
            else
                noise = calcSystem(on, off, enr, t0, tsOff);
            results = noiseShown(*noise);
        } else if (mode == "device") {
            const double dutOn = requiredReading(o, "dut-on");
            const double dutOff = requiredReading(o, "dut-off");
            CalcDeviceResult d = calcDevice(on, off, dutOn, dutOff, enr, t0, tsOff);
            if (corrections.any()) {
                const DeviceResults c = correctDeviceResults(
                    {power(on), power(off), power(dutOn), power(dutOff)}, {true, true, true, true},
                    false, enr, t0, tsOff, corrections);
                d = {c.noise, c.gainDb, c.noise.valid && c.gainValid};
            }
            noise = d.noise;
            results = {{"Gain (dB)", "gain", d.gainDb, d.gainValid}};
            for (const Shown &s : noiseShown(d.noise))
                results.push_back(s);
        } else {
            const double unknownOn = requiredReading(o, "unknown-on");
            const double unknownOff = requiredReading(o, "unknown-off");
            const double unknownTsOff =
                o.number("unknown-tsoff", 0.0, kMaxTemperature).value_or(tsOff);
            doc.key("unknownTsOff").value(unknownTsOff);
            const EnrResult e =
                calcCalibrate(on, off, unknownOn, unknownOff, enr, tsOff, unknownTsOff, t0);
            results = {{"ENR (dB)", "unknownEnr", e.enrDb, e.valid}};
            // The window's floor in this mode is that of the noise figure it holds (0 dB,
            // the thermal floor, until another mode has computed one).
            noise = noiseFromFigure(o.number("nf", -100.0, 100.0).value_or(0.0), t0);
        }
    }
    if (const auto bandwidth = o.number("bandwidth", 0.0, 1e9); bandwidth && *bandwidth != 0.0) {
        const NoiseFloorResult floor = noiseFloor(*noise, t0, *bandwidth);
        results.push_back({"RX Noise Floor (dBm)", "noiseFloor", floor.dbm, floor.valid});
    }

    print(results, decimals, json, doc);
    if (!json && corrections.any())
        std::printf("%s\n", correctedForText(corrections).c_str());
    if (json) {
        doc.endObject();
        std::fputs(doc.text().c_str(), stdout);
    }
    return kExitOk;
}

} // namespace quillon::cli
