// Sweep page on the bench: Start fills the table and the plot and Export CSV writes them;
// Stop and closing the window during a settle end the sweep at once; limits mark every
// point and are summed up, reference traces load and go, and the sweep's report recomputes.
#include "ui/pages/SweepPage.h"
#include "PageTestSupport.h"
#include "ReportCheck.h"
#include "capture/WaveFormat.h"
#include "core/SettingsStore.h"
#include "measure/CorrectionSettings.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "rig/RigSettings.h"
#include "ui/MainWindow.h"
#include "ui/SweepPlot.h"

#include <QFile>
#include <QImage>
#include <QListWidget>

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon {
namespace {

class SweepPageTest : public test::PageTest
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
        Settings &s = m_engine->settings();
        s.waveInDevice = m_engine->benchDevice();
        applyFormatRow(s, 8);
        s.captureTimeMs = 100;
        s.switchPortName = "Virtual bench";
        s.switchPortChosen = true;
        m_engine->bench().setParameters({.seed = 5, .speed = 0.0});
        m_shared.setAveraging(true);
        m_shared.setAverageCount(4);
        m_shared.setEnrEntry(25.0);
        m_shared.setTsOff(m_engine->bench().parameters().sourceOffTemperatureK);
        SettingsStore(kReceiverGroup).write(receiverKeys::Control, "Virtual bench");
        m_page = new SweepPage(*m_engine, m_shared);
        m_sheet = std::make_unique<MainWindow>();
        m_sheet->addPage(m_page);
        m_sheet->show();
        m_sheet->setActivePage(m_page);
    }
    void TearDown() override
    {
        m_sheet.reset();
        m_engine.reset();
        PageTest::TearDown();
    }
    void set(const char *field, const QString &text) { child<QLineEdit>(m_page, field)->setText(text); }
    void click(const char *name) { child<QPushButton>(m_page, name)->click(); }
    QString status() { return child<QLabel>(m_page, "statusLabel")->text(); }
    int tableRows() { return child<QTableWidget>(m_page, "pointTable")->rowCount(); }

    std::unique_ptr<QuillonEngine> m_engine;
    SharedValues m_shared;
    std::unique_ptr<MainWindow> m_sheet;
    SweepPage *m_page = nullptr;
};

TEST_F(SweepPageTest, StartFillsTheTableAndExportWritesItsRows)
{
    EXPECT_EQ(child<QComboBox>(m_page, "controlList")->currentText(), "Virtual bench");
    set("startField", "140");
    set("stopField", "148");
    set("stepField", "2");
    click("startButton");
    EXPECT_FALSE(child<QPushButton>(m_page, "startButton")->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    EXPECT_EQ(status(), "Sweep complete: 5 points");
    ASSERT_EQ(tableRows(), 5);
    auto *table = child<QTableWidget>(m_page, "pointTable");
    EXPECT_EQ(table->item(4, 0)->text(), "148");
    EXPECT_TRUE(table->item(4, 2)->text().contains(" ± ")) << table->item(4, 2)->text().toStdString();
    EXPECT_EQ(m_engine->bench().frequencyMHz(), 148.0); // the bench was tuned

    const QString path = folder() + "/sweep.csv";
    m_page->setFileDialog([&path] { return path; });
    click("exportButton");
    std::stringstream text;
    text << std::ifstream(path.toStdString(), std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), sweepCsv(m_page->rows()));

    EXPECT_EQ(m_page->rows().size(), 5u);

    // The cells a user selects copy as text, a row a line.
    table->setFocus();
    table->setRangeSelected(QTableWidgetSelectionRange(3, 0, 4, 1), true);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              table->item(3, 0)->text() + "\t" + table->item(3, 1)->text() + "\n" +
                  table->item(4, 0)->text() + "\t" + table->item(4, 1)->text());

    test::BoxCatcher boxes; // a bad plan: its message, nothing starts
    set("stepField", "-1");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts.front(), "The step must be positive to go from 140 MHz up to 148 MHz.");
    EXPECT_FALSE(m_page->sweeping());
    EXPECT_EQ(tableRows(), 5);
}

