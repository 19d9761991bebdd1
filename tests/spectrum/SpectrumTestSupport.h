#pragma once

#include "capture/WaveFormat.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace quillon::spectrumtest {

inline CaptureFormat format(std::uint16_t bits, std::uint16_t channels, std::uint32_t rate)
{
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    return {1, channels, rate, align * rate, align, bits};
}

// Interleaved little-endian PCM; sample(frame, channel) gives the value.
inline std::vector<std::uint8_t>
makeBlock(unsigned bits, unsigned channels, std::size_t frames,
          const std::function<std::int32_t(std::size_t, unsigned)> &sample)
{
    std::vector<std::uint8_t> block;
    block.reserve(frames * channels * bits / 8);
    for (std::size_t i = 0; i < frames; ++i)
        for (unsigned ch = 0; ch < channels; ++ch)
            for (unsigned b = 0; b < bits / 8; ++b)
                block.push_back(static_cast<std::uint8_t>(
                    static_cast<std::uint32_t>(sample(i, ch)) >> (8 * b)));
    return block;
}

// A mono 16-bit tone of `amplitude` codes at `hz`.
inline std::vector<std::uint8_t> toneBlock(double amplitude, double hz, double rate,
                                           std::size_t frames)
{
    return makeBlock(16, 1, frames, [&](std::size_t i, unsigned) {
        return static_cast<std::int32_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    });
}

} // namespace quillon::spectrumtest
