#pragma once

#include "capture/WaveFormat.h"
#include "spectrum/FftPlan.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace quillon {

class HighPass1kHz;

// FFT sizes the spectrum accepts: 2 .. 32768 frames (Setup offers 1024 to 32768).
inline constexpr int kMinFftSize = 2;
inline constexpr int kMaxFftSize = 32768;
// History rows kept for averaging (rows 1 .. 32; row 0 is the row to show).
inline constexpr int kSpectrumHistoryRows = 32;
// Most bins of a shown row: (n + 1) / 2 at the largest n.
inline constexpr int kMaxShownBins = (kMaxFftSize + 1) / 2;

// The averaging count in effect for a stored "TraceAverageCount": 1 .. 32. A count below 1
// (only a damaged setting can hold one) counts as 1, a count above 32 as 32.
int clampAverageCount(int count);

// Fills w(0) .. w(n-1) with the symmetric Hann window 0.5 - 0.5 cos(6.283185308 i / (n-1)),
// so w(0) = w(n-1) = 0 and the coherent gain is 0.5 (n - 1) / n. The constant is 2 pi to
// nine decimals, not the full-precision 2 pi: spectra are compared with earlier ones.
// Needs n >= 2.
void makeHannWindow(double *w, int n);

// What a shown row is. Copied with the row when it is handed to the window thread.
struct SpectrumRowInfo
{
    std::uint64_t block = 0;      // the block it was computed from: 0 = first of the activation
    int fftSize = 0;              // n, frames per block
    int bins = 0;                 // values in the row: (n + 1) / 2, bin k at k * sampleRate / n
    std::uint32_t sampleRate = 0; // Hz
    int rowsAveraged = 0;         // 1 when "Average" is off, else the rows in the mean (1 .. 32)
};

// Turns captured blocks of exactly n frames into power spectra in dB relative to full scale
// and keeps the last rows for averaging:
//   1. the first channel's samples scaled to full scale (2^-15 for 16-bit, 2^-23 for 24-bit)
//      and multiplied by the Hann window;
//   2. optionally the 1 kHz high-pass over the n windowed, scaled values, preset from the
//      first of them (always 0, since w(0) = 0: every block starts the filter from rest);
//   3. the forward FFT, the power per bin, 10 log10(P / n) into history row r (1 .. 32);
//   4. row 0 = row r, or with "Average" on the mean of the dB values of the last m rows
//      (m = r until the history has wrapped, then the averaging count);
//   5. r advances and returns to 1 after the averaging count.
// Bin n/2 of an even n is computed into the history row but never into row 0.
//
// Threads: the constructor, activate() and deactivate() run on the window thread while no
// capture runs (FFTW plans are made and destroyed there only). processBlock() and the row
// accessors belong to the thread that processes blocks (the capture delivery thread) while
// a capture runs; starting and stopping the capture hands the object over. setAveraging()
// may be called from any thread at any time; it takes effect from the next block.
// Rows reach the window thread through SpectrumHandover, never by reading them here.
//
// Memory: every array is allocated at construction (history and window, sized for the
// largest n) or at activation (the plan and its arrays); nothing is allocated per block.
class SpectrumAnalyzer
{
public:
    SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer &) = delete;
    SpectrumAnalyzer &operator=(const SpectrumAnalyzer &) = delete;

    // Page activation: makes the plan and the window for `fftSize` frames, clears the history
    // (r = 1, not wrapped) and takes the averaging count (clamped to 1 .. 32). False, with no
    // plan, for a size outside 2 .. 32768 or when FFTW makes no plan; blocks are then ignored.
    bool activate(int fftSize, int averageCount);
    // Page deactivation: destroys the plan. The capture must be stopped first.
    void deactivate();
    bool active() const { return m_plan.valid(); }

    // The "Average" switch. Any thread.
    void setAveraging(bool on) { m_averaging.store(on, std::memory_order_relaxed); }
    bool averaging() const { return m_averaging.load(std::memory_order_relaxed); }

    int fftSize() const { return m_plan.size(); }
    int averageCount() const { return m_averageCount; }
    // Values in a shown row: (n + 1) / 2.
    int shownBins() const { return (m_plan.size() + 1) / 2; }
    // Values in a history row: n / 2 + 1.
    int binCount() const { return m_plan.binCount(); }

    // One captured block: `bytesRecorded` bytes of little-endian interleaved PCM (16 or 24
    // bits, any channel count) at `block`; only the first channel is used. `filter` null:
    // no high-pass; else that filter (its coefficients selected for the capture rate) runs
    // over the windowed values. Returns true when a new row 0 is ready; false, with every row
    // unchanged, when no plan exists, the sample width is not 16 or 24 bits, or the block
    // holds fewer than n whole frames (frames after the first n are not used).
    bool processBlock(const std::uint8_t *block, std::uint32_t bytesRecorded,
                      const CaptureFormat &format, HighPass1kHz *filter);

    // Row 0 (shownBins() values, dB re full scale; minus infinity for a bin without power)
    // and what it is. Valid after the first processed block of an activation.
    const double *shownRow() const { return m_rows.get(); }
    const SpectrumRowInfo &shownInfo() const { return m_info; }
    // History row `r` (1 .. 32): binCount() values in dB.
    const double *historyRow(int r) const { return m_rows.get() + std::size_t(r) * m_stride; }
    // The history row the next block writes (1 .. averaging count), and whether the history
    // has wrapped since activation.
    int currentRow() const { return m_row; }
    bool wrapped() const { return m_wrapped; }
    // Blocks turned into rows since activation.
    std::uint64_t blocksProcessed() const { return m_blocks; }

private:
    double *row(int r) { return m_rows.get() + std::size_t(r) * m_stride; }
    void loadBlock(const std::uint8_t *block, const CaptureFormat &format);
    void filterInput(HighPass1kHz &filter);
    void updateShownRow(bool averaging);
    // Adds history row values to the running sums (sign +1) or takes them away (sign -1).
    void addToSums(const double *values, int sign);
    // The sums of rows 1 .. averaging count, afresh.
    void recomputeSums();

    FftPlan m_plan;
    std::unique_ptr<double[]> m_window; // kMaxFftSize values, n used
    std::unique_ptr<double[]> m_rows;   // rows 0 .. 32, m_stride doubles apart
    std::size_t m_stride = 0;           // n / 2 + 1 while active
    // Per shown bin, over the history rows in the average: the sum of the finite dB values,
    // and how many rows hold minus infinity there (a row of no power makes the mean minus
    // infinity, and leaving the average must not turn it into NaN). Kept up to date with
    // every block, so that the mean costs one pass instead of one per row (32 rows of
    // 16384 bins are 4 MB to read per block).
    std::unique_ptr<double[]> m_sums;
    std::unique_ptr<std::int8_t[]> m_silentRows;
    int m_averageCount = 1; // 1 .. 32
    int m_row = 1;          // r: 1 .. m_averageCount
    bool m_wrapped = false;
    std::uint64_t m_blocks = 0;
    SpectrumRowInfo m_info;
    std::atomic<bool> m_averaging{false};
};

} // namespace quillon
