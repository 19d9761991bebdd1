// The Measure Noise page on a real capture engine: the virtual bench (as fast as buffers
// come back, fixed seed) for readings against its known levels and for the switch boxes,
// and a test-pattern device that delivers one block of known samples whenever a test asks,
// for exact texts, exact log lines and the hand-over of each block.
#include "pages/MeasureNoisePage.h"
#include "PageTestSupport.h"
#include "app/PropertySheet.h"
#include "app/QuillonEngine.h"
#include "app/SettingsStore.h"
#include "bench/BenchTestSupport.h"
#include "capture/WaveCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

namespace quillon {
namespace {

using test::activeBox;
using test::waitFor;

// One 16-bit device, "Test pattern". Stream::produce fills one block on the test thread:
// +A, -A, ... of full scale on every sample. A = 0.5 reads -6.021 dB, crest factor 1.
class PatternBackend : public AudioBackend
{
public:
    class Stream : public InputStream
    {
    public:
        Stream(PatternBackend &owner, BlockQueue &queue) : InputStream(queue), m_owner(owner) {}
        ~Stream() override { m_owner.m_stream.store(nullptr); }
        int start() override { return kCaptureOk; }
        // Also counts the buffers queued at the open: tests compare counts once active.
        int addBuffer(CaptureHeader &h) override
        {
            m_owner.handedBack.fetch_add(1);
            return InputStream::addBuffer(h);
        }
        void reset() override {}
        void close() override {}
        bool produce(double amplitude) // false when no header is free
        {
            CaptureHeader *h = queue().tryPopFree();
            if (h == nullptr)
                return false;
            const auto a = static_cast<std::int16_t>(std::lround(amplitude * 32768));
            h->bytesRecorded = h->bufferLength / 2 * 2;
            for (std::uint32_t i = 0; i < h->bytesRecorded / 2; ++i) {
                const std::int16_t v = i % 2 == 0 ? a : static_cast<std::int16_t>(-a);
                std::memcpy(h->data + 2 * i, &v, 2); // little-endian, as the format says
            }
            queue().pushFull(h);
            return true;
        }

    private:
        PatternBackend &m_owner;
    };

    int deviceCount() override { return 1; }
    bool deviceCaps(int, DeviceCaps &caps) override
    {
        caps.productName = "Test pattern";
        caps.formats = 0xFFFFF;
        return true;
    }
    int open(int, const CaptureFormat &, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        auto s = std::make_unique<Stream>(*this, queue);
        m_stream.store(s.get());
        stream = std::move(s);
        return kCaptureOk;
    }
    Stream *stream() { return m_stream.load(); }
    std::atomic<int> handedBack{0}; // blocks re-queued by the capture callback

private:
    std::atomic<Stream *> m_stream{nullptr};
};

// Runs `step`; aborts the program with its name if it has not returned after 60 s, so
// that a deadlock shows as a named failure instead of a silent time-out.
void mustReturn(const char *what, const std::function<void()> &step)
{
    std::promise<void> done;
    std::thread watchdog([returned = done.get_future(), what] {
        if (returned.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
            std::fprintf(stderr, "HANG: %s did not return\n", what);
            std::abort();
        }
    });
    step();
    done.set_value();
    watchdog.join();
}

constexpr std::uint32_t kCaptureMs = 100;

class MeasureNoisePageTest : public test::PageTest
{
protected:
    // Format row 8 (44.1 kHz mono 16-bit), 100 ms blocks, the pattern device; the bench
    // at speed 0 with a fixed seed.
    void SetUp() override
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_pattern};
        m_engine = std::make_unique<QuillonEngine>(m_sink, std::move(options));
        settings().waveInFormat = 8;
        applyFormatRow(settings(), 8);
        settings().captureTimeMs = kCaptureMs;
        settings().waveInDevice = 0;
        BenchParameters bench;
        bench.speed = 0.0;
        bench.seed = 20260612;
        m_engine->bench().setParameters(bench);
    }
    Settings &settings() { return m_engine->settings(); }
    void useBench() { settings().waveInDevice = m_engine->benchDevice(); }
    void useBenchSwitch()
    {
        settings().automationDeviceName = "Virtual bench";
        settings().automationPresent = true;
    }
    void logTo(const char *name)
    {
        settings().logMeasurements = true;
        settings().logResultsFile = (folder() + "/" + name).toStdString();
    }
    std::string log()
    {
        QFile file(folder() + "/measure.log");
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "";
    }

