#include "measure/Report.h"

#include "core/Version.h"

#include "core/FileWriter.h"
#include "core/NumberText.h"
#include "measure/CorrectionSettings.h"
#include "measure/ResultUncertainty.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quillon {

namespace {

constexpr double kNaN = LimitRow::kNone;

} // namespace

std::string htmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\0': // HTML5 refuses a NUL character anywhere
            out += "\xEF\xBF\xBD";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string reportHtmlStart(const std::string &title)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           htmlEscaped(title) +
           "</title>\n<style>\n"
           "body{font-family:sans-serif;margin:2em;color:#111;max-width:80em}\n"
           "h1{font-size:1.5em}h2{font-size:1.15em;margin-top:1.5em;border-bottom:1px solid #999}\n"
           "table{border-collapse:collapse;margin:.5em 0}\n"
           "th,td{border:1px solid #bbb;padding:.2em .5em;text-align:left;vertical-align:top}\n"
           "td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n"
           "table.results{font-size:.9em}\n"
           ".pass{color:#1b7f3a}.fail{color:#b00020}.ind{color:#b36b00}.none{color:#555}\n"
           ".notes{white-space:pre-wrap}\n"
           "@media print{body{margin:0;max-width:none}h2{break-after:avoid}"
           "table,svg{break-inside:avoid}}\n"
           "</style>\n</head>\n<body>\n<h1>" +
           htmlEscaped(title) + "</h1>\n";
}

namespace {

std::string escaped(std::string_view text)
{
    return htmlEscaped(text);
}

// A shown number: `decimals` places, "-" where there is none.
std::string num(double v, int decimals)
{
    return std::isfinite(v) ? formatFixed(v, decimals) : std::string("-");
}

// The value and total standard uncertainty of each result as the sweep's lines and table
// print them: "NF 1.035 ± 0.059 dB, gain 19.758 ± 0.057 dB, Te 78.0 ± 5.0 K", a line each
// (on one line the column pushed the table past the page's width).
std::string standardUncertainties(const DeviceResults &res, const DeviceResultsUncertainty &u)
{
    std::string t = "NF " + num(res.noise.nf, 3) + " &plusmn; " + num(u.nf.total, 3) + " dB";
    if (!u.systemMode)
        t += ",<br>gain " + num(res.gainDb, 3) + " &plusmn; " + num(u.gainDb.total, 3) + " dB";
    return t + ",<br>Te " + num(res.noise.te, 1) + " &plusmn; " + num(u.te.total, 1) + " K";
}

// As the pages show them, the column's heading saying "95%": "± 0.052 dB statistical" over
// "± 0.11 dB total", two significant digits.
std::string halfWidth(const Uncertain &u, std::string_view unit)
{
    const std::string suffix = " (95%)";
    auto bare = [&](std::string text) {
        if (text.size() >= suffix.size() &&
            text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
            text.resize(text.size() - suffix.size());
        return escaped(text);
    };
    const HalfWidthTexts t = halfWidthTexts(u, unit);
    if (t.total.empty())
        return "-";
    return (t.statistical.empty() ? std::string() : bare(t.statistical) + " statistical<br>") +
           bare(t.total) + " total";
}

std::string verdictCell(Verdict v, const std::string &message)
{
    if (v == Verdict::None)
        return "<td class=\"none\">" + escaped(message.empty() ? "no limit" : message) + "</td>";
    const std::string word(verdictText(v));
    std::string cls = v == Verdict::Pass ? "pass" : v == Verdict::Fail ? "fail" : "ind";
    return "<td class=\"" + cls + "\"><strong>" + word + "</strong></td>";
}

QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

double numberOf(const QJsonValue &v)
{
    return v.isDouble() ? v.toDouble() : kNaN;
}

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// The JSON names of the loss places, by LossPlace.
constexpr std::array<const char *, kLossPlaceCount> kLossKeys{"input", "output", "calibration"};

// What recompute needs of a result's corrections: each loss as applied, the converter, the
// frequencies and the ENRs at its signal and image frequencies.
QJsonObject correctionsJson(const ChainCorrections &c)
{
    QJsonObject losses;
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const AppliedLoss &l = c.loss[static_cast<std::size_t>(k)];
        losses[QString::fromLatin1(kLossKeys[static_cast<std::size_t>(k)])] =
            QJsonObject{{"active", l.active},
                        {"db", l.db},
                        {"temperatureK", l.temperatureK},
                        {"standardUncertaintyDb", l.uncertaintyDb}};
    }
    const ConverterPlan &v = c.converter;
    return QJsonObject{
        {"losses", losses},
        {"converter", QJsonObject{{"on", v.on},
                                  {"loMHz", v.loMHz},
                                  {"sideband", QString::fromLatin1(sidebandName(v.sideband))},
                                  {"imageRejectionDb", v.imageRejectionDb},
                                  {"doubleSignalAbove", v.doubleSignalAbove},
                                  {"imageResponse", imageResponse(v)}}},
        {"inputMHz", jsonNumber(c.frequencies.inputMHz)},
        {"imageMHz", jsonNumber(c.frequencies.imageMHz)},
        {"outputMHz", jsonNumber(c.frequencies.outputMHz)},
        {"enrSignalDb", jsonNumber(c.enrSignalDb)},
        {"enrImageDb", jsonNumber(c.enrImageDb)}};
}

// Back from correctionsJson; a missing object reads as no corrections.
ChainCorrections correctionsFromJson(const QJsonObject &o)
{
    ChainCorrections c;
    const QJsonObject losses = o["losses"].toObject();
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const QJsonObject l =
            losses[QString::fromLatin1(kLossKeys[static_cast<std::size_t>(k)])].toObject();
        AppliedLoss &a = c.loss[static_cast<std::size_t>(k)];
        a.active = l["active"].toBool();
        a.db = l["db"].toDouble();
        a.temperatureK = l["temperatureK"].toDouble(290.0);
        a.uncertaintyDb = l["standardUncertaintyDb"].toDouble();
    }
    const QJsonObject v = o["converter"].toObject();
    c.converter.on = v["on"].toBool();
    c.converter.loMHz = v["loMHz"].toDouble();
    c.converter.sideband = sidebandFromName(v["sideband"].toString().toStdString());
    c.converter.imageRejectionDb = v["imageRejectionDb"].toDouble(100.0);
    c.converter.doubleSignalAbove = v["doubleSignalAbove"].toBool(true);
    c.frequencies = {numberOf(o["inputMHz"]), numberOf(o["imageMHz"]), numberOf(o["outputMHz"])};
    c.enrSignalDb = numberOf(o["enrSignalDb"]);
    c.enrImageDb = numberOf(o["enrImageDb"]);
    return c;
}

