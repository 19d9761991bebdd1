// The bench measured the way the program measures it: the capture engine opens the bench
// through the device list (after a sound card), page-style callbacks run MeasureBlock on
// the delivery thread, and the Y-factor formulas turn the mean block powers into noise
// temperatures. Each switch state is its own capture, as on the Measure Device page.

#include "BenchTestSupport.h"
#include "app/Settings.h"
#include "bench/VirtualBenchBackend.h"
#include "capture/DeviceList.h"
#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/WaveCapture.h"
#include "nf/YFactorMath.h"
#include "support/FakeDevices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quillon {
namespace {

namespace yf = YFactorMath;
using benchtest::fastBench;
using benchtest::varianceRelativeSigma;
using Powers = std::array<double, 4>; // by switchStateIndex

constexpr int kOffOut = 0, kOnOut = 1, kOffIn = 2, kOnIn = 3;
constexpr int kBlocks = 4; // of 1 s each
// Quillon's own defaults on the Measure Device page.
constexpr double kEnrDb = 25.0, kT0 = 290.0, kTsOff = 293.0;

struct BenchRig
{
    BenchRig(const BenchParameters &p, int formatRow, std::uint32_t captureMs = 1000)
        : bench(p), backend(bench), soundCard({{"Speakers and Line In", kFormat4M16}})
    {
        devices.addBackend(soundCard);
        devices.addBackend(backend);
        settings.waveInDevice = devices.findDevice("Quillon virtual bench");
        applyFormatRow(settings, formatRow);
        settings.captureTimeMs = captureMs;
        capture.DeriveFormat();
    }

    // Mean power (full-scale units) of kBlocks blocks at (noiseOn, dutIn). The callback
    // stops re-queueing after the last block and ignores a block after it, as the modal
    // pages do.
    double read(bool noiseOn, bool dutIn, HighPass1kHz *filter = nullptr)
    {
        bench.setOutputs(noiseOn, dutIn);
        EXPECT_TRUE(capture.ProbeDevice());
        double sum = 0.0;
        int blocks = 0;
        std::mutex m;
        std::condition_variable cv;
        const int rc = capture.StartCapture([&](WaveCapture &c, CaptureHeader &h) {
            if (blocks >= kBlocks)
                return;
            const BlockStats st = MeasureBlock(h.data, h.bytesRecorded, c.format(), filter);
            EXPECT_FALSE(IsOverRange(st));
            sum += st.L * st.L;
            const std::lock_guard lock(m);
            if (++blocks < kBlocks)
                c.requeue(h);
            cv.notify_all();
        });
        EXPECT_EQ(rc, kCaptureOk);
        std::unique_lock lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(120),
                                [&] { return rc != kCaptureOk || blocks == kBlocks; }));
        lock.unlock();
        EXPECT_EQ(capture.lostEvents(), 0u); // speed 0 never drops, however slow the callback
        capture.StopCapture();
        return sum / kBlocks;
    }
    Powers readAll(HighPass1kHz *filter = nullptr)
    {
        Powers p{};
        for (int s = 0; s < 4; ++s)
            p[s] = read(s & 1, s & 2, filter);
        return p;
    }

    VirtualBench bench;
    VirtualBenchBackend backend;
    test::NamedDevices soundCard;
    DeviceList devices;
    Settings settings;
    WaveCapture capture{settings, devices};
};

Powers expectedPowers(const BenchTruth &t, double minus = 0.0)
{
    return {t.states[0].power - minus, t.states[1].power - minus, t.states[2].power - minus,
            t.states[3].power - minus};
}

// Standard deviation of f(P) from independent relative errors `rel` of the four powers,
// by first-order propagation at the expected powers.
double propagatedSigma(const std::function<double(const Powers &)> &f, const Powers &p, double rel)
{
    double var = 0.0;
    for (int i = 0; i < 4; ++i) {
        Powers q = p;
        q[i] *= 1.0 + 1e-6;
        const double d = (f(q) - f(p)) / 1e-6; // d f / d(ln P_i)
        var += d * rel * d * rel;
    }
    return std::sqrt(var);
}

const double kHot = yf::HotTemperature(kEnrDb, kT0, kTsOff);
double receiverTe(const Powers &p)
{
    return yf::NoiseTemperature(p[kOnOut] / p[kOffOut], kHot, kTsOff);
}
double dutGain(const Powers &p)
{
    return yf::DeviceGain(p[kOnIn], p[kOffIn], p[kOnOut], p[kOffOut]);
}
double dutTe(const Powers &p)
{
    const double chain = yf::NoiseTemperature(p[kOnIn] / p[kOffIn], kHot, kTsOff);
    return yf::SecondStageCorrected(chain, receiverTe(p), dutGain(p));
}
double nfDb(double te)
{
    return yf::NoiseFigureFromFactor(yf::NoiseFactorFromTemperature(te, kT0));
}

struct E2ECase
{
    int row;
    double receiverNfDb = 8.0, dutGainDb = 20.0, dutNfDb = 1.0;
};

class BenchEndToEnd : public ::testing::TestWithParam<E2ECase>
{
};

