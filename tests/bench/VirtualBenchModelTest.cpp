// The bench's model: its truth from first principles, and its parameters in the store.

#include "bench/VirtualBench.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace quillon {
namespace {

constexpr int kOffOut = 0, kOnOut = 1, kOffIn = 2, kOnIn = 3;

// Default bench: reference ENR 25 dB, unknown 15 dB, off 293 K, receiver NF 8 dB, DUT 20 dB
// gain and NF 1 dB, loudest state at -20 dBFS.
TEST(BenchTruth, DefaultsFromFirstPrinciples)
{
    const BenchTruth t = computeTruth(BenchParameters{});
    const double thot = std::pow(10.0, 2.5) * 290.0 + 293.0;
    EXPECT_NEAR(t.hotReferenceK, 91999.052, 0.001);
    EXPECT_DOUBLE_EQ(t.hotReferenceK, thot);
    EXPECT_NEAR(t.hotUnknownK, std::pow(10.0, 1.5) * 290.0 + 293.0, 1e-9);
    const double teRx = (std::pow(10.0, 0.8) - 1.0) * 290.0;  // 1539.776 K
    const double teDut = (std::pow(10.0, 0.1) - 1.0) * 290.0; // 75.088 K
    EXPECT_NEAR(t.receiverTeK, 1539.776, 0.001);
    EXPECT_NEAR(t.dutTeK, 75.088, 0.001);
    EXPECT_DOUBLE_EQ(t.dutGain, 100.0);
    EXPECT_NEAR(t.chainTeK, teDut + teRx / 100.0, 1e-9);
    EXPECT_NEAR(t.chainNfDb, 10.0 * std::log10((teDut + teRx / 100.0) / 290.0 + 1.0), 1e-12);
    EXPECT_DOUBLE_EQ(t.unknownEnrDb, 15.0);

    // Temperatures at the receiver input, by switch state.
    EXPECT_NEAR(t.states[kOffOut].noiseTemperatureK, 293.0 + teRx, 1e-9);
    EXPECT_NEAR(t.states[kOnOut].noiseTemperatureK, thot + teRx, 1e-9);
    EXPECT_NEAR(t.states[kOffIn].noiseTemperatureK, 100.0 * (293.0 + teDut) + teRx, 1e-6);
    EXPECT_NEAR(t.states[kOnIn].noiseTemperatureK, 100.0 * (thot + teDut) + teRx, 1e-6);

    // The loudest state (noise on, DUT in) sits at -20 dBFS; the rest scale with kelvin.
    EXPECT_NEAR(t.states[kOnIn].levelDbfs, -20.0, 1e-12);
    EXPECT_NEAR(t.states[kOnIn].power, 0.01, 1e-15);
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(t.states[s].power,
                    0.01 * t.states[s].noiseTemperatureK / t.states[kOnIn].noiseTemperatureK,
                    1e-15);
        EXPECT_NEAR(t.states[s].levelDbfs, 10.0 * std::log10(t.states[s].power), 1e-12);
    }
    EXPECT_NEAR(t.states[kOffOut].levelDbfs, -57.011, 0.001);
    EXPECT_EQ(t.humPower, 0.0);
}

