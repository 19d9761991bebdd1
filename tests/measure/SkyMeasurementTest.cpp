// A sky measurement: the series runner's two sky readings on the bench's sky mode, the
// record made of them, and its SKY log line.

#include "measure/SkyMeasurement.h"
#include "core/NumberText.h"
#include "measure/MeasurementLog.h"
#include "measure/SeriesRunner.h"
#include "measure/SkyReport.h"
#include "support/BenchSeries.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>

namespace quillon {
namespace {

class SkyRecorder : public SeriesListener
{
public:
    void readingDone(const SeriesReadingReport &r) override { done.push_back(r); }
    std::vector<SeriesReadingReport> done;
};

class SkySeries : public test::BenchEngineTest
{
protected:
    SkySeries() { setBench({.skyMode = true, .skyColdK = 20.0, .skyStepK = 400.0}); }
    static SeriesPlan skyPlan()
    {
        SeriesPlan plan;
        plan.conditions.kind = SeriesKind::Sky;
        plan.noiseGen = plan.driveSwitches = true; // the bench's output stands for the pointing
        plan.reading = {0, true, 8};
        return plan;
    }
    SeriesRunner runner{engine, engine.settings(), engine.resultLine()};
    SeriesReadings readings{SeriesKind::Sky};
    SkyRecorder recorder;
};

// The pair on the source and on cold sky: Y as the bench's truth (within 3 standard errors of
// the mean of 30), labelled as the page shows them, and no NF or ENR line per reading: a sky
// measurement writes its one SKY line when both are in.
TEST_F(SkySeries, TwoReadingsGiveTheBenchsYAndNoReadingLines)
{
    QTemporaryDir dir;
    const std::string log = (dir.path() + "/log.txt").toStdString();
    engine.settings().logMeasurements = true;
    engine.settings().logResultsFile = log;
    SeriesPlan plan = skyPlan();
    plan.passes = 30;
    ASSERT_EQ(runner.run(plan, readings, recorder).end, SeriesEnd::Complete);
    ASSERT_EQ(recorder.done.size(), 60u);
    std::vector<double> y;
    for (std::size_t i = 0; i < recorder.done.size(); i += 2) {
        const SeriesReadingReport &hot = recorder.done[i], &cold = recorder.done[i + 1];
        ASSERT_EQ(std::pair(hot.reading, cold.reading), std::pair(0, 1));
        EXPECT_EQ(hot.label, "On source");
        EXPECT_EQ(cold.label, "Cold sky");
        EXPECT_EQ(hot.evaluation.complete, i > 0); // the earlier pass's cold sky is kept
        EXPECT_TRUE(cold.evaluation.complete);
        EXPECT_GT(hot.statistics.relativeStandardError, 0.0);
        y.push_back(hot.power / cold.power);
    }
    double mean = 0.0, squares = 0.0;
    for (double v : y)
        mean += v / static_cast<double>(y.size());
    for (double v : y)
        squares += (v - mean) * (v - mean);
    const double se = std::sqrt(squares / (y.size() - 1.0) / y.size());
    EXPECT_NEAR(mean, engine.bench().truth().ySystem, 3.0 * se);
    EXPECT_LT(se, 0.01);
    EXPECT_FALSE(std::ifstream(log).good()) << "no reading line";
}

// Averaging to a precision bounds Y: each reading is taken once (no pilot, the shares need no
// powers), with as many blocks as Y's statistical 95% half-width needs to come within the
// target, and close to it rather than far below.
TEST_F(SkySeries, AveragingToAPrecisionBringsYsHalfWidthToTheTarget)
{
    SeriesPlan plan = skyPlan();
    plan.precision = PrecisionTarget{.halfWidthDb = 0.1};
    ASSERT_EQ(runner.run(plan, readings, recorder).end, SeriesEnd::Complete);
    ASSERT_EQ(recorder.done.size(), 2u);
    const ReadingStatistics &hot = recorder.done[0].statistics, &cold = recorder.done[1].statistics;
    EXPECT_GT(hot.blocks + cold.blocks, 16);
    const double k = coverageFactor95(std::min(hot.degreesOfFreedom, cold.degreesOfFreedom));
    const double halfWidth = k * 10.0 / std::log(10.0) *
                             std::hypot(hot.relativeStandardError, cold.relativeStandardError);
    EXPECT_LE(halfWidth, 0.1 * 1.0001);
    EXPECT_GT(halfWidth, 0.07);
}

SkyReadingRecord reading(double power, double relative, int blocks)
{
    SkyReadingRecord r;
    r.power = power;
    r.blocks = blocks;
    r.statistics.blocks = blocks;
    r.statistics.meanPower = power;
    r.statistics.relativeStandardError = relative;
    r.statistics.degreesOfFreedom = 16.0 * blocks - 1.0;
    return r;
}

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> parts(1);
    for (char c : line) {
        if (c == ',')
            parts.emplace_back();
        else if (c != '\n')
            parts.back() += c;
    }
    return parts;
}

// The record and its log line: everything that makes the result comparable is in it.
TEST(SkyRecord, SunRecordAndItsLogLine)
{
    SkySetup s;
    s.target = SkyTarget::Sun;
    s.unixSeconds = 1781956800.0; // 2026-06-20T12:00:00Z
    s.frequencyMHz = 1296.0;
    s.station = parseLocator("JO01").station;
    s.beamDeg = 10.0;
    s.flux = {{1000.0, 80.0}, {2000.0, 120.0}};
    s.fluxUncertaintyPercent = 10.0;
    s.k = 1.1;
    s.gainDbi = 20.0;
    const SkyRecord r = evaluateSky(s, reading(2e-3, 0.01, 8), reading(1e-3, 0.01, 8));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.utcText, "2026-06-20T12:00:00Z");
    const double flux = 80.0 * std::pow(1.5, std::log2(1.296));
    EXPECT_NEAR(r.fluxSfu, flux, 1e-9);
    EXPECT_TRUE(r.kTyped);
    EXPECT_NEAR(r.elevationDeg, 61.9, 0.3); // midsummer noon at 51.5 N
    // The numbers are sunResult's on the same inputs.
    const SunResult sun =
        sunResult({2e-3, 1e-3, {0.01, 127.0}, {0.01, 127.0}}, {1296.0, flux, 10.0, 1.1, 20.0});
    EXPECT_DOUBLE_EQ(r.sun.gOverTDbK.value, sun.gOverTDbK.value);
    EXPECT_DOUBLE_EQ(r.sun.tsysK.total, sun.tsysK.total);

