#pragma once

#include "core/Result.h"
#include "nf/Corrections.h"

#include "core/SettingsStore.h"
#include "measure/Limits.h"
#include "measure/LiveMeter.h"
#include "ui/LiveTrend.h"
#include "ui/pages/PropertyPage.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

class QLabel;
class QPushButton;
class QSpinBox;

namespace quillon {

namespace keys {
// The live view's smoothing: groups of four blocks averaged, 1..32.
inline constexpr IntValue LiveSmoothingGroups{"LiveSmoothingGroups", 8};
// The age from which a receiver calibration is called too old, minutes, 1..1440.
inline constexpr IntValue LiveCalibrationMaxAgeMinutes{"LiveCalibrationMaxAgeMinutes", 30};
} // namespace keys

// "45 s", "4 min 10 s", "2 h 5 min": how long ago a calibration was taken (s; below 0 reads
// as 0).
QString calibrationAgeText(double seconds);

// "Live Noise Figure", after Measure Device: the noise source switched continuously (ON, OFF,
// OFF, ON, one capture block each) by a LiveMeter, and the DUT's corrected noise figure and
// gain shown in large digits with their 95% half-widths after every group, or the system's
// noise figure while no receiver calibration is in use. Under them: the groups used and the
// smoothing, Start, Stop, "Calibrate" (the receiver alone, the DUT switched out, taken by the
// meter), the calibration's age and conditions and a plain warning when it is too old or was
// taken at another frequency, ENR or TSoff than now; the verdict of the noise figure and gain
// shown against Measure Device's limits (PASS, FAIL or INDETERMINATE in words and colour, by
// the same rule: the 95% interval against the limit); a trend strip of the last five minutes
// of NF and gain with the best noise figure so far, which "Reset best" forgets.
//
// The conditions are the shared ones of Measure Device (ENR entry, TSoff, T0, the ENR file
// while in use) and its stated uncertainties; the calibration is the engine's, the newer of
// Measure Device's (its readings 1 and 2) and the last one taken here. Stored:
// the smoothing and the largest calibration age (keys above), written as they change.
//
// Threads: the meter calls the listener on its own thread; each call posts a copy to this
// page, tagged with the run it belongs to, and the window thread drops what a run that has
// since stopped sent. Leaving the page (another tab, the window closing) stops the meter,
// which returns once its thread has ended with the noise source OFF. Window thread otherwise.
class LiveNoiseFigurePage : public PropertyPage, private LiveListener
{
    Q_OBJECT
public:
    explicit LiveNoiseFigurePage(const PageContext &context, QWidget *parent = nullptr);
    ~LiveNoiseFigurePage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    bool running() const { return m_running; }
    const LiveTrend &trend() const { return m_trend; }
    // Updates shown since the page was made, and the last one.
    int updatesShown() const { return m_updatesShown; }
    const LiveUpdate &lastUpdate() const { return m_last; }
    // The calibration the next Start uses (or the running meter uses).
    const ReceiverCalibration &calibration() const { return m_calibration; }

    // What the conditions are now, as Start would hand them to the meter (the corrections
    // not yet resolved: resolveCorrections).
    LivePlan currentPlan() const;
    // The losses around the DUT and a converter as Measure Device keeps them (settings group
    // "Corrections"), at the frequency measured now; a failed Result names the entry.
    Result resolveCorrections(const LivePlan &plan, ChainCorrections &out) const;
    // Measure Device's limits as stored (read at activation).
    const Limits &limits() const { return m_limits; }

private:
    void start();
    // Starts, with a receiver calibration of that many groups first (0: none).
    void startWith(int calibrationGroups);
    void stop();
    void calibrate();
    void setRunning(bool on);
    // The engine's calibration, the one the next Start uses.
    void pickCalibration();
    // The calibration's text, the conditions now and the warning; every second while shown.
    void showCalibration();
    void showUpdate(const LiveUpdate &update);
    void showBest();
    void readLimits();
    void showVerdict();
    void runFailed(int messageId);

    // LiveListener: the meter's thread; each posts to the window thread.
    void update(const LiveUpdate &update) override;
    void calibrated(const ReceiverCalibration &calibration) override;
    void failed(int messageId) override;

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared;
    LiveTrend m_trend;
    LivePlan m_plan; // the conditions shown and checked: read at activation and at Start
    ReceiverCalibration m_calibration;
    LiveUpdate m_last;
    Limits m_limits;
    int m_updatesShown = 0;
    bool m_running = false;
    bool m_calibrating = false;
    bool m_shownCorrected = false; // what the trend holds: the DUT's (true) or the system's
    std::atomic<int> m_run{0};     // the run the meter's calls belong to (read on its thread)
    QTimer m_clock;                // the calibration's age, once a second while shown

    QLabel *m_nfCaption = nullptr;
    QLabel *m_nfValue = nullptr;
    QLabel *m_nfHalfWidth = nullptr;
    QLabel *m_gainValue = nullptr;
    QLabel *m_gainHalfWidth = nullptr;
    QLabel *m_modeLabel = nullptr;
    QLabel *m_verdictLabel = nullptr;
    QLabel *m_groupsLabel = nullptr;
    QSpinBox *m_smoothing = nullptr;
    QSpinBox *m_maxAge = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_calibrateButton = nullptr;
    QPushButton *m_resetBestButton = nullptr;
    QLabel *m_bestLabel = nullptr;
    QLabel *m_calibrationLabel = nullptr;
    QLabel *m_conditionsLabel = nullptr;
    QLabel *m_warningLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    LiveTrendStrip *m_strip = nullptr;

    // Last: destroyed first, so that its thread has ended before anything it calls goes.
    std::unique_ptr<LiveMeter> m_meter;
};

} // namespace quillon
