#pragma once

#include "nf/EnrTable.h"

#include <optional>
#include <string>

namespace quillon {
struct Settings;
struct SweepConfig;
} // namespace quillon

namespace quillon::cli {

class Options;

// Where a command looks up the ENR of its noise source.
enum class EnrLookup
{
    AtOneFrequency, // measure, calc: --freq MHZ, else the stored entry, reads a calibration file
    AtEachPoint     // sweep: each point's frequency reads it
};

// The noise source a measurement uses: a typed ENR, or a calibration file's table read at a
// frequency; with the ENR uncertainty stated for it (95% half-widths, dB).
struct EnrSource
{
    bool fromFile = false;   // the table; else typedEnrDb at every frequency
    double typedEnrDb = 0.0; // dB
    EnrTable table;          // rows of the calibration file (fromFile)
    // AtOneFrequency: where the table is read (--freq, else the stored entry), MHz.
    double frequencyMHz = 0.0;
    std::optional<double> typedUncertaintyDb; // --enr-uncertainty
    // Where neither --enr-uncertainty nor the file's third column gives one: the stored
    // "EnrUncertainty"; 0 on the virtual bench, whose sources are exactly known.
    double fallbackUncertaintyDb = 0.0;

    // The ENR at `frequencyMHz` (a typed ENR below 0 counts as 0, as enrForEntry has it).
    double enrDbAt(double frequencyMHz) const;
    // Its stated uncertainty there: typed, else the file's third column where it gives one
    // at that frequency, else the fallback.
    double uncertaintyDbAt(double frequencyMHz) const;
    // AtOneFrequency commands: both at `frequencyMHz`.
    double enrDb() const { return enrDbAt(frequencyMHz); }
    double uncertaintyDb() const { return uncertaintyDbAt(frequencyMHz); }
};

// What the ENR rule takes besides the options: the stored values, and whether the virtual
// bench is measured.
struct EnrDefaults
{
    const Settings &settings;    // useEnrFile, enrCalibrationFile as loaded
    const EnrTable &storedTable; // the stored file's rows, read at load while useEnrFile is on
    double storedEntry = 25.0;   // "ENR": an ENR, or a frequency while the stored file is in use
    double storedUncertaintyDb = 0.0; // "EnrUncertainty"
    // On the bench its own source is the default, and exactly known: AtOneFrequency the
    // bench's ENR at its tuning, AtEachPoint its calibration file (its ENR at the curve centre
    // where the file is not found).
    bool onBench = false;
    double benchEnrAtTuningDb = 25.0;
    double benchEnrAtCentreDb = 25.0;
};

// The one ENR rule of measure, sweep and calc:
//   --enr DB               that ENR at every frequency (0 to 50 dB);
//   --enr-file FILE        that calibration file, read at --freq MHZ (AtOneFrequency, where
//                          --freq alone reads the stored file) or at each point (AtEachPoint);
//   none of them           the bench's own source on the bench; else the stored calibration
//                          file while it is in use (AtOneFrequency: read at the stored entry);
//                          else the stored entry as an ENR.
// The uncertainty: --enr-uncertainty DB (0 to kEnrMaxUncertaintyDb), else the file's third
// column where it gives one, else the stored value (0 on the bench).
// Bad input throws CliError; the messages name the options of `lookup`'s commands.
EnrSource resolveEnrSource(const Options &options, EnrLookup lookup, const EnrDefaults &defaults);

// Puts `source` into a sweep's configuration: the sweep looks the stated uncertainty up at
// each point by the engine's rule (statedUncertainty: the file's third column, else the
// configuration's typed value), so the fallback goes into the typed value, and a typed
// --enr-uncertainty into every row of the file as well.
void setSweepEnr(const EnrSource &source, SweepConfig &config);

} // namespace quillon::cli
