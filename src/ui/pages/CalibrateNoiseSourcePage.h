#pragma once

#include "measure/MeasurementLog.h"
#include "measure/ReadingSeries.h"
#include "ui/pages/PropertyPage.h"
#include "ui/pages/ReadingPageWidgets.h"
#include "ui/pages/ReadingRunner.h"

#include <QFont>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillon {

class MeasuringNoiseDialog;
class QuillonEngine;
class SettingsStore;
class SharedValues;

// "Calibrate Noise Source": the ENR of a noise source of unknown ENR (the target), found by
// comparing it with the calibrated reference source at one frequency. Four modal readings
// (reference on and off, unknown on and off) give the "Computed ENR"; with "Noise Gen" the
// page switches the noise source (and the DUT output, which selects the unknown source)
// itself, and with "Repeat" it measures until "Cancel". Each completed reading is written as
// an "ENR" line while logging is on.
//
// Values: the reference and target TSoff start from the stored "TSoff" and are never saved;
// "Noise Gen" is loaded from "AutomateNoiseSwitchInCalibrateFunction" (lowest bit). The ENR
// entry, T0 (shown, not edited), the dummy-read count and the averaging flag and count are
// the shared values. Window thread only; the page captures only while a reading runs.
class CalibrateNoiseSourcePage : public PropertyPage
{
    Q_OBJECT
public:
    CalibrateNoiseSourcePage(QuillonEngine &engine, SettingsStore &store, SharedValues &shared,
                             MeasuringNoiseDialog &dialog, const QFont &resultFont,
                             QWidget *parent = nullptr);
    ~CalibrateNoiseSourcePage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    void setLogClock(LocalClock clock);

    bool seriesRunning() const { return m_seriesRunning; }
    const CalibrationReadings &readings() const { return m_readings; }

private:
    void buildControls(const QFont &resultFont);
    void refreshEnables();
    void compute();
    void showResult(const CalibrationEvaluation &evaluation);
    StatedUncertainty stated() const;
    CalibrationConditions conditions() const;

    void runSeries(int button);
    bool takeReading(int reading);

    void onEntryChanged(const QString &text);
    void onClearReadings();
    void onSaveAsDefault();

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared;
    ReadingRunner m_runner;
    MeasurementLog m_log;
    CalibrationReadings m_readings;

    double m_tsOffReference = 293.0; // K
    double m_tsOffTarget = 293.0;    // K
    double m_enrInEffect = 0.0;      // dB, the reference's
    bool m_noiseGen = false;
    bool m_repeat = false;
    bool m_seriesRunning = false;
    bool m_active = false;

    std::array<ReadingRow, kDeviceReadingCount> m_rows;
    QLabel *m_entryCaption = nullptr;
    QLineEdit *m_entry = nullptr;
    QLabel *m_computedCaption = nullptr;
    QLineEdit *m_computed = nullptr;
    QPushButton *m_clearButton = nullptr;
    AutomateControls m_automate;
    QLineEdit *m_tsOffReferenceField = nullptr;
    QLineEdit *m_tsOffTargetField = nullptr;
    QLineEdit *m_t0Field = nullptr;
    QLineEdit *m_enrResult = nullptr;
    // Beside the result: its statistical and total 95% half-widths, the stated uncertainties
    // they use (shared with Measure Device), and below them the readings' warnings.
    QLineEdit *m_enrStatistical = nullptr;
    QLineEdit *m_enrTotal = nullptr;
    QLineEdit *m_enrUncertainty = nullptr;
    QLineEdit *m_tsOffUncertainty = nullptr;
    QLabel *m_warningLabel = nullptr;
};

} // namespace quillon
