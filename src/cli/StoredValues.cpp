#include "cli/StoredValues.h"

#include "capture/SettingsContext.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "measure/SharedValues.h"

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
    v.enrUncertaintyDb = store.readNumber(keys::EnrUncertainty);
    v.tsOffUncertaintyK = store.readNumber(keys::TSoffUncertainty);
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

} // namespace quillon::cli