    // The page as the sheet makes it: constructed (settings loaded), then activated; with
    // `inSheet` it belongs to a sheet and is its active page.
    measure &makePage(bool inSheet = false)
    {
        m_store = std::make_unique<SettingsStore>();
        m_page = std::make_unique<measure>(*m_engine, *m_store);
        m_pagePtr = m_page.get();
        m_page->setLogClock([] { return LocalDateTime{2026, 12, 6, 2, 8, 33}; });
        m_page->setMessageObserver([this](int id) { m_shown.push_back(id); });
        if (inSheet) {
            m_sheet = std::make_unique<CQuillonPropertySheet>();
            m_sheet->addPage(m_page.release());
            m_sheet->setActivePage(m_pagePtr);
        } else {
            m_pagePtr->activate();
        }
        return *m_pagePtr;
    }

    template <typename T> T *find(const char *name) { return child<T>(m_pagePtr, name); }
    QLineEdit *field(const char *name) { return find<QLineEdit>(name); }
    QString text(const char *name) { return field(name)->text(); }
    double value(const char *name) { return text(name).toDouble(); } // blanks are ignored
    void click(const char *name) { find<QAbstractButton>(name)->click(); }

    // One pattern block through the page: produced, measured, shown and handed back.
    bool feedBlock(double amplitude = 0.5)
    {
        const int before = m_pattern.handedBack.load();
        const int position = m_pagePtr->lastShownBlock() + 1;
        PatternBackend::Stream *stream = m_pattern.stream();
        return stream != nullptr && stream->produce(amplitude) && waitFor([&] {
                   return m_pattern.handedBack.load() == before + 1 &&
                          m_pagePtr->lastShownBlock() == position;
               });
    }
    // Bench: waits for a block measured at least `blocks` blocks after this call (the
    // delivery thread may be ahead of the fields).
    bool waitBlocks(int blocks)
    {
        const int target =
            std::max(m_pagePtr->lastShownBlock(), m_engine->capture().blockCounter()) + blocks;
        return waitFor([&] { return m_pagePtr->lastShownBlock() >= target; });
    }
    // The bench's 5-sigma spread of the mean level of `averaged` blocks, in dB.
    double benchTolerance(double averaged)
    {
        const CaptureFormat format = m_engine->capture().format();
        const BenchParameters &p = m_engine->bench().parameters();
        const double sigma = benchtest::varianceRelativeSigma(
            format.samplesPerSec, p.passbandLowHz, p.passbandHighHz,
            format.samplesPerSec * kCaptureMs / 1000);
        return 10 * std::log10(1 + 5 * sigma / std::sqrt(averaged));
    }

    PatternBackend m_pattern; // members are destroyed from the sheet up to the device
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<measure> m_page; // empty once the page is handed to m_sheet
    measure *m_pagePtr = nullptr;
    std::unique_ptr<CQuillonPropertySheet> m_sheet;
    std::vector<int> m_shown;
};

// ---- Page set-up ----

