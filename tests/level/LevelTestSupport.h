#pragma once

#include "capture/HighPass.h"
#include "capture/WaveFormat.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace leveltest {

inline quillon::CaptureFormat format(unsigned bits, unsigned channels, std::uint32_t rate = 48000)
{
    quillon::CaptureFormat f;
    f.channels = static_cast<std::uint16_t>(channels);
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
}

// Interleaved little-endian PCM of `frames` frames; sample(frame, channel) gives the value.
inline std::vector<std::uint8_t>
makeBlock(unsigned bits, unsigned channels, std::size_t frames,
          const std::function<std::int32_t(std::size_t, unsigned)> &sample)
{
    const unsigned bytes = bits / 8;
    std::vector<std::uint8_t> block;
    block.reserve(frames * channels * bytes);
    for (std::size_t i = 0; i < frames; ++i) {
        for (unsigned ch = 0; ch < channels; ++ch) {
            const auto v = static_cast<std::uint32_t>(sample(i, ch));
            for (unsigned b = 0; b < bytes; ++b)
                block.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
    }
    return block;
}

// Mono block of the given samples.
inline std::vector<std::uint8_t> monoBlock(unsigned bits, const std::vector<std::int32_t> &samples)
{
    return makeBlock(bits, 1, samples.size(), [&](std::size_t i, unsigned) { return samples[i]; });
}

inline std::vector<std::int32_t> sine(double amplitude, double frequency, double rate,
                                      std::size_t frames)
{
    std::vector<std::int32_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    return v;
}

// The filter exactly as specified, history shifted through arrays: the yardstick for the
// program's filter and for the filtered path of MeasureBlock.
class ReferenceHighPass
{
public:
    explicit ReferenceHighPass(std::int32_t rate) : m_row(quillon::highPassCoefficientsFor(rate)) {}

    void preset(double v)
    {
        x.fill(v);
        y.fill(v);
    }

    double step(double in)
    {
        for (int i = 0; i < 5; ++i)
            x[i] = x[i + 1];
        x[5] = m_row.g * in;
        for (int i = 0; i < 5; ++i)
            y[i] = y[i + 1];
        const auto &c = m_row.c;
        y[5] = (x[5] - x[0]) + 5 * (x[1] - x[4]) + 10 * (x[3] - x[2]) + c[0] * y[0] + c[1] * y[1] +
               c[2] * y[2] + c[3] * y[3] + c[4] * y[4];
        return y[5];
    }

    std::array<double, 6> x{};
    std::array<double, 6> y{};

private:
    quillon::HighPassCoefficients m_row;
};

} // namespace leveltest
