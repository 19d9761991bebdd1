// Reports: the results computed from the readings they keep (the bench's truth as the worked
// example), the HTML's escaping, the ENR rows listed, the JSON's recompute round trip, the
// version they name, and what a failed write leaves behind.
#include "measure/Report.h"
#include "core/Version.h"
#include "measure/SkyReport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace quillon {
namespace {

// The bench's four true powers at its defaults (quillon-cli bench): a correct measurement
// of them reads DUT NF 1.000 dB and gain 20.000 dB at ENR 25 dB, TSoff 293 K, T0 290 K.
// Each reading with a relative standard error of 0.2% on 1000 degrees of freedom.
ReportResult benchResult()
{
    ReportResult r;
    r.label = "Run 1";
    r.enrDb = 25.0;
    const double powers[] = {1.015738e-04, 1.990211e-06, 1.000000e-02, 4.164275e-05};
    for (int i = 0; i < 4; ++i) {
        ReportReading x;
        x.number = i;
        x.label = "reading " + std::to_string(i);
        x.power = powers[i];
        x.blocks = 8;
        x.statistics.relativeStandardError = 0.002;
        x.statistics.degreesOfFreedom = 1000;
        r.readings.push_back(x);
    }
    return r;
}

TEST(Report, ResultsComeFromTheReadingsByTheirNumbers)
{
    Limits limits;
    limits.nfMaxDb = 1.2;
    limits.gainMinDb = 19.0;
    ReportResult r = benchResult();
    fillReportResult(r, false, 290.0, 293.0, limits);
    ASSERT_TRUE(r.results.complete);
    EXPECT_NEAR(r.results.noise.nf, 1.000, 5e-4);
    EXPECT_NEAR(r.results.gainDb, 20.000, 5e-4);
    EXPECT_NEAR(r.results.noise.te, 75.088, 0.05);
    const double hw = r.uncertainty.nf.totalHalfWidth();
    EXPECT_GT(hw, 0.0);
    EXPECT_LT(hw, 0.2);
    EXPECT_EQ(r.verdict.overall, Verdict::Pass);

    // Taken in another order (ON, OFF, OFF, ON with the DUT in): the same results.
    ReportResult swapped = benchResult();
    std::swap(swapped.readings[2], swapped.readings[3]);
    fillReportResult(swapped, false, 290.0, 293.0, limits);
    EXPECT_DOUBLE_EQ(swapped.results.noise.nf, r.results.noise.nf);
    EXPECT_DOUBLE_EQ(swapped.uncertainty.nf.total, r.uncertainty.nf.total);

    // The limit at the result: its interval straddles it.
    limits.nfMaxDb = r.results.noise.nf;
    fillReportResult(r, false, 290.0, 293.0, limits);
    EXPECT_EQ(r.verdict.overall, Verdict::Indeterminate);
    // System mode: readings 0 and 1 give the receiver's 8.000 dB; a gain limit is left open.
    ReportResult system = benchResult();
    system.readings.resize(2);
    limits.nfMaxDb = 9.0;
    fillReportResult(system, true, 290.0, 293.0, limits);
    EXPECT_NEAR(system.results.noise.nf, 8.000, 5e-4);
    EXPECT_EQ(system.verdict.nf, Verdict::Pass);
    EXPECT_EQ(system.verdict.overall, Verdict::Indeterminate);
}

// A corrected result: the double-sideband converter's worked example (no losses, flat ENR:
// the noise factor exactly twice the uncorrected one, the gain 3.01 dB lower), the losses'
// standard uncertainty and the drift term in the totals, and all of it back from the JSON:
// recompute agrees, and a JSON without them (as an older report would be) does not.
TEST(Report, CorrectionsAndTheDriftTermRecomputeFromTheJson)
{
    ReportResult plain = benchResult();
    fillReportResult(plain, false, 290.0, 293.0, {});
    ReportResult r = benchResult();
    r.corrections.converter.on = true;
    r.corrections.converter.sideband = Sideband::Double;
    r.corrections.converter.loMHz = 1152.0;
    r.corrections.frequencies = converterFrequencies(r.corrections.converter, 144.0);
    r.corrections.enrSignalDb = r.corrections.enrImageDb = 25.0;
    fillReportResult(r, false, 290.0, 293.0, {});
    EXPECT_NEAR(r.results.noise.f, 2.0 * plain.results.noise.f, 1e-9);
    EXPECT_NEAR(r.results.gainDb, plain.results.gainDb - 3.0103, 1e-4);

    // An input loss known to 0.05 dB (k = 1) widens the total, not the statistical part.
    AppliedLoss &in = r.corrections.at(LossPlace::Input);
    in = {true, 0.3, 295.0, 0.05};
    ReportResult exact = r;
    exact.corrections.at(LossPlace::Input).uncertaintyDb = 0.0;
    fillReportResult(exact, false, 290.0, 293.0, {});
    fillReportResult(r, false, 290.0, 293.0, {});
    EXPECT_GT(r.uncertainty.nf.totalHalfWidth(), exact.uncertainty.nf.totalHalfWidth() + 0.01);
    EXPECT_DOUBLE_EQ(r.uncertainty.nf.statistical, exact.uncertainty.nf.statistical);
    // A drift of 1e-4/s over readings 1 s apart widens it again.
    r.drift.slope = {0.0, 1.0, 2.0, 3.0};
    r.drift.rateStandard = 1e-3;
    const double withoutDrift = r.uncertainty.nf.totalHalfWidth();
    fillReportResult(r, false, 290.0, 293.0, {});
    EXPECT_GT(r.uncertainty.nf.totalHalfWidth(), withoutDrift);

    ReportData d;
    d.corrections = {correctedForText(r.corrections)};
    d.results.push_back(r);
    const std::string json = reportJson(d);
    RecomputeOutcome out = recomputeReport(json);
    ASSERT_TRUE(out.readable) << out.message;
    EXPECT_EQ(out.compared, 13); // no ENR file: the ENR is not compared
    EXPECT_TRUE(out.mismatches.empty()) << out.mismatches.front();
    const std::string html = reportHtml(d);
    EXPECT_NE(html.find("<li>corrected for: input loss 0.30 dB at 295 K, double sideband "
                        "converter"),
              std::string::npos);
    EXPECT_NE(html.find("<td class=\"n\">0.300 dB at 295.0 K, u 0.050 dB</td>"), std::string::npos);

    // Without the drift: the half-widths differ, the values agree.
    std::string noDrift = json;
    const auto at = noDrift.find("\"drift\"");
    ASSERT_NE(at, std::string::npos);
    noDrift.replace(at, 7, "\"nodrift\"");
    out = recomputeReport(noDrift);
    ASSERT_FALSE(out.mismatches.empty());
    for (const std::string &m : out.mismatches)
        EXPECT_NE(m.find("95%"), std::string::npos) << m;
    // Without the corrections: the noise figure itself differs.
    std::string none = json;
    none.replace(none.find("\"corrections\": {"), 13, "\"uncorrected\"");
    out = recomputeReport(none);
    ASSERT_TRUE(out.readable) << out.message;
    EXPECT_NE(std::find_if(out.mismatches.begin(), out.mismatches.end(),
                           [](const std::string &m) {
                               return m.rfind("Run 1: noise figure (dB) ", 0) == 0;
                           }),
              out.mismatches.end());
}

TEST(Report, TheDutRecordIsTextNeverMarkup)
{
    ReportData d;
    d.dut = {"<script>alert(1)</script>", "SN \"7\" & 'x'", "line 1\nline 2 <i>"};
    d.results.push_back(benchResult());
    fillReportResult(d.results[0], false, d.t0, d.tsOff, d.limits);
    const std::string html = reportHtml(d);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("SN &quot;7&quot; &amp; &#39;x&#39;"), std::string::npos);
    EXPECT_NE(html.find("line 1\nline 2 &lt;i&gt;"), std::string::npos);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("No limits set: no verdicts."), std::string::npos);
}

