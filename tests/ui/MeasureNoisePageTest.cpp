// The Measure Noise page on a real capture engine: the virtual bench (as fast as buffers
// come back, fixed seed) for readings against its known levels and for the switch boxes,
// and a test-pattern device that delivers one block of known samples whenever a test asks,
// for exact texts, exact log lines and the hand-over of each block.

#include "pages/MeasureNoisePage.h"
#include "app/Messages.h"
#include "app/PropertySheet.h"
#include "app/QuillonEngine.h"
#include "app/SettingsStore.h"
#include "app/SettingsTestSupport.h"
#include "bench/BenchTestSupport.h"
#include "capture/AudioBackend.h"
#include "capture/WaveCapture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace quillon {
namespace {

// ---- Test doubles ----

struct RecordingSink : MessageSink
{
    void showMessage(int id) override { ids.push_back(id); }
    std::vector<int> ids;
};

// One device, "Test pattern". A block is produced only when the test calls produce(): the
// first channel alternates +A, -A (A = `amplitude` of full scale), any second channel is 0.
// A = 0.5 reads L = 0.5 exactly: -6.021 dB and crest factor 1.
class PatternBackend : public AudioBackend
{
public:
    class Stream : public InputStream
    {
    public:
        Stream(PatternBackend &owner, BlockQueue &queue, const CaptureFormat &format)
            : InputStream(queue), m_owner(owner), m_format(format)
        {
        }
        ~Stream() override { m_owner.m_stream.store(nullptr); }
        int start() override
        {
            m_started = true;
            return kCaptureOk;
        }
        // After the start, every call is a callback handing its block back.
        int addBuffer(CaptureHeader &h) override
        {
            if (m_started)
                m_owner.handedBack.fetch_add(1);
            return InputStream::addBuffer(h);
        }
        void reset() override {}
        void close() override {}

        // Test thread (the producer): fills the next free header; false when none is free.
        bool produce(double amplitude)
        {
            CaptureHeader *h = queue().tryPopFree();
            if (h == nullptr)
                return false;
            const int bytes = m_format.bitsPerSample / 8;
            const std::int32_t a = static_cast<std::int32_t>(
                std::lround(amplitude * (1 << (m_format.bitsPerSample - 1))));
            const std::uint32_t frames = h->bufferLength / m_format.blockAlign;
            std::memset(h->data, 0, h->bufferLength);
            for (std::uint32_t i = 0; i < frames; ++i) {
                const std::int32_t v = (i % 2 == 0) ? a : -a;
                std::uint8_t *p = h->data + std::size_t{i} * m_format.blockAlign;
                for (int b = 0; b < bytes; ++b)
                    p[b] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) >> (8 * b)) &
                                                     0xFF);
            }
            h->bytesRecorded = frames * m_format.blockAlign;
            queue().pushFull(h);
            return true;
        }

    private:
        PatternBackend &m_owner;
        CaptureFormat m_format;
        std::atomic<bool> m_started{false};
    };

    int deviceCount() override { return 1; }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        if (device != 0)
            return false;
        caps.productName = "Test pattern";
        caps.formats = 0xFFFFF;
        return true;
    }
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        if (device != 0)
            return kCaptureBadDevice;
        auto s = std::make_unique<Stream>(*this, queue, format);
        m_stream.store(s.get());
        stream = std::move(s);
        return kCaptureOk;
    }
    Stream *stream() { return m_stream.load(); }

    std::atomic<int> handedBack{0}; // blocks re-queued by the capture callback

private:
    std::atomic<Stream *> m_stream{nullptr};
};

