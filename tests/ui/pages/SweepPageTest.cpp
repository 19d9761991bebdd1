// Sweep page on the bench: Start fills the table and the plot and Export CSV writes them;
// Stop and closing the window during a settle end the sweep at once.
#include "ui/pages/SweepPage.h"
#include "PageTestSupport.h"
#include "capture/WaveFormat.h"
#include "core/SettingsStore.h"
#include "measure/CorrectionSettings.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "rig/RigSettings.h"
#include "ui/MainWindow.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

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
// rows and the exported CSV carry them. A table that does not reach a point of the plan
// refuses the sweep before its first point, with the message naming it.
TEST_F(SweepPageTest, StoredCorrectionsApplyAtEveryPointOrRefuseTheSweep)
{
    const std::string table = (folder() + "/after.txt").toStdString();
    std::ofstream(table) << "100, 0.5\n200, 1.5\n";
    CorrectionSettings c;
    c.at(LossPlace::Output) = {true, true, 0.0, table, 280.0};
    {
        SettingsStore store(kCorrectionsGroup);
        ASSERT_TRUE(saveCorrectionSettings(store, c).ok());
    }
    set("listField", "140, 150");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !m_page->sweeping(); }));
    ASSERT_EQ(m_page->rows().size(), 2u);
    EXPECT_EQ(m_page->rows()[0].outputLossDb, 0.9);
    EXPECT_EQ(m_page->rows()[1].correctedFor, "corrected for: output loss 1.00 dB at 280 K");
    EXPECT_NE(sweepCsv(m_page->rows()).find("Corrected for\r\n140,"), std::string::npos);

    test::BoxCatcher boxes;
    set("listField", "150, 250");
    click("startButton");
    ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts.front(), "Output loss table after.txt: the loss table does not cover "
                                   "the frequency 250.000 MHz.");
    EXPECT_FALSE(m_page->sweeping());
    EXPECT_EQ(m_page->rows().size(), 2u); // the last sweep's, untouched
}

} // namespace
} // namespace quillon
