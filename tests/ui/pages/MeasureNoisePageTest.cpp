// Measure Noise page on a real capture engine: the bench for levels, a pattern for exact texts.
#include "ui/pages/MeasureNoisePage.h"
#include "PageTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/pages/PropertyPage.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "core/SettingsStore.h"
#include "capture/WaveCapture.h"
#include "support/FakeDevices.h"
#include "support/PcmBlocks.h"

#include <QComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <atomic>
#include <cmath>

namespace quillon {
namespace {

using test::activeBox, test::mustReturn, test::waitFor;

// "Test pattern", any format. produce() fills one block on the test thread with +A, -A, ...
// of full scale (16-bit): A = 0.5 reads -6.021 dB, crest factor 1.
struct PatternBackend : test::NamedDevices
{
    struct Stream : InputStream
    {
        using InputStream::InputStream;
        int start() override { return kCaptureOk; }
        int addBuffer(CaptureHeader &h) override // counts the open's buffers too
        {
            ++handedBack;
            return InputStream::addBuffer(h);
        }
        void reset() override {}
        void close() override {}
    };

    PatternBackend() : NamedDevices({{"Test pattern", 0xFFFFF}}) {}
    int open(int, const CaptureFormat &, BlockQueue &q, std::unique_ptr<InputStream> &s) override
    {
        s = std::make_unique<Stream>(*(queue = &q));
        return kCaptureOk;
    }
    bool produce(double amplitude) // false when no buffer is free
    {
        const long a = std::lround(amplitude * 32768);
        return test::handOver16(*queue, [=](std::uint32_t i) {
            return static_cast<std::int16_t>(i % 2 == 0 ? a : -a);
        });
    }
    BlockQueue *queue = nullptr;                  // the capture's, the same for every stream
    static inline std::atomic<int> handedBack{0}; // buffers re-queued; compared, never reset
};

class MeasureNoisePageTest : public test::PageTest
{
protected:
    void SetUp() override // the pattern device, format row 8 (44.1 kHz mono 16-bit), 100 ms
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_pattern};
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
        settings().captureTimeMs = 100;
    }
    Settings &settings() { return m_engine->settings(); }

    // Constructed (settings loaded), then activated; with `inSheet` the sheet's active page.
    MeasureNoisePage &makePage(bool inSheet = false)
    {
        m_store = std::make_unique<SettingsStore>();
        m_shared.load(*m_store);
        m_page = std::make_unique<MeasureNoisePage>(*m_engine, *m_store, m_shared);
        m_pagePtr = m_page.get();
        m_page->setLogClock([] { return LocalDateTime{2026, 12, 6, 2, 8, 33}; });
        if (inSheet) {
            m_sheet = std::make_unique<MainWindow>();
            m_sheet->addPage(m_page.release());
            m_sheet->setActivePage(m_pagePtr);
        } else {
            m_pagePtr->activate();
        }
        return *m_pagePtr;
    }
    QString text(const char *name) { return child<QLineEdit>(m_pagePtr, name)->text(); }
    void click(const char *name) { child<QAbstractButton>(m_pagePtr, name)->click(); }

    // One pattern block through the page: produced, measured, shown and handed back.
    bool feedBlock(double amplitude)
    {
        const int before = m_pattern.handedBack.load();
        const int position = m_pagePtr->lastShownBlock() + 1;
        return m_pattern.produce(amplitude) && waitFor([&] {
                   return m_pattern.handedBack.load() == before + 1 &&
                          m_pagePtr->lastShownBlock() == position;
               });
    }
    // Bench: a block measured at least `blocks` after this call (delivery may be ahead).
    bool waitBlocks(int blocks)
    {
        const int target =
            std::max(m_pagePtr->lastShownBlock(), m_engine->capture().blockCounter()) + blocks;
        return waitFor([&] { return m_pagePtr->lastShownBlock() >= target; });
    }

    PatternBackend m_pattern; // members are destroyed from the sheet up to the device
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    SharedValues m_shared;
    std::unique_ptr<MeasureNoisePage> m_page; // empty once the page is handed to m_sheet
    MeasureNoisePage *m_pagePtr = nullptr;
    std::unique_ptr<MainWindow> m_sheet;
};