QJsonObject driftJson(const DriftTerm &d)
{
    QJsonArray bias, slope;
    for (std::size_t i = 0; i < d.bias.size(); ++i) {
        bias.append(d.bias[i]);
        slope.append(d.slope[i]);
    }
    return QJsonObject{{"bias", bias}, {"slopeSeconds", slope}, {"rateStandard", d.rateStandard}};
}

DriftTerm driftFromJson(const QJsonObject &o)
{
    DriftTerm d;
    const QJsonArray bias = o["bias"].toArray(), slope = o["slopeSeconds"].toArray();
    for (std::size_t i = 0; i < d.bias.size(); ++i) {
        d.bias[i] = bias.at(static_cast<qsizetype>(i)).toDouble();
        d.slope[i] = slope.at(static_cast<qsizetype>(i)).toDouble();
    }
    d.rateStandard = o["rateStandard"].toDouble();
    return d;
}

// "0.30 dB at 295.0 K, u 0.020 dB" or "-" for a loss not applied.
std::string lossCell(const AppliedLoss &l)
{
    if (!l.active)
        return "-";
    return formatFixed(l.db, 3) + " dB at " + formatFixed(l.temperatureK, 1) + " K" +
           (l.uncertaintyDb > 0 ? ", u " + formatFixed(l.uncertaintyDb, 3) + " dB" : "");
}

