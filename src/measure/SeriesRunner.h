#pragma once

#include "measure/ModalReading.h"
#include "measure/SeriesReadings.h"

#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace quillon {

class MeasurementLog;
class QuillonEngine;
class SettingsStore;
class ResultLine;
struct Settings;

// The one procedure that turns a series of modal readings into results. The Measure Device
// and Calibrate Noise Source pages, quillon-cli measure and calibrate, and every point of a
// sweep run it; they differ only in what they show of it (SeriesListener).
//
// One series is what one "Measure" press takes: the readings of the button's sequence
// (nextSeriesReading), each with the switch outputs set first, the dummy and automatic dummy
// reads discarded, the counted blocks averaged (or, averaging to a precision, taken until
// the noise figure's statistical half-width will reach the target), the reading stored,
// evaluated, logged and reported; with more than one pass, again until cancelled. A
// failed, cancelled or over-range reading ends the series; an earlier value of that reading
// is kept.
//
// A device that does not start counts as failed ("I could not open the wave device to read
// audio."), one that started but delivers no block for readingStallLimit() too ("The wave
// device stopped delivering audio during the reading."), a block above 0.98 of full scale
// ends the reading ("Error. Signal level too high."), a log line that cannot be written ends
// the series after the reading is stored ("Error - Cannot open log file.").

// What one series does. Copied when the series starts.
struct SeriesPlan
{
    SeriesConditions conditions; // its kind, system mode, ENR, T0, off temperatures
    StatedUncertainty stated;    // in the uncertainty of every result reported
    int button = 0;              // the reading whose "Measure" started the series, 0..3
    // The automations that decide the sequence ("Noise Gen", "DUT switch"), and whether the
    // runner drives the switch outputs before every reading (a switch port is chosen and an
    // automation is on); otherwise the listener's beforeReading is where the user switches.
    bool noiseGen = false;
    bool dutSwitch = false;
    bool driveSwitches = false;
    int passes = 1; // how often the sequence runs; 0 = until cancelled ("Repeat")
    // Device series: every ON reading whose OFF partner follows it in the sequence is taken
    // in two halves around it, ON (the first half of its counted blocks), OFF (all of its
    // blocks), ON (the second half, resumed), so that a linear drift of the receiver's gain
    // cancels in the Y factor. The two halves of an odd count differ by one block (the
    // second is the longer); a count of 1 becomes 2, a block on either side. Averaging to a
    // precision keeps the sequential order: its block counts are not known beforehand.
    bool driftOrder = false;
    // Dummy reads, averaging and the automatic dummy reads of every reading (its `precision`
    // is ignored: the runner fills it from `precision` below).
    ReadingPlan reading;
    // Averaging to a precision (device and sky series): every reading takes blocks until the
    // noise figure's (a sky series: the Y factor's) statistical 95% half-width will be at
    // most the target. The target is shared among the readings by their sensitivities; a
    // noise figure's need every reading's power: a pass that does not know them all (the
    // first) takes a pilot of `pilotBlocks` counted blocks of each reading but the last,
    // takes the last in full, and then goes back to the readings whose pilot does not yet
    // meet its share.
    std::optional<PrecisionTarget> precision;
    int pilotBlocks = 2;
    // Where the ENR is taken from the ENR file (the entry frequency, MHz), NaN without a
    // file: kept with the receiver calibration a device series leaves in the engine.
    double enrFrequencyMHz = PrecisionReading::kNaN;
    // Linear powers expected for readings the store does not hold (the previous point of a
    // sweep); NaN = not known. They only share the precision target.
    std::array<double, kDeviceReadingCount> expectedPowers{
        PrecisionReading::kNaN, PrecisionReading::kNaN, PrecisionReading::kNaN,
        PrecisionReading::kNaN};
};

// Averaging to a precision as the user types it: on, with a target (dB, 95% half-width of
// the noise figure) above 0; the time limit of one reading (s) where it is above 0, else
// the default. Nothing when off or the target is not a number above 0.
std::optional<PrecisionTarget> precisionFromText(bool on, std::string_view targetDb,
                                                 std::string_view maxSeconds);

