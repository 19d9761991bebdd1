// The bench measured the way the program measures it: the capture engine opens the bench
// through the device list, page-style callbacks run MeasureBlock on the delivery thread,
// and the Y-factor formulas turn the mean block powers into noise temperatures. Each
// switch state is its own capture, as on the Measure Device page (stop, switch, start).

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
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {
namespace {

namespace yf = YFactorMath;
using benchtest::varianceRelativeSigma;

constexpr int kOffOut = 0, kOnOut = 1, kOffIn = 2, kOnIn = 3;

// Quillon's own defaults on the Measure Device page.
constexpr double kEnrDb = 25.0, kT0 = 290.0, kTsOff = 293.0;

// The program's device list: a sound card first, the bench after it.
class BenchRig
{
public:
    explicit BenchRig(const BenchParameters &p, int formatRow, std::uint32_t captureMs = 1000)
        : bench(p), backend(bench),
          soundCard({{"Speakers and Line In", kFormat4M16 | kFormat48S16}})
    {
        devices.addBackend(soundCard);
        devices.addBackend(backend);
        settings.waveInDevice = devices.findDevice("Quillon virtual bench");
        settings.waveInFormat = formatRow;
        applyFormatRow(settings, formatRow);
        settings.captureTimeMs = captureMs;
    }

    struct Reading
    {
        std::vector<double> powers; // L^2 of each block, full-scale units
        bool overRange = false;
        double mean() const
        {
            double s = 0.0;
            for (double p : powers)
                s += p;
            return s / static_cast<double>(powers.size());
        }
    };

    // One reading of `blocks` blocks with the outputs at (noiseOn, dutIn). The callback
    // stops re-queueing after the last block, as the modal pages do.
    Reading read(bool noiseOn, bool dutIn, int blocks, HighPass1kHz *filter = nullptr)
    {
        capture.StopCapture();
        bench.setOutputs(noiseOn, dutIn);
        capture.DeriveFormat();
        Reading r;
        r.powers.reserve(static_cast<std::size_t>(blocks));
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        EXPECT_TRUE(capture.ProbeDevice());
        const int rc = capture.StartCapture([&](WaveCapture &c, CaptureHeader &h) {
            // The other header may already be full when the last block ends the reading;
            // like the modal pages, ignore it.
            if (static_cast<int>(r.powers.size()) >= blocks)
                return;
            const BlockStats st = MeasureBlock(h.data, h.bytesRecorded, c.format(), filter);
            r.overRange = r.overRange || IsOverRange(st);
            r.powers.push_back(st.L * st.L);
            if (static_cast<int>(r.powers.size()) < blocks) {
                c.requeue(h);
                return;
            }
            const std::lock_guard lock(m);
            done = true;
            cv.notify_all();
        });
        EXPECT_EQ(rc, kCaptureOk);
        if (rc == kCaptureOk) {
            std::unique_lock lock(m);
            EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(120), [&] { return done; }));
        }
        capture.StopCapture();
        return r;
    }

    // Mean power of each switch state, by switchStateIndex.
    std::array<double, 4> readAll(int blocks, HighPass1kHz *filter = nullptr)
    {
        std::array<double, 4> p{};
        for (int s = 0; s < 4; ++s) {
            const Reading r = read(s & 1, s & 2, blocks, filter);
            EXPECT_FALSE(r.overRange) << "state " << s;
            EXPECT_EQ(static_cast<int>(r.powers.size()), blocks);
            p[s] = r.mean();
        }
        return p;
    }

    VirtualBench bench;
    VirtualBenchBackend backend;
    test::NamedDevices soundCard;
    DeviceList devices;
    Settings settings;
    WaveCapture capture{settings, devices};
};

// Standard deviation of f(P) from independent relative errors `rel` of the four powers,
// by first-order propagation (numerical partial derivatives at the true powers).
double propagatedSigma(const std::function<double(const std::array<double, 4> &)> &f,
                       const std::array<double, 4> &p, double rel)
{
    const double f0 = f(p);
    double var = 0.0;
    for (int i = 0; i < 4; ++i) {
        std::array<double, 4> q = p;
        q[i] *= 1.0 + 1e-6;
        const double d = (f(q) - f0) / 1e-6; // d f / d(ln P_i)
        var += d * rel * d * rel;
    }
    return std::sqrt(var);
}

double receiverTe(const std::array<double, 4> &p)
{
    return yf::NoiseTemperature(p[kOnOut] / p[kOffOut], yf::HotTemperature(kEnrDb, kT0, kTsOff),
                                kTsOff);
}
double dutGain(const std::array<double, 4> &p)
{
    return yf::DeviceGain(p[kOnIn], p[kOffIn], p[kOnOut], p[kOffOut]);
}
double dutTe(const std::array<double, 4> &p)
{
    const double thot = yf::HotTemperature(kEnrDb, kT0, kTsOff);
    const double chain = yf::NoiseTemperature(p[kOnIn] / p[kOffIn], thot, kTsOff);
    return yf::SecondStageCorrected(chain, receiverTe(p), dutGain(p));
}

struct FormatCase
{
    int row;
};

class BenchEndToEnd : public ::testing::TestWithParam<FormatCase>
{
};

