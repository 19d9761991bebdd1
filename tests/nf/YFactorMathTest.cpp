// The Y-factor formulas and the calculator / Measure Device results on the worked examples:
// ENR 25 dB, T0 290 K, TSoff 293 K; system ON 10 dB, OFF 0 dB; DUT ON 25 dB, OFF 10 dB.

#include "nf/YFactorMath.h"
#include "nf/NoiseResults.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quillon {
namespace {

namespace ym = YFactorMath;

constexpr double kEnr = 25.0, kT0 = 290.0, kTsOff = 293.0;
constexpr double kShown = 0.0005; // results are shown with at most three decimals
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double power(double dB)
{
    return ym::PowerRatioFromDb(dB);
}

// pow(10, d * 0.1) and pow(10, d / 10) differ in the last bit for some levels, and Y of two
// readings as a quotient of powers differs from the power of their difference.
TEST(YFactorMath, ConstantAndOperationOrderAreBitExact)
{
    EXPECT_EQ(std::bit_cast<std::uint64_t>(ym::kBoltzmannPerKHz), 0x3BD04CCB7B487E07ull);
    EXPECT_EQ(ym::PowerRatioFromDb(3.0), 1.9952623149688797);
    EXPECT_EQ(ym::PowerRatioFromDb(7.0), 5.0118723362727238);
    EXPECT_EQ(ym::YFactorFromDb(10.0, 3.0), 5.0118723362727229);
    EXPECT_EQ(ym::YFactorFromDb(25.0, 1.0), 251.18864315095803);
    EXPECT_NEAR(ym::HotTemperature(kEnr, kT0, kTsOff), 91999.052, kShown);
}

TEST(YFactorMath, TemperatureRoundTripsThroughFactorAndFigure)
{
    for (double te : {0.0, 35.0, 290.0, 2410.842, 300000.0}) {
        const double nf = ym::NoiseFigureFromFactor(ym::NoiseFactorFromTemperature(te, kT0));
        EXPECT_NEAR(ym::TemperatureFromNoiseFactor(ym::NoiseFactorFromFigure(nf), kT0), te,
                    1e-9 * (te + 1.0));
    }
}

// Y = 1 (ON equal to OFF) gives an infinite or undefined Te, Y < 1 a negative one.
TEST(YFactorMath, YOfOneOrBelowFailsTheTemperatureTest)
{
    const double tHot = ym::HotTemperature(kEnr, kT0, kTsOff);
    const double equal = ym::NoiseTemperature(ym::YFactorFromDb(5.0, 5.0), tHot, kTsOff);
    EXPECT_FALSE(std::isfinite(equal));
    EXPECT_FALSE(ym::TemperatureInRange(equal));
    EXPECT_FALSE(ym::TemperatureInRange(
        ym::TemperatureFromNoiseFactor(ym::NoiseFactorFromTemperature(equal, kT0), kT0)));
    const double below = ym::NoiseTemperature(ym::YFactorFromDb(0.0, 3.0), tHot, kTsOff);
    EXPECT_LT(below, 0.0);
    EXPECT_FALSE(ym::TemperatureInRange(below));

    EXPECT_FALSE(ym::GainInRange(ym::GainDb(ym::DeviceGain(2.0, 2.0, 10.0, 1.0)))); // DUT Y = 1
    EXPECT_FALSE(ym::GainInRange(ym::GainDb(ym::DeviceGain(2.0, 1.0, 3.0, 3.0))));  // system Y = 1
    EXPECT_FALSE(ym::GainInRange(ym::GainDb(ym::DeviceGain(1.0, 2.0, 10.0, 1.0)))); // G < 0
}

// Each validity test: its inclusive bounds pass, the next double beyond fails, and so do NaN
// and the infinities.
TEST(YFactorMath, ValidityTestsHaveInclusiveBoundsAndRejectNaNAndInfinity)
{
    struct Case
    {
        bool (*test)(double);
        double low, high; // high +infinity: no upper bound
    };
    for (const Case c :
         {Case{ym::TemperatureInRange, 0.0, 300000.0}, Case{ym::EnrInRange, 0.0, 50.0},
          Case{ym::GainInRange, -50.0, 50.0}, Case{ym::ReadingInRange, 1e-12, kInf}}) {
        SCOPED_TRACE(c.low);
        EXPECT_TRUE(c.test(c.low));
        EXPECT_FALSE(c.test(std::nextafter(c.low, -kInf)));
        if (std::isfinite(c.high)) {
            EXPECT_TRUE(c.test(c.high));
            EXPECT_FALSE(c.test(std::nextafter(c.high, kInf)));
            EXPECT_FALSE(c.test(kInf));
        }
        EXPECT_FALSE(c.test(kNaN));
        EXPECT_FALSE(c.test(-kNaN));
        EXPECT_FALSE(c.test(-kInf));
    }
}

TEST(CalculatorModes, SimpleConvertsBetweenTemperatureFactorAndFigure)
{
    const NoiseResult fromNf = noiseFromFigure(3.0, kT0);
    EXPECT_NEAR(fromNf.f, 1.99526, 5e-6);
    EXPECT_NEAR(fromNf.te, 288.626, kShown);
    EXPECT_NEAR(noiseFromFigure(3.0, 300.0).te, 298.579, kShown); // a new T0 moves Te
    EXPECT_EQ(noiseFromTemperature(290.0, kT0).f, 2.0);
    EXPECT_NEAR(noiseFromFactor(2.0, kT0).nf, 3.0103, 5e-5);
    EXPECT_DOUBLE_EQ(noiseFromFactor(2.0, kT0).te, 290.0);
    // A factor below 1 is a negative Te: all three fail together.
    EXPECT_FALSE(noiseFromFactor(0.5, kT0).valid);
    EXPECT_TRUE(noiseFromTemperature(300000.0, kT0).valid);
    EXPECT_FALSE(noiseFromTemperature(300000.5, kT0).valid);
}

TEST(CalculatorModes, SystemDeviceAndNoiseFloorWorkedExamples)
{
    const NoiseResult system = calcSystem(10.0, 0.0, kEnr, kT0, kTsOff);
    EXPECT_NEAR(system.te, 9896.561, kShown);
    EXPECT_NEAR(system.f, 35.126, kShown);
    EXPECT_NEAR(system.nf, 15.456, kShown);
    EXPECT_TRUE(system.valid);

    const CalcDeviceResult device = calcDevice(10.0, 0.0, 25.0, 10.0, kEnr, kT0, kTsOff);
    EXPECT_NEAR(device.noise.te, 2410.842, kShown);
    EXPECT_NEAR(device.noise.f, 9.313, kShown);
    EXPECT_NEAR(device.noise.nf, 9.691, kShown);
    EXPECT_NEAR(device.gainDb, 15.318, kShown);
    EXPECT_TRUE(device.gainValid);
    const DeviceNoise parts =
        deviceNoise(power(10.0), power(0.0), power(25.0), power(10.0), kEnr, kT0, kTsOff);
    EXPECT_NEAR(parts.gain, 34.025, kShown);
    EXPECT_NEAR(parts.teChain, 2701.701, kShown);

    const NoiseFloorResult zero = noiseFloor(noiseFromFigure(0.0, kT0), kT0, 1.0);
    EXPECT_NEAR(zero.dbm, -143.975, kShown);
    EXPECT_TRUE(zero.valid);
    EXPECT_NEAR(noiseFloor(noiseFromFigure(3.0, kT0), kT0, 2.4).dbm, -137.173, kShown);
    EXPECT_FALSE(noiseFloor(noiseFromTemperature(-1.0, kT0), kT0, 2.4).valid);
}

TEST(CalculatorModes, EqualReadingsFailEveryResult)
{
    EXPECT_FALSE(calcSystem(5.0, 5.0, kEnr, kT0, kTsOff).valid);
    const CalcDeviceResult device = calcDevice(5.0, 5.0, 20.0, 20.0, kEnr, kT0, kTsOff);
    EXPECT_FALSE(device.noise.valid);
    EXPECT_FALSE(device.gainValid);
    EXPECT_FALSE(noiseFloor(device.noise, kT0, 2.4).valid);
}

TEST(CalculatorModes, DeviceGainFollowsTheTemperatureTestAndMustBeANumber)
{
    // 60 dB is outside GainInRange, yet the calculator shows it: only the Te test decides.
    const CalcDeviceResult high = calcDevice(10.0, 0.0, 70.0, 60.0, kEnr, kT0, kTsOff);
    ASSERT_TRUE(high.noise.valid);
    EXPECT_NEAR(high.gainDb, 60.0, 1e-9);
    EXPECT_TRUE(high.gainValid);
    // System ON a little below OFF: a negative gain ratio (log NaN) while Te lands in range.
    // Shown as " Error", not "nan".
    const CalcDeviceResult negative = calcDevice(0.0, 0.1, 25.0, 10.0, kEnr, kT0, kTsOff);
    ASSERT_TRUE(negative.noise.valid);
    EXPECT_TRUE(std::isnan(negative.gainDb));
    EXPECT_FALSE(negative.gainValid);
}

TEST(CalculatorModes, CalibrateSourceUsesTheOffTemperatureDifference)
{
    const EnrResult same = calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, kTsOff, kT0);
    EXPECT_NEAR(same.enrDb, 22.708, kShown);
    EXPECT_TRUE(same.valid);
    // A warmer unknown source when off lowers its ENR.
    EXPECT_NEAR(calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, 303.0, kT0).enrDb, 22.704, kShown);
    // Below 0 dB, undefined (unknown Y = 1), far above 50 dB (reference Y barely above 1).
    EXPECT_FALSE(calcCalibrate(10.0, 0.0, 0.1, 0.0, kEnr, kTsOff, kTsOff, kT0).valid);
    EXPECT_FALSE(calcCalibrate(10.0, 0.0, 0.0, 0.0, kEnr, kTsOff, kTsOff, kT0).valid);
    EXPECT_FALSE(calcCalibrate(1e-6, 0.0, 10.0, 0.0, kEnr, kTsOff, kTsOff, kT0).valid);
}

