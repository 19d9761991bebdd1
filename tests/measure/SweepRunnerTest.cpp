// Sweeps: on the bench against its known curves, with the CSV of the rows; a rigctld that
// dies mid-sweep; Stop during a reading and abort during a settle wait.
#include "measure/SweepRunner.h"

#include "measure/SweepPlan.h"
#include "support/BenchSeries.h"
#include "support/Rigctld.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillon {
namespace {

class Sweep : public test::BenchEngineTest
{
protected:
    Sweep()
    {
        setBench({}, 77);
        config.rig.kind = RigKind::VirtualBench;
        config.plan = {1, true, 16};
        config.settings = engine.settings();
        config.tsOff = engine.bench().parameters().sourceOffTemperatureK;
        config.t0 = 290.0;
        runner.setFinishedHook([this](const SweepOutcome &o) { outcome = o; });
    }

    SweepOutcome finish()
    {
        EXPECT_TRUE(runner.waitFinished(std::chrono::seconds(60)));
        return outcome; // written before the ended flag, read after it
    }

    SweepConfig config;
    SweepOutcome outcome;
    SweepRunner runner{engine};
};

// 100 to 190 MHz on the bench, the ENR from the bench's calibration file: NF and gain
// within three standard errors of the bench's curves, the ENR the curve's, and the CSV of
// the rows reads back as exactly those rows.
TEST_F(Sweep, BenchSweepFollowsTheCurvesAndItsCsvHoldsTheRows)
{
    ASSERT_TRUE(planSweep(100.0, 190.0, 10.0, config.frequenciesMHz).ok());
    ASSERT_EQ(config.frequenciesMHz.size(), 10u);
    config.useEnrFile = true;
    ASSERT_EQ(
        parseEnrFile(std::string(QUILLON_SOURCE_DIR) + "/resources/bench-enr.txt", config.enrTable),
        0);
    int delivered = 0;
    runner.setPointHook([&delivered](const SweepRow &) { ++delivered; });
    ASSERT_TRUE(runner.start(config));
    const SweepOutcome o = finish();
    EXPECT_EQ(o.end, SweepEnd::Complete);
    EXPECT_EQ(o.points, 10);
    EXPECT_EQ(delivered, 10);

    const std::vector<SweepRow> rows = runner.rows();
    ASSERT_EQ(rows.size(), 10u);
    const BenchParameters p = engine.bench().parameters();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const SweepRow &r = rows[i];
        const BenchTruth truth = computeTruth(p, config.frequenciesMHz[i]);
        SCOPED_TRACE(r.frequencyMHz);
        EXPECT_EQ(r.frequencyMHz, config.frequenciesMHz[i]);
        EXPECT_NEAR(r.enrDb, truth.referenceEnrDb, 1e-9);
        ASSERT_GT(r.nfUncertaintyDb, 0.0);
        ASSERT_GT(r.gainUncertaintyDb, 0.0);
        EXPECT_NEAR(r.nfDb, truth.dutNfDb, 3.0 * r.nfUncertaintyDb);
        EXPECT_NEAR(r.gainDb, truth.dutGainDb, 3.0 * r.gainUncertaintyDb);
        EXPECT_NEAR(r.teK, truth.dutTeK, 3.0 * r.teUncertaintyK);
        EXPECT_EQ(r.warnings, "");
    }
    // The gain falls across the band by more than its noise: the points are not one point.
    EXPECT_GT(rows.front().gainDb - rows.back().gainDb, 1.0);

    std::vector<std::vector<std::string>> records;
    ASSERT_TRUE(parseCsv(sweepCsv(rows), records));
    ASSERT_EQ(records.size(), 11u);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(std::stod(records[i + 1][2]), rows[i].nfDb);
}

