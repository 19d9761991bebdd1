// The engine's series runner on the virtual bench: the sequence of every button, accuracy
// of repeated series against the bench's truth, every way a series ends, the pilot of
// averaging to a precision, and the stated uncertainties every caller takes.
#include "measure/SeriesRunner.h"

#include "measure/MeasurementLog.h"
#include "nf/EnrTable.h"
#include "support/BenchSeries.h"

#include <cmath>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace quillon {
namespace {

// What the runner reports, in order.
struct Recorder : SeriesListener
{
    bool beforeReading(int reading, std::string_view) override
    {
        started.push_back(reading);
        return before ? before(reading) : true;
    }
    void readingDone(const SeriesReadingReport &report) override { done.push_back(report); }
    void passDone(const SeriesPassReport &pass) override
    {
        passes.push_back(pass);
        if (onPass)
            onPass(pass);
    }
    void message(int id) override { messages.push_back(id); }
    void progress(const ReadingProgress &p) override // delivery thread
    {
        if (onProgress)
            onProgress(p);
    }

    std::function<bool(int)> before;
    std::function<void(const ReadingProgress &)> onProgress;
    std::function<void(const SeriesPassReport &)> onPass;
    std::vector<int> started;
    std::vector<SeriesReadingReport> done;
    std::vector<SeriesPassReport> passes;
    std::vector<int> messages;
};

std::vector<int> sequence(const SeriesPlan &plan)
{
    std::vector<int> order;
    for (int r = nextSeriesReading(plan, -1); r >= 0; r = nextSeriesReading(plan, r))
        order.push_back(r);
    return order;
}

TEST(SeriesOrder, EveryButtonUnderEveryAutomation)
{
    struct Case
    {
        SeriesKind kind;
        int button;
        bool noiseGen, dutSwitch, systemMode;
        std::vector<int> order;
    };
    const SeriesKind D = SeriesKind::Device, C = SeriesKind::Calibration, S = SeriesKind::Sky;
    const Case cases[] = {
        {D, 0, true, true, false, {0, 1, 2, 3}}, {D, 0, true, true, true, {0, 1}},
        {D, 0, true, false, false, {0, 1}},      {D, 0, false, true, false, {0, 2}},
        {D, 0, false, false, false, {0}},        {D, 1, false, true, false, {1, 3}},
        {D, 1, true, true, true, {1}},           {D, 2, true, false, false, {2, 3}},
        {D, 2, false, true, false, {2}},         {D, 3, true, true, false, {3}},
        {C, 0, true, false, false, {0, 1}},      {C, 2, true, false, false, {2, 3}},
        {C, 1, true, false, false, {1}},         {C, 0, false, false, false, {0}},
        {C, 0, true, true, true, {0, 1, 2, 3}},  {C, 0, false, true, false, {0, 2}},
        {D, 4, true, true, false, {}},
        // Sky: on the source, then cold sky where something points the antenna between them.
        {S, 0, false, true, false, {0}},         {S, 0, true, false, false, {0, 1}},
        {S, 1, true, true, false, {1}},
    };
    for (const Case &c : cases) {
        SeriesPlan plan;
        plan.conditions.kind = c.kind;
        plan.conditions.systemMode = c.systemMode;
        plan.button = c.button;
        plan.noiseGen = c.noiseGen;
        plan.dutSwitch = c.dutSwitch;
        EXPECT_EQ(sequence(plan), c.order)
            << "button " << c.button << " noise " << c.noiseGen << " dut " << c.dutSwitch
            << " system " << c.systemMode << " calibration " << (c.kind == C);
    }
}

TEST(SeriesStallLimit, ThreeCaptureTimesAndASecondAtLeastTwoSeconds)
{
    EXPECT_EQ(readingStallLimit(100), std::chrono::milliseconds(2000));
    EXPECT_EQ(readingStallLimit(1000), std::chrono::milliseconds(4000));
    EXPECT_EQ(readingStallLimit(10000), std::chrono::milliseconds(31000));
}

// The ENR's half-width from the file's third column at the entry while the file is in use
// (interpolated between rows), else the typed one; the off temperature's as typed; what is
// negative or not a number counts as exactly known.
TEST(StatedUncertainty, FileColumnOrTypedValue)
{
    EnrTable table;
    ASSERT_EQ(parseEnrData("100,25.0,0.20\n200,24.0,0.40\n300,23.0\n", table), 0);
    const double nan = std::nan("");
    struct Case
    {
        double entry;
        bool useFile;
        double typedEnr, typedTsOff, enr, tsOff;
    };
    for (const Case &c : {Case{150.0, true, 0.5, 2.0, 0.30, 2.0},
                          Case{150.0, false, 0.5, 2.0, 0.5, 2.0},
                          Case{100.0, true, 0.5, -1.0, 0.20, 0.0},
                          Case{150.0, false, nan, nan, 0.0, 0.0},
                          Case{150.0, false, -0.1, 1.0, 0.0, 1.0}}) {
        const StatedUncertainty s =
            statedUncertainty(c.entry, c.useFile, table, c.typedEnr, c.typedTsOff);
        EXPECT_NEAR(s.enrDb, c.enr, 1e-12) << c.entry << " file " << c.useFile;
        EXPECT_EQ(s.offTemperatureK, c.tsOff);
    }
}

// The precision fields as typed: off, a target that is not a number above 0, and a time
// limit that is not one above 0 (the default 60 s stays).
TEST(PrecisionFromText, OnlyATargetAboveZeroTurnsItOn)
{
    EXPECT_FALSE(precisionFromText(false, "0.05", "30"));
    for (const char *target : {"0", "-0.1", "abc", "nan", ""})
        EXPECT_FALSE(precisionFromText(true, target, "30")) << target;
    const auto p = precisionFromText(true, "0.05", "30");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->halfWidthDb, 0.05);
    EXPECT_EQ(p->maxSeconds, 30.0);
    for (const char *limit : {"0", "-5", "x"})
        EXPECT_EQ(precisionFromText(true, "0.1", limit)->maxSeconds, 60.0) << limit;
}

