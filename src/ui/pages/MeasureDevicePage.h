#pragma once

#include "measure/CorrectionSettings.h"
#include "measure/Report.h"
#include "ui/pages/ReadingPage.h"

#include <QFont>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillon {

// "Measure Device": the noise figure and gain of a device under test, or the noise figure of
// the whole receiving system, by the Y-factor method from four modal readings (noise source
// on and off, DUT out of and in circuit). With "Noise Gen" and "DUT switch" the page drives
// the switch outputs itself, so one "Measure" takes a whole series, and with "Repeat" runs it
// again until "Cancel". Each completed reading is evaluated at once and, with logging on,
// written as an "NF" line. "Averaging to a precision" takes blocks for each reading until the
// noise figure's statistical half-width will reach its target.
//
// Values: the ENR entry, TSoff, T0, the dummy-read count and the averaging flag and count are
// the shared values (written at exit by the application, or by "Save as Defaut" here); the
// two automation flags are loaded from "AutomateNoiseSwitchInMeasureFunction" and
// "AutomateDutSwitchInMeasureFunction" (lowest bit). Repeat and system mode start off.
// Window thread only; the page captures only while a reading runs.
class MeasureDevicePage : public ReadingPage
{
    Q_OBJECT
public:
    MeasureDevicePage(const PageContext &context, QWidget *parent = nullptr);
    ~MeasureDevicePage() override;

    // The report of the readings present, as "Save Report..." writes it (results empty while
    // the readings are not complete).
    ReportData reportData() const;
    // The file "Save Report..." writes to, or empty when the user cancels. Default: a modal
    // QFileDialog for saving; tests give their own.
    using ReportDialog = std::function<QString()>;
    void setReportDialog(ReportDialog dialog) { m_reportDialog = std::move(dialog); }

protected:
    SeriesConditions conditions() const override;
    // Adds the precision as the page's fields have it.
    SeriesPlan seriesPlan(int button) const override;
    void showResults(const SeriesEvaluation &evaluation,
                     const SeriesUncertainty &uncertainty) override;
    void updatePageControls() override;
    void showPageValues() override;
    // A correction that cannot be applied (a negative loss, a table that does not cover the
    // frequency) computes nothing and takes no reading; the line under the results says why.
    bool ownEntriesValid(bool forSeries) const override;

private:
    void buildControls(const QFont &resultFont, const SettingsStore &store);
    void onTsOffChanged(const QString &text);
    // "Corrections...": the dialog; OK keeps the entries in the settings group "Corrections".
    void editCorrections();
    // The corrections at the frequency measured: the ENR entry while the ENR file is in use,
    // else the one entered with the corrections.
    Result resolvedCorrections(ChainCorrections &out) const;
    // The limits as typed (an empty field: no such limit), at the entry's frequency.
    Limits limits() const;
    double resultFrequencyMHz() const;
    // The verdict of the result shown, in words and colour, or why there is none.
    void showVerdict();
    void saveReport();

    bool m_systemMode = false; // "Overall System Noise Figure": readings 0 and 1 alone

    QGroupBox *m_referenceGroup = nullptr;
    QGroupBox *m_deviceGroup = nullptr;
    QLineEdit *m_tsOff = nullptr;
    QCheckBox *m_systemBox = nullptr;
    QLabel *m_gainCaption = nullptr;
    QLineEdit *m_gainField = nullptr;
    QLineEdit *m_teField = nullptr;
    QLineEdit *m_fField = nullptr;
    QLineEdit *m_nfField = nullptr;
    // Beside each result: its statistical and total 95% half-widths.
    struct HalfWidthFields
    {
        QLineEdit *statistical = nullptr;
        QLineEdit *total = nullptr;
    };
    HalfWidthFields m_gainHalfWidth, m_teHalfWidth, m_fHalfWidth, m_nfHalfWidth;
    // Averaging to a precision and the automatic dummy reads.
    QCheckBox *m_precisionEnable = nullptr;
    QLineEdit *m_precisionTarget = nullptr;
    QLineEdit *m_precisionMaxTime = nullptr;
    // The losses around the DUT and the converter, their tables as read when entered, and
    // the "corrected for" line under the results.
    CorrectionSettings m_corrections;
    LossTables m_lossTables;
    Result m_tablesRead;
    QPushButton *m_correctionsButton = nullptr;
    QLabel *m_correctedFor = nullptr;
    QCheckBox *m_driftOrder = nullptr; // kept in the store as it is clicked
    // Limits, the DUT record and the verdict beside the results.
    QLineEdit *m_nfMax = nullptr;
    QLineEdit *m_gainMin = nullptr;
    QLineEdit *m_gainMax = nullptr;
    QLineEdit *m_dutName = nullptr;
    QLineEdit *m_dutSerial = nullptr;
    QLineEdit *m_dutNotes = nullptr;
    QLineEdit *m_verdictField = nullptr;
    QPushButton *m_saveReport = nullptr;
    bool m_resultShown = false; // showResults ran since the readings were last cleared
    DeviceResultsUncertainty m_shownUncertainty;
    DeviceResults m_shownResults;
    ReportDialog m_reportDialog;
};

} // namespace quillon
