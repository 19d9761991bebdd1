#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

struct Settings;

// One calibration point of the noise source.
struct EnrRow
{
    double frequencyMHz = 0.0;  // 0..30000 MHz
    double enrDb = 0.0;         // 0..50 dB
    double uncertaintyDb = 0.0; // the ENR's 95% half-width from the third column; 0 = none
};

// Largest ENR uncertainty a third column may give: a value above it (a second ENR column,
// say) is taken as no uncertainty, as is one that is not a number above 0.
inline constexpr double kEnrMaxUncertaintyDb = 3.0;

// The ENR calibration rows of the noise source in use. Filled only by the readers below
// (parseEnrData, parseEnrFile); looked up with enrForEntry and enrUncertaintyForEntry.
// After a successful read rows 0..count-1 hold the data sorted by ascending frequency
// (equal frequencies keep their file order) and row `count` is a terminator of zeros; after
// a failed read count is 0 and every row is zeros.
struct EnrTable
{
    static constexpr int kSlots = 1024;         // rows including the terminator
    static constexpr int kMaxRows = kSlots - 1; // 1023 data rows at most
    std::array<EnrRow, kSlots> rows{};
    std::int32_t count = 0; // 0..1023; 0 = no table
    // After a failed read: the line (from 1) that made it fail; 0 when no line did (the file
    // could not be opened or held no data).
    std::int32_t failedLine = 0;
};

// The reader's message for `messageId` with the line that failed, for the user:
// "A line in the calibration file was missing a frequency (line 3)".
std::string enrReadMessage(int messageId, const EnrTable &table);

// An uncertainty in the third column above this is refused: it cannot be one (a decimal
// comma, "148, 24,992", splits the ENR there).
inline constexpr double kEnrUncertaintyRefusedAboveDb = 10.0;

// Longest line of an ENR file, line end included, that is still read: 253 characters, so
// 252 before the line end (253 on a last line without one). A line of 254 or more fails
// with kMsgEnrLineTooLong, comment lines too. A CR LF line end counts as one character,
// exactly as a text-mode read on Windows sees it.
inline constexpr int kEnrMaxLineLength = 253;

// Reads an ENR calibration file, given as its bytes, into `table`. Returns 0 on success or
// the number of the message to show (core/Messages.h). The first failing line decides:
// kMsgEnrLineTooLong, kMsgEnrMissingFrequency, kMsgEnrNotANumber, kMsgEnrFrequencyRange,
// kMsgEnrMissingEnr, kMsgEnrEnrRange, kMsgEnrUncertaintyRange, or kMsgEnrTooManyRows for a
// row past kMaxRows; kMsgEnrNoData when no line holds a row. On failure the table is left
// empty but for failedLine.
//
// File format: one row per line, frequency in MHz then ENR in dB, separated by runs of
// ',', TAB, ';' (spaces belong to the number's text). Both must be plain decimal numbers
// (blanks around them allowed): "nan", "inf", "abc", "0x19" or "24 dB" fail the read with
// kMsgEnrNotANumber. An optional third field is the ENR's uncertainty, a 95% half-width in
// dB, taken when it reads as a number above 0 and up to kEnrMaxUncertaintyDb; a plain
// number above kEnrUncertaintyRefusedAboveDb fails the read with kMsgEnrUncertaintyRange
// (a decimal comma), anything else there is ignored, so files written without it read
// exactly as before; further fields are ignored. A UTF-8 byte-order mark at the start of
// the file is skipped. A line whose first
// character is ';', '#', '/' or '\' is a comment; a line of one character (its line end
// alone, or a last line of one character without one) is skipped. Numbers are read as
// their longest decimal prefix (text without one reads as 0). Rows may come in any order.
// Line ends are LF or CR LF; a CR that is not followed by LF is an ordinary character. A
// NUL ends the text of its line (the rest of the line, up to its line end, is ignored; a
// line that begins with one and holds more is refused with kMsgEnrNotANumber, a lone NUL
// line is skipped); it does not shorten the line for the length limit.
int parseEnrData(std::string_view bytes, EnrTable &table);

// Reads the file at `path` (see parseEnrData). Besides parseEnrData's messages it returns
// kMsgEnrNoFile for an empty path without touching the disk, kMsgEnrCannotOpen when the
// path holds a NUL, cannot be opened or is not a regular file (a folder, a device, a pipe),
// and kMsgEnrReadError when reading fails.
int parseEnrFile(const std::string &path, EnrTable &table);

// Reads the file named by settings.enrCalibrationFile into `table`. Does not change
// settings.useEnrFile: a caller that gets a message number clears it.
int parseEnrFile(const Settings &settings, EnrTable &table);

// The ENR (dB) in effect for the number the user typed into a noise-source entry.
// A value below 0 (or NaN) counts as 0. Without the file in use (or with an empty table)
// the value is the ENR itself and is returned; with it, the value is a frequency in MHz
// and the ENR is interpolated linearly in dB between the neighbouring rows, held at the
// first and last rows' ENR outside the table (no extrapolation). At a frequency several
// rows share, the first of them gives the ENR, at the table's last frequency the last.
// Never fails.
double enrForEntry(double value, bool useEnrFile, const EnrTable &table);
double enrForEntry(double value, const Settings &settings, const EnrTable &table);

// The ENR uncertainty (95% half-width, dB) the file gives for the same entry: interpolated
// like the ENR between the two neighbouring rows when both give one, the one given where
// only one does; at a row's own frequency, and outside the table at the end row, that
// row's. NaN where the rows it comes from give none, and without the file in use or with
// an empty table (the caller then takes the uncertainty typed on the page).
double enrUncertaintyForEntry(double value, bool useEnrFile, const EnrTable &table);

} // namespace quillon
