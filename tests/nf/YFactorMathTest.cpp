#include "nf/YFactorMath.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

namespace ym = quillon::YFactorMath;

// Results are shown with at most three decimals.
constexpr double kShown = 0.0005;

constexpr double kT0 = 290.0;
constexpr double kTsOff = 293.0;
constexpr double kEnrDb = 25.0;

TEST(YFactorConstants, BoltzmannPerKHzIsTheDoubleProduct)
{
    EXPECT_EQ(std::bit_cast<std::uint64_t>(ym::kBoltzmannPerKHz), 0x3BD04CCB7B487E07ull);
    EXPECT_EQ(ym::kBoltzmannPerKHz, 1.3806619999999998e-20);
}

// pow(10, d * 0.1) and pow(10, d / 10) differ in the last bit for some levels; stored
// results were computed with the product.
TEST(YFactorConstants, PowerRatioMultipliesBeforeThePower)
{
    EXPECT_EQ(ym::PowerRatioFromDb(3.0), 1.9952623149688797);
    EXPECT_EQ(ym::PowerRatioFromDb(7.0), 5.0118723362727238);
    EXPECT_EQ(ym::NoiseFactorFromFigure(3.0), 1.9952623149688797);
    EXPECT_EQ(ym::PowerRatioFromDb(0.0), 1.0);
    EXPECT_EQ(ym::PowerRatioFromDb(-10.0), 0.1);
}

// The Y factor of two dB readings is a quotient of two powers, not the power of their
// difference; the two differ in the last bits.
TEST(YFactorConstants, YOfTwoReadingsIsAQuotientOfPowers)
{
    EXPECT_EQ(ym::YFactorFromDb(10.0, 3.0), 5.0118723362727229);
    EXPECT_EQ(ym::YFactorFromDb(25.0, 1.0), 251.18864315095803);
    EXPECT_EQ(ym::YFactorFromDb(10.0, 0.0), 10.0);
}

// Defaults T0 290 K, TSoff 293 K, ENR 25 dB; system ON 10 dB, OFF 0 dB.
class SystemExample : public ::testing::Test
{
protected:
    double tHot = ym::HotTemperature(kEnrDb, kT0, kTsOff);
    double y = ym::YFactorFromDb(10.0, 0.0);
    double te = ym::NoiseTemperature(y, tHot, kTsOff);
    double f = ym::NoiseFactorFromTemperature(te, kT0);
    double nf = ym::NoiseFigureFromFactor(f);
};

TEST_F(SystemExample, HotTemperatureAddsTheOffTemperature)
{
    EXPECT_NEAR(tHot, 91999.052, kShown);
}

TEST_F(SystemExample, TemperatureFactorAndFigure)
{
    EXPECT_NEAR(te, 9896.561, kShown);
    EXPECT_NEAR(f, 35.126, kShown);
    EXPECT_NEAR(nf, 15.456, kShown);
    EXPECT_TRUE(ym::TemperatureInRange(te));
}

// The same plus DUT ON 25 dB and DUT OFF 10 dB.
TEST_F(SystemExample, DeviceUnderTestGainAndSecondStageCorrection)
{
    const double pSystemOn = ym::PowerRatioFromDb(10.0);
    const double pSystemOff = ym::PowerRatioFromDb(0.0);
    const double pDutOn = ym::PowerRatioFromDb(25.0);
    const double pDutOff = ym::PowerRatioFromDb(10.0);

    const double g = ym::DeviceGain(pDutOn, pDutOff, pSystemOn, pSystemOff);
    EXPECT_NEAR(g, 34.025, kShown);
    EXPECT_NEAR(ym::GainDb(g), 15.318, kShown);
    EXPECT_TRUE(ym::GainInRange(ym::GainDb(g)));

    const double teChain = ym::NoiseTemperature(pDutOn / pDutOff, tHot, kTsOff);
    EXPECT_NEAR(teChain, 2701.701, kShown);
    const double teDut = ym::SecondStageCorrected(teChain, te, g);
    EXPECT_NEAR(teDut, 2410.842, kShown);
    const double fDut = ym::NoiseFactorFromTemperature(teDut, kT0);
    EXPECT_NEAR(fDut, 9.313, kShown);
    EXPECT_NEAR(ym::NoiseFigureFromFactor(fDut), 9.691, kShown);
}

TEST(SimpleConversions, FromNoiseFigure)
{
    const double f = ym::NoiseFactorFromFigure(3.0);
    EXPECT_NEAR(f, 1.99526, 0.000005);
    EXPECT_NEAR(ym::TemperatureFromNoiseFactor(f, kT0), 288.626, kShown);
}

TEST(SimpleConversions, FromTemperature)
{
    const double f = ym::NoiseFactorFromTemperature(290.0, kT0);
    EXPECT_EQ(f, 2.0);
    EXPECT_NEAR(ym::NoiseFigureFromFactor(f), 3.0103, 0.00005);
}

// Te -> F -> NF -> F -> Te gives the temperature back.
class TemperatureRoundTrip : public ::testing::TestWithParam<double>
{
};

TEST_P(TemperatureRoundTrip, ThroughFactorAndFigure)
{
    const double te = GetParam();
    const double nf = ym::NoiseFigureFromFactor(ym::NoiseFactorFromTemperature(te, kT0));
    const double back = ym::TemperatureFromNoiseFactor(ym::NoiseFactorFromFigure(nf), kT0);
    EXPECT_NEAR(back, te, 1e-9 * (te + 1.0));
}

INSTANTIATE_TEST_SUITE_P(Temperatures, TemperatureRoundTrip,
                         ::testing::Values(0.0, 35.0, 290.0, 2410.842, 9896.561, 300000.0));

