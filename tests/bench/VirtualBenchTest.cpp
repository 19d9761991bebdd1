// The bench alone: truth, stored parameters, generator, formats (end to end: BenchEndToEnd).

#include "bench/VirtualBench.h"
#include "core/Settings.h"
#include "bench/VirtualBenchBackend.h"
#include "capture/Level.h"
#include "support/BenchBlocks.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

namespace quillon {
namespace {

// Defaults: reference ENR 25 dB, unknown 15 dB, off 293 K, receiver NF 8 dB, DUT 20 dB
// gain and NF 1 dB, loudest state at -20 dBFS.
TEST(BenchTruth, DefaultsGiveKnownNumbers)
{
    const BenchTruth t = computeTruth({});
    EXPECT_NEAR(t.hotReferenceK, 91999.052, 0.001);
    EXPECT_NEAR(t.hotUnknownK, 9463.605, 0.001);
    EXPECT_NEAR(t.receiverTeK, 1539.776, 0.001);
    EXPECT_NEAR(t.dutTeK, 75.088, 0.001);
    EXPECT_DOUBLE_EQ(t.dutGain, 100.0);
    EXPECT_NEAR(t.chainTeK, 90.486, 0.001);
    // By state: DUT out T_source + Te_rx, in G (T_source + Te_dut) + Te_rx; power ~ kelvin.
    const double kelvin[4] = {1832.776, 93538.828, 38348.613, 9208953.828};
    const double dbfs[4] = {-57.011, -39.932, -43.805, -20.000};
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(t.states[s].noiseTemperatureK, kelvin[s], 0.001) << s;
        EXPECT_NEAR(t.states[s].levelDbfs, dbfs[s], 0.001) << s;
        EXPECT_NEAR(t.states[s].power, std::pow(10.0, t.states[s].levelDbfs / 10.0), 1e-15);
    }
    // With the DUT output selecting the unknown source, the DUT-in states see it instead.
    const BenchTruth cal = computeTruth({.dutSwitchSelects = DutSwitchSelects::UnknownSource});
    EXPECT_NEAR(cal.states[3].noiseTemperatureK, 9463.605 + 1539.776, 0.002);
    EXPECT_NEAR(cal.states[2].noiseTemperatureK, 293.0 + 1539.776, 0.001);
    // An unknown source off at 350 K: both its states 57 K up, the reference's unchanged.
    const BenchTruth warm = computeTruth(
        {.unknownOffTemperatureK = 350.0, .dutSwitchSelects = DutSwitchSelects::UnknownSource});
    EXPECT_NEAR(warm.states[2].noiseTemperatureK - cal.states[2].noiseTemperatureK, 57.0, 1e-9);
    EXPECT_NEAR(warm.states[3].noiseTemperatureK - cal.states[3].noiseTemperatureK, 57.0, 1e-9);
    EXPECT_DOUBLE_EQ(warm.states[1].noiseTemperatureK, cal.states[1].noiseTemperatureK);
}

// Sky mode: the noise-source output is the antenna on a source SkyStepK above a cold sky of
// SkyColdK; the receiver is the system's (Te 1539.776 K at 8 dB).
TEST(BenchTruth, SkyModeIsAStepAboveColdSky)
{
    const BenchTruth t = computeTruth({.skyMode = true, .skyColdK = 20.0, .skyStepK = 400.0});
    EXPECT_NEAR(t.states[switchStateIndex(false, false)].noiseTemperatureK, 20.0 + 1539.776, 0.001);
    EXPECT_NEAR(t.states[switchStateIndex(true, false)].noiseTemperatureK, 420.0 + 1539.776, 0.001);
    EXPECT_NEAR(t.ySystem, 1959.776 / 1559.776, 1e-6);
    EXPECT_DOUBLE_EQ(t.offTemperatureK, 20.0);
    // Out of range: the defaults (20 K, 400 K); a cold sky of 0 K is allowed.
    const BenchParameters p = sanitized({.skyColdK = -1.0, .skyStepK = 0.0});
    EXPECT_EQ(std::pair(p.skyColdK, p.skyStepK), std::pair(20.0, 400.0));
    EXPECT_EQ(sanitized({.skyColdK = 0.0}).skyColdK, 0.0);
}

// Every field, the faults' too, as references (also to assign them all at once).
auto fields(auto &&p)
{
    return std::tie(p.referenceEnrDb, p.unknownEnrDb, p.sourceOffTemperatureK,
                    p.unknownOffTemperatureK, p.receiverNfDb, p.dutGainDb, p.dutNfDb,
                    p.dutSwitchSelects, p.passbandLowHz, p.passbandHighHz, p.loudestLevelDbfs,
                    p.humOn, p.humDbfs, p.seed, p.speed, p.frequencyMHz, p.curveCentreMHz,
                    p.referenceEnrSlopeDbPerMHz, p.dutGainSlopeDbPerMHz,
                    p.dutNfCurvatureDbPerMHz2, p.faults.agcOn, p.faults.agcTimeConstantMs,
                    p.faults.compressionOn, p.faults.gainDriftDbPerMinute, p.faults.toneOn,
                    p.faults.toneHz, p.faults.toneDbfs, p.skyMode, p.skyColdK, p.skyStepK);
}

// Every field off its default round-trips through the store, 0.1 + 0.2 (not exactly
// representable) and a seed beyond a double's exact integers bit for bit; missing and
// unusable values load as their defaults (a low passband edge above the high one too,
// a missing fault switch as off); a clean bench writes every fault as off.
TEST(BenchSettings, SaveLoadRoundTripsEveryFieldAndDefaultsTheRest)
{
    QTemporaryDir dir;
    QSettings store(dir.path() + QStringLiteral("/Quillon.conf"), QSettings::IniFormat);
    BenchParameters p;
    fields(p) =
        std::tuple(14.95, 5.1, 296.15, 350.5, 0.1 + 0.2, -3.5, 4.0, DutSwitchSelects::UnknownSource,
                   150.0, 3100.0, 6.0, true, -66.0, 18446744073709551557ull, 0.0, 432.1, 1296.0,
                   0.0125, -0.5, -0.003, true, 750.5, true, -0.1, true, 1234.5, -44.25, true,
                   3.5, 250.25);
    EXPECT_TRUE(VirtualBench(p).save(store));
    store.sync();
    QSettings reread(store.fileName(), QSettings::IniFormat);
    EXPECT_EQ(reread.value("VirtualBench/DutSwitchSelects").toString(), "UnknownSource");
    EXPECT_EQ(reread.value("VirtualBench/AgcOn").toString(), "1");
    VirtualBench loaded;
    loaded.load(reread);
    EXPECT_EQ(fields(loaded.parameters()), fields(p));

    // The unknown source's off temperature follows the reference's.
    for (const char *key : {"ReferenceEnrDb", "UnknownOffTemperatureK", "AgcOn"})
        reread.remove(QStringLiteral("VirtualBench/") + key);
    reread.setValue("VirtualBench/DutGainDb", "99");
    reread.setValue("VirtualBench/DutSwitchSelects", "x");
    reread.setValue("VirtualBench/PassbandLowHz", "3200");
    reread.setValue("VirtualBench/ReceiverNfDb", "6,5"); // its decimal prefix: "." only
    reread.setValue("VirtualBench/Speed", "fast");       // no number: 0, as fast as possible
    reread.setValue("VirtualBench/AgcTimeConstantMs", "0");
    reread.setValue("VirtualBench/GainDriftDbPerMinute", "100");
    reread.setValue("VirtualBench/ToneDbfs", "0");
    loaded.load(reread);
    const BenchParameters d;
    const BenchParameters &l = loaded.parameters();
    EXPECT_EQ(std::tuple(l.referenceEnrDb, l.dutGainDb, l.dutSwitchSelects, l.passbandLowHz,
                         l.passbandHighHz, l.receiverNfDb, l.speed, l.unknownOffTemperatureK),
              std::tuple(d.referenceEnrDb, d.dutGainDb, d.dutSwitchSelects, d.passbandLowHz,
                         d.passbandHighHz, 6.0, 0.0, 296.15));
    EXPECT_EQ(std::tuple(l.faults.agcOn, l.faults.agcTimeConstantMs,
                         l.faults.gainDriftDbPerMinute, l.faults.toneDbfs),
              std::tuple(false, d.faults.agcTimeConstantMs, d.faults.gainDriftDbPerMinute,
                         d.faults.toneDbfs));

    ASSERT_TRUE(VirtualBench().save(reread));
    for (const char *key : {"AgcOn", "CompressionOn", "ToneOn", "GainDriftDbPerMinute"})
        EXPECT_EQ(reread.value(QStringLiteral("VirtualBench/") + key).toString(), "0") << key;
}

// Variance of the first channel, in codes (exact sums of the block measurement).
double variance(const std::uint8_t *data, std::uint32_t frames, int channels, int bits)
{
    const CaptureFormat f{.channels = static_cast<std::uint16_t>(channels),
                          .bitsPerSample = static_cast<std::uint16_t>(bits)};
    const BlockStats b = measureBlock(data, frames * channels * bits / 8, f, nullptr);
    const double n = static_cast<double>(b.N), mean = static_cast<double>(b.sum) / n;
    return static_cast<double>(b.sumsq) / n - mean * mean;
}

// Five standard errors; |x| beyond 3.5 and 4 only comes from the ziggurat's tail.
TEST(StandardNormal, MomentsAndTailsMatchTheGaussian)
{
    Xoshiro256pp rng(12345);
    constexpr int n = 4'000'000;
    constexpr std::array<std::pair<double, double>, 3> tails{
        {{3.0, 0.00269979606326019}, {3.5, 0.000465258900213}, {4.0, 6.33424836662398e-05}}};
    std::array<int, 3> beyond{};
    double s1 = 0, s2 = 0, s4 = 0;
    for (int i = 0; i < n; ++i) {
        const double x = standardNormal(rng);
        s1 += x, s2 += x * x, s4 += x * x * x * x;
        for (std::size_t k = 0; k < tails.size(); ++k)
            beyond[k] += std::fabs(x) > tails[k].first;
    }
    EXPECT_NEAR(s1 / n, 0.0, 5.0 / std::sqrt(n));
    EXPECT_NEAR(s2 / n, 1.0, 5.0 * std::sqrt(2.0 / n));
    EXPECT_NEAR(s4 / n, 3.0, 5.0 * std::sqrt(96.0 / n)); // var(x^4) = 105 - 9
    for (std::size_t k = 0; k < tails.size(); ++k) {
        const double p = tails[k].second;
        EXPECT_NEAR(beyond[k], p * n, 5.0 * std::sqrt(n * p * (1.0 - p))) << tails[k].first;
    }
}

GeneratorSetup setupFor(std::uint32_t rate, int channels, int bits, double power)
{
    return {.sampleRate = rate,
            .channels = channels,
            .bitsPerSample = bits,
            .statePower = {power, power * 10.0, power * 100.0, power * 1000.0},
            .seed = 99};
}

// Rounding to whole codes adds 1/12 code^2, taken out of the analogue noise (else 4.083).
TEST(Generator, RoundingNoiseIsPartOfThePower)
{
    GeneratorSetup g = setupFor(48000, 1, 16, 4.0 / (32768.0 * 32768.0));
    g.passbandLowHz = 20.0; // nearly white: many independent samples
    g.passbandHighHz = 20000.0;
    BenchGenerator gen(g);
    const std::uint32_t frames = 1u << 22;
    std::vector<std::uint8_t> buf(frames * 2);
    gen.warmUp(gen.settleFrames(), 0);
    gen.generate(buf.data(), frames, std::atomic<int>{0});
    const double rel = test::varianceRelativeSigma(48000, 20.0, 20000.0, frames);
    ASSERT_LT(5.0 * rel * 4.0, 0.083 / 2.0); // the test can see the correction
    EXPECT_NEAR(variance(buf.data(), frames, 1, 16), 4.0, 5.0 * rel * 4.0);
}

// Output does not depend on how it is cut into calls.
TEST(Generator, SwitchActsFromTheNextSample)
{
    const GeneratorSetup g = setupFor(22050, 2, 24, 1e-4);
    BenchGenerator a(g), b(g);
    std::vector<std::uint8_t> ba(4000 * 6), bb(4000 * 6);
    const std::atomic<int> quiet{0}, loud{3};
    a.generate(ba.data(), 4000, quiet);
    b.generate(bb.data(), 2000, quiet);
    EXPECT_EQ(0, std::memcmp(ba.data(), bb.data(), 2000 * 6));
    b.generate(bb.data() + 2000 * 6, 2000, loud);
    EXPECT_NE(0, std::memcmp(ba.data() + 2000 * 6, bb.data() + 2000 * 6, 3)); // x 31.6 noise
    // Once the passband has settled, the power is 1000 times higher.
    EXPECT_GT(variance(bb.data() + 3000 * 6, 1000, 2, 24),
              100.0 * variance(ba.data() + 3000 * 6, 1000, 2, 24));
}

// +6 dBFS RMS (accepted up to +10) clips at the largest codes and reads over range.
TEST(Generator, LoudStatesClipAtFullScale)
{
    VirtualBench bench({.loudestLevelDbfs = 6.0, .seed = 5});
    EXPECT_EQ(bench.parameters().loudestLevelDbfs, 6.0);
    BenchGenerator gen(bench.nextGeneratorSetup(CaptureFormat{}));
    std::vector<std::uint8_t> block(4410 * 2);
    gen.generate(block.data(), 4410, std::atomic<int>{switchStateIndex(true, true)});
    const BlockStats stats = measureBlock(block.data(), 4410 * 2, CaptureFormat{}, nullptr);
    EXPECT_EQ(stats.peak, 32768); // the negative full-scale code
    EXPECT_GT(gen.clippedSamples(), 100u);
    EXPECT_TRUE(isOverRange(stats));
}

// One device that opens every one of the 20 rows and refuses everything else.
TEST(BenchDevice, OpensEveryRowAndRefusesWhatNoRowDescribes)
{
    VirtualBench b;
    VirtualBenchBackend backend(b);
    BlockQueue queue;
    std::unique_ptr<InputStream> stream;
    DeviceCaps caps;
    EXPECT_FALSE(backend.deviceCaps(1, caps));
    ASSERT_TRUE(backend.deviceCaps(0, caps));
    EXPECT_EQ(caps.productName, "Quillon virtual bench");
    Settings s;
    for (int row = 0; row < kWaveFormatCount; ++row) {
        const WaveFormatRow &r = WaveFormatTable[row];
        EXPECT_TRUE(r.capabilityFlag == kFormatProbe || (caps.formats & r.capabilityFlag))
            << r.label;
        applyFormatRow(s, row);
        EXPECT_EQ(backend.open(0, deriveFormat(s), queue, stream), kCaptureOk) << r.label;
    }
    const CaptureFormat good; // 44.1 kHz mono 16-bit
    EXPECT_EQ(backend.open(1, good, queue, stream), kCaptureBadDevice);
    EXPECT_EQ(stream, nullptr);
    // 32 kHz, 8-bit, 3 channels, 4-byte mono 16-bit frames, inconsistent byte rate, float.
    for (const CaptureFormat &f :
         {CaptureFormat{.samplesPerSec = 32000, .avgBytesPerSec = 64000},
          CaptureFormat{.avgBytesPerSec = 44100, .blockAlign = 1, .bitsPerSample = 8},
          CaptureFormat{.channels = 3, .avgBytesPerSec = 6 * 44100, .blockAlign = 6},
          CaptureFormat{.blockAlign = 4}, CaptureFormat{.avgBytesPerSec = 44100},
          CaptureFormat{.formatTag = 3}}) {
        EXPECT_EQ(backend.open(0, f, queue, stream), kCaptureBadFormat);
        EXPECT_EQ(stream, nullptr);
    }
}

} // namespace
} // namespace quillon

// The README's "Try it without hardware" table is the bench's own truth at the defaults.
TEST(BenchTruth, ReadmeShowsTheDefaultsTruth)
{
    std::ifstream readme(QUILLON_SOURCE_DIR "/README.md");
    const std::string text((std::istreambuf_iterator<char>(readme)), {});
    const quillon::BenchParameters defaults;
    const std::string truth = quillon::formatTruth(defaults, quillon::computeTruth(defaults));
    EXPECT_NE(text.find(truth), std::string::npos) << truth;
}