TEST(Report, TheEnrRowsTheInterpolationRead)
{
    EnrTable table;
    ASSERT_EQ(parseEnrData("100,20,0.2\n200,22\n300,24\n", table), 0);
    const struct
    {
        double f;
        std::vector<double> rows;
    } cases[] = {{150, {100, 200}}, {200, {200}}, {50, {100}}, {400, {300}}, {300, {300}}};
    for (const auto &c : cases) {
        std::vector<double> got;
        for (const EnrRow &r : enrRowsUsed(table, c.f))
            got.push_back(r.frequencyMHz);
        EXPECT_EQ(got, c.rows) << c.f;
    }
    EXPECT_TRUE(enrRowsUsed(EnrTable{}, 100).empty());
}

TEST(Report, JsonBesideTheHtml)
{
    EXPECT_EQ(reportJsonPath("a/r.html"), "a/r.json");
    EXPECT_EQ(reportJsonPath("r.htm"), "r.json");
    EXPECT_EQ(reportJsonPath("report"), "report.json");
    EXPECT_EQ(reportJsonPath(".html"), ".html.json");
}

class ReportFiles : public ::testing::Test
{
protected:
    ReportFiles()
    {
        std::filesystem::create_directories(dir);
        EnrTable table;
        parseEnrData("100,24,0.1\n200,26,0.1\n", table);
        data.enrFromFile = true;
        data.enrFile = "enr.txt";
        data.enrRows = enrRowsUsed(table, 150.0);
        data.limits.table = {{100, 1.5, 18, 22}, {200, 2.5, 18, 22}};
        data.limits.tableFile = "limits.txt";
        for (int run = 0; run < 2; ++run) {
            ReportResult r = benchResult();
            r.label = "Run " + std::to_string(run + 1);
            r.frequencyMHz = 150.0;
            r.enrDb = enrForEntry(150.0, true, table); // 25 dB: the bench's truth again
            r.stated = {0.1, 0.5};
            r.readings[0].power *= 1.0 + 0.01 * run;
            fillReportResult(r, false, data.t0, data.tsOff, data.limits);
            data.results.push_back(r);
        }
    }
    ~ReportFiles() override { std::filesystem::remove_all(dir); }
    std::string read(const std::filesystem::path &p)
    {
        return {std::istreambuf_iterator<char>(std::ifstream(p).rdbuf()), {}};
    }
    std::vector<std::string> files()
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillon-report-" + std::to_string(::getpid()));
    ReportData data;
};