// One plot as inline SVG: the noise figure (and the gain) of each result against its x
// (frequency, else its number), 95% error bars, the limits as dashed lines, each point
// marked by its verdict's shape as well as its colour.
std::string svgPlot(const ReportData &d, bool gain)
{
    struct P
    {
        double x, y, h;
        Verdict v;
    };
    std::vector<P> points;
    bool byFrequency = true;
    for (const ReportResult &r : d.results)
        byFrequency = byFrequency && std::isfinite(r.frequencyMHz);
    for (std::size_t i = 0; i < d.results.size(); ++i) {
        const ReportResult &r = d.results[i];
        const double y = gain ? r.results.gainDb : r.results.noise.nf;
        const double h =
            gain ? r.uncertainty.gainDb.totalHalfWidth() : r.uncertainty.nf.totalHalfWidth();
        if (!r.results.complete || !std::isfinite(y))
            continue;
        points.push_back({byFrequency ? r.frequencyMHz : double(i + 1), y,
                          std::isfinite(h) ? h : 0.0, gain ? r.verdict.gain : r.verdict.nf});
    }
    if (points.empty())
        return {};
    double x0 = points.front().x, x1 = x0, y0 = points.front().y, y1 = y0;
    for (const P &p : points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y - p.h);
        y1 = std::max(y1, p.y + p.h);
    }
    // The limit lines: at each result's x, as limitsAt gives them.
    std::vector<std::pair<double, double>> lo, hi;
    for (const P &p : points) {
        const LimitsAt at = limitsAt(d.limits, byFrequency ? p.x : kNaN);
        const double upper = gain ? at.gainMaxDb : at.nfMaxDb;
        const double lower = gain ? at.gainMinDb : kNaN;
        if (std::isfinite(upper)) {
            hi.push_back({p.x, upper});
            y0 = std::min(y0, upper);
            y1 = std::max(y1, upper);
        }
        if (std::isfinite(lower)) {
            lo.push_back({p.x, lower});
            y0 = std::min(y0, lower);
            y1 = std::max(y1, lower);
        }
    }
    if (x1 == x0) {
        x0 -= 1.0;
        x1 += 1.0;
    }
    const double xPad = 0.05 * (x1 - x0); // no point on the frame
    x0 -= xPad;
    x1 += xPad;
    const double pad = std::max(0.1, 0.08 * (y1 - y0));
    y0 -= pad;
    y1 += pad;
    constexpr double W = 640, H = 260, L = 56, R = 16, T = 14, B = 40;
    auto sx = [&](double x) {
        return L + (x - x0) / (x1 - x0) * (W - L - R);
    };
    auto sy = [&](double y) {
        return T + (y1 - y) / (y1 - y0) * (H - T - B);
    };
    auto n = [](double v) {
        return formatFixed(v, 1);
    };
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"260\" "
                    "viewBox=\"0 0 640 260\" role=\"img\" aria-label=\"";
    s += gain ? "Gain (dB)" : "Noise Figure (dB)";
    s += "\"><rect x=\"" + n(L) + "\" y=\"" + n(T) + "\" width=\"" + n(W - L - R) + "\" height=\"" +
         n(H - T - B) + "\" fill=\"none\" stroke=\"#888\"/>";
    for (int i = 0; i <= 4; ++i) {
        const double y = y0 + (y1 - y0) * i / 4.0;
        s += "<text x=\"" + n(L - 4) + "\" y=\"" + n(sy(y) + 4) +
             "\" text-anchor=\"end\" font-size=\"11\">" + formatFixed(y, 2) + "</text>";
    }
    s += "<text x=\"" + n(L) + "\" y=\"" + n(H - 22) + "\" font-size=\"11\">" +
         formatFixed(x0, byFrequency ? 3 : 0) + "</text>";
    s += "<text x=\"" + n(W - R) + "\" y=\"" + n(H - 22) +
         "\" text-anchor=\"end\" "
         "font-size=\"11\">" +
         formatFixed(x1, byFrequency ? 3 : 0) + "</text>";
    s += "<text x=\"" + n((W + L) / 2) + "\" y=\"" + n(H - 6) +
         "\" text-anchor=\"middle\" font-size=\"12\">" +
         (byFrequency ? "Frequency (MHz)" : "Result") + "</text>";
    auto line = [&](const std::vector<std::pair<double, double>> &pts, const char *colour) {
        if (pts.empty())
            return;
        std::string path;
        for (const auto &[x, y] : pts)
            path += (path.empty() ? "" : " ") + n(sx(x)) + "," + n(sy(y));
        if (pts.size() == 1) // one result: a short line across its place
            path = n(sx(pts[0].first) - 30) + "," + n(sy(pts[0].second)) + " " +
                   n(sx(pts[0].first) + 30) + "," + n(sy(pts[0].second));
        s += "<polyline points=\"" + path + "\" fill=\"none\" stroke=\"" + colour +
             "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>";
    };
    line(hi, "#b00020");
    line(lo, "#b00020");
    for (const P &p : points) {
        const double x = sx(p.x), y = sy(p.y);
        s += "<line x1=\"" + n(x) + "\" y1=\"" + n(sy(p.y - p.h)) + "\" x2=\"" + n(x) + "\" y2=\"" +
             n(sy(p.y + p.h)) + "\" stroke=\"#333\"/>";
        const char *colour = p.v == Verdict::Pass   ? "#1b7f3a"
                             : p.v == Verdict::Fail ? "#b00020"
                             : p.v == Verdict::None ? "#333"
                                                    : "#b36b00";
        if (p.v == Verdict::Fail) // a cross
            s += "<path d=\"M" + n(x - 4) + " " + n(y - 4) + "L" + n(x + 4) + " " + n(y + 4) + "M" +
                 n(x - 4) + " " + n(y + 4) + "L" + n(x + 4) + " " + n(y - 4) + "\" stroke=\"" +
                 colour + "\" stroke-width=\"2\"/>";
        else if (p.v == Verdict::Indeterminate) // a diamond
            s += "<path d=\"M" + n(x) + " " + n(y - 5) + "L" + n(x + 5) + " " + n(y) + "L" + n(x) +
                 " " + n(y + 5) + "L" + n(x - 5) + " " + n(y) + "Z\" fill=\"" + colour + "\"/>";
        else
            s +=
                "<circle cx=\"" + n(x) + "\" cy=\"" + n(y) + "\" r=\"4\" fill=\"" + colour + "\"/>";
    }
    return s + "</svg>";
}

} // namespace

std::string quillonVersionText()
{
    return kVersion;
}

