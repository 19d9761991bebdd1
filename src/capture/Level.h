#pragma once

#include "capture/WaveFormat.h"

#include <array>
#include <cstdint>

namespace quillon {

class HighPass1kHz;

// Exact sum of squares of a block's working samples. A 24-bit square needs up to 46 bits
// (more after the filter's overshoot), and 10 s of 96 kHz audio holds 960,000 of them: a
// full-scale block reaches about 6.8e19, beyond any 64-bit integer.
using SquareSum = unsigned __int128;

// The numbers of one measured block. Levels are relative to the full scale of the sample
// format: L is linear (1.0 = full scale), dB = 20 log10 L.
struct BlockStats
{
    std::int64_t N = 0;    // frames measured: recorded bytes / frame size
    std::int64_t sum = 0;  // sum of the working samples, in sample units
    SquareSum sumsq = 0;   // sum of their squares, exact
    std::int64_t peak = 0; // largest |working sample| of the block, in sample units, >= 0
    double s = 0.0;        // full-scale factor of the format: 2^-15 (16 bit) or 2^-23 (24 bit)
    double L = 0.0;        // level, linear, DC removed: |(rms - |mean|) * s|; NaN when N = 0
    double dB = -120.0;    // 20 log10 L for L >= 1e-6, else -120 (also for NaN)
    double P = 0.0;        // peak term (peak - mean) * s, linear
    double C = 0.0;        // crest factor P / L; infinite or NaN for a silent or empty block
};

// What the same pass over a block gathers for the statistics of a reading
// (ReadingStatistics): the block cut into 16 sub-blocks of subLength frames each, the first
// 16 * subLength frames in order; the last N % 16 frames belong to no sub-block (they count
// in BlockStats as always). All sums are of the working samples, in sample units.
struct BlockMoments
{
    static constexpr int kSubBlocks = 16;
    std::int64_t subLength = 0; // frames per sub-block: N / 16 (0 for a block below 16 frames)
    std::array<std::int64_t, kSubBlocks> subSum{};
    std::array<SquareSum, kSubBlocks> subSumsq{};  // exact
    std::array<double, kSubBlocks> subSumFourth{}; // sum of x^4 (to double precision)
};

// Over-range limit of peak * s: exactly 0.98 still passes.
inline constexpr double kOverRangeLimit = 0.98;

// The full-scale factor s for a sample width: 2^-15 for 16 bit, 2^-23 for 24 bit, 0 for
// any other width.
double fullScaleFactor(unsigned bitsPerSample);

// dB of a linear level: 20 log10 L for L >= 1e-6 (-120 at 1e-6 itself), else -120, also
// for NaN (an empty block). Readings never go below -120 dB.
double levelToDb(double L);

// Measures one captured block: `bytesRecorded` bytes of little-endian interleaved PCM in
// `block`, 16 or 24 bits, any channel count; only the first channel of each frame is used.
// Only whole frames are read (N = bytesRecorded / frame size); a trailing partial frame is
// ignored. Another sample width gives the stats of an empty block.
//
// `filter` null: the decoded samples are measured as they are. Otherwise the filter is
// preset with the block's first sample, every sample passes through it, and the output,
// truncated toward zero, is the working sample; it is kept as a 32-bit integer for both
// widths, so a filter overshoot beyond 16 bits reads as the large value it is (and trips
// the over-range test) instead of wrapping to a wrong sign. The filter is left in the state
// after the block's last sample.
//
// Runs on the capture delivery thread inside a page callback; allocates nothing.
BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter);

// The same measurement, also filling `moments` from the same pass (the returned BlockStats
// are identical to the call above).
BlockStats measureBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                        const CaptureFormat &format, HighPass1kHz *filter, BlockMoments &moments);

// Running sums over consecutive blocks of one format, giving bit for bit what measureBlock
// gives for all of them as one block: every sum it keeps is exact (integers, the squares in
// 128 bits) and the peak is a maximum, so they carry from block to block. This is how a long
// recording is measured as a whole without holding it in memory.
class LevelSums
{
public:
    explicit LevelSums(const CaptureFormat &format) : m_format(format) {}

    // Filter off: adds a block as measureBlock measured it (null filter), with no second pass
    // over its samples.
    void add(const BlockStats &unfiltered);
    // Filter on: runs the next `bytesRecorded` bytes (whole frames) through `filter`, which is
    // preset at the first sample of the first block only and then runs on across blocks, just
    // as it runs through one long block. The filter is this run's own: nothing else may step
    // it between calls.
    void addFiltered(const std::uint8_t *block, std::uint32_t bytesRecorded, HighPass1kHz &filter);

    // The stats of everything added so far, as measureBlock computes them.
    BlockStats stats() const;

private:
    CaptureFormat m_format;
    std::int64_t m_frames = 0;
    std::int64_t m_sum = 0;
    SquareSum m_sumsq = 0;
    std::int64_t m_peak = 0;
};

// Whether measureBlock may measure unfiltered blocks with the processor's vector
// instructions (AVX2), where it has them; allowed by default. The results are identical
// either way: tests switch it off to hold the plain loop against the vector one.
void setVectorMeasurement(bool allowed);

// True when the block's peak * s exceeds 0.98 (the mean is not subtracted). The modal
// measurements stop with "Error. Signal level too high." on such a block.
bool isOverRange(const BlockStats &stats);

} // namespace quillon
