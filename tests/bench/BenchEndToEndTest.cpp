// The bench measured the way the program measures it: the engine opens it through the device
// list (after a sound card), callbacks run measureBlock, Y factors give noise temperatures.

#include "core/Settings.h"
#include "bench/VirtualBenchBackend.h"
#include "capture/DeviceList.h"
#include "capture/HighPass.h"
#include "capture/Level.h"
#include "capture/WaveCapture.h"
#include "nf/NoiseResults.h"
#include "support/BenchBlocks.h"
#include "support/FakeDevices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace quillon {
namespace {

using test::kOffIn, test::kOffOut, test::kOnIn, test::kOnOut;
using test::varianceRelativeSigma;
using Clock = std::chrono::steady_clock;
using Powers = std::array<double, 4>; // by switchStateIndex

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
        capture.deriveFormat();
    }
    // One capture of n blocks handed to `f` on the delivery thread, as the modal pages run it.
    void run(int n, const std::function<void(const CaptureHeader &)> &f)
    {
        std::atomic<int> blocks{0};
        ASSERT_EQ(capture.startCapture([&](WaveCapture &c, CaptureHeader &h) {
            if (blocks.load() >= n)
                return;
            f(h);
            if (++blocks < n)
                c.requeue(h);
        }),
                  kCaptureOk);
        while (blocks.load() < n) // a hang fails by ctest's time limit
            std::this_thread::yield();
        EXPECT_EQ(capture.lostEvents(), 0u); // speed 0 never drops, however slow the callback
        capture.stopCapture();
    }
    // Mean power (full-scale units) of kBlocks blocks in each switch state, each a capture.
    Powers readAll(HighPass1kHz *filter = nullptr)
    {
        Powers p{};
        for (int s = 0; s < 4; ++s) {
            bench.setOutputs(s & 1, s & 2);
            EXPECT_TRUE(capture.probeDevice());
            run(kBlocks, [&](const CaptureHeader &h) {
                const BlockStats st =
                    measureBlock(h.data, h.bytesRecorded, capture.format(), filter);
                EXPECT_FALSE(isOverRange(st));
                p[s] += st.L * st.L / kBlocks;
            });
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

Powers expectedPowers(const BenchTruth &t, double minus = 0.0)
{
    Powers p{};
    for (int s = 0; s < 4; ++s)
        p[s] = t.states[s].power - minus;
    return p;
}

// Receiver Te, DUT gain and DUT Te from the four powers, as the Measure Device page has them.
std::array<double, 3> evaluate(const Powers &p)
{
    const auto d = deviceNoise(p[kOnOut], p[kOffOut], p[kOnIn], p[kOffIn], kEnrDb, kT0, kTsOff);
    return {d.teReceiver, d.gain, d.noise.te};
}

// Standard deviations of evaluate(P) from independent relative errors `rel` of the powers.
std::array<double, 3> propagatedSigma(const Powers &p, double rel)
{
    std::array<double, 3> var{};
    for (int i = 0; i < 4; ++i) {
        Powers q = p;
        q[i] *= 1.0 + 1e-6;
        for (int k = 0; k < 3; ++k) // d evaluate / d(ln P_i)
            var[k] += std::pow((evaluate(q)[k] - evaluate(p)[k]) / 1e-6 * rel, 2);
    }
    return {std::sqrt(var[0]), std::sqrt(var[1]), std::sqrt(var[2])};
}

// Several rates, widths and channel counts: each state's power within five standard errors
// (the bench starts settled); the formulas give the truth exactly from the expected powers
// and within the propagated error from the measured.
TEST(BenchEndToEnd, LevelsAndNoiseTemperaturesMatchTheTruth)
{
    for (int row : {0, 7, 8, 14, 17, 19}) {
        SCOPED_TRACE(WaveFormatTable[row].label);
        BenchParameters p = {.seed = 1000 + static_cast<std::uint64_t>(row)};
        if (row == 8) // a set-up other than the defaults
            p.receiverNfDb = 6.5, p.dutGainDb = 17.3, p.dutNfDb = 2.2;
        BenchRig rig(p, row);
        ASSERT_EQ(rig.settings.waveInDevice, 1);
        const BenchTruth t = rig.bench.truth();
        const Powers measured = rig.readAll(), expected = expectedPowers(t);
        const double rate = WaveFormatTable[row].sampleRate;
        const double rel = varianceRelativeSigma(rate, 300.0, 2700.0, rate * kBlocks);
        for (int s = 0; s < 4; ++s)
            EXPECT_NEAR(measured[s], expected[s], 5.0 * rel * expected[s]) << "state " << s;
        const std::array<double, 3> truth{t.receiverTeK, t.dutGain, t.dutTeK};
        const auto exact = evaluate(expected), got = evaluate(measured);
        const auto sigma = propagatedSigma(expected, rel);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(exact[k], truth[k], 1e-9 * truth[k]) << k;
            EXPECT_NEAR(got[k], truth[k], 5.0 * sigma[k]) << k;
        }
    }
}

// Mains hum biases unfiltered readings; the 1 kHz high-pass gives the true Te again.
TEST(BenchEndToEndHum, HighPassRemovesTheHum)
{
    BenchParameters p{.seed = 4242};
    p.humOn = true;
    p.humDbfs = -45.0;   // above the quietest state (-57 dBFS)
    BenchRig rig(p, 12); // 48 kHz mono 16-bit
    const BenchTruth t = rig.bench.truth();
    EXPECT_GT(rig.readAll()[kOffOut], 5.0 * (t.states[kOffOut].power - t.humPower));
    HighPass1kHz filter;
    filter.selectHighPass(48000);
    const auto got = evaluate(rig.readAll(&filter));
    const auto sigma =
        propagatedSigma(expectedPowers(t, t.humPower),
                        varianceRelativeSigma(48000, 1000.0, 2700.0, 48000 * kBlocks));
    EXPECT_NEAR(got[0], t.receiverTeK, 6.0 * sigma[0]);
    EXPECT_NEAR(got[2], t.dutTeK, 6.0 * sigma[2]);
}

// Two captures of five blocks each from one bench.
std::string sessionBytes(std::uint64_t seed)
{
    BenchRig rig({.seed = seed}, 6, 100); // 22.05 kHz stereo 16-bit
    std::string bytes;
    for (int capture = 0; capture < 2; ++capture)
        rig.run(5, [&](const CaptureHeader &h) { bytes.append(h.data, h.data + h.bytesRecorded); });
    return bytes;
}

TEST(BenchEndToEndSeed, FixedSeedRepeatsEveryByteOfASession)
{
    const std::string first = sessionBytes(42);
    EXPECT_TRUE(first == sessionBytes(42));
    EXPECT_FALSE(first == sessionBytes(43));
    EXPECT_FALSE(sessionBytes(0) == sessionBytes(0)); // seed 0: random
    // Successive captures of one session see independent noise.
    EXPECT_NE(first.substr(0, first.size() / 2), first.substr(first.size() / 2));
}

// Speed 4: a 100 ms block every 25 ms on an absolute schedule. A callback holding its block
// makes the bench lose audio; delivered plus lost audio never exceeds the time passed.
TEST(BenchEndToEndPacing, RightOnAverageAndALateConsumerLosesAudio)
{
    constexpr double blockFrames = 1102, framesPerSecond = 11025.0 * 4.0;
    BenchRig rig({.seed = 8, .speed = 4.0}, 0, 100); // 11.025 kHz mono 16-bit
    std::atomic<int> blocks{0};
    const auto t0 = Clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    ASSERT_EQ(rig.capture.startCapture([&](WaveCapture &c, CaptureHeader &h) {
        if (blocks++ == 16)
            std::this_thread::sleep_for(std::chrono::milliseconds(250)); // ~10 blocks
        c.requeue(h);
    }),
              kCaptureOk);
    while (blocks.load() < 16)
        std::this_thread::yield();
    const double due = 16 * blockFrames / framesPerSecond;
    EXPECT_GE(elapsed(), due);
    while (blocks.load() < 22)
        std::this_thread::yield();
    EXPECT_TRUE(rig.capture.stopCapture());
    EXPECT_GE(rig.capture.lostEvents(), 1u);
    EXPECT_LE(22 * blockFrames + rig.capture.lostFrames(),
              elapsed() * framesPerSecond + blockFrames);
}

// Stop returns promptly (before the first block, mid slow callback, at every pace) and no
// callback of that capture runs after it, while another thread keeps changing the outputs.
TEST(BenchEndToEndStop, StopReturnsAndEndsDeliveryAtEveryPace)
{
    for (double speed : {0.0, 1.0, 50.0}) {
        BenchRig rig({.seed = 3, .speed = speed}, 10, 100); // 44.1 kHz stereo 16-bit
        std::jthread switcher([&](std::stop_token stop) {
            for (int k = 0; !stop.stop_requested(); ++k) {
                rig.bench.setOutputs(k & 1, k & 2);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        std::atomic<int> current{-1}, delivered{0}, stale{0};
        for (int cycle = 0; cycle < 8; ++cycle) {
            delivered = 0;
            current = cycle;
            ASSERT_EQ(rig.capture.startCapture([&, cycle](WaveCapture &c, CaptureHeader &h) {
                stale += current.load() != cycle;
                if (delivered++ == 2)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                c.requeue(h);
            }),
                      kCaptureOk);
            while (delivered.load() < cycle % 4)
                std::this_thread::yield();
            EXPECT_TRUE(rig.capture.stopCapture());
            current = -1;
        }
        EXPECT_EQ(stale.load(), 0) << speed;
    }
}

} // namespace
} // namespace quillon
