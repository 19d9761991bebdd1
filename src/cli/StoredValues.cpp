#include "cli/StoredValues.h"

#include "core/Messages.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "capture/SettingsContext.h"
#include "cli/CliSupport.h"
#include "measure/SharedValues.h"

#include <algorithm>

namespace quillon::cli {

PageValues readPageValues()
{
    const SettingsStore store;
    SharedValues shared;
    shared.load(store);
    PageValues v;
    v.enrEntry = shared.enrEntry();
    v.tsOff = shared.tsOff();
    v.t0 = shared.t0();
    v.dummyReads = shared.dummyReadsLimited();
    // The flag as the check box reads it: bit 0.
    v.averaging = (store.read(keys::TraceAverageFlag) & 1) != 0;
    v.averageCount = shared.averageCountLimited();
    return v;
}

PageValues loadStoredValues(Settings &settings, EnrTable &table)
{
    const SettingsStore store;
    SettingsLoadContext context = captureLoadContext(nullptr);
    context.readEnrFile = [&table](Settings &s) {
        return parseEnrFile(s, table);
    };
    loadSettings(settings, store, context);
    return readPageValues();
}

double resolveEnr(const Options &options, Settings &settings, EnrTable &table, double defaultEntry)
{
    if (options.has("enr") && (options.has("freq") || options.has("enr-file")))
        throw CliError("give either --enr or --freq (with --enr-file), not both");
    if (const auto enr = options.number("enr", 0.0, 50.0)) {
        settings.useEnrFile = false;
        return enrForEntry(*enr, settings, table);
    }
    if (options.has("enr-file") && !options.has("freq"))
        throw CliError("--enr-file needs --freq MHZ: the frequency to interpolate at");
    if (const auto freq = options.number("freq", 0.0, 30000.0)) {
        if (const auto file = options.text("enr-file"))
            settings.enrCalibrationFile = *file;
        if (settings.enrCalibrationFile.empty())
            throw CliError("--freq needs an ENR calibration file (--enr-file FILE)");
        const int rc = parseEnrFile(settings, table);
        if (rc != kMsgNone)
            throw CliError(messageText(rc));
        settings.useEnrFile = true;
        return enrForEntry(*freq, settings, table);
    }
    return enrForEntry(defaultEntry, settings, table);
}

} // namespace quillon::cli
