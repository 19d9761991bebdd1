#pragma once

#include "capture/ResultText.h"
#include "core/Settings.h"
#include "measure/CorrectionSettings.h"
#include "measure/ModalReading.h"
#include "measure/SeriesRunner.h"
#include "measure/SweepCsv.h"
#include "nf/EnrTable.h"
#include "rig/RigSettings.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

class QuillonEngine;

// What one sweep does. Copied into the runner when it starts: the window may change its own
// values while the sweep runs.
struct SweepConfig
{
    std::vector<double> frequenciesMHz; // in the order visited (planSweep, planSweepList)
    RigSettings rig;                    // the receiver control that tunes each point
    int settleMs = 0;                   // wait after retuning, before the first reading, ms
    // The ENR at each point: with useEnrFile, enrForEntry(frequency) in `enrTable` (the
    // calibration file of the reference source); otherwise typedEnrDb at every point.
    bool useEnrFile = false;
    EnrTable enrTable;
    double typedEnrDb = 25.0;
    // Stated 95% half-widths: the ENR's typed one (with the file, the file's third column
    // where it gives one at the point, else this), and the off temperature's.
    double enrUncertaintyDb = 0.0;
    double tsOffUncertaintyK = 0.0;
    double t0 = 290.0;    // K
    double tsOff = 293.0; // K, the reference source's off temperature
    // Dummy reads, averaging and automatic dummy reads of every reading, and averaging to a
    // precision: each point is one Measure Device series.
    ReadingPlan plan;
    std::optional<PrecisionTarget> precision;
    // The losses around the DUT and the converter, resolved at each point (the tables read
    // before the sweep starts: readLossTables). A point where they cannot be resolved (a
    // table that does not cover it) ends the sweep with the message, the point unmeasured.
    CorrectionSettings corrections;
    LossTables lossTables;
    bool driftOrder = false; // SeriesPlan::driftOrder
    // The capture settings the readings use (format, capture time, filter), and whether each
    // completed point writes its four "NF" lines to settings.logResultsFile.
    Settings settings;
};

// How a sweep ended.
enum class SweepEnd
{
    Complete, // every frequency measured
    Stopped,  // requestStop() or abort(): the points measured so far are kept
    Failed    // the receiver or the sound input failed; `message` says how
};

struct SweepOutcome
{
    SweepEnd end = SweepEnd::Complete;
    std::string message; // a sentence for the user when Failed (also a log failure's)
    int points = 0;      // rows delivered
};

// One sweep of noise figure and gain against frequency. At each frequency the receiver is
// tuned (the "Virtual bench" control sets the bench's frequency), the settle time passes,
// the ENR is looked up at that frequency, and the Measure Device series runs with both
// switches automated (SeriesRunner: readings 0..3, the switch outputs set before each, the
// readings' statistics, warnings and stated uncertainties as on the page); the series gives
// one SweepRow. A reading over range leaves its point without results (the row's warnings
// say why) and the sweep goes on; a device that fails or a log that cannot be written ends
// it.
//
// Threads. start(), requestStop(), abort() and the destructor run on the window thread
// (the CLI's main thread) and never wait for a call to the receiver. Everything else runs
// on the runner's own worker: the receiver calls (each blocks up to the rig's time-out),
// the captures (the worker takes the place of the window thread for the engine's capture
// and switch outputs while it runs, so the window must not use them meanwhile: a page
// aborts the sweep when it is left) and the hooks, which must not wait for the window
// thread: the window posts copies of what they carry to itself with queued calls.
class SweepRunner
{
public:
    using PointHook = std::function<void(const SweepRow &row)>;
    // A short status line: "Tuning 144.100000 MHz", "Settling", "Reading Noise (ON)".
    using StatusHook = std::function<void(const std::string &status)>;
    using FinishedHook = std::function<void(const SweepOutcome &outcome)>; // once per sweep

    // `engine` must outlive the runner.
    explicit SweepRunner(QuillonEngine &engine);
    // abort(), then waits for the worker: at most one receiver call's time-out.
    ~SweepRunner();
    SweepRunner(const SweepRunner &) = delete;
    SweepRunner &operator=(const SweepRunner &) = delete;

    // Set while no sweep runs.
    void setPointHook(PointHook hook) { m_pointHook = std::move(hook); }
    void setStatusHook(StatusHook hook) { m_statusHook = std::move(hook); }
    void setFinishedHook(FinishedHook hook) { m_finishedHook = std::move(hook); }

    // Starts the sweep on the worker. False (nothing started) while a sweep runs or the
    // previous worker is still in a receiver call after an abort, or for an empty plan.
    bool start(SweepConfig config);

    // Ends the sweep once the point being read is complete (a settle wait ends at once).
    void requestStop();

    // Ends the sweep now: a reading in progress is dropped with its point, and by return the
    // worker no longer uses the capture or the switch outputs (the worker itself may still be
    // in a receiver call, which it leaves without touching them). Window thread.
    void abort();

    // Whether the worker is still at work (the finished hook has not yet returned).
    bool running() const { return m_running.load(std::memory_order_acquire); }

    // Waits until the sweep has ended (the finished hook has returned); true when it has.
    bool waitFinished(std::chrono::milliseconds timeout);

    // The rows of the last sweep, as delivered so far. Any thread (a copy under a lock).
    std::vector<SweepRow> rows() const;

private:
    class PointListener;
    void run();
    // Measures one point at `frequencyMHz` into `row`; false when the sweep must end
    // (`outcome` then says how; a point that was complete is still kept).
    bool measurePoint(double frequencyMHz, SweepRow &row, SeriesReadings &last,
                      SweepOutcome &outcome);
    void status(const std::string &text);

    QuillonEngine &m_engine;
    SweepConfig m_config; // written by start() before the worker starts; read by it
    PointHook m_pointHook;
    StatusHook m_statusHook;
    FinishedHook m_finishedHook;

    std::thread m_worker;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_abort{false};

    // Held by the worker while it uses the capture and the switch outputs; abort() takes it
    // to know they are free. m_series is the worker's, except cancel().
    std::mutex m_captureMutex;
    std::unique_ptr<SeriesRunner> m_series;
    ResultLine m_line; // the log lines' result text, the worker's own

    mutable std::mutex m_mutex; // guards the rows, the ended flag; wakes the settle wait
    std::condition_variable m_wake;
    std::vector<SweepRow> m_rows;
    bool m_ended = true;
};

} // namespace quillon