// What the Measure Device and Calibrate Noise Source pages compute from the expected
// powers, with the textbook formulas and Quillon's defaults (ENR 25 dB, TSoff 293 K,
// T0 290 K), gives back the bench's parameters exactly.
TEST(BenchTruth, YFactorFormulasRecoverTheParameters)
{
    BenchParameters p;
    p.receiverNfDb = 6.5;
    p.dutGainDb = 17.3;
    p.dutNfDb = 2.2;
    const BenchTruth t = computeTruth(p);
    const double thot = std::pow(10.0, 2.5) * 290.0 + 293.0;
    auto te = [&](double y) {
        return (thot - y * 293.0) / (y - 1.0);
    };
    const double ySys = t.states[kOnOut].power / t.states[kOffOut].power;
    const double yDut = t.states[kOnIn].power / t.states[kOffIn].power;
    EXPECT_NEAR(ySys, t.ySystem, 1e-12);
    EXPECT_NEAR(yDut, t.yDutOutput, 1e-12);
    const double teRx = te(ySys);
    const double g = (t.states[kOnIn].power - t.states[kOffIn].power) /
                     (t.states[kOnOut].power - t.states[kOffOut].power);
    const double teDut = te(yDut) - teRx / g;
    EXPECT_NEAR(teRx, (std::pow(10.0, 0.65) - 1.0) * 290.0, 1e-7);
    EXPECT_NEAR(10.0 * std::log10(g), 17.3, 1e-10);
    EXPECT_NEAR(10.0 * std::log10(teDut / 290.0 + 1.0), 2.2, 1e-9);
    EXPECT_NEAR(te(yDut), t.chainTeK, 1e-7);

    // Calibrating the unknown source: the DUT output swaps the sources instead.
    p.dutSwitchSelects = DutSwitchSelects::UnknownSource;
    p.unknownEnrDb = 14.2;
    const BenchTruth u = computeTruth(p);
    const double yRef = u.states[kOnOut].power / u.states[kOffOut].power;
    const double yUnk = u.states[kOnIn].power / u.states[kOffIn].power;
    EXPECT_DOUBLE_EQ(u.states[kOffIn].power, u.states[kOffOut].power);
    const double enr = 10.0 * std::log10((std::pow(10.0, 2.5) / (yRef - 1.0)) * (yUnk - 1.0));
    EXPECT_NEAR(enr, 14.2, 1e-10);
    // The loudest state is now the reference source on.
    EXPECT_NEAR(u.states[kOnOut].levelDbfs, -20.0, 1e-12);
}

TEST(BenchTruth, FormatTruthPrintsTheTable)
{
    const BenchParameters p;
    const std::string text = formatTruth(p, computeTruth(p));
    std::cout << text; // the table of the README's "Try it without hardware"
    EXPECT_NE(text.find("91999.052 K"), std::string::npos);
    EXPECT_NE(text.find("1539.776 K, NF 8.000 dB"), std::string::npos);
    EXPECT_NE(text.find("75.088 K, NF 1.000 dB, gain 20.000 dB"), std::string::npos);
    EXPECT_NE(text.find("-20.000"), std::string::npos);
    EXPECT_NE(text.find("-57.011"), std::string::npos);

    BenchParameters cal;
    cal.dutSwitchSelects = DutSwitchSelects::UnknownSource;
    const std::string calText = formatTruth(cal, computeTruth(cal));
    EXPECT_NE(calText.find("Unknown source ENR  15.000 dB"), std::string::npos);
}

TEST(BenchParameters, SanitizedReplacesOnlyUnusableFields)
{
    BenchParameters p;
    p.referenceEnrDb = 51.0;
    p.receiverNfDb = std::nan("");
    p.passbandLowHz = 3000.0; // above the high edge: both edges back to their defaults
    p.loudestLevelDbfs = 0.0;
    p.speed = -1.0;
    p.dutGainDb = -12.5; // a lossy DUT is fine
    p.unknownEnrDb = 0.0;
    const BenchParameters s = sanitized(p);
    EXPECT_EQ(s.referenceEnrDb, 25.0);
    EXPECT_EQ(s.receiverNfDb, 8.0);
    EXPECT_EQ(s.passbandLowHz, 300.0);
    EXPECT_EQ(s.passbandHighHz, 2700.0);
    EXPECT_EQ(s.loudestLevelDbfs, -20.0);
    EXPECT_EQ(s.speed, 1.0);
    EXPECT_EQ(s.dutGainDb, -12.5);
    EXPECT_EQ(s.unknownEnrDb, 0.0);

    p = BenchParameters{};
    p.speed = 0.0;
    EXPECT_EQ(sanitized(p).speed, 0.0);
}

class BenchSettingsTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + QStringLiteral("/Quillon.conf"); }
};

