#pragma once

// What the soak tools measure of the process and the machine: resident memory, CPU time, the
// load average, and how late the window thread runs.
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace quillon::tools {

// VmRSS of this process, KiB; -1 when /proc cannot tell.
inline long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// The machine's 1-minute load average: other processes compete with the capture threads.
inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string first;
    file >> first;
    return first.empty() ? std::string("?") : first;
}

// CPU time this process has used (all threads), s.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The window thread's lateness: how much later than 10 ms after the previous tick each tick
// of a precise 10 ms timer runs, from start() on. Window thread.
class WindowLateness
{
public:
    static constexpr int kTimerMs = 10;

    WindowLateness()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed() / 1000;
            if (m_ticks > 0) {
                const qint64 late = now - m_lastTick - kTimerMs * 1000;
                m_worstUs = std::max(m_worstUs, late);
                m_lateTicks += late > 5000;
            }
            m_lastTick = now;
            ++m_ticks;
        });
    }
    void start()
    {
        m_clock.start();
        m_tick.start(kTimerMs);
    }
    double seconds() const { return static_cast<double>(m_clock.elapsed()) / 1000.0; }
    double worstMs() const { return static_cast<double>(m_worstUs) / 1000.0; }
    // "window thread:   worst lateness of a 10 ms timer 8.3 ms over 179998 ticks (0 ticks
    // more than 5 ms late)"
    void print() const
    {
        std::printf("window thread:   worst lateness of a %d ms timer %.1f ms over %lld ticks "
                    "(%lld ticks more than 5 ms late)\n",
                    kTimerMs, worstMs(), m_ticks, m_lateTicks);
    }

private:
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_lastTick = 0, m_worstUs = 0;
    long long m_lateTicks = 0, m_ticks = 0;
};

} // namespace quillon::tools
