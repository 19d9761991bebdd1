#include "capture/ReadingHistory.h"

#include <algorithm>
#include <limits>

namespace quillon {

double ReadingHistory::average(int position, int count) const
{
    const int p = index(position);
    int n = std::clamp(count, 0, kMaxAverageCount);
    if (!wrapped())
        n = std::min(n, p); // p, not p + 1: index 0 waits for the ring to wrap
    if (n == 0)
        return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (int k = 0, i = p; k < n; ++k, i = (i == 0 ? kSize - 1 : i - 1))
        sum += m_readings[i];
    return sum / n;
}

int ReadingHistory::advance(int position)
{
    const int next = index(position) + 1;
    if (next < kSize)
        return next;
    m_wrapped.store(true, std::memory_order_relaxed);
    return 0;
}

double ReadingHistory::addReading(int position, double dB, bool averaging, int count)
{
    store(position, dB);
    return averaging ? average(position, count) : dB;
}

} // namespace quillon
