// Antenna and Sky on the bench's sky mode: one "Measure" on the Sun takes both readings and
// shows G/T within its interval of the bench's truth, with one SKY line; without the bench
// pointing, each button takes its own reading; bad input says one thing and measures
// nothing; leaving the page ends a reading at once.
#include "ui/pages/SkyPage.h"
#include "ReadingPageTestSupport.h"
#include "ReportCheck.h"

#include <fstream>
#include <sstream>

namespace quillon {
namespace {

class SkyPageTest : public test::ReadingPageTest<SkyPage>
{
protected:
    SkyPage &open()
    {
        setBench({.skyMode = true, .skyColdK = 20.0, .skyStepK = 400.0});
        m_shared.setAveraging(true);
        m_shared.setAverageCount(8);
        SkyPage &page = makePage();
        page.setClock([] { return 1781956800.0; }); // 2026-06-20T12:00:00Z
        return page;
    }
    QString results(const char *name) { return child<QLabel>(m_page, name)->text(); }
    std::string log()
    {
        std::ifstream in(logPath().toStdString());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(SkyPageTest, SunOnTheBenchGivesGOverTAndOneSkyLine)
{
    SkyPage &page = open();
    type("locator", "JO01");
    EXPECT_TRUE(child<QLabel>(m_page, "whereToPoint")->text().contains("2026-06-20T12:00:00Z UTC"));
    EXPECT_TRUE(child<QLabel>(m_page, "whereToPoint")->text().contains("Sun: azimuth 1"));
    type("beamwidth", "10");
    type("flux", "65");
    type("fluxUncertainty", "0");
    test::mustReturn([&] { click("sunMeasureSource"); });
    ASSERT_FALSE(text("sunSource").isEmpty());
    ASSERT_FALSE(text("sunCold").isEmpty());
    const SkyRecord &r = page.record(SkyTarget::Sun);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_NEAR(r.elevationDeg, 61.9, 0.3);
    const double y = m_engine->bench().truth().ySystem;
    const double truth = sunResult({y, 1.0, {}, {}}, {144.0, 65.0, 0.0, r.k}).gOverTDbK.value;
    EXPECT_NEAR(r.sun.gOverTDbK.value, truth, 2.0 * r.sun.gOverTDbK.totalHalfWidth());
    EXPECT_TRUE(results("sunResults").startsWith("Sun noise (Y): "))
        << results("sunResults").toStdString();
    EXPECT_TRUE(results("sunResults").contains("\nG/T: ")) << results("sunResults").toStdString();
    const std::string lines = log();
    EXPECT_EQ(lines.rfind("SKY,12/6/26 2:08:33,Sun,2026-06-20T12:00:00Z,144.000000,65.00,144,", 0),
              0u)
        << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1);
}

// Every message the page shows of its inputs, in the measurement's results, no reading taken.
TEST_F(SkyPageTest, BadInputSaysOneThingAndMeasuresNothing)
{
    open();
    const struct
    {
        const char *field, *text, *button, *results, *message;
    } cases[] = {
        {"flux", "0", "sunMeasureSource", "sunResults",
         "The solar flux must be a number above 0 sfu."},
        {"flux", "100:20, 200=30", "sunMeasureSource", "sunResults",
         "'200=30' is not a frequency in MHz and a flux in sfu (MHz:sfu)."},
        {"beamwidth", "0", "moonMeasureSource", "moonResults",
         "The beamwidth must be a number above 0 degrees."},
        {"locator", "JZ01", "groundMeasureCold", "groundResults",
         "The locator is not a Maidenhead locator (two letters A-R, two digits, two letters A-X, "
         "two digits: JO01, IO91wm, IO91wm48)."},
    };
    type("beamwidth", "10");
    type("flux", "65");
    for (const auto &c : cases) {
        type(c.field, c.text);
        click(c.button);
        EXPECT_EQ(results(c.results), c.message) << c.field;
        const std::string field = c.field;
        child<QLineEdit>(m_page, c.field)
            ->setText(field == "beamwidth" ? "10"
                      : field == "flux"    ? "65"
                                           : "");
    }
    EXPECT_EQ(child<QLabel>(m_page, "whereToPoint")->text(),
              "Type the station's locator to see where the Sun and the Moon are.");
    for (const char *field : {"sunSource", "sunCold", "moonSource", "groundCold"})
        EXPECT_EQ(text(field), "") << field;
    EXPECT_EQ(log(), "");
}

// Without the bench's port the user points the antenna: each "Measure" takes its reading
// only, and the results come once both are in; the message of a refused press does not
// outlive the press that follows it.
TEST_F(SkyPageTest, WithoutTheBenchPointingEachButtonTakesItsReading)
{
    useAutomationPort(false);
    open();
    type("groundTemperature", "5"); // below the cold sky: refused, said in the results
    click("groundMeasureSource");
    EXPECT_EQ(text("groundSource"), "");
    EXPECT_FALSE(results("groundResults").isEmpty());
    type("groundTemperature", "290");
    click("groundMeasureSource");
    EXPECT_FALSE(text("groundSource").isEmpty());
    EXPECT_EQ(text("groundCold"), "");
    EXPECT_EQ(results("groundResults"), ""); // the refusal's message is gone with its cause
    click("groundMeasureCold");
    EXPECT_FALSE(text("groundCold").isEmpty());
    EXPECT_FALSE(results("groundResults").isEmpty());
    const std::string lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1);
}

// What is typed is kept as it is finished (Return, or leaving the field) and a new page shows
// it; averaging to a precision brings Y's statistical 95% half-width within the target; a
// store that cannot be written says so.
TEST_F(SkyPageTest, InputsAreKeptAndAveragingToAPrecisionBoundsY)
{
    open();
    const std::pair<const char *, const char *> typed[] = {
        {"locator", "IO91wm"},     {"beamwidth", "10"}, {"flux", "65"},
        {"gain", "20.5"},          {"tsys", "180"},     {"frequency", "432"},
        {"precisionTarget", "0.1"}};
    for (const auto &[field, value] : typed) {
        type(field, value);
        QTest::keyClick(child<QLineEdit>(m_page, field), Qt::Key_Return);
    }
    click("precisionEnable");
    test::mustReturn([&] { click("sunMeasureSource"); });
    const SkyRecord &r = dynamic_cast<SkyPage &>(*m_page).record(SkyTarget::Sun);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_LE(r.sun.yDb.statisticalHalfWidth(), 0.1);
    EXPECT_GT(r.sun.yDb.statisticalHalfWidth(), 0.05);

    makePage();
    for (const auto &[field, value] : typed)
        EXPECT_EQ(text(field), value) << field;
    EXPECT_TRUE(child<QCheckBox>(m_page, "precisionEnable")->isChecked());
    EXPECT_EQ(text("moonTemperature"), "225"); // never typed: the default

    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, writeFile("blocker", ""));
    makePage();
    test::BoxCatcher boxes;
    type("locator", "JO01");
    QTest::keyClick(child<QLineEdit>(m_page, "locator"), Qt::Key_Return);
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgSaveFailed)});
}