// Aborts the test program with a message when a step that must return promptly hangs, so
// that a deadlock shows as a failure with its name instead of a silent time-out.
class HangGuard
{
public:
    explicit HangGuard(const char *what)
        : m_thread([this, what] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::seconds(60), [this] { return m_finished; })) {
                  std::fprintf(stderr, "HANG: %s did not return\n", what);
                  std::abort();
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Runs the window thread's events until `condition` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QMessageBox *activeBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

// Reads a number shown in a result field (" -37.210").
double fieldValue(const QLineEdit *field)
{
    return field->text().trimmed().toDouble();
}

std::string readFile(const QString &path)
{
    std::ifstream in(path.toStdString());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- Fixture ----

constexpr int kFormatRow = 8;
constexpr std::uint32_t kCaptureMs = 100;
const LocalDateTime kFixedTime{2026, 12, 6, 2, 8, 33}; // "12/6/26 2:08:33"

class MeasureNoisePageTest : public test::TempSettingsTest
{
protected:
    static void SetUpTestSuite()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_measure_noise_page";
        static char *argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr)
            s_app = new QApplication(argc, argv);
    }

    void SetUp() override
    {
        TempSettingsTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_pattern};
        m_engine = std::make_unique<QuillonEngine>(m_sink, std::move(options));
        Settings &s = settings();
        s.waveInFormat = kFormatRow;
        applyFormatRow(s, kFormatRow);
        s.captureTimeMs = kCaptureMs;
        s.waveInDevice = 0; // the pattern
        BenchParameters bench;
        bench.speed = 0.0;
        bench.seed = 20260612;
        m_engine->bench().setParameters(bench);
    }

    void TearDown() override
    {
        m_sheet.reset();
        m_page.reset();
        m_store.reset();
        m_engine.reset();
        TempSettingsTest::TearDown();
    }

    Settings &settings() { return m_engine->settings(); }
    void useBench() { settings().waveInDevice = m_engine->benchDevice(); }
    void useVirtualBenchSwitch()
    {
        settings().automationDeviceName = "Virtual bench";
        settings().automationPresent = true;
    }
    void logTo(const QString &path)
    {
        settings().logMeasurements = true;
        settings().logResultsFile = path.toStdString();
    }

    // The page as the sheet makes it: constructed (settings loaded), then activated.
    measure &makePage()
    {
        m_store = std::make_unique<SettingsStore>();
        m_page = std::make_unique<measure>(*m_engine, *m_store);
        m_pagePtr = m_page.get();
        m_page->setLogClock([] { return kFixedTime; });
        m_page->setMessageObserver([this](int id) { m_shown.push_back(id); });
        return *m_page;
    }
    measure &activePage()
    {
        measure &page = m_pagePtr != nullptr ? *m_pagePtr : makePage();
        page.activate();
        return page;
    }

    template <typename T> T *child(const char *name)
    {
        T *w = m_pagePtr->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit *field(const char *name) { return child<QLineEdit>(name); }
    QString text(const char *name) { return field(name)->text(); }

    // One pattern block through the page: produced, measured, shown, logged and handed
    // back. Returns false if any step did not happen.
    bool feedBlock(double amplitude = 0.5)
    {
        const int before = m_pattern.handedBack.load();
        const int position = m_pagePtr->lastShownBlock() + 1;
        PatternBackend::Stream *stream = m_pattern.stream();
        if (stream == nullptr || !stream->produce(amplitude))
            return false;
        return waitFor([&] {
            return m_pattern.handedBack.load() == before + 1 &&
                   m_pagePtr->lastShownBlock() == position;
        });
    }

    // Bench: waits until the fields show a block measured at least `blocks` blocks after
    // this call. The delivery thread may be ahead of what the fields show, so the count
    // starts from its block counter.
    bool waitBlocks(int blocks)
    {
        const int target =
            std::max(m_pagePtr->lastShownBlock(), m_engine->capture().blockCounter()) + blocks;
        return waitFor([&] { return m_pagePtr->lastShownBlock() >= target; });
    }

    // Closes the next modal box that appears, remembering its text.
    void closeNextModal()
    {
        auto *timer = new QTimer(s_app);
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, [this, timer] {
            if (QMessageBox *box = activeBox()) {
                m_closedBoxText = box->text();
                box->button(QMessageBox::Ok)->click();
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start();
    }

    static inline QApplication *s_app = nullptr;
    RecordingSink m_sink;
    PatternBackend m_pattern;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<measure> m_page; // empty once the page is handed to m_sheet
    measure *m_pagePtr = nullptr;
    std::unique_ptr<CQuillonPropertySheet> m_sheet;
    std::vector<int> m_shown;
    QString m_closedBoxText;
};

// ---- Page set-up ----

using MeasureNoisePageSetup = MeasureNoisePageTest;

TEST_F(MeasureNoisePageSetup, LoadsItsThreeValuesAndMakesTheResultFont)
{
    {
        SettingsStore store;
        store.write(keys::TraceAverageFlag, 1);
        store.write(keys::TraceAverageCount, 12);
        store.write(keys::ResultFontSize, 30);
    }
    measure &page = makePage();
    EXPECT_EQ(page.caption(), "Measure Noise");
    EXPECT_EQ(page.helpTopic(), "measure-noise");
    EXPECT_TRUE(page.averagingEnabled());
    EXPECT_EQ(page.averagingCount(), 12);
    EXPECT_EQ(page.resultFont().pixelSize(), 30);
    EXPECT_EQ(page.resultFont().weight(), QFont::Medium);
    EXPECT_EQ(field("dbField")->font().pixelSize(), 30);
    EXPECT_TRUE(field("crestField")->isReadOnly());

    activePage();
    auto *list = child<QComboBox>("averageCount");
    EXPECT_EQ(list->count(), 31);
    EXPECT_EQ(list->itemText(0), "1");
    EXPECT_EQ(list->itemText(30), "31");
    EXPECT_EQ(list->currentIndex(), 11);
    EXPECT_TRUE(child<QCheckBox>("averageEnable")->isChecked());
    EXPECT_EQ(child<QPushButton>("saveAsDefault")->text(), "Save as Defaut");
    EXPECT_EQ(child<QLabel>("helpHint")->text(), "Press F1 for help on any screen");
    EXPECT_TRUE(page.capturing());
    // A tidy page that fits the window.
    const QSize hint = page.sizeHint();
    EXPECT_LE(hint.width(), 620);
    EXPECT_LE(hint.height(), 520);
}

TEST_F(MeasureNoisePageSetup, ACountOfZeroSelectsNothingAndTheAverageWaits)
{
    {
        SettingsStore store;
        store.write(keys::TraceAverageFlag, 1);
        store.write(keys::TraceAverageCount, 0);
    }
    activePage();
    EXPECT_EQ(child<QComboBox>("averageCount")->currentIndex(), -1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(feedBlock());
        EXPECT_EQ(text("averagedField"), " Wait...");
        EXPECT_EQ(text("dbField"), " -6.021");
    }
}

TEST_F(MeasureNoisePageSetup, SaveAsDefautWritesTheThreeValues)
{
    measure &page = activePage();
    // Nothing stored yet: the defaults are written all the same.
    child<QCheckBox>("averageEnable")->click();
    auto *list = child<QComboBox>("averageCount");
    list->setCurrentIndex(6);
    emit list->activated(6);
    EXPECT_EQ(page.averagingCount(), 7);
    EXPECT_TRUE(page.averagingEnabled());

    std::vector<std::string> written;
    m_store->setWriteObserver([&](const char *name, bool ok) {
        EXPECT_TRUE(ok) << name;
        written.emplace_back(name);
    });
    child<QPushButton>("saveAsDefault")->click();
    EXPECT_EQ(written, (std::vector<std::string>{"TraceAverageCount", "TraceAverageFlag",
                                                 "ResultFontSize"}));
    EXPECT_TRUE(m_shown.empty());
    SettingsStore reread;
    EXPECT_EQ(reread.read(keys::TraceAverageCount), 7);
    EXPECT_EQ(reread.read(keys::TraceAverageFlag), 1);
    EXPECT_EQ(reread.read(keys::ResultFontSize), 24);
    EXPECT_TRUE(reread.qsettings().contains("ResultFontSize"));
}

TEST_F(MeasureNoisePageSetup, AFailedSaveShowsItsMessageOnce)
{
    // Tests run as root: a store below a regular file cannot be written.
    QFile blocker(folder() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder() + "/blocker");
    measure &page = activePage();
    int attempts = 0;
    m_store->setWriteObserver([&](const char *, bool) { ++attempts; });
    closeNextModal();
    child<QPushButton>("saveAsDefault")->click();
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(m_shown, std::vector<int>{kMsgSaveFailed});
    EXPECT_EQ(m_closedBoxText, "Saving parameters to the registry failed for some reason.");
    EXPECT_EQ(page.averagingCount(), 1); // the page's values stay as they are
}

// ---- Readings ----

using MeasureNoiseReadings = MeasureNoisePageTest;

TEST_F(MeasureNoiseReadings, KnownBlockGivesExactTexts)
{
    settings().decimalPointsInResults = 2;
    activePage();
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("dbField"), " -6.02");
    EXPECT_EQ(text("crestField"), " 1.00");
    EXPECT_EQ(text("averagedField"), "");
    EXPECT_EQ(text("relativeField"), "");
    ASSERT_TRUE(feedBlock(0.0)); // silence: -120 dB, crest factor undefined
    EXPECT_EQ(text("dbField"), " -120.00");
    EXPECT_EQ(text("crestField"), " Error");
}

TEST_F(MeasureNoiseReadings, FirstAveragedBlockWaitsAndEveryActivationStartsAgain)
{
    measure &page = activePage();
    child<QCheckBox>("averageEnable")->click();
    page.setAveragingCount(4);
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), " Wait...");
    ASSERT_TRUE(feedBlock(0.25)); // -12.041: the first block takes no part
    EXPECT_EQ(text("averagedField"), " -12.041");
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), " -9.031");

    // Leaving stops the capture; coming back starts the average afresh.
    page.OnKillActive();
    EXPECT_FALSE(page.capturing());
    EXPECT_FALSE(m_engine->capture().running());
    page.activate();
    ASSERT_TRUE(page.capturing());
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(page.lastShownBlock(), 0);
    EXPECT_EQ(text("averagedField"), " Wait...");

    // Unchecking empties the field, and later blocks leave it empty.
    child<QCheckBox>("averageEnable")->click();
    EXPECT_EQ(text("averagedField"), "");
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("averagedField"), "");
}