// Stop during a minute's settle ends the sweep with no point (the runner's tests show that a
// point being read is completed); a window close during the settle returns at once. The
// first sweep is started and stopped from the keyboard (Ctrl+Return, Escape).
TEST_F(SweepPageTest, StopAndWindowCloseEndASweepPromptly)
{
    set("listField", "144, 145, 146");
    child<QSpinBox>(m_page, "settleField")->setValue(60000);
    QTest::keyClick(m_sheet->windowHandle(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(test::waitFor([&] { return status() == "Settling"; }));
    QTest::keyClick(m_sheet->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    EXPECT_EQ(status(), "Sweep stopped: 0 points");

    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return status() == "Settling"; }));
    QElapsedTimer timer;
    timer.start();
    m_sheet->close();
    EXPECT_LT(timer.elapsed(), 1000);
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    EXPECT_FALSE(m_engine->capture().running());
}

// The corrections Measure Device keeps apply at every point, each read from its table: the
// rows and the exported CSV carry them, and the line under the table says so point by point.
// A table that does not reach a point of the plan refuses the sweep before its first point,
// with the message naming it. A fixed loss is one line for the sweep, as Measure Device's;
// without corrections there is none.
TEST_F(SweepPageTest, StoredCorrectionsApplyAtEveryPointOrRefuseTheSweep)
{
    const auto correctedFor = [this] { return child<QLabel>(m_page, "correctedFor")->text(); };
    const auto store = [](const CorrectionSettings &settings) {
        SettingsStore store(kCorrectionsGroup);
        return saveCorrectionSettings(store, settings).ok();
    };
    const std::string table = (folder() + "/after.txt").toStdString();
    std::ofstream(table) << "100, 0.5\n200, 1.5\n";
    CorrectionSettings c;
    c.at(LossPlace::Output) = {true, true, 0.0, table, 280.0};
    ASSERT_TRUE(store(c));
    set("listField", "140, 150");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    ASSERT_EQ(m_page->rows().size(), 2u);
    EXPECT_EQ(m_page->rows()[0].outputLossDb, 0.9);
    EXPECT_EQ(m_page->rows()[1].correctedFor, "corrected for: output loss 1.00 dB at 280 K");
    EXPECT_NE(sweepCsv(m_page->rows()).find("Corrected for\r\n140,"), std::string::npos);
    EXPECT_EQ(correctedFor(), "140.000 MHz: corrected for: output loss 0.90 dB at 280 K\n"
                              "150.000 MHz: corrected for: output loss 1.00 dB at 280 K");

    test::BoxCatcher boxes;
    set("listField", "150, 250");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts.front(), "Output loss table after.txt: the loss table does not cover "
                                   "the frequency 250.000 MHz.");
    EXPECT_FALSE(m_page->sweeping());
    EXPECT_EQ(m_page->rows().size(), 2u); // the last sweep's, untouched
    EXPECT_TRUE(correctedFor().startsWith("140.000 MHz: corrected for: output loss 0.90 dB"));

    c.at(LossPlace::Output) = {true, false, 1.0, "", 280.0};
    c.at(LossPlace::Calibration) = {true, false, 0.2, "", 295.0};
    ASSERT_TRUE(store(c));
    set("listField", "140, 150");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    ASSERT_EQ(m_page->rows().size(), 2u);
    EXPECT_EQ(correctedFor(), "corrected for: output loss 1.00 dB at 280 K, calibration path "
                              "loss 0.20 dB at 295 K");
    ASSERT_TRUE(store({}));
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    ASSERT_EQ(m_page->rows().size(), 2u);
    EXPECT_EQ(correctedFor(), "");
}

