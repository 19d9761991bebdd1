#include "measure/SweepCsv.h"

#include "core/FileWriter.h"
#include "core/NumberText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace quillon {

namespace {

void appendNumber(std::string &line, double v)
{
    if (std::isfinite(v))
        line += formatShortest(v);
}

} // namespace

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string sweepCsvRecord(const SweepRow &row, bool withCorrections)
{
    std::string line;
    for (double v : {row.frequencyMHz, row.enrDb, row.nfDb, row.gainDb, row.teK,
                     row.nfUncertaintyDb, row.gainUncertaintyDb, row.teUncertaintyK}) {
        appendNumber(line, v);
        line += ',';
    }
    line += csvField(row.warnings);
    if (withCorrections) {
        for (double v : {row.inputFrequencyMHz, row.inputLossDb, row.outputLossDb,
                         row.calibrationLossDb}) {
            line += ',';
            appendNumber(line, v);
        }
        line += ',' + csvField(row.correctedFor);
    }
    return line + "\r\n";
}

std::string sweepCsv(const std::vector<SweepRow> &rows)
{
    bool corrected = false;
    for (const SweepRow &row : rows)
        corrected = corrected || !row.correctedFor.empty();
    std::string text = std::string(kSweepCsvHeader) +
                       (corrected ? kSweepCsvCorrectionColumns : "") + "\r\n";
    for (const SweepRow &row : rows)
        text += sweepCsvRecord(row, corrected);
    return text;
}

bool parseCsv(std::string_view text, std::vector<std::vector<std::string>> &records)
{
    records.clear();
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;     // inside a quoted field
    bool afterQuote = false; // a quoted field just closed: only , or a line end may follow
    bool fieldStarted = false;
    const auto endRecord = [&] {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
        record.clear();
        field.clear();
        afterQuote = fieldStarted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
                afterQuote = true;
            }
            continue;
        }
        const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
        if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
            afterQuote = fieldStarted = false;
        } else if (lineEnd) {
            if (c == '\r')
                ++i;
            endRecord();
        } else if (afterQuote) {
            records.clear();
            return false;
        } else if (c == '"') {
            if (fieldStarted) {
                records.clear();
                return false;
            }
            quoted = fieldStarted = true;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        records.clear();
        return false;
    }
    // A last record without its line end.
    if (!record.empty() || fieldStarted || afterQuote)
        endRecord();
    return true;
}

std::string writeSweepCsv(const std::string &path, const std::vector<SweepRow> &rows)
{
    const std::string text = sweepCsv(rows);
    std::string reason;
    if (path == "-") {
        std::fflush(stdout); // what was printed before comes first
        if (writeAll(STDOUT_FILENO, text))
            return {};
        reason = std::strerror(errno);
    } else {
        const FileWriteResult written = writeFileReplacing(path, text);
        if (written.ok())
            return {};
        reason = fileWriteReason(written, path);
    }
    return "The CSV file \"" + path + "\" could not be written: " + reason + ".";
}

} // namespace quillon
