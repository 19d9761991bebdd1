// The correction chain: worked examples whose readings come from a forward model of the
// set-up (attenuators, DUT or converter, receiver) written apart from the code, the
// converter's frequencies, the bad entries and the "corrected for" text.

#include "nf/Corrections.h"
#include "core/Messages.h"
#include "nf/EnrTable.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillon {
namespace {

using Powers = std::array<double, kDeviceReadingCount>;
constexpr std::array<bool, kDeviceReadingCount> kAll{true, true, true, true};
constexpr double kT0 = 290.0;

AppliedLoss loss(double db, double k, double u = 0.0)
{
    return {true, db, k, u};
}

// The readings of each example are noise temperatures at the receiver (K; powers are
// proportional) from this Python model, independent of the code under test:
//
//   db = lambda x: 10 ** (x / 10); T0 = 290
//   def fwd(enr_out, enr_s, enr_i, r, Tc, Lin, Tin, Lout, Tout, Lcal, Tcal, nf_rx, nf_dut, g):
//       Trx = (db(nf_rx) - 1) * T0; Te = (db(nf_dut) - 1) * T0; G = db(g)
//       Li, Lo, Lc = db(Lin), db(Lout), db(Lcal)
//       cal = lambda T: T / Lc + (1 - 1 / Lc) * Tcal + Trx
//       def dut(Ts, Ti):
//           a = Ts / Li + (1 - 1 / Li) * Tin; b = Ti / Li + (1 - 1 / Li) * Tin
//           out = G * a + r * G * b + G * (Te - r * T0)   # Te single sideband
//           return out / Lo + (1 - 1 / Lo) * Tout + Trx
//       return [cal(db(enr_out) * T0 + Tc), cal(Tc),
//               dut(db(enr_s) * T0 + Tc, db(enr_i) * T0 + Tc), dut(Tc, Tc)]
//
// and "uncorrected" is what the plain Y-factor formulas make of them.
struct WorkedExample
{
    const char *name;
    Powers power;
    double enrDb; // at the receiver's frequency
    double tsOff;
    ChainCorrections corrections;
    double nfDb, gainDb;                       // the truth put into the model
    double uncorrectedNfDb, uncorrectedGainDb; // what the model's readings give uncorrected
};

ChainCorrections lossesOnly(AppliedLoss in, AppliedLoss out, AppliedLoss cal = {})
{
    ChainCorrections c;
    c.at(LossPlace::Input) = in;
    c.at(LossPlace::Output) = out;
    c.at(LossPlace::Calibration) = cal;
    return c;
}

ChainCorrections doubleSideband(double enrSignal, double enrImage, ChainCorrections c = {})
{
    c.converter.on = true;
    c.converter.sideband = Sideband::Double;
    c.converter.loMHz = 1152.0;
    c.enrSignalDb = enrSignal;
    c.enrImageDb = enrImage;
    return c;
}

ChainCorrections singleSideband(double rejectionDb, double enrSignal, double enrImage)
{
    ChainCorrections c;
    c.converter = {true, 1152.0, Sideband::Upper, rejectionDb};
    c.enrSignalDb = enrSignal;
    c.enrImageDb = enrImage;
    return c;
}

const WorkedExample kExamples[] = {
    // fwd(25, 25, 25, 0, 303, 0.4, 300, 1.0, 290, 0, 290, 8, 0.5, 20): the README's bench.
    {"input 0.4 dB at 300 K, output 1.0 dB at 290 K",
     {93548.82844387557, 1842.7762989925607, 6671973.55036609, 28457.357339547907},
     25.0, 303.0, lossesOnly(loss(0.4, 300.0), loss(1.0, 290.0)), 0.5, 20.0,
     0.9217117285106866, 18.599999999999998},
    // fwd(25, 25, 25, 1, 293, 0, 290, 0, 290, 0, 290, 8, 4, 10): a double-sideband mixer
    // alone reads exactly 3.0103 dB too good and its gain 3.0103 dB too high.
    {"double sideband, flat ENR, no losses",
     {93538.82844387557, 1832.7762989925607, 1843005.2898480305, 8884.246950370343},
     25.0, 293.0, doubleSideband(25.0, 25.0), 4.0, 10.0, 0.9897000433601888,
     13.010299956639813},
    // fwd(24.6, 23.1, 23.4, 1, 296, 0.3, 295, 0.7, 310, 0.2, 300, 6, 5, 12): every element,
    // the ENR different at the output, signal and image frequencies.
    {"double sideband with three losses and three ENRs",
     {81033.32322106787, 1160.6908242610562, 1557582.639815542, 13441.538844503639},
     24.6, 296.0,
     doubleSideband(23.1, 23.4, lossesOnly(loss(0.3, 295.0), loss(0.7, 310.0), loss(0.2, 300.0))),
     5.0, 12.0, 3.6657832878697887, 12.862889850005189},
    // A single-sideband converter whose image is rejected by a finite amount, by hand from the
    // two sidebands' contributions. T0 = TSoff = 290 K, ENR 10 dB (E = 10, hot 3190 K) at the
    // receiver and the signal frequency; receiver Te 1160 K; converter signal-band gain 10,
    // image-band gain 10 r, SSB Te 870 K (NF 10 log10 4 = 6.0206 dB), so its own output noise
    // is 10 (870 - 290 r). Readings 0, 1: 3190 + 1160 = 4350 and 290 + 1160 = 1450.
    // Rejected by 20 dB, r = 0.01, the image band at the same ENR:
    //   ON  = 10 * 3190 + 0.1 * 3190 + 10 * (870 - 2.9) + 1160 = 31900 + 319 + 8671 + 1160
    //       = 42050,
    //   OFF = 10 * 290 + 0.1 * 290 + 8671 + 1160 = 12760.
    // Plainly: G = (42050 - 12760) / 2900 = 10.1 (10.04 dB), Y = 3.29545, Te_chain = (3190 -
    // 290 Y) / (Y - 1) = 973.37 K, Te = 973.37 - 1160 / 10.1 = 858.51 K: 5.98 dB, 0.04 dB too
    // good. Corrected: X = 290 (10 + 0.1) / (Y - 1) - 1.01 * 290 = 1276.00 - 292.90 = 983.10 K,
    // G = 10.1 * 10 / 10.1 = 10, Te = 983.10 - 1160 / 10 + 2.90 = 870.0 K.
    {"single sideband, image rejected by 20 dB, flat ENR",
     {4350.0, 1450.0, 42050.0, 12760.0}, 10.0, 290.0, singleSideband(20.0, 10.0, 10.0),
     6.020599913279624, 10.0, 5.977386175453199, 10.043213737826427},
    // Rejected by 6 dB, r = 10^-0.6 = 0.251189, the image band's ENR 13.0103 dB (E = 20, hot
    // 6090 K):
    //   ON  = 31900 + 2.51189 * 6090 + 10 * (870 - 72.845) + 1160
    //       = 31900 + 15297.39 + 7971.55 + 1160 = 56328.94,
    //   OFF = 2900 + 2.51189 * 290 + 7971.55 + 1160 = 12760.
    // Plainly: G = 43568.94 / 2900 = 15.0238 (11.77 dB), Y = 4.41449, Te_chain = 559.32 K,
    // Te = 559.32 - 1160 / 15.0238 = 482.11 K: 4.25 dB, 1.77 dB too good. Corrected:
    // X = 290 (10 + 0.251189 * 20) / (Y - 1) - 1.251189 * 290 = 1276.00 - 362.85 = 913.15 K,
    // G = 15.0238 * 10 / 15.0238 = 10, Te = 913.15 - 116 + 72.85 = 870.0 K.
    {"single sideband, image rejected by 6 dB, the image at another ENR",
     {4350.0, 1450.0, 56328.941302755564, 12760.0}, 10.0, 290.0,
     singleSideband(6.0, 10.0, 13.010299956639813), 6.020599913279624, 10.0, 4.252809822394656,
     11.767790090884969},
};

TEST(Corrections, WorkedExamplesGiveTheModelsTruthAndTheUncorrectedErrorIsReal)
{
    for (const WorkedExample &e : kExamples) {
        SCOPED_TRACE(e.name);
        const DeviceResults r =
            correctDeviceResults(e.power, kAll, false, e.enrDb, kT0, e.tsOff, e.corrections);
        ASSERT_TRUE(r.complete);
        EXPECT_TRUE(r.noise.valid);
        EXPECT_NEAR(r.noise.nf, e.nfDb, 1e-9);
        EXPECT_NEAR(r.noise.te, (std::pow(10.0, e.nfDb / 10.0) - 1.0) * kT0, 1e-7);
        EXPECT_NEAR(r.gainDb, e.gainDb, 1e-9);
        EXPECT_TRUE(r.gainValid);
        // The same readings without the corrections: the model's uncorrected reading.
        const DeviceResults plain = computeDeviceResults(e.power, kAll, false, e.enrDb, kT0, e.tsOff);
        EXPECT_NEAR(plain.noise.nf, e.uncorrectedNfDb, 1e-9);
        EXPECT_NEAR(plain.gainDb, e.uncorrectedGainDb, 1e-9);
    }
}

TEST(Corrections, SystemModeRemovesTheCalibrationPathLossOnly)
{
    // Readings 0 and 1 of the last example: the receiver behind 0.2 dB at 300 K is 6 dB.
    const WorkedExample &e = kExamples[2];
    const DeviceResults r =
        correctDeviceResults(e.power, {true, true, false, false}, true, e.enrDb, kT0, e.tsOff,
                             e.corrections);
    ASSERT_TRUE(r.complete);
    EXPECT_NEAR(r.noise.nf, 6.0, 1e-9);
    // Readings missing: nothing evaluated.
    EXPECT_FALSE(correctDeviceResults(e.power, {true, false, true, true}, false, e.enrDb, kT0,
                                      e.tsOff, e.corrections)
                     .complete);
}

TEST(Corrections, NothingEnteredIsTheUncorrectedResultBitForBit)
{
    const WorkedExample &e = kExamples[0];
    const DeviceResults a = correctDeviceResults(e.power, kAll, false, e.enrDb, kT0, e.tsOff, {});
    const DeviceResults b = computeDeviceResults(e.power, kAll, false, e.enrDb, kT0, e.tsOff);
    EXPECT_EQ(a.noise.te, b.noise.te);
    EXPECT_EQ(a.gainDb, b.gainDb);
    // A converter rejecting its image by 200 dB: its image counts for nothing.
    ChainCorrections ssb;
    ssb.converter = {true, 1152.0, Sideband::Upper, 200.0};
    ssb.enrSignalDb = ssb.enrImageDb = e.enrDb;
    const DeviceResults c = correctDeviceResults(e.power, kAll, false, e.enrDb, kT0, e.tsOff, ssb);
    EXPECT_NEAR(c.noise.nf, b.noise.nf, 1e-12);
}

TEST(Corrections, UncertaintyByDifferencesMatchesTheFormulasAndAddsTheLosses)
{
    const WorkedExample &e = kExamples[0];
    const std::array<ReadingError, kDeviceReadingCount> errors{
        ReadingError{0.01, 15.0}, ReadingError{0.012, 15.0}, ReadingError{0.006, 31.0},
        ReadingError{0.008, 31.0}};
    const StatedUncertainty stated{0.2, 2.0};
    // A 0 dB loss switches the difference path on without changing a result: it must agree
    // with the analytic propagation.
    const DeviceResultsUncertainty plain = computeDeviceUncertainty(
        e.power, errors, kAll, false, e.enrDb, kT0, e.tsOff, stated);
    const DeviceResultsUncertainty numeric = correctedDeviceUncertainty(
        e.power, errors, kAll, false, e.enrDb, kT0, e.tsOff, stated,
        lossesOnly(loss(0.0, 290.0), {}));
    for (const auto &[a, b] : {std::pair{plain.nf, numeric.nf}, std::pair{plain.gainDb, numeric.gainDb},
                               std::pair{plain.te, numeric.te}, std::pair{plain.f, numeric.f}}) {
        EXPECT_NEAR(b.value, a.value, 1e-9 * std::abs(a.value) + 1e-12);
        EXPECT_NEAR(b.statistical, a.statistical, 1e-5 * a.statistical);
        EXPECT_NEAR(b.total, a.total, 1e-5 * a.total);
        EXPECT_NEAR(b.totalDegrees, a.totalDegrees, 1e-4 * a.totalDegrees);
    }
    // The gain in dB moves one for one with the input and output losses and against the
    // calibration path's: standard uncertainties 0.03, 0.04 and 0.12 dB give
    // sqrt(0.03^2 + 0.04^2 + 0.12^2) = 0.13 dB, with the readings exactly known.
    const DeviceResultsUncertainty lossOnly = correctedDeviceUncertainty(
        e.power, {}, kAll, false, e.enrDb, kT0, e.tsOff, {},
        lossesOnly(loss(0.4, 300.0, 0.03), loss(1.0, 290.0, 0.04), loss(0.1, 290.0, 0.12)));
    EXPECT_NEAR(lossOnly.gainDb.total, 0.13, 1e-6);
    EXPECT_EQ(lossOnly.gainDb.statistical, 0.0);
    // The corrected NF rises about one for one with the input loss's uncertainty.
    EXPECT_GT(lossOnly.nf.total, 0.025);
}

TEST(Corrections, ConverterFrequenciesAndImageResponse)
{
    struct Case
    {
        Sideband sideband;
        double lo, out, in, image;
    } cases[] = {{Sideband::Upper, 1152.0, 144.0, 1296.0, 1008.0},
                 {Sideband::Lower, 1440.0, 144.0, 1296.0, 1584.0},
                 {Sideband::Double, 1152.0, 144.0, 1296.0, 1008.0}};
    for (const Case &c : cases) {
        const ConverterFrequencies f = converterFrequencies({true, c.lo, c.sideband, 20.0}, c.out);
        EXPECT_EQ(f.inputMHz, c.in);
        EXPECT_EQ(f.imageMHz, c.image);
        EXPECT_EQ(f.outputMHz, c.out);
    }
    const ConverterFrequencies none = converterFrequencies({}, 144.0);
    EXPECT_EQ(none.inputMHz, 144.0);
    EXPECT_EQ(none.imageMHz, 144.0);
    EXPECT_DOUBLE_EQ(imageResponse({true, 0.0, Sideband::Upper, 20.0}), 0.01);
    EXPECT_EQ(imageResponse({true, 0.0, Sideband::Double, 20.0}), 1.0);
    EXPECT_EQ(imageResponse({false, 0.0, Sideband::Double, 20.0}), 0.0);
}

TEST(Corrections, EveryBadEntryHasItsMessage)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(checkLoss({}), kMsgNone);
    EXPECT_EQ(checkLoss({false, -3.0, -1.0}), kMsgNone); // not entered: not checked
    EXPECT_EQ(checkLoss(loss(0.0, 0.001)), kMsgNone);
    EXPECT_EQ(checkLoss(loss(-0.01, 290.0)), kMsgLossNegative);
    EXPECT_EQ(checkLoss(loss(nan, 290.0)), kMsgLossNegative);
    EXPECT_EQ(checkLoss(loss(0.3, 0.0)), kMsgLossTemperature);
    EXPECT_EQ(checkLoss(loss(0.3, -5.0)), kMsgLossTemperature);
    EXPECT_EQ(checkLoss(loss(0.3, nan)), kMsgLossTemperature);

