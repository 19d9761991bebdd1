#pragma once

// PCM blocks with known samples: built in memory for the level and spectrum tests, or
// handed to a capture's queue by a fake device.

#include "capture/AudioBackend.h"
#include "capture/Level.h"
#include "capture/WaveFormat.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

namespace quillon::test {

// PCM of `bits` (16 or 24) and `channels` at `rate` Hz.
inline CaptureFormat format(std::uint16_t bits, std::uint16_t channels, std::uint32_t rate = 48000)
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

// Sample i of a tone of `amplitude` codes at `hz`, sampled at `rate` Hz, rounded to a code.
inline std::int32_t toneSample(double amplitude, double hz, double rate, std::size_t i)
{
    return static_cast<std::int32_t>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
}

// `frames` frames of a mono 16-bit tone.
inline std::vector<std::uint8_t> toneBlock(double amplitude, double hz, double rate,
                                           std::size_t frames)
{
    return makeBlock(16, 1, frames,
                     [&](std::size_t i, unsigned) { return toneSample(amplitude, hz, rate, i); });
}

// measureBlock over the whole buffer; `moments` optional.
inline BlockStats measureBuffer(const std::vector<std::uint8_t> &b, const CaptureFormat &f,
                                HighPass1kHz *hp = nullptr, BlockMoments *moments = nullptr)
{
    const auto bytes = static_cast<std::uint32_t>(b.size());
    return moments ? measureBlock(b.data(), bytes, f, hp, *moments)
                   : measureBlock(b.data(), bytes, f, hp);
}

// A fake device's producer step: fills the next free header of `queue` with 16-bit samples
// sample(i) (i counts the block's samples) and hands it over. False when no header is free:
// the block is lost, and counting it is the caller's part.
inline bool handOver16(BlockQueue &queue, const std::function<std::int16_t(std::uint32_t)> &sample)
{
    CaptureHeader *h = queue.tryPopFree();
    if (h == nullptr)
        return false;
    h->bytesRecorded = h->bufferLength / 2 * 2;
    for (std::uint32_t i = 0; i < h->bytesRecorded / 2; ++i) {
        const std::int16_t v = sample(i);
        std::memcpy(h->data + 2 * i, &v, 2); // little-endian host
    }
    queue.pushFull(h);
    return true;
}

} // namespace quillon::test