TEST_F(MeasureNoisePageTest, LoadsAndSavesItsThreeValuesOrShowsOneMessage)
{
    SettingsStore().write(keys::TraceAverageCount, 12);
    SettingsStore().write(keys::ResultFontSize, 30);
    m_engine->bench().setOutputs(true, true);
    MeasureNoisePage &page = makePage();
    // Without a switch port the boxes are off and nothing is sent.
    EXPECT_FALSE(child<QGroupBox>(&page, "switchingGroup")->isEnabled());
    EXPECT_TRUE(m_engine->bench().noiseOn());
    EXPECT_EQ(page.resultFont().weight(), QFont::Medium);
    EXPECT_EQ(child<QLineEdit>(&page, "dbField")->font().pixelSize(), 30);
    auto *list = child<QComboBox>(&page, "averageCount");
    EXPECT_EQ(list->count(), 31);
    EXPECT_EQ(list->currentIndex(), 11);
    EXPECT_EQ(child<QPushButton>(&page, "saveAsDefault")->text() + ", " +
                  child<QLabel>(&page, "helpHint")->text(),
              "Save as Defaut, Press F1 for help on any screen");
    click("averageEnable");
    list->setCurrentIndex(6);
    emit list->activated(6);
    SettingsStore().write(keys::ResultFontSize, 31); // the save must write the page's 30
    click("saveAsDefault");
    const SettingsStore saved;
    EXPECT_EQ(QString::asprintf("%d %d %d", saved.read(keys::TraceAverageCount),
                                saved.read(keys::TraceAverageFlag),
                                saved.read(keys::ResultFontSize)),
              "7 1 30");
    SettingsStore().write(keys::TraceAverageCount, 0); // selects nothing; the average waits
    makePage();
    EXPECT_EQ(child<QComboBox>(m_pagePtr, "averageCount")->currentIndex(), -1);
    ASSERT_TRUE(feedBlock(0.5) && feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), messageText(kMsgWait));
    // Root ignores permission bits: a store below a regular file cannot be written.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, writeFile("blocker", ""));
    makePage();
    test::BoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgSaveFailed)});
}

// Fields: level, crest factor, averaged, relative. A = 0.5 reads -6.021 dB, 0.25 -12.041.
TEST_F(MeasureNoisePageTest, KnownBlocksGiveExactTextsAndLogLines)
{
    settings().switchPortName = "Virtual bench";
    settings().switchPortChosen = true;
    MeasureNoisePage &page = makePage();
    const auto feed = [&](bool store, double amplitude, const char *shown) {
        if (store)
            click("storeButton");
        ASSERT_TRUE(feedBlock(amplitude));
        EXPECT_EQ(text("dbField") + "|" + text("crestField") + "|" + text("averagedField") + "|" +
                      text("relativeField"),
                  shown);
    };
    feed(true, 0.5, " -6.021| 1.000|| -6.021"); // stored before the first block: 0.0
    feed(true, 0.25, " -12.041| 1.000|| -6.021");
    auto *lost = child<QLabel>(&page, "lostAudio");
    EXPECT_EQ(lost->text(), "");
    m_pattern.queue->addLostFrames(4410); // the device found no free buffer for 100 ms
    feed(false, 0.0, " -120.000| Error|| -113.979"); // silence: crest factor undefined
    EXPECT_EQ(lost->text(), "Audio lost: 1 gap, 100.0 ms");
    page.deactivatePage(); // coming back starts afresh
    click("averageEnable");
    page.setAveragingCount(4);
    settings().logMeasurements = true;
    settings().logResultsFile = (folder() + "/measure.log").toStdString();
    page.activate();
    click("noiseSwitch");
    click("dutSwitch");
    feed(false, 0.5, " -6.021| 1.000| Wait...| Wait...");
    EXPECT_EQ(lost->text(), ""); // a new capture has lost nothing
    feed(true, 0.25, " -12.041| 1.000| -12.041| -6.021"); // Wait... is not kept; 1st not averaged
    feed(false, 0.5, " -6.021| 1.000| -9.031| -3.010");
    click("averageEnable"); // unchecking empties the field for good
    click("noiseSwitch");
    feed(false, 0.25, " -12.041| 1.000|| -6.021");
    QFile log(folder() + "/measure.log"); // the relative reading is never logged
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString on = "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit, ";
    EXPECT_EQ(log.readAll(),
              on + " -6.021, Wait..., 1.000,\n" + on + " -12.041, -12.041, 1.000,\n" + on +
                  " -6.021, -9.031, 1.000,\n" +
                  "Measure,12/6/26 2:08:33,Noise Off,DUT in Circuit,  -12.041, 1.000,\n");
}