// Every switch state's level is its expected level within five standard errors, and the Y
// factors of the measured powers give the receiver's and the DUT's true Te and the DUT's
// gain. The first block of each capture counts: the bench starts settled.
TEST_P(BenchEndToEnd, LevelsAndNoiseTemperaturesMatchTheTruth)
{
    const int row = GetParam().row;
    BenchParameters p;
    p.speed = 0.0;
    p.seed = 1000 + static_cast<std::uint64_t>(row);
    BenchRig rig(p, row);
    ASSERT_EQ(rig.settings.waveInDevice, 1);
    const BenchTruth t = rig.bench.truth();
    constexpr int blocks = 4;
    const std::array<double, 4> measured = rig.readAll(blocks);

    const double rate = WaveFormatTable[row].sampleRate;
    const double rel =
        varianceRelativeSigma(rate, 300.0, 2700.0, static_cast<std::size_t>(rate) * blocks);
    for (int s = 0; s < 4; ++s) {
        EXPECT_NEAR(measured[s], t.states[s].power, 5.0 * rel * t.states[s].power) << "state " << s;
        EXPECT_NEAR(10.0 * std::log10(measured[s]), t.states[s].levelDbfs,
                    10.0 * std::log10(1.0 + 5.0 * rel));
    }

    std::array<double, 4> truePowers{};
    for (int s = 0; s < 4; ++s)
        truePowers[s] = t.states[s].power;
    EXPECT_NEAR(receiverTe(measured), t.receiverTeK,
                5.0 * propagatedSigma(receiverTe, truePowers, rel));
    EXPECT_NEAR(dutGain(measured), t.dutGain, 5.0 * propagatedSigma(dutGain, truePowers, rel));
    EXPECT_NEAR(dutTe(measured), t.dutTeK, 5.0 * propagatedSigma(dutTe, truePowers, rel));
    // The expected powers themselves give the truth to rounding.
    EXPECT_NEAR(receiverTe(truePowers), t.receiverTeK, 1e-6);
    EXPECT_NEAR(dutTe(truePowers), t.dutTeK, 1e-6);
    EXPECT_NEAR(yf::GainDb(dutGain(truePowers)), 20.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Formats, BenchEndToEnd,
                         ::testing::Values(FormatCase{0}, FormatCase{7}, FormatCase{8},
                                           FormatCase{14}, FormatCase{17}, FormatCase{19}),
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
    BenchParameters p;
    p.speed = 0.0;
    p.seed = 77;
    p.dutSwitchSelects = DutSwitchSelects::UnknownSource;
    p.unknownEnrDb = 14.3;
    BenchRig rig(p, 9); // 44.1 kHz mono 24-bit
    constexpr int blocks = 4;
    const std::array<double, 4> measured = rig.readAll(blocks);
    auto enr = [](const std::array<double, 4> &q) {
        return yf::UnknownSourceEnrDb(kEnrDb, q[kOnOut] / q[kOffOut], q[kOnIn] / q[kOffIn], kTsOff,
                                      kTsOff, kT0);
    };
    const BenchTruth t = rig.bench.truth();
    std::array<double, 4> truePowers{};
    for (int s = 0; s < 4; ++s)
        truePowers[s] = t.states[s].power;
    const double rel = varianceRelativeSigma(44100, 300.0, 2700.0, 44100 * blocks);
    EXPECT_NEAR(enr(truePowers), 14.3, 1e-9);
    EXPECT_NEAR(enr(measured), 14.3, 5.0 * propagatedSigma(enr, truePowers, rel));
}

// Mains hum: it adds its power to every unfiltered reading (and so biases Te), while the
// meter's 1 kHz high-pass removes it and the Y factor of the filtered powers gives the true
// Te again.
TEST(BenchEndToEndHum, HighPassRemovesTheHum)
{
    BenchParameters p;
    p.speed = 0.0;
    p.seed = 4242;
    p.humOn = true;
    p.humDbfs = -45.0;   // above the quietest state (-57 dBFS)
    BenchRig rig(p, 12); // 48 kHz mono 16-bit
    const BenchTruth t = rig.bench.truth();
    constexpr int blocks = 4;
    const double rel = varianceRelativeSigma(48000, 300.0, 2700.0, 48000 * blocks);

    const BenchRig::Reading off = rig.read(false, false, blocks);
    EXPECT_NEAR(off.mean(), t.states[kOffOut].power, 5.0 * rel * t.states[kOffOut].power);
    EXPECT_GT(off.mean(), 5.0 * (t.states[kOffOut].power - t.humPower));

    HighPass1kHz filter;
    filter.SelectHighPass(48000);
    const std::array<double, 4> filtered = rig.readAll(blocks, &filter);
    // The filter passes roughly 1000..2700 Hz: fewer independent samples, a wider margin.
    const double relFiltered = varianceRelativeSigma(48000, 1000.0, 2700.0, 48000 * blocks);
    std::array<double, 4> truePowers{};
    for (int s = 0; s < 4; ++s)
        truePowers[s] = t.states[s].power - t.humPower;
    EXPECT_NEAR(receiverTe(filtered), t.receiverTeK,
                6.0 * propagatedSigma(receiverTe, truePowers, relFiltered));
    EXPECT_NEAR(dutTe(filtered), t.dutTeK, 6.0 * propagatedSigma(dutTe, truePowers, relFiltered));
}

// Stopping from the window thread returns promptly whatever the generator is doing: in the
// middle of a slow callback, at real-time pace, and as fast as possible.
TEST(BenchEndToEndStop, StopDuringASlowCallbackReturns)
{
    for (double speed : {0.0, 1.0, 50.0}) {
        BenchParameters p;
        p.speed = speed;
        p.seed = 3;
        BenchRig rig(p, 10, 100); // 44.1 kHz stereo 16-bit, 100 ms blocks
        std::atomic<int> delivered{0};
        rig.capture.DeriveFormat();
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
        EXPECT_EQ(delivered.load(), after); // nothing is delivered after the stop
        EXPECT_FALSE(rig.capture.running());
    }
}

} // namespace
} // namespace quillon
