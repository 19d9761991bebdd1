// Live Noise Figure on the bench (as fast as blocks are consumed): Start shows updates and
// follows a retuned DUT, Calibrate turns the system's readout into the DUT's, the smoothing
// reaches the running meter, leaving the page and closing the window stop the switching with
// the noise source OFF, the calibration warnings follow age, frequency, ENR and TSoff, the
// stored values, refused input, and the failures the meter reports.
#include "ui/pages/LiveNoiseFigurePage.h"

#include "measure/CorrectionSettings.h"
#include "PageTestSupport.h"
#include "capture/WaveFormat.h"
#include "core/NumberText.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "support/FakeDevices.h"
#include "ui/MainWindow.h"
#include "ui/MeasuringNoiseDialog.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <chrono>
#include <cmath>

namespace quillon {
namespace {

constexpr int kBench = 3; // after FaultyDevices' three: "Silent", "Refuses", "Will not start"

class LivePageTest : public test::PageTest
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_devices};
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
        Settings &s = m_engine->settings();
        s.waveInDevice = kBench;
        applyFormatRow(s, 8);
        s.captureTimeMs = 100;
        s.switchPortName = "Virtual bench";
        s.switchPortChosen = true;
        m_engine->bench().setParameters({.seed = 7, .speed = 0.0});
        m_shared.setEnrEntry(25.0);
        m_shared.setTsOff(293.0);
        m_shared.setT0(290.0);
        m_dialog = std::make_unique<MeasuringNoiseDialog>();
    }
    void TearDown() override
    {
        m_sheet.reset();
        m_dialog.reset();
        m_engine.reset();
        PageTest::TearDown();
    }
    // A fresh page (its values loaded from the store now), active in a shown window whose
    // second tab is an empty page.
    LiveNoiseFigurePage &makePage()
    {
        m_sheet.reset();
        m_store = std::make_unique<SettingsStore>();
        m_page = new LiveNoiseFigurePage(PageContext{*m_engine, *m_store, m_shared, *m_dialog, m_font});
        m_other = new PropertyPage(QStringLiteral("Other"), QStringLiteral("other"));
        m_sheet = std::make_unique<MainWindow>();
        m_sheet->addPage(m_page);
        m_sheet->addPage(m_other);
        m_sheet->show();
        m_sheet->setActivePage(m_page);
        return *m_page;
    }
    void click(const char *name) { child<QPushButton>(m_page, name)->click(); }
    QString label(const char *name) { return child<QLabel>(m_page, name)->text(); }
    // The number at the start of a digits label ("1.02 dB").
    double shown(const char *name) { return parseDecimal(label(name).toStdString()); }
    bool waitForUpdates(int count)
    {
        const int from = m_page->updatesShown();
        return test::waitFor([&] { return m_page->updatesShown() >= from + count; });
    }
    // A calibration taken `minutesAgo` under the conditions the fixture sets.
    static ReceiverCalibration calibration(double minutesAgo)
    {
        ReceiverCalibration c;
        c.valid = true;
        c.onPower = 1.0157e-4;
        c.offPower = 1.9902e-6;
        c.enrDb = 25.0;
        c.tsOff = 293.0;
        c.t0 = 290.0;
        c.takenAt = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::chrono::duration<double, std::ratio<60>>(minutesAgo));
        return c;
    }

    test::FaultyDevices m_devices;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    SharedValues m_shared;
    std::unique_ptr<MeasuringNoiseDialog> m_dialog; // after the QApplication
    QFont m_font;
    std::unique_ptr<MainWindow> m_sheet; // owns the pages
    LiveNoiseFigurePage *m_page = nullptr;
    PropertyPage *m_other = nullptr;
};

