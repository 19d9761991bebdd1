#pragma once

// Helpers of the bench tests: decoding generated blocks and the statistical tolerance of a
// variance measured on band-limited (correlated) noise.

#include "bench/NoiseGenerator.h"
#include "bench/VirtualBench.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace quillon::benchtest {

// The bench as tests run it: as fast as buffers come back, with a fixed seed.
inline BenchParameters fastBench(std::uint64_t seed, double speed = 0.0)
{
    return BenchParameters{.seed = seed, .speed = speed};
}

// Sample `channel` of every frame, as integer codes (16-bit or packed 24-bit).
inline std::vector<double> decode(const std::uint8_t *data, std::size_t frames, int bits,
                                  int channels, int channel = 0)
{
    const int bytes = bits / 8;
    const std::int32_t sign = bytes == 3 ? 0x800000 : 0x8000;
    std::vector<double> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t *p = data + (i * channels + channel) * bytes;
        const std::int32_t v = p[0] | (p[1] << 8) | (bytes == 3 ? p[2] << 16 : 0);
        out[i] = (v ^ sign) - sign;
    }
    return out;
}

struct Moments
{
    double mean = 0.0;
    double variance = 0.0; // about the sample mean
    double peak = 0.0;     // largest magnitude
};

inline Moments moments(const std::vector<double> &x)
{
    Moments m;
    double sumsq = 0.0;
    for (double v : x) {
        m.mean += v;
        sumsq += v * v;
        m.peak = std::max(m.peak, std::fabs(v));
    }
    m.mean /= static_cast<double>(x.size());
    m.variance = sumsq / static_cast<double>(x.size()) - m.mean * m.mean;
    return m;
}

// |H|^2 of a biquad at f (Hz) for sample rate fs.
inline double powerResponse(const Biquad &b, double fs, double f)
{
    const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * f / fs);
    return std::norm((b.b0 + b.b1 * z + b.b2 * z * z) / (1.0 + b.a1 * z + b.a2 * z * z));
}

// For Gaussian noise shaped by the bench's passband, the relative standard deviation of a
// variance measured over n samples is sqrt(2 S / n), where S = sum over all lags of the
// squared normalised autocorrelation (1 for white noise). By Parseval
// S = mean(|H|^4) / mean(|H|^2)^2, integrated here on a fine grid.
inline double varianceRelativeSigma(double fs, double lowHz, double highHz, std::size_t n)
{
    const Biquad hp = butterworthHighPass(fs, lowHz);
    const Biquad lp = butterworthLowPass(fs, highHz);
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

} // namespace quillon::benchtest
