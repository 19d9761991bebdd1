#include "measure/SkyReport.h"

#include "core/NumberText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cmath>

namespace quillon {

namespace {

QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

QJsonObject uncertainJson(const Uncertain &u)
{
    return QJsonObject{{"value", jsonNumber(u.value)},
                       {"standardUncertainty", jsonNumber(u.total)},
                       {"statisticalStandardUncertainty", jsonNumber(u.statistical)},
                       {"halfWidth95", jsonNumber(u.totalHalfWidth())},
                       {"statisticalHalfWidth95", jsonNumber(u.statisticalHalfWidth())}};
}

QJsonObject readingJson(const SkyReadingRecord &r)
{
    return QJsonObject{
        {"power", jsonNumber(r.power)},
        {"levelDb", jsonNumber(r.power > 0.0 ? 10.0 * std::log10(r.power) : kSkyNaN)},
        {"blocks", r.blocks},
        {"relativeStandardError", jsonNumber(r.statistics.relativeStandardError)},
        {"degreesOfFreedom", jsonNumber(r.statistics.degreesOfFreedom)},
        {"kurtosis", jsonNumber(r.statistics.kurtosis)},
        {"crestFactor", jsonNumber(r.statistics.crestFactor)}};
}

QJsonObject recordJson(const SkyRecord &r)
{
    QJsonObject j{{"target", QString::fromLatin1(skyTargetName(r.target).data(),
                                                 static_cast<int>(skyTargetName(r.target).size()))},
                  {"utc", qs(r.utcText)},
                  {"frequencyMHz", jsonNumber(r.frequencyMHz)},
                  {"fluxSfu", jsonNumber(r.fluxSfu)},
                  {"fluxSourceLowMHz", jsonNumber(r.fluxSourceLowMHz)},
                  {"fluxSourceHighMHz", jsonNumber(r.fluxSourceHighMHz)},
                  {"fluxUncertaintyPercent", jsonNumber(r.fluxUncertaintyPercent)},
                  {"azimuthDeg", jsonNumber(r.azimuthDeg)},
                  {"elevationDeg", jsonNumber(r.elevationDeg)},
                  {"sourceDiameterDeg", jsonNumber(r.sourceDiameterDeg)},
                  {"beamwidthDeg", jsonNumber(r.beamDeg)},
                  {"k", jsonNumber(r.k)},
                  {"kTyped", r.kTyped},
                  {"onSource", readingJson(r.hot)},
                  {"coldSky", readingJson(r.cold)}};
    if (!r.ok()) {
        j["error"] = qs(r.error);
        return j;
    }
    QJsonObject results;
    switch (r.target) {
    case SkyTarget::Sun:
        results["yDb"] = uncertainJson(r.sun.yDb);
        results["gOverTDbK"] = uncertainJson(r.sun.gOverTDbK);
        results["antennaRiseK"] = uncertainJson(r.sun.antennaRiseK);
        results["tsysK"] = uncertainJson(r.sun.tsysK);
        break;
    case SkyTarget::Moon:
        results["yDb"] = uncertainJson(r.moon.yDb);
        results["expectedRiseK"] = jsonNumber(r.moon.expectedRiseK);
        results["expectedYDb"] = jsonNumber(r.moon.expectedYDb);
        results["impliedTsysK"] = uncertainJson(r.moon.impliedTsysK);
        break;
    case SkyTarget::Ground:
        results["yDb"] = uncertainJson(r.ground.yDb);
        results["tsysK"] = uncertainJson(r.ground.tsysK);
        results["receiverTeK"] = uncertainJson(r.ground.receiverTeK);
        break;
    }
    j["results"] = results;
    return j;
}

const char *headingOf(SkyTarget target)
{
    switch (target) {
    case SkyTarget::Sun:
        return "The Sun";
    case SkyTarget::Moon:
        return "The Moon";
    case SkyTarget::Ground:
        return "Cold sky and ground";
    }
    return "";
}

std::string precisionText(const std::optional<PrecisionTarget> &p)
{
    if (!p)
        return "off";
    return "Y within " + formatShortest(p->halfWidthDb) + " dB (95%, statistical), at most " +
           formatShortest(p->maxSeconds) + " s per reading";
}

} // namespace

std::string skyReportHtml(const SkyReportData &d)
{
    std::string h = reportHtmlStart("Quillon report: Antenna and Sky");
    auto row = [&](const std::string &k, const std::string &v) {
        h += "<tr><th>" + htmlEscaped(k) + "</th><td>" + htmlEscaped(v) + "</td></tr>\n";
    };
    h += "<h2>Measurement</h2>\n<table>\n";
    row("Page", "Antenna and Sky");
    row("Date and time", d.dateTime);
    row("Quillon version", d.version);
    row("Station", d.station.empty() ? std::string("-") : d.station);
    row("Sound device", d.soundDevice);
    row("Format", d.format);
    row("Capture time (ms)", std::to_string(d.captureTimeMs));
    row("Dummy reads", std::to_string(d.dummyReads));
    row("Blocks averaged per reading",
        d.precision ? std::string("to a precision") : std::to_string(d.averageCount));
    row("Averaging to a precision", precisionText(d.precision));
    row("1 kHz high-pass filter", d.highPass ? "on" : "off");
    h += "</table>\n";
    if (d.records.empty())
        h += "<p>No measurement has been taken.</p>\n";
    for (const SkyRecord &r : d.records) {
        h += "<h2>" + std::string(headingOf(r.target)) + "</h2>\n";
        if (!r.ok())
            h += "<p class=\"fail\">" + htmlEscaped(r.error) + "</p>\n";
        h += "<table>\n";
        for (const SkyReportRow &x : skyReportRows(r))
            row(x.name, x.text);
        h += "</table>\n";
    }
    h += "<p>Half-widths are 95% intervals: the statistical part from the readings, the total "
         "with the stated uncertainties of the flux and the temperatures. The JSON file beside "
         "this one holds the same numbers.</p>\n</body>\n</html>\n";
    return h;
}

std::string skyReportJson(const SkyReportData &d)
{
    QJsonObject o{{"report", "quillon-sky-report-1"},
                  {"page", "Antenna and Sky"},
                  {"dateTime", qs(d.dateTime)},
                  {"version", qs(d.version)},
                  {"station", qs(d.station)},
                  {"soundDevice", qs(d.soundDevice)},
                  {"format", qs(d.format)},
                  {"captureTimeMs", d.captureTimeMs},
                  {"dummyReads", d.dummyReads},
                  {"averageCount", d.averageCount},
                  {"highPass", d.highPass}};
    o["precision"] = d.precision ? QJsonValue(QJsonObject{{"halfWidthDb", d.precision->halfWidthDb},
                                                          {"maxSeconds", d.precision->maxSeconds}})
                                 : QJsonValue(QJsonValue::Null);
    QJsonArray records;
    for (const SkyRecord &r : d.records)
        records.append(recordJson(r));
    o["measurements"] = records;
    return QJsonDocument(o).toJson(QJsonDocument::Indented).toStdString();
}

std::string writeSkyReport(const std::string &htmlPath, const SkyReportData &data)
{
    return writeReportFiles(htmlPath, skyReportHtml(data), skyReportJson(data));
}

} // namespace quillon