TEST_F(MeasureNoiseReadings, StoreKeepsTheReferenceForTheRelativeField)
{
    measure &page = activePage();
    // Before the first block the current reading is 0.0: stored as such.
    child<QPushButton>("storeButton")->click();
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("relativeField"), " -6.021");
    child<QPushButton>("storeButton")->click();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("relativeField"), " -6.021"); // -12.041 - (-6.021)
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(text("relativeField"), " 0.000");

    // An averaged " Wait..." is not a reading to keep: the old reference stays.
    page.OnKillActive();
    page.setAveragingEnabled(true);
    page.activate();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("averagedField"), " Wait...");
    EXPECT_EQ(text("relativeField"), " Wait...");
    child<QPushButton>("storeButton")->click();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("relativeField"), " -6.021");
}

TEST_F(MeasureNoiseReadings, BenchLevelsMatchTheirExpectedValues)
{
    useBench();
    measure &page = makePage();
    page.setAveragingEnabled(true);
    page.setAveragingCount(16);
    page.activate();
    ASSERT_TRUE(page.capturing());
    ASSERT_TRUE(waitBlocks(40));
    page.OnKillActive();

    const BenchTruth truth = m_engine->bench().truth();
    const CaptureFormat format = m_engine->capture().format();
    const std::size_t frames = format.samplesPerSec * kCaptureMs / 1000;
    const BenchParameters &p = m_engine->bench().parameters();
    // Spread of one block's power, then of the mean of 16 blocks; 5 sigma either way.
    const double sigma = benchtest::varianceRelativeSigma(format.samplesPerSec, p.passbandLowHz,
                                                          p.passbandHighHz, frames);
    const double expected = truth.states[0].levelDbfs;
    EXPECT_NEAR(fieldValue(field("dbField")), expected, 10 * std::log10(1 + 5 * sigma));
    EXPECT_NEAR(fieldValue(field("averagedField")), expected, 10 * std::log10(1 + 5 * sigma / 4));
    // Gaussian noise: a crest factor of a few, never " Error".
    EXPECT_GT(fieldValue(field("crestField")), 2.0);
    EXPECT_LT(fieldValue(field("crestField")), 7.0);
}

