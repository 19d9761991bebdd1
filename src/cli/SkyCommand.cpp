// quillon-cli sky sun|moon|ground: the Antenna and Sky page's measurements without a window.
// Two readings through the series runner (on the source, then on cold sky), evaluated and
// recorded with their time, flux, position, beam and statistics.

#include "capture/DeviceList.h"
#include "capture/WaveFormat.h"
#include "cli/CaptureOptions.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/LimitOptions.h"
#include "core/Messages.h"
#include "core/NumberText.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/SeriesRunner.h"
#include "measure/SkyMeasurement.h"
#include "measure/SkyReport.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

namespace quillon::cli {

namespace {

// No switch port: the user points the antenna (the bench's sky mode stands in for it
// through the bench's own outputs). --precision bounds Y.
constexpr CaptureOptionSet kSkyOptions{false, true, EnrLookup::AtEachPoint, false};

// "2026-12-07T04:31:06Z" (the Z optional, a blank for the T allowed), or seconds since 1970.
double parseUtc(const std::string &text)
{
    if (isDecimalText(text))
        return parseDecimal(text);
    std::tm tm{};
    char sep = 0;
    char rest[8] = {};
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%7s", &tm.tm_year, &tm.tm_mon,
                              &tm.tm_mday, &sep, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, rest);
    const bool zone = n == 7 || (n == 8 && std::string(rest) == "Z");
    if (!zone || (sep != 'T' && sep != ' ') || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 ||
        tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        throw CliError("--utc must be a UTC time as 2026-12-07T04:31:06Z, or seconds since 1970");
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<double>(timegm(&tm));
}

// On the bench the defaults are the bench's own: its frequency, and for the ground its cold
// sky and that plus its step (the "ground" it offers).
SkySetup parseSkySetup(const Options &o, SkyTarget target, const BenchParameters &bench,
                       bool onBench)
{
    const double benchFrequencyMHz = bench.frequencyMHz;
    SkySetup s;
    s.target = target;
    s.unixSeconds =
        o.has("utc") ? parseUtc(*o.text("utc")) : static_cast<double>(std::time(nullptr));
    s.frequencyMHz = o.number("freq").value_or(onBench ? benchFrequencyMHz : kSkyNaN);
    if (o.has("locator") && (o.has("lat") || o.has("lon")))
        throw CliError("give --locator or --lat and --lon, not both");
    if (const auto loc = o.text("locator")) {
        const LocatorResult r = parseLocator(*loc);
        if (!r.ok())
            throw CliError(r.error);
        s.station = r.station;
    } else if (o.has("lat") || o.has("lon")) {
        if (!o.has("lat") || !o.has("lon"))
            throw CliError("--lat and --lon go together");
        const LocatorResult r = stationFromDegrees(*o.number("lat"), *o.number("lon"));
        if (!r.ok())
            throw CliError(r.error);
        s.station = r.station;
    }
    s.beamDeg = o.number("beamwidth").value_or(kSkyNaN);
    if (o.has("flux") && o.has("flux-table"))
        throw CliError("give --flux or --flux-table, not both");
    if (const auto flux = o.number("flux"))
        s.flux = {{s.frequencyMHz, *flux}};
    if (const auto table = o.text("flux-table")) {
        const FluxAt r = parseFluxTable(*table, s.flux);
        if (!r.ok())
            throw CliError(r.error);
    }
    s.fluxUncertaintyPercent = o.number("flux-uncertainty").value_or(0.0);
    s.k = o.number("k").value_or(kSkyNaN);
    s.sunDiameterDeg = o.number("sun-diameter").value_or(kSkyNaN);
    s.gainDbi = o.number("gain").value_or(kSkyNaN);
    s.moonTemperatureK = o.number("moon-temperature").value_or(kDefaultMoonTemperatureK);
    s.tsysK = o.number("tsys").value_or(kSkyNaN);
    s.skyTemperatureK = o.number("sky-temperature")
                            .value_or(onBench ? bench.skyColdK : kDefaultColdSkyTemperatureK);
    s.groundTemperatureK =
        o.number("ground-temperature")
            .value_or(onBench ? bench.skyColdK + bench.skyStepK : kDefaultGroundTemperatureK);
    s.skyUncertaintyK = o.number("sky-uncertainty").value_or(0.0);
    s.groundUncertaintyK = o.number("ground-uncertainty").value_or(0.0);
    if (target == SkyTarget::Sun && s.flux.empty())
        throw CliError("sky sun needs the solar flux: --flux SFU or --flux-table \"MHZ:SFU, ...\"");
    const std::string problem = checkSkySetup(s);
    if (!problem.empty())
        throw CliError(problem);
    return s;
}

// Where the user points the antenna for reading 0 (the source) and 1 (cold sky).
std::string pointPrompt(SkyTarget target, int reading)
{
    if (reading == 1)
        return "Point the antenna at cold sky, then press Enter: ";
    switch (target) {
    case SkyTarget::Sun:
        return "Point the antenna at the Sun, then press Enter: ";
    case SkyTarget::Moon:
        return "Point the antenna at the Moon, then press Enter: ";
    case SkyTarget::Ground:
        break;
    }
    return "Point the antenna at the ground, then press Enter: ";
}

bool answered()
{
    for (;;) {
        if (stopSignal() != 0)
            return false;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0)
            continue;
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
    }
}

class SkyListener : public SeriesListener
{
public:
    SkyListener(SkyTarget target, bool prompt) : m_target(target), m_prompt(prompt) {}
    bool beforeReading(int reading, std::string_view) override
    {
        if (stopSignal() != 0)
            return false;
        if (!m_prompt)
            return true;
        std::fputs(pointPrompt(m_target, reading).c_str(), stderr);
        return answered();
    }
    bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice) override
    {
        reading.waitFinished(slice);
        return stopSignal() == 0;
    }
    void readingDone(const SeriesReadingReport &r) override
    {
        SkyReadingRecord &into = r.reading == 0 ? hot : cold;
        into.power = r.power;
        into.blocks = r.blocks;
        into.statistics = r.statistics;
        warnings[r.reading == 0 ? 0 : 1] = r.warnings;
    }
    SkyReadingRecord hot, cold;
    ReadingWarnings warnings[2];

private:
    SkyTarget m_target;
    bool m_prompt;
};

