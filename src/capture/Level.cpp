#include "capture/Level.h"

#include "capture/HighPass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

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

// Sums over one run of frames (a sub-block, or the frames after the last one).
struct RunSums
{
    std::int64_t sum = 0;
    SquareSum sumsq = 0;
    std::uint64_t peakSquare = 0;
    double fourth = 0.0;
};

// The sum of x^4 of the plain loop, in two interleaved parts: a double addition takes
// several cycles, so consecutive samples must not wait for each other's. (The filtered loop
// sums x^4 exactly in integers instead: there the floating-point units are the busy ones.)
struct InterleavedSum
{
    double a = 0.0;
    double b = 0.0;
    void add(double v)
    {
        a += v;
        std::swap(a, b); // free once unrolled: the two parts trade registers
    }
    double total() const { return a + b; }
};

// Filter off. The decoded value is the working sample. Squares (at most 2^46) are summed in
// 64 bits over chunks of 2^17 that cannot overflow, the chunks in 128 bits. `count` frames
// from `p` on, the first `wideCount` of which may use decodeSampleWide; `p` is advanced.
template <int Bytes>
void plainRun(const std::uint8_t *&position, std::size_t stride, std::int64_t count,
              std::int64_t wideCount, RunSums &r)
{
    const std::uint8_t *p = position; // a local: through the reference it lives in memory
    constexpr std::int64_t kChunk = std::int64_t{1} << 17;
    std::int64_t sum = 0;
    std::uint64_t part = 0;
    std::uint64_t peakSquare = 0;
    InterleavedSum fourth;
    auto take = [&](std::int32_t x) {
        const auto square = static_cast<std::uint64_t>(std::int64_t{x} * x);
        sum += x;
        part += square;
        peakSquare = std::max(peakSquare, square);
        const auto squareValue = static_cast<double>(static_cast<std::int64_t>(square)); // exact
        fourth.add(squareValue * squareValue);
    };
    std::int64_t i = 0;
    while (i < wideCount) {
        const std::int64_t end = std::min(wideCount, i + kChunk);
        for (; i < end; ++i, p += stride)
            take(decodeSampleWide<Bytes>(p));
        r.sumsq += part;
        part = 0;
    }
    for (; i < count; ++i, p += stride)
        take(decodeSample<Bytes>(p));
    position = p;
    r.sumsq += part;
    r.sum += sum;
    r.peakSquare = std::max(r.peakSquare, peakSquare);
    r.fourth += fourth.total();
}

// Filter on. The working sample is the filter output truncated toward zero, kept in 32 bits
// for both widths. The filter is stable: its output never exceeds about 5.1 times the
// largest input (at most 3.33 from the sum of the impulse response's magnitudes, 1.73 from
// the preset history), so with 24-bit input it stays below 2^26 and the conversion is
// always defined. Squares are then below 2^52, and a chunk of 4092 of them fits 64 bits.
template <int Bytes>
void filteredRun(const std::uint8_t *&position, std::size_t stride, std::int64_t count,
                 std::int64_t wideCount, HighPassRun &filterRun, RunSums &r)
{
    // Local copies: through the references every step would store the history and the
    // pointer to memory.
    const std::uint8_t *p = position;
    HighPassRun run = filterRun;
    // The history stays in registers for the whole block. The loop-carried chain is one
    // multiplication and one addition per sample (c4 * y4 is added last); the rest of a
    // sample's work overlaps with it, so the loop has no branch on the data and as few
    // instructions per sample as possible.
    constexpr std::int64_t kChunkGroups = 682; // 4092 samples in steps of six
    std::int64_t sum = 0;
    std::uint64_t part = 0;
    std::uint64_t peakSquare = 0;
    // x^4 exactly: below 2^104 (|x| < 2^26), and 2^24 of them fit; a sub-block of 10 s at
    // 96 kHz holds 60,000.
    unsigned __int128 fourth = 0;
    auto take = [&](double y) {
        const auto x = static_cast<std::int32_t>(y);
        const auto square = static_cast<std::uint64_t>(std::int64_t{x} * x);
        sum += x;
        part += square;
        peakSquare = std::max(peakSquare, square);
        fourth += static_cast<unsigned __int128>(square) * square;
    };
    auto next = [&] {
        const double v = decodeSampleWide<Bytes>(p);
        p += stride;
        return v;
    };
    std::int64_t i = 0;
    while (wideCount - i >= 6) {
        const std::int64_t groups = std::min(kChunkGroups, (wideCount - i) / 6);
        for (std::int64_t k = 0; k < groups; ++k)
            run.step6(next, take);
        i += groups * 6;
        r.sumsq += part;
        part = 0;
    }
    for (; i < wideCount; ++i) // at most 5
        take(run.step(next()));
    for (; i < count; ++i, p += stride) // at most 1
        take(run.step(decodeSample<Bytes>(p)));
    position = p;
    filterRun = run;
    r.sumsq += part;
    r.sum += sum;
    r.peakSquare = std::max(r.peakSquare, peakSquare);
    r.fourth += static_cast<double>(fourth);
}