// The daemon is killed once the first point is in: the next retuning fails with the rig's
// message, the sweep ends Failed and the first point stays.
TEST_F(Sweep, RigctldKilledMidSweepEndsWithItsMessageAndKeepsThePoints)
{
    test::Rigctld daemon;
    ASSERT_TRUE(daemon.running());
    config.rig = {.kind = RigKind::Hamlib,
                  .hamlibModel = kHamlibNetRigctlModel,
                  .port = daemon.address(),
                  .timeoutMs = 500};
    config.frequenciesMHz = {144.0, 145.0, 146.0};
    runner.setPointHook([&daemon](const SweepRow &) {
        daemon.signal(SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the socket closes
    });
    ASSERT_TRUE(runner.start(config));
    const SweepOutcome o = finish();
    EXPECT_EQ(o.end, SweepEnd::Failed);
    EXPECT_EQ(o.message, "Receiver Hamlib NET rigctl (hamlib model 2) at " + daemon.address() +
                             ": setting the frequency to 145.000000 MHz failed: IO error.");
    ASSERT_EQ(runner.rows().size(), 1u);
    EXPECT_EQ(runner.rows()[0].frequencyMHz, 144.0);
    EXPECT_TRUE(std::isfinite(runner.rows()[0].nfDb));
}

// Stop during the second point's first reading: that point is completed and kept, no
// further point is tuned. A second start then begins a fresh sweep.
TEST_F(Sweep, StopCompletesThePointBeingReadAndEndsThere)
{
    config.frequenciesMHz = {140.0, 141.0, 142.0, 143.0};
    int firstReadings = 0;
    runner.setStatusHook([this, &firstReadings](const std::string &status) {
        if (status == "Reading Noise (ON)" && ++firstReadings == 2)
            runner.requestStop();
    });
    ASSERT_TRUE(runner.start(config));
    SweepOutcome o = finish();
    EXPECT_EQ(o.end, SweepEnd::Stopped);
    ASSERT_EQ(runner.rows().size(), 2u);
    EXPECT_EQ(runner.rows()[1].frequencyMHz, 141.0);
    EXPECT_TRUE(std::isfinite(runner.rows()[1].gainDb));

    runner.setStatusHook({});
    config.frequenciesMHz = {150.0};
    ASSERT_TRUE(runner.start(config));
    o = finish();
    EXPECT_EQ(o.end, SweepEnd::Complete);
    ASSERT_EQ(runner.rows().size(), 1u);
    EXPECT_EQ(runner.rows()[0].frequencyMHz, 150.0);
}

// abort() during a minute's settle wait returns at once and the sweep ends without a point;
// the runner's destructor then has nothing to wait for.
TEST_F(Sweep, AbortEndsASettleWaitAtOnce)
{
    config.frequenciesMHz = {144.0, 145.0};
    config.settleMs = 60'000;
    std::atomic<bool> settling{false};
    runner.setStatusHook([&settling](const std::string &status) {
        if (status == "Settling")
            settling = true;
    });
    ASSERT_TRUE(runner.start(config));
    while (!settling)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto before = std::chrono::steady_clock::now();
    runner.abort();
    ASSERT_TRUE(runner.waitFinished(std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(outcome.end, SweepEnd::Stopped);
    EXPECT_TRUE(runner.rows().empty());
}

// A sweep point is one Measure Device series: on the same seeded bench noise, one block per
// reading, a tone in the passband and stated ENR and TSoff uncertainties, the point at the
// bench's own frequency gives the series' results, total uncertainties (standard) and
// warnings.
TEST_F(Sweep, PointIsTheMeasureDeviceSeriesOnTheSameReadings)
{
    BenchParameters bench;
    bench.faults.toneOn = true;
    bench.faults.toneDbfs = -45.0;
    config.frequenciesMHz = {bench.frequencyMHz};
    config.plan = {1, false, 1};
    config.typedEnrDb = bench.referenceEnrDb;
    config.enrUncertaintyDb = 0.25;
    config.tsOffUncertaintyK = 3.0;
    setBench(bench, 5);
    ASSERT_TRUE(runner.start(config));
    ASSERT_EQ(finish().end, SweepEnd::Complete);
    ASSERT_EQ(runner.rows().size(), 1u);
    const SweepRow row = runner.rows()[0];

    setBench(bench, 5);
    SeriesPlan plan;
    plan.conditions = {SeriesKind::Device, false, config.typedEnrDb, config.t0, config.tsOff,
                       config.tsOff, {}};
    plan.stated = {0.25, 3.0};
    plan.noiseGen = plan.dutSwitch = plan.driveSwitches = true;
    plan.reading = config.plan;
    SeriesRunner series(engine, engine.settings(), engine.resultLine());
    SeriesReadings readings(SeriesKind::Device);
    struct : SeriesListener
    {
        void passDone(const SeriesPassReport &p) override { pass = p; }
        SeriesPassReport pass;
    } listener;
    ASSERT_EQ(series.run(plan, readings, listener).end, SeriesEnd::Complete);
    const SeriesPassReport &p = listener.pass;
    ASSERT_TRUE(p.uncertainty.complete);
    EXPECT_EQ(row.nfDb, p.evaluation.device.noise.nf);
    EXPECT_EQ(row.gainDb, p.evaluation.device.gainDb);
    EXPECT_EQ(row.teK, p.evaluation.device.noise.te);
    EXPECT_EQ(row.nfUncertaintyDb, p.uncertainty.device.nf.total);
    EXPECT_EQ(row.gainUncertaintyDb, p.uncertainty.device.gainDb.total);
    EXPECT_EQ(row.teUncertaintyK, p.uncertainty.device.te.total);
    EXPECT_GT(row.nfUncertaintyDb, p.uncertainty.device.nf.statistical);
    ASSERT_TRUE(p.warnings.interference);
    EXPECT_EQ(row.warnings, kInterferenceWarningText);
}

} // namespace
} // namespace quillon