    const std::vector<std::string> f = split(skyLogFields(r));
    ASSERT_EQ(f.size(), 23u);
    EXPECT_EQ(f[0], "Sun");
    EXPECT_EQ(f[1], "2026-06-20T12:00:00Z");
    EXPECT_EQ(f[2], "1296.000000");
    EXPECT_EQ(f[3], formatFixed(flux, 2));
    EXPECT_EQ(f[4], "1000-2000");
    EXPECT_EQ(f[5], "10.0");
    EXPECT_EQ(f[7], formatFixed(r.elevationDeg, 2));
    EXPECT_EQ(f[9], "10.000");
    EXPECT_EQ(f[10], "1.1000");
    EXPECT_EQ(f[11], "-26.989700"); // 10 log10(2e-3)
    EXPECT_EQ(f[12], "0.010000");
    EXPECT_EQ(f[13], "8");
    EXPECT_EQ(f[14], "-30.000000");
    EXPECT_EQ(f[17], "3.0103");
    EXPECT_EQ(f[19], formatFixed(sun.gOverTDbK.value, 4));
    EXPECT_EQ(f[20], formatFixed(sun.gOverTDbK.totalHalfWidth(), 4));
    EXPECT_EQ(f[21], formatFixed(sun.tsysK.value, 2));

    EXPECT_EQ(skyLineText("12/6/26 2:08:33", "Sun,x"), "SKY,12/6/26 2:08:33,Sun,x\n");

    // The report's rows: every condition once, the results with their half-widths.
    std::map<std::string, std::string> rows;
    for (const SkyReportRow &row : skyReportRows(r))
        rows[row.name] = row.text;
    EXPECT_EQ(rows["Flux published at"], "1000 and 2000 MHz");
    EXPECT_EQ(rows["Flux stated uncertainty"], "10.0 % (95%)");
    EXPECT_EQ(rows["K"], "1.1000 (typed)");
    EXPECT_EQ(rows["On cold sky"], "-30.000 dB, 8 blocks, relative error 1.000 %");
    EXPECT_EQ(rows["Sun noise (Y)"], "3.01 dB ± 0.12 dB (95%)");
    EXPECT_EQ(rows.count("G/T"), 1u);
    const std::vector<std::string> lines = skyResultLines(r);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Sun noise (Y): 3.01 dB ± 0.12 dB (95%)");
    EXPECT_EQ(lines[1].rfind("G/T: " + formatFixed(sun.gOverTDbK.value, 2) + " dB/K ± ", 0), 0u);
}

// A record without results keeps its readings and conditions and gives one message.
TEST(SkyRecord, ProblemsGiveTheMessageAndEmptyResults)
{
    SkySetup s;
    s.target = SkyTarget::Ground;
    s.frequencyMHz = 144.0;
    const SkyRecord r = evaluateSky(s, reading(1e-3, 0.01, 4), reading(2e-3, 0.01, 4));
    EXPECT_EQ(r.error,
              "Y must be above 1: the reading on the source must be louder than on cold sky.");
    EXPECT_EQ(skyResultLines(r), std::vector<std::string>{r.error});
    const std::vector<std::string> f = split(skyLogFields(r));
    ASSERT_EQ(f.size(), 23u);
    EXPECT_EQ(f[11], "-30.000000");
    for (std::size_t i = 17; i < 23; ++i)
        EXPECT_EQ(f[i], "") << i;

    // The setup's checks that the formulas do not see: a Sun without beam or K, a Moon
    // without a beam, no frequency.
    SkySetup sun;
    sun.frequencyMHz = 144.0;
    sun.flux = {{144.0, 65.0}};
    EXPECT_EQ(checkSkySetup(sun), "The beamwidth must be a number above 0 degrees.");
    sun.k = 0.9;
    EXPECT_EQ(checkSkySetup(sun), "The beam-size correction K must be a number of 1 or more.");
    sun.k = 1.0;
    EXPECT_EQ(checkSkySetup(sun), "");
    SkySetup moon;
    moon.target = SkyTarget::Moon;
    moon.frequencyMHz = 432.0;
    EXPECT_EQ(checkSkySetup(moon), "The beamwidth must be a number above 0 degrees.");
    moon.frequencyMHz = kSkyNaN;
    EXPECT_EQ(checkSkySetup(moon), "The frequency must be a number above 0 MHz.");
}