// What a plan's precision target bounds: the noise figure for a device series, the Y factor
// for a sky series; nothing without a target or for a calibration series.
std::optional<PrecisionQuantity> precisionQuantity(const SeriesPlan &plan);

// The series options Measure Device keeps in the store as they are edited, which the sweep
// and quillon-cli take as their defaults: "EnrUncertainty" and "TSoffUncertainty" (typed
// 95% half-widths), "AveragePrecisionFlag", "AveragePrecision", "AveragePrecisionMaxTime"
// "AutomaticDummyReads" and "DriftCancellingOrder".
struct StoredSeriesOptions
{
    double enrUncertaintyDb = 0.0;
    double tsOffUncertaintyK = 0.0;
    std::optional<PrecisionTarget> precision;
    bool autoDummy = false;
    bool driftOrder = false;
};
StoredSeriesOptions readStoredSeriesOptions(const SettingsStore &store);

// The reading that follows `last` in the sequence of the "Measure" button of reading
// `button` (0..3), or -1 when the sequence is over; `last` = -1 gives the button's own
// reading. Device series:
//   button 0: 0, then 1 with noise-source automation, then in device mode with DUT
//             automation 2, and after it 3 with noise-source automation
//   button 1: 1, then 3 in device mode with DUT automation
//   button 2: 2, then 3 with noise-source automation
//   button 3: 3
// Calibration series: the button of reading 0 or 2 takes its reading and then, with
// "Noise Gen", its OFF partner (1 or 3); the buttons of 1 and 3 take their own reading only.
// Where the DUT output selects the unknown source (`dutSwitch`, quillon-cli calibrate), the
// order is the device series' (0, 1, 2, 3 with both automations).
// Sky series: button 0 takes 0 (on the source) and, with `noiseGen` (something points the
// antenna between them: the bench's sky mode, or quillon-cli's prompt), then 1 (cold sky);
// button 1 takes 1. Where the runner drives the switch outputs (the bench's sky mode) reading
// 0 is the noise source's ON state, reading 1 its OFF state.
int nextSeriesReading(const SeriesPlan &plan, int last);

// The label of reading i in the log and the progress line: nfReadingLabel for a device
// series ("Noise (ON)", "DUT (OFF)"), enrReadingLabel for a calibration, "On source" and
// "Cold sky" for a sky series.
std::string_view seriesReadingLabel(SeriesKind kind, int reading);

// How long a reading waits for the next block before the device counts as failed: three
// capture times and a second, at least two seconds.
std::chrono::milliseconds readingStallLimit(std::uint32_t captureTimeMs);

// One completed reading, as reported after it is stored and evaluated.
struct SeriesReadingReport
{
    int reading = 0;
    std::string_view label;
    double power = 0.0;              // mean linear power, full-scale units
    int blocks = 0;                  // counted blocks
    int autoDummies = 0;             // blocks discarded as automatic dummy reads
    int dummies = 0;                 // blocks discarded as fixed dummy reads
    std::vector<double> blockPowers; // the first 32 counted blocks' L^2
    ReadingTimeline timeline;        // when its counted blocks were taken
    ReadingStatistics statistics;
    ReadingWarnings warnings;
    SeriesEvaluation evaluation;   // the results after this reading
    SeriesUncertainty uncertainty; // and their uncertainty
};

// One pass of the sequence, once it is complete or cut short by a cancel.
struct SeriesPassReport
{
    int pass = 0;          // 0 for the first
    bool cutShort = false; // cancelled before complete: results from this pass's readings only
    std::array<bool, kDeviceReadingCount> taken{}; // the readings this pass completed
    SeriesEvaluation evaluation;
    SeriesUncertainty uncertainty;
    ReadingWarnings warnings;
};

enum class SeriesEnd
{
    Complete,  // every pass ran
    Cancelled, // cancel(), or the listener said so; no message
    Failed     // a reading failed: `messageId` says how (0 for a device that did not open)
};

