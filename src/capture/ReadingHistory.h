#pragma once

#include <array>
#include <atomic>

namespace quillon {

// The last 32 block readings of the Measure Noise page (dB), for its running average.
// The write position is the capture engine's block counter, which every capture start
// resets to 0; the wrapped flag is cleared when the page (or the spectrum page, which
// shares the flag) is activated. Together the two resets keep readings of an earlier
// capture out of every average.
//
// Threads: the entries are read and written only by the capture delivery thread (inside
// the page callback); the wrapped flag is also cleared from the window thread, so it is
// atomic.
class ReadingHistory
{
public:
    static constexpr int kSize = 32;
    static constexpr int kMaxAverageCount = 32;

    // Page activation (window thread): the next readings start a fresh history.
    void clearWrapped() { m_wrapped.store(false, std::memory_order_relaxed); }
    bool wrapped() const { return m_wrapped.load(std::memory_order_relaxed); }

    // Stores `dB` at `position` (taken modulo 32).
    void store(int position, double dB) { m_readings[index(position)] = dB; }
    double at(int position) const { return m_readings[index(position)]; }

    // The mean of the `count` readings ending at `position` (going backwards, from index 0
    // on to 31). `count` is clamped to 0..32 and, until the ring has wrapped, limited to
    // `position`: the first reading of a capture (index 0) takes part only once it has been
    // overwritten. NaN when no reading takes part (count 0, the first block of a capture).
    double average(int position, int count) const;

    // The position after `position`; passing 31 returns to 0 and marks the ring wrapped.
    int advance(int position);

    // One block of the running average: stores `dB` at `position` and returns the current
    // reading, the average when `averaging` is on, else `dB` itself. Does not advance.
    double addReading(int position, double dB, bool averaging, int count);

private:
    static int index(int position) { return ((position % kSize) + kSize) % kSize; }

    std::array<double, kSize> m_readings{};
    std::atomic<bool> m_wrapped{false};
};

} // namespace quillon