void fillReportResult(ReportResult &r, bool systemMode, double t0, double tsOff,
                      const Limits &limits)
{
    std::array<double, kDeviceReadingCount> power{};
    std::array<ReadingError, kDeviceReadingCount> error{};
    std::array<bool, kDeviceReadingCount> present{};
    for (std::size_t k = 0; k < r.readings.size(); ++k) {
        const ReportReading &x = r.readings[k];
        const std::size_t i = x.number >= 0 ? static_cast<std::size_t>(x.number) : k;
        if (i >= power.size())
            continue;
        power[i] = x.power;
        error[i] = readingError(x.statistics);
        present[i] = true;
    }
    const ChainCorrections applied = appliedCorrections(r.corrections, systemMode);
    r.results = correctDeviceResults(power, present, systemMode, r.enrDb, t0, tsOff, applied);
    r.uncertainty = correctedDeviceUncertainty(power, error, present, systemMode, r.enrDb, t0,
                                               tsOff, r.stated, applied, r.drift);
    const bool nfShown = r.results.complete && r.results.noise.valid;
    const bool gainShown = r.results.complete && !systemMode && r.results.gainValid;
    r.verdict = verdictFor(limits, r.frequencyMHz, nfShown ? r.results.noise.nf : kNaN,
                           r.uncertainty.nf.totalHalfWidth(), gainShown ? r.results.gainDb : kNaN,
                           r.uncertainty.gainDb.totalHalfWidth());
}

std::vector<EnrRow> enrRowsUsed(const EnrTable &table, double frequencyMHz)
{
    std::vector<EnrRow> used;
    const int n = table.count;
    if (n <= 0)
        return used;
    int i = 0;
    while (i < n && table.rows[static_cast<std::size_t>(i)].frequencyMHz < frequencyMHz)
        ++i;
    if (i > 0 && i < n && table.rows[static_cast<std::size_t>(i)].frequencyMHz != frequencyMHz)
        used.push_back(table.rows[static_cast<std::size_t>(i - 1)]);
    used.push_back(table.rows[static_cast<std::size_t>(std::min(i, n - 1))]);
    return used;
}

