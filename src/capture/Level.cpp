#include "capture/Level.h"

#include "capture/HighPass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillon {

namespace {

// Sums over one block, in sample units. The peak is kept as the largest square: one compare
// per sample instead of a magnitude and a compare, and every square is below 2^53, so its
// root comes back exact.
struct Accumulator
{
    std::int64_t sum = 0;
    SquareSum sumsq = 0;
    std::uint64_t peakSquare = 0;
};

// Decodes the little-endian sample at `p` byte by byte: safe at the very end of the data.
template <int Bytes> std::int32_t decodeSample(const std::uint8_t *p)
{
    if constexpr (Bytes == 2) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    } else {
        const std::uint32_t raw =
            std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
        return static_cast<std::int32_t>(raw << 8) >> 8; // sign-extend from bit 23
    }
}

// The same value, read with one load of the sample's width rounded up to 2 or 4 bytes. A
// 24-bit read touches the byte after the sample, so callers use it only where that byte
// still lies inside the block's whole frames.
template <int Bytes> std::int32_t decodeSampleWide(const std::uint8_t *p)
{
    if constexpr (Bytes == 2) {
        std::int16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        std::uint32_t raw;
        std::memcpy(&raw, p, sizeof raw);
        return static_cast<std::int32_t>(raw << 8) >> 8;
    }
}

// Frames [0, n) of which the first `wide` may use decodeSampleWide.
template <int Bytes> std::int64_t wideFrames(std::int64_t n, std::size_t stride)
{
    if (Bytes == 3 && stride < 4)
        return n > 0 ? n - 1 : 0;
    return n;
}

// Filter off. The decoded value is the working sample. Squares (at most 2^46) are summed in
// 64 bits over chunks of 2^17 that cannot overflow, the chunks in 128 bits.
template <int Bytes>
void accumulatePlain(const std::uint8_t *p, std::size_t stride, std::int64_t n, Accumulator &acc)
{
    constexpr std::int64_t kChunk = std::int64_t{1} << 17;
    const std::int64_t wide = wideFrames<Bytes>(n, stride);
    std::int64_t sum = 0;
    std::uint64_t part = 0;
    std::uint64_t peakSquare = 0;
    auto take = [&](std::int32_t x) {
        const auto square = static_cast<std::uint64_t>(std::int64_t{x} * x);
        sum += x;
        part += square;
        peakSquare = std::max(peakSquare, square);
    };
    std::int64_t i = 0;
    while (i < wide) {
        const std::int64_t end = std::min(wide, i + kChunk);
        for (; i < end; ++i, p += stride)
            take(decodeSampleWide<Bytes>(p));
        acc.sumsq += part;
        part = 0;
    }
    for (; i < n; ++i, p += stride)
        take(decodeSample<Bytes>(p));
    acc.sumsq += part;
    acc.sum += sum;
    acc.peakSquare = std::max(acc.peakSquare, peakSquare);
}

