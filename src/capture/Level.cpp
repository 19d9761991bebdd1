#include "capture/Level.h"

#include "capture/HighPass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillon {

namespace {

// Sums over one block, in sample units.
struct Accumulator
{
    std::int64_t sum = 0;
    SquareSum sumsq = 0;
    std::uint32_t peak = 0;
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

inline std::uint32_t magnitude(std::int32_t x)
{
    // |x| of any int32, INT32_MIN included, without a branch: the sign of noise is random,
    // and a mispredicted branch also stalls the filter's chain of additions.
    const auto mask = static_cast<std::uint32_t>(x >> 31);
    return (static_cast<std::uint32_t>(x) ^ mask) - mask;
}

// A 128-bit sum kept as two 64-bit halves in registers (the compiler's __int128 addition
// of a 64-bit value goes through the stack).
struct WideSum
{
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;

    void add(std::uint64_t v)
    {
        lo += v;
        hi += lo < v; // carry
    }
    SquareSum value() const { return (SquareSum{hi} << 64) | lo; }
};

// Filter off. The decoded value is the working sample. Squares are summed in 64 bits over
// chunks that cannot overflow (2^17 squares of at most 2^46) and the chunks in 128 bits,
// which keeps the inner loop to plain 64-bit additions.
template <int Bytes>
void accumulatePlain(const std::uint8_t *p, std::size_t stride, std::int64_t n, Accumulator &acc)
{
    constexpr std::int64_t kChunk = std::int64_t{1} << 17;
    const std::int64_t wide = wideFrames<Bytes>(n, stride);
    std::int64_t i = 0;
    std::int64_t sum = 0;
    std::uint32_t peak = 0;
    while (i < wide) {
        const std::int64_t end = std::min(wide, i + kChunk);
        std::uint64_t sumsq = 0;
        for (; i < end; ++i, p += stride) {
            const std::int32_t x = decodeSampleWide<Bytes>(p);
            sum += x;
            sumsq += static_cast<std::uint64_t>(std::int64_t{x} * x);
            peak = std::max(peak, magnitude(x));
        }
        acc.sumsq += sumsq;
    }
    for (; i < n; ++i, p += stride) {
        const std::int32_t x = decodeSample<Bytes>(p);
        sum += x;
        acc.sumsq += static_cast<std::uint64_t>(std::int64_t{x} * x);
        peak = std::max(peak, magnitude(x));
    }
    acc.sum += sum;
    acc.peak = std::max(acc.peak, peak);
}

// Filter on.
// The working sample from a filter output: truncated toward zero, kept in 32 bits for both
// widths. The filter is stable and its input at most 2^23, so its output stays within a few
// times 2^23 and the conversion to 64 bits is always defined; the clamp to 32 bits is an
// integer one (no branch on the data).
inline std::int32_t workingSample(double y)
{
    const auto v = static_cast<std::int64_t>(y);
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, -std::int64_t{2147483647}, std::int64_t{2147483647}));
}

template <int Bytes>
void accumulateFiltered(const std::uint8_t *p, std::size_t stride, std::int64_t n,
                        HighPass1kHz &filter, Accumulator &acc)
{
    // The history stays in registers for the whole block. The loop-carried chain is one
    // multiplication and one addition per sample (c4 * y4 is added last); everything else
    // of a sample overlaps with it, so nothing in the loop may branch on the data.
    HighPassRun run(filter);
    const std::int64_t wide = wideFrames<Bytes>(n, stride);
    std::int64_t sum = 0;
    WideSum sumsq;
    std::uint32_t peak = 0;
    auto take = [&](double y) {
        const std::int32_t x = workingSample(y);
        sum += x;
        sumsq.add(static_cast<std::uint64_t>(std::int64_t{x} * x));
        peak = std::max(peak, magnitude(x));
    };
    auto next = [&] {
        const double v = decodeSampleWide<Bytes>(p);
        p += stride;
        return v;
    };
    std::int64_t i = 0;
    for (; i + 6 <= wide; i += 6)
        run.step6(next, take);
    for (; i < wide; ++i)
        take(run.step(next()));
    for (; i < n; ++i, p += stride)
        take(run.step(decodeSample<Bytes>(p)));
    run.storeInto(filter);
    acc.sum += sum;
    acc.sumsq += sumsq.value();
    acc.peak = std::max(acc.peak, peak);
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
    filter->PresetHighPass(static_cast<double>(decodeSample<Bytes>(block)));
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

BlockStats MeasureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
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
    stats.peak = acc.peak;

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

bool IsOverRange(const BlockStats &stats)
{
    return static_cast<double>(stats.peak) * stats.s > kOverRangeLimit;
}

} // namespace quillon
