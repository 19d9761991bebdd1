#pragma once

#include "core/SettingsStore.h"
#include "measure/MeasurementLog.h"
#include "measure/SeriesReadings.h"
#include "measure/SeriesRunner.h"
#include "measure/SkyMeasurement.h"
#include "measure/SkyReport.h"
#include "ui/pages/PropertyPage.h"

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quillon {

class MeasuringNoiseDialog;
class SharedValues;

namespace keys {
// The Antenna and Sky page's inputs, kept as typed (the page checks them when measuring).
inline constexpr TextValue SkyLocator{"SkyLocator", ""};
inline constexpr TextValue SkyFrequency{"SkyFrequency", "144"};
inline constexpr TextValue SkyBeamwidth{"SkyBeamwidth", ""};
inline constexpr TextValue SkyFlux{"SkyFlux", ""};
inline constexpr TextValue SkyFluxUncertainty{"SkyFluxUncertainty", "10"};
inline constexpr TextValue SkyK{"SkyK", ""};
inline constexpr TextValue SkyGain{"SkyGain", ""};
inline constexpr TextValue SkyMoonTemperature{"SkyMoonTemperature", "225"};
inline constexpr TextValue SkyTsys{"SkyTsys", ""};
inline constexpr TextValue SkyColdSkyTemperature{"SkyColdSkyTemperature", "10"};
inline constexpr TextValue SkyGroundTemperature{"SkyGroundTemperature", "290"};
// Averaging to a precision of the Y factor: on, its statistical 95% half-width (dB) and the
// longest counted time of one reading (s).
inline constexpr IntValue SkyPrecisionFlag{"SkyPrecisionFlag", 0};
inline constexpr TextValue SkyPrecision{"SkyPrecision", "0.05"};
inline constexpr TextValue SkyPrecisionMaxTime{"SkyPrecisionMaxTime", "60"};
} // namespace keys

// "Antenna and Sky": the receiving system, antenna included, measured on natural noise. Three
// measurements (the Sun, the Moon, cold sky and ground), each two readings of a sky series
// (SeriesKind::Sky) that the user takes with the antenna pointed as the page says: reading 0
// on the source, reading 1 on cold sky. On the virtual bench (its sky mode) one "Measure" of
// the source takes both, the bench pointing between them. "Where to point" shows the Sun's
// and the Moon's azimuth and elevation from the station's locator and the clock.
//
// Threads as ReadingPage's: the runner's progress and readingEnded hooks come from the
// capture delivery thread and only post to the window thread; a reading runs behind the
// window-modal "Measuring Noise" dialog in slices; leaving the page cancels it. Every input is
// kept in the store as it is edited.
class SkyPage : public PropertyPage, protected SeriesListener
{
    Q_OBJECT
public:
    explicit SkyPage(const PageContext &context, QWidget *parent = nullptr);
    ~SkyPage() override;

    void activatePage() override;
    void deactivatePage() override;

    // The clock of the positions and of the record (UTC seconds since 1970); tests fix it.
    void setClock(std::function<double()> clock);
    void setLogClock(LocalClock clock) { m_log = MeasurementLog(std::move(clock)); }

    // The last record of each measurement (empty error and NaN results before one).
    const SkyRecord &record(SkyTarget target) const;
    bool seriesRunning() const { return m_runner.running(); }

    // What "Save Report..." writes: the measurements evaluated so far, with the capture's
    // settings and the precision as they are now.
    SkyReportData reportData() const;
    // The file dialog of "Save Report..." (the HTML file's path; empty: cancelled). Tests
    // replace it.
    using ReportDialog = std::function<QString()>;
    void setReportDialog(ReportDialog dialog) { m_reportDialog = std::move(dialog); }

private:
    struct Measurement
    {
        SkyTarget target = SkyTarget::Sun;
        SeriesReadings readings{SeriesKind::Sky};
        std::array<QLineEdit *, 2> fields{};
        std::array<QPushButton *, 2> buttons{};
        QLabel *results = nullptr;
        SkyRecord record;
        SkyReadingRecord taken[2];
    };

    QGroupBox *makeMeasurement(Measurement &m, const QString &title, const QString &sourceName,
                               QWidget *inputs);
    SkySetup setup(SkyTarget target) const;
    void run(Measurement &m, int button);
    void evaluate(Measurement &m);
    void updatePositions();
    void saveReport();
    // Fills `field` from the store and keeps what is typed there.
    void keepInStore(QLineEdit *field, const TextValue &key);

    // SeriesListener (window thread, but progress and readingEnded)
    bool beforeReading(int reading, std::string_view label) override;
    bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice) override;
    void afterReading(int reading) override;
    void readingDone(const SeriesReadingReport &report) override;
    void passDone(const SeriesPassReport &pass) override;
    void message(int messageId) override;
    void progress(const ReadingProgress &progress) override;
    void readingEnded(int outcome) override;

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared;
    MeasuringNoiseDialog &m_dialog;
    MeasurementLog m_log;
    SeriesRunner m_runner;
    std::function<double()> m_clock;
    std::array<Measurement, 3> m_measurements; // by SkyTarget
    Measurement *m_running = nullptr;          // while a series runs
    bool m_active = false;
    ReportDialog m_reportDialog;

    QLineEdit *m_locator = nullptr;
    QLineEdit *m_frequency = nullptr;
    QLineEdit *m_beam = nullptr;
    QLabel *m_where = nullptr;
    QLineEdit *m_flux = nullptr;
    QLineEdit *m_fluxUncertainty = nullptr;
    QLineEdit *m_k = nullptr;
    QLineEdit *m_gain = nullptr;
    QLineEdit *m_moonTemperature = nullptr;
    QLineEdit *m_tsys = nullptr;
    QLineEdit *m_skyTemperature = nullptr;
    QLineEdit *m_groundTemperature = nullptr;
    QCheckBox *m_precisionEnable = nullptr;
    QLineEdit *m_precisionTarget = nullptr;
    QLineEdit *m_precisionMaxTime = nullptr;
    QTimer *m_positionTimer = nullptr;
};

} // namespace quillon
