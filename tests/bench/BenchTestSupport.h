#pragma once

#include "bench/NoiseGenerator.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace quillon::benchtest {

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

} // namespace quillon::benchtest
