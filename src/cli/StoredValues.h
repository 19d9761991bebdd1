#pragma once

#include "core/Settings.h"
#include "nf/EnrTable.h"

namespace quillon::cli {

// The values the window program keeps for its measuring pages, read from the per-user
// store (the CLI never writes the store).
struct PageValues
{
    double enrEntry = 25.0; // "ENR": ENR in dB, or a frequency in MHz while an ENR file is in use
    double tsOff = 293.0;   // "TSoff", K
    double t0 = 290.0;      // "T0", K
    int dummyReads = 1;     // "DummyReads", limited to 0..10
    bool averaging = false; // "TraceAverageFlag"
    int averageCount = 1;   // "TraceAverageCount", limited to 1..32
    double enrUncertaintyDb = 0.0;  // "EnrUncertainty": the ENR's stated 95% half-width, dB
    double tsOffUncertaintyK = 0.0; // "TSoffUncertainty": the off temperature's, K
};

// Loads the settings record (with its ENR file into `table` when "UseEnrFile" is set) and
// the page values, without opening any device.
PageValues loadStoredValues(Settings &settings, EnrTable &table);

// The page values alone (the record loaded elsewhere).
PageValues readPageValues();

} // namespace quillon::cli
