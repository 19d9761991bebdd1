#pragma once

#include "measure/MeasurementLog.h"
#include "measure/ReadingSeries.h"
#include "ui/pages/PropertyPage.h"
#include "ui/pages/ReadingPageWidgets.h"
#include "ui/pages/ReadingRunner.h"

#include <QFont>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillon {

class MeasuringNoiseDialog;
class QuillonEngine;
class SettingsStore;
class SharedValues;

// "Measure Device": the noise figure and gain of a device under test, or the noise figure of
// the whole receiving system, by the Y-factor method from four modal readings (noise source
// on and off, DUT out of and in circuit). With "Noise Gen" and "DUT switch" the page drives
// the switch outputs itself, so one "Measure" takes a whole series, and with "Repeat" runs it
// again until "Cancel". Each completed reading is evaluated at once and, with logging on,
// written as an "NF" line.
//
// Values: the ENR entry, TSoff, T0, the dummy-read count and the averaging flag and count are
// the shared values (written at exit by the application, or by "Save as Defaut" here); the
// two automation flags are loaded from "AutomateNoiseSwitchInMeasureFunction" and
// "AutomateDutSwitchInMeasureFunction" (lowest bit). Repeat and system mode start off.
// Window thread only; the page captures only while a reading runs.
class MeasureDevicePage : public PropertyPage
{
    Q_OBJECT
public:
    // `resultFont` is the program's result font (the Measure Noise page's).
    MeasureDevicePage(QuillonEngine &engine, SettingsStore &store, SharedValues &shared,
                      MeasuringNoiseDialog &dialog, const QFont &resultFont,
                      QWidget *parent = nullptr);
    ~MeasureDevicePage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    // Where the NF lines take their time from.
    void setLogClock(LocalClock clock);

    // Whether a "Measure" series is running (its wait dialog is up, or it is between two
    // readings).
    bool seriesRunning() const { return m_seriesRunning; }
    const DeviceReadings &readings() const { return m_readings; }
    double enrInEffect() const { return m_enrInEffect; }

private:
    void buildControls(const QFont &resultFont, const SettingsStore &store);
    void updateDeviceControls();
    void computeDeviceResults();
    void showEvaluation(const DeviceEvaluation &evaluation);
    DeviceConditions conditions() const;
    StatedUncertainty stated() const;
    ReadingPlan readingPlan(int reading) const;

    void runSeries(int button);
    bool measureReading(int reading);

    void onEntryChanged(const QString &text);
    void onTsOffChanged(const QString &text);
    void onSystemModeClicked(bool checked);
    void onClearReadings();
    void onSaveAsDefault();
    void clearUncertainty();

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared;
    ReadingRunner m_runner;
    MeasurementLog m_log;
    DeviceReadings m_readings;

    bool m_noiseGen = false;  // noise-source automation
    bool m_dutSwitch = false; // DUT automation
    bool m_repeat = false;
    bool m_systemMode = false;
    double m_enrInEffect = 0.0; // dB; set by every change of the entry field
    bool m_seriesRunning = false;
    bool m_active = false; // the page is the active tab; a series ends when it is left
    // The readings taken in the current pass of a series (averaging to a precision shares its
    // target among them).
    std::array<bool, kDeviceReadingCount> m_takenInPass{};

    // Controls.
    std::array<ReadingRow, kDeviceReadingCount> m_rows;
    QGroupBox *m_referenceGroup = nullptr;
    QGroupBox *m_deviceGroup = nullptr;
    QLabel *m_entryCaption = nullptr;
    QLineEdit *m_entry = nullptr;
    QLabel *m_computedCaption = nullptr;
    QLineEdit *m_computed = nullptr;
    QLineEdit *m_tsOff = nullptr;
    QCheckBox *m_systemBox = nullptr;
    QPushButton *m_clearButton = nullptr;
    AutomateControls m_automate;
    QLabel *m_gainCaption = nullptr;
    QLineEdit *m_gainField = nullptr;
    QLineEdit *m_teField = nullptr;
    QLineEdit *m_fField = nullptr;
    QLineEdit *m_nfField = nullptr;
    // Beside each result: its statistical and total 95% half-widths; below them the readings'
    // warnings.
    struct HalfWidthFields
    {
        QLineEdit *statistical = nullptr;
        QLineEdit *total = nullptr;
    };
    HalfWidthFields m_gainHalfWidth, m_teHalfWidth, m_fHalfWidth, m_nfHalfWidth;
    QLabel *m_warningLabel = nullptr;
    // The stated uncertainties (the ENR's is the ENR file's where it gives one) and the
    // averaging to a precision.
    QLineEdit *m_enrUncertainty = nullptr;
    QLineEdit *m_tsOffUncertainty = nullptr;
    QCheckBox *m_precisionEnable = nullptr;
    QLineEdit *m_precisionTarget = nullptr;
    QLineEdit *m_precisionMaxTime = nullptr;
    QCheckBox *m_autoDummy = nullptr;
};

} // namespace quillon
