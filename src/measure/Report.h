#pragma once

// The report of a device measurement: one self-contained HTML5 file (inline CSS and SVG, no
// scripts, nothing outside it) for people, and beside it a JSON file with every input
// needed to recompute every number the HTML shows. Measure Device's page, the Sweep page
// (sweepReportData) and quillon-cli measure and sweep fill a ReportData; recomputeReport()
// checks a JSON file against itself. The sky report (SkyReport.h) shares the page's start
// and the file writing. Pure functions but the two writers; any thread.

#include "capture/ReadingStatistics.h"
#include "measure/Limits.h"
#include "nf/Corrections.h"
#include "nf/EnrTable.h"
#include "nf/NoiseResults.h"
#include "nf/Uncertainty.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The program's version as reports state it ("0.4"): the one place the report reads it.
std::string quillonVersionText();

// What the user wrote down about the device measured; kept with its results.
struct DutRecord
{
    std::string name;
    std::string serial;
    std::string notes; // free text, any characters, several lines
};

// One reading behind a result: its label as the page shows it, the mean linear power
// (full-scale units) and its statistics and warning texts.
struct ReportReading
{
    int number = -1; // 0..3 as in computeDeviceResults; -1: its place in the list
    std::string label;
    double power = 0.0;
    int blocks = 0;
    ReadingStatistics statistics;
    std::vector<std::string> warnings;
};

// One result: the readings in the order of computeDeviceResults (system ON, OFF, DUT ON,
// OFF; the first two alone in system mode) and the conditions it was computed with. The
// results, uncertainties and verdict are computed by fillReportResult from these.
struct ReportResult
{
    std::string label;                     // "Run 1", or the frequency of a sweep's point
    double frequencyMHz = LimitRow::kNone; // NaN: taken at no stated frequency
    double enrDb = 25.0;
    StatedUncertainty stated; // the ENR's there and the off temperature's, 95% half-widths
    std::vector<ReportReading> readings;
    std::vector<std::string> warnings; // the result's, merged from its readings
    // The corrections applied to it (appliedCorrections: in system mode the calibration
    // path's loss alone); nothing active: the readings' results as they are.
    ChainCorrections corrections;
    // The receiver's drift as it entered the total half-widths (zero where it did not: a
    // drift the blocks do not resolve adds nothing).
    DriftTerm drift;

    // Filled by fillReportResult.
    DeviceResults results;
    DeviceResultsUncertainty uncertainty;
    ResultVerdict verdict;
};

struct ReportData
{
    std::string page = "Measure Device"; // "Measure Device" or "Sweep"
    DutRecord dut;
    std::string dateTime; // local, "2026-12-07 04:55:12"
    std::string version = quillonVersionText();
    std::string soundDevice;
    std::string format; // the format table's label
    int captureTimeMs = 1000;
    int dummyReads = 0;
    int averageCount = 1; // blocks counted per reading
    bool highPass = false;
    std::string switchPort;
    std::string rig;           // sweep: the receiver control; empty otherwise
    std::string hamlibVersion; // sweep with hamlib
    bool systemMode = false;
    double tsOff = 293.0; // K
    double t0 = 290.0;    // K
    // The ENR: typed, or interpolated from a calibration file, whose rows around each
    // result's frequency are listed in the report.
    bool enrFromFile = false;
    std::string enrFile;
    std::vector<EnrRow> enrRows; // the file's rows used (the neighbours of each frequency)
    // Corrections applied to the results ("corrected for: ..." lines); empty: none.
    std::vector<std::string> corrections;
    Limits limits;
    std::vector<ReportResult> results;
};

// Computes a result's results, uncertainties and verdict from its readings and conditions.
void fillReportResult(ReportResult &r, bool systemMode, double t0, double tsOff,
                      const Limits &limits);

// The rows of `table` around `frequencyMHz` that its interpolation reads (one or two).
std::vector<EnrRow> enrRowsUsed(const EnrTable &table, double frequencyMHz);

// The two files' texts.
std::string reportHtml(const ReportData &data);
std::string reportJson(const ReportData &data);

// "report.html" -> "report.json": the JSON beside the HTML file (".json" appended when the
// name does not end in ".html" or ".htm").
std::string reportJsonPath(const std::string &htmlPath);

// Writes both files, each to a temporary file beside it and renamed over (writeFileReplacing).
// Empty on success, else the one message for the user: "The report "x" could not be written:
// <reason>." The JSON is written first under a name of its own and renamed beside the HTML
// once that is written: a failure leaves neither new file, and an earlier report of the same
// name as it was.
std::string writeReport(const std::string &htmlPath, const ReportData &data);
// The same for any report's two texts (the sky report's).
std::string writeReportFiles(const std::string &htmlPath, const std::string &html,
                             const std::string &json);

// What every report's HTML shares: `text` with &, <, >, " and ' escaped (a NUL as U+FFFD),
// and the document's start, its style and the heading `title`, up to the open <body>.
std::string htmlEscaped(std::string_view text);
std::string reportHtmlStart(const std::string &title);

// Recomputes every result of a report's JSON text from its inputs and compares each number
// with the one stored (within `toleranceDb`, in each number's unit), and each verdict.
struct RecomputeOutcome
{
    bool readable = false;
    std::string message;                 // why the text could not be used
    int compared = 0;                    // numbers and verdicts compared
    std::vector<std::string> mismatches; // "Run 1: noise figure 1.234 stored, 1.236 recomputed"
};
RecomputeOutcome recomputeReport(const std::string &jsonText, double tolerance = 0.001);

} // namespace quillon