std::string reportHtml(const ReportData &d)
{
    std::string h;
    const std::string title = "Quillon report: " + (d.dut.name.empty() ? "device" : d.dut.name);
    h += reportHtmlStart(title);

    h += "<h2>Device under test</h2>\n<table>\n";
    h += "<tr><th>Name</th><td>" + escaped(d.dut.name) + "</td></tr>\n";
    h += "<tr><th>Serial</th><td>" + escaped(d.dut.serial) + "</td></tr>\n";
    h += "<tr><th>Notes</th><td class=\"notes\">" + escaped(d.dut.notes) + "</td></tr>\n";
    h += "</table>\n";

    h += "<h2>Measurement</h2>\n<table>\n";
    auto row = [&](const std::string &k, const std::string &v) {
        h += "<tr><th>" + escaped(k) + "</th><td>" + escaped(v) + "</td></tr>\n";
    };
    row("Page", d.page);
    row("Date and time", d.dateTime);
    row("Quillon version", d.version);
    row("Sound device", d.soundDevice);
    row("Format", d.format);
    row("Capture time (ms)", std::to_string(d.captureTimeMs));
    row("Dummy reads", std::to_string(d.dummyReads));
    row("Blocks averaged per reading", std::to_string(d.averageCount));
    row("1 kHz high-pass filter", d.highPass ? "on" : "off");
    row("Switch port", d.switchPort);
    if (!d.rig.empty())
        row("Receiver control", d.rig);
    if (!d.hamlibVersion.empty())
        row("Hamlib version", d.hamlibVersion);
    row("Mode", d.systemMode ? "system noise figure" : "DUT noise figure and gain");
    row("TSoff (K)", num(d.tsOff, 2));
    row("T0 (K)", num(d.t0, 2));
    h += "</table>\n";

    h += "<h2>Noise source</h2>\n";
    if (d.enrFromFile) {
        h += "<p>ENR interpolated from the calibration file " + escaped(d.enrFile) +
             "; the rows used:</p>\n<table>\n<tr><th>Frequency (MHz)</th><th>ENR (dB)</th>"
             "<th>Uncertainty (dB, 95%)</th></tr>\n";
        for (const EnrRow &r : d.enrRows)
            h += "<tr><td class=\"n\">" + num(r.frequencyMHz, 3) + "</td><td class=\"n\">" +
                 num(r.enrDb, 3) + "</td><td class=\"n\">" +
                 (r.uncertaintyDb > 0 ? num(r.uncertaintyDb, 3) : std::string("-")) +
                 "</td></tr>\n";
        h += "</table>\n";
    } else {
        h += "<p>ENR typed in (no calibration file).</p>\n";
    }

    h += "<h2>Corrections</h2>\n";
    if (d.corrections.empty()) {
        h += "<p>None: the results are those of the readings as taken.</p>\n";
    } else {
        h += "<ul>\n";
        for (const std::string &c : d.corrections)
            h += "<li>" + escaped(c) + "</li>\n";
        h += "</ul>\n";
    }
    bool anyCorrected = false;
    for (const ReportResult &r : d.results)
        anyCorrected = anyCorrected || appliedCorrections(r.corrections, d.systemMode).any();
    if (anyCorrected) {
        h += "<table>\n<tr><th>Result</th><th>Input loss</th><th>Output loss</th>"
             "<th>Calibration path loss</th><th>Image response</th><th>ENR at signal (dB)</th>"
             "<th>ENR at image (dB)</th></tr>\n";
        for (const ReportResult &r : d.results) {
            const ChainCorrections c = appliedCorrections(r.corrections, d.systemMode);
            h += "<tr><td>" + escaped(r.label) + "</td>";
            for (const AppliedLoss &l : c.loss)
                h += "<td class=\"n\">" + escaped(lossCell(l)) + "</td>";
            h += "<td class=\"n\">" +
                 (c.converter.on ? formatShortest(imageResponse(c.converter)) : std::string("-")) +
                 "</td><td class=\"n\">" + (c.converter.on ? num(c.enrSignalDb, 3) : "-") +
                 "</td><td class=\"n\">" + (c.converter.on ? num(c.enrImageDb, 3) : "-") +
                 "</td></tr>\n";
        }
        h += "</table>\n<p>Loss uncertainties are standard ones (k = 1); they enter the "
             "total.</p>\n";
    }

    h += "<h2>Limits</h2>\n";
    if (!d.limits.any()) {
        h += "<p>No limits set: no verdicts.</p>\n";
    } else {
        if (d.limits.table.empty()) {
            h += "<table>\n<tr><th>Noise figure maximum (dB)</th><td class=\"n\">" +
                 num(d.limits.nfMaxDb, 3) +
                 "</td></tr>\n<tr><th>Gain minimum (dB)</th>"
                 "<td class=\"n\">" +
                 num(d.limits.gainMinDb, 3) +
                 "</td></tr>\n<tr><th>Gain maximum (dB)</th><td class=\"n\">" +
                 num(d.limits.gainMaxDb, 3) + "</td></tr>\n</table>\n";
        } else {
            h += "<p>From the limit file " + escaped(d.limits.tableFile) +
                 ", interpolated between its rows:</p>\n<table>\n<tr><th>Frequency (MHz)</th>"
                 "<th>NF max (dB)</th><th>Gain min (dB)</th><th>Gain max (dB)</th></tr>\n";
            for (const LimitRow &r : d.limits.table)
                h += "<tr><td class=\"n\">" + num(r.frequencyMHz, 3) + "</td><td class=\"n\">" +
                     num(r.nfMaxDb, 3) + "</td><td class=\"n\">" + num(r.gainMinDb, 3) +
                     "</td><td class=\"n\">" + num(r.gainMaxDb, 3) + "</td></tr>\n";
            h += "</table>\n";
        }
        h += "<p>Decision rule: PASS when the whole 95% interval of a result meets the limit, "
             "FAIL when the whole interval misses it, INDETERMINATE when the interval holds "
             "the limit (a result exactly on the limit is INDETERMINATE).</p>\n";
    }

    h += "<h2>Results</h2>\n<table class=\"results\">\n<tr><th>Result</th><th>Frequency (MHz)</th>"
         "<th>ENR (dB)</th>";
    if (!d.systemMode)
        h += "<th>Gain (dB)</th><th>Gain 95%</th>";
    h += "<th>Noise Temp (K)</th><th>Noise Temp 95%</th><th>Noise Factor</th>"
         "<th>Noise Factor 95%</th><th>Noise Figure (dB)</th><th>Noise Figure "
         "95%</th><th>Standard uncertainties (total, 1&sigma;)</th><th>Verdict</th>"
         "<th>Warnings</th></tr>\n";
    VerdictCounts counts;
    for (const ReportResult &r : d.results) {
        counts.add(r.verdict.overall);
        const DeviceResults &res = r.results;
        const DeviceResultsUncertainty &u = r.uncertainty;
        const bool ok = res.complete && res.noise.valid;
        h += "<tr><td>" + escaped(r.label) + "</td><td class=\"n\">" + num(r.frequencyMHz, 3) +
             "</td><td class=\"n\">" + num(r.enrDb, 3) + "</td>";
        if (!d.systemMode)
            h += "<td class=\"n\">" + (res.complete ? num(res.gainDb, 3) : "-") +
                 "</td><td class=\"n\">" + (u.complete ? halfWidth(u.gainDb, "dB") : "-") + "</td>";
        h += "<td class=\"n\">" + (ok ? num(res.noise.te, 3) : "-") + "</td><td class=\"n\">" +
             (ok && u.complete ? halfWidth(u.te, "K") : "-") + "</td><td class=\"n\">" +
             (ok ? num(res.noise.f, 3) : "-") + "</td><td class=\"n\">" +
             (ok && u.complete ? halfWidth(u.f, "") : "-") + "</td><td class=\"n\">" +
             (ok ? num(res.noise.nf, 3) : "-") + "</td><td class=\"n\">" +
             (ok && u.complete ? halfWidth(u.nf, "dB") : "-") + "</td><td class=\"n\">" +
             (ok && u.complete ? standardUncertainties(res, u) : "-") + "</td>" +
             (d.limits.any() ? verdictCell(r.verdict.overall, r.verdict.message)
                             : std::string("<td class=\"none\">no limit</td>"));
        std::string w;
        for (const std::string &x : r.warnings)
            w += (w.empty() ? "" : "; ") + x;
        h += "<td>" + escaped(w) + "</td></tr>\n";
    }
    h += "</table>\n";
    if (d.limits.any())
        h += "<p>Summary: <strong>" + escaped(counts.summary()) + "</strong></p>\n";
    h += "<p>Statistical: from the readings' noise alone. Total: with the ENR's stated "
         "uncertainty and the off temperature's; the verdicts use the total.</p>\n";

    h += "<h2>Plots</h2>\n";
    h += "<figure>" + svgPlot(d, false) + "<figcaption>Noise Figure (dB), 95% error bars" +
         (d.limits.any() ? std::string(", limits dashed; circle PASS, diamond INDETERMINATE, "
                                       "cross FAIL")
                         : std::string()) +
         "</figcaption></figure>\n";
    if (!d.systemMode)
        h += "<figure>" + svgPlot(d, true) +
             "<figcaption>Gain (dB), 95% error bars</figcaption></figure>\n";

    h += "<h2>Readings</h2>\n<table>\n<tr><th>Result</th><th>Reading</th><th>Level (dB)</th>"
         "<th>Power (FS&sup2;)</th><th>Blocks</th><th>Rel. std. error</th>"
         "<th>Degrees of freedom</th><th>Kurtosis</th><th>Crest factor</th><th>Warnings</th>"
         "</tr>\n";
    for (const ReportResult &r : d.results)
        for (const ReportReading &x : r.readings) {
            std::string w;
            for (const std::string &t : x.warnings)
                w += (w.empty() ? "" : "; ") + t;
            char power[32];
            std::snprintf(power, sizeof power, "%.6e", x.power); // digits only: locale-free
            h += "<tr><td>" + escaped(r.label) + "</td><td>" + escaped(x.label) +
                 "</td><td class=\"n\">" + num(10.0 * std::log10(x.power), 3) +
                 "</td><td class=\"n\">" + (std::isfinite(x.power) ? power : "-") +
                 "</td><td class=\"n\">" + std::to_string(x.blocks) + "</td><td class=\"n\">" +
                 num(x.statistics.relativeStandardError, 5) + "</td><td class=\"n\">" +
                 num(x.statistics.degreesOfFreedom, 1) + "</td><td class=\"n\">" +
                 num(x.statistics.kurtosis, 3) + "</td><td class=\"n\">" +
                 num(x.statistics.crestFactor, 3) + "</td><td>" + escaped(w) + "</td></tr>\n";
        }
    h += "</table>\n<p>Every number here is recomputed from the JSON file beside this one by "
         "<code>quillon-cli recompute</code>.</p>\n</body>\n</html>\n";
    return h;
}

