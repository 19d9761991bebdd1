#include "capture/Level.h"

#include "capture/HighPass.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
std::atomic<bool> g_vectorAllowed{true};

#if defined(__x86_64__)
// Eight samples at `p`, one per frame of `stride` bytes, sign-extended to 32 bits, and the
// bytes that reading them touches from `p` (at least the eight frames). Mono blocks are
// read with plain loads (and a byte shuffle for 24 bits); any other layout with a 4-byte
// load at each sample (a gather), which stays inside a frame of 4 bytes or more.
template <int Bytes> struct EightSamples
{
    static std::size_t span(std::size_t stride)
    {
        if (Bytes == 3 && stride == 3)
            return 28; // two 16-byte loads, at 0 and at 12
        return stride <= 4 ? 8 * stride : 7 * stride + 4;
    }

    __attribute__((target("avx2"))) static __m256i load(const std::uint8_t *p, std::size_t stride,
                                                        __m256i offsets)
    {
        if constexpr (Bytes == 2) {
            if (stride == 2)
                return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
            if (stride == 4) {
                const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
                return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
            }
            const __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int *>(p), offsets, 1);
            return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
        } else {
            if (stride == 3) {
                // Samples 0-3 from bytes 0-11, 4-7 from bytes 12-23, each moved to the top
                // three bytes of its lane.
                const __m256i v =
                    _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
                const __m256i toTop =
                    _mm256_setr_epi8(-128, 0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11,
                                     -128, 0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11);
                return _mm256_srai_epi32(_mm256_shuffle_epi8(v, toTop), 8);
            }
            const __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int *>(p), offsets, 1);
            return _mm256_srai_epi32(_mm256_slli_epi32(v, 8), 8);
        }
    }
};

// Filter off, eight samples at a time with AVX2: the same integer sums as the plain loop
// below, so the results are identical. Takes the groups of eight whose reads stay inside
// the block's whole frames and returns the frames measured, a multiple of 8; the plain loop
// measures the rest.
//
// Per lane: sums in 32 bits over runs of 256 groups (at most 256 x 2^23 = 2^31 in
// magnitude; -2^31 itself fits), then in 64 bits; squares in 64 bits, two per lane and
// group, over chunks of 2^14 groups (below 2^62), then in 128 bits; the peak as the largest
// |sample|, whose square is the largest square.
template <int Bytes>
__attribute__((target("avx2"))) std::int64_t
accumulatePlainAvx2(const std::uint8_t *p, std::size_t stride, std::int64_t n, Accumulator &acc)
{
    constexpr std::int64_t kRun = 256;
    constexpr std::int64_t kRunsPerChunk = 64;
    const std::size_t bytes = static_cast<std::size_t>(n) * stride;
    const std::size_t span = EightSamples<Bytes>::span(stride);
    const auto groups =
        static_cast<std::int64_t>(bytes >= span ? (bytes - span) / (8 * stride) + 1 : 0);
    const __m256i offsets = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                               _mm256_set1_epi32(static_cast<int>(stride)));
    __m256i sum64 = _mm256_setzero_si256();
    __m256i peak = _mm256_setzero_si256();
    std::int64_t g = 0;
    while (g < groups) {
        __m256i squares = _mm256_setzero_si256();
        for (std::int64_t r = 0; r < kRunsPerChunk && g < groups; ++r) {
            __m256i sum32 = _mm256_setzero_si256();
            for (const std::int64_t end = std::min(groups, g + kRun); g < end;
                 ++g, p += 8 * stride) {
                const __m256i x = EightSamples<Bytes>::load(p, stride, offsets);
                const __m256i odd = _mm256_srli_epi64(x, 32);
                sum32 = _mm256_add_epi32(sum32, x);
                squares = _mm256_add_epi64(squares, _mm256_mul_epi32(x, x));
                squares = _mm256_add_epi64(squares, _mm256_mul_epi32(odd, odd));
                peak = _mm256_max_epu32(peak, _mm256_abs_epi32(x));
            }
            sum64 = _mm256_add_epi64(sum64, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(sum32)));
            sum64 =
                _mm256_add_epi64(sum64, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(sum32, 1)));
        }
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), squares);
        for (const std::uint64_t v : lanes)
            acc.sumsq += v;
    }
    alignas(32) std::int64_t sums[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(sums), sum64);
    alignas(32) std::uint32_t peaks[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(peaks), peak);
    for (const std::int64_t v : sums)
        acc.sum += v;
    const std::uint64_t largest = *std::max_element(peaks, peaks + 8);
    acc.peakSquare = std::max(acc.peakSquare, largest * largest);
    return groups * 8;
}