TEST_F(MeasureNoiseReadings, SwitchBoxesMoveTheBenchLevelByItsYFactor)
{
    useBench();
    useVirtualBenchSwitch();
    measure &page = makePage();
    page.setAveragingEnabled(true);
    page.setAveragingCount(8);
    m_engine->bench().setOutputs(true, true); // activation re-sends the page's states
    page.activate();
    EXPECT_FALSE(m_engine->bench().noiseOn());
    EXPECT_FALSE(m_engine->bench().dutIn());
    EXPECT_TRUE(child<QGroupBox>("switchingGroup")->isEnabled());

    const BenchTruth truth = m_engine->bench().truth();
    const CaptureFormat format = m_engine->capture().format();
    const BenchParameters &p = m_engine->bench().parameters();
    const double sigma =
        benchtest::varianceRelativeSigma(format.samplesPerSec, p.passbandLowHz, p.passbandHighHz,
                                         format.samplesPerSec * kCaptureMs / 1000);
    const double tolerance = 10 * std::log10(1 + 5 * sigma / std::sqrt(8.0));
    // Two blocks may already be filled when a box is clicked, then the average of eight
    // must be all new.
    const auto settledAverage = [&] {
        EXPECT_TRUE(waitBlocks(12));
        return fieldValue(field("averagedField"));
    };

    const double off = settledAverage();
    EXPECT_NEAR(off, truth.states[0].levelDbfs, tolerance);
    child<QCheckBox>("noiseSwitch")->click();
    EXPECT_TRUE(m_engine->bench().noiseOn());
    const double on = settledAverage();
    EXPECT_NEAR(on - off, 10 * std::log10(truth.ySystem), 2 * tolerance);
    child<QCheckBox>("dutSwitch")->click();
    EXPECT_TRUE(m_engine->bench().dutIn());
    const double dutOn = settledAverage();
    EXPECT_NEAR(dutOn, truth.states[3].levelDbfs, tolerance);
    EXPECT_TRUE(page.noiseOn());
    EXPECT_TRUE(page.dutIn());
}