struct SeriesOutcome
{
    SeriesEnd end = SeriesEnd::Complete;
    int messageId = 0; // kMsgSignalTooHigh, kMsgCannotOpenWaveDevice,
                       // kMsgDeviceStoppedDelivering, kMsgCannotOpenLog; 0
    int reading = -1;  // the reading that failed
    int passes = 0;    // passes completed
};

// What a caller of the runner shows. The runner's thread calls everything but progress and
// readingEnded, which come from the capture delivery thread and must not wait for the
// runner's thread.
class SeriesListener
{
public:
    virtual ~SeriesListener() = default;

    // Before reading `reading` starts, after the switch outputs are set: where the user
    // switches by hand, a page arms its wait dialog. False cancels the series.
    virtual bool beforeReading(int reading, std::string_view label);
    // While the reading runs: waits at most `slice` or until the reading ends, and returns
    // false to cancel the series. The default blocks on the reading itself (a caller without
    // an event loop); a window runs its events meanwhile.
    virtual bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice);
    // Once the capture of a reading has stopped, however the reading ended.
    virtual void afterReading(int reading);
    virtual void readingDone(const SeriesReadingReport &report);
    virtual void passDone(const SeriesPassReport &pass);
    // A failure the user is to be told of (the message's number).
    virtual void message(int messageId);

    // Delivery thread.
    virtual void progress(const ReadingProgress &progress);
    virtual void readingEnded(int outcome);
};

class SeriesRunner
{
public:
    // The capture, filter and switch outputs are the engine's; `settings` the capture
    // settings the readings use (the engine's, or a sweep's copy), `line` the result line
    // the evaluations write. All must outlive the runner.
    SeriesRunner(QuillonEngine &engine, const Settings &settings, ResultLine &line);
    ~SeriesRunner();
    SeriesRunner(const SeriesRunner &) = delete;
    SeriesRunner &operator=(const SeriesRunner &) = delete;

    // Where the log lines go (the engine's log by default). Set while no series runs.
    void setLog(const MeasurementLog &log) { m_log = &log; }

    // Runs the series on the calling thread into `readings` (which keeps them afterwards)
    // and returns how it ended. One series at a time: a call while one runs (a page's
    // button pressed from a nested event loop) returns Cancelled at once.
    SeriesOutcome run(const SeriesPlan &plan, SeriesReadings &readings, SeriesListener &listener);

    // Any thread: ends the series in progress; its reading is dropped and the capture
    // stopped before run() returns. No effect while none runs.
    void cancel() { m_cancel.store(true, std::memory_order_release); }
    bool running() const { return m_running; }

    // How often the runner looks at a running reading (cancel, stall).
    static constexpr std::chrono::milliseconds kWatchSlice{50};

private:
    enum class Taken
    {
        Ok,
        Cancelled,
        Failed
    };
    struct Pass;

    Taken take(Pass &pass, int reading, const ReadingPlan &plan, const ReadingCarry *resume);
    // `halves`: the statistics of a reading's two halves (the drift-cancelling order).
    Taken complete(Pass &pass, int reading, const ReadingCarry &carry,
                   const std::array<ReadingStatistics, 2> *halves = nullptr);
    bool runPass(Pass &pass);
    bool runDriftPair(Pass &pass, int on);
    void keepReceiverCalibration(const Pass &pass);
    bool runPilotPass(Pass &pass, const std::vector<int> &sequence);
    ReadingPlan precisionPlan(const Pass &pass, int reading) const;
    bool cancelled() const { return m_cancel.load(std::memory_order_acquire); }

    QuillonEngine &m_engine;
    const Settings &m_settings;
    ResultLine &m_line;
    const MeasurementLog *m_log;
    ModalReading m_reading;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    SeriesListener *m_listener = nullptr; // while run() runs; the hooks reach it
    // The series' clock (s) that the readings' timelines use: each capture advances it by
    // the longer of the audio it delivered and the wall time it took (the bench at speed 0
    // delivers faster than real time, a sound card slower with opening and switching);
    // between two run()s by the wall time passed.
    double m_clock = 0.0;
    std::optional<std::chrono::steady_clock::time_point> m_lastRunEnd;
};

} // namespace quillon
