// The bench's losses and converter: their truth against a model written apart from the
// bench, and their keys in the settings group.

#include "bench/VirtualBench.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace quillon {
namespace {

// Noise temperatures at the receiver (K) from this Python model of the set-up, by state:
// system ON, OFF, DUT ON, OFF (the corrections' worked examples use the same model):
//
//   db = lambda x: 10 ** (x / 10); T0 = 290
//   def fwd(enr_out, enr_s, enr_i, r, Tc, Lin, Tin, Lout, Tout, Lcal, Tcal, nf_rx, nf_dut, g):
//       Trx = (db(nf_rx) - 1) * T0; Te = (db(nf_dut) - 1) * T0; G = db(g)
//       Li, Lo, Lc = db(Lin), db(Lout), db(Lcal)
//       cal = lambda T: T / Lc + (1 - 1 / Lc) * Tcal + Trx
//       def dut(Ts, Ti):
//           a = Ts / Li + (1 - 1 / Li) * Tin; b = Ti / Li + (1 - 1 / Li) * Tin
//           return (G * a + r * G * b + G * (Te - r * T0)) / Lo + (1 - 1 / Lo) * Tout + Trx
//       return [cal(db(enr_out) * T0 + Tc), cal(Tc),
//               dut(db(enr_s) * T0 + Tc, db(enr_i) * T0 + Tc), dut(Tc, Tc)]
struct Case
{
    const char *name;
    BenchParameters parameters;
    std::array<double, 4> expected; // K
};

BenchParameters lossBench()
{
    BenchParameters p;
    p.dutNfDb = 0.5;
    p.sourceOffTemperatureK = 303.0;
    p.chain.inputLossDb = 0.4;
    p.chain.inputLossTemperatureK = 300.0;
    p.chain.outputLossDb = 1.0;
    return p;
}

// Every element at once: the receiver at 144 MHz behind 0.2 dB at 300 K, a double-sideband
// converter (LO 1152 MHz) of SSB NF 5 dB and gain 12 dB between 0.3 dB at 295 K and 0.7 dB
// at 310 K, the ENR falling 1.5 dB per 1152 MHz from 24.6 dB at 144 MHz (23.1 dB at the
// 1296 MHz input, 23.475 dB at the 1008 MHz image).
BenchParameters converterBench()
{
    BenchParameters p;
    p.referenceEnrDb = 24.6;
    p.referenceEnrSlopeDbPerMHz = -1.5 / 1152.0;
    p.dutGainSlopeDbPerMHz = 0.0;
    p.dutNfCurvatureDbPerMHz2 = 0.0;
    p.dutNfDb = 5.0;
    p.dutGainDb = 12.0;
    p.receiverNfDb = 6.0;
    p.sourceOffTemperatureK = 296.0;
    p.chain = {0.3, 295.0, 0.7, 310.0, 0.2, 300.0, true, 1152.0, BenchSideband::Double, 20.0};
    return p;
}

BenchParameters singleSidebandBench()
{
    BenchParameters p;
    p.referenceEnrSlopeDbPerMHz = 0.0;
    p.dutGainSlopeDbPerMHz = 0.0;
    p.dutNfCurvatureDbPerMHz2 = 0.0;
    p.chain.converterOn = true;
    p.chain.converterLoMHz = 1440.0;
    p.chain.sideband = BenchSideband::Lower;
    p.chain.imageRejectionDb = 20.0;
    return p;
}

TEST(BenchChain, TruthMatchesTheModel)
{
    const Case cases[] = {
        // fwd(25, 25, 25, 0, 303, 0.4, 300, 1.0, 290, 0, 290, 8, 0.5, 20)
        {"losses", lossBench(),
         {93548.82844387557, 1842.7762989925607, 6671973.55036609, 28457.357339547907}},
        // fwd(24.6, 23.1, 23.475, 1, 296, 0.3, 295, 0.7, 310, 0.2, 300, 6, 5, 12)
        {"double sideband", converterBench(),
         {81033.32322106787, 1160.6908242610562, 1571495.9461308308, 13441.538844503639}},
        // fwd(25, 25, 25, 0.01, 293, 0, 290, 0, 290, 0, 290, 8, 1, 20)
        {"single sideband, image 20 dB down", singleSidebandBench(),
         {93538.82844387557, 1832.7762989925607, 9300662.879874207, 38351.61324102341}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const BenchTruth t = computeTruth(c.parameters);
        const int order[4] = {switchStateIndex(true, false), switchStateIndex(false, false),
                              switchStateIndex(true, true), switchStateIndex(false, true)};
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(t.states[order[i]].noiseTemperatureK, c.expected[i],
                        1e-12 * c.expected[i]);
    }
    const BenchTruth dsb = computeTruth(converterBench());
    EXPECT_EQ(dsb.inputFrequencyMHz, 1296.0);
    EXPECT_EQ(dsb.imageFrequencyMHz, 1008.0);
    EXPECT_NEAR(dsb.enrSignalDb, 23.1, 1e-12);
    EXPECT_NEAR(dsb.enrImageDb, 23.475, 1e-12);
    const BenchTruth ssb = computeTruth(singleSidebandBench());
    EXPECT_EQ(ssb.inputFrequencyMHz, 1296.0);
    EXPECT_EQ(ssb.imageFrequencyMHz, 1584.0);
    // The plain formulas on the loss bench's states: the correction tests' worked example.
    const BenchTruth losses = computeTruth(lossBench());
    EXPECT_NEAR(losses.uncorrectedDutNfDb, 0.9217117285106866, 1e-9);
    EXPECT_NEAR(losses.uncorrectedDutGainDb, 18.6, 1e-9);
    // Without the chain the truth is the bench's own, and its plain reading the truth.
    const BenchTruth plain = computeTruth(BenchParameters{});
    EXPECT_NEAR(plain.uncorrectedDutNfDb, plain.dutNfDb, 1e-9);
    EXPECT_NEAR(plain.uncorrectedDutGainDb, plain.dutGainDb, 1e-9);
}

// A converter cannot add less than nothing: a DSB mixer's SSB NF below 3.01 dB is held there.
TEST(BenchChain, ConverterNoiseIsNeverNegative)
{
    BenchParameters p = converterBench();
    p.chain = {};
    p.chain.converterOn = true;
    p.chain.converterLoMHz = 1152.0;
    p.chain.sideband = BenchSideband::Double;
    p.referenceEnrSlopeDbPerMHz = 0.0;
    p.dutNfDb = 1.0;
    // The plain formulas read its own noise over both bands' gain: 0 K, 0 dB.
    const BenchTruth t = computeTruth(p);
    EXPECT_NEAR(t.uncorrectedDutNfDb, 0.0, 1e-9);
}

TEST(BenchChain, KeysRoundTripAndBadValuesFallBack)
{
    QTemporaryDir dir;
    QSettings store(dir.path() + QStringLiteral("/Quillon.conf"), QSettings::IniFormat);
    BenchParameters p = converterBench();
    p.chain.sideband = BenchSideband::Lower;
    EXPECT_TRUE(VirtualBench(p).save(store));
    store.sync();
    QSettings reread(store.fileName(), QSettings::IniFormat);
    EXPECT_EQ(reread.value("VirtualBench/ConverterSideband").toString(), "lower");
    EXPECT_EQ(reread.value("VirtualBench/InputLossDb").toString(), "0.3");
    VirtualBench loaded;
    loaded.load(reread);
    const auto fields = [](const BenchChain &c) {
        return std::tuple(c.inputLossDb, c.inputLossTemperatureK, c.outputLossDb,
                          c.outputLossTemperatureK, c.calibrationLossDb,
                          c.calibrationLossTemperatureK, c.converterOn, c.converterLoMHz,
                          c.sideband, c.imageRejectionDb);
    };
    EXPECT_EQ(fields(loaded.parameters().chain), fields(p.chain));
    reread.setValue("VirtualBench/InputLossDb", "-1");
    reread.setValue("VirtualBench/OutputLossTemperatureK", "0");
    reread.setValue("VirtualBench/ConverterSideband", "DOUBLE");
    reread.setValue("VirtualBench/ImageRejectionDb", "abc"); // reads as 0: kept
    loaded.load(reread);
    const BenchChain &l = loaded.parameters().chain;
    EXPECT_EQ(l.inputLossDb, 0.0);
    EXPECT_EQ(l.outputLossTemperatureK, 290.0);
    EXPECT_EQ(l.sideband, BenchSideband::Double);
    EXPECT_EQ(l.imageRejectionDb, 0.0);
    EXPECT_FALSE(BenchChain{}.any());
}

} // namespace
} // namespace quillon