// Filter on. The working sample is the filter output truncated toward zero, kept in 32 bits
// for both widths. The filter is stable: its output never exceeds about 5.1 times the
// largest input (at most 3.33 from the sum of the impulse response's magnitudes, 1.73 from
// the preset history), so with 24-bit input it stays below 2^26 and the conversion is
// always defined. Squares are then below 2^52, and a chunk of 4092 of them fits 64 bits.
template <int Bytes>
void accumulateFiltered(const std::uint8_t *p, std::size_t stride, std::int64_t n,
                        HighPass1kHz &filter, Accumulator &acc)
{
    // The history stays in registers for the whole block. The loop-carried chain is one
    // multiplication and one addition per sample (c4 * y4 is added last); the rest of a
    // sample's work overlaps with it, so the loop has no branch on the data and as few
    // instructions per sample as possible.
    constexpr std::int64_t kChunkGroups = 682; // 4092 samples in steps of six
    HighPassRun run(filter);
    const std::int64_t wide = wideFrames<Bytes>(n, stride);
    std::int64_t sum = 0;
    std::uint64_t part = 0;
    std::uint64_t peakSquare = 0;
    auto take = [&](double y) {
        const auto x = static_cast<std::int32_t>(y);
        const auto square = static_cast<std::uint64_t>(std::int64_t{x} * x);
        sum += x;
        part += square;
        peakSquare = std::max(peakSquare, square);
    };
    auto next = [&] {
        const double v = decodeSampleWide<Bytes>(p);
        p += stride;
        return v;
    };
    std::int64_t i = 0;
    while (wide - i >= 6) {
        const std::int64_t groups = std::min(kChunkGroups, (wide - i) / 6);
        for (std::int64_t k = 0; k < groups; ++k)
            run.step6(next, take);
        i += groups * 6;
        acc.sumsq += part;
        part = 0;
    }
    for (; i < wide; ++i) // at most 5
        take(run.step(next()));
    for (; i < n; ++i, p += stride) // at most 1
        take(run.step(decodeSample<Bytes>(p)));
    run.storeInto(filter);
    acc.sumsq += part;
    acc.sum += sum;
    acc.peakSquare = std::max(acc.peakSquare, peakSquare);
}

template <int Bytes>
void accumulate(const std::uint8_t *block, std::size_t stride, std::int64_t n, HighPass1kHz *filter,
                Accumulator &acc)
{
    if (n == 0)
        return;
    if (filter == nullptr) {
        accumulatePlain<Bytes>(block, stride, n, acc);
        return;
    }
    // A fresh history for every block, from the first sample's decoded value.
    filter->presetHighPass(static_cast<double>(decodeSample<Bytes>(block)));
    accumulateFiltered<Bytes>(block, stride, n, *filter, acc);
}

} // namespace

double fullScaleFactor(unsigned bitsPerSample)
{
    switch (bitsPerSample) {
    case 16:
        return 1.0 / 32768.0;
    case 24:
        return 1.0 / 8388608.0;
    default:
        return 0.0;
    }
}

double levelToDb(double L)
{
    return L >= 0.000001 ? 20.0 * std::log10(L) : -120.0;
}

BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter)
{
    BlockStats stats;
    const unsigned bytesPerSample = format.bitsPerSample / 8;
    const std::size_t frameSize = std::size_t{bytesPerSample} * format.channels;
    stats.s = fullScaleFactor(format.bitsPerSample);
    if (stats.s != 0.0 && frameSize != 0 && block != nullptr)
        stats.N = static_cast<std::int64_t>(bytesRecorded / frameSize);

    Accumulator acc;
    if (bytesPerSample == 2)
        accumulate<2>(block, frameSize, stats.N, filter, acc);
    else if (bytesPerSample == 3)
        accumulate<3>(block, frameSize, stats.N, filter, acc);
    stats.sum = acc.sum;
    stats.sumsq = acc.sumsq;
    stats.peak = static_cast<std::int64_t>(std::sqrt(static_cast<double>(acc.peakSquare)));

    // An empty block has neither mean nor rms: L, P and C are NaN and dB reads -120.
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const double n = static_cast<double>(stats.N);
    const double mean = stats.N > 0 ? static_cast<double>(stats.sum) / n : kNaN;
    const double rms = stats.N > 0 ? std::sqrt(static_cast<double>(stats.sumsq) / n) : kNaN;
    // The DC part is removed by subtracting |mean| from the rms, not inside the root: the
    // readings must agree with those taken before.
    stats.L = std::fabs((rms - std::fabs(mean)) * stats.s);
    stats.P = (static_cast<double>(stats.peak) - mean) * stats.s;
    stats.C = stats.P / stats.L; // infinite or NaN for L = 0; shown as " Error"
    stats.dB = levelToDb(stats.L);
    return stats;
}

bool isOverRange(const BlockStats &stats)
{
    return static_cast<double>(stats.peak) * stats.s > kOverRangeLimit;
}

} // namespace quillon