// Without a calibration the page reads the system (DUT and receiver: 1.179 dB on the bench)
// and says so; Calibrate switches the DUT out, and from then on the digits are the DUT's own
// noise figure and gain (1.0 dB, 20 dB), the trend started afresh for them; a retuned DUT
// shows; Stop leaves the noise source OFF and nothing of the run arrives afterwards.
TEST_F(LivePageTest, StartShowsTheSystemThenCalibrateTheDutAndStopLeavesTheSourceOff)
{
    makePage();
    EXPECT_TRUE(child<QPushButton>(m_page, "startLive")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(m_page, "stopLive")->isEnabled());
    EXPECT_TRUE(label("calibrationLabel").startsWith("None taken"));
    EXPECT_EQ(label("warningLabel").toStdString(), calibrationWarningText({.missing = true}));
    click("startLive");
    ASSERT_TRUE(m_page->running());
    EXPECT_FALSE(child<QPushButton>(m_page, "startLive")->isEnabled());
    ASSERT_TRUE(waitForUpdates(12));
    const BenchTruth truth = m_engine->bench().truth();
    EXPECT_FALSE(m_page->lastUpdate().corrected);
    EXPECT_EQ(label("nfCaption"), "System NF");
    EXPECT_NEAR(shown("nfValue"), truth.chainNfDb, 0.3);
    EXPECT_TRUE(label("nfHalfWidth").endsWith("dB (95%)")) << label("nfHalfWidth").toStdString();
    EXPECT_EQ(label("gainValue"), "—");
    EXPECT_EQ(label("groupsLabel"), "Groups used: 8 of 8");

    click("calibrate");
    ASSERT_TRUE(test::waitFor([&] { return m_page->lastUpdate().corrected; }));
    EXPECT_TRUE(m_page->calibration().valid);
    // Kept by the engine for the next Start (and a later visit), taken under the conditions
    // now: no warning.
    EXPECT_TRUE(m_engine->receiverCalibration().valid);
    EXPECT_EQ(m_engine->receiverCalibration().takenAt, m_page->calibration().takenAt);
    EXPECT_TRUE(label("calibrationLabel").startsWith("Taken ")) << label("calibrationLabel").toStdString();
    EXPECT_TRUE(label("warningLabel").isEmpty()) << label("warningLabel").toStdString();
    ASSERT_TRUE(waitForUpdates(12));
    EXPECT_EQ(label("nfCaption"), "DUT NF");
    EXPECT_NEAR(shown("nfValue"), truth.dutNfDb, 0.3);
    EXPECT_NEAR(shown("gainValue"), truth.dutGainDb, 0.3);
    EXPECT_TRUE(label("gainHalfWidth").endsWith("dB (95%)")) << label("gainHalfWidth").toStdString();
    for (const LiveTrendPoint &point : m_page->trend().points())
        EXPECT_TRUE(std::isfinite(point.gainDb)); // no system point left in the DUT's trend
    // The best so far is the DUT's, from full averages only: the first seven updates after
    // the calibration average one to seven groups and scatter far (0.5 to 0.6 dB here).
    const auto &points = m_page->trend().points();
    ASSERT_GE(points.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(points[i].full, i == 7) << i;
    ASSERT_TRUE(m_page->trend().hasBest());
    EXPECT_GE(m_page->trend().best().seconds, points[7].seconds);
    EXPECT_TRUE(label("bestLabel").startsWith("Best so far: ")) << label("bestLabel").toStdString();
    click("resetBest");
    EXPECT_FALSE(m_page->trend().hasBest());
    EXPECT_EQ(label("bestLabel"), "Best so far: none since the reset.");
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_TRUE(m_page->trend().hasBest()); // the next full group is the best again

    m_engine->bench().setLiveDut(2.0, 15.0); // the DUT retuned while the capture runs
    ASSERT_TRUE(test::waitFor([&] { return std::fabs(shown("nfValue") - 2.0) < 0.3; }));
    ASSERT_TRUE(test::waitFor([&] { return std::fabs(shown("gainValue") - 15.0) < 0.3; }));

    click("stopLive");
    EXPECT_FALSE(m_page->running());
    EXPECT_FALSE(m_engine->bench().noiseOn());
    EXPECT_FALSE(m_engine->capture().running());
    const int updates = m_page->updatesShown();
    QTest::qWait(100); // what the run posted before its end is dropped
    EXPECT_EQ(m_page->updatesShown(), updates);
}

// A calibration taken during a corrected run replaces the one in use (the engine keeps it
// too); the trend goes on for the DUT, its line broken where no readout came meanwhile.
TEST_F(LivePageTest, CalibrateDuringACorrectedRunReplacesTheCalibrationAndBreaksTheTrend)
{
    m_engine->receiverCalibration() = calibration(3);
    const auto before = m_engine->receiverCalibration().takenAt;
    makePage();
    click("startLive");
    ASSERT_TRUE(waitForUpdates(10));
    EXPECT_TRUE(m_page->lastUpdate().corrected);
    const std::size_t pointsBefore = m_page->trend().points().size();
    click("calibrate");
    EXPECT_FALSE(child<QPushButton>(m_page, "calibrate")->isEnabled()); // one at a time
    ASSERT_TRUE(test::waitFor([&] { return m_page->calibration().takenAt > before; }));
    EXPECT_TRUE(child<QPushButton>(m_page, "calibrate")->isEnabled());
    EXPECT_EQ(m_engine->receiverCalibration().takenAt, m_page->calibration().takenAt);
    ASSERT_TRUE(waitForUpdates(3));
    const auto &points = m_page->trend().points();
    ASSERT_GT(points.size(), pointsBefore + 1);
    int breaks = 0;
    for (const LiveTrendPoint &point : points)
        breaks += std::isnan(point.nfDb);
    EXPECT_EQ(breaks, 1);
    EXPECT_TRUE(std::isfinite(points.front().nfDb)); // the points before it stay
    EXPECT_TRUE(std::isfinite(points.back().nfDb));
    click("stopLive");
}

// The smoothing typed while the meter runs reaches it: the average restarts and fills up to
// the new number; it is stored and a new page starts with it. Text that is no number in
// range is refused where it is typed, as in every spin box of the program.
TEST_F(LivePageTest, SmoothingReachesTheRunningMeterAndIsKept)
{
    makePage();
    auto *smoothing = child<QSpinBox>(m_page, "smoothing");
    EXPECT_EQ(smoothing->value(), 8);
    click("startLive");
    ASSERT_TRUE(test::waitFor([&] { return m_page->lastUpdate().groupsUsed == 8; }));
    smoothing->setValue(3);
    ASSERT_TRUE(test::waitFor([&] { return m_page->lastUpdate().groupsUsed == 3; }));
    ASSERT_TRUE(waitForUpdates(5));
    EXPECT_EQ(m_page->lastUpdate().groupsUsed, 3);
    EXPECT_EQ(label("groupsLabel"), "Groups used: 3 of 3");
    click("stopLive");

    // What is typed replaces the value; what the box cannot hold never reaches it.
    smoothing->setFocus();
    const std::pair<const char *, int> typedValues[] = {
        {"abc", 8}, {"0", 8}, {"-5", 5}, {"99", 9}, {"33", 3}, {"1e1", 11}, {"12", 12}};
    for (const auto &[typed, value] : typedValues) {
        smoothing->setValue(8);
        smoothing->selectAll();
        QTest::keyClicks(smoothing, typed);
        QTest::keyClick(smoothing, Qt::Key_Return);
        EXPECT_EQ(smoothing->value(), value) << typed;
    }
    child<QSpinBox>(m_page, "maxAge")->setValue(45);
    EXPECT_EQ(SettingsStore().read(keys::LiveSmoothingGroups), 12);
    EXPECT_EQ(SettingsStore().read(keys::LiveCalibrationMaxAgeMinutes), 45);
    makePage();
    EXPECT_EQ(child<QSpinBox>(m_page, "smoothing")->value(), 12);
    EXPECT_EQ(child<QSpinBox>(m_page, "maxAge")->value(), 45);
}

// Leaving the page for another tab and closing the window (here while a calibration is
// being taken) both stop the switching at once, the noise source OFF and the capture free.
TEST_F(LivePageTest, LeavingThePageAndClosingTheWindowStopTheSwitching)
{
    makePage();
    click("startLive");
    ASSERT_TRUE(waitForUpdates(2));
    test::mustReturn([&] { m_sheet->setActivePage(m_other); });
    EXPECT_FALSE(m_page->running());
    EXPECT_FALSE(m_engine->bench().noiseOn());
    EXPECT_FALSE(m_engine->capture().running());
    EXPECT_TRUE(child<QPushButton>(m_page, "startLive")->isEnabled());

    m_sheet->setActivePage(m_page);
    EXPECT_FALSE(m_page->running()); // coming back does not restart by itself
    // In real time from here, so that the calibration (16 groups, 8 s) is still being taken
    // when the window closes: at speed 0 it may be over before the DUT is seen switched out.
    m_engine->bench().setParameters({.seed = 7, .speed = 1.0});
    click("calibrate"); // starts too, with the calibration first: the DUT switched out
    EXPECT_TRUE(m_page->running());
    EXPECT_TRUE(label("statusLabel").startsWith("Calibrating")) << label("statusLabel").toStdString();
    ASSERT_TRUE(test::waitFor([&] { return !m_engine->bench().dutIn(); }));
    QElapsedTimer timer;
    timer.start();
    test::mustReturn([&] { m_sheet->close(); });
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(m_page->running());
    EXPECT_FALSE(m_engine->bench().noiseOn());
    EXPECT_FALSE(m_engine->capture().running());
}

// The warning follows each reason against the conditions now: the age against the page's
// own limit (changed while shown), and the frequency, ENR and TSoff of Measure Device. The
// words are the engine's (its own test pins them); the page shows them and nothing when the
// calibration fits.
TEST_F(LivePageTest, StaleCalibrationWarningsForAgeFrequencyEnrAndTsOff)
{
    ASSERT_EQ(parseEnrData("143,25.002\n144,25.000\n145,24.998\n", m_engine->enrTable()), 0);
    struct Case
    {
        const char *what;
        double minutesAgo;
        double enrDb, tsOff, frequencyMHz; // of the calibration
        bool useFile;                      // the ENR file in use now, at 144 MHz
        CalibrationCheck expected;
    };
    const double nan = ReceiverCalibration::kNaN;
    const Case cases[] = {
        {"fits", 5, 25.0, 293.0, nan, false, {}},
        {"too old", 40, 25.0, 293.0, nan, false, {.tooOld = true}},
        {"other ENR", 5, 24.9, 293.0, nan, false, {.otherEnr = true}},
        {"other TSoff", 5, 25.0, 290.0, nan, false, {.otherTsOff = true}},
        {"other frequency", 5, 25.0, 293.0, 145.0, true, {.otherFrequency = true}},
        {"fits at 144 MHz", 5, 25.0, 293.0, 144.0, true, {}},
        {"all four", 40, 24.9, 290.0, 145.0, true,
         {.tooOld = true, .otherFrequency = true, .otherEnr = true, .otherTsOff = true}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m_engine->settings().useEnrFile = c.useFile;
        m_shared.setEnrEntry(c.useFile ? 144.0 : 25.0);
        ReceiverCalibration calibration = LivePageTest::calibration(c.minutesAgo);
        calibration.enrDb = c.enrDb;
        calibration.tsOff = c.tsOff;
        calibration.frequencyMHz = c.frequencyMHz;
        m_engine->receiverCalibration() = calibration;
        makePage(); // max age 30 min by default
        // The page compares with the conditions now: the flags as expected ...
        const CalibrationCheck check =
            checkCalibration(calibration, m_page->currentPlan(), std::chrono::system_clock::now(),
                             std::chrono::minutes(30));
        EXPECT_EQ(check.tooOld, c.expected.tooOld);
        EXPECT_EQ(check.otherFrequency, c.expected.otherFrequency);
        EXPECT_EQ(check.otherEnr, c.expected.otherEnr);
        EXPECT_EQ(check.otherTsOff, c.expected.otherTsOff);
        // ... and says them in the engine's words, nothing when the calibration fits.
        EXPECT_EQ(label("warningLabel").toStdString(), calibrationWarningText(check));
        EXPECT_EQ(child<QLabel>(m_page, "warningLabel")->isVisible(), !check.fits());
        EXPECT_TRUE(label("calibrationLabel").contains(" ago)")) << label("calibrationLabel").toStdString();
    }

    // The limit is the user's: a 40-minute-old calibration is fine under a 60-minute limit
    // and too old again under 39, as soon as it is changed.
    m_engine->settings().useEnrFile = false;
    m_shared.setEnrEntry(25.0);
    m_engine->receiverCalibration() = calibration(40);
    makePage();
    EXPECT_FALSE(label("warningLabel").isEmpty());
    child<QSpinBox>(m_page, "maxAge")->setValue(60);
    EXPECT_TRUE(label("warningLabel").isEmpty());
    child<QSpinBox>(m_page, "maxAge")->setValue(39);
    EXPECT_TRUE(label("warningLabel").contains("40 min")) << label("warningLabel").toStdString();
}

// The calibration the page shows and starts with is the engine's: one that Measure Device
// took meanwhile shows when the page is shown again, with its age.
TEST_F(LivePageTest, ACalibrationTakenMeanwhileShowsWhenThePageIsShownAgain)
{
    m_engine->receiverCalibration() = calibration(10);
    makePage();
    EXPECT_TRUE(m_page->calibration().valid);
    EXPECT_TRUE(label("calibrationLabel").contains("(10 min 0 s ago)") ||
                label("calibrationLabel").contains("(9 min 59 s ago)"))
        << label("calibrationLabel").toStdString();
    m_sheet->setActivePage(m_other);
    ReceiverCalibration newer = calibration(2);
    newer.enrDb = 24.5;
    m_engine->receiverCalibration() = newer;
    m_sheet->setActivePage(m_page);
    EXPECT_EQ(m_page->calibration().enrDb, 24.5);
    EXPECT_TRUE(label("calibrationLabel").contains("ENR 24.500 dB")) << label("calibrationLabel").toStdString();
}

// A meter that cannot start says why (the engine's message) and nothing runs; a run that
// ends by itself (a device that stops delivering) says so, and the page is stopped with the
// noise source OFF.
TEST_F(LivePageTest, FailuresShowTheMetersMessageAndLeaveTheSourceOff)
{
    makePage();
    {
        test::BoxCatcher boxes;
        m_engine->settings().switchPortName = "None"; // nothing switches the source
        m_engine->settings().switchPortChosen = false;
        click("startLive");
        ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
        EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgLiveNeedsSwitchPort)});
        EXPECT_FALSE(m_page->running());
        m_engine->settings().switchPortName = "Virtual bench";
        m_engine->settings().switchPortChosen = true;
    }
    {
        test::BoxCatcher boxes;
        m_engine->settings().waveInDevice = 1; // "Refuses"
        click("startLive");
        ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
        EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgCannotOpenWaveDevice)});
        EXPECT_FALSE(m_page->running());
        EXPECT_TRUE(child<QPushButton>(m_page, "startLive")->isEnabled());
    }
    {
        test::BoxCatcher boxes;
        m_engine->settings().waveInDevice = 0; // "Silent": opens, starts, never delivers
        click("startLive");
        EXPECT_TRUE(m_page->running());
        ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
        EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgDeviceStoppedDelivering)});
        EXPECT_FALSE(m_page->running());
        EXPECT_FALSE(m_engine->bench().noiseOn());
        EXPECT_TRUE(child<QPushButton>(m_page, "startLive")->isEnabled());
    }
}

