#include "measure/ReferenceTrace.h"

#include "core/NumberText.h"
#include "measure/SweepCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/stat.h>

namespace quillon {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A CSV field as a number: empty or not a number reads as none.
double fieldNumber(const std::string &text)
{
    return isDecimalText(text) ? parseDecimal(text) : kNaN;
}

double jsonNumber(const QJsonValue &v)
{
    return v.isDouble() ? v.toDouble() : kNaN;
}

void keep(std::vector<ReferencePoint> &points, const ReferencePoint &p)
{
    if (std::isfinite(p.frequencyMHz) && (std::isfinite(p.nfDb) || std::isfinite(p.gainDb)))
        points.push_back(p);
}

bool fromJson(const QJsonObject &o, std::vector<ReferencePoint> &points, std::string &why)
{
    if (o["points"].isArray()) { // quillon-cli sweep --json
        for (const QJsonValue &v : o["points"].toArray()) {
            const QJsonObject p = v.toObject();
            keep(points,
                 {jsonNumber(p["frequencyMHz"]), jsonNumber(p["nfDb"]), jsonNumber(p["gainDb"])});
        }
    } else if (o["results"].isArray() && o["report"].isString()) { // a report's JSON
        for (const QJsonValue &v : o["results"].toArray()) {
            const QJsonObject r = v.toObject();
            const QJsonObject res = r["results"].toObject();
            keep(points, {jsonNumber(r["frequencyMHz"]), jsonNumber(res["noiseFigureDb"]),
                          jsonNumber(res["gainDb"])});
        }
    } else {
        why = "a JSON file without \"points\" (quillon-cli sweep --json) or a report's "
              "\"results\"";
        return false;
    }
    return true;
}

bool fromCsv(std::string_view text, std::vector<ReferencePoint> &points, std::string &why)
{
    std::vector<std::vector<std::string>> records;
    if (!parseCsv(text, records) || records.empty()) {
        why = "neither a sweep's CSV nor its JSON";
        return false;
    }
    const std::vector<std::string> &head = records.front();
    auto column = [&head](std::string_view name) {
        const auto at = std::find(head.begin(), head.end(), name);
        return at == head.end() ? -1 : static_cast<int>(at - head.begin());
    };
    const int f = column("Frequency (MHz)"), nf = column("NF (dB)"), gain = column("Gain (dB)");
    if (f < 0 || (nf < 0 && gain < 0)) {
        why = "a CSV file without the columns \"Frequency (MHz)\" and \"NF (dB)\" or "
              "\"Gain (dB)\"";
        return false;
    }
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::string> &r = records[i];
        auto at = [&r](int c) {
            return c >= 0 && static_cast<std::size_t>(c) < r.size() ? fieldNumber(r[c]) : kNaN;
        };
        keep(points, {at(f), at(nf), at(gain)});
    }
    return true;
}

} // namespace

bool parseReferenceTrace(std::string_view text, std::vector<ReferencePoint> &points,
                         std::string &why)
{
    points.clear();
    const auto first = text.find_first_not_of(" \t\r\n");
    bool ok = false;
    if (first != std::string_view::npos && text[first] == '{') {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(
            QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
        if (doc.isObject()) {
            ok = fromJson(doc.object(), points, why);
        } else {
            why = "not JSON: " + error.errorString().toStdString();
        }
    } else {
        ok = fromCsv(text, points, why);
    }
    if (ok && points.empty()) {
        why = "no point with a frequency and a noise figure or gain";
        ok = false;
    }
    if (!ok) {
        points.clear();
        return false;
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const ReferencePoint &a, const ReferencePoint &b) {
                         return a.frequencyMHz < b.frequencyMHz;
                     });
    return true;
}

bool readReferenceTrace(const std::string &path, ReferenceTrace &trace, std::string &message)
{
    auto unreadable = [&](const std::string &reason) {
        message = "The reference file \"" + path + "\" could not be read: " + reason + ".";
        return false;
    };
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return unreadable(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return unreadable("it is not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return unreadable(std::strerror(errno));
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.bad())
        return unreadable("read error");
    std::vector<ReferencePoint> points;
    std::string why;
    if (!parseReferenceTrace(bytes, points, why)) {
        message = "The reference file \"" + path + "\" holds no sweep results: " + why + ".";
        return false;
    }
    trace.name = std::filesystem::path(path).filename().string();
    trace.points = std::move(points);
    return true;
}

} // namespace quillon
