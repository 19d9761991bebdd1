// A drifting receiver in Measure Device's series: the drift-cancelling order (which blocks
// the runner takes where), the drift estimate and its term in the uncertainty with known
// numbers, the warning's threshold and text, the bench with a known drift in both orders,
// and a cancel in the middle of a half.
#include "measure/SeriesDrift.h"
#include "measure/SeriesRunner.h"

#include "core/SettingsStore.h"
#include "core/SettingsTestSupport.h"
#include "nf/NoiseResults.h"
#include "support/BenchSeries.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace quillon {
namespace {

constexpr double kDbPerNeper = 10.0 / std::numbers::ln10;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- The estimate and its term, from blocks with known times and powers ----

// Eight blocks of 0.1 s per reading; the powers of the bench's four switch states (0 system
// ON, 1 OFF, 2 DUT ON, 3 OFF) times exp(rate t), with a +-1e-3 pattern that is orthogonal to
// both a level and a slope (+ - - + + - - +): the fit finds the rate exactly and a scatter of
// known size.
struct Blocks
{
    static constexpr double kBlock = 0.1;
    static constexpr double kRate = 0.1 / kDbPerNeper; // 0.1 dB/s, in 1/s
    static constexpr double kScatter = 1e-3;
    static constexpr double kPattern[8] = {1, -1, -1, 1, 1, -1, -1, 1};

    std::array<double, kDeviceReadingCount> truePower{};
    std::array<ReadingTimeline, kDeviceReadingCount> timelines;
    // Mean of exp(rate t) over each reading's blocks: what the readings average to.
    std::array<double, kDeviceReadingCount> meanGain{};
    std::array<int, kDeviceReadingCount> added{};