class SeriesRunnerTest : public test::BenchEngineTest
{
protected:
    // Measure Device, both automations, the button of reading 0: one dummy, eight blocks.
    static SeriesPlan devicePlan()
    {
        SeriesPlan plan;
        plan.conditions = {SeriesKind::Device, false, 25.0, kBenchT0, 293.0, 293.0, {}};
        plan.noiseGen = plan.dutSwitch = plan.driveSwitches = true;
        plan.reading = {1, true, 8};
        return plan;
    }

    SeriesRunner runner{engine, engine.settings(), engine.resultLine()};
    SeriesReadings readings{SeriesKind::Device};
    Recorder recorder;
};

// Repeated series agree with the bench's truth within three standard errors of their
// mean. Receiver NF 3 dB; the reference source off at 293 K, the unknown one at 350 K, so
// that the off-temperature term of the unknown source's ENR is 0.9 dB and a wrong sign shows.
class SeriesAccuracy : public SeriesRunnerTest
{
protected:
    static constexpr int kSeries = 40;

    void setBench(DutSwitchSelects selects)
    {
        BenchEngineTest::setBench({.sourceOffTemperatureK = 293.0,
                                   .unknownOffTemperatureK = 350.0,
                                   .receiverNfDb = 3.0,
                                   .dutSwitchSelects = selects});
    }

    static void expectWithinThreeStandardErrors(const std::vector<double> &v, double truth,
                                                const char *what)
    {
        ASSERT_GT(v.size(), 2u) << what;
        double sum = 0.0, squares = 0.0;
        for (const double x : v)
            sum += x;
        const double n = static_cast<double>(v.size()), mean = sum / n;
        for (const double x : v)
            squares += (x - mean) * (x - mean);
        const double standardError = std::sqrt(squares / (n - 1.0) / n);
        EXPECT_LT(standardError, 0.1) << what; // the check means something
        EXPECT_LE(std::fabs(mean - truth), 3.0 * standardError)
            << what << ": mean " << mean << ", standard error " << standardError << ", truth "
            << truth;
    }
};

