#pragma once

#include "capture/Level.h"
#include "capture/ReadingStatistics.h"
#include "measure/PrecisionRule.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

class HighPass1kHz;
class WaveCapture;
struct CaptureHeader;
struct Settings;

// What the wait dialog's progress line shows during a modal reading.
struct ReadingProgress
{
    enum class Kind
    {
        Dummy,  // a dummy block was discarded; `count` is the counter before its decrement
        Counted // a counted block was measured; `count` blocks are still to come (>= 1)
    };
    Kind kind = Kind::Dummy;
    int count = 0;
    // Averaging to a precision (Counted only): `count` is then the blocks taken so far, and
    // these the noise figure's (a sky series: the Y factor's) current statistical 95%
    // half-width from this reading and the part it is to come down to, dB; NaN otherwise.
    double halfWidthDb = std::numeric_limits<double>::quiet_NaN();
    double goalDb = std::numeric_limits<double>::quiet_NaN();
};

// The progress line: "Dummy : 3", or "Reading Noise (ON) : 4" with the reading's label;
// averaging to a precision, "Reading Noise (ON) : 12 ± 0.061 dB (goal 0.050)".
std::string readingProgressText(const ReadingProgress &progress, std::string_view label);

// How one reading is taken.
struct ReadingPlan
{
    ReadingPlan() = default;
    ReadingPlan(int dummy, bool average, int count)
        : dummyReads(dummy), averaging(average), averageCount(count)
    {
    }

    int dummyReads = 1;     // blocks discarded first; below 0 counts as 0
    bool averaging = false; // off: the first counted block is the reading
    int averageCount = 1;   // blocks averaged while averaging is on, limited to 1..32
    // "automatic dummy reads": after the fixed dummy reads, further blocks are discarded while
    // their own sub-block powers trend (isSettling), at most autoDummyLimit of them; the first
    // steady block is the first counted one.
    bool autoDummy = false;
    int autoDummyLimit = 10;
    // Averaging to a precision: set, it replaces the block count; blocks are taken until
    // decidePrecision says Reached or TimeUp (the blocks beyond 32 are summed, not stored).
    struct Precision
    {
        PrecisionTarget target;
        // The series so far, by reading number (the current one's entry is filled in as
        // its blocks come), and what decidePrecision needs besides.
        std::array<PrecisionReading, kDeviceReadingCount> series{};
        int current = 0;
        bool systemMode = false;
        double enrDb = 0.0;
        double t0 = 290.0;
        double tsOff = 293.0;
        PrecisionQuantity quantity = PrecisionQuantity::NoiseFigure;
    };
    std::optional<Precision> precision;
};

// What a reading has gathered so far, to go on with it in a later capture (the first series
// of averaging to a precision takes a short pilot of each reading and comes back to those
// that need more): the counted blocks, their powers and statistics, and the time counted.
struct ReadingCarry
{
    int position = 0;                    // counted blocks
    std::array<double, 32> powers{};     // the first 32 blocks' L^2
    double powerSum = 0.0;               // of all counted blocks
    int autoDummies = 0;                 // blocks discarded as automatic dummy reads
    int dummies = 0;                     // blocks discarded as fixed dummy reads
    double blockSeconds = 0.0;           // counted time, s
    // Frames the device dropped between the blocks this reading took (its captures'
    // gaps up to the last block it used; a gap after its end is not its own).
    std::uint64_t lostFrames = 0;
    ReadingStatisticsAccumulator statistics;
};

// One modal reading of the Measure Device and Calibrate Noise Source pages (and of
// quillon-cli measure): the capture runs until the dummy blocks have been discarded and the
// counted blocks measured, then the block powers (L squared, full-scale units) are averaged
// linearly, never in dB.
//
// Threads. start(), stop() and the results run on the window thread (the CLI's main
// thread). The block handler runs on the capture delivery thread: it re-queues every dummy
// block and every counted block but the last, keeps each counted block's power, and ends the
// reading with outcome kComplete after the last counted block, or kOverRange at once on a
// block whose peak is above 0.98 of full scale (isOverRange). Once it has ended the reading
// it ignores late buffers (the capture ring holds up to 200 ms of blocks filled behind the
// last one), so nothing is written past the 32 powers, the outcome never changes and their
// audio, or the audio lost behind them, is not the reading's. The hooks are called on the
// delivery thread and must not wait for the window thread: a window page posts its dialog's
// text and close request from them; a thread without an event loop waits in waitFinished().
//
// The block powers are read only after stop(): stopCapture joins the delivery thread, which
// orders the handler's writes before the reads.
class ModalReading
{
public:
    static constexpr int kMaxBlocks = 32;
    static_assert(std::tuple_size_v<decltype(ReadingCarry::powers)> == kMaxBlocks);

    // Outcomes of a reading.
    static constexpr int kOutcomeNone = 0; // still running, never started, or cancelled
    static constexpr int kOutcomeComplete = 1;
    static constexpr int kOutcomeOverRange = 9999;

