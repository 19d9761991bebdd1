// The bench's model: its truth in known numbers, and its parameters in the store. That a
// Y-factor measurement recovers the parameters is checked end to end (BenchEndToEndTest).

#include "bench/VirtualBench.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <tuple>

namespace quillon {
namespace {

// Defaults: reference ENR 25 dB, unknown 15 dB, off 293 K, receiver NF 8 dB, DUT 20 dB
// gain and NF 1 dB, loudest state at -20 dBFS.
TEST(BenchTruth, DefaultsGiveKnownNumbers)
{
    const BenchTruth t = computeTruth(BenchParameters{});
    EXPECT_NEAR(t.hotReferenceK, 91999.052, 0.001);
    EXPECT_NEAR(t.hotUnknownK, 9463.605, 0.001);
    EXPECT_NEAR(t.receiverTeK, 1539.776, 0.001);
    EXPECT_NEAR(t.dutTeK, 75.088, 0.001);
    EXPECT_DOUBLE_EQ(t.dutGain, 100.0);
    EXPECT_NEAR(t.chainTeK, 90.486, 0.001);
    EXPECT_EQ(t.humPower, 0.0);
    // By switch state: DUT out T_source + Te_rx, DUT in G (T_source + Te_dut) + Te_rx; the
    // loudest at -20 dBFS and the power in proportion to kelvin.
    const double kelvin[4] = {1832.776, 93538.828, 38348.613, 9208953.828};
    const double dbfs[4] = {-57.011, -39.932, -43.805, -20.000};
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(t.states[s].noiseTemperatureK, kelvin[s], 0.001) << s;
        EXPECT_NEAR(t.states[s].levelDbfs, dbfs[s], 0.001) << s;
        EXPECT_NEAR(t.states[s].power, std::pow(10.0, t.states[s].levelDbfs / 10.0), 1e-15);
    }
}

// The table of the README's "Try it without hardware".
TEST(BenchTruth, FormatTruthPrintsTheTable)
{
    const BenchParameters p;
    const std::string text = formatTruth(p, computeTruth(p));
    std::cout << text;
    for (const char *part : {"91999.052 K", "1539.776 K, NF 8.000 dB",
                             "75.088 K, NF 1.000 dB, gain 20.000 dB", "-20.000", "-57.011"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    const BenchParameters cal{.dutSwitchSelects = DutSwitchSelects::UnknownSource};
    EXPECT_NE(formatTruth(cal, computeTruth(cal)).find("Unknown source ENR  15.000 dB"),
              std::string::npos);
}

auto fields(const BenchParameters &p)
{
    return std::tuple(p.referenceEnrDb, p.unknownEnrDb, p.sourceOffTemperatureK, p.receiverNfDb,
                      p.dutGainDb, p.dutNfDb, p.dutSwitchSelects == DutSwitchSelects::Dut,
                      p.passbandLowHz, p.passbandHighHz, p.loudestLevelDbfs, p.humOn, p.humDbfs,
                      p.seed, p.speed);
}

TEST(BenchParameters, SanitizedReplacesOnlyUnusableFields)
{
    // A low edge above the high edge sends both back to their defaults.
    const BenchParameters p{.referenceEnrDb = 51.0,
                            .receiverNfDb = std::nan(""),
                            .passbandLowHz = 3000.0,
                            .passbandHighHz = 2800.0,
                            .loudestLevelDbfs = 0.0,
                            .speed = -1.0};
    const BenchParameters kept{.unknownEnrDb = 0.0, .dutGainDb = -12.5, .speed = 0.0};
    EXPECT_EQ(fields(sanitized(p)), fields(BenchParameters{}));
    EXPECT_EQ(fields(sanitized(kept)), fields(kept));
}

class BenchSettingsTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QSettings store{dir.path() + QStringLiteral("/Quillon.conf"), QSettings::IniFormat};
};

TEST_F(BenchSettingsTest, SaveLoadRoundTripsEveryField)
{
    // 0.1 + 0.2 is not exactly representable and the seed is beyond a double's exact
    // integers: both must round-trip bit for bit.
    const BenchParameters p{.referenceEnrDb = 14.95,
                            .unknownEnrDb = 5.1,
                            .sourceOffTemperatureK = 296.15,
                            .receiverNfDb = 0.1 + 0.2,
                            .dutGainDb = -3.5,
                            .dutNfDb = 4.0,
                            .dutSwitchSelects = DutSwitchSelects::UnknownSource,
                            .passbandLowHz = 150.0,
                            .passbandHighHz = 3100.0,
                            .loudestLevelDbfs = -12.0,
                            .humOn = true,
                            .humDbfs = -66.0,
                            .seed = 18446744073709551557ull,
                            .speed = 0.0};
    EXPECT_TRUE(VirtualBench(p).save(store));
    store.sync();
    QSettings reread(store.fileName(), QSettings::IniFormat);
    EXPECT_EQ(reread.value(QStringLiteral("VirtualBench/DutSwitchSelects")).toString(),
              QStringLiteral("UnknownSource"));
    VirtualBench loaded;
    loaded.load(reread);
    EXPECT_EQ(fields(loaded.parameters()), fields(p));
}

TEST_F(BenchSettingsTest, MissingAndUnusableValuesLoadAsDefaults)
{
    store.setValue(QStringLiteral("VirtualBench/ReceiverNfDb"), QStringLiteral("6,5"));
    store.setValue(QStringLiteral("VirtualBench/DutGainDb"), QStringLiteral("99"));
    store.setValue(QStringLiteral("VirtualBench/Speed"), QStringLiteral("fast"));
    store.setValue(QStringLiteral("VirtualBench/DutSwitchSelects"), QStringLiteral("x"));
    store.setValue(QStringLiteral("Setup/DutNfDb"), QStringLiteral("3")); // another group
    VirtualBench bench;
    bench.load(store);
    // "6,5" reads its decimal prefix ("." only); no number reads as 0 (as fast as possible).
    const BenchParameters expected{.receiverNfDb = 6.0, .speed = 0.0};
    EXPECT_EQ(fields(bench.parameters()), fields(expected)); // the rest are defaults
}

} // namespace
} // namespace quillon