TEST_F(MeasureNoisePageTest, LoadsAndSavesItsThreeValuesAndMakesTheResultFont)
{
    SettingsStore().write(keys::TraceAverageCount, 12);
    SettingsStore().write(keys::ResultFontSize, 30);
    measure &page = makePage();
    EXPECT_FALSE(page.averagingEnabled());
    EXPECT_EQ(page.resultFont().weight(), QFont::Medium);
    EXPECT_EQ(field("dbField")->font().pixelSize(), 30);
    auto *list = find<QComboBox>("averageCount");
    EXPECT_EQ(list->count(), 31);
    EXPECT_EQ(list->itemText(30), "31");
    EXPECT_EQ(list->currentIndex(), 11);
    EXPECT_EQ(find<QPushButton>("saveAsDefault")->text(), "Save as Defaut");
    EXPECT_EQ(find<QLabel>("helpHint")->text(), "Press F1 for help on any screen");
    EXPECT_TRUE(page.capturing());
    EXPECT_LE(page.sizeHint().width(), 620); // fits the fixed window
    EXPECT_LE(page.sizeHint().height(), 520);

    click("averageEnable");
    list->setCurrentIndex(6);
    emit list->activated(6);
    EXPECT_EQ(page.averagingCount(), 7);
    SettingsStore().write(keys::ResultFontSize, 31); // the save must write the page's 30
    click("saveAsDefault");
    EXPECT_TRUE(m_shown.empty());
    SettingsStore reread;
    EXPECT_EQ(reread.read(keys::TraceAverageCount), 7);
    EXPECT_EQ(reread.read(keys::TraceAverageFlag), 1);
    EXPECT_EQ(reread.read(keys::ResultFontSize), 30);
}

TEST_F(MeasureNoisePageTest, ACountOfZeroSelectsNothingAndTheAverageWaits)
{
    SettingsStore().write(keys::TraceAverageFlag, 1);
    SettingsStore().write(keys::TraceAverageCount, 0);
    measure &page = makePage();
    EXPECT_TRUE(page.averagingEnabled());
    EXPECT_EQ(find<QComboBox>("averageCount")->currentIndex(), -1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(feedBlock());
        EXPECT_EQ(text("averagedField"), " Wait...");
    }
}

TEST_F(MeasureNoisePageTest, AFailedSaveTriesAllThreeAndShowsItsMessageOnce)
{
    // Tests run as root: a store below a regular file cannot be written.
    QFile blocker(folder() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker.fileName());
    makePage();
    int attempts = 0;
    m_store->setWriteObserver([&](const char *, bool) { ++attempts; });
    test::BoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(m_shown, std::vector<int>{kMsgSaveFailed});
    EXPECT_EQ(boxes.texts,
              QStringList{"Saving parameters to the registry failed for some reason."});
}

// ---- Readings ----

TEST_F(MeasureNoisePageTest, FirstAveragedBlockWaitsAndEveryActivationStartsAgain)
{
    m_engine->bench().setOutputs(true, true);
    measure &page = makePage();
    // Without a switch port the boxes are off and nothing is sent.
    EXPECT_FALSE(find<QGroupBox>("switchingGroup")->isEnabled());
    EXPECT_TRUE(m_engine->bench().noiseOn());
    click("averageEnable");
    page.setAveragingCount(4);
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), " Wait...");
    ASSERT_TRUE(feedBlock(0.25)); // -12.041: the first block takes no part
    EXPECT_EQ(text("averagedField"), " -12.041");
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), " -9.031");

    page.OnKillActive(); // leaving stops the capture; coming back starts afresh
    EXPECT_FALSE(m_engine->capture().running());
    page.activate();
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(page.lastShownBlock(), 0);
    EXPECT_EQ(text("averagedField"), " Wait...");

    click("averageEnable"); // unchecking empties the field for good
    EXPECT_EQ(text("averagedField"), "");
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), "");
}