    // start() result when the device does not open at the probe: a failure the pages show
    // no message for.
    static constexpr int kProbeFailed = -1;

    // Called on the delivery thread. Set them while no reading runs.
    using ProgressHook = std::function<void(ReadingProgress)>;
    using FinishedHook = std::function<void(int outcome)>; // once per ended reading

    // `capture`, `settings` and `filter` must outlive the reading. The filter is used when
    // settings.highPassFilter is on at start(); its coefficients are the caller's choice
    // (selectHighPass for the capture rate).
    ModalReading(WaveCapture &capture, const Settings &settings, HighPass1kHz &filter);
    ~ModalReading();
    ModalReading(const ModalReading &) = delete;
    ModalReading &operator=(const ModalReading &) = delete;

    void setProgressHook(ProgressHook hook) { m_progressHook = std::move(hook); }
    void setFinishedHook(FinishedHook hook) { m_finishedHook = std::move(hook); }

    // Stops any capture, derives the format from the settings, arms the dummy counter and
    // the block count, probes the device and starts the capture of
    // settings.captureTimeMs blocks. Returns 0 when the reading runs; kProbeFailed when the
    // device does not open; kMsgCannotOpenWaveDevice when the capture does not start.
    // The outcome is reset before the capture starts: a fast device (the virtual bench at
    // speed 0) may end the reading before start() returns.
    // With `resume`, the reading goes on from what an earlier one of the same state gathered
    // (its counted blocks, statistics and time; the dummy reads are taken again).
    int start(const ReadingPlan &plan, const ReadingCarry *resume = nullptr);

    // Any thread: whether the handler has ended the reading, and how.
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    int outcome() const { return m_outcome.load(std::memory_order_acquire); }

    // Any thread: blocks delivered to this reading so far, dummy blocks included (a late
    // buffer after the end is not counted). A window that sees no change for several capture
    // times knows the device has stopped delivering.
    int blocksSeen() const { return m_blocksSeen.load(std::memory_order_relaxed); }

    // Waits until the handler ends the reading or `timeout` passes; true when it ended.
    // Not on the delivery thread.
    bool waitFinished(std::chrono::milliseconds timeout);

    // Stops the capture: after a finished reading, or to cancel one (the outcome then stays
    // kOutcomeNone). Window thread. The results below are stable from here on.
    void stop();

    // After stop(): the counted blocks measured, the power of block i (i < 32: later ones are
    // summed, not stored), and the reading (the mean power of the averaged blocks, or block
    // 0's with averaging off). NaN when the reading did not complete.
    int blocksMeasured() const { return m_state.position; }
    int blocksStored() const { return std::min(m_state.position, kMaxBlocks); }
    double blockPower(int i) const { return m_state.powers[static_cast<std::size_t>(i)]; }
    double meanPower() const;
    // After stop(): the statistics of the counted blocks, from the same pass as their levels;
    // and the blocks discarded as automatic dummy reads.
    ReadingStatistics statistics() const { return m_state.statistics.statistics(); }
    int autoDummiesUsed() const { return m_state.autoDummies; }
    // Blocks discarded as fixed dummy reads (all captures of a resumed reading).
    int dummiesUsed() const { return m_state.dummies; }
    // After stop(): the statistics of this capture's counted blocks alone (of a resumed
    // reading, those it added).
    ReadingStatistics captureStatistics() const { return m_captureStatistics.statistics(); }
    // After stop(): everything gathered, to resume the reading later.
    const ReadingCarry &carry() const { return m_state; }

    // Blocks one reading averages under `plan` (1 with averaging off, else 1..32).
    static int countedBlocks(const ReadingPlan &plan);

private:
    void onBlock(WaveCapture &capture, CaptureHeader &header);
    void end(int outcome);

    WaveCapture &m_capture;
    const Settings &m_settings;
    HighPass1kHz &m_filter;
    ProgressHook m_progressHook;
    FinishedHook m_finishedHook;

    // Set on the window thread before the capture starts; read by the handler.
    int m_counted = 1;
    HighPass1kHz *m_activeFilter = nullptr;
    bool m_autoDummy = false;
    int m_autoDummyLimit = 0;
    std::optional<ReadingPlan::Precision> m_precision; // its current entry is the handler's
    // Written by the handler while the capture runs; read on the window thread after stop().
    int m_dummyLeft = 0;
    int m_countedNow = 0;     // counted blocks of this capture (the automatic dummy reads' test)
    int m_autoDummiesNow = 0; // automatic dummy reads of this capture
    std::uint64_t m_lostSeen = 0; // the last block's lostFramesBefore (this capture)
    ReadingCarry m_state;
    ReadingStatisticsAccumulator m_captureStatistics;
    BlockMoments m_moments;
    ReadingStatisticsAccumulator m_probe; // one candidate block under the automatic dummy reads

    std::atomic<int> m_blocksSeen{0};
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_outcome{kOutcomeNone};
    std::mutex m_waitMutex;
    std::condition_variable m_waitCondition;
    bool m_ended = false; // under m_waitMutex
};

} // namespace quillon
