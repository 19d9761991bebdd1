#include "nf/EnrTable.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr int kEndOfData = -1;
constexpr int kReadFailed = -2;

// Bytes of an in-memory file.
class MemorySource
{
public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    int get()
    {
        if (m_pos >= m_bytes.size())
            return kEndOfData;
        return static_cast<unsigned char>(m_bytes[m_pos++]);
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// Bytes of an open file descriptor, read in blocks. A failed read() is sticky.
class FileSource
{
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    int get()
    {
        if (m_pos == m_end) {
            if (m_failed || m_atEnd)
                return m_failed ? kReadFailed : kEndOfData;
            ssize_t n;
            do {
                n = ::read(m_fd, m_block.data(), m_block.size());
            } while (n < 0 && errno == EINTR);
            if (n < 0) {
                m_failed = true;
                return kReadFailed;
            }
            if (n == 0) {
                m_atEnd = true;
                return kEndOfData;
            }
            m_pos = 0;
            m_end = static_cast<std::size_t>(n);
        }
        return m_block[m_pos++];
    }

private:
    int m_fd;
    std::array<unsigned char, 65536> m_block{};
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_failed = false;
    bool m_atEnd = false;
};

// The characters a text-mode read on Windows delivers: a CR directly followed by LF
// arrives as the LF alone; any other CR is an ordinary character. Calibration files are
// commonly written on Windows, and their lines must measure and split exactly as there.
template <class Source> class TextModeReader
{
public:
    explicit TextModeReader(Source &source) : m_source(source) {}
    int get()
    {
        int c;
        if (m_pending != kNone) {
            c = m_pending;
            m_pending = kNone;
        } else {
            c = m_source.get();
        }
        if (c != '\r')
            return c;
        const int next = m_source.get();
        if (next == '\n')
            return '\n';
        m_pending = next; // also keeps an end of data or a read failure for the next call
        return '\r';
    }

private:
    static constexpr int kNone = -100;
    Source &m_source;
    int m_pending = kNone;
};

// One line buffer of the reader: at most kLineChunk characters of a line are taken at
// once, the line end included, so that a line of kLineChunk characters or more is seen
// as too long.
constexpr std::size_t kLineChunk = kEnrMaxLineLength + 1; // 254

enum class LineRead
{
    Line,
    EndOfData,
    Failed
};

// Takes the next line, line end included, or the first kLineChunk characters of it.
template <class Reader>
LineRead readLine(Reader &reader, std::array<char, kLineChunk> &buffer, std::size_t &taken)
{
    taken = 0;
    while (taken < buffer.size()) {
        const int c = reader.get();
        if (c == kReadFailed)
            return LineRead::Failed;
        if (c == kEndOfData)
            break;
        buffer[taken++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return taken == 0 ? LineRead::EndOfData : LineRead::Line;
}

bool isSeparator(char c)
{
    return c == ',' || c == '\t' || c == ';' || c == '\n';
}

// The next token of `line` from `pos` on: runs of separators count as one, leading ones
// are skipped. Returns false when no token is left.
bool nextToken(std::string_view line, std::size_t &pos, std::string_view &token)
{
    while (pos < line.size() && isSeparator(line[pos]))
        ++pos;
    if (pos == line.size())
        return false;
    const std::size_t start = pos;
    while (pos < line.size() && !isSeparator(line[pos]))
        ++pos;
    token = line.substr(start, pos - start);
    return true;
}

// A plain decimal number, blanks around it allowed (spaces, and a stray CR before the line
// end).
bool isPlainDecimal(std::string_view t)
{
    const auto blank = [](char c) { return c == ' ' || c == '\r'; };
    while (!t.empty() && blank(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && blank(t.back()))
        t.remove_suffix(1);
    return isDecimalText(t);
}

bool isCommentMark(char c)
{
    return c == ';' || c == '#' || c == '/' || c == '\\';
}

template <class Source> int parseRows(Source &source, EnrTable &table)
{
    TextModeReader<Source> reader(source);
    std::array<char, kLineChunk> buffer{};
    int rowCount = 0;
    int lineNumber = 0;
    // The line being read fails the read: its number goes with the message.
    const auto fail = [&](int messageId) {
        table.failedLine = lineNumber;
        return messageId;
    };
    for (;;) {
        std::size_t taken = 0;
        const LineRead read = readLine(reader, buffer, taken);
        ++lineNumber;
        if (read == LineRead::Failed)
            return kMsgEnrReadError;
        if (read == LineRead::EndOfData)
            break;

        // Checked before anything else, comment lines included. The characters taken
        // count, not the text before a NUL: otherwise the rest of an overlong line with a
        // NUL in it would be read as a line of its own.
        if (taken > static_cast<std::size_t>(kEnrMaxLineLength))
            return fail(kMsgEnrLineTooLong);
        // The line's text ends at its first NUL; a line that begins with one reads as
        // empty and is passed over.
        std::string_view line(
            buffer.data(), std::find(buffer.data(), buffer.data() + taken, '\0') - buffer.data());
        // A line that begins with a NUL is no text at all (a file in UTF-16, a damaged one):
        // refused rather than passed over in silence.
        if (taken > 0 && buffer[0] == '\0' && !(taken == 1 || buffer[1] == '\n'))
            return fail(kMsgEnrNotANumber);
        // A UTF-8 byte-order mark (files saved by Windows' editors) is not text of the file.
        if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        if (line.empty())
            continue;
        // A line end alone, or a last line of one character without one.
        if (line.size() == 1)
            continue;
        if (isCommentMark(line[0]))
            continue;

        std::size_t pos = 0;
        std::string_view token;
        std::string_view frequencyText;
        if (!nextToken(line, pos, frequencyText))
            return fail(kMsgEnrMissingFrequency);
        // A line of one field is missing its ENR ("100 15.5": a space is no separator).
        if (!nextToken(line, pos, token))
            return fail(kMsgEnrMissingEnr);
        if (!isPlainDecimal(frequencyText))
            return fail(kMsgEnrNotANumber);
        const double frequencyMHz = parseDecimal(frequencyText);
        if (!(frequencyMHz >= 0.0 && frequencyMHz <= 30000.0))
            return fail(kMsgEnrFrequencyRange);
        if (!isPlainDecimal(token))
            return fail(kMsgEnrNotANumber);
        const double enrDb = parseDecimal(token);
        if (!(enrDb >= 0.0 && enrDb <= 50.0))
            return fail(kMsgEnrEnrRange);

        double uncertaintyDb = 0.0;
        if (nextToken(line, pos, token)) {
            const double u = parseDecimal(token);
            if (isPlainDecimal(token) && u > kEnrUncertaintyRefusedAboveDb)
                return fail(kMsgEnrUncertaintyRange);
            if (u > 0.0 && u <= kEnrMaxUncertaintyDb)
                uncertaintyDb = u;
        }

        table.rows[static_cast<std::size_t>(rowCount)] = {frequencyMHz, enrDb, uncertaintyDb};
        // The slot after the last row holds the terminator, so the row that fills the
        // last slot is one too many.
        if (++rowCount == EnrTable::kSlots)
            return fail(kMsgEnrTooManyRows);
    }

    table.rows[static_cast<std::size_t>(rowCount)] = {0.0, 0.0};
    if (rowCount == 0)
        return kMsgEnrNoData;
    // Stable, so that rows of equal frequency keep their file order and a lookup at that
    // frequency always gives the same ENR.
    std::stable_sort(
        table.rows.begin(), table.rows.begin() + rowCount,
        [](const EnrRow &a, const EnrRow &b) { return a.frequencyMHz < b.frequencyMHz; });
    table.count = rowCount;
    return kMsgNone;
}

template <class Source> int parseInto(Source &source, EnrTable &table)
{
    table.count = 0;
    table.failedLine = 0;
    const int result = parseRows(source, table);
    if (result != kMsgNone) {
        const std::int32_t line = table.failedLine;
        table = EnrTable{};
        table.failedLine = line;
    }
    return result;
}

// Closes a file descriptor when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

std::string enrReadMessage(int messageId, const EnrTable &table)
{
    std::string text = messageText(messageId);
    if (table.failedLine > 0)
        text += " (line " + std::to_string(table.failedLine) + ")";
    return text;
}

int parseEnrData(std::string_view bytes, EnrTable &table)
{
    MemorySource source(bytes);
    return parseInto(source, table);
}

int parseEnrFile(const std::string &path, EnrTable &table)
{
    table.count = 0;
    if (path.empty()) {
        table = EnrTable{};
        return kMsgEnrNoFile;
    }
    // A NUL inside the name would silently open a different, shorter path.
    if (path.find('\0') != std::string::npos) {
        table = EnrTable{};
        return kMsgEnrCannotOpen;
    }
    // Non-blocking, so that naming a FIFO cannot hang the window thread in open(); only
    // regular files are read at all (a folder, /dev/zero or a pipe would otherwise fail
    // late, never end, or block).
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {
    };
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        table = EnrTable{};
        return kMsgEnrCannotOpen;
    }
    FileSource source(file.get());
    return parseInto(source, table);
}

int parseEnrFile(const Settings &settings, EnrTable &table)
{
    return parseEnrFile(settings.enrCalibrationFile, table);
}

double enrForEntry(double value, bool useEnrFile, const EnrTable &table)
{
    if (!(value >= 0.0))
        value = 0.0;
    // The table is never empty while the file is in use; should it be, the entry is
    // taken as the ENR rather than reading rows that do not exist.
    const int count = std::clamp<int>(table.count, 0, EnrTable::kMaxRows);
    if (!useEnrFile || count == 0)
        return value;

    const auto &rows = table.rows;
    const EnrRow &first = rows[0];
    const EnrRow &last = rows[static_cast<std::size_t>(count - 1)];
    if (value <= first.frequencyMHz)
        return first.enrDb;
    if (value >= last.frequencyMHz)
        return last.enrDb;
    // first.frequencyMHz < value < last.frequencyMHz, so some row i >= 1 has
    // value <= F(i) and F(i-1) < value: the two rows never share a frequency.
    for (std::size_t i = 1; i < static_cast<std::size_t>(count); ++i) {
        const EnrRow &high = rows[i];
        if (value <= high.frequencyMHz) {
            if (value == high.frequencyMHz)
                return high.enrDb;
            const EnrRow &low = rows[i - 1];
            return low.enrDb + (value - low.frequencyMHz) / (high.frequencyMHz - low.frequencyMHz) *
                                   (high.enrDb - low.enrDb);
        }
    }
    return last.enrDb;
}

double enrForEntry(double value, const Settings &settings, const EnrTable &table)
{
    return enrForEntry(value, settings.useEnrFile, table);
}

double enrUncertaintyForEntry(double value, bool useEnrFile, const EnrTable &table)
{
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    if (!(value >= 0.0))
        value = 0.0;
    const int count = std::clamp<int>(table.count, 0, EnrTable::kMaxRows);
    if (!useEnrFile || count == 0)
        return kNone;
    auto given = [](const EnrRow &row) {
        return row.uncertaintyDb > 0.0 ? row.uncertaintyDb : kNone;
    };
    const auto &rows = table.rows;
    if (value <= rows[0].frequencyMHz)
        return given(rows[0]);
    const EnrRow &last = rows[static_cast<std::size_t>(count - 1)];
    if (value >= last.frequencyMHz)
        return given(last);
    for (std::size_t i = 1; i < static_cast<std::size_t>(count); ++i) {
        const EnrRow &high = rows[i];
        if (value > high.frequencyMHz)
            continue;
        if (value == high.frequencyMHz)
            return given(high);
        const EnrRow &low = rows[i - 1];
        const double a = given(low), b = given(high);
        if (std::isnan(a) || std::isnan(b))
            return std::isnan(a) ? b : a;
        return a + (value - low.frequencyMHz) / (high.frequencyMHz - low.frequencyMHz) * (b - a);
    }
    return given(last);
}

} // namespace quillon