TEST_F(MeasureNoiseReadings, WithoutASwitchPortTheBoxesAreOffAndNothingIsSent)
{
    useBench();
    m_engine->bench().setOutputs(true, true);
    activePage();
    EXPECT_FALSE(child<QGroupBox>("switchingGroup")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>("noiseSwitch")->isEnabled());
    EXPECT_TRUE(m_engine->bench().noiseOn()); // SwitchControl was not called
    EXPECT_TRUE(m_engine->bench().dutIn());
}

// ---- The log ----

class MeasureNoiseLog : public MeasureNoisePageTest
{
protected:
    QString logPath() const { return folder() + "/measure.log"; }
    static constexpr const char *kOff = "Measure,12/6/26 2:08:33,Noise Off,DUT out of Circuit, ";
};

TEST_F(MeasureNoiseLog, TwoResultsPerLineWithoutAveraging)
{
    logTo(logPath());
    activePage();
    child<QPushButton>("storeButton")->click(); // the relative reading is never logged
    ASSERT_TRUE(feedBlock(0.5));
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(readFile(logPath()),
              std::string(kOff) + " -6.021, 1.000,\n" + kOff + " -12.041, 1.000,\n");
}

TEST_F(MeasureNoiseLog, ThreeResultsPerLineWithAveragingAndTheSwitchStates)
{
    useVirtualBenchSwitch();
    settings().decimalPointsInResults = 1;
    logTo(logPath());
    measure &page = activePage();
    page.setAveragingEnabled(true);
    child<QCheckBox>("noiseSwitch")->click();
    child<QCheckBox>("dutSwitch")->click();
    ASSERT_TRUE(feedBlock(0.5));
    ASSERT_TRUE(feedBlock(0.5));
    const std::string on = "Measure,12/6/26 2:08:33,Noise On,DUT in Circuit, ";
    EXPECT_EQ(readFile(logPath()), on + " -6.0, Wait..., 1.0,\n" + on + " -6.0, -6.0, 1.0,\n");

    // Logging off: no further line.
    page.OnKillActive();
    settings().logMeasurements = false;
    page.activate();
    ASSERT_TRUE(feedBlock(0.5));
    EXPECT_EQ(readFile(logPath()), on + " -6.0, Wait..., 1.0,\n" + on + " -6.0, -6.0, 1.0,\n");
}