TEST_F(SeriesAccuracy, DeviceAndSystemNoiseFigureAndGain)
{
    setBench(DutSwitchSelects::Dut);
    const BenchTruth truth = engine.bench().truth();
    SeriesPlan plan = devicePlan();
    plan.passes = kSeries;
    SeriesConditions system = plan.conditions;
    system.systemMode = true;
    std::vector<double> dutNf, gain, systemNf;
    recorder.onPass = [&](const SeriesPassReport &pass) {
        const DeviceResults &r = pass.evaluation.device;
        ASSERT_TRUE(r.complete && r.noise.valid && r.gainValid);
        dutNf.push_back(r.noise.nf);
        gain.push_back(r.gainDb);
        systemNf.push_back(
            readings.evaluate(system, engine.settings(), engine.resultLine()).device.noise.nf);
    };
    const SeriesOutcome o = runner.run(plan, readings, recorder);
    EXPECT_EQ(o.end, SeriesEnd::Complete);
    EXPECT_EQ(o.passes, kSeries);
    expectWithinThreeStandardErrors(dutNf, truth.dutNfDb, "DUT noise figure");
    expectWithinThreeStandardErrors(gain, truth.dutGainDb, "DUT gain");
    expectWithinThreeStandardErrors(systemNf, truth.receiverNfDb, "system noise figure");
}

TEST_F(SeriesAccuracy, UnknownSourceEnrWithItsOwnOffTemperature)
{
    setBench(DutSwitchSelects::UnknownSource);
    const BenchTruth truth = engine.bench().truth();
    SeriesPlan plan = devicePlan();
    plan.conditions = {SeriesKind::Calibration, false, 25.0, kBenchT0, 293.0, 350.0, {}};
    plan.dutSwitch = false;
    SeriesReadings calibration(SeriesKind::Calibration);
    std::vector<double> enr;
    for (int k = 0; k < kSeries; ++k) {
        // "Measure" of the reference pair, then of the unknown pair, with "Noise Gen".
        for (const int button : {0, 2}) {
            plan.button = button;
            ASSERT_EQ(runner.run(plan, calibration, recorder).end, SeriesEnd::Complete);
        }
        const SeriesPassReport &pass = recorder.passes.back();
        ASSERT_TRUE(pass.evaluation.complete && pass.evaluation.calibration.enr.valid);
        ASSERT_TRUE(pass.uncertainty.complete);
        enr.push_back(pass.evaluation.calibration.enr.enrDb);
    }
    expectWithinThreeStandardErrors(enr, truth.unknownEnrDb, "unknown source ENR");
}

// Reports: every reading after it is stored, with its blocks and its statistics' error in
// the uncertainty, the stated parts in the total only; the pass once complete.
TEST_F(SeriesRunnerTest, ReportsEachReadingAndThePassWithTheStatedUncertainties)
{
    SeriesPlan plan = devicePlan();
    plan.stated = {0.2, 2.0};
    const SeriesOutcome o = runner.run(plan, readings, recorder);
    ASSERT_EQ(o.end, SeriesEnd::Complete);
    EXPECT_EQ(recorder.started, (std::vector<int>{0, 1, 2, 3}));
    ASSERT_EQ(recorder.done.size(), 4u);
    for (const SeriesReadingReport &r : recorder.done) {
        EXPECT_EQ(r.label, nfReadingLabel(r.reading));
        EXPECT_EQ(r.blocks, 8);
        EXPECT_EQ(r.dummies, 1);
        EXPECT_EQ(r.blockPowers.size(), 8u);
        EXPECT_EQ(r.power, readings.power(r.reading));
        EXPECT_GT(readings.error(r.reading).relative, 0.0);
    }
    EXPECT_FALSE(recorder.done[2].evaluation.complete);
    ASSERT_EQ(recorder.passes.size(), 1u);
    const SeriesPassReport &pass = recorder.passes[0];
    EXPECT_FALSE(pass.cutShort);
    ASSERT_TRUE(pass.evaluation.complete && pass.uncertainty.complete);
    EXPECT_EQ(pass.evaluation.device.noise.nf, recorder.done[3].evaluation.device.noise.nf);

    // The same readings without the stated parts: the statistical part is the same, the
    // total grows with them.
    const SeriesUncertainty bare = readings.uncertainty(plan.conditions, {});
    const DeviceResultsUncertainty &u = pass.uncertainty.device;
    EXPECT_EQ(u.nf.statistical, bare.device.nf.statistical);
    // 0.2 dB of ENR at 95% is 0.1 dB standard, about 0.1 dB of NF; 2 K of TSoff little.
    EXPECT_NEAR(u.nf.total, std::hypot(bare.device.nf.total, 0.1), 0.015);
    EXPECT_GT(u.te.total, bare.device.te.total);
    // Without them the total is the statistical part and the drift the readings' blocks
    // cannot rule out.
    EXPECT_NEAR(bare.device.nf.total, std::hypot(bare.device.nf.statistical, bare.device.nf.drift),
                1e-12);
    EXPECT_TRUE(recorder.messages.empty());
}

