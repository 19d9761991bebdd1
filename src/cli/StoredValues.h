#pragma once

#include "core/Settings.h"
#include "nf/EnrTable.h"

#include <string>

namespace quillon::cli {

class Options;

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
};

// Loads the settings record (with its ENR file into `table` when "UseEnrFile" is set) and
// the page values, without opening any device.
PageValues loadStoredValues(Settings &settings, EnrTable &table);

// The page values alone (the record loaded elsewhere).
PageValues readPageValues();

// The ENR in effect for a command's options:
//   --enr DB                    that ENR (0 to 50 dB)
//   --freq MHZ [--enr-file F]   interpolated from F, or from the stored calibration file
//   neither                     `defaultEntry` as the page reads its entry (a frequency while
//                               settings.useEnrFile is on)
// An ENR file that cannot be read throws CliError with the reader's exact message.
// `settings` and `table` are updated to the file in use.
double resolveEnr(const Options &options, Settings &settings, EnrTable &table, double defaultEntry);

} // namespace quillon::cli