std::string reportJson(const ReportData &d)
{
    QJsonObject o;
    o["report"] = "quillon-report-1";
    o["page"] = qs(d.page);
    o["dut"] = QJsonObject{
        {"name", qs(d.dut.name)}, {"serial", qs(d.dut.serial)}, {"notes", qs(d.dut.notes)}};
    o["dateTime"] = qs(d.dateTime);
    o["version"] = qs(d.version);
    o["soundDevice"] = qs(d.soundDevice);
    o["format"] = qs(d.format);
    o["captureTimeMs"] = d.captureTimeMs;
    o["dummyReads"] = d.dummyReads;
    o["averageCount"] = d.averageCount;
    o["highPass"] = d.highPass;
    o["switchPort"] = qs(d.switchPort);
    o["rig"] = qs(d.rig);
    o["hamlibVersion"] = qs(d.hamlibVersion);
    o["systemMode"] = d.systemMode;
    o["tsOff"] = d.tsOff;
    o["t0"] = d.t0;
    QJsonObject enr{{"fromFile", d.enrFromFile}, {"file", qs(d.enrFile)}};
    QJsonArray enrRows;
    for (const EnrRow &r : d.enrRows)
        enrRows.append(QJsonObject{{"frequencyMHz", r.frequencyMHz},
                                   {"enrDb", r.enrDb},
                                   {"uncertaintyDb", r.uncertaintyDb}});
    enr["rowsUsed"] = enrRows;
    o["enr"] = enr;
    QJsonArray corrections;
    for (const std::string &c : d.corrections)
        corrections.append(qs(c));
    o["corrections"] = corrections;
    QJsonObject limits{{"nfMaxDb", jsonNumber(d.limits.nfMaxDb)},
                       {"gainMinDb", jsonNumber(d.limits.gainMinDb)},
                       {"gainMaxDb", jsonNumber(d.limits.gainMaxDb)},
                       {"file", qs(d.limits.tableFile)}};
    QJsonArray table;
    for (const LimitRow &r : d.limits.table)
        table.append(QJsonObject{{"frequencyMHz", r.frequencyMHz},
                                 {"nfMaxDb", jsonNumber(r.nfMaxDb)},
                                 {"gainMinDb", jsonNumber(r.gainMinDb)},
                                 {"gainMaxDb", jsonNumber(r.gainMaxDb)}});
    limits["table"] = table;
    o["limits"] = limits;
    QJsonArray results;
    for (const ReportResult &r : d.results) {
        QJsonObject j{{"label", qs(r.label)},
                      {"frequencyMHz", jsonNumber(r.frequencyMHz)},
                      {"enrDb", r.enrDb},
                      {"enrUncertaintyDb", r.stated.enrDb},
                      {"tsOffUncertaintyK", r.stated.offTemperatureK}};
        QJsonArray readings;
        for (const ReportReading &x : r.readings) {
            QJsonArray w;
            for (const std::string &t : x.warnings)
                w.append(qs(t));
            readings.append(QJsonObject{
                {"reading", x.number},
                {"label", qs(x.label)},
                {"power", x.power},
                {"blocks", x.blocks},
                {"relativeStandardError", jsonNumber(x.statistics.relativeStandardError)},
                {"degreesOfFreedom", jsonNumber(x.statistics.degreesOfFreedom)},
                {"kurtosis", jsonNumber(x.statistics.kurtosis)},
                {"crestFactor", jsonNumber(x.statistics.crestFactor)},
                {"warnings", w}});
        }
        j["readings"] = readings;
        QJsonArray w;
        for (const std::string &t : r.warnings)
            w.append(qs(t));
        j["warnings"] = w;
        j["corrections"] = correctionsJson(appliedCorrections(r.corrections, d.systemMode));
        j["drift"] = driftJson(r.drift);
        const DeviceResults &res = r.results;
        const DeviceResultsUncertainty &u = r.uncertainty;
        QJsonObject out{{"complete", res.complete},
                        {"noiseTemperatureK", jsonNumber(res.noise.te)},
                        {"noiseFactor", jsonNumber(res.noise.f)},
                        {"noiseFigureDb", jsonNumber(res.noise.nf)},
                        {"verdict", QString::fromLatin1(verdictText(r.verdict.overall))},
                        {"verdictMessage", qs(r.verdict.message)}};
        // Each result's 95% half-widths, total and statistical, as the HTML shows them.
        for (const auto &[name, unc] :
             {std::pair{"noiseTemperature", &u.te}, std::pair{"noiseFactor", &u.f},
              std::pair{"noiseFigure", &u.nf}}) {
            out[QString::fromLatin1(name) + "HalfWidth95"] = jsonNumber(unc->totalHalfWidth());
            out[QString::fromLatin1(name) + "StatisticalHalfWidth95"] =
                jsonNumber(unc->statisticalHalfWidth());
        }
        if (!d.systemMode) {
            out["gainDb"] = jsonNumber(res.gainDb);
            out["gainHalfWidth95"] = jsonNumber(u.gainDb.totalHalfWidth());
            out["gainStatisticalHalfWidth95"] = jsonNumber(u.gainDb.statisticalHalfWidth());
        }
        j["results"] = out;
        results.append(j);
    }
    o["results"] = results;
    return QJsonDocument(o).toJson(QJsonDocument::Indented).toStdString();
}