// Runs `runFrames(count, wideCount, sums)` over the 16 sub-blocks in order, then over the
// frames after them; every run adds to the block's sums, each sub-block's are kept.
template <class RunFrames>
void splitIntoSubBlocks(std::int64_t n, std::int64_t wide, Accumulator &acc, BlockMoments &moments,
                        RunFrames &&runFrames)
{
    const std::int64_t length = n / BlockMoments::kSubBlocks;
    moments.subLength = length;
    std::int64_t done = 0;
    auto runPart = [&](std::int64_t count) {
        RunSums r;
        runFrames(count, std::clamp<std::int64_t>(wide - done, 0, count), r);
        done += count;
        acc.sum += r.sum;
        acc.sumsq += r.sumsq;
        acc.peakSquare = std::max(acc.peakSquare, r.peakSquare);
        return r;
    };
    for (int j = 0; j < BlockMoments::kSubBlocks; ++j) {
        const RunSums r = runPart(length);
        moments.subSum[static_cast<std::size_t>(j)] = r.sum;
        moments.subSumsq[static_cast<std::size_t>(j)] = r.sumsq;
        moments.subSumFourth[static_cast<std::size_t>(j)] = r.fourth;
    }
    runPart(n - done);
}

template <int Bytes>
void accumulate(const std::uint8_t *block, std::size_t stride, std::int64_t n, HighPass1kHz *filter,
                Accumulator &acc, BlockMoments &moments)
{
    moments = BlockMoments{};
    if (n == 0)
        return;
    const std::int64_t wide = wideFrames<Bytes>(n, stride);
    const std::uint8_t *p = block;
    if (filter == nullptr) {
        splitIntoSubBlocks(n, wide, acc, moments,
                           [&](std::int64_t count, std::int64_t wideCount, RunSums &r) {
                               plainRun<Bytes>(p, stride, count, wideCount, r);
                           });
        return;
    }
    // A fresh history for every block, from the first sample's decoded value.
    filter->presetHighPass(static_cast<double>(decodeSample<Bytes>(block)));
    HighPassRun run(*filter);
    splitIntoSubBlocks(n, wide, acc, moments,
                       [&](std::int64_t count, std::int64_t wideCount, RunSums &r) {
                           filteredRun<Bytes>(p, stride, count, wideCount, run, r);
                       });
    run.storeInto(*filter);
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
    BlockMoments moments;
    return measureBlock(block, bytesRecorded, format, filter, moments);
}

BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter, BlockMoments &moments)
{
    BlockStats stats;
    const unsigned bytesPerSample = format.bitsPerSample / 8;
    const std::size_t frameSize = std::size_t{bytesPerSample} * format.channels;
    stats.s = fullScaleFactor(format.bitsPerSample);
    if (stats.s != 0.0 && frameSize != 0 && block != nullptr)
        stats.N = static_cast<std::int64_t>(bytesRecorded / frameSize);

    Accumulator acc;
    if (bytesPerSample == 2)
        accumulate<2>(block, frameSize, stats.N, filter, acc, moments);
    else if (bytesPerSample == 3)
        accumulate<3>(block, frameSize, stats.N, filter, acc, moments);
    else
        moments = BlockMoments{};
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
