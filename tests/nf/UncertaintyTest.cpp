// Uncertainty of the Y-factor results: the first-order propagation against a Monte-Carlo
// run of the same formulas, the coverage factor, the degrees of freedom and the texts.

#include "nf/Uncertainty.h"
#include "bench/VirtualBench.h"
#include "core/Messages.h"
#include "nf/EnrTable.h"
#include "nf/NoiseResults.h"
#include "nf/YFactorMath.h"
#include "support/BenchBlocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

using Powers = std::array<double, kDeviceReadingCount>;
using Errors = std::array<ReadingError, kDeviceReadingCount>;

// The virtual bench's defaults as noise temperatures at the receiver (K; powers are
// proportional): system ON, OFF, DUT ON, OFF; and for a calibration the reference source
// ON, OFF, the unknown source (ENR 15 dB) ON, OFF.
const Powers kPowers = test::seriesTemperatures(computeTruth({}));
const Powers kCalibration =
    test::seriesTemperatures(computeTruth({.dutSwitchSelects = DutSwitchSelects::UnknownSource}));
constexpr double kEnrDb = 25.0, kT0 = 290.0, kTsOff = 293.0;
const Errors kErrors = {ReadingError{0.01}, ReadingError{0.012}, ReadingError{0.006},
                        ReadingError{0.008}};

// One drawn set of inputs.
struct Draw
{
    Powers power;
    double enrDb;
    double tsOff;
    double tsOffUnknown;
};

struct McCase
{
    const char *name;
    Powers base;
    std::function<double(const Draw &)> evaluate; // the formulas the pages use
    std::function<Uncertain(const Errors &, const StatedUncertainty &)> propagate;
};

// Standard deviation of `evaluate` over draws of the readings (relative normal errors),
// the ENR and the two off temperatures (normal, standard deviation half the stated 95%
// half-widths), all independent.
double monteCarloSd(const McCase &c, const Errors &errors, const StatedUncertainty &stated,
                    std::mt19937_64 &rng)
{
    std::normal_distribution<double> normal;
    constexpr int kDraws = 20000;
    double mean = 0.0, squares = 0.0; // Welford: exactly 0 for a constant result
    for (int i = 0; i < kDraws; ++i) {
        Draw d{c.base, kEnrDb + stated.enrDb / 2 * normal(rng),
               kTsOff + stated.offTemperatureK / 2 * normal(rng),
               kTsOff + stated.offTemperatureK / 2 * normal(rng)};
        for (std::size_t k = 0; k < d.power.size(); ++k)
            d.power[k] *= 1.0 + errors[k].relative * normal(rng);
        const double v = c.evaluate(d);
        const double deviation = v - mean;
        mean += deviation / (i + 1);
        squares += deviation * (v - mean);
    }
    return std::sqrt(squares / (kDraws - 1));
}