TEST_F(MeasureNoisePageTest, BenchLevelsSwitchBoxesAndStopsDuringAFastCapture)
{
    settings().waveInDevice = m_engine->benchDevice();
    m_engine->bench().setParameters({.seed = 20260612, .speed = 0.0}); // as fast as it can
    settings().switchPortName = "Virtual bench";
    settings().switchPortChosen = true;
    m_engine->bench().setOutputs(true, true); // activation re-sends the page's states
    MeasureNoisePage &page = makePage(true);
    page.setAveragingEnabled(true);
    page.setAveragingCount(8);
    EXPECT_FALSE(m_engine->bench().noiseOn() || m_engine->bench().dutIn());
    EXPECT_TRUE(child<QGroupBox>(&page, "switchingGroup")->isEnabled());
    const BenchTruth truth = m_engine->bench().truth();
    const double tolerance = 0.38;    // dB: 5 sigma of the mean level of 8 blocks of bench noise
    const auto settledAverage = [&] { // two blocks may be filled at a click; then eight new
        EXPECT_TRUE(waitBlocks(12));
        return text("averagedField").toDouble();
    };
    const double off = settledAverage();
    EXPECT_NEAR(off, truth.states[0].levelDbfs, tolerance);
    click("noiseSwitch");
    EXPECT_NEAR(settledAverage() - off, 10 * std::log10(truth.ySystem), 2 * tolerance);
    click("dutSwitch");
    EXPECT_NEAR(settledAverage(), truth.states[3].levelDbfs, tolerance);
    mustReturn([&] { page.deactivatePage(); });
    EXPECT_FALSE(m_engine->capture().running());
    page.activate();
    ASSERT_TRUE(waitBlocks(3));
    mustReturn([&] { m_sheet->close(); });
    EXPECT_FALSE(m_engine->capture().running());
}

class MeasureNoiseLogBox : public MeasureNoisePageTest, public ::testing::WithParamInterface<bool>
{
protected:
    int openBoxes()
    {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            n += w->isVisible() && qobject_cast<QMessageBox *>(w) != nullptr;
        return n;
    }
};

// What a user did: logging on with the log in a missing folder, 100 ms blocks, both capture
// buffers full. One box, which holds nothing: the meter keeps measuring behind it, a second
// failing block opens no second box (after OK neither), and the user can change to another
// tab and close the window, with the box still up (true) or after OK (false).
TEST_P(MeasureNoiseLogBox, OneBoxPerFailureAndTheWindowStaysUsable)
{
    const bool leaveBoxUp = GetParam();
    settings().logMeasurements = true;
    settings().logResultsFile = (folder() + "/missing/measure.log").toStdString();
    MeasureNoisePage &page = makePage(true);
    auto *other = new PropertyPage(QStringLiteral("Other"), QStringLiteral("setup"));
    m_sheet->addPage(other);
    m_sheet->show();

    const int before = m_pattern.handedBack.load();
    ASSERT_TRUE(m_pattern.produce(0.5) && m_pattern.produce(0.25));
    ASSERT_TRUE(waitFor([&] { return page.logFailureBox() != nullptr; }));
    QMessageBox *box = page.logFailureBox();
    EXPECT_EQ(box->text(), messageText(kMsgCannotOpenLog));
    EXPECT_EQ(box->windowTitle(), kApplicationName);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    // Both blocks were measured, shown and handed back while the box is up.
    ASSERT_TRUE(waitFor([&] { return m_pattern.handedBack.load() == before + 2; }));
    ASSERT_TRUE(waitFor([&] { return page.lastShownBlock() == 1; }));
    EXPECT_EQ(text("dbField"), " -12.041");
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(openBoxes(), 1);

    if (!leaveBoxUp) {
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return page.logFailureBox() == nullptr; }));
        ASSERT_TRUE(feedBlock(0.25)); // the same failure goes on: no new box
        QCoreApplication::processEvents();
        EXPECT_EQ(openBoxes(), 0);
    }

    // Another tab, as the user clicks it: the capture stops and a box still up goes with it.
    QTabBar *bar = m_sheet->tabs()->tabBar();
    mustReturn([&] { QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center()); });
    EXPECT_EQ(m_sheet->activePage(), other);
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_TRUE(waitFor([&] { return openBoxes() == 0; }));

    // Back on the page the next failure is reported again, then the window closes under it.
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    ASSERT_TRUE(m_pattern.produce(0.5));
    ASSERT_TRUE(waitFor([&] { return page.logFailureBox() != nullptr; }));
    mustReturn([&] { m_sheet->close(); });
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_FALSE(m_sheet->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Ways, MeasureNoiseLogBox, ::testing::Bool());

} // namespace
} // namespace quillon
