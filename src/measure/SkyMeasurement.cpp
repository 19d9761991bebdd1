#include "measure/SkyMeasurement.h"

#include "core/NumberText.h"
#include "measure/ResultUncertainty.h"

#include <cmath>
#include <ctime>

namespace quillon {

namespace {

bool given(double v)
{
    return std::isfinite(v);
}

// A number of the log line: empty when unknown.
std::string field(double v, int decimals)
{
    return std::isfinite(v) ? formatFixed(v, decimals) : std::string();
}

std::string uncertainLine(std::string_view name, const Uncertain &u, int decimals,
                          std::string_view unit, std::string_view halfWidthUnit)
{
    std::string s(name);
    s += ": " + formatFixed(u.value, decimals);
    if (!unit.empty())
        s += " " + std::string(unit);
    const std::string hw = halfWidthText(u.totalHalfWidth(), halfWidthUnit);
    if (!hw.empty())
        s += " " + hw;
    return s;
}

} // namespace

std::string_view skyTargetName(SkyTarget target)
{
    switch (target) {
    case SkyTarget::Sun:
        return "Sun";
    case SkyTarget::Moon:
        return "Moon";
    case SkyTarget::Ground:
        return "Ground";
    }
    return {};
}

std::optional<SkyTarget> skyTargetFromName(std::string_view name)
{
    for (SkyTarget t : {SkyTarget::Sun, SkyTarget::Moon, SkyTarget::Ground}) {
        const std::string_view n = skyTargetName(t);
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return t;
    }
    return std::nullopt;
}

std::string utcText(double unixSeconds)
{
    const std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string checkSkySetup(const SkySetup &s)
{
    if (!(given(s.frequencyMHz) && s.frequencyMHz > 0.0))
        return "The frequency must be a number above 0 MHz.";
    if (s.target == SkyTarget::Sun) {
        const FluxAt f = fluxAt(s.flux, s.frequencyMHz);
        if (!f.ok())
            return f.error;
        if (!given(s.k)) {
            const SkyValue k = beamCorrection(0.5, s.beamDeg);
            if (!k.ok())
                return k.error;
        } else if (!(s.k >= 1.0)) {
            return "The beam-size correction K must be a number of 1 or more.";
        }
        if (!(given(s.fluxUncertaintyPercent) && s.fluxUncertaintyPercent >= 0.0))
            return "The flux uncertainty must be a number of 0 % or more.";
    }
    if (s.target == SkyTarget::Moon) {
        const SkyValue k = beamCorrection(0.5, s.beamDeg);
        if (!k.ok())
            return k.error;
        // The readings stand in: Y = 2 passes their checks, the inputs' remain.
        const MoonResult m =
            moonResult({2.0, 1.0, {}, {}}, {s.moonTemperatureK, s.skyTemperatureK, 0.5, s.beamDeg});
        if (!m.ok())
            return m.error;
    }
    if (s.target == SkyTarget::Ground) {
        const GroundResult g =
            groundResult({2.0, 1.0, {}, {}}, {s.groundTemperatureK, s.skyTemperatureK,
                                              s.groundUncertaintyK, s.skyUncertaintyK});
        if (!g.ok())
            return g.error;
    }
    return {};
}

SkyRecord evaluateSky(const SkySetup &s, const SkyReadingRecord &hot, const SkyReadingRecord &cold)
{
    SkyRecord r;
    r.target = s.target;
    r.unixSeconds = s.unixSeconds;
    r.utcText = utcText(s.unixSeconds);
    r.frequencyMHz = s.frequencyMHz;
    r.beamDeg = s.beamDeg;
    r.hot = hot;
    r.cold = cold;
    r.error = checkSkySetup(s);
    if (!r.ok())
        return r;

    // Distances (and so diameters) hardly depend on where on the Earth one stands: without a
    // station they are the geocentric ones, and there is no elevation.
    const SkyPositions where =
        skyPositions(s.station.value_or(Station{}), julianDayFromUnix(s.unixSeconds));
    const BodyPosition *body = s.target == SkyTarget::Sun    ? &where.sun
                               : s.target == SkyTarget::Moon ? &where.moon
                                                             : nullptr;
    if (body != nullptr) {
        r.sourceDiameterDeg = body->diameterDeg;
        if (s.station) {
            r.azimuthDeg = body->azimuthDeg;
            r.elevationDeg = body->elevationDeg;
        }
    }

    SkyReadings readings;
    readings.hotPower = hot.power;
    readings.coldPower = cold.power;
    readings.hotError = readingError(hot.statistics);
    readings.coldError = readingError(cold.statistics);

    switch (s.target) {
    case SkyTarget::Sun: {
        if (given(s.sunDiameterDeg))
            r.sourceDiameterDeg = s.sunDiameterDeg;
        const FluxAt f = fluxAt(s.flux, s.frequencyMHz);
        r.fluxSfu = f.fluxSfu;
        r.fluxSourceLowMHz = f.sourceLowMHz;
        r.fluxSourceHighMHz = f.sourceHighMHz;
        r.fluxUncertaintyPercent = s.fluxUncertaintyPercent;
        r.kTyped = given(s.k);
        r.k = r.kTyped ? s.k : beamCorrection(r.sourceDiameterDeg, s.beamDeg).value;
        r.sun = sunResult(readings,
                          {s.frequencyMHz, f.fluxSfu, s.fluxUncertaintyPercent, r.k, s.gainDbi});
        r.error = r.sun.error;
        break;
    }
    case SkyTarget::Moon:
        r.k = beamCorrection(r.sourceDiameterDeg, s.beamDeg).value;
        r.moon = moonResult(readings, {s.moonTemperatureK, s.skyTemperatureK, r.sourceDiameterDeg,
                                       s.beamDeg, s.tsysK});
        r.error = r.moon.error;
        break;
    case SkyTarget::Ground:
        r.ground = groundResult(readings, {s.groundTemperatureK, s.skyTemperatureK,
                                           s.groundUncertaintyK, s.skyUncertaintyK});
        r.error = r.ground.error;
        break;
    }
    return r;
}

std::vector<std::string> skyResultLines(const SkyRecord &r)
{
    std::vector<std::string> lines;
    if (!r.ok()) {
        lines.push_back(r.error);
        return lines;
    }
    switch (r.target) {
    case SkyTarget::Sun:
        lines.push_back(uncertainLine("Sun noise (Y)", r.sun.yDb, 2, "dB", "dB"));
        lines.push_back(uncertainLine("G/T", r.sun.gOverTDbK, 2, "dB/K", "dB"));
        if (given(r.sun.antennaRiseK.value)) {
            lines.push_back(
                uncertainLine("Antenna temperature rise", r.sun.antennaRiseK, 1, "K", "K"));
            lines.push_back(uncertainLine("Tsys", r.sun.tsysK, 1, "K", "K"));
        }
        break;
    case SkyTarget::Moon:
        lines.push_back(uncertainLine("Moon noise (Y)", r.moon.yDb, 2, "dB", "dB"));
        lines.push_back(
            "Expected antenna temperature rise: " + formatFixed(r.moon.expectedRiseK, 2) + " K");
        if (given(r.moon.expectedYDb))
            lines.push_back("Expected Moon noise (Y): " + formatFixed(r.moon.expectedYDb, 2) +
                            " dB");
        lines.push_back(uncertainLine("Tsys implied", r.moon.impliedTsysK, 1, "K", "K"));
        break;
    case SkyTarget::Ground:
        lines.push_back(uncertainLine("Ground over sky (Y)", r.ground.yDb, 2, "dB", "dB"));
        lines.push_back(uncertainLine("Tsys on cold sky", r.ground.tsysK, 1, "K", "K"));
        lines.push_back(uncertainLine("Receiver Te", r.ground.receiverTeK, 1, "K", "K"));
        break;
    }
    return lines;
}

std::vector<SkyReportRow> skyReportRows(const SkyRecord &r)
{
    const auto text = [](double v, int decimals, const char *unit) {
        return std::isfinite(v) ? formatFixed(v, decimals) + unit : std::string("-");
    };
    std::vector<SkyReportRow> rows{
        {"Measurement", std::string(skyTargetName(r.target))},
        {"UTC", r.utcText},
        {"Frequency", text(r.frequencyMHz, 6, " MHz")},
    };
    if (r.target == SkyTarget::Sun) {
        std::string source = "-";
        if (std::isfinite(r.fluxSourceLowMHz))
            source = r.fluxSourceLowMHz == r.fluxSourceHighMHz
                         ? formatShortest(r.fluxSourceLowMHz) + " MHz"
                         : formatShortest(r.fluxSourceLowMHz) + " and " +
                               formatShortest(r.fluxSourceHighMHz) + " MHz";
        rows.push_back({"Solar flux", text(r.fluxSfu, 2, " sfu")});
        rows.push_back({"Flux published at", source});
        rows.push_back({"Flux stated uncertainty", text(r.fluxUncertaintyPercent, 1, " % (95%)")});
    }
    rows.push_back({"Azimuth", text(r.azimuthDeg, 2, " deg")});
    rows.push_back({"Elevation", text(r.elevationDeg, 2, " deg")});
    rows.push_back({"Source diameter", text(r.sourceDiameterDeg, 4, " deg")});
    rows.push_back({"Beamwidth", text(r.beamDeg, 3, " deg")});
    rows.push_back({"K", text(r.k, 4, r.kTyped ? " (typed)" : "")});
    const auto reading = [&](const char *name, const SkyReadingRecord &x) {
        rows.push_back({name, text(x.power > 0.0 ? 10.0 * std::log10(x.power) : kSkyNaN, 3, " dB") +
                                  ", " + std::to_string(x.blocks) + " blocks, relative error " +
                                  text(100.0 * x.statistics.relativeStandardError, 3, " %")});
    };
    reading("On source", r.hot);
    reading("On cold sky", r.cold);
    for (const std::string &line : skyResultLines(r)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            rows.push_back({"Result", line});
        else
            rows.push_back({line.substr(0, colon), line.substr(colon + 2)});
    }
    return rows;
}

std::string skyLogFields(const SkyRecord &r)
{
    const auto db = [](double p) {
        return p > 0.0 ? 10.0 * std::log10(p) : kSkyNaN;
    };
    const auto hw = [](const Uncertain &u) {
        return u.totalHalfWidth();
    };
    std::string s(skyTargetName(r.target));
    s += ',' + r.utcText;
    s += ',' + field(r.frequencyMHz, 6);
    s += ',' + field(r.fluxSfu, 2);
    s += ',';
    if (given(r.fluxSourceLowMHz))
        s += r.fluxSourceLowMHz == r.fluxSourceHighMHz
                 ? formatShortest(r.fluxSourceLowMHz)
                 : formatShortest(r.fluxSourceLowMHz) + "-" + formatShortest(r.fluxSourceHighMHz);
    s += ',' + (r.target == SkyTarget::Sun ? field(r.fluxUncertaintyPercent, 1) : std::string());
    s += ',' + field(r.azimuthDeg, 2) + ',' + field(r.elevationDeg, 2);
    s += ',' + field(r.sourceDiameterDeg, 4) + ',' + field(r.beamDeg, 3) + ',' + field(r.k, 4);
    for (const SkyReadingRecord *reading : {&r.hot, &r.cold}) {
        s += ',' + field(db(reading->power), 6);
        s += ',' + field(reading->statistics.relativeStandardError, 6);
        s += ',' + std::to_string(reading->blocks);
    }
    if (!r.ok()) {
        s += ",,,,,,";
        return s;
    }
    const auto pair = [&](double value, double halfWidth, int decimals) {
        s += ',' + field(value, decimals) + ',' + field(halfWidth, decimals);
    };
    switch (r.target) {
    case SkyTarget::Sun:
        pair(r.sun.yDb.value, hw(r.sun.yDb), 4);
        pair(r.sun.gOverTDbK.value, hw(r.sun.gOverTDbK), 4);
        pair(r.sun.tsysK.value, hw(r.sun.tsysK), 2);
        break;
    case SkyTarget::Moon:
        pair(r.moon.yDb.value, hw(r.moon.yDb), 4);
        pair(r.moon.expectedYDb, kSkyNaN, 4);
        pair(r.moon.impliedTsysK.value, hw(r.moon.impliedTsysK), 2);
        break;
    case SkyTarget::Ground:
        pair(r.ground.yDb.value, hw(r.ground.yDb), 4);
        pair(r.ground.tsysK.value, hw(r.ground.tsysK), 2);
        pair(r.ground.receiverTeK.value, hw(r.ground.receiverTeK), 2);
        break;
    }
    return s;
}

} // namespace quillon
