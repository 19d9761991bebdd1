// The calculator's modes and the Measure Device results on the worked examples: defaults
// ENR 25 dB, T0 290 K, TSoff 293 K.

#include "nf/NoiseResults.h"
#include "nf/YFactorMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillon {
namespace {

constexpr double kEnr = 25.0, kT0 = 290.0, kTsOff = 293.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double power(double dB)
{
    return YFactorMath::PowerRatioFromDb(dB);
}

TEST(CalculatorModes, SimpleConvertsBetweenTemperatureFactorAndFigure)
{
    const NoiseResult fromNf = noiseFromFigure(3.0, kT0);
    EXPECT_NEAR(fromNf.f, 1.99526, 5e-6);
    EXPECT_NEAR(fromNf.te, 288.626, 5e-4);
    EXPECT_TRUE(fromNf.valid);
    // A new T0 keeps the typed NF and moves Te.
    EXPECT_NEAR(noiseFromFigure(3.0, 300.0).te, 298.579, 5e-4);

    const NoiseResult fromTe = noiseFromTemperature(290.0, kT0);
    EXPECT_DOUBLE_EQ(fromTe.f, 2.0);
    EXPECT_NEAR(fromTe.nf, 3.0103, 5e-5);

    const NoiseResult fromF = noiseFromFactor(2.0, kT0);
    EXPECT_DOUBLE_EQ(fromF.te, 290.0);
    EXPECT_NEAR(fromF.nf, 3.0103, 5e-5);

    // A factor below 1 is a negative Te: all three fail together.
    EXPECT_FALSE(noiseFromFactor(0.5, kT0).valid);
    EXPECT_FALSE(noiseFromTemperature(300000.5, kT0).valid);
    EXPECT_TRUE(noiseFromTemperature(300000.0, kT0).valid);
}

TEST(CalculatorModes, SystemAndDeviceYFactorWorkedExamples)
{
    const NoiseResult system = calcSystem(10.0, 0.0, kEnr, kT0, kTsOff);
    EXPECT_NEAR(system.te, 9896.561, 5e-4);
    EXPECT_NEAR(system.f, 35.126, 5e-4);
    EXPECT_NEAR(system.nf, 15.456, 5e-4);
    EXPECT_TRUE(system.valid);

    const CalcDeviceResult device = calcDevice(10.0, 0.0, 25.0, 10.0, kEnr, kT0, kTsOff);
    EXPECT_NEAR(device.noise.te, 2410.842, 5e-4);
    EXPECT_NEAR(device.noise.f, 9.313, 5e-4);
    EXPECT_NEAR(device.noise.nf, 9.691, 5e-4);
    EXPECT_NEAR(device.gainDb, 15.318, 5e-4);
    EXPECT_TRUE(device.gainValid);

    const DeviceNoise parts =
        deviceNoise(power(10.0), power(0.0), power(25.0), power(10.0), kEnr, kT0, kTsOff);
    EXPECT_NEAR(parts.gain, 34.025, 5e-4);
    EXPECT_NEAR(parts.teChain, 2701.701, 5e-4);
    EXPECT_NEAR(parts.teReceiver, 9896.561, 5e-4);
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
    // A gain of 60 dB is outside GainInRange, yet the calculator shows it: only the Te test
    // decides there.
    const CalcDeviceResult high = calcDevice(10.0, 0.0, 70.0, 60.0, kEnr, kT0, kTsOff);
    ASSERT_TRUE(high.noise.valid);
    EXPECT_NEAR(high.gainDb, 60.0, 1e-9);
    EXPECT_TRUE(high.gainValid);

    // System ON a little below system OFF: a negative gain ratio, whose log is NaN, while Te
    // (the chain less the receiver's negative Te over the negative gain) lands in range.
    // Shown as " Error", not "nan".
    const CalcDeviceResult negative = calcDevice(0.0, 0.1, 25.0, 10.0, kEnr, kT0, kTsOff);
    ASSERT_TRUE(negative.noise.valid);
    EXPECT_TRUE(std::isnan(negative.gainDb));
    EXPECT_FALSE(negative.gainValid);
}

TEST(CalculatorModes, CalibrateSourceUsesTheOffTemperatureDifference)
{
    const EnrResult same = calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, kTsOff, kT0);
    EXPECT_NEAR(same.enrDb, 22.708, 5e-4);
    EXPECT_TRUE(same.valid);
    EXPECT_NEAR(calcCalibrate(10.0, 0.0, 8.0, 0.0, kEnr, kTsOff, 303.0, kT0).enrDb, 22.704, 5e-4);
    // Outside 0..50 dB, or undefined: " Error".
    EXPECT_FALSE(calcCalibrate(10.0, 0.0, 0.1, 0.0, kEnr, kTsOff, kTsOff, kT0).valid);
    EXPECT_FALSE(calcCalibrate(10.0, 0.0, 0.0, 0.0, kEnr, kTsOff, kTsOff, kT0).valid);
}

