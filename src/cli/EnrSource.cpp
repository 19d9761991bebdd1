#include "cli/EnrSource.h"

#include "cli/CliSupport.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "measure/SeriesReadings.h"
#include "measure/SweepRunner.h"

#include <cmath>
#include <filesystem>

namespace quillon::cli {

namespace {

EnrSource typedSource(double enrDb)
{
    EnrSource s;
    s.typedEnrDb = enrDb;
    return s;
}

// The table of the calibration file at `path`; a file that cannot be read throws with the
// reader's message, followed by the path where `namePath` is set (the sweep's wording).
EnrSource fileSource(const std::string &path, bool namePath)
{
    EnrSource s;
    s.fromFile = true;
    const int rc = parseEnrFile(path, s.table);
    if (rc != kMsgNone)
        throw CliError(namePath ? enrReadMessage(rc, s.table) + " (" + path + ")"
                                : enrReadMessage(rc, s.table));
    return s;
}

// The bench's calibration file: installed beside the program's data, or in the source tree
// of a build that is run where it was built.
std::string benchEnrFile()
{
    for (const char *path : {QUILLON_INSTALLED_BENCH_ENR, QUILLON_SOURCE_BENCH_ENR}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            return path;
    }
    return {};
}

// The bench's own source.
EnrSource benchEnrSource(EnrLookup lookup, double enrAtTuningDb, double enrAtCentreDb)
{
    if (lookup == EnrLookup::AtOneFrequency)
        return typedSource(enrAtTuningDb);
    const std::string file = benchEnrFile();
    return file.empty() ? typedSource(enrAtCentreDb) : fileSource(file, true);
}

} // namespace

double EnrSource::enrDbAt(double f) const
{
    return fromFile ? enrForEntry(f, true, table) : enrForEntry(typedEnrDb, false, table);
}

double EnrSource::uncertaintyDbAt(double f) const
{
    if (typedUncertaintyDb)
        return *typedUncertaintyDb;
    // The engine's rule, as the pages have it: the file's third column, else the fallback.
    return statedUncertainty(f, fromFile, table, fallbackUncertaintyDb, 0.0).enrDb;
}

EnrSource resolveEnrSource(const Options &o, EnrLookup lookup, const EnrDefaults &d)
{
    const bool oneFrequency = lookup == EnrLookup::AtOneFrequency;
    EnrSource source;
    if (o.has("enr") && (o.has("enr-file") || (oneFrequency && o.has("freq"))))
        throw CliError(oneFrequency ? "give either --enr or --freq (with --enr-file), not both"
                                    : "give --enr or --enr-file, not both");
    const std::string named = o.text("enr-file").value_or("");
    if (const auto enr = o.number("enr", 0.0, 50.0)) {
        source = typedSource(*enr);
    } else if (oneFrequency && o.has("enr-file") && !o.has("freq")) {
        throw CliError("--enr-file needs --freq MHZ: the frequency to interpolate at");
    } else if (const auto freq = oneFrequency ? o.number("freq", 0.0, 30000.0) : std::nullopt) {
        const std::string path = o.has("enr-file") ? named : d.settings.enrCalibrationFile;
        if (path.empty())
            throw CliError("--freq needs an ENR calibration file (--enr-file FILE)");
        source = fileSource(path, false);
        source.frequencyMHz = *freq;
    } else if (!oneFrequency && !named.empty()) {
        source = fileSource(named, true);
    } else if (d.onBench) {
        source = benchEnrSource(lookup, d.benchEnrAtTuningDb, d.benchEnrAtCentreDb);
    } else if (d.settings.useEnrFile) {
        source.fromFile = true;
        source.table = d.storedTable;
        source.frequencyMHz = d.storedEntry;
    } else {
        source = typedSource(d.storedEntry);
    }
    source.typedUncertaintyDb = o.number("enr-uncertainty", 0.0, kEnrMaxUncertaintyDb);
    source.fallbackUncertaintyDb = d.onBench ? 0.0 : d.storedUncertaintyDb;
    return source;
}

void setSweepEnr(const EnrSource &source, SweepConfig &config)
{
    config.useEnrFile = source.fromFile;
    config.enrUncertaintyDb = source.typedUncertaintyDb.value_or(source.fallbackUncertaintyDb);
    if (!source.fromFile) {
        config.typedEnrDb = source.enrDbAt(0.0);
        return;
    }
    config.enrTable = source.table;
    // A typed uncertainty stands for the file's column at every point.
    if (source.typedUncertaintyDb)
        for (int i = 0; i < config.enrTable.count; ++i)
            config.enrTable.rows[static_cast<std::size_t>(i)].uncertaintyDb =
                *source.typedUncertaintyDb;
}

} // namespace quillon::cli