TEST(NoiseFloor, WorkedExamples)
{
    EXPECT_NEAR(ym::NoiseFloorDbm(0.0, 290.0, 1.0), -143.975, kShown);
    EXPECT_NEAR(ym::NoiseFloorDbm(3.0, 290.0, 2.4), -137.173, kShown);
}

TEST(UnknownSource, WorkedExamples)
{
    const double yReference = ym::YFactorFromDb(10.0, 0.0);
    const double yUnknown = ym::YFactorFromDb(8.0, 0.0);
    const double equalOff = ym::UnknownSourceEnrDb(25.0, yReference, yUnknown, 293.0, 293.0, 290.0);
    EXPECT_NEAR(equalOff, 22.708, kShown);
    EXPECT_TRUE(ym::EnrInRange(equalOff));
    // A warmer unknown source when off lowers its ENR.
    EXPECT_NEAR(ym::UnknownSourceEnrDb(25.0, yReference, yUnknown, 293.0, 303.0, 290.0), 22.704,
                kShown);
}

TEST(UnknownSource, OutOfRangeResultsFail)
{
    const double yReference = ym::YFactorFromDb(10.0, 0.0);
    // Unknown ON equal to OFF: log10(0).
    EXPECT_FALSE(ym::EnrInRange(ym::UnknownSourceEnrDb(25.0, yReference, 1.0, 293, 293, 290)));
    // A very weak unknown source: below 0 dB.
    EXPECT_FALSE(ym::EnrInRange(
        ym::UnknownSourceEnrDb(25.0, yReference, ym::YFactorFromDb(0.01, 0.0), 293, 293, 290)));
    // A reference Y barely above 1 makes the unknown look far above 50 dB.
    EXPECT_FALSE(ym::EnrInRange(ym::UnknownSourceEnrDb(25.0, 1.000001, 10.0, 293, 293, 290)));
}

TEST(InvalidMeasurements, EqualReadingsFailTheTemperatureTest)
{
    const double tHot = ym::HotTemperature(kEnrDb, kT0, kTsOff);
    const double te = ym::NoiseTemperature(ym::YFactorFromDb(5.0, 5.0), tHot, kTsOff);
    EXPECT_TRUE(std::isinf(te) || std::isnan(te));
    EXPECT_FALSE(ym::TemperatureInRange(te));
    // F and NF follow Te and fail with it.
    const double f = ym::NoiseFactorFromTemperature(te, kT0);
    EXPECT_FALSE(ym::TemperatureInRange(ym::TemperatureFromNoiseFactor(f, kT0)));
}

TEST(InvalidMeasurements, SourceOnBelowOffGivesNegativeTemperature)
{
    const double tHot = ym::HotTemperature(kEnrDb, kT0, kTsOff);
    const double te = ym::NoiseTemperature(ym::YFactorFromDb(0.0, 3.0), tHot, kTsOff);
    EXPECT_LT(te, 0.0);
    EXPECT_FALSE(ym::TemperatureInRange(te));
}

TEST(InvalidMeasurements, NoGainDifferenceFailsTheGainTest)
{
    const double g = ym::DeviceGain(2.0, 2.0, 10.0, 1.0); // DUT ON equal to OFF
    EXPECT_FALSE(ym::GainInRange(ym::GainDb(g)));
    const double undefined = ym::DeviceGain(2.0, 1.0, 3.0, 3.0); // system ON equal to OFF
    EXPECT_FALSE(ym::GainInRange(ym::GainDb(undefined)));
    EXPECT_FALSE(ym::GainInRange(ym::GainDb(ym::DeviceGain(1.0, 2.0, 10.0, 1.0)))); // G < 0
}

TEST(InvalidMeasurements, ZeroReadingFailsTheReadingTest)
{
    EXPECT_FALSE(ym::ReadingInRange(0.0));
    EXPECT_FALSE(std::isfinite(10.0 * std::log10(0.0)));
}

// Each validity test: its inclusive bounds pass, the next double beyond fails, and so do
// NaN and the infinities beyond the bounds.
struct RangeCase
{
    const char *name;
    bool (*test)(double);
    double low;
    double high; // +infinity for a test without an upper bound
};

class ValidityTest : public ::testing::TestWithParam<RangeCase>
{
};

TEST_P(ValidityTest, InclusiveBounds)
{
    const RangeCase c = GetParam();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(c.test(c.low));
    EXPECT_FALSE(c.test(std::nextafter(c.low, -inf)));
    if (std::isfinite(c.high)) {
        EXPECT_TRUE(c.test(c.high));
        EXPECT_FALSE(c.test(std::nextafter(c.high, inf)));
        EXPECT_FALSE(c.test(inf));
    }
    EXPECT_TRUE(c.test((c.low + std::fmin(c.high, c.low + 1.0)) / 2.0));
}

TEST_P(ValidityTest, NaNAndInfinityFail)
{
    const RangeCase c = GetParam();
    EXPECT_FALSE(c.test(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(c.test(-std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(c.test(-std::numeric_limits<double>::infinity()));
}

INSTANTIATE_TEST_SUITE_P(Tests, ValidityTest,
                         ::testing::Values(RangeCase{"Temperature", ym::TemperatureInRange, 0.0,
                                                     300000.0},
                                           RangeCase{"Enr", ym::EnrInRange, 0.0, 50.0},
                                           RangeCase{"Gain", ym::GainInRange, -50.0, 50.0},
                                           RangeCase{"Reading", ym::ReadingInRange, 1e-12,
                                                     std::numeric_limits<double>::infinity()}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