// Limits (stored where Measure Device keeps them): the verdict column, the plot's marks and
// dashed lines, the summary; a limit exactly
// at a point's NF makes it INDETERMINATE; a limit table that stops short leaves the points
// beyond it without a verdict (its message) and the line with them; an unreadable table is
// one message and the single values back in force.
TEST_F(SweepPageTest, LimitsMarkEveryPointAndSumThemUp)
{
    set("listField", "140, 142, 144, 146");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    ASSERT_EQ(m_page->rows().size(), 4u);
    auto *table = child<QTableWidget>(m_page, "pointTable");
    auto *plot = child<SweepPlot>(m_page, "sweepPlot");
    QLabel *summary = child<QLabel>(m_page, "summaryLabel");
    EXPECT_TRUE(table->isColumnHidden(6));
    EXPECT_EQ(summary->text(), "");
    table->setFixedWidth(300); // narrower than its columns: it scrolls
    QCoreApplication::processEvents();
    auto limitPixels = [plot] { // the limit lines' red, drawn nowhere else
        const QImage image = plot->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y) == QColor(0xb0, 0x00, 0x20);
        return n;
    };
    EXPECT_EQ(limitPixels(), 0);

    set("nfMax", "5");
    child<QLineEdit>(m_page, "nfMax")->editingFinished(); // kept as Measure Device keeps it
    EXPECT_EQ(SettingsStore().read(keys::LimitNfMax), "5");
    EXPECT_FALSE(table->isColumnHidden(6));
    EXPECT_EQ(summary->text(), "4 PASS");
    EXPECT_EQ(table->item(3, 6)->text(), "PASS");
    EXPECT_EQ(table->item(3, 6)->foreground().color(), QColor(0x1b, 0x7f, 0x3a));
    const auto lines = plot->limitLines(false);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].points.size(), 4u);
    EXPECT_EQ(lines[0].points.back(), QPointF(146, 5));
    EXPECT_TRUE(plot->limitLines(true).empty());
    EXPECT_GT(limitPixels(), 100);

    set("gainMin", "25"); // the bench's DUT has about 20 dB
    EXPECT_EQ(summary->text(), "4 FAIL");
    EXPECT_EQ(plot->marks(true).front().verdict, Verdict::Fail);
    EXPECT_EQ(plot->marks(false).front().verdict, Verdict::Pass);
    set("gainMin", "");
    set("nfMax", QString::number(m_page->rows()[1].nfDb, 'g', 17));
    EXPECT_EQ(table->item(1, 6)->text(), "INDETERMINATE");
    // Shown whole in a table wider than its place (the verdict column was cut to
    // "INDETERMINAT" when the verdicts came after the points).
    EXPECT_GE(table->columnWidth(6), table->sizeHintForIndex(table->model()->index(1, 6)).width());
    EXPECT_EQ(plot->marks(false)[1].verdict, Verdict::Indeterminate);
    set("nfMax", "x"); // not a number: no limit
    EXPECT_EQ(summary->text(), "");

    const QString limitFile = folder() + "/limits.txt";
    std::ofstream(limitFile.toStdString()) << "140, 5, 15\n143, 5, 15\n";
    set("limitFile", limitFile);
    child<QLineEdit>(m_page, "limitFile")->editingFinished();
    EXPECT_FALSE(child<QLineEdit>(m_page, "nfMax")->isEnabled());
    EXPECT_EQ(summary->text(), "2 PASS, 2 no verdict");
    EXPECT_EQ(table->item(3, 6)->text(), "The limit table does not cover 146.000 MHz (it runs "
                                         "from 140.000 MHz to 143.000 MHz): no verdict.");
    // At 140 and 142 MHz and the table's row at 143 MHz between the points.
    ASSERT_EQ(plot->limitLines(false).size(), 1u);
    EXPECT_EQ(plot->limitLines(false)[0].points.size(), 3u);
    EXPECT_EQ(plot->marks(false)[3].verdict, Verdict::None);

    test::BoxCatcher boxes;
    set("nfMax", "5");
    set("limitFile", folder() + "/none.txt");
    child<QLineEdit>(m_page, "limitFile")->editingFinished();
    EXPECT_EQ(boxes.texts, QStringList{"The limit file \"" + folder() +
                                       "/none.txt\" could not be read: No such file or directory"});
    EXPECT_TRUE(child<QLineEdit>(m_page, "nfMax")->isEnabled());
    EXPECT_EQ(summary->text(), "4 PASS");
}