TEST_F(ReportFiles, EveryNumberRecomputesFromTheJson)
{
    EXPECT_EQ(data.results[0].verdict.overall, Verdict::Pass); // NF max 2.0 dB at 150 MHz
    const std::string path = (dir / "r.html").string();
    ASSERT_EQ(writeReport(path, data), "");
    EXPECT_EQ(files(), (std::vector<std::string>{"r.html", "r.json"}));
    const std::string json = read(dir / "r.json");
    RecomputeOutcome out = recomputeReport(json);
    ASSERT_TRUE(out.readable) << out.message;
    // Per run: the ENR, Te, F, NF, gain, and each one's two half-widths, and the verdict.
    EXPECT_EQ(out.compared, 2 * 14);
    EXPECT_TRUE(out.mismatches.empty()) << out.mismatches.front();

    // An ENR that the rows listed do not give, and a reading's power changed: found.
    std::string changed = json;
    const auto enr = changed.find("\"enrDb\": 25");
    ASSERT_NE(enr, std::string::npos);
    changed.replace(enr, 11, "\"enrDb\": 25.01");
    out = recomputeReport(changed);
    ASSERT_FALSE(out.mismatches.empty());
    EXPECT_EQ(out.mismatches.front().rfind("Run 1: ENR (dB) 25.01 stored, 25 recomputed", 0), 0u)
        << out.mismatches.front();

    out = recomputeReport("[1, 2]");
    EXPECT_FALSE(out.readable);
    EXPECT_EQ(out.message.rfind("not a JSON object", 0), 0u);
    out = recomputeReport("{\"results\": []}");
    EXPECT_FALSE(out.readable);
    EXPECT_EQ(out.message, "not a Quillon report: \"results\", \"t0\" or \"tsOff\" is missing");
}

// Both kinds of report, as written, say which Quillon made them: the project's version (set
// once in CMakeLists.txt), in the HTML's "Quillon version" row and the JSON's "version".
TEST_F(ReportFiles, TheVersionIsTheProjects)
{
    const std::string row =
        std::string("<tr><th>Quillon version</th><td>") + kVersion + "</td></tr>";
    ASSERT_EQ(writeReport((dir / "r.html").string(), data), "");
    ASSERT_EQ(writeSkyReport((dir / "sky.html").string(), SkyReportData{}), "");
    for (const std::string name : {"r", "sky"}) {
        EXPECT_NE(read(dir / (name + ".html")).find(row), std::string::npos) << name;
        const QByteArray json = QByteArray::fromStdString(read(dir / (name + ".json")));
        EXPECT_EQ(QJsonDocument::fromJson(json)["version"].toString().toStdString(), kVersion)
            << name;
    }
}

TEST_F(ReportFiles, AFailedWriteLeavesNeitherFile)
{
    // No such folder: the JSON, written first, fails.
    const std::string nowhere = (dir / "none" / "r.html").string();
    EXPECT_EQ(writeReport(nowhere, data),
              "The report \"" + nowhere + "\" could not be written: No such file or directory.");
    // The HTML's name is a folder: the JSON written for it is taken away again.
    std::filesystem::create_directories(dir / "taken.html");
    const std::string taken = (dir / "taken.html").string();
    EXPECT_EQ(writeReport(taken, data),
              "The report \"" + taken + "\" could not be written: a folder, not a file.");
    EXPECT_EQ(files(), std::vector<std::string>{"taken.html"});
    // An earlier report of the same name stays whole when the new one fails.
    std::ofstream(dir / "old.json") << "earlier";
    std::filesystem::create_directories(dir / "old.html");
    EXPECT_NE(writeReport((dir / "old.html").string(), data), "");
    EXPECT_EQ(read(dir / "old.json"), "earlier");
    EXPECT_EQ(files(), (std::vector<std::string>{"old.html", "old.json", "taken.html"}));
}

} // namespace
} // namespace quillon