bool vectorMeasurement()
{
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 && g_vectorAllowed.load(std::memory_order_relaxed);
}
#endif

// Filter off, when no sub-block moments are asked for (the level alone, as quillon-cli level
// and the running sums need it): the vector loop where the processor has it, then the plain
// loop for the rest. Squares (at most 2^46) are summed in 64 bits over chunks of 2^17 that
// cannot overflow, the chunks in 128 bits.
template <int Bytes>
void accumulatePlain(const std::uint8_t *p, std::size_t stride, std::int64_t n, Accumulator &acc)
{
#if defined(__x86_64__)
    if (vectorMeasurement()) {
        const std::int64_t done = accumulatePlainAvx2<Bytes>(p, stride, n, acc);
        p += static_cast<std::size_t>(done) * stride;
        n -= done;
    }
#endif
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
                Accumulator &acc, BlockMoments *wanted, bool preset = true)
{
    if (filter == nullptr && wanted == nullptr) {
        if (n > 0)
            accumulatePlain<Bytes>(block, stride, n, acc);
        return;
    }
    BlockMoments unused;
    BlockMoments &moments = wanted != nullptr ? *wanted : unused;
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
    // A fresh history for every block, from the first sample's decoded value (a run of
    // blocks measured as one goes on from where the last block left it).
    if (preset)
        filter->presetHighPass(static_cast<double>(decodeSample<Bytes>(block)));
    HighPassRun run(*filter);
    splitIntoSubBlocks(n, wide, acc, moments,
                       [&](std::int64_t count, std::int64_t wideCount, RunSums &r) {
                           filteredRun<Bytes>(p, stride, count, wideCount, run, r);
                       });
    run.storeInto(*filter);
}

// Fills in the levels of `stats` from its sums, peak and full-scale factor.
void computeLevels(BlockStats &stats)
{
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
}

BlockStats measure(const std::uint8_t *block, std::uint32_t bytesRecorded,
                   const CaptureFormat &format, HighPass1kHz *filter, BlockMoments *moments)
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
    else if (moments != nullptr)
        *moments = BlockMoments{};
    stats.sum = acc.sum;
    stats.sumsq = acc.sumsq;
    stats.peak = static_cast<std::int64_t>(std::sqrt(static_cast<double>(acc.peakSquare)));
    computeLevels(stats);
    return stats;
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

void setVectorMeasurement(bool allowed)
{
    g_vectorAllowed.store(allowed, std::memory_order_relaxed);
}

BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter)
{
    return measure(block, bytesRecorded, format, filter, nullptr);
}

BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter, BlockMoments &moments)
{
    return measure(block, bytesRecorded, format, filter, &moments);
}

void LevelSums::add(const BlockStats &unfiltered)
{
    m_frames += unfiltered.N;
    m_sum += unfiltered.sum;
    m_sumsq += unfiltered.sumsq;
    m_peak = std::max(m_peak, unfiltered.peak);
}

void LevelSums::addFiltered(const std::uint8_t *block, std::uint32_t bytesRecorded,
                            HighPass1kHz &filter)
{
    const unsigned bytesPerSample = m_format.bitsPerSample / 8;
    const std::size_t frameSize = std::size_t{bytesPerSample} * m_format.channels;
    if (fullScaleFactor(m_format.bitsPerSample) == 0.0 || frameSize == 0 || block == nullptr)
        return;
    const auto n = static_cast<std::int64_t>(bytesRecorded / frameSize);
    const bool first = m_frames == 0;
    Accumulator acc;
    if (bytesPerSample == 2)
        accumulate<2>(block, frameSize, n, &filter, acc, nullptr, first);
    else
        accumulate<3>(block, frameSize, n, &filter, acc, nullptr, first);
    m_frames += n;
    m_sum += acc.sum;
    m_sumsq += acc.sumsq;
    m_peak =
        std::max(m_peak, static_cast<std::int64_t>(std::sqrt(static_cast<double>(acc.peakSquare))));
}

BlockStats LevelSums::stats() const
{
    BlockStats stats;
    stats.s = fullScaleFactor(m_format.bitsPerSample);
    stats.N = m_frames;
    stats.sum = m_sum;
    stats.sumsq = m_sumsq;
    stats.peak = m_peak;
    computeLevels(stats);
    return stats;
}

bool isOverRange(const BlockStats &stats)
{
    return static_cast<double>(stats.peak) * stats.s > kOverRangeLimit;
}

} // namespace quillon