// Every result in every mode, each input alone (so that every partial derivative is
// checked) and all together, with readings good to 0.6..1.2%, an ENR known to 0.2 dB and
// off temperatures to 5 K: the propagated standard uncertainty is the spread of 20,000
// evaluations of the formulas themselves to within 2.5% (the draws' own error is 0.5%).
// An input the result does not depend on gives exactly 0 both ways.
TEST(Uncertainty, PropagationMatchesMonteCarloOfTheFormulas)
{
    // A Measure Device page result (the gain without `result`) and its uncertainty.
    auto page = [](const char *name, bool system, double NoiseResult::*result,
                   Uncertain DeviceResultsUncertainty::*u) {
        const std::array<bool, 4> present{true, true, !system, !system};
        return McCase{name, kPowers,
                      [=](const Draw &d) {
                          const DeviceResults r = computeDeviceResults(d.power, present, system,
                                                                       d.enrDb, kT0, d.tsOff);
                          return result ? r.noise.*result : r.gainDb;
                      },
                      [=](const Errors &e, const StatedUncertainty &s) {
                          return computeDeviceUncertainty(kPowers, e, present, system, kEnrDb,
                                                          kT0, kTsOff, s).*u;
                      }};
    };
    using R = DeviceResultsUncertainty;
    const std::vector<McCase> cases = {
        page("system Te", true, &NoiseResult::te, &R::te),
        page("system NF", true, &NoiseResult::nf, &R::nf),
        page("DUT Te", false, &NoiseResult::te, &R::te),
        page("DUT F", false, &NoiseResult::f, &R::f),
        page("DUT NF", false, &NoiseResult::nf, &R::nf),
        page("DUT gain", false, nullptr, &R::gainDb),
        {"Y DUT", kPowers, [](const Draw &d) { return 10 * std::log10(d.power[2] / d.power[3]); },
         [](const Errors &e, const StatedUncertainty &s) {
             return deviceNoiseUncertainty(kPowers, e, kEnrDb, kT0, kTsOff, s).yDutDb;
         }},
        {"unknown ENR", kCalibration,
         [](const Draw &d) {
             const Powers &p = d.power;
             return calcCalibrate(10 * std::log10(p[0]), 10 * std::log10(p[1]),
                                  10 * std::log10(p[2]), 10 * std::log10(p[3]), d.enrDb, d.tsOff,
                                  d.tsOffUnknown, kT0)
                 .enrDb;
         },
         [](const Errors &e, const StatedUncertainty &s) {
             const Powers &p = kCalibration;
             return unknownSourceEnrUncertainty(p[0], p[1], p[2], p[3], e[0], e[1], e[2], e[3],
                                                kEnrDb, kTsOff, kTsOff, kT0, s);
         }},
    };
    std::mt19937_64 rng(2024);
    for (const McCase &c : cases) {
        // Inputs 0..3: one reading each; 4: the ENR; 5: the off temperatures; 6: everything.
        for (std::size_t k = 0; k <= 6; ++k) {
            SCOPED_TRACE(testing::Message() << c.name << ", input " << k);
            Errors e{};
            for (std::size_t i = 0; i < 4; ++i)
                e[i] = k == i || k == 6 ? kErrors[i] : ReadingError{};
            const StatedUncertainty s{.enrDb = k == 4 || k == 6 ? 0.2 : 0.0,
                                      .offTemperatureK = k >= 5 ? 5.0 : 0.0};
            const Uncertain u = c.propagate(e, s);
            EXPECT_DOUBLE_EQ(u.value, c.evaluate({c.base, kEnrDb, kTsOff, kTsOff}));
            const double sd = monteCarloSd(c, e, s, rng);
            if (u.total == 0.0) {
                EXPECT_EQ(sd, 0.0);
            } else {
                EXPECT_NEAR(sd / u.total, 1.0, 0.025);
            }
            EXPECT_TRUE((k != 4 && k != 5) || u.statistical == 0.0);
        }
    }
}

