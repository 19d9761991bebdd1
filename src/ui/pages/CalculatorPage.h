#pragma once

#include "nf/Corrections.h"
#include "nf/NoiseResults.h"
#include "ui/pages/PropertyPage.h"

#include <QFont>

#include <array>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillon {

class QuillonEngine;
class SharedValues;

// "Calculator": the noise-figure formulas on typed values; it measures nothing. Four modes:
//   Simple Calculator        Te, F and NF from whichever of the three the user types;
//   Y Factor Device          the DUT's Te, F, NF and gain from four readings in dB;
//   Y Factor System          the receiving system's Te, F, NF from two readings in dB;
//   Calibrate Noise Source   the ENR of a second source from two pairs of readings.
// In every mode a receiver noise bandwidth (kHz) other than 0 adds the noise floor (dBm) of
// the noise figure held. Every keystroke in a field recomputes and shows the results; the
// evaluations are those of nf/NoiseResults, shown through ResultText. A result the mode has
// not computed is blank, and so is every result that depends on a field whose text is not a
// number (that field is marked). Outside Simple the results are read-only but selectable.
//
// Nothing is saved. TSoff and T0 start from the shared values (loaded from "TSoff" and "T0"
// at start-up); every activation refills the ENR field from the shared ENR entry and
// re-shows the temperatures. Window thread only.
class CalculatorPage : public PropertyPage
{
    Q_OBJECT
public:
    // The mode buttons' order.
    enum class Mode
    {
        Simple,
        DeviceYFactor,
        SystemYFactor,
        CalibrateSource
    };

    // `resultFont` is the font of every result field of the program (the Measure Noise
    // page's). `engine` (settings, ENR table) and `shared` must outlive the page.
    CalculatorPage(QuillonEngine &engine, SharedValues &shared, const QFont &resultFont,
                   QWidget *parent = nullptr);

    void initializePage() override;
    void activatePage() override;

    Mode mode() const { return m_mode; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Te, F or NF: the Simple mode's three fields, which the user types into.
    enum class Quantity
    {
        None,
        Te,
        F,
        Nf
    };
    static constexpr int kReadings = 4;

    void buildControls();
    void applyModeControls();
    bool compute();
    void update(Quantity source);
    void showResult(QLineEdit *field, double value, bool valid);
    // The corrections as the fields stand: false, with the message in `why`, for one that
    // cannot be applied.
    bool correctionsFromFields(ChainCorrections &corrections, std::string &why) const;
    void onCorrectionsChanged();
    // Whether every field the current mode computes with holds a number (readings only once
    // typed); the Simple mode's typed quantity counts there.
    bool inputsValid() const;
    QLineEdit *fieldOf(Quantity q) const;

    void onModeClicked(int id);
    void onReadingChanged(int k);
    void onEnrChanged();
    void onReferenceTsOffChanged();
    void onUnknownTsOffChanged();
    void onT0Changed();
    void onBandwidthChanged();
    void onResultChanged(Quantity q);

    QuillonEngine &m_engine;
    SharedValues &m_shared;
    QFont m_resultFont;

    Mode m_mode = Mode::Simple;
    double m_referenceTsOff = 293.0; // K
    double m_unknownTsOff = 293.0;   // K
    double m_t0 = 290.0;             // K, this page's own; Calibrate uses the shared T0
    double m_enrEntry = 0.0;         // ENR (dB), or frequency (MHz) while the file is in use
    double m_enrInEffect = 0.0;      // dB
    double m_bandwidth = 0.0;        // kHz; 0 = no noise floor
    NoiseResult m_noise;             // Te (K), F, NF (dB) held: typed or computed
    std::array<double, kReadings> m_readingDb{};
    std::array<bool, kReadings> m_present{}; // from the field's first change on, for good
    CalcDeviceResult m_device;               // the last Y Factor Device evaluation
    EnrResult m_unknownEnr;                  // the last Calibrate Noise Source evaluation
    bool m_gainComputed = false;
    bool m_enrComputed = false;
    // The last compute(): whether this mode's Te, F and NF came from it, and whether every
    // field the mode reads held a number. A result the mode has not computed stays blank.
    bool m_noiseComputed = false;
    bool m_inputsValid = true;
    Quantity m_focused = Quantity::None;     // the result field that has the focus now
    Quantity m_lastFocused = Quantity::None; // the one that last lost it

    // Controls.
    QButtonGroup *m_modeButtons = nullptr;
    std::array<QRadioButton *, 4> m_modeButton{};
    QGroupBox *m_readingsGroup = nullptr;
    std::array<QLabel *, kReadings> m_readingCaption{};
    std::array<QLineEdit *, kReadings> m_readingField{};
    QLabel *m_enrCaption = nullptr;
    QLineEdit *m_enrField = nullptr;
    QLabel *m_enrInEffectCaption = nullptr;
    QLineEdit *m_enrInEffectField = nullptr;
    QLabel *m_referenceTsOffCaption = nullptr;
    QLineEdit *m_referenceTsOffField = nullptr;
    QLabel *m_unknownTsOffCaption = nullptr;
    QLineEdit *m_unknownTsOffField = nullptr;
    QLineEdit *m_t0Field = nullptr;
    QLabel *m_gainCaption = nullptr;
    QLineEdit *m_gainField = nullptr;
    QLabel *m_teCaption = nullptr;
    QLineEdit *m_teField = nullptr;
    QLabel *m_fCaption = nullptr;
    QLineEdit *m_fField = nullptr;
    QLabel *m_nfCaption = nullptr;
    QLineEdit *m_nfField = nullptr;
    QLabel *m_floorCaption = nullptr;
    QLineEdit *m_floorField = nullptr;
    QLineEdit *m_bandwidthField = nullptr;
    // "Corrections" (Y Factor System and Device): each loss in dB with its temperature in K
    // (an empty loss is none), the converter's image response; the line under them says what
    // the results are corrected for, or why nothing is computed.
    std::array<QLineEdit *, 3> m_lossDbField{};
    std::array<QLineEdit *, 3> m_lossKField{};
    QComboBox *m_converterKind = nullptr;
    QLineEdit *m_imageRejectionField = nullptr;
    QLabel *m_correctionsNote = nullptr;
    // Offers the noise bandwidth Show Spectrum last read from the receiver's passband.
    QPushButton *m_measuredBandwidth = nullptr;
};

} // namespace quillon