// The report: each measurement under its heading with its rows, a failed one with its
// message, what is typed escaped; the JSON with the same numbers (NaN as null) and the
// precision; written through the device report's file writer.
TEST(SkyReport, EveryMeasurementInBothFiles)
{
    SkySetup s;
    s.unixSeconds = 1781956800.0;
    s.frequencyMHz = 1296.0;
    s.beamDeg = 10.0;
    s.flux = {{1296.0, 80.0}};
    SkyReportData d;
    d.station = "IO91<b>wm</b>";
    d.precision = PrecisionTarget{.halfWidthDb = 0.05, .maxSeconds = 30.0};
    d.records.push_back(evaluateSky(s, reading(2e-3, 0.01, 8), reading(1e-3, 0.01, 8)));
    s.target = SkyTarget::Ground;
    d.records.push_back(evaluateSky(s, reading(1e-3, 0.01, 4), reading(2e-3, 0.01, 4)));
    ASSERT_TRUE(d.records[0].ok());
    ASSERT_FALSE(d.records[1].ok());

    const std::string html = skyReportHtml(d);
    EXPECT_NE(html.find("<h2>The Sun</h2>"), std::string::npos);
    EXPECT_NE(html.find("<h2>Cold sky and ground</h2>\n<p class=\"fail\">Y must be above 1"),
              std::string::npos);
    EXPECT_NE(html.find("<tr><th>Station</th><td>IO91&lt;b&gt;wm&lt;/b&gt;</td></tr>"),
              std::string::npos);
    EXPECT_NE(html.find("Y within 0.05 dB (95%, statistical), at most 30 s per reading"),
              std::string::npos);
    for (const SkyReportRow &row : skyReportRows(d.records[0]))
        EXPECT_NE(html.find("<tr><th>" + htmlEscaped(row.name) + "</th><td>" +
                            htmlEscaped(row.text) + "</td></tr>"),
                  std::string::npos)
            << row.name;

    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(skyReportJson(d))).object();
    EXPECT_EQ(o["report"].toString(), "quillon-sky-report-1");
    EXPECT_EQ(o["station"].toString(), "IO91<b>wm</b>");
    EXPECT_EQ(o["precision"]["maxSeconds"].toDouble(), 30.0);
    const QJsonArray m = o["measurements"].toArray();
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0]["results"]["gOverTDbK"]["value"].toDouble(),
              d.records[0].sun.gOverTDbK.value); // the shortest text that reads back exact
    EXPECT_EQ(m[0]["results"]["gOverTDbK"]["halfWidth95"].toDouble(),
              d.records[0].sun.gOverTDbK.totalHalfWidth());
    EXPECT_EQ(m[0]["coldSky"]["blocks"].toInt(), 8);
    EXPECT_EQ(m[1]["error"].toString().toStdString(), d.records[1].error);
    EXPECT_TRUE(m[1]["results"].isUndefined());
    EXPECT_TRUE(m[1]["fluxSfu"].isNull()); // a ground measurement has no flux

    QTemporaryDir dir;
    const std::string path = (dir.path() + "/sky.html").toStdString();
    ASSERT_EQ(writeSkyReport(path, d), "");
    EXPECT_EQ(QFile(dir.path() + "/sky.json").size(), static_cast<qint64>(skyReportJson(d).size()));
    const std::string nowhere = (dir.path() + "/none/sky.html").toStdString();
    EXPECT_EQ(writeSkyReport(nowhere, d),
              "The report \"" + nowhere + "\" could not be written: No such file or directory.");
}

TEST(SkyRecord, TargetNamesAndUtcText)
{
    for (SkyTarget t : {SkyTarget::Sun, SkyTarget::Moon, SkyTarget::Ground})
        EXPECT_EQ(skyTargetFromName(skyTargetName(t)), t);
    EXPECT_EQ(skyTargetFromName("MOON"), SkyTarget::Moon);
    EXPECT_EQ(skyTargetFromName("venus"), std::nullopt);
    EXPECT_EQ(utcText(0.0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utcText(1796614266.9), "2026-12-07T03:31:06Z"); // seconds cut, not rounded
}

} // namespace
} // namespace quillon
