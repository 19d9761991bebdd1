#include "spectrum/SpectrumHandover.h"

#include <algorithm>

namespace quillon {

SpectrumHandover::SpectrumHandover()
{
    for (Slot &slot : m_slots)
        slot.dB = std::make_unique<double[]>(kMaxShownBins);
}

bool SpectrumHandover::publish(const double *dB, const SpectrumRowInfo &info)
{
    Slot &slot = m_slots[m_back];
    slot.info = info;
    slot.info.bins = std::clamp(info.bins, 0, kMaxShownBins);
    std::copy_n(dB, slot.info.bins, slot.dB.get());
    // The exchange releases the row to the reader and takes the slot the reader gave back
    // (or the stale newest one) for the next row.
    m_back = m_middle.exchange(m_back | kFresh) & kIndexMask;
    m_published.fetch_add(1, std::memory_order_relaxed);
    // Sequentially consistent with the reader's clear-then-look in takeLatest(): when this
    // finds a request pending, that request's repaint has not looked yet and will see the
    // row just published.
    if (m_repaintPending.exchange(true))
        return false;
    m_requests.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool SpectrumHandover::takeLatest()
{
    m_repaintPending.store(false);
    if ((m_middle.load() & kFresh) == 0)
        return false;
    // Only this thread clears the flag, so the slot received here holds a fresh row (the
    // newest, should the writer have published again since the load).
    m_front = m_middle.exchange(m_front) & kIndexMask;
    m_hasRow = true;
    return true;
}

void SpectrumHandover::reset()
{
    m_middle.store(1);
    m_back = 0;
    m_front = 2;
    m_hasRow = false;
    m_repaintPending.store(false);
    m_published.store(0, std::memory_order_relaxed);
    m_requests.store(0, std::memory_order_relaxed);
}

} // namespace quillon