TEST(CalculatorModes, NoiseFloorShownByTheTemperatureTest)
{
    const NoiseFloorResult zero = noiseFloor(noiseFromFigure(0.0, kT0), kT0, 1.0);
    EXPECT_NEAR(zero.dbm, -143.975, 5e-4);
    EXPECT_TRUE(zero.valid);
    EXPECT_NEAR(noiseFloor(noiseFromFigure(3.0, kT0), kT0, 2.4).dbm, -137.173, 5e-4);
    EXPECT_FALSE(noiseFloor(noiseFromTemperature(-1.0, kT0), kT0, 2.4).valid);
}

class DeviceResultsTest : public ::testing::Test
{
protected:
    // Readings 10, 0, 25 and 10 dB as linear powers.
    std::array<double, 4> p{power(10.0), power(0.0), power(25.0), power(10.0)};
};

TEST_F(DeviceResultsTest, CompleteOnlyWithTheReadingsTheModeNeeds)
{
    for (const auto &present : {std::array<bool, 4>{true, true, true, false},
                                std::array<bool, 4>{false, true, true, true},
                                std::array<bool, 4>{true, false, false, false}}) {
        EXPECT_FALSE(ComputeDeviceResults(p, present, false, kEnr, kT0, kTsOff).complete);
    }
    EXPECT_TRUE(
        ComputeDeviceResults(p, {true, true, false, false}, true, kEnr, kT0, kTsOff).complete);
    EXPECT_FALSE(
        ComputeDeviceResults(p, {false, true, true, true}, true, kEnr, kT0, kTsOff).complete);
}

TEST_F(DeviceResultsTest, SystemModeMeasuresTheReferencePairOnly)
{
    // Readings 2 and 3 are garbage; system mode must not look at them.
    p[2] = kNaN;
    p[3] = 0.0;
    const DeviceResults r =
        ComputeDeviceResults(p, {true, true, true, true}, true, kEnr, kT0, kTsOff);
    ASSERT_TRUE(r.complete);
    EXPECT_TRUE(r.systemMode);
    EXPECT_NEAR(r.noise.te, 9896.561, 5e-4);
    EXPECT_NEAR(r.noise.nf, 15.456, 5e-4);
    EXPECT_TRUE(r.noise.valid);
    EXPECT_FALSE(r.gainValid);
}

TEST_F(DeviceResultsTest, DeviceModeGainHasItsOwnRange)
{
    const DeviceResults r =
        ComputeDeviceResults(p, {true, true, true, true}, false, kEnr, kT0, kTsOff);
    EXPECT_NEAR(r.noise.te, 2410.842, 5e-4);
    EXPECT_NEAR(r.noise.nf, 9.691, 5e-4);
    EXPECT_NEAR(r.gainDb, 15.318, 5e-4);
    EXPECT_TRUE(r.gainValid);

    // 60 dB of gain: the page's gain field fails GainInRange (-50..50 dB) although Te passes.
    const std::array<double, 4> loud{power(10.0), power(0.0), power(70.0), power(60.0)};
    const DeviceResults high =
        ComputeDeviceResults(loud, {true, true, true, true}, false, kEnr, kT0, kTsOff);
    EXPECT_TRUE(high.noise.valid);
    EXPECT_FALSE(high.gainValid);

    // Equal reference readings: everything fails.
    const std::array<double, 4> flat{1.0, 1.0, 1.0, 1.0};
    const DeviceResults bad =
        ComputeDeviceResults(flat, {true, true, true, true}, false, kEnr, kT0, kTsOff);
    EXPECT_FALSE(bad.noise.valid);
    EXPECT_FALSE(bad.gainValid);
}

} // namespace
} // namespace quillon