void uncertainJson(Json &j, std::string_view name, const Uncertain &u)
{
    j.key(name).beginObject();
    j.key("value").value(u.value);
    j.key("standardUncertainty").value(u.total);
    j.key("statisticalStandardUncertainty").value(u.statistical);
    j.key("halfWidth95").value(u.totalHalfWidth());
    j.endObject();
}

void readingJson(Json &j, std::string_view name, const SkyReadingRecord &r)
{
    j.key(name).beginObject();
    j.key("power").value(r.power);
    j.key("levelDb").value(r.power > 0.0 ? 10.0 * std::log10(r.power) : kSkyNaN);
    j.key("blocks").value(r.blocks);
    j.key("relativeStandardError").value(r.statistics.relativeStandardError);
    j.key("degreesOfFreedom").value(r.statistics.degreesOfFreedom);
    j.endObject();
}

std::string recordJson(const SkyRecord &r, const std::optional<double> &benchGOverT,
                       const std::optional<double> &benchTsys, double benchYDb)
{
    Json j;
    j.beginObject();
    j.key("target").value(skyTargetName(r.target));
    j.key("utc").value(r.utcText);
    j.key("frequencyMHz").value(r.frequencyMHz);
    j.key("fluxSfu").value(r.fluxSfu);
    j.key("fluxSourceLowMHz").value(r.fluxSourceLowMHz);
    j.key("fluxSourceHighMHz").value(r.fluxSourceHighMHz);
    j.key("fluxUncertaintyPercent").value(r.fluxUncertaintyPercent);
    j.key("azimuthDeg").value(r.azimuthDeg);
    j.key("elevationDeg").value(r.elevationDeg);
    j.key("sourceDiameterDeg").value(r.sourceDiameterDeg);
    j.key("beamwidthDeg").value(r.beamDeg);
    j.key("k").value(r.k);
    j.key("kTyped").value(r.kTyped);
    readingJson(j, "onSource", r.hot);
    readingJson(j, "coldSky", r.cold);
    if (!r.ok())
        j.key("error").value(r.error);
    else
        switch (r.target) {
        case SkyTarget::Sun:
            uncertainJson(j, "yDb", r.sun.yDb);
            uncertainJson(j, "gOverTDbK", r.sun.gOverTDbK);
            uncertainJson(j, "antennaRiseK", r.sun.antennaRiseK);
            uncertainJson(j, "tsysK", r.sun.tsysK);
            break;
        case SkyTarget::Moon:
            uncertainJson(j, "yDb", r.moon.yDb);
            j.key("expectedRiseK").value(r.moon.expectedRiseK);
            j.key("expectedYDb").value(r.moon.expectedYDb);
            uncertainJson(j, "impliedTsysK", r.moon.impliedTsysK);
            break;
        case SkyTarget::Ground:
            uncertainJson(j, "yDb", r.ground.yDb);
            uncertainJson(j, "tsysK", r.ground.tsysK);
            uncertainJson(j, "receiverTeK", r.ground.receiverTeK);
            break;
        }
    if (std::isfinite(benchYDb)) {
        j.key("benchTruth").beginObject();
        j.key("yDb").value(benchYDb);
        if (benchGOverT)
            j.key("gOverTDbK").value(*benchGOverT);
        if (benchTsys)
            j.key("tsysK").value(*benchTsys);
        j.endObject();
    }
    j.endObject();
    return j.text();
}

} // namespace

