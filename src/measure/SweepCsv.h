#pragma once

#include "measure/Report.h"

#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// One completed point of a sweep. NaN marks a value that is not available: an uncertainty
// the measurement did not estimate, or a result the readings did not allow (the warnings
// then say why).
struct SweepRow
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double frequencyMHz = kNone;
    double enrDb = kNone;           // the ENR used at this frequency, dB
    double nfDb = kNone;            // the DUT's noise figure, dB
    double gainDb = kNone;          // the DUT's gain, dB
    double teK = kNone;             // the DUT's noise temperature, K
    double nfUncertaintyDb = kNone; // as the measurement reports it (standard uncertainty)
    double gainUncertaintyDb = kNone;
    double teUncertaintyK = kNone;
    std::string warnings; // free text, several joined by "; "; may hold any character
    // The corrections applied at this point (the losses around the DUT, a converter):
    // the DUT's input frequency (MHz; the converter's, else frequencyMHz), each loss in dB
    // as looked up here (NaN where not entered), and the "corrected for" text ("" = none).
    double inputFrequencyMHz = kNone;
    double inputLossDb = kNone;
    double outputLossDb = kNone;
    double calibrationLossDb = kNone;
    std::string correctedFor;
    double nfHalfWidth95Db = kNone;   // the total 95% half-widths, as verdicts take them
    double gainHalfWidth95Db = kNone; // (not in the CSV)
    // What a report needs of the point (not in the CSV): its readings with their statistics,
    // the ENR, stated uncertainties, corrections and drift term it was computed with; no
    // readings where the point has no complete series.
    ReportResult report{};
};

// The CSV of a sweep, RFC 4180: a header row, then one record per point in the order
// given, every record (the last included) ended by CR LF as the RFC has it. Numbers in full
// precision, the shortest text that reads back as the same double, "." as decimal point
// whatever the locale; an empty field for NaN or infinity. A field holding a comma, a
// double quote, CR or LF is enclosed in double quotes, its double quotes doubled.
inline constexpr const char *kSweepCsvHeader =
    "Frequency (MHz),ENR used (dB),NF (dB),Gain (dB),Te (K),NF uncertainty (dB),"
    "Gain uncertainty (dB),Te uncertainty (K),Warnings";
// A sweep with corrections (any row's correctedFor not empty) has these columns after the
// others; one without has exactly the columns above.
inline constexpr const char *kSweepCsvCorrectionColumns =
    ",Input frequency (MHz),Input loss (dB),Output loss (dB),Calibration path loss (dB),"
    "Corrected for";
std::string sweepCsvRecord(const SweepRow &row, bool withCorrections = false); // CR LF included
std::string sweepCsv(const std::vector<SweepRow> &rows);

// One field as RFC 4180 writes it.
std::string csvField(std::string_view text);

// Reads RFC 4180 text into records of fields. Records may end in CR LF or LF alone (a
// lone CR outside quotes is an ordinary character); the last line end may be missing.
// Quoted fields keep their line ends as they are. Returns false, with `records` empty, for
// a double quote inside an unquoted field, text after a closing quote, or an unclosed
// quote.
bool parseCsv(std::string_view text, std::vector<std::vector<std::string>> &records);

// Writes the sweep's CSV to `path` through writeFileReplacing: a regular file is replaced
// only once all of it is written (a failure keeps the old file), a device or FIFO is written
// directly; "-" is standard output. Returns the message for the user when that fails ("The CSV file "..." could not
// be written: <reason>."), empty on success. Any thread.
std::string writeSweepCsv(const std::string &path, const std::vector<SweepRow> &rows);

} // namespace quillon
