#include "measure/MeasurementLog.h"

#include "core/Messages.h"
#include "core/NumberText.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr std::string_view kNfLabels[4] = {"Noise (ON)", "Noise (OFF)", "DUT (ON)", "DUT (OFF)"};
constexpr std::string_view kEnrLabels[4] = {
    "Calbrated Noise Source (on)", "Calbrated Noise Source (off)", "Unknown Noise Source (on)",
    "Unknown Noise Source (off)"};

// Appends the decimal text of `value` with at least `width` digits (zero-padded).
void appendNumber(std::string &out, int value, int width)
{
    const std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0)
        out += '-';
    for (int i = static_cast<int>(digits.size()); i < width; ++i)
        out += '0';
    out += digits;
}

// Opens `path` for appending, writes the text that `line` builds (called only once the file
// is open, so that the time in the line is the moment of writing) and closes the file.
template <typename LineBuilder> int appendLine(const std::string &path, LineBuilder &&line)
{
    // O_NONBLOCK: a FIFO named as log file fails to open instead of blocking the capture
    // thread until a reader appears; it changes nothing for regular files.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return kMsgCannotOpenLog;

    const std::string text = line();
    // One write(2) for the whole line: O_APPEND places it at the end in one piece. A write
    // that stops short (disk full) is cut back to where the line began, so that the file holds
    // whole lines only and the next line does not continue a broken one.
    ssize_t written = -1;
    do
        written = ::write(fd, text.data(), text.size());
    while (written < 0 && errno == EINTR);
    const bool complete = written == static_cast<ssize_t>(text.size());
    if (!complete && written > 0) {
        struct stat status = {};
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= written && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
            (void)::ftruncate(fd, end - written);
    }
    ::close(fd);
    return complete ? kMsgNone : kMsgCannotOpenLog;
}

} // namespace

LocalDateTime currentLocalDateTime()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    localtime_r(&now, &parts);
    return LocalDateTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string logTimeText(const LocalDateTime &time)
{
    std::string text;
    text.reserve(20);
    appendNumber(text, time.month, 1);
    text += '/';
    appendNumber(text, time.day, 1);
    text += '/';
    // Two-digit year, zero-padded like strftime's %y: 2005 gives "05".
    const int yy = ((time.year % 100) + 100) % 100;
    appendNumber(text, yy, 2);
    text += ' ';
    appendNumber(text, time.hour, 1);
    text += ':';
    appendNumber(text, time.minute, 2);
    text += ':';
    appendNumber(text, time.second, 2);
    return text;
}

std::string_view nfReadingLabel(int reading)
{
    return reading >= 0 && reading < 4 ? kNfLabels[reading] : std::string_view();
}

std::string_view enrReadingLabel(int reading)
{
    return reading >= 0 && reading < 4 ? kEnrLabels[reading] : std::string_view();
}

std::string readingLineText(ReadingLineKind kind, std::string_view timeText, std::string_view label,
                            double readingDb, std::string_view resultLine)
{
    std::string line(kind == ReadingLineKind::Nf ? "NF," : "ENR,");
    line += timeText;
    line += ',';
    line += label;
    line += ',';
    // "%f": six decimals; -inf, nan and -nan spelt as glibc's printf spells them.
    line += formatFixed(readingDb, 6);
    line += ',';
    line += resultLine;
    line += '\n';
    return line;
}

std::string measureStateText(std::string_view timeText, bool noiseOn, bool dutIn)
{
    std::string state(timeText);
    state += noiseOn ? ",Noise On," : ",Noise Off,";
    state += dutIn ? "DUT in Circuit," : "DUT out of Circuit,";
    return state;
}

std::string measureLineText(std::string_view stateText, std::string_view resultLine)
{
    std::string line("Measure,");
    line += stateText;
    line += ' ';
    line += resultLine;
    line += '\n';
    return line;
}

std::string skyLineText(std::string_view timeText, std::string_view fields)
{
    std::string line("SKY,");
    line += timeText;
    line += ',';
    line += fields;
    line += '\n';
    return line;
}

MeasurementLog::MeasurementLog(LocalClock clock)
    : m_clock(clock ? std::move(clock) : LocalClock(currentLocalDateTime))
{
}

int MeasurementLog::appendNf(const std::string &path, std::string_view label, double readingDb,
                             std::string_view resultLine) const
{
    return appendReading(ReadingLineKind::Nf, path, label, readingDb, resultLine);
}

int MeasurementLog::appendEnr(const std::string &path, std::string_view label, double readingDb,
                              std::string_view resultLine) const
{
    return appendReading(ReadingLineKind::Enr, path, label, readingDb, resultLine);
}

int MeasurementLog::appendMeasure(const std::string &path, bool noiseOn, bool dutIn,
                                  std::string_view resultLine) const
{
    return appendLine(path, [&] {
        return measureLineText(measureStateText(logTimeText(m_clock()), noiseOn, dutIn),
                               resultLine);
    });
}

int MeasurementLog::appendSky(const std::string &path, std::string_view fields) const
{
    return appendLine(path, [&] { return skyLineText(logTimeText(m_clock()), fields); });
}

int MeasurementLog::appendReading(ReadingLineKind kind, const std::string &path,
                                  std::string_view label, double readingDb,
                                  std::string_view resultLine) const
{
    return appendLine(path, [&] {
        return readingLineText(kind, logTimeText(m_clock()), label, readingDb, resultLine);
    });
}

} // namespace quillon
