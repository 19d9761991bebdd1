#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillon {

// A local calendar date and wall-clock time, as the log writes it.
struct LocalDateTime
{
    int year = 2000; // full year, e.g. 2026
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60 (leap second)
};

// Where the log takes "now" from. The default reads the system clock in the local time zone;
// tests pass a fixed time. Called on the thread that writes the line.
using LocalClock = std::function<LocalDateTime()>;

// The current local date and time (localtime_r, so safe on any thread).
LocalDateTime currentLocalDateTime();

// The time text of every log line: month/day/two-digit year, a blank and the 24-hour time,
// no leading zeros on month, day and hour: "12/6/26 2:08:33". Fixed here rather than taken
// from strftime("%c"), so that neither the C library nor the user's locale changes what log
// readers see.
std::string logTimeText(const LocalDateTime &time);

// Labels of the four readings of the Measure Device page ("Noise (ON)", "Noise (OFF)",
// "DUT (ON)", "DUT (OFF)") and of the Calibrate Noise Source page ("Calbrated Noise Source
// (on)" ... "Unknown Noise Source (off)"; the spelling is what existing logs carry).
// `reading` is 0..3; any other number gives an empty text.
std::string_view nfReadingLabel(int reading);
std::string_view enrReadingLabel(int reading);

// The kinds of line that carry one modal reading.
enum class ReadingLineKind
{
    Nf,
    Enr
};

// One "NF" or "ENR" line, newline included:
//   NF,<time>,<label>,<reading dB with six decimals>,<result line>\n
// The reading is printed as printf("%f") does in the C locale, whatever the value: a reading
// of zero power is 10*log10(0) = -infinity and prints "-inf"; an undefined reading (NaN)
// prints "nan", or "-nan" when its sign bit is set (glibc's spelling).
std::string readingLineText(ReadingLineKind kind, std::string_view timeText, std::string_view label,
                            double readingDb, std::string_view resultLine);

// The state text of a "Measure" line: "<time>,Noise On,DUT in Circuit," (or "Noise Off,",
// "DUT out of Circuit,").
std::string measureStateText(std::string_view timeText, bool noiseOn, bool dutIn);

// One "Measure" line: "Measure,<state text> <result line>\n".
std::string measureLineText(std::string_view stateText, std::string_view resultLine);

// One "SKY" line: "SKY,<time>,<fields>\n".
std::string skyLineText(std::string_view timeText, std::string_view fields);

// The results file that the measuring pages append to while "Log Measurements" is on.
//
// Every append opens the file for appending (creating it if missing), writes the whole line
// with one write and closes the file again; no file stays open between lines, and nothing
// earlier is ever rewritten. A write that stops short (disk full) is cut back to where the
// line began, so the file holds whole lines only. Lines appended by different writers never interleave, because an
// O_APPEND write of one line is placed at the end of the file in one piece.
//
// The append functions return kMsgNone (0) when the line was written, or kMsgCannotOpenLog
// when the file cannot be opened (missing folder, a path through a regular file, a directory,
// an empty path) or the line could not be written completely (disk full). The log shows
// nothing itself: the caller reports the message and decides how to go on.
//
// No state between lines: an object may be used from the window thread (NF, ENR lines) and
// the capture delivery thread (Measure lines); the clock must then be callable from both.
class MeasurementLog
{
public:
    explicit MeasurementLog(LocalClock clock = currentLocalDateTime);

    // An "NF" line (Measure Device page) or "ENR" line (Calibrate Noise Source page) for a
    // completed reading. `path` is Settings::logResultsFile; `label` the reading's label;
    // `readingDb` 10*log10 of the reading's mean linear power, unrounded; `resultLine` the
    // shared result text as the page's evaluation left it (e.g. " 15.318, 2410.842," or
    // "Not Calculated.").
    int appendNf(const std::string &path, std::string_view label, double readingDb,
                 std::string_view resultLine) const;
    int appendEnr(const std::string &path, std::string_view label, double readingDb,
                  std::string_view resultLine) const;

    // A "Measure" line (Measure Noise page, once per block) with the page's switch states.
    int appendMeasure(const std::string &path, bool noiseOn, bool dutIn,
                      std::string_view resultLine) const;

    // A "SKY" line (Antenna and Sky page, quillon-cli sky) for one completed sky measurement:
    //   SKY,<time>,<fields>\n
    // with `fields` as skyLogFields gives them (SkyMeasurement.h).
    int appendSky(const std::string &path, std::string_view fields) const;

private:
    int appendReading(ReadingLineKind kind, const std::string &path, std::string_view label,
                      double readingDb, std::string_view resultLine) const;

    LocalClock m_clock;
};

} // namespace quillon