TEST_F(BenchSettingsTest, SaveLoadRoundTripsEveryField)
{
    BenchParameters p;
    p.referenceEnrDb = 14.95;
    p.unknownEnrDb = 5.1;
    p.sourceOffTemperatureK = 296.15;
    p.receiverNfDb = 0.1 + 0.2; // not exactly representable: must round-trip bit for bit
    p.dutGainDb = -3.5;
    p.dutNfDb = 4.0;
    p.dutSwitchSelects = DutSwitchSelects::UnknownSource;
    p.passbandLowHz = 150.0;
    p.passbandHighHz = 3100.0;
    p.loudestLevelDbfs = -12.0;
    p.humOn = true;
    p.humDbfs = -66.0;
    p.seed = 18446744073709551557ull; // beyond a double's exact integers
    p.speed = 0.0;
    {
        QSettings store(path(), QSettings::IniFormat);
        VirtualBench bench(p);
        EXPECT_TRUE(bench.save(store));
    }
    QSettings store(path(), QSettings::IniFormat);
    EXPECT_EQ(store.value(QStringLiteral("VirtualBench/DutSwitchSelects")).toString(),
              QStringLiteral("UnknownSource"));
    VirtualBench loaded;
    loaded.load(store);
    const BenchParameters &q = loaded.parameters();
    EXPECT_EQ(q.referenceEnrDb, p.referenceEnrDb);
    EXPECT_EQ(q.unknownEnrDb, p.unknownEnrDb);
    EXPECT_EQ(q.sourceOffTemperatureK, p.sourceOffTemperatureK);
    EXPECT_EQ(q.receiverNfDb, p.receiverNfDb);
    EXPECT_EQ(q.dutGainDb, p.dutGainDb);
    EXPECT_EQ(q.dutNfDb, p.dutNfDb);
    EXPECT_EQ(q.dutSwitchSelects, DutSwitchSelects::UnknownSource);
    EXPECT_EQ(q.passbandLowHz, p.passbandLowHz);
    EXPECT_EQ(q.passbandHighHz, p.passbandHighHz);
    EXPECT_EQ(q.loudestLevelDbfs, p.loudestLevelDbfs);
    EXPECT_TRUE(q.humOn);
    EXPECT_EQ(q.humDbfs, p.humDbfs);
    EXPECT_EQ(q.seed, p.seed);
    EXPECT_EQ(q.speed, 0.0);
}

TEST_F(BenchSettingsTest, MissingAndUnusableValuesLoadAsDefaults)
{
    {
        QSettings store(path(), QSettings::IniFormat);
        store.setValue(QStringLiteral("VirtualBench/ReceiverNfDb"), QStringLiteral("6,5"));
        store.setValue(QStringLiteral("VirtualBench/DutGainDb"), QStringLiteral("99"));
        store.setValue(QStringLiteral("VirtualBench/Speed"), QStringLiteral("fast"));
        store.setValue(QStringLiteral("VirtualBench/DutSwitchSelects"), QStringLiteral("x"));
        store.setValue(QStringLiteral("Setup/DutGainDb"), QStringLiteral("3")); // other group
    }
    QSettings store(path(), QSettings::IniFormat);
    VirtualBench bench;
    bench.load(store);
    const BenchParameters &q = bench.parameters();
    EXPECT_EQ(q.receiverNfDb, 6.0); // the decimal prefix, "." only
    EXPECT_EQ(q.dutGainDb, 20.0);   // out of range
    EXPECT_EQ(q.speed, 0.0);        // no number reads as 0: as fast as possible
    EXPECT_EQ(q.dutSwitchSelects, DutSwitchSelects::Dut);
    EXPECT_EQ(q.referenceEnrDb, 25.0); // missing
    EXPECT_EQ(q.seed, 0u);
    EXPECT_FALSE(q.humOn);
}

TEST(BenchOutputs, StreamSeedsRepeatForAFixedSeedAndDifferPerStream)
{
    BenchParameters p;
    p.seed = 7;
    VirtualBench a(p), b(p);
    const CaptureFormat f;
    const std::uint64_t a1 = a.nextGeneratorSetup(f).seed;
    const std::uint64_t a2 = a.nextGeneratorSetup(f).seed;
    EXPECT_NE(a1, a2);
    EXPECT_EQ(b.nextGeneratorSetup(f).seed, a1);
    EXPECT_EQ(b.nextGeneratorSetup(f).seed, a2);
    a.setParameters(p); // restarts the sequence
    EXPECT_EQ(a.nextGeneratorSetup(f).seed, a1);

    VirtualBench r1, r2; // seed 0: random
    EXPECT_NE(r1.nextGeneratorSetup(f).seed, r2.nextGeneratorSetup(f).seed);
}

} // namespace
} // namespace quillon
