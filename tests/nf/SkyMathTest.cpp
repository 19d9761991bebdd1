// The sky formulas against worked examples computed by other routes than the code's: G/T
// through the effective area (Ae = G lambda^2 / 4 pi, T_A = S Ae / 2k / K), K by numerical
// integration of a disk over a Gaussian beam, Tsys by the Y-factor formula with the ground
// as hot and the sky as cold load.

#include "nf/SkyMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillon {
namespace {

SkyReadings readingsOfY(double y, double relative = 0.0, double dof = 1e9)
{
    SkyReadings r;
    r.hotPower = y * 1e-3;
    r.coldPower = 1e-3;
    r.hotError = {relative, dof};
    r.coldError = {relative, dof};
    return r;
}

struct SunExample
{
    double frequencyMHz, fluxSfu, y, k, gOverTDbK;
};

TEST(SkyMath, SunGOverTMatchesWorkedExamplesToAHundredthOfADb)
{
    // G/T = (Y-1) 2k K 4 pi / (S lambda^2), evaluated separately (Python, double precision).
    const SunExample examples[] = {
        {1296.0, 100.0, 2.0, 1.1, -1.467155752641701},
        {144.0, 65.0, 1.2589254117941673, 1.0, -24.96331960324016},
        {10368.0, 300.0, 10.0, 1.35, 22.255267367761608},
    };
    for (const SunExample &e : examples) {
        SunInput in;
        in.frequencyMHz = e.frequencyMHz;
        in.fluxSfu = e.fluxSfu;
        in.k = e.k;
        const SunResult r = sunResult(readingsOfY(e.y), in);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_NEAR(r.gOverTDbK.value, e.gOverTDbK, 0.01) << e.frequencyMHz;
        EXPECT_NEAR(r.yDb.value, 10.0 * std::log10(e.y), 1e-9);
        EXPECT_TRUE(std::isnan(r.tsysK.value)); // no gain, no Tsys
    }
}

TEST(SkyMath, SunWithGainGivesAntennaRiseAndTsys)
{
    // 20 dBi at 1296 MHz, 100 sfu, K 1.1: rise = G S lambda^2 / (8 pi k K) = 140.19 K; with
    // Y = 2 the Sun doubles the noise, so Tsys is the rise itself.
    SunInput in{1296.0, 100.0, 10.0, 1.1, 20.0};
    const SunResult r = sunResult(readingsOfY(2.0), in);
    ASSERT_TRUE(r.ok());
    EXPECT_NEAR(r.antennaRiseK.value, 140.18952855878155, 1e-6);
    EXPECT_NEAR(r.tsysK.value, 140.18952855878155, 1e-6);
    // 10 % stated at 95 %: 5 % standard, relative, in both.
    EXPECT_NEAR(r.antennaRiseK.total, 0.05 * 140.18952855878155, 1e-6);
    EXPECT_NEAR(r.gOverTDbK.total, 10.0 / std::log(10.0) * 0.05, 1e-9);
}

TEST(SkyMath, ReadingErrorsPropagateThroughYMinusOne)
{
    // Y = 2, each reading 1 % relative: ln(Y-1) moves by Y/(Y-1) = 2 times each, so G/T's
    // relative error is 2 sqrt(2) %; with 10 degrees of freedom each, Welch-Satterthwaite
    // gives 20.
    SunInput in{1296.0, 100.0, 0.0, 1.0};
    const SunResult r = sunResult(readingsOfY(2.0, 0.01, 10.0), in);
    ASSERT_TRUE(r.ok());
    EXPECT_NEAR(r.gOverTDbK.statistical, 10.0 / std::log(10.0) * 2.0 * std::sqrt(2.0) * 0.01,
                1e-12);
    EXPECT_NEAR(r.gOverTDbK.statisticalDegrees, 20.0, 1e-9);
    EXPECT_NEAR(r.yDb.statistical, 10.0 / std::log(10.0) * std::sqrt(2.0) * 0.01, 1e-12);
}

TEST(SkyMath, BeamCorrectionAgreesWithNumericalIntegration)
{
    // Disk radius s/2 over exp(-4 ln2 t^2/b^2), midpoint rule with 200000 rings.
    EXPECT_NEAR(beamCorrection(0.55, 2.0).value, 1.0264385988079527, 1e-6);
    EXPECT_NEAR(beamCorrection(0.53, 0.5).value, 1.439453099377408, 1e-6);
    EXPECT_DOUBLE_EQ(beamCorrection(0.0, 3.0).value, 1.0);    // a point source
    EXPECT_NEAR(beamCorrection(1e-4, 10.0).value, 1.0, 1e-9); // no cancellation
    // Much larger than the beam: K -> x^2 = ln2 (s/b)^2.
    EXPECT_NEAR(beamCorrection(10.0, 1.0).value, std::log(2.0) * 100.0, 1e-9);
}

TEST(SkyMath, GroundAndSkyGiveTsysByTheYFactorFormula)
{
    // Tsys = (Tg - Ts)/(Y - 1), Te = Tsys - Ts.
    GroundInput in; // 290 K and 10 K
    GroundResult r = groundResult(readingsOfY(std::pow(10.0, 0.3)), in);
    ASSERT_TRUE(r.ok());
    EXPECT_NEAR(10 * std::log10(r.tsysK.value), 10 * std::log10(281.3328665104287), 0.01);
    EXPECT_NEAR(r.receiverTeK.value, 271.3328665104287, 1e-6);
    in = {280.0, 20.0, 4.0, 2.0};
    r = groundResult(readingsOfY(std::pow(10.0, 0.15)), in);
    ASSERT_TRUE(r.ok());
    EXPECT_NEAR(r.tsysK.value, 630.2456670646969, 1e-6);
    EXPECT_NEAR(r.receiverTeK.value, 610.2456670646969, 1e-6);
    // Exact readings: only the stated temperatures count. dTsys/dTg = 1/(Y-1).
    const double y1 = std::pow(10.0, 0.15) - 1.0;
    EXPECT_NEAR(r.tsysK.total, std::sqrt(2.0 * 2.0 + 1.0 * 1.0) / y1, 1e-9);
}

TEST(SkyMath, MoonExpectedYFromDiskInBeam)
{
    // 0.5 deg Moon in a 2 deg beam, 225 K over 10 K sky: rise 215 (1 - exp(-ln2/16)) = 9.115 K;
    // with Tsys 50 K, Y = 0.727 dB.
    MoonInput in;
    in.moonDiameterDeg = 0.5;
    in.beamDeg = 2.0;
    in.tsysK = 50.0;
    const MoonResult r = moonResult(readingsOfY(1.2), in);
    ASSERT_TRUE(r.ok());
    EXPECT_NEAR(r.expectedRiseK, 9.115294649806655, 1e-9);
    EXPECT_NEAR(r.expectedYDb, 0.7272985425525131, 1e-9);
    EXPECT_NEAR(r.impliedTsysK.value, 9.115294649806655 / 0.2, 1e-9);
    EXPECT_NEAR(r.yDb.value, 10.0 * std::log10(1.2), 1e-12);
}

TEST(SkyMath, FluxInterpolatesLogLogBetweenPublishedFrequencies)
{
    std::vector<FluxPoint> points;
    ASSERT_TRUE(parseFluxTable("410:40, 245:20;2800:120", points).ok());
    ASSERT_EQ(points.size(), 3u);
    FluxAt f = fluxAt(points, 300.0);
    ASSERT_TRUE(f.ok());
    EXPECT_NEAR(f.fluxSfu, 26.268397199809566, 1e-9); // 20 (40/20)^(ln(300/245)/ln(410/245))
    EXPECT_EQ(f.sourceLowMHz, 245.0);
    EXPECT_EQ(f.sourceHighMHz, 410.0);
    f = fluxAt(points, 2800.0); // on a published frequency: as published
    EXPECT_EQ(f.fluxSfu, 120.0);
    EXPECT_EQ(f.sourceLowMHz, 2800.0);
    EXPECT_NEAR(fluxAt(points, 410.0 - 1e-9).fluxSfu, 40.0, 1e-6); // continuous at a point
}

// Every message of the sky formulas, each for one bad input, with no number beside it.
TEST(SkyMath, BadInputGivesOneMessageAndNoNumber)
{
    const auto sun = [](double flux, double y, double k = 1.0, double f = 144.0) {
        SunInput in{f, flux, 0.0, k};
        return sunResult(readingsOfY(y), in);
    };
    const std::string yMessage =
        "Y must be above 1: the reading on the source must be louder than on cold sky.";
    struct Case
    {
        std::string got;
        const char *expected;
    } cases[] = {
        {sun(0.0, 2.0).error, "The solar flux must be a number above 0 sfu."},
        {sun(-5.0, 2.0).error, "The solar flux must be a number above 0 sfu."},
        {sun(NAN, 2.0).error, "The solar flux must be a number above 0 sfu."},
        {sun(100.0, 1.0).error, yMessage.c_str()},
        {sun(100.0, 0.5).error, yMessage.c_str()},
        {sun(100.0, 2.0, 0.9).error, "The beam-size correction K must be a number of 1 or more."},
        {sun(100.0, 2.0, 1.0, 0.0).error, "The frequency must be a number above 0 MHz."},
        {beamCorrection(0.5, 0.0).error, "The beamwidth must be a number above 0 degrees."},
        {beamCorrection(0.5, -1.0).error, "The beamwidth must be a number above 0 degrees."},
        {beamCorrection(-0.5, 1.0).error,
         "The source diameter must be a number of 0 degrees or more."},
        {moonResult(readingsOfY(2.0), MoonInput{225, 10, 0.5, 0.0}).error,
         "The beamwidth must be a number above 0 degrees."},
        {moonResult(readingsOfY(2.0), MoonInput{0, 10, 0.5, 2.0}).error,
         "The Moon's temperature must be a number above 0 K."},
        {moonResult(readingsOfY(2.0), MoonInput{225, 300, 0.5, 2.0}).error,
         "The cold sky's temperature must be a number from 0 K up to the Moon's."},
        {moonResult(readingsOfY(0.9), MoonInput{225, 10, 0.5, 2.0}).error, yMessage.c_str()},
        {groundResult(readingsOfY(2.0), GroundInput{10, 10}).error,
         "The ground's temperature must be a number above the cold sky's."},
        {groundResult(readingsOfY(2.0), GroundInput{290, -1}).error,
         "The cold sky's temperature must be a number of 0 K or more."},
        {groundResult(readingsOfY(2.0), GroundInput{290, 10, -1, 0}).error,
         "A temperature uncertainty must be a number of 0 K or more."},
        {groundResult(SkyReadings{}, GroundInput{}).error, "Both readings are needed."},
        {fluxAt({{245, 20}, {410, 40}}, 1296.0).error,
         "The frequency lies outside the frequencies of the published solar flux."},
        {fluxAt({{245, 20}, {410, -1}}, 300.0).error,
         "The solar flux must be a number above 0 sfu."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
    std::vector<FluxPoint> points;
    EXPECT_EQ(parseFluxTable("245:20, 410=40", points).error,
              "'410=40' is not a frequency in MHz and a flux in sfu (MHz:sfu).");
    EXPECT_EQ(parseFluxTable("245:nan", points).error,
              "'245:nan' is not a frequency in MHz and a flux in sfu (MHz:sfu).");
    EXPECT_EQ(parseFluxTable(" , ", points).error, "The solar flux must be a number above 0 sfu.");
    // No number leaks out beside a message.
    const SunResult bad = sun(0.0, 2.0);
    EXPECT_TRUE(std::isnan(bad.gOverTDbK.value));
}

} // namespace
} // namespace quillon