std::string reportJsonPath(const std::string &htmlPath)
{
    for (const std::string ext : {".html", ".htm"})
        if (htmlPath.size() > ext.size() &&
            htmlPath.compare(htmlPath.size() - ext.size(), ext.size(), ext) == 0)
            return htmlPath.substr(0, htmlPath.size() - ext.size()) + ".json";
    return htmlPath + ".json";
}

std::string writeReportFiles(const std::string &htmlPath, const std::string &html,
                             const std::string &json)
{
    // The message names the file the user chose, whichever of the two failed.
    auto failed = [&](const std::string &path, const FileWriteResult &r) {
        return "The report \"" + htmlPath + "\" could not be written: " + fileWriteReason(r, path) +
               ".";
    };
    const std::string jsonPath = reportJsonPath(htmlPath);
    // The JSON goes to a name of its own first and takes its place only once the HTML is
    // written: a failure leaves an earlier report of the same name as it was, both files.
    const std::string jsonPart = jsonPath + ".part";
    const FileWriteResult jsonWritten = writeFileReplacing(jsonPart, json);
    if (!jsonWritten.ok())
        return failed(jsonPart, jsonWritten);
    const FileWriteResult htmlWritten = writeFileReplacing(htmlPath, html);
    if (!htmlWritten.ok()) {
        std::remove(jsonPart.c_str());
        return failed(htmlPath, htmlWritten);
    }
    if (std::rename(jsonPart.c_str(), jsonPath.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(jsonPart.c_str());
        return "The report \"" + htmlPath + "\" could not be written: " + reason + ".";
    }
    return {};
}

std::string writeReport(const std::string &htmlPath, const ReportData &data)
{
    return writeReportFiles(htmlPath, reportHtml(data), reportJson(data));
}

RecomputeOutcome recomputeReport(const std::string &jsonText, double tolerance)
{
    RecomputeOutcome out;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(jsonText), &err);
    if (doc.isNull() || !doc.isObject()) {
        out.message = "not a JSON object: " + err.errorString().toStdString();
        return out;
    }
    const QJsonObject o = doc.object();
    if (!o["results"].isArray() || !o["t0"].isDouble() || !o["tsOff"].isDouble()) {
        out.message = "not a Quillon report: \"results\", \"t0\" or \"tsOff\" is missing";
        return out;
    }
    out.readable = true;
    const bool systemMode = o["systemMode"].toBool();
    const double t0 = o["t0"].toDouble(), tsOff = o["tsOff"].toDouble();
    Limits limits;
    const QJsonObject lim = o["limits"].toObject();
    limits.nfMaxDb = numberOf(lim["nfMaxDb"]);
    limits.gainMinDb = numberOf(lim["gainMinDb"]);
    limits.gainMaxDb = numberOf(lim["gainMaxDb"]);
    for (const QJsonValue &v : lim["table"].toArray()) {
        const QJsonObject r = v.toObject();
        limits.table.push_back({numberOf(r["frequencyMHz"]), numberOf(r["nfMaxDb"]),
                                numberOf(r["gainMinDb"]), numberOf(r["gainMaxDb"])});
    }
    // The ENR rows used: each result's ENR must be what they interpolate to.
    EnrTable enr;
    const QJsonObject enrObject = o["enr"].toObject();
    const bool fromFile = enrObject["fromFile"].toBool();
    for (const QJsonValue &v : enrObject["rowsUsed"].toArray()) {
        if (enr.count >= EnrTable::kMaxRows)
            break;
        const QJsonObject r = v.toObject();
        EnrRow &row = enr.rows[static_cast<std::size_t>(enr.count++)];
        row = {r["frequencyMHz"].toDouble(), r["enrDb"].toDouble(), r["uncertaintyDb"].toDouble()};
    }
    std::sort(enr.rows.begin(), enr.rows.begin() + enr.count,
              [](const EnrRow &a, const EnrRow &b) { return a.frequencyMHz < b.frequencyMHz; });

    for (const QJsonValue &v : o["results"].toArray()) {
        const QJsonObject j = v.toObject();
        ReportResult r;
        r.label = j["label"].toString().toStdString();
        r.frequencyMHz = numberOf(j["frequencyMHz"]);
        r.enrDb = j["enrDb"].toDouble();
        r.stated = {j["enrUncertaintyDb"].toDouble(), j["tsOffUncertaintyK"].toDouble()};
        r.corrections = correctionsFromJson(j["corrections"].toObject());
        r.drift = driftFromJson(j["drift"].toObject());
        for (const QJsonValue &x : j["readings"].toArray()) {
            const QJsonObject xo = x.toObject();
            ReportReading reading;
            reading.number = xo["reading"].toInt(-1);
            reading.power = xo["power"].toDouble();
            reading.statistics.relativeStandardError = numberOf(xo["relativeStandardError"]);
            reading.statistics.degreesOfFreedom = numberOf(xo["degreesOfFreedom"]);
            r.readings.push_back(reading);
        }
        fillReportResult(r, systemMode, t0, tsOff, limits);
        const QJsonObject stored = j["results"].toObject();
        auto compare = [&](const char *what, double storedValue, double recomputed) {
            ++out.compared;
            const bool bothMissing = !std::isfinite(storedValue) && !std::isfinite(recomputed);
            if (bothMissing || std::fabs(storedValue - recomputed) <= tolerance)
                return;
            out.mismatches.push_back(r.label + ": " + what + " " + formatShortest(storedValue) +
                                     " stored, " + formatShortest(recomputed) + " recomputed");
        };
        if (fromFile && std::isfinite(r.frequencyMHz))
            compare("ENR (dB)", r.enrDb, enrForEntry(r.frequencyMHz, true, enr));
        const DeviceResults &res = r.results;
        const DeviceResultsUncertainty &u = r.uncertainty;
        compare("noise temperature (K)", numberOf(stored["noiseTemperatureK"]), res.noise.te);
        compare("noise factor", numberOf(stored["noiseFactor"]), res.noise.f);
        compare("noise figure (dB)", numberOf(stored["noiseFigureDb"]), res.noise.nf);
        auto compareHalfWidths = [&](const char *what, const char *key, const Uncertain &x) {
            compare((std::string(what) + " 95%").c_str(),
                    numberOf(stored[QString::fromLatin1(key) + "HalfWidth95"]), x.totalHalfWidth());
            compare((std::string(what) + " statistical 95%").c_str(),
                    numberOf(stored[QString::fromLatin1(key) + "StatisticalHalfWidth95"]),
                    x.statisticalHalfWidth());
        };
        compareHalfWidths("noise temperature (K)", "noiseTemperature", u.te);
        compareHalfWidths("noise factor", "noiseFactor", u.f);
        compareHalfWidths("noise figure (dB)", "noiseFigure", u.nf);
        if (!systemMode) {
            compare("gain (dB)", numberOf(stored["gainDb"]), res.gainDb);
            compareHalfWidths("gain (dB)", "gain", u.gainDb);
        }
        ++out.compared;
        const std::string storedVerdict = stored["verdict"].toString().toStdString();
        if (storedVerdict != verdictText(r.verdict.overall))
            out.mismatches.push_back(r.label + ": verdict \"" + storedVerdict + "\" stored, \"" +
                                     std::string(verdictText(r.verdict.overall)) + "\" recomputed");
    }
    return out;
}

} // namespace quillon
