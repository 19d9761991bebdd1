#pragma once

#include "capture/Level.h"
#include "capture/WaveFormat.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace quillon::test {

inline CaptureFormat format(std::uint16_t bits, std::uint16_t channels,
                            std::uint32_t rate = 48000)
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
    for (std::size_t i = 0; i < frames; ++i)
        for (unsigned ch = 0; ch < channels; ++ch)
            for (unsigned b = 0; b < bits / 8; ++b)
                block.push_back(static_cast<std::uint8_t>(
                    static_cast<std::uint32_t>(sample(i, ch)) >> (8 * b)));
    return block;
}

// measureBlock over the whole buffer; `moments` optional.
inline BlockStats measureBuffer(const std::vector<std::uint8_t> &b, const CaptureFormat &f,
                                HighPass1kHz *hp = nullptr, BlockMoments *moments = nullptr)
{
    const auto bytes = static_cast<std::uint32_t>(b.size());
    return moments ? measureBlock(b.data(), bytes, f, hp, *moments)
                   : measureBlock(b.data(), bytes, f, hp);
}

} // namespace quillon::test
