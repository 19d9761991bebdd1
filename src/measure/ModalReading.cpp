#include "measure/ModalReading.h"

#include "core/Messages.h"
#include "core/Settings.h"
#include "capture/Level.h"
#include "capture/WaveCapture.h"
#include "core/NumberText.h"
#include "measure/ReadingGuards.h"
#include "nf/Uncertainty.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillon {

std::string readingProgressText(const ReadingProgress &progress, std::string_view label)
{
    std::string text;
    if (progress.kind == ReadingProgress::Kind::Dummy) {
        text = "Dummy : ";
    } else {
        text = "Reading ";
        text += label;
        text += " : ";
    }
    text += std::to_string(progress.count);
    if (progress.kind == ReadingProgress::Kind::Counted && std::isfinite(progress.halfWidthDb)) {
        text += ' ';
        text += halfWidthText(progress.halfWidthDb, "dB");
        if (std::isfinite(progress.goalDb))
            text += " (goal " + formatFixed(progress.goalDb, 3) + ")";
    }
    return text;
}

ModalReading::ModalReading(WaveCapture &capture, const Settings &settings, HighPass1kHz &filter)
    : m_capture(capture), m_settings(settings), m_filter(filter)
{
}

ModalReading::~ModalReading()
{
    // The handler refers to this object: no block may reach it once it is gone.
    m_capture.stopCapture();
}

int ModalReading::countedBlocks(const ReadingPlan &plan)
{
    return plan.averaging ? std::clamp(plan.averageCount, 1, kMaxBlocks) : 1;
}

int ModalReading::start(const ReadingPlan &plan, const ReadingCarry *resume)
{
    m_capture.stopCapture();
    m_capture.deriveFormat();

    m_counted = countedBlocks(plan);
    m_dummyLeft = std::max(plan.dummyReads, 0);
    m_countedNow = 0;
    m_autoDummiesNow = 0;
    m_lostSeen = 0;
    m_state = resume ? *resume : ReadingCarry{};
    m_captureStatistics.reset();
    m_autoDummy = plan.autoDummy;
    m_autoDummyLimit = std::max(plan.autoDummyLimit, 0);
    m_precision = plan.precision;
    m_activeFilter = m_settings.highPassFilter ? &m_filter : nullptr;
    m_outcome.store(kOutcomeNone, std::memory_order_relaxed);
    m_blocksSeen.store(0, std::memory_order_relaxed);
    m_finished.store(false, std::memory_order_release);
    {
        const std::lock_guard lock(m_waitMutex);
        m_ended = false;
    }

    if (!m_capture.probeDevice())
        return kProbeFailed;
    const int rc =
        m_capture.startCapture([this](WaveCapture &c, CaptureHeader &h) { onBlock(c, h); });
    return rc == 0 ? kMsgNone : kMsgCannotOpenWaveDevice;
}

void ModalReading::onBlock(WaveCapture &capture, CaptureHeader &header)
{
    // A buffer that completes after the reading has ended is not measured and not re-queued.
    if (m_finished.load(std::memory_order_acquire))
        return;
    m_blocksSeen.fetch_add(1, std::memory_order_relaxed);
    // Gaps before this block: the device had no free buffer while this reading ran.
    m_state.lostFrames += header.lostFramesBefore - m_lostSeen;
    m_lostSeen = header.lostFramesBefore;

    if (m_dummyLeft > 0) {
        capture.requeue(header);
        if (m_progressHook)
            m_progressHook({ReadingProgress::Kind::Dummy, m_dummyLeft});
        --m_dummyLeft;
        ++m_state.dummies;
        return;
    }

    const BlockStats stats = measureBlock(header.data, header.bytesRecorded, capture.format(),
                                          m_activeFilter, m_moments);
    // The limit counts the automatic dummy reads of this capture (a resumed reading settles
    // again after its switch).
    if (m_autoDummy && m_countedNow == 0 && m_autoDummiesNow < m_autoDummyLimit) {
        // Still waiting for a steady block: this one is discarded when its own level trends.
        m_probe.reset();
        m_probe.add(stats, m_moments);
        if (isSettling(m_probe.statistics())) {
            ++m_autoDummiesNow;
            ++m_state.autoDummies;
            capture.requeue(header);
            if (m_progressHook)
                m_progressHook({ReadingProgress::Kind::Dummy, m_autoDummiesNow});
            return;
        }
    }

    const double power = stats.L * stats.L;
    ReadingCarry &s = m_state;
    if (s.position < kMaxBlocks)
        s.powers[static_cast<std::size_t>(s.position)] = power;
    if (isOverRange(stats)) {
        end(kOutcomeOverRange); // the position does not advance
        return;
    }
    s.statistics.add(stats, m_moments);
    m_captureStatistics.add(stats, m_moments);
    s.powerSum += power;
    ++s.position;
    ++m_countedNow;
    const double rate = capture.format().samplesPerSec;
    s.blockSeconds += rate > 0.0 ? static_cast<double>(stats.N) / rate : 0.0;

    if (m_precision) {
        auto &series = m_precision->series;
        const int current = std::clamp(m_precision->current, 0, kDeviceReadingCount - 1);
        series[static_cast<std::size_t>(current)] =
            precisionReading(s.statistics.statistics(), false);
        const PrecisionDecision d = decidePrecision(
            series, current, s.blockSeconds, m_precision->systemMode, m_precision->enrDb,
            m_precision->t0, m_precision->tsOff, m_precision->target, m_precision->quantity);
        if (d.verdict == PrecisionVerdict::Continue) {
            capture.requeue(header);
            if (m_progressHook)
                m_progressHook(
                    {ReadingProgress::Kind::Counted, s.position, d.halfWidthDb, d.goalDb});
            return;
        }
        end(kOutcomeComplete);
        return;
    }

    if (s.position < m_counted) {
        capture.requeue(header);
        if (m_progressHook)
            m_progressHook({ReadingProgress::Kind::Counted, m_counted - s.position});
        return;
    }
    end(kOutcomeComplete);
}

void ModalReading::end(int outcome)
{
    m_outcome.store(outcome, std::memory_order_release);
    m_finished.store(true, std::memory_order_release);
    if (m_finishedHook)
        m_finishedHook(outcome);
    const std::lock_guard lock(m_waitMutex);
    m_ended = true;
    m_waitCondition.notify_all();
}

bool ModalReading::waitFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_waitMutex);
    return m_waitCondition.wait_for(lock, timeout, [this] { return m_ended; });
}

void ModalReading::stop()
{
    m_capture.stopCapture();
}

double ModalReading::meanPower() const
{
    if (outcome() != kOutcomeComplete)
        return std::numeric_limits<double>::quiet_NaN();
    return m_state.position > 0 ? m_state.powerSum / m_state.position
                                : std::numeric_limits<double>::quiet_NaN();
}

} // namespace quillon