    EXPECT_EQ(checkConverter({true, 1152.0, Sideband::Upper, 0.0}, 144.0), kMsgNone);
    EXPECT_EQ(checkConverter({true, 1152.0, Sideband::Upper, -1.0}, 144.0), kMsgImageRejection);
    EXPECT_EQ(checkConverter({true, 1152.0, Sideband::Double, -1.0}, 144.0), kMsgNone);
    // LO 100 MHz, output 144 MHz below it: the input would be at -44 MHz.
    EXPECT_EQ(checkConverter({true, 100.0, Sideband::Lower, 0.0}, 144.0), kMsgConverterFrequency);
    // Above it the image is at -44 MHz.
    EXPECT_EQ(checkConverter({true, 100.0, Sideband::Upper, 0.0}, 144.0), kMsgConverterFrequency);
    EXPECT_EQ(checkConverter({true, 144.0, Sideband::Double, 0.0}, 144.0), kMsgConverterFrequency);
    EXPECT_EQ(checkConverter({false, 100.0, Sideband::Lower, -1.0}, 144.0), kMsgNone);
}

TEST(Corrections, LossTableIsInterpolatedInsideAndRefusedOutside)
{
    EnrTable table;
    ASSERT_EQ(parseEnrData("100, 1.0, 0.05\n200, 2.0, 0.07\n400, 3.0\n", table), kMsgNone);
    const LossLookup mid = lookUpLoss(table, 150.0);
    EXPECT_EQ(mid.messageId, kMsgNone);
    EXPECT_DOUBLE_EQ(mid.db, 1.5);
    EXPECT_DOUBLE_EQ(mid.uncertaintyDb, 0.06);
    const LossLookup edge = lookUpLoss(table, 400.0);
    EXPECT_EQ(edge.messageId, kMsgNone);
    EXPECT_DOUBLE_EQ(edge.db, 3.0);
    EXPECT_EQ(edge.uncertaintyDb, 0.0); // the last row states none
    EXPECT_EQ(lookUpLoss(table, 100.0).db, 1.0);
    EXPECT_EQ(lookUpLoss(table, 99.999).messageId, kMsgLossTableCoverage);
    EXPECT_EQ(lookUpLoss(table, 400.001).messageId, kMsgLossTableCoverage);
    EXPECT_EQ(lookUpLoss(EnrTable{}, 150.0).messageId, kMsgLossTableCoverage);
}

TEST(Corrections, CorrectedForTextNamesEveryElement)
{
    EXPECT_EQ(correctedForText({}), "");
    ChainCorrections c = lossesOnly(loss(0.3, 295.0), loss(1.0, 290.0), loss(0.15, 300.0));
    EXPECT_EQ(correctedForText(c), "corrected for: input loss 0.30 dB at 295 K, output loss 1.00 dB "
                                   "at 290 K, calibration path loss 0.15 dB at 300 K");
    ChainCorrections d = doubleSideband(25.0, 25.0);
    d.frequencies = converterFrequencies(d.converter, 144.0);
    EXPECT_EQ(correctedForText(d),
              "corrected for: double sideband converter (input 1296.000 MHz, LO 1152.000 MHz)");
    ChainCorrections s;
    s.converter = {true, 1440.0, Sideband::Lower, 18.5};
    s.frequencies = converterFrequencies(s.converter, 144.0);
    s.at(LossPlace::Output) = loss(0.5, 290.0);
    EXPECT_EQ(correctedForText(s), "corrected for: output loss 0.50 dB at 290 K, single sideband "
                                   "converter, image rejected by 18.5 dB (input 1296.000 MHz, LO "
                                   "1440.000 MHz)");
}

} // namespace
} // namespace quillon
