#pragma once

#include "ui/pages/ReadingPage.h"

#include <QFont>

class QLineEdit;

namespace quillon {

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
class CalibrateNoiseSourcePage : public ReadingPage
{
    Q_OBJECT
public:
    CalibrateNoiseSourcePage(const PageContext &context, QWidget *parent = nullptr);
    ~CalibrateNoiseSourcePage() override;

protected:
    SeriesConditions conditions() const override;
    void showResults(const SeriesEvaluation &evaluation,
                     const SeriesUncertainty &uncertainty) override;
    void updatePageControls() override;
    void showPageValues() override;

private:
    void buildControls(const QFont &resultFont);

    double m_tsOffReference = 293.0; // K
    double m_tsOffTarget = 293.0;    // K

    QLineEdit *m_tsOffReferenceField = nullptr;
    QLineEdit *m_tsOffTargetField = nullptr;
    QLineEdit *m_t0Field = nullptr;
    QLineEdit *m_enrResult = nullptr;
    // Beside the result: its statistical and total 95% half-widths.
    QLineEdit *m_enrStatistical = nullptr;
    QLineEdit *m_enrTotal = nullptr;
};

} // namespace quillon