// Student's t at 95% by its degrees of freedom, and the Welch-Satterthwaite degrees of a
// Y factor of two readings of 15 degrees each and equal error (30), which the stated parts
// (exactly known) raise for the total.
TEST(Uncertainty, CoverageFactorAndDegreesOfFreedom)
{
    const std::vector<std::pair<double, double>> table = {
        {1.0, 12.706}, {2.0, 4.303},   {3.0, 3.182},      {5.0, 2.571}, {15.0, 2.131},
        {30.0, 2.042}, {120.0, 1.980}, {INFINITY, 1.960}, {NAN, 1.960}, {0.2, 12.706}};
    for (const auto &[degrees, t] : table)
        EXPECT_NEAR(coverageFactor95(degrees), t, 0.004) << degrees;

    const ReadingError e{0.02, 15.0};
    const SystemUncertainty s =
        systemNoiseUncertainty(kPowers[0], kPowers[1], e, e, kEnrDb, kT0, kTsOff, {});
    EXPECT_NEAR(s.yDb.statisticalDegrees, 30.0, 1e-9);
    EXPECT_NEAR(s.yDb.statistical, 10 / std::log(10.0) * 0.02 * std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(s.yDb.statisticalHalfWidth(), 2.042 * s.yDb.statistical, 0.002 * s.yDb.statistical);
    const SystemUncertainty t =
        systemNoiseUncertainty(kPowers[0], kPowers[1], e, e, kEnrDb, kT0, kTsOff, {.enrDb = 0.3});
    EXPECT_GT(t.nf.totalDegrees, t.nf.statisticalDegrees);
    EXPECT_GT(t.nf.totalHalfWidth(), t.nf.statisticalHalfWidth());
    // Without the readings' noise nothing is statistical: degrees infinite, k = 1.96.
    const SystemUncertainty exact =
        systemNoiseUncertainty(kPowers[0], kPowers[1], {}, {}, kEnrDb, kT0, kTsOff, {.enrDb = 0.3});
    EXPECT_EQ(exact.nf.statistical, 0.0);
    EXPECT_NEAR(exact.nf.totalHalfWidth(), 1.96 * exact.nf.total, 1e-3);
    EXPECT_FALSE(computeDeviceUncertainty(kPowers, kErrors, {true, true, true, false}, false,
                                          kEnrDb, kT0, kTsOff, {})
                     .complete);
}

TEST(Uncertainty, HalfWidthTexts)
{
    const std::tuple<double, const char *, std::string> cases[] = {
        {0.0523, "dB", "\u00b1 0.052 dB (95%)"}, {0.0996, "dB", "\u00b1 0.10 dB (95%)"},
        {1.26, "dB", "\u00b1 1.3 dB (95%)"},     {123.4, "K", "\u00b1 123 K (95%)"},
        {0.0, "dB", "\u00b1 0.0 dB (95%)"},      {0.012, "", "\u00b1 0.012 (95%)"},
        {NAN, "dB", ""}, {INFINITY, "dB", ""}, {-0.1, "dB", ""}};
    for (const auto &[halfWidth, unit, text] : cases)
        EXPECT_EQ(halfWidthText(halfWidth, unit), text) << halfWidth;
}

// The calibration file's optional third column: the ENR rows and lookups are those of the
// same file without it (a third field that is not an uncertainty is no error); the
// uncertainty is interpolated between rows that give one, taken from the one neighbour
// that does, held at the ends, and NaN where no neighbour gives one or the file is not in
// use.
TEST(Uncertainty, EnrFileThirdColumn)
{
    const std::string withColumn = "50,9,0.4\n100,10,0.2\n200,12\n300,14,0.4\n400,16,abc\n"
                                   "500,18,5\n600,20,0.1,extra\n";
    const std::string without = "50,9\n100,10\n200,12\n300,14\n400,16\n500,18\n600,20\n";
    EnrTable table, plain;
    ASSERT_EQ(parseEnrData(withColumn, table), kMsgNone);
    ASSERT_EQ(parseEnrData(without, plain), kMsgNone);
    ASSERT_EQ(table.count, plain.count);
    for (double mhz = 0.0; mhz <= 700.0; mhz += 12.5)
        EXPECT_EQ(enrForEntry(mhz, true, table), enrForEntry(mhz, true, plain)) << mhz;

    const std::vector<std::pair<double, double>> expected = {
        {0.0, 0.4},   {75.0, 0.3},  {100.0, 0.2}, {150.0, 0.2}, {250.0, 0.4}, {300.0, 0.4},
        {350.0, 0.4}, {450.0, NAN}, {550.0, 0.1}, {600.0, 0.1}, {700.0, 0.1}};
    for (const auto &[mhz, u] : expected) {
        if (std::isnan(u))
            EXPECT_TRUE(std::isnan(enrUncertaintyForEntry(mhz, true, table))) << mhz;
        else
            EXPECT_NEAR(enrUncertaintyForEntry(mhz, true, table), u, 1e-12) << mhz;
    }
    EXPECT_TRUE(std::isnan(enrUncertaintyForEntry(150.0, false, table)));
    EXPECT_TRUE(std::isnan(enrUncertaintyForEntry(150.0, true, plain)));
}

} // namespace
} // namespace quillon
