#pragma once

#include "spectrum/SpectrumAnalyzer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace quillon {

// Hands finished spectrum rows from the capture delivery thread (the writer) to the window
// thread (the reader) without a lock: a triple buffer of whole rows.
//
// The writer copies a row into the one slot the reader cannot see and then swaps that slot
// with the shared "newest" slot in one atomic exchange; the reader swaps its slot with the
// newest when a fresh row is there. So a row is always handed over whole (the reader never
// sees a row that is still being written), the writer never waits for the reader, the reader
// never blocks the writer, and the reader always gets the newest row; rows the reader had no
// time for are skipped, never queued without bound.
//
// Repaint requests coalesce: publish() says "ask the window thread to repaint" only when no
// earlier request is still waiting, and takeLatest() (the repaint) clears the request before
// it looks for a row. A row published after that is either taken by this repaint or asks for
// a new one, so no row is left without a repaint.
//
// Threads: publish() on the writer thread only, takeLatest()/row()/info()/hasRow() on the
// reader thread only, reset() on the reader thread while no writer runs (page activation,
// before the capture starts). published() and requests() from any thread.
// The three slots (3 x 16384 doubles) are allocated at construction.
class SpectrumHandover
{
public:
    SpectrumHandover();
    SpectrumHandover(const SpectrumHandover &) = delete;
    SpectrumHandover &operator=(const SpectrumHandover &) = delete;

    // Writer: copies `info.bins` values (at most kMaxShownBins) of `dB` and makes them the
    // newest row. True when the caller should ask the reader for a repaint (a queued call),
    // false when a request is still pending and will pick this row up.
    bool publish(const double *dB, const SpectrumRowInfo &info);

    // Reader: switches to the newest row when one came since the last call. True when the
    // row changed. Clears the pending repaint request first.
    bool takeLatest();
    // Reader: whether any row was taken since reset() (the trace may be drawn).
    bool hasRow() const { return m_hasRow; }
    // Reader: the current row, info().bins values; stays unchanged until takeLatest().
    const double *row() const { return m_slots[m_front].dB.get(); }
    const SpectrumRowInfo &info() const { return m_slots[m_front].info; }

    // Reader, no writer running: forgets every row and any pending request.
    void reset();

    // Rows published since construction or reset(), and how many of them asked for a repaint.
    std::uint64_t published() const { return m_published.load(std::memory_order_relaxed); }
    std::uint64_t requests() const { return m_requests.load(std::memory_order_relaxed); }

private:
    struct Slot
    {
        std::unique_ptr<double[]> dB; // kMaxShownBins values
        SpectrumRowInfo info;
    };
    // m_middle: index of the shared slot (bits 0-1) and the fresh flag (a row the reader
    // has not taken yet).
    static constexpr unsigned kFresh = 4;
    static constexpr unsigned kIndexMask = 3;

    std::array<Slot, 3> m_slots;
    std::atomic<unsigned> m_middle{1};
    std::atomic<bool> m_repaintPending{false};
    unsigned m_back = 0;  // writer's slot
    unsigned m_front = 2; // reader's slot
    bool m_hasRow = false;
    std::atomic<std::uint64_t> m_published{0};
    std::atomic<std::uint64_t> m_requests{0};
};

} // namespace quillon