// The losses Measure Device keeps ("Corrections") apply to the live DUT readout too: the
// bench's own 0.5 dB and 20 dB behind 0.4 dB at 300 K and 1.0 dB at 290 K, with 0.3 dB in the
// calibration path (the plain formulas read 0.92 dB and 18.6 dB), and the page says what it
// corrects for: none of them while the system's noise figure is shown (its groups are the
// DUT-in chain as it stands, the calibration path unmeasured), all of them once the DUT's is.
// An entry that cannot be applied starts nothing.
TEST_F(LivePageTest, TheStoredCorrectionsApplyAndARefusedOneStartsNothing)
{
    CorrectionSettings c;
    c.at(LossPlace::Input) = {true, false, 0.4, "", 300.0};
    c.at(LossPlace::Output) = {true, false, 1.0, "", 290.0};
    c.at(LossPlace::Calibration) = {true, false, 0.3, "", 290.0};
    {
        SettingsStore store(kCorrectionsGroup);
        ASSERT_TRUE(saveCorrectionSettings(store, c).ok());
    }
    BenchParameters bench{.seed = 7, .speed = 0.0};
    bench.dutNfDb = 0.5;
    bench.sourceOffTemperatureK = 303.0;
    bench.chain.inputLossDb = 0.4;
    bench.chain.inputLossTemperatureK = 300.0;
    bench.chain.outputLossDb = 1.0;
    bench.chain.calibrationLossDb = 0.3;
    m_engine->bench().setParameters(bench);
    m_shared.setTsOff(303.0);
    makePage();
    child<QSpinBox>(m_page, "smoothing")->setValue(32);
    click("startLive");
    ASSERT_TRUE(waitForUpdates(2));
    EXPECT_EQ(label("nfCaption"), "System NF");
    EXPECT_TRUE(label("conditionsLabel").endsWith("T0 290.00 K (Measure Device)"))
        << label("conditionsLabel").toStdString();
    click("calibrate");
    ASSERT_TRUE(test::waitFor([&] {
        return m_page->lastUpdate().corrected && m_page->lastUpdate().groupsUsed == 32;
    }));
    EXPECT_NEAR(shown("nfValue"), 0.5, 0.15);
    EXPECT_NEAR(shown("gainValue"), 20.0, 0.15);
    EXPECT_TRUE(label("conditionsLabel")
                    .endsWith("; corrected for: input loss 0.40 dB at 300 K, output loss 1.00 "
                              "dB at 290 K, calibration path loss 0.30 dB at 290 K"))
        << label("conditionsLabel").toStdString();
    click("stopLive");

    c.at(LossPlace::Input).db = -0.2;
    {
        SettingsStore store(kCorrectionsGroup);
        ASSERT_TRUE(saveCorrectionSettings(store, c).ok());
    }
    test::BoxCatcher boxes;
    click("startLive");
    ASSERT_TRUE(test::waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts, QStringList{"Input loss: a loss must be a number of 0 dB or more."});
    EXPECT_FALSE(m_page->running());
    EXPECT_FALSE(m_engine->bench().noiseOn());
}