// Mended fault: audio the device dropped while a reading ran was counted by nothing. The
// bench at 4 times real time (a 100 ms block every 25 ms) with the delivery thread held for
// 300 ms in reading 2 (far beyond the ring's 200 ms of audio, 50 ms at this pace): that
// reading, and the pass, warn of the lost audio; the others do not.
TEST_F(SeriesRunnerTest, AudioLostDuringAReadingIsItsWarning)
{
    BenchParameters p;
    p.seed = 7;
    p.speed = 4.0;
    engine.bench().setParameters(p);
    SeriesPlan plan = devicePlan();
    bool held = false;
    recorder.onProgress = [&](const ReadingProgress &progress) {
        if (!held && recorder.started.back() == 2 &&
            progress.kind == ReadingProgress::Kind::Counted) {
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    };
    ASSERT_EQ(runner.run(plan, readings, recorder).end, SeriesEnd::Complete);
    ASSERT_EQ(recorder.done.size(), 4u);
    for (const SeriesReadingReport &r : recorder.done)
        EXPECT_EQ(r.warnings.lostAudio, r.reading == 2) << r.reading;
    ASSERT_EQ(recorder.passes.size(), 1u);
    EXPECT_NE(warningText(recorder.passes[0].warnings).find(kLostAudioWarningText),
              std::string::npos);
}

// Cancelled before the DUT pair of the second pass: the pass is cut short and its results
// come from its own readings alone (the system pair), not from the first pass's DUT pair,
// which stays stored.
TEST_F(SeriesRunnerTest, CancelCutsThePassShortWithItsOwnReadings)
{
    SeriesPlan plan = devicePlan();
    plan.passes = 0; // "Repeat"
    int starts = 0;
    recorder.before = [&](int reading) { return !(++starts > 4 && reading == 2); };
    const SeriesOutcome o = runner.run(plan, readings, recorder);
    EXPECT_EQ(o.end, SeriesEnd::Cancelled);
    EXPECT_EQ(o.passes, 1);
    ASSERT_EQ(recorder.passes.size(), 2u);
    const SeriesPassReport &cut = recorder.passes[1];
    EXPECT_TRUE(cut.cutShort);
    EXPECT_EQ(cut.taken, (std::array<bool, 4>{true, true, false, false}));
    EXPECT_FALSE(cut.evaluation.complete);
    EXPECT_TRUE(readings.present(2) && readings.present(3));
    EXPECT_TRUE(recorder.messages.empty());
}

// Every failure ends the series with its message (none when the device does not open at
// the probe); the failed reading keeps its earlier value.
TEST_F(SeriesRunnerTest, FailuresEndTheSeriesWithTheirMessage)
{
    SeriesPlan plan = devicePlan();
    ASSERT_EQ(runner.run(plan, readings, recorder).end, SeriesEnd::Complete);
    const double before = readings.power(0);

    struct Case
    {
        int device;
        int message;
    };
    for (const Case &c : {Case{test::kSilentDevice, kMsgDeviceStoppedDelivering},
                          Case{test::kNoStartDevice, kMsgCannotOpenWaveDevice},
                          Case{test::kRefusingDevice, kMsgNone}}) {
        engine.settings().waveInDevice = c.device;
        recorder.messages.clear();
        const SeriesOutcome o = runner.run(plan, readings, recorder);
        EXPECT_EQ(o.end, SeriesEnd::Failed) << c.device;
        EXPECT_EQ(o.messageId, c.message) << c.device;
        EXPECT_EQ(o.reading, 0);
        EXPECT_EQ(recorder.messages,
                  c.message ? std::vector<int>{c.message} : std::vector<int>{});
        EXPECT_EQ(readings.power(0), before);
    }

    // Over range on the loudest state (noise source on, DUT in).
    engine.settings().waveInDevice = engine.benchDevice();
    setBench({.loudestLevelDbfs = 0.0});
    recorder.messages.clear();
    const double dutOn = readings.power(2);
    SeriesOutcome o = runner.run(plan, readings, recorder);
    EXPECT_EQ(o.end, SeriesEnd::Failed);
    EXPECT_EQ(o.messageId, kMsgSignalTooHigh);
    EXPECT_EQ(o.reading, 2);
    EXPECT_EQ(readings.power(2), dutOn);

    // A log line that cannot be written: the reading is stored, the series ends.
    setBench({}, 7); // other noise than the first series: a stored reading shows
    Settings &s = engine.settings();
    s.logMeasurements = true;
    s.logResultsFile = "/nonexistent-folder/results.log";
    recorder.messages.clear();
    recorder.done.clear();
    o = runner.run(plan, readings, recorder);
    EXPECT_EQ(o.end, SeriesEnd::Failed);
    EXPECT_EQ(o.messageId, kMsgCannotOpenLog);
    EXPECT_EQ(recorder.messages, std::vector<int>{kMsgCannotOpenLog});
    ASSERT_EQ(recorder.done.size(), 1u);
    EXPECT_NE(readings.power(0), before);
}

// Averaging to a precision on a first pass: a pilot of two blocks of each reading but the
// last, the last in full, then back to the DUT ON reading, whose pilot is short of its share
// (the system pair's sensitivities are small: their pilots are enough). The result reaches
// the target; the second pass knows the powers and takes no pilot.
TEST_F(SeriesRunnerTest, FirstPassOfAPrecisionTakesPilotsThenGoesBack)
{
    SeriesPlan plan = devicePlan();
    plan.conditions.tsOff = engine.bench().parameters().sourceOffTemperatureK;
    plan.precision = PrecisionTarget{0.15, 60.0, 2};
    plan.passes = 2;
    const SeriesOutcome o = runner.run(plan, readings, recorder);
    ASSERT_EQ(o.end, SeriesEnd::Complete);
    EXPECT_EQ(recorder.started, (std::vector<int>{0, 1, 2, 3, 2, 0, 1, 2, 3}));
    ASSERT_EQ(recorder.done.size(), 8u);
    const auto &first = recorder.done;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(first[static_cast<std::size_t>(i)].reading, i); // stored in order
    EXPECT_EQ(first[0].blocks, 2);
    EXPECT_EQ(first[1].blocks, 2);
    EXPECT_GT(first[2].blocks, 2);
    EXPECT_EQ(first[2].dummies, 2); // its pilot's and its own after switching back
    EXPECT_GT(first[3].blocks, 2);
    EXPECT_EQ(first[3].dummies, 1);
    for (const SeriesPassReport &pass : recorder.passes) {
        ASSERT_TRUE(pass.uncertainty.complete);
        EXPECT_LE(pass.uncertainty.device.nf.statisticalHalfWidth(), 0.15 * 1.15);
    }
    for (std::size_t i = 4; i < 8; ++i)
        EXPECT_EQ(first[i].dummies, 1);
}

} // namespace
} // namespace quillon
