#pragma once

// quillon-cli measure and calibrate in three steps: parseMeasureRequest (options to a
// request), takeMeasureSeries (the engine's series runner, reported to a MeasureOutput as it
// goes) and the two outputs, text and JSON.

#include "bench/VirtualBench.h"
#include "cli/CaptureOptions.h"
#include "cli/LimitOptions.h"
#include "measure/DeviceResultsText.h"
#include "measure/ResultUncertainty.h"
#include "measure/SeriesReadings.h"
#include "nf/NoiseResults.h"
#include "nf/Uncertainty.h"

#include <memory>
#include <string>
#include <vector>

namespace quillon {
class QuillonEngine;
}

namespace quillon::cli {

class Options;

// What `quillon-cli measure` or `calibrate` was asked to do.
struct MeasureRequest
{
    // Device: measure (the Measure Device series); Calibration: calibrate (the Calibrate
    // Noise Source series: the reference source ON and OFF, then the unknown one).
    SeriesKind kind = SeriesKind::Device;
    CaptureRequest capture;  // device, format, switch port, noise source, reading plan, log
    bool systemMode = false; // --system: the two readings of the receiver alone, no gain
    double tsOffUnknown = 293.0; // calibrate: the unknown source's off temperature, K
    int repeat = 1;          // --repeat: series to take; 0 = until Ctrl-C
    int decimals = 1;        // --decimals, else the stored setting: of the shown numbers
    bool json = false;       // --json
    // measure: --drift-order or --no-drift-order, else the stored "DriftCancellingOrder".
    bool driftOrder = false;
    // The noise source at the frequency measured (--freq, else the stored entry).
    double enrDb = 25.0;
    StatedUncertainty stated; // the ENR's there and the off temperature's, 95% half-widths
    // measure: the losses around the DUT and the converter at the receiver's frequency
    // (CorrectionOptions.h); nothing set = uncorrected.
    ChainCorrections corrections;
    // measure: the limits, the DUT record and --report; the frequency the results are taken
    // at for a limit table (--freq, or the stored entry with an ENR file), NaN for none.
    LimitRequest limits;
    double frequencyMHz = LimitRow::kNone;
    std::string enrFile; // the calibration file read, when the ENR comes from one
};

// One reading taken.
struct MeasureReading
{
    int number = 0;     // 0..3, labelled as the series' kind has it (seriesReadingLabel)
    double power = 0.0; // mean linear power, full-scale units
    int blocks = 0;
    int autoDummies = 0;             // blocks discarded as automatic dummy reads
    int dummies = 0;                 // blocks discarded as fixed dummy reads
    std::vector<double> blockPowers; // the first 32 blocks'
    ReadingStatistics statistics;
    ReadingWarnings warnings;
};

// One series of readings and what they give.
struct MeasureRun
{
    bool cutShort = false; // Ctrl-C came before the series was complete
    std::vector<MeasureReading> readings;
    SeriesEvaluation evaluation; // with the shown texts, unless cut short
    SeriesUncertainty uncertainty;
    ReadingWarnings warnings;
    ResultVerdict verdict; // against request.limits; None without limits or a result
};

struct MeasureResult
{
    int runs = 0;           // series reported: complete ones, and a last one cut short
    bool cancelled = false; // a stop signal (SIGINT, SIGTERM, SIGHUP) ended the measurement
    BenchTruth benchTruth;        // what a correct measurement of the bench reads (on the bench)
    BenchChain benchChain;        // the bench's losses and converter (its truth's uncorrected
                                  // reading differs from the truth only with them)
    VerdictCounts verdicts;       // of the complete runs
    // With --report only: every complete run, its readings included, for the report.
    std::vector<ReportResult> reportResults;
};

// Where takeMeasureSeries reports as it goes, on the main thread. The text output prints each
// reading and each series as it completes; the JSON output prints its document's head
// first, each series into its "runs" as it ends, and closes the document at the end. Nothing
// printed is kept: a run of a day needs no more memory than one series.
class MeasureOutput
{
public:
    virtual ~MeasureOutput() = default;
    // Before the first series; `deviceName`: the input device's product name.
    virtual void begin(const std::string &deviceName) { (void)deviceName; }
    virtual void seriesStarted(int pass) { (void)pass; } // pass 0, 1, ...
    virtual void readingTaken(const MeasureReading &reading) { (void)reading; }
    // Each series as it ends, a last one cut short by a stop signal included (run.cutShort).
    virtual void seriesComplete(const MeasureRun &run) { (void)run; }
    // After the readings (and after "measurement cancelled" on stderr).
    virtual void finished(const MeasureResult &result) { (void)result; }
    // After a failure, before its message: what was begun is ended (the JSON closed).
    virtual void failed() {}
};

// The options of `quillon-cli measure` or `calibrate` (`kind`); throws CliError for bad
// input. Reads the engine's loaded settings and devices, changes nothing.
MeasureRequest parseMeasureRequest(const Options &o, SeriesKind kind, QuillonEngine &engine);

// Takes the series of the request on the engine, into which applyCaptureRequest has put it:
// the window's "Measure" of the first reading with every automation on (all four readings;
// two in system mode), `repeat` times or until Ctrl-C. A failure (no
// answer at a switch prompt, the device, a signal too high, the log file) throws CliError
// after the readings before it were reported.
MeasureResult takeMeasureSeries(const MeasureRequest &request, QuillonEngine &engine,
                                MeasureOutput &output);

// The report of a measure run: its settings, the DUT record, the limits and `results`.
ReportData measureReport(const MeasureRequest &request, QuillonEngine &engine,
                         const std::string &deviceName, std::vector<ReportResult> results);

std::unique_ptr<MeasureOutput> makeMeasureTextOutput(const MeasureRequest &request);
std::unique_ptr<MeasureOutput> makeMeasureJsonOutput(const MeasureRequest &request);

} // namespace quillon::cli