TEST_F(MeasureNoisePageTest, KnownBlocksGiveExactTextsAndStoreKeepsTheReference)
{
    settings().decimalPointsInResults = 2;
    measure &page = makePage();
    click("storeButton"); // before the first block the reading is 0.0
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("dbField"), " -6.02");
    EXPECT_EQ(text("crestField"), " 1.00");
    EXPECT_EQ(text("averagedField"), "");
    EXPECT_EQ(text("relativeField"), " -6.02");
    click("storeButton");
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("relativeField"), " -6.02"); // -12.04 - (-6.02)
    ASSERT_TRUE(feedBlock(0.0));                // silence: -120 dB, crest factor undefined
    EXPECT_EQ(text("dbField"), " -120.00");
    EXPECT_EQ(text("crestField"), " Error");

    // An averaged " Wait..." is not a reading to keep: the old reference stays.
    page.OnKillActive();
    page.setAveragingEnabled(true);
    page.activate();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("relativeField"), " Wait...");
    click("storeButton");
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("relativeField"), " -6.02");
}

TEST_F(MeasureNoisePageTest, BenchLevelsAndSwitchBoxesMovingThemByTheYFactor)
{
    useBench();
    useBenchSwitch();
    m_engine->bench().setOutputs(true, true); // activation re-sends the page's states
    measure &page = makePage();
    page.setAveragingEnabled(true);
    page.setAveragingCount(8);
    EXPECT_FALSE(m_engine->bench().noiseOn());
    EXPECT_FALSE(m_engine->bench().dutIn());
    EXPECT_TRUE(find<QGroupBox>("switchingGroup")->isEnabled());

    const BenchTruth truth = m_engine->bench().truth();
    const double tolerance = benchTolerance(8);
    // Two blocks may already be filled when a box is clicked; then eight all new.
    const auto settledAverage = [&] {
        EXPECT_TRUE(waitBlocks(12));
        return value("averagedField");
    };
    const double off = settledAverage();
    EXPECT_NEAR(off, truth.states[0].levelDbfs, tolerance);
    EXPECT_NEAR(value("dbField"), truth.states[0].levelDbfs, benchTolerance(1));
    EXPECT_GT(value("crestField"), 2.0); // Gaussian noise: a few
    EXPECT_LT(value("crestField"), 7.0);
    click("noiseSwitch");
    EXPECT_TRUE(m_engine->bench().noiseOn());
    EXPECT_NEAR(settledAverage() - off, 10 * std::log10(truth.ySystem), 2 * tolerance);
    click("dutSwitch");
    EXPECT_TRUE(m_engine->bench().dutIn());
    EXPECT_NEAR(settledAverage(), truth.states[3].levelDbfs, tolerance);
}

// ---- The log ----

TEST_F(MeasureNoisePageTest, LogLinesHaveTwoResultsOrThreeWithAveragingAndTheSwitchStates)
{
    useBenchSwitch();
    logTo("measure.log");
    measure &page = makePage();
    click("storeButton"); // the relative reading is never logged
    ASSERT_TRUE(feedBlock(0.5));
    page.OnKillActive();
    page.setAveragingEnabled(true);
    page.activate();
    click("noiseSwitch");
    click("dutSwitch");
    ASSERT_TRUE(feedBlock(0.5));
    ASSERT_TRUE(feedBlock(0.25));
    const std::string off = "Measure,12/6/26 2:08:33,Noise Off,DUT out of Circuit, ";
    const std::string on = "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit, ";
    const std::string lines = off + " -6.021, 1.000,\n" + on + " -6.021, Wait..., 1.000,\n" + on +
                              " -12.041, -12.041, 1.000,\n";
    EXPECT_EQ(log(), lines);

    page.OnKillActive(); // logging off: no further line
    settings().logMeasurements = false;
    page.activate();
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(log(), lines);
}