int runSky(const std::vector<std::string> &args)
{
    std::vector<std::string_view> valued{"freq",
                                         "utc",
                                         "locator",
                                         "lat",
                                         "lon",
                                         "beamwidth",
                                         "flux",
                                         "flux-table",
                                         "flux-uncertainty",
                                         "k",
                                         "sun-diameter",
                                         "gain",
                                         "moon-temperature",
                                         "tsys",
                                         "sky-temperature",
                                         "ground-temperature",
                                         "sky-uncertainty",
                                         "ground-uncertainty",
                                         "report"};
    std::vector<std::string_view> flags{"json"};
    addCaptureOptionNames(kSkyOptions, valued, flags);
    const Options o("sky", args, valued, flags);
    if (o.flag("help"))
        return printHelp("sky");
    if (o.positional().size() != 1)
        throw CliError("sky needs one of sun, moon or ground");
    const auto target = skyTargetFromName(o.positional().front());
    if (!target)
        throw CliError("sky needs one of sun, moon or ground, not '" + o.positional().front() +
                       "'");

    catchStopSignals();
    CommandEngine command(o);
    QuillonEngine &engine = command.engine;
    const CaptureRequest capture = parseCaptureOptions(o, kSkyOptions, engine);
    const SkySetup setup =
        parseSkySetup(o, *target, sanitized(engine.bench().parameters()), capture.onBench);
    const std::optional<std::string> reportFile = reportFileOption(o);
    applyCaptureRequest(capture, engine);
    if (capture.onBench) {
        // The bench's noise-source output stands for the antenna on the source.
        BenchParameters p = engine.bench().parameters();
        p.skyMode = true;
        engine.bench().setParameters(p);
    }

    SeriesPlan plan;
    plan.conditions.kind = SeriesKind::Sky;
    plan.button = 0;
    plan.noiseGen = true; // both readings: the bench, or the prompt, points between them
    plan.driveSwitches = capture.onBench;
    plan.reading = capture.plan;
    if (capture.plan.precision)
        plan.precision = capture.plan.precision->target;
    SeriesRunner runner(engine, engine.settings(), engine.resultLine());
    SeriesReadings readings(SeriesKind::Sky);
    SkyListener listener(*target, !capture.onBench);
    const SeriesOutcome outcome = runner.run(plan, readings, listener);
    if (outcome.end == SeriesEnd::Failed)
        throw CliError(messageText(outcome.messageId != kMsgNone ? outcome.messageId
                                                                 : kMsgCannotOpenWaveDevice),
                       kExitFailed);
    if (outcome.end == SeriesEnd::Cancelled) {
        printError("measurement cancelled");
        return stopSignal() != 0 ? stopStatus() : kExitFailed;
    }

    const SkyRecord record = evaluateSky(setup, listener.hot, listener.cold);
    const Settings &s = engine.settings();
    if (s.logMeasurements &&
        engine.log().appendSky(s.logResultsFile, skyLogFields(record)) != kMsgNone)
        throw CliError(messageText(kMsgCannotOpenLog), kExitFailed);
    std::string reportFailed;
    if (reportFile) {
        SkyReportData d;
        d.dateTime = reportDateTime();
        if (const auto locator = o.text("locator"))
            d.station = *locator;
        else if (setup.station)
            d.station = "latitude " + *o.text("lat") + ", longitude " + *o.text("lon");
        DeviceCaps caps;
        engine.devices().deviceCaps(capture.device, caps);
        d.soundDevice = caps.productName.empty() && capture.onBench ? "Quillon virtual bench"
                                                                    : caps.productName;
        d.format = WaveFormatTable[static_cast<std::size_t>(capture.formatRow)].label;
        d.captureTimeMs = static_cast<int>(capture.captureTimeMs);
        d.dummyReads = capture.plan.dummyReads;
        d.averageCount = ModalReading::countedBlocks(capture.plan);
        d.highPass = capture.highPass;
        d.precision = plan.precision;
        d.records = {record};
        reportFailed = writeSkyReport(*reportFile, d); // said after the results are printed
    }

    // On the bench: what a correct measurement reads, by the same formulas from the bench's
    // own Y (the formulas themselves are checked against worked examples).
    double benchYDb = kSkyNaN;
    std::optional<double> benchGOverT;
    std::optional<double> benchTsys;
    if (capture.onBench) {
        const BenchTruth truth = engine.bench().truth();
        const double y = truth.ySystem;
        if (*target == SkyTarget::Ground)
            benchTsys = truth.offTemperatureK + truth.receiverTeK;
        benchYDb = 10.0 * std::log10(y);
        if (record.ok() && *target == SkyTarget::Sun)
            benchGOverT =
                sunResult({y, 1.0, {}, {}}, {setup.frequencyMHz, record.fluxSfu, 0.0, record.k})
                    .gOverTDbK.value;
    }

    if (o.flag("json")) {
        std::fputs(recordJson(record, benchGOverT, benchTsys, benchYDb).c_str(), stdout);
    } else {
        std::printf("%s, %s, %s MHz\n", std::string(skyTargetName(*target)).c_str(),
                    record.utcText.c_str(), fixed(record.frequencyMHz, 6).c_str());
        if (std::isfinite(record.elevationDeg))
            std::printf("Position: azimuth %s deg, elevation %s deg%s\n",
                        fixed(record.azimuthDeg, 2).c_str(), fixed(record.elevationDeg, 2).c_str(),
                        record.elevationDeg > 0.0 ? "" : " (below the horizon)");
        if (std::isfinite(record.fluxSfu))
            std::printf("Flux: %s sfu (published at %s MHz), stated %s %% (95%%)\n",
                        fixed(record.fluxSfu, 2).c_str(),
                        record.fluxSourceLowMHz == record.fluxSourceHighMHz
                            ? formatShortest(record.fluxSourceLowMHz).c_str()
                            : (formatShortest(record.fluxSourceLowMHz) + " and " +
                               formatShortest(record.fluxSourceHighMHz))
                                  .c_str(),
                        fixed(record.fluxUncertaintyPercent, 1).c_str());
        if (std::isfinite(record.k))
            std::printf("Source %s deg, beamwidth %s deg, K %s%s\n",
                        fixed(record.sourceDiameterDeg, 4).c_str(),
                        fixed(record.beamDeg, 3).c_str(), fixed(record.k, 4).c_str(),
                        record.kTyped ? " (typed)" : "");
        const auto reading = [](const char *name, const SkyReadingRecord &r) {
            std::printf("%s: %s dB (%d blocks, relative standard error %s %%)\n", name,
                        fixed(10.0 * std::log10(r.power), 3).c_str(), r.blocks,
                        fixed(100.0 * r.statistics.relativeStandardError, 3).c_str());
        };
        reading("On source", listener.hot);
        reading("Cold sky", listener.cold);
        if (record.ok()) // else only the message, on stderr
            for (const std::string &line : skyResultLines(record))
                std::printf("%s\n", line.c_str());
        if (capture.onBench) {
            std::printf("Virtual bench truth: Y %s dB", fixed(benchYDb, 3).c_str());
            if (benchGOverT)
                std::printf(", G/T %s dB/K", fixed(*benchGOverT, 3).c_str());
            if (benchTsys)
                std::printf(", Tsys %s K", fixed(*benchTsys, 1).c_str());
            std::printf("\n");
        }
    }
    if (!record.ok())
        printError(record.error);
    if (!reportFailed.empty()) // the results are printed above; no report file is left
        printError(reportFailed);
    return record.ok() && reportFailed.empty() ? kExitOk : kExitFailed;
}

} // namespace quillon::cli