TEST_F(MeasureNoiseLog, AFailedOpenHoldsTheBlockUntilTheBoxIsClosed)
{
    logTo(folder() + "/no such folder/measure.log");
    measure &page = activePage();
    PatternBackend::Stream *stream = m_pattern.stream();
    ASSERT_NE(stream, nullptr);

    for (int block = 0; block < 2; ++block) {
        const int before = m_pattern.handedBack.load();
        ASSERT_TRUE(stream->produce(0.5));
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

// ---- Stopping while the callback waits for the box ----

class MeasureNoiseStop : public MeasureNoisePageTest
{
protected:
    // Activates the page with a log that cannot be opened and leaves the callback waiting
    // for its box.
    measure &pageWithBoxUp()
    {
        logTo(folder() + "/missing/measure.log");
        measure &page = m_pagePtr != nullptr ? *m_pagePtr : makePage();
        if (!m_sheet)
            page.activate();
        EXPECT_TRUE(page.capturing());
        PatternBackend::Stream *stream = m_pattern.stream();
        EXPECT_NE(stream, nullptr);
        if (stream != nullptr) {
            EXPECT_TRUE(stream->produce(0.5));
            EXPECT_TRUE(stream->produce(0.5)); // a second block waits behind the first
        }
        EXPECT_TRUE(waitFor([] { return activeBox() != nullptr; }));
        return page;
    }
};

TEST_F(MeasureNoiseStop, LeavingThePageReleasesTheCallbackAndTheBox)
{
    measure &page = pageWithBoxUp();
    {
        HangGuard guard("OnKillActive with the log box up");
        page.OnKillActive();
    }
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_FALSE(page.capturing());
    EXPECT_TRUE(waitFor([] { return activeBox() == nullptr; }));
    // No stale box turns up afterwards, and the page starts again normally.
    QCoreApplication::processEvents();
    EXPECT_EQ(activeBox(), nullptr);
    settings().logMeasurements = false;
    page.activate();
    ASSERT_TRUE(feedBlock(0.25));
    EXPECT_EQ(text("dbField"), " -12.041");
}

TEST_F(MeasureNoiseStop, ClosingTheWindowReturns)
{
    m_sheet = std::make_unique<CQuillonPropertySheet>();
    measure &page = makePage();
    m_sheet->addPage(m_page.release()); // the sheet owns its pages
    m_sheet->setActivePage(&page);
    pageWithBoxUp();
    {
        HangGuard guard("closing the window with the log box up");
        m_sheet->close();
    }
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_TRUE(waitFor([] { return activeBox() == nullptr; }));
}

TEST_F(MeasureNoiseStop, AStopThatBypassesThePageAlsoReturns)
{
    measure &page = pageWithBoxUp();
    {
        HangGuard guard("WaveCapture::StopCapture with the log box up");
        m_engine->capture().StopCapture(); // e.g. the engine's own shutdown
    }
    EXPECT_FALSE(page.capturing());
    // The box is left over but harmless: closing it releases nothing that still runs.
    if (QMessageBox *box = activeBox())
        box->button(QMessageBox::Ok)->click();
    HangGuard guard("destroying the page");
    m_page.reset();
    m_pagePtr = nullptr;
}

TEST_F(MeasureNoiseStop, DestroyingTheActivePageStopsItsCapture)
{
    pageWithBoxUp();
    {
        HangGuard guard("destroying the page with the log box up");
        m_page.reset();
        m_pagePtr = nullptr;
    }
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_EQ(activeBox(), nullptr);
}

TEST_F(MeasureNoiseStop, LeavingAndClosingDuringAFastBenchCaptureReturn)
{
    useBench();
    m_sheet = std::make_unique<CQuillonPropertySheet>();
    measure &page = makePage();
    m_sheet->addPage(m_page.release());
    m_sheet->setActivePage(&page);
    ASSERT_TRUE(waitBlocks(20));
    for (int round = 0; round < 5; ++round) {
        {
            HangGuard guard("leaving the page during a capture");
            page.OnKillActive();
        }
        EXPECT_FALSE(m_engine->capture().running());
        page.activate();
        ASSERT_TRUE(waitBlocks(3));
    }
    HangGuard guard("closing the window during a capture");
    m_sheet->close();
    EXPECT_FALSE(m_engine->capture().running());
}

} // namespace
} // namespace quillon