TEST_F(MeasureNoisePageTest, AFailedLogOpenHoldsTheBlockUntilTheBoxIsClosed)
{
    logTo("no such folder/measure.log");
    measure &page = makePage();
    for (int block = 0; block < 2; ++block) {
        const int before = m_pattern.handedBack.load();
        ASSERT_TRUE(m_pattern.stream()->produce(0.5));
        ASSERT_TRUE(waitFor([] { return activeBox() != nullptr; }));
        QMessageBox *box = activeBox();
        EXPECT_EQ(box->text(), "Error - Cannot open log file.");
        EXPECT_EQ(box->windowTitle(), "Quillon");
        // The readings are shown, but the buffer is still held by the callback.
        ASSERT_TRUE(waitFor([&] { return page.lastShownBlock() == block; }));
        EXPECT_EQ(text("dbField"), " -6.021");
        EXPECT_EQ(m_pattern.handedBack.load(), before);
        box->button(QMessageBox::Ok)->click();
        ASSERT_TRUE(waitFor([&] { return m_pattern.handedBack.load() == before + 1; }));
    }
    EXPECT_EQ(m_shown, (std::vector<int>{kMsgCannotOpenLog, kMsgCannotOpenLog}));
    EXPECT_TRUE(page.capturing());
}

// ---- Stopping while the callback waits for the log box ----

class MeasureNoiseStop : public MeasureNoisePageTest
{
protected:
    // Activates the page (made now unless a test made it) with a log that cannot be
    // opened, and leaves the callback waiting for its box with a second block behind it.
    measure &pageWithBoxUp(bool inSheet = false)
    {
        logTo("missing/measure.log");
        measure &page = makePage(inSheet);
        EXPECT_TRUE(page.capturing());
        EXPECT_TRUE(m_pattern.stream()->produce(0.5));
        EXPECT_TRUE(m_pattern.stream()->produce(0.5));
        EXPECT_TRUE(waitFor([] { return activeBox() != nullptr; }));
        return page;
    }
};

TEST_F(MeasureNoiseStop, LeavingThePageReleasesTheCallbackAndTheBox)
{
    measure &page = pageWithBoxUp();
    mustReturn("OnKillActive with the log box up", [&] { page.OnKillActive(); });
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_TRUE(waitFor([] { return activeBox() == nullptr; }));
    QCoreApplication::processEvents(); // no stale box turns up, and the page starts again
    EXPECT_EQ(activeBox(), nullptr);
    settings().logMeasurements = false;
    page.activate();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("dbField"), " -12.041");
}

TEST_F(MeasureNoiseStop, ClosingTheWindowReturns)
{
    pageWithBoxUp(true);
    mustReturn("closing the window with the log box up", [&] { m_sheet->close(); });
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_TRUE(waitFor([] { return activeBox() == nullptr; }));
}

TEST_F(MeasureNoiseStop, AStopThatBypassesThePageAlsoReturns)
{
    measure &page = pageWithBoxUp();
    // E.g. the engine's own shutdown.
    mustReturn("StopCapture with the log box up", [&] { m_engine->capture().StopCapture(); });
    EXPECT_FALSE(page.capturing());
    // The box is left over but harmless: closing it releases nothing that still runs.
    if (QMessageBox *box = activeBox())
        box->button(QMessageBox::Ok)->click();
    mustReturn("destroying the page", [&] { m_page.reset(); });
}

TEST_F(MeasureNoiseStop, DestroyingTheActivePageStopsItsCapture)
{
    pageWithBoxUp();
    mustReturn("destroying the page with the log box up", [&] { m_page.reset(); });
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_EQ(activeBox(), nullptr);
}

TEST_F(MeasureNoiseStop, LeavingAndClosingDuringAFastBenchCaptureReturn)
{
    useBench();
    measure &page = makePage(true);
    ASSERT_TRUE(waitBlocks(20));
    for (int round = 0; round < 3; ++round) {
        mustReturn("leaving the page during a capture", [&] { page.OnKillActive(); });
        EXPECT_FALSE(m_engine->capture().running());
        page.activate();
        ASSERT_TRUE(waitBlocks(3));
    }
    mustReturn("closing the window during a capture", [&] { m_sheet->close(); });
    EXPECT_FALSE(m_engine->capture().running());
}

} // namespace
} // namespace quillon