// The Measure Device page's results; the worked numbers and their texts are checked in
// tests/pages (DeviceResultsTextTest).
TEST(DeviceResults, ModeDecidesWhichReadingsCountAndGainHasItsOwnRange)
{
    const auto results = [](std::array<double, 4> dB, std::array<bool, 4> present, bool system) {
        for (double &d : dB)
            d = power(d);
        return ComputeDeviceResults(dB, present, system, kEnr, kT0, kTsOff);
    };
    const std::array<bool, 4> all{true, true, true, true};
    EXPECT_FALSE(results({10, 0, 25, 10}, {true, true, true, false}, false).complete);
    EXPECT_FALSE(results({10, 0, 25, 10}, {false, true, true, true}, true).complete);
    EXPECT_TRUE(results({10, 0, 25, 10}, {true, true, false, false}, true).complete);

    // System mode must not look at readings 2 and 3.
    const DeviceResults system = results({10, 0, kNaN, -kInf}, all, true);
    ASSERT_TRUE(system.complete);
    EXPECT_NEAR(system.noise.nf, 15.456, kShown);
    EXPECT_TRUE(system.noise.valid);
    EXPECT_FALSE(system.gainValid);

    // Unlike the calculator's, the page's 60 dB gain fails GainInRange while Te passes.
    const DeviceResults high = results({10, 0, 70, 60}, all, false);
    EXPECT_TRUE(high.noise.valid);
    EXPECT_FALSE(high.gainValid);
}

} // namespace
} // namespace quillon