// "Save Report...": nothing taken yet says so without asking for a file; then the Sun's
// measurement, with its results as the page shows them, and no other; a file that cannot be
// written says why and keeps the measurement.
TEST_F(SkyPageTest, SaveReportWritesTheMeasurementsTaken)
{
    SkyPage &page = open();
    int asked = 0;
    const QString path = folder() + "/sky.html";
    page.setReportDialog([&] {
        ++asked;
        return path;
    });
    {
        test::BoxCatcher boxes;
        click("saveReport");
        EXPECT_EQ(boxes.texts, QStringList{"There is no measurement to report yet: take both "
                                           "readings of one first."});
        EXPECT_EQ(asked, 0);
    }
    type("beamwidth", "10");
    type("flux", "65");
    test::mustReturn([&] { click("sunMeasureSource"); });
    ASSERT_TRUE(page.record(SkyTarget::Sun).ok());
    {
        test::BoxCatcher none;
        click("saveReport");
        EXPECT_TRUE(none.texts.isEmpty()) << none.texts.join('|').toStdString();
    }
    QFile html(path);
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(report.contains("<h2>The Sun</h2>"));
    EXPECT_FALSE(report.contains("<h2>The Moon</h2>"));
    const QString gOverT = results("sunResults").section('\n', 1, 1); // "G/T: ..."
    EXPECT_TRUE(report.contains("<tr><th>G/T</th><td>" + gOverT.mid(5) + "</td></tr>"))
        << gOverT.toStdString();
    EXPECT_TRUE(QFile::exists(folder() + "/sky.json"));
    // Every number the Sun's measurement shows: its two readings and its results.
    EXPECT_EQ(test::checkReport(path, {text("sunSource"), text("sunCold"), results("sunResults")},
                                {"The Sun", "Antenna and Sky"}),
              "");

    const QString nowhere = folder() + "/none/sky.html";
    page.setReportDialog([nowhere] { return nowhere; });
    test::BoxCatcher failed;
    click("saveReport");
    EXPECT_EQ(failed.texts, QStringList{"The report \"" + nowhere +
                                        "\" could not be written: No such file or directory."});
    EXPECT_TRUE(page.record(SkyTarget::Sun).ok());
}

// Leaving the page during a reading (the bench in real time, 100 ms blocks) ends it and its
// series at once: no result, no line.
TEST_F(SkyPageTest, LeavingThePageEndsAReadingAtOnce)
{
    SkyPage &page = open();
    setBench({.skyMode = true}, true);
    m_shared.setAverageCount(32);
    type("beamwidth", "10");
    type("flux", "65");
    whenDialogShows([this] { m_sheet->setActivePage(m_other); });
    QElapsedTimer t;
    t.start();
    test::mustReturn([&] { click("sunMeasureSource"); });
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_FALSE(page.seriesRunning());
    EXPECT_EQ(text("sunSource"), "");
    EXPECT_EQ(log(), "");
}

} // namespace
} // namespace quillon