// The verdict against Measure Device's limits, read when the page is shown: without a
// calibration the system's noise figure alone (a gain limit then leaves it INDETERMINATE, as
// Measure Device's system mode does); with one the DUT's noise figure and gain, FAIL for a
// gain far below its minimum, INDETERMINATE for a limit exactly at the value shown; in words
// and colour, nothing without limits.
TEST_F(LivePageTest, VerdictAgainstMeasureDevicesLimitsInWordsAndColour)
{
    makePage();
    click("startLive");
    // Four groups at least: with two, Student's t (12.7 at one degree of freedom) can stretch
    // the system's 1.18 dB far enough to straddle a limit.
    ASSERT_TRUE(test::waitFor([&] { return m_page->lastUpdate().groupsUsed >= 4; }));
    EXPECT_EQ(label("verdictLabel"), ""); // no limits stored
    click("stopLive");

    SettingsStore().write(keys::LimitNfMax, "6");
    m_sheet->setActivePage(m_other);
    m_sheet->setActivePage(m_page); // the limits are read as the page is shown
    EXPECT_EQ(m_page->limits().nfMaxDb, 6.0);
    EXPECT_EQ(label("verdictLabel"), "Verdict: PASS"); // the last readout, judged now
    SettingsStore().write(keys::LimitGainMin, "25");
    m_sheet->setActivePage(m_other);
    m_sheet->setActivePage(m_page);
    click("startLive");
    ASSERT_TRUE(waitForUpdates(2));
    EXPECT_FALSE(m_page->lastUpdate().corrected);
    EXPECT_EQ(label("verdictLabel"), "Verdict: INDETERMINATE");
    EXPECT_TRUE(child<QLabel>(m_page, "verdictLabel")->styleSheet().contains("#b36b00"));

    click("calibrate");
    ASSERT_TRUE(test::waitFor([&] { return m_page->lastUpdate().corrected; }));
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_EQ(label("verdictLabel"), "Verdict: FAIL"); // the bench's DUT has 20 dB
    EXPECT_TRUE(child<QLabel>(m_page, "verdictLabel")->styleSheet().contains("#b00020"));
    click("stopLive");
    SettingsStore().write(keys::LimitGainMin, "");
    SettingsStore().write(keys::LimitNfMax,
                          formatShortest(m_page->lastUpdate().dutNf.value)); // exactly on it
    m_sheet->setActivePage(m_other);
    m_sheet->setActivePage(m_page);
    EXPECT_EQ(label("verdictLabel"), "Verdict: INDETERMINATE");
    SettingsStore().write(keys::LimitNfMax, "");
    m_sheet->setActivePage(m_other);
    m_sheet->setActivePage(m_page);
    EXPECT_EQ(label("verdictLabel"), "");
}

TEST(CalibrationAge, TextInSecondsMinutesAndHours)
{
    const std::pair<double, const char *> cases[] = {
        {-3.0, "0 s"}, {0.0, "0 s"},          {59.9, "59 s"},          {60.0, "1 min 0 s"},
        {250.0, "4 min 10 s"}, {3599.0, "59 min 59 s"}, {3600.0, "1 h 0 min"},
        {7500.0, "2 h 5 min"}, {ReceiverCalibration::kNaN, "0 s"},
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(calibrationAgeText(seconds), QString::fromLatin1(text)) << seconds;
}

} // namespace
} // namespace quillon
