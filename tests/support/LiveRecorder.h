#pragma once

// A live meter listener that keeps every update, calibration and failure, and lets the
// test thread wait for them (they come on the meter's live thread).
#include "measure/LiveMeter.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace quillon::test {

class LiveRecorder : public LiveListener
{
public:
    void update(const LiveUpdate &u) override
    {
        std::function<void(const LiveUpdate &)> hook;
        {
            const std::lock_guard lock(m_mutex);
            m_updates.push_back(u);
            hook = onUpdate;
        }
        m_changed.notify_all();
        if (hook)
            hook(u);
    }
    void calibrated(const ReceiverCalibration &c) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_calibrations.push_back(c);
        }
        m_changed.notify_all();
    }
    void failed(int id) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_failures.push_back(id);
        }
        m_changed.notify_all();
    }

    bool waitForUpdates(std::size_t n, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_updates.size() >= n; });
    }
    bool waitForCalibration(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return !m_calibrations.empty(); });
    }
    bool waitForFailure(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return !m_failures.empty(); });
    }
    std::vector<LiveUpdate> updates() const
    {
        const std::lock_guard lock(m_mutex);
        return m_updates;
    }
    LiveUpdate last() const
    {
        const std::lock_guard lock(m_mutex);
        return m_updates.empty() ? LiveUpdate{} : m_updates.back();
    }
    std::vector<ReceiverCalibration> calibrations() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calibrations;
    }
    std::vector<int> failures() const
    {
        const std::lock_guard lock(m_mutex);
        return m_failures;
    }

    // Set before start: called on the live thread after each update is kept.
    std::function<void(const LiveUpdate &)> onUpdate;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<LiveUpdate> m_updates;
    std::vector<ReceiverCalibration> m_calibrations;
    std::vector<int> m_failures;
};

} // namespace quillon::test