// Every switch state's power is its expected power within five standard errors; the
// Y-factor formulas give the bench's parameters exactly from the expected powers and
// within the propagated error from the measured ones. The first block counts: the bench
// starts settled.
TEST_P(BenchEndToEnd, LevelsAndNoiseTemperaturesMatchTheTruth)
{
    const E2ECase c = GetParam();
    BenchParameters p = fastBench(1000 + static_cast<std::uint64_t>(c.row));
    p.receiverNfDb = c.receiverNfDb;
    p.dutGainDb = c.dutGainDb;
    p.dutNfDb = c.dutNfDb;
    BenchRig rig(p, c.row);
    ASSERT_EQ(rig.settings.waveInDevice, 1);
    const BenchTruth t = rig.bench.truth();
    const Powers measured = rig.readAll();
    const Powers expected = expectedPowers(t);

    const double rate = WaveFormatTable[c.row].sampleRate;
    const double rel = varianceRelativeSigma(rate, 300.0, 2700.0, rate * kBlocks);
    for (int s = 0; s < 4; ++s)
        EXPECT_NEAR(measured[s], expected[s], 5.0 * rel * expected[s]) << "state " << s;

    EXPECT_NEAR(nfDb(receiverTe(expected)), c.receiverNfDb, 1e-9);
    EXPECT_NEAR(yf::GainDb(dutGain(expected)), c.dutGainDb, 1e-9);
    EXPECT_NEAR(nfDb(dutTe(expected)), c.dutNfDb, 1e-9);
    for (const auto &[f, truth] : {std::pair{&receiverTe, t.receiverTeK},
                                   std::pair{&dutGain, t.dutGain}, std::pair{&dutTe, t.dutTeK}})
        EXPECT_NEAR(f(measured), truth, 5.0 * propagatedSigma(f, expected, rel));
}

INSTANTIATE_TEST_SUITE_P(Formats, BenchEndToEnd,
                         ::testing::Values(E2ECase{0}, E2ECase{7}, E2ECase{8, 6.5, 17.3, 2.2},
                                           E2ECase{14}, E2ECase{17}, E2ECase{19}),
                         [](const auto &info) {
                             const WaveFormatRow &r = WaveFormatTable[info.param.row];
                             return std::to_string(r.sampleRate) + "Hz_" +
                                    (r.stereo ? "stereo_" : "mono_") +
                                    std::to_string(r.bitsPerSample) + "bit";
                         });

// Calibrating a noise source: with the DUT output selecting the unknown source, the
// Calibrate Noise Source page's formula gives the unknown source's true ENR.
TEST(BenchEndToEndCalibrate, UnknownSourceEnr)
{
    BenchParameters p = fastBench(77);
    p.dutSwitchSelects = DutSwitchSelects::UnknownSource;
    p.unknownEnrDb = 14.3;
    BenchRig rig(p, 9); // 44.1 kHz mono 24-bit
    auto enr = [](const Powers &q) {
        return yf::UnknownSourceEnrDb(kEnrDb, q[kOnOut] / q[kOffOut], q[kOnIn] / q[kOffIn], kTsOff,
                                      kTsOff, kT0);
    };
    const Powers expected = expectedPowers(rig.bench.truth());
    const double rel = varianceRelativeSigma(44100, 300.0, 2700.0, 44100 * kBlocks);
    EXPECT_NEAR(enr(expected), 14.3, 1e-9);
    EXPECT_NEAR(enr(rig.readAll()), 14.3, 5.0 * propagatedSigma(enr, expected, rel));
}

// Mains hum adds its power to every unfiltered reading (and so biases Te); the meter's
// 1 kHz high-pass removes it, and the filtered powers give the true Te again.
TEST(BenchEndToEndHum, HighPassRemovesTheHum)
{
    BenchParameters p = fastBench(4242);
    p.humOn = true;
    p.humDbfs = -45.0;   // above the quietest state (-57 dBFS)
    BenchRig rig(p, 12); // 48 kHz mono 16-bit
    const BenchTruth t = rig.bench.truth();
    const double rel = varianceRelativeSigma(48000, 300.0, 2700.0, 48000 * kBlocks);
    const double off = rig.read(false, false);
    EXPECT_NEAR(off, t.states[kOffOut].power, 5.0 * rel * t.states[kOffOut].power);
    EXPECT_GT(off, 5.0 * (t.states[kOffOut].power - t.humPower));

    HighPass1kHz filter;
    filter.SelectHighPass(48000);
    const Powers filtered = rig.readAll(&filter);
    // The filter passes roughly 1000..2700 Hz: fewer independent samples, a wider margin.
    const double relFiltered = varianceRelativeSigma(48000, 1000.0, 2700.0, 48000 * kBlocks);
    const Powers expected = expectedPowers(t, t.humPower);
    EXPECT_NEAR(receiverTe(filtered), t.receiverTeK,
                6.0 * propagatedSigma(receiverTe, expected, relFiltered));
    EXPECT_NEAR(dutTe(filtered), t.dutTeK, 6.0 * propagatedSigma(dutTe, expected, relFiltered));
}

// Stopping from the window thread returns promptly whatever the generator is doing: in the
// middle of a slow callback, at real-time pace and as fast as possible; nothing is
// delivered after it.
TEST(BenchEndToEndStop, StopDuringASlowCallbackReturns)
{
    for (double speed : {0.0, 1.0, 50.0}) {
        BenchRig rig(fastBench(3, speed), 10, 100); // 44.1 kHz stereo 16-bit, 100 ms blocks
        std::atomic<int> delivered{0};
        ASSERT_EQ(rig.capture.StartCapture([&](WaveCapture &c, CaptureHeader &h) {
            if (delivered.fetch_add(1) == 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            c.requeue(h);
        }),
                  kCaptureOk);
        while (delivered.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(rig.capture.StopCapture());
        const int after = delivered.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(delivered.load(), after);
        EXPECT_FALSE(rig.capture.running());
    }
}

} // namespace
} // namespace quillon