    Blocks()
    {
        const BenchTruth t = computeTruth(BenchParameters{});
        truePower = {t.states[switchStateIndex(true, false)].power,
                     t.states[switchStateIndex(false, false)].power,
                     t.states[switchStateIndex(true, true)].power,
                     t.states[switchStateIndex(false, true)].power};
    }
    // `count` blocks of reading k from `firstMid` s on.
    void add(int k, double firstMid, int count)
    {
        const auto i = static_cast<std::size_t>(k);
        std::vector<double> p;
        for (int j = 0; j < count; ++j) {
            const double g = std::exp(kRate * (firstMid + j * kBlock));
            meanGain[i] += g / 8.0;
            p.push_back(truePower[i] * g * (1.0 + kScatter * kPattern[added[i]++]));
        }
        timelines[i].addBlocks(firstMid, kBlock, count, p);
    }
    // One dummy block and eight counted ones per reading, in the sequential order.
    static Blocks sequential()
    {
        Blocks b;
        for (int k = 0; k < kDeviceReadingCount; ++k)
            b.add(k, 0.9 * k + 0.15, 8);
        return b;
    }
    // ON (4), OFF (8), ON (4) per pair, one dummy block before each capture.
    static Blocks cancelling()
    {
        Blocks b;
        for (int pair = 0; pair < 2; ++pair) {
            const double t0 = 1.9 * pair;
            b.add(2 * pair, t0 + 0.15, 4);
            b.add(2 * pair + 1, t0 + 0.65, 8);
            b.add(2 * pair, t0 + 1.55, 4);
        }
        return b;
    }
    std::array<double, kDeviceReadingCount> drifted() const
    {
        std::array<double, kDeviceReadingCount> p{};
        for (std::size_t i = 0; i < p.size(); ++i)
            p[i] = truePower[i] * meanGain[i];
        return p;
    }
};

constexpr std::array<bool, kDeviceReadingCount> kAll{true, true, true, true};

double dutNf(const std::array<double, kDeviceReadingCount> &p)
{
    return computeDeviceResults(p, kAll, false, 25.0, kBenchT0, 293.0).noise.nf;
}

TEST(DriftEstimate, SequentialReadingsGiveTheRateAndTheBiasInY)
{
    const Blocks b = Blocks::sequential();
    const DriftEstimate d = estimateDrift(b.timelines, kAll);
    ASSERT_TRUE(d.known);
    EXPECT_NEAR(d.rate, Blocks::kRate, 1e-9);
    // 32 blocks, 4 levels and the slope fitted; a scatter of 1e-3 over sum (t - mean)^2 of
    // 4 x 0.42 s^2.
    EXPECT_EQ(d.degrees, 27.0);
    EXPECT_NEAR(d.rateStandard, std::sqrt(32e-6 / 27.0 / 1.68), 1e-9);
    EXPECT_NEAR(d.spanSeconds, 3.4, 1e-12); // 0.15 s to 3.55 s
    EXPECT_NEAR(d.driftDb, 0.34, 1e-6);
    EXPECT_TRUE(d.resolved && d.significant);
    // The OFF reading 0.9 s after its ON one: ln Y is off by -0.9 s x rate.
    EXPECT_NEAR(d.term.bias[0] - d.term.bias[1], -0.9 * Blocks::kRate, 1e-12);
    EXPECT_NEAR(d.term.slope[2] - d.term.slope[3], -0.9, 1e-12);
    // The readings' real means give the same Y.
    const auto p = b.drifted();
    EXPECT_NEAR(std::log(p[0] / p[1]) - std::log(b.truePower[0] / b.truePower[1]),
                d.term.bias[0] - d.term.bias[1], 1e-12);

    // The term in the noise figure is the bias the drift puts there (first order), and
    // with the rate's uncertainty it only grows.
    DriftTerm exact = d.term;
    exact.rateStandard = 0.0;
    const std::array<ReadingError, kDeviceReadingCount> none{};
    const DeviceUncertainty u = deviceNoiseUncertainty(p, none, 25.0, kBenchT0, 293.0, {}, exact);
    const double bias = dutNf(p) - dutNf(b.truePower);
    EXPECT_GT(std::fabs(bias), 0.05);
    EXPECT_NEAR(u.nf.drift, std::fabs(bias), 0.02 * std::fabs(bias));
    EXPECT_EQ(u.nf.total, u.nf.drift);
    EXPECT_EQ(u.nf.statistical, 0.0); // the drift is not in the statistical part
    const DeviceUncertainty withRate =
        deviceNoiseUncertainty(p, none, 25.0, kBenchT0, 293.0, {}, d.term);
    EXPECT_GT(withRate.nf.drift, u.nf.drift);
}

TEST(DriftEstimate, CancellingOrderLeavesOnlyTheSecondOrderResidual)
{
    const Blocks b = Blocks::cancelling();
    const DriftEstimate d = estimateDrift(b.timelines, kAll);
    ASSERT_TRUE(d.known);
    EXPECT_NEAR(d.rate, Blocks::kRate, 1e-9);
    // The ON reading's blocks centre on its OFF reading's: no first-order bias in Y...
    EXPECT_NEAR(b.timelines[0].meanTime(), b.timelines[1].meanTime(), 1e-12);
    const double residual = d.term.bias[0] - d.term.bias[1];
    const double varianceOn = b.timelines[0].timeVariance();
    const double varianceOff = b.timelines[1].timeVariance();
    EXPECT_NEAR(varianceOff, 0.0525, 1e-12); // (8^2 - 1) / 12 x 0.1^2
    EXPECT_NEAR(residual, Blocks::kRate * Blocks::kRate / 2.0 * (varianceOn - varianceOff), 1e-15);
    // ...and the real means agree with the estimated residual (to the fourth cumulant), a
    // hundredth of the sequential order's first-order bias.
    const auto p = b.drifted();
    const double actual = std::log(p[0] / p[1]) - std::log(b.truePower[0] / b.truePower[1]);
    EXPECT_NEAR(actual, residual, 1e-8);
    EXPECT_LT(std::fabs(actual), 0.01 * 0.9 * Blocks::kRate);

    // The noise figure's drift part: the pairs' Y factors are clean, the gain (the DUT pair
    // 1.9 s after the reference pair) still carries the drift between them.
    DriftTerm exact = d.term;
    exact.rateStandard = 0.0;
    const DeviceUncertainty u = deviceNoiseUncertainty(p, {}, 25.0, kBenchT0, 293.0, {}, exact);
    EXPECT_NEAR(u.gainDb.drift, 1.9 * 0.1, 1e-3);
    EXPECT_NEAR(u.nf.drift, std::fabs(dutNf(p) - dutNf(b.truePower)), 2e-4);
    EXPECT_LT(u.nf.drift, 0.01);
}

TEST(DriftEstimate, NothingKnownWithoutTheBlocksForASlope)
{
    ReadingTimeline one, two;
    one.addBlocks(0.15, 0.1, 1, std::vector<double>{1.0});
    two.addBlocks(0.35, 0.1, 2, std::vector<double>{1.0, 1.1});
    // Two readings of one and two blocks: the slope leaves no degree for its scatter.
    EXPECT_FALSE(estimateDrift({one, two, {}, {}}, {true, true, false, false}).known);
    // A reading not present does not count, nor do blocks of no power.
    ReadingTimeline silent;
    silent.addBlocks(1.0, 0.1, 4, std::vector<double>{0.0, 1.0, 1.0, 1.0});
    EXPECT_FALSE(estimateDrift({one, two, silent, {}}, {true, true, true, false}).known);
    EXPECT_FALSE(estimateDrift({one, two, silent, {}}, {true, true, false, false}).term.bias[2] !=
                 0.0);
    // Blocks beyond the 32 stored still place the reading in time.
    ReadingTimeline many;
    many.addBlocks(0.05, 0.1, 40, std::vector<double>(32, 1.0));
    EXPECT_EQ(many.blocks(), 40);
    EXPECT_EQ(many.times().size(), 32u);
    EXPECT_NEAR(many.meanTime(), 2.0, 1e-12);
    EXPECT_NEAR(many.lastTime(), 3.95, 1e-12);
    EXPECT_TRUE(std::isnan(ReadingTimeline{}.meanTime()));
}

// The warning: a rate off zero by more than 1.7 of its 95% half-width and 0.05 dB over the
// series, either sign; the text, which warningText puts last.
TEST(DriftWarning, ThresholdBothSidesAndText)
{
    struct Case
    {
        double rate, standard, degrees, driftDb;
        bool significant;
    };
    const double k = 1.7 * coverageFactor95(1e9); // 3.33
    for (const Case &c :
         {Case{k * 1.01, 1.0, 1e9, 0.06, true}, Case{k * 0.99, 1.0, 1e9, 0.06, false},
          Case{-k * 1.01, 1.0, 1e9, -0.06, true}, Case{k * 1.01, 1.0, 1e9, 0.049, false},
          Case{k * 1.01, 1.0, 1e9, -0.05, true},
          Case{1.7 * 2.228 * 1.01, 1.0, 10.0, 0.1, true}, // t95 at 10 degrees
          Case{1.7 * 2.228 * 0.99, 1.0, 10.0, 0.1, false},
          Case{1.0, 0.0, 1e9, 0.1, false}, // a scatter of 0 says nothing
          Case{kNaN, 1.0, 1e9, 0.1, false}})
        EXPECT_EQ(isDriftSignificant(c.rate, c.standard, c.degrees, c.driftDb), c.significant)
            << c.rate << " " << c.standard << " " << c.degrees << " " << c.driftDb;

    // The term enters the total from the rate's 95% half-width on: below the warning.
    for (const auto &[rate, degrees, resolved] : {std::tuple{1.97, 1e9, true},
                                                  {1.95, 1e9, false},
                                                  {-1.97, 1e9, true},
                                                  {2.24, 10.0, true},
                                                  {2.22, 10.0, false},
                                                  {kNaN, 10.0, false}})
        EXPECT_EQ(isDriftResolved(rate, 1.0, degrees), resolved) << rate << " " << degrees;
    EXPECT_FALSE(isDriftResolved(1.0, 0.0, 1e9));

    EXPECT_EQ(driftWarningText(0.148), "receiver gain drifted by 0.15 dB during the series");
    EXPECT_EQ(driftWarningText(-0.2), "receiver gain drifted by -0.20 dB during the series");
    ReadingWarnings w;
    EXPECT_FALSE(w.any());
    w.driftDb = 0.3;
    w.lostAudio = true;
    EXPECT_TRUE(w.drift());
    EXPECT_EQ(warningText(w), std::string(kLostAudioWarningText) +
                                  "\nreceiver gain drifted by 0.30 dB during the series");
}

// A reading of two halves: their errors combine as the errors of their sums.
TEST(HalvesError, CombinesEachHalfsOwnScatter)
{
    ReadingStatistics a, b;
    a.blocks = b.blocks = 4;
    a.meanPower = b.meanPower = 2.0;
    a.relativeStandardError = b.relativeStandardError = 0.02;
    a.degreesOfFreedom = b.degreesOfFreedom = 60.0;
    ReadingError e = halvesError(a, b);
    EXPECT_NEAR(e.relative, 0.02 / std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(e.degreesOfFreedom, 120.0, 1e-9);
    // A second half at twice the level (a drifted gain) weighs twice.
    b.meanPower = 4.0;
    e = halvesError(a, b);
    EXPECT_NEAR(e.relative, std::hypot(8.0 * 0.02, 16.0 * 0.02) / 24.0, 1e-15);
    // A half without blocks leaves the other's error.
    b.blocks = 0;
    EXPECT_EQ(halvesError(a, b).relative, 0.02);
}

// ---- The runner on the bench ----

// Cancels the series when a reading is about to be taken for the `cancelAt`-th time
// (1-based), and keeps what it reports.
struct DriftListener : SeriesListener
{
    bool beforeReading(int reading, std::string_view) override
    {
        started.push_back(reading);
        return static_cast<int>(started.size()) != cancelAt;
    }
    void readingDone(const SeriesReadingReport &r) override { done.push_back(r); }
    void passDone(const SeriesPassReport &p) override { passes.push_back(p); }
    int cancelAt = 0;
    std::vector<int> started;
    std::vector<SeriesReadingReport> done;
    std::vector<SeriesPassReport> passes;
};

class DriftSeriesTest : public test::BenchEngineTest
{
protected:
    static SeriesPlan plan(int blocks, bool driftOrder)
    {
        SeriesPlan p;
        p.conditions = {SeriesKind::Device, false, 25.0, kBenchT0, 293.0, 293.0};
        p.noiseGen = p.dutSwitch = p.driveSwitches = true;
        p.reading = {1, true, blocks};
        p.driftOrder = driftOrder;
        return p;
    }
    SeriesRunner runner{engine, engine.settings(), engine.resultLine()};
    SeriesReadings readings{SeriesKind::Device};
    DriftListener listener;
};

// Which blocks go where: ON takes the first half (one dummy, four blocks), OFF all eight,
// ON the second half (its dummy again), resumed; then the DUT pair likewise. The readings
// are stored and reported in the order of the sequence, each with its timeline.
TEST_F(DriftSeriesTest, OrderAndHalves)
{
    ASSERT_EQ(runner.run(plan(8, true), readings, listener).end, SeriesEnd::Complete);
    EXPECT_EQ(listener.started, (std::vector<int>{0, 1, 0, 2, 3, 2}));
    ASSERT_EQ(listener.done.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        const SeriesReadingReport &r = listener.done[static_cast<std::size_t>(k)];
        EXPECT_EQ(r.reading, k);
        EXPECT_EQ(r.blocks, 8);
        EXPECT_EQ(r.dummies, k % 2 == 0 ? 2 : 1) << k;
        ASSERT_EQ(r.timeline.times().size(), 8u);
        EXPECT_EQ(r.timeline.powers(), r.blockPowers);
        EXPECT_EQ(readings.timeline(k).meanTime(), r.timeline.meanTime());
    }
    // The ON reading's halves: 0.1 s apart within each, and around the OFF reading's
    // blocks with its dummy and the ON's second dummy between.
    const std::vector<double> &on = listener.done[0].timeline.times();
    const std::vector<double> &off = listener.done[1].timeline.times();
    for (const std::size_t j : {1u, 2u, 3u, 5u, 6u, 7u})
        EXPECT_NEAR(on[j] - on[j - 1], 0.1, 1e-9) << j;
    EXPECT_GE(off.front() - on[3], 0.2 - 1e-9);
    EXPECT_GE(on[4] - off.back(), 0.2 - 1e-9);
    EXPECT_GE(listener.done[2].timeline.firstTime(), on.back());
    EXPECT_FALSE(listener.passes.at(0).warnings.drift()); // a steady bench
    // The bench's receiver time (stored by its generator threads) went on through every
    // block the readings used.
    int used = 0;
    for (const SeriesReadingReport &r : listener.done)
        used += r.blocks + r.dummies + r.autoDummies;
    EXPECT_GE(engine.bench().receiverClock().load(), used * 0.1 - 1e-9);

    // Without averaging the halves are a block each, and OFF takes two.
    SeriesReadings single{SeriesKind::Device};
    DriftListener again;
    SeriesPlan one = plan(1, true);
    one.reading.averaging = false;
    ASSERT_EQ(runner.run(one, single, again).end, SeriesEnd::Complete);
    for (const SeriesReadingReport &r : again.done)
        EXPECT_EQ(r.blocks, 2) << r.reading;
}

// A cancel in the middle of a pair: the ON reading is not complete, so neither it nor its
// OFF partner is stored; the values of the series before stay, and the pass's own readings
// (the reference pair, when the DUT pair is cut) are its results.
TEST_F(DriftSeriesTest, CancelInTheMiddleOfAHalfKeepsTheEarlierValues)
{
    ASSERT_EQ(runner.run(plan(4, true), readings, listener).end, SeriesEnd::Complete);
    std::array<double, kDeviceReadingCount> before{};
    for (int k = 0; k < 4; ++k)
        before[static_cast<std::size_t>(k)] = readings.power(k);

    for (const int at : {2, 3, 6}) { // OFF; the ON's second half; the DUT's second half
        DriftListener cut;
        cut.cancelAt = at;
        EXPECT_EQ(runner.run(plan(4, true), readings, cut).end, SeriesEnd::Cancelled) << at;
        const bool referenceRetaken = at == 6;
        EXPECT_EQ(cut.done.size(), referenceRetaken ? 2u : 0u) << at;
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(readings.present(k));
            const bool changed = referenceRetaken && k < 2;
            EXPECT_EQ(readings.power(k) != before[static_cast<std::size_t>(k)], changed)
                << at << " reading " << k;
        }
        if (referenceRetaken) {
            ASSERT_EQ(cut.passes.size(), 1u);
            EXPECT_TRUE(cut.passes[0].cutShort);
            EXPECT_EQ(cut.passes[0].taken, (std::array<bool, 4>{true, true, false, false}));
            before[0] = readings.power(0);
            before[1] = readings.power(1);
        } else {
            EXPECT_TRUE(cut.passes.empty()) << at;
        }
    }
}

// The bench's receiver drifting 20 dB per minute, 32 blocks of 0.1 s per reading: the
// system's Y factor in the sequential order is low by the drift over the 3.3 s between ON and
// OFF, as the estimate says; in the drift-cancelling order only the second-order residual
// is left (rate^2 / 2 times the ON blocks' wider spread in time: 0.08 dB here, where the
// gain moves 1.7 dB in a pair), again as estimated. Both show the warning, with the rate
// found.
TEST_F(DriftSeriesTest, KnownDriftOnTheBench)
{
    constexpr double kDbPerMinute = 20.0;
    constexpr double kRate = kDbPerMinute / 60.0 / kDbPerNeper;
    constexpr int kSeries = 12;
    SeriesConditions conditions = plan(32, false).conditions;
    for (const bool driftOrder : {false, true}) {
        double errorSum = 0.0, predictedSum = 0.0;
        for (int n = 0; n < kSeries; ++n) {
            // The bench anew (its receiver's clock at 0) with fresh noise for every series.
            BenchParameters p;
            p.faults.gainDriftDbPerMinute = kDbPerMinute;
            setBench(p, 100 + static_cast<std::uint32_t>(n));
            SeriesPlan sp = plan(32, driftOrder);
            sp.dutSwitch = false; // the reference pair alone
            SeriesReadings r{SeriesKind::Device};
            DriftListener l;
            ASSERT_EQ(runner.run(sp, r, l).end, SeriesEnd::Complete);
            const BenchTruth truth = engine.bench().truth();
            const double y = std::log(r.power(0) / r.power(1));
            errorSum += y - std::log(truth.ySystem);
            const DriftEstimate d = r.drift();
            ASSERT_TRUE(d.known);
            EXPECT_NEAR(d.rate, kRate, 0.3 * kRate) << driftOrder << " " << n;
            EXPECT_TRUE(l.passes.at(0).warnings.drift()) << driftOrder << " " << n;
            predictedSum += d.term.bias[0] - d.term.bias[1];
            conditions.systemMode = true;
            const SeriesUncertainty u = r.uncertainty(conditions, {});
            EXPECT_GT(u.device.nf.drift, 0.0);
        }
        const double error = errorSum / kSeries * kDbPerNeper;
        const double predicted = predictedSum / kSeries * kDbPerNeper;
        // Y's noise: about 0.07 dB per series, 0.02 dB in the mean.
        EXPECT_NEAR(error, predicted, 0.07) << driftOrder;
        if (driftOrder) {
            EXPECT_GT(predicted, 0.06);
            EXPECT_LT(predicted, 0.1);
        } else {
            // 3.3 s (32 blocks and a dummy) at 1/3 dB per second.
            EXPECT_NEAR(predicted, -1.1, 0.1);
        }
    }
}

// The stored choice: Measure Device's box writes "DriftCancellingOrder", and the sweep and
// quillon-cli read it with the other series options.
using StoredDriftOrder = test::TempSettingsTest;
TEST_F(StoredDriftOrder, RoundTrip)
{
    SettingsStore store;
    EXPECT_FALSE(readStoredSeriesOptions(store).driftOrder);
    ASSERT_TRUE(store.write(keys::DriftCancellingOrder, 1));
    EXPECT_TRUE(readStoredSeriesOptions(SettingsStore()).driftOrder);
    QSettings raw(storeFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.value("Setup/DriftCancellingOrder").toInt(), 1);
    ASSERT_TRUE(store.write(keys::DriftCancellingOrder, 0));
    EXPECT_FALSE(readStoredSeriesOptions(store).driftOrder);
}

} // namespace
} // namespace quillon
