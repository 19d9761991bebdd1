#pragma once

// The virtual bench's noise for tests that measure it without a capture engine: blocks
// straight from its generator, what its passband predicts about their scatter, and its
// truth in the order a device series takes the readings.

#include "bench/NoiseGenerator.h"
#include "bench/VirtualBench.h"
#include "capture/Level.h"

#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

namespace quillon::test {

constexpr int kOffOut = switchStateIndex(false, false), kOnOut = switchStateIndex(true, false),
              kOffIn = switchStateIndex(false, true), kOnIn = switchStateIndex(true, true);

// |H|^2 of a biquad at f (Hz) for sample rate fs.
inline double powerResponse(const Biquad &b, double fs, double f)
{
    const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * f / fs);
    return std::norm((b.b0 + b.b1 * z + b.b2 * z * z) / (1.0 + b.a1 * z + b.a2 * z * z));
}

// Relative standard deviation of a variance measured over n samples of Gaussian noise
// shaped by the bench's passband: sqrt(2 S / n), S = sum over all lags of the squared
// normalised autocorrelation = mean(|H|^4) / mean(|H|^2)^2 (Parseval), on a fine grid.
inline double varianceRelativeSigma(double fs, double lowHz, double highHz, std::size_t n)
{
    const Biquad hp = butterworthHighPass(fs, lowHz), lp = butterworthLowPass(fs, highHz);
    constexpr int steps = 200000;
    double m2 = 0.0, m4 = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double f = fs / 2.0 * (i + 0.5) / steps;
        const double h2 = powerResponse(hp, fs, f) * powerResponse(lp, fs, f);
        m2 += h2;
        m4 += h2 * h2;
    }
    return std::sqrt(2.0 * (m4 / steps) / ((m2 / steps) * (m2 / steps)) / static_cast<double>(n));
}

// The noise temperatures (K) at the receiver, proportional to the powers, in a device
// series' order: noise source ON, OFF with the DUT out, then ON, OFF with it in. With the
// DUT switch selecting the unknown source: reference ON, OFF, unknown ON, OFF.
inline std::array<double, 4> seriesTemperatures(const BenchTruth &t)
{
    return {t.states[kOnOut].noiseTemperatureK, t.states[kOffOut].noiseTemperatureK,
            t.states[kOnIn].noiseTemperatureK, t.states[kOffIn].noiseTemperatureK};
}

// The bench's generator at `rate` Hz mono 16-bit, settled in switch state `state`, giving
// measured blocks of `seconds` (seeded by the bench parameters unless `seed` is given).
struct BenchBlocks
{
    BenchBlocks(const BenchParameters &p, std::uint32_t rate, int state, double seconds = 1.0,
                std::optional<std::uint64_t> seed = {})
        : bench(p), format{1, 1, rate, 2 * rate, 2, 16},
          generator(seeded(bench.nextGeneratorSetup(format), seed)), state(state),
          buffer(2u * static_cast<std::uint32_t>(seconds * rate))
    {
        generator.warmUp(generator.settleFrames(), state);
    }
    static GeneratorSetup seeded(GeneratorSetup setup, std::optional<std::uint64_t> seed)
    {
        setup.seed = seed.value_or(setup.seed);
        return setup;
    }
    std::uint32_t frames() const { return static_cast<std::uint32_t>(buffer.size() / 2); }
    void skip() { generator.generate(buffer.data(), frames(), state); }
    BlockStats next()
    {
        skip();
        return measureBlock(buffer.data(), 2 * frames(), format, nullptr);
    }
    BlockStats next(BlockMoments &moments)
    {
        skip();
        return measureBlock(buffer.data(), 2 * frames(), format, nullptr, moments);
    }
    // The next `count` blocks, in switch state `s` from their first sample.
    std::vector<BlockStats> blocks(int s, int count)
    {
        state = s;
        std::vector<BlockStats> out;
        for (int i = 0; i < count; ++i)
            out.push_back(next());
        return out;
    }
    // Their mean power, full-scale units.
    double power(int s, int count = 1)
    {
        double sum = 0.0;
        for (const BlockStats &b : blocks(s, count))
            sum += b.L * b.L;
        return sum / count;
    }

    VirtualBench bench;
    CaptureFormat format;
    BenchGenerator generator;
    std::atomic<int> state;
    std::vector<std::uint8_t> buffer;
};

} // namespace quillon::test