// Reference traces: the sweep's own CSV and a report's JSON load, each named in the list and
// drawn; a file that is neither is one message and nothing loaded; Remove takes the chosen
// one away, the others keeping their order.
TEST_F(SweepPageTest, ReferenceTracesLoadAndGo)
{
    set("listField", "140, 144");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    const QString csv = folder() + "/unit2.csv";
    m_page->setFileDialog([&csv] { return csv; });
    click("exportButton");
    const QString html = folder() + "/unit3.html";
    m_page->setReportDialog([&html] { return html; });
    click("saveReport");

    QString next = csv;
    m_page->setReferenceDialog([&next] { return next; });
    click("addReference");
    next = folder() + "/unit3.json";
    click("addReference");
    ASSERT_EQ(m_page->references().size(), 2u);
    EXPECT_EQ(m_page->references()[0].name, "unit2.csv");
    EXPECT_EQ(m_page->references()[1].points.size(), 2u);
    EXPECT_EQ(m_page->references()[0].points[1].nfDb, m_page->rows()[1].nfDb); // full precision
    EXPECT_NEAR(m_page->references()[1].points[0].gainDb, m_page->rows()[0].gainDb, 1e-9);
    auto *list = child<QListWidget>(m_page, "referenceList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "unit3.json");

    const QString bad = folder() + "/notes.csv";
    std::ofstream(bad.toStdString()) << "Frequency,Level\n144,3\n";
    next = bad;
    {
        test::BoxCatcher boxes;
        click("addReference");
        EXPECT_EQ(boxes.texts,
                  QStringList{"The reference file \"" + bad +
                              "\" holds no sweep results: a CSV file without the columns "
                              "\"Frequency (MHz)\" and \"NF (dB)\" or \"Gain (dB)\"."});
    }
    EXPECT_EQ(m_page->references().size(), 2u);
    EXPECT_EQ(list->count(), 2);

    // One colour each: the list's swatch, the trace and the legend's line on the plot.
    auto *plot = child<SweepPlot>(m_page, "sweepPlot");
    const auto pixels = [plot](const QColor &c) {
        const QImage image = plot->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y) == c;
        return n;
    };
    const auto swatch = [list](int row) {
        return list->item(row)->icon().pixmap(12, 12).toImage().pixelColor(6, 6);
    };
    ASSERT_NE(SweepPlot::referenceColour(0), SweepPlot::referenceColour(1));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(swatch(i), SweepPlot::referenceColour(static_cast<std::size_t>(i)));
        EXPECT_GE(pixels(SweepPlot::referenceColour(static_cast<std::size_t>(i))), 2 * 2 * 16)
            << i; // at least the legend's 16-pixel line, 2 wide, in both panels
    }

    list->setCurrentRow(0);
    click("removeReference");
    ASSERT_EQ(m_page->references().size(), 1u);
    EXPECT_EQ(m_page->references()[0].name, "unit3.json");
    EXPECT_EQ(list->item(0)->text(), "unit3.json");
    // The one left takes the first colour and keeps its file's path.
    EXPECT_EQ(swatch(0), SweepPlot::referenceColour(0));
    EXPECT_EQ(list->item(0)->toolTip(), folder() + "/unit3.json");
    EXPECT_EQ(pixels(SweepPlot::referenceColour(1)), 0);
}

// "Save Report...": not before a sweep; after one, the report of every
// point, whose JSON recomputes them all with the verdicts; a folder that cannot be written is
// one message, nothing left there, the points kept.
TEST_F(SweepPageTest, SaveReportOfTheSweepRecomputes)
{
    EXPECT_FALSE(child<QPushButton>(m_page, "saveReport")->isEnabled()); // no points yet
    set("listField", "140, 142, 144");
    set("nfMax", "5");
    set("dutName", "unit <3>");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    const QString path = folder() + "/sweep.html";
    m_page->setReportDialog([&path] { return path; });
    {
        test::BoxCatcher none;
        click("saveReport");
        EXPECT_TRUE(none.texts.isEmpty()) << none.texts.join('|').toStdString();
    }
    QFile html(path), json(folder() + "/sweep.json");
    ASSERT_TRUE(html.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(page.contains("unit &lt;3&gt;"));
    EXPECT_TRUE(page.contains("Summary: <strong>3 PASS</strong>"));
    EXPECT_TRUE(page.contains("<td>Virtual bench</td>"));
    EXPECT_TRUE(page.contains(QString::number(m_page->rows()[2].nfDb, 'f', 3)));
    // Every number of the table as the page shows it, in strict, self-contained HTML5.
    QStringList shown;
    auto *table = child<QTableWidget>(m_page, "pointTable");
    for (int row = 0; row < table->rowCount(); ++row)
        for (int column = 0; column < table->columnCount(); ++column)
            if (const QTableWidgetItem *cell = table->item(row, column);
                cell && !cell->text().isEmpty())
                shown << cell->text();
    ASSERT_GE(shown.size(), 3 * 5);
    EXPECT_EQ(test::checkReport(path, shown, {"unit <3>"}), "");
    const RecomputeOutcome again = recomputeReport(json.readAll().toStdString());
    EXPECT_TRUE(again.readable);
    EXPECT_EQ(again.compared, 3 * 13);
    EXPECT_TRUE(again.mismatches.empty()) << again.mismatches.front();

    const QString nowhere = folder() + "/none/sweep.html";
    m_page->setReportDialog([&nowhere] { return nowhere; });
    test::BoxCatcher failed;
    click("saveReport");
    EXPECT_EQ(failed.texts, QStringList{"The report \"" + nowhere +
                                        "\" could not be written: No such file or directory."});
    EXPECT_FALSE(std::filesystem::exists((folder() + "/none").toStdString()));
    EXPECT_EQ(m_page->rows().size(), 3u);
}

} // namespace
} // namespace quillon
