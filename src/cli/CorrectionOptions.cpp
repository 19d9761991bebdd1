// The correction options shared by measure, sweep and calc.

#include "cli/CorrectionOptions.h"

#include "bench/VirtualBench.h"
#include "cli/CaptureOptions.h"
#include "cli/CliSupport.h"
#include "cli/Json.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"

#include <string>

namespace quillon::cli {

namespace {

constexpr std::string_view kFixed[kLossPlaceCount] = {"loss-before", "loss-after", "loss-cal"};
constexpr std::string_view kTable[kLossPlaceCount] = {"loss-file-before", "loss-file-after",
                                                      "loss-file-cal"};
constexpr std::string_view kOthers[] = {"lo", "sideband", "image-rejection"};

// "VALUE[@K]": the value's text and the temperature (290 K when no "@" is given).
std::string splitTemperature(const std::string &text, std::string_view option, double &kelvin)
{
    const auto at = text.rfind('@');
    kelvin = 290.0;
    if (at == std::string::npos)
        return text;
    kelvin = parseNumberArg(std::string_view(text).substr(at + 1),
                            "--" + std::string(option) + " after @ (kelvin)");
    return text.substr(0, at);
}

} // namespace

void addCorrectionOptionNames(std::vector<std::string_view> &valued,
                              std::vector<std::string_view> &flags)
{
    for (std::string_view name : kFixed)
        valued.push_back(name);
    for (std::string_view name : kTable)
        valued.push_back(name);
    for (std::string_view name : kOthers)
        valued.push_back(name);
    flags.push_back("no-corrections");
}

CorrectionSettings parseCorrectionOptions(const Options &o, const CorrectionSettings &stored)
{
    bool given = false;
    for (int k = 0; k < kLossPlaceCount; ++k)
        given = given || o.has(kFixed[k]) || o.has(kTable[k]);
    for (std::string_view name : kOthers)
        given = given || o.has(name);
    if (o.flag("no-corrections")) {
        if (given)
            throw CliError("--no-corrections takes no loss or converter option");
        return {};
    }
    if (!given)
        return stored;

    CorrectionSettings s;
    s.frequencyMHz = stored.frequencyMHz;
    for (int k = 0; k < kLossPlaceCount; ++k) {
        LossSetting &l = s.loss[static_cast<std::size_t>(k)];
        if (o.has(kFixed[k]) && o.has(kTable[k]))
            throw CliError("give --" + std::string(kFixed[k]) + " or --" + std::string(kTable[k]) +
                           ", not both");
        if (const auto text = o.text(kFixed[k])) {
            const std::string value = splitTemperature(*text, kFixed[k], l.temperatureK);
            l.on = true;
            l.db = parseNumberArg(value, "--" + std::string(kFixed[k]));
        } else if (const auto file = o.text(kTable[k])) {
            l.on = true;
            l.fromTable = true;
            l.file = splitTemperature(*file, kTable[k], l.temperatureK);
        }
    }
    if (const auto lo = o.number("lo")) {
        s.converter.on = true;
        s.converter.loMHz = *lo;
    } else if (o.has("sideband") || o.has("image-rejection")) {
        throw CliError("--sideband and --image-rejection need --lo MHZ");
    }
    if (const auto side = o.text("sideband")) {
        bool known = false;
        s.converter.sideband = sidebandFromName(*side, &known);
        if (!known)
            throw CliError("--sideband takes upper, lower or double, not '" + *side + "'");
    }
    s.converter.imageRejectionDb = o.number("image-rejection").value_or(100.0);
    return s;
}

CorrectionSettings storedCorrectionSettings()
{
    const SettingsStore store(kCorrectionsGroup);
    return loadCorrectionSettings(store);
}

ChainCorrections resolveCorrectionsOrThrow(const CorrectionSettings &settings, LossTables &tables,
                                           double outputMHz,
                                           const std::function<double(double)> &enrAt)
{
    ChainCorrections c;
    if (!settings.any())
        return c;
    if (const Result read = readLossTables(settings, tables); !read.ok())
        throw CliError(read.detail);
    if (const Result r = resolveCorrections(settings, tables, outputMHz, enrAt, c); !r.ok())
        throw CliError(r.detail);
    return c;
}

void writeCorrectionsJson(Json &doc, const ChainCorrections &c)
{
    doc.key("corrections");
    if (!c.any()) {
        doc.null();
        return;
    }
    doc.beginObject().key("correctedFor").value(correctedForText(c));
    constexpr const char *kKeys[kLossPlaceCount] = {"inputLoss", "outputLoss", "calibrationLoss"};
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const AppliedLoss &l = c.loss[static_cast<std::size_t>(k)];
        doc.key(kKeys[k]);
        if (!l.active) {
            doc.null();
            continue;
        }
        doc.beginObject().key("db").value(l.db).key("temperatureK").value(l.temperatureK);
        doc.key("uncertaintyDb").value(l.uncertaintyDb).endObject();
    }
    doc.key("converter");
    if (!c.converter.on) {
        doc.null();
    } else {
        doc.beginObject().key("loMHz").value(c.converter.loMHz);
        doc.key("sideband").value(sidebandName(c.converter.sideband));
        doc.key("imageRejectionDb").value(c.converter.imageRejectionDb);
        doc.key("inputMHz").value(c.frequencies.inputMHz);
        doc.key("imageMHz").value(c.frequencies.imageMHz);
        doc.key("outputMHz").value(c.frequencies.outputMHz);
        doc.key("enrSignalDb").value(c.enrSignalDb).key("enrImageDb").value(c.enrImageDb);
        doc.endObject();
    }
    doc.endObject();
}

ChainCorrections capturedCorrections(const Options &o, const CaptureRequest &capture,
                                     QuillonEngine &engine)
{
    const CorrectionSettings corrections = parseCorrectionOptions(o, storedCorrectionSettings());
    if (!corrections.any())
        return {};
    const EnrSource &enr = capture.enr;
    const BenchParameters bench = engine.bench().parameters();
    const bool benchSource =
        capture.onBench && !o.has("enr") && !o.has("enr-file") && !o.has("freq");
    const double outputMHz = enr.fromFile      ? enr.frequencyMHz
                             : capture.onBench ? bench.frequencyMHz
                                               : corrections.frequencyMHz;
    LossTables tables;
    return resolveCorrectionsOrThrow(corrections, tables, outputMHz, [&](double mhz) {
        return benchSource ? benchCurvesAt(bench, mhz).referenceEnrDb : enr.enrDbAt(mhz);
    });
}

} // namespace quillon::cli
