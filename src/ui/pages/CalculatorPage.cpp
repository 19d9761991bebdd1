#include "ui/pages/CalculatorPage.h"

#include "capture/ResultText.h"
#include "core/Messages.h"
#include "core/NumberText.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "nf/YFactorMath.h"
#include "ui/pages/ReadingPageWidgets.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace quillon {

namespace {

// A field is read as the longest decimal prefix of its first 127 characters; the page computes
// only from fields that hold a number (isNumberText).
constexpr qsizetype kParsedCharacters = 127;

double parseField(const QLineEdit *field)
{
    return parseDecimal(field->text().left(kParsedCharacters).toStdString());
}

QString fixed(double value, int decimals)
{
    return QString::fromStdString(formatFixed(value, decimals));
}

// Captions of readings 3 and 4 by mode (Simple shows the device captions, greyed out).
const char *const kThirdCaption[] = {"DUT in circuit and Noise source ON",
                                     "DUT in circuit and Noise source ON",
                                     "Unknown noise source ON", "Unknown noise source ON"};
const char *const kFourthCaption[] = {"DUT in circuit and Noise source OFF",
                                      "DUT in circuit and Noise source OFF",
                                      "Unknown noise source OFF", "Unknown noise source OFF"};

QLabel *makeCaption(const QString &text, QLineEdit *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A typed value: any text is accepted; text that is not a number is marked (watchNumberField)
// and computes nothing.
QLineEdit *makeInputField(const char *name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFixedWidth(
        QFontMetrics(field->font()).horizontalAdvance(QStringLiteral("-00000.000")) + 16);
    return field;
}

// A result in the program's result font, wide enough for " 300000.000" and " Error".
QLineEdit *makeResultField(const char *name, const QFont &font, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setFont(font);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFixedWidth(QFontMetrics(font).horizontalAdvance(QStringLiteral(" -300000.000")) + 16);
    return field;
}

} // namespace

CalculatorPage::CalculatorPage(QuillonEngine &engine, SharedValues &shared, const QFont &resultFont,
                               QWidget *parent)
    : PropertyPage(QStringLiteral("Calculator"), QStringLiteral("calculator"), parent),
      m_engine(engine), m_shared(shared), m_resultFont(resultFont)
{
    setObjectName(QStringLiteral("calculatorPage"));
    m_referenceTsOff = shared.tsOff();
    m_unknownTsOff = shared.tsOff();
    m_t0 = shared.t0();
    buildControls();
}

void CalculatorPage::buildControls()
{
    // Calculator Mode: one button per mode, in Mode order.
    auto *modes = new QGroupBox(tr("Calculator Mode"), this);
    modes->setObjectName(QStringLiteral("modeGroup"));
    m_modeButtons = new QButtonGroup(this);
    auto *modeGrid = new QGridLayout(modes);
    const char *const modeTexts[] = {"Simple Calculator", "Y Factor Device", "Y Factor System",
                                     "Calibrate Noise Source"};
    const char *const modeNames[] = {"simpleMode", "deviceMode", "systemMode", "calibrateMode"};
    for (int id = 0; id < 4; ++id) {
        auto *button = new QRadioButton(tr(modeTexts[id]), modes);
        button->setObjectName(QLatin1String(modeNames[id]));
        m_modeButtons->addButton(button, id);
        m_modeButton[static_cast<std::size_t>(id)] = button;
        modeGrid->addWidget(button, id / 2, id % 2);
    }
    m_modeButton[0]->setChecked(true);

    // Y factor readings, in dB.
    m_readingsGroup = new QGroupBox(tr("Y factor readings"), this);
    m_readingsGroup->setObjectName(QStringLiteral("readingsGroup"));
    auto *readings = new QGridLayout(m_readingsGroup);
    const char *const readingNames[] = {"reading1", "reading2", "reading3", "reading4"};
    const QString readingCaptions[] = {tr("Calibrated noise source ON"),
                                       tr("Calibrated noise source OFF"), tr(kThirdCaption[0]),
                                       tr(kFourthCaption[0])};
    for (int k = 0; k < kReadings; ++k) {
        const auto i = static_cast<std::size_t>(k);
        m_readingField[i] = makeInputField(readingNames[k], m_readingsGroup);
        m_readingField[i]->setToolTip(tr("Reading in dB"));
        m_readingCaption[i] = makeCaption(readingCaptions[k], m_readingField[i], m_readingsGroup);
        readings->addWidget(m_readingCaption[i], k, 0);
        readings->addWidget(m_readingField[i], k, 1);
    }
    readings->setRowStretch(kReadings, 1);
    // Wide enough for every mode's captions, so the groups keep their places across modes.
    int captionWidth = 0;
    for (const char *const *captions : {kThirdCaption, kFourthCaption})
        for (int mode = 0; mode < 4; ++mode)
            captionWidth =
                std::max(captionWidth,
                         m_readingCaption[0]->fontMetrics().horizontalAdvance(tr(captions[mode])));
    for (QLabel *caption : m_readingCaption)
        caption->setMinimumWidth(captionWidth);

    // Noise Source Calibration: the ENR entry and the temperatures.
    auto *calibration = new QGroupBox(tr("Noise Source Calibration"), this);
    calibration->setObjectName(QStringLiteral("calibrationGroup"));
    auto *temps = new QGridLayout(calibration);
    m_enrField = makeInputField("enrEntry", calibration);
    m_enrCaption = makeCaption(tr("ENR (dB)"), m_enrField, calibration);
    m_enrInEffectField = makeInputField("enrInEffect", calibration);
    makeShownValue(m_enrInEffectField);
    m_enrInEffectField->setToolTip(tr("ENR at the typed frequency, from the calibration file"));
    m_enrInEffectCaption = makeCaption(tr("ENR (dB)"), m_enrInEffectField, calibration);
    m_referenceTsOffField = makeInputField("referenceTsOff", calibration);
    m_referenceTsOffCaption =
        makeCaption(tr("Reference TSoff (K)"), m_referenceTsOffField, calibration);
    m_unknownTsOffField = makeInputField("unknownTsOff", calibration);
    m_unknownTsOffCaption =
        makeCaption(tr("Unknown Device TSoff (K)"), m_unknownTsOffField, calibration);
    m_t0Field = makeInputField("t0", calibration);
    const std::pair<QLabel *, QLineEdit *> calibrationRows[] = {
        {m_enrCaption, m_enrField},
        {m_enrInEffectCaption, m_enrInEffectField},
        {m_referenceTsOffCaption, m_referenceTsOffField},
        {m_unknownTsOffCaption, m_unknownTsOffField},
        {makeCaption(tr("T0 (K)"), m_t0Field, calibration), m_t0Field}};
    int row = 0;
    for (const auto &[caption, field] : calibrationRows) {
        temps->addWidget(caption, row, 0);
        temps->addWidget(field, row++, 1);
    }

    // Results in the result font: Te, F, NF (typed in Simple mode), the gain or the unknown
    // ENR, the noise floor for the bandwidth below them.
    auto *results = new QGroupBox(tr("Results"), this);
    results->setObjectName(QStringLiteral("resultsGroup"));
    auto *grid = new QGridLayout(results);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    m_teField = makeResultField("teField", m_resultFont, results);
    m_teField->setToolTip(tr("Noise temperature in kelvin"));
    m_fField = makeResultField("fField", m_resultFont, results);
    m_fField->setToolTip(tr("Noise factor, linear"));
    m_nfField = makeResultField("nfField", m_resultFont, results);
    m_nfField->setToolTip(tr("Noise figure in dB"));
    m_gainField = makeResultField("gainField", m_resultFont, results);
    m_gainField->setReadOnly(true);
    m_gainField->setFocusPolicy(Qt::ClickFocus); // a result: not on the Tab chain
    m_floorField = makeResultField("floorField", m_resultFont, results);
    m_floorField->setReadOnly(true);
    m_floorField->setFocusPolicy(Qt::ClickFocus); // a result: selectable, not on the Tab chain
    m_floorField->setToolTip(tr("Receiver noise floor in dBm"));
    m_teCaption = makeCaption(tr("Noise Temp"), m_teField, results);
    m_fCaption = makeCaption(tr("Noise Factor"), m_fField, results);
    m_nfCaption = makeCaption(tr("Noise Figure"), m_nfField, results);
    m_gainCaption = makeCaption(tr("Gain (dB)"), m_gainField, results);
    m_floorCaption = makeCaption(tr("RX Noise Floor"), m_floorField, results);
    grid->addWidget(m_teCaption, 0, 0);
    grid->addWidget(m_teField, 0, 1);
    grid->addWidget(m_fCaption, 1, 0);
    grid->addWidget(m_fField, 1, 1);
    grid->addWidget(m_nfCaption, 2, 0);
    grid->addWidget(m_nfField, 2, 1);
    grid->addWidget(m_gainCaption, 0, 2);
    grid->addWidget(m_gainField, 0, 3);
    grid->addWidget(m_floorCaption, 2, 2);
    grid->addWidget(m_floorField, 2, 3);
    auto *floorUnit = new QLabel(tr("dBm"), results);
    floorUnit->setObjectName(QStringLiteral("floorUnit"));
    grid->addWidget(floorUnit, 2, 4);
    m_bandwidthField = makeInputField("bandwidthField", results);
    m_bandwidthField->setToolTip(tr("0 or empty: no noise floor"));
    auto *bandwidthCaption = makeCaption(tr("RX noise bandwidth for noise floor calculation (KHz)"),
                                         m_bandwidthField, results);
    grid->addWidget(bandwidthCaption, 3, 0, 1, 2);
    grid->addWidget(m_bandwidthField, 3, 3, Qt::AlignRight);
    m_measuredBandwidth = new QPushButton(results);
    m_measuredBandwidth->setObjectName(QStringLiteral("measuredBandwidth"));
    m_measuredBandwidth->setToolTip(
        tr("The equivalent noise bandwidth Show Spectrum read from the receiver's passband"));
    m_measuredBandwidth->hide();
    grid->addWidget(m_measuredBandwidth, 3, 2, Qt::AlignRight);
    connect(m_measuredBandwidth, &QPushButton::clicked, this, [this] {
        m_bandwidthField->setText(fixed(m_shared.measuredNoiseBandwidthHz() / 1000.0, 3));
    });
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    // Corrections: the losses around the DUT and a converter's image band.
    auto *corrections = new QGroupBox(tr("Corrections"), this);
    corrections->setObjectName(QStringLiteral("correctionsGroup"));
    auto *cgrid = new QGridLayout(corrections);
    cgrid->addWidget(new QLabel(tr("dB"), corrections), 0, 1);
    cgrid->addWidget(new QLabel(tr("K"), corrections), 0, 2);
    const char *const lossCaptions[] = {"Input loss", "Output loss", "Calibration path loss"};
    const char *const lossNames[] = {"inputLoss", "outputLoss", "calibrationLoss"};
    for (std::size_t k = 0; k < m_lossDbField.size(); ++k) {
        m_lossDbField[k] = makeInputField(lossNames[k], corrections);
        m_lossDbField[k]->setToolTip(tr("The loss in dB; empty: none"));
        m_lossKField[k] =
            makeInputField((std::string(lossNames[k]) + "Temperature").c_str(), corrections);
        m_lossKField[k]->setText(QStringLiteral("290"));
        m_lossKField[k]->setToolTip(tr("Its physical temperature in K"));
        const int r = static_cast<int>(k) + 1;
        cgrid->addWidget(makeCaption(tr(lossCaptions[k]), m_lossDbField[k], corrections), r, 0);
        cgrid->addWidget(m_lossDbField[k], r, 1);
        cgrid->addWidget(m_lossKField[k], r, 2);
        watchNumberField(m_lossDbField[k], tr("A loss in dB, 0 or more; empty: none"), true);
        watchNumberField(m_lossKField[k], tr("A temperature in K above 0, e.g. 290"));
        connect(m_lossDbField[k], &QLineEdit::textChanged, this,
                &CalculatorPage::onCorrectionsChanged);
        connect(m_lossKField[k], &QLineEdit::textChanged, this,
                &CalculatorPage::onCorrectionsChanged);
    }
    m_converterKind = new QComboBox(corrections);
    m_converterKind->setObjectName(QStringLiteral("converterKind"));
    m_converterKind->addItems({tr("No frequency converter"),
                               tr("Single sideband converter (image rejected by dB)"),
                               tr("Double sideband converter")});
    m_imageRejectionField = makeInputField("imageRejection", corrections);
    m_imageRejectionField->setText(QStringLiteral("20"));
    watchNumberField(m_imageRejectionField, tr("The image rejection in dB, 0 or more"));
    cgrid->addWidget(m_converterKind, 4, 0);
    cgrid->addWidget(m_imageRejectionField, 4, 1);
    m_correctionsNote = new QLabel(corrections);
    m_correctionsNote->setObjectName(QStringLiteral("correctionsNote"));
    m_correctionsNote->setWordWrap(true);
    m_correctionsNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cgrid->addWidget(m_correctionsNote, 5, 0, 1, 3);
    cgrid->setColumnStretch(0, 1);
    connect(m_converterKind, &QComboBox::currentIndexChanged, this,
            &CalculatorPage::onCorrectionsChanged);
    connect(m_imageRejectionField, &QLineEdit::textChanged, this,
            &CalculatorPage::onCorrectionsChanged);

    auto *page = new QGridLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setHorizontalSpacing(12);
    page->setVerticalSpacing(12);
    page->addWidget(modes, 0, 0, 1, 2);
    page->addWidget(m_readingsGroup, 1, 0);
    page->addWidget(calibration, 1, 1);
    page->addWidget(results, 2, 0);
    page->addWidget(corrections, 2, 1);
    page->setRowStretch(3, 1);

    // Tab goes down the fields: mode, readings, calibration, Te, F, NF, bandwidth.
    QWidget *chain[] = {m_modeButton[0],     m_modeButton[1],
                        m_modeButton[2],     m_modeButton[3],
                        m_readingField[0],   m_readingField[1],
                        m_readingField[2],   m_readingField[3],
                        m_enrField,          m_referenceTsOffField,
                        m_unknownTsOffField, m_t0Field,
                        m_teField,           m_fField,
                        m_nfField,           m_bandwidthField};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    // Every typed number is marked where it is typed while it is not one.
    for (int k = 0; k < kReadings; ++k)
        watchNumberField(m_readingField[static_cast<std::size_t>(k)],
                         tr("A reading in dB, e.g. -43.8"), true);
    watchNumberField(m_enrField, tr("The ENR in dB, or the frequency in MHz with a file"));
    watchNumberField(m_referenceTsOffField, tr("The reference source's TSoff in K, e.g. 293.0"));
    watchNumberField(m_unknownTsOffField, tr("The unknown source's TSoff in K, e.g. 293.0"));
    watchNumberField(m_t0Field, tr("T0 in K, e.g. 290.0"));
    watchNumberField(m_bandwidthField, tr("The noise bandwidth in kHz; 0 or empty: no noise floor"),
                     true);
    watchNumberField(m_teField, tr("Noise temperature in kelvin"));
    watchNumberField(m_fField, tr("Noise factor, linear"));
    watchNumberField(m_nfField, tr("Noise figure in dB"));

    connect(m_modeButtons, &QButtonGroup::idClicked, this, &CalculatorPage::onModeClicked);
    for (int k = 0; k < kReadings; ++k)
        connect(m_readingField[static_cast<std::size_t>(k)], &QLineEdit::textChanged, this,
                [this, k] { onReadingChanged(k); });
    connect(m_enrField, &QLineEdit::textChanged, this, &CalculatorPage::onEnrChanged);
    connect(m_referenceTsOffField, &QLineEdit::textChanged, this,
            &CalculatorPage::onReferenceTsOffChanged);
    connect(m_unknownTsOffField, &QLineEdit::textChanged, this,
            &CalculatorPage::onUnknownTsOffChanged);
    connect(m_t0Field, &QLineEdit::textChanged, this, &CalculatorPage::onT0Changed);
    connect(m_bandwidthField, &QLineEdit::textChanged, this, &CalculatorPage::onBandwidthChanged);
    for (const Quantity q : {Quantity::Te, Quantity::F, Quantity::Nf}) {
        fieldOf(q)->installEventFilter(this);
        connect(fieldOf(q), &QLineEdit::textChanged, this, [this, q] { onResultChanged(q); });
    }
}

void CalculatorPage::initializePage()
{
    update(Quantity::None); // Te 0, F 1, NF 0
    applyModeControls();
}

void CalculatorPage::activatePage()
{
    const bool useFile = m_engine.settings().useEnrFile;
    m_enrCaption->setText(useFile ? tr("F (MHz)") : tr("ENR (dB)"));
    applyModeControls(); // the ENR-in-effect caption follows the file setting
    // Every text set counts as a change of its field, even when the text is the same (the
    // file setting may have changed what the entry means), so the handlers run explicitly.
    const std::pair<QLineEdit *, QString> texts[] = {
        {m_enrField, fixed(m_shared.enrEntry(), 3)},
        {m_referenceTsOffField, fixed(m_referenceTsOff, 2)},
        {m_unknownTsOffField, fixed(m_unknownTsOff, 2)},
        {m_t0Field, fixed(m_t0, 2)}};
    for (const auto &[field, text] : texts) {
        const QSignalBlocker quiet(field);
        field->setText(text);
    }
    onEnrChanged();
    onReferenceTsOffChanged();
    onUnknownTsOffChanged();
    onT0Changed();

    const double measuredHz = m_shared.measuredNoiseBandwidthHz();
    m_measuredBandwidth->setVisible(measuredHz > 0.0);
    if (measuredHz > 0.0)
        m_measuredBandwidth->setText(tr("Use measured %1").arg(fixed(measuredHz / 1000.0, 3)));
}

QLineEdit *CalculatorPage::fieldOf(Quantity q) const
{
    switch (q) {
    case Quantity::Te:
        return m_teField;
    case Quantity::F:
        return m_fField;
    case Quantity::Nf:
        return m_nfField;
    case Quantity::None:
        break;
    }
    return nullptr;
}

void CalculatorPage::applyModeControls()
{
    const bool simple = m_mode == Mode::Simple;
    const bool fourReadings = m_mode == Mode::DeviceYFactor || m_mode == Mode::CalibrateSource;
    const bool calibrate = m_mode == Mode::CalibrateSource;
    const auto modeIndex = static_cast<std::size_t>(m_mode);

    m_readingsGroup->setEnabled(!simple);
    m_readingCaption[2]->setText(tr(kThirdCaption[modeIndex]));
    m_readingCaption[3]->setText(tr(kFourthCaption[modeIndex]));
    for (std::size_t k = 0; k < kReadings; ++k) {
        const bool on = k < 2 ? !simple : fourReadings;
        m_readingCaption[k]->setEnabled(on);
        m_readingField[k]->setEnabled(on);
    }
    for (QWidget *w : {static_cast<QWidget *>(m_enrCaption), static_cast<QWidget *>(m_enrField),
                       static_cast<QWidget *>(m_referenceTsOffCaption),
                       static_cast<QWidget *>(m_referenceTsOffField)})
        w->setEnabled(!simple);
    m_enrInEffectCaption->setEnabled(!simple && m_engine.settings().useEnrFile);
    m_unknownTsOffCaption->setEnabled(calibrate);
    m_unknownTsOffField->setEnabled(calibrate);

    m_gainCaption->setText(calibrate ? tr("ENR (dB)") : tr("Gain (dB)"));
    m_gainCaption->setEnabled(fourReadings);
    m_gainField->setEnabled(fourReadings);
    // Outside Simple the three are results: not editable, but readable and selectable.
    for (const Quantity q : {Quantity::Te, Quantity::F, Quantity::Nf}) {
        fieldOf(q)->setReadOnly(!simple);
        fieldOf(q)->setFocusPolicy(simple ? Qt::StrongFocus : Qt::ClickFocus);
    }
    for (QLabel *caption : {m_teCaption, m_fCaption, m_nfCaption, m_floorCaption})
        caption->setEnabled(!calibrate);
    m_modeButton[modeIndex]->setChecked(true);
}

bool CalculatorPage::inputsValid() const
{
    const bool simple = m_mode == Mode::Simple;
    const bool calibrate = m_mode == Mode::CalibrateSource;
    const bool fourReadings = m_mode == Mode::DeviceYFactor || calibrate;
    for (int k = 0; k < kReadings && !simple; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if ((k < 2 || fourReadings) && m_present[i] && !isNumberText(m_readingField[i]->text()))
            return false;
    }
    if (!simple && (!numberFieldValid(m_enrField) || !numberFieldValid(m_referenceTsOffField)))
        return false;
    if (calibrate)
        return numberFieldValid(m_unknownTsOffField); // T0 is Measure Device's
    if (!simple) {
        for (std::size_t k = 0; k < m_lossDbField.size(); ++k)
            if (!numberFieldValid(m_lossDbField[k]) ||
                (!m_lossDbField[k]->text().trimmed().isEmpty() && !numberFieldValid(m_lossKField[k])))
                return false;
        if (m_converterKind->currentIndex() == 1 && !numberFieldValid(m_imageRejectionField))
            return false;
    }
    if (!numberFieldValid(m_t0Field))
        return false;
    // The typed quantity: the page's own texts (" Error") never carry the mark.
    if (simple)
        for (const QLineEdit *field : {m_teField, m_fField, m_nfField})
            if (field->property("notANumber").toBool())
                return false;
    return true;
}

bool CalculatorPage::compute()
{
    m_inputsValid = inputsValid();
    m_noiseComputed = false;
    if (!m_inputsValid)
        return false;
    const auto &r = m_readingDb;
    const bool two = m_present[0] && m_present[1];
    const bool four = two && m_present[2] && m_present[3];
    switch (m_mode) {
    case Mode::Simple:
        return false;
    case Mode::SystemYFactor:
    case Mode::DeviceYFactor: {
        ChainCorrections c;
        std::string why;
        const bool usable = correctionsFromFields(c, why);
        c = appliedCorrections(c, m_mode == Mode::SystemYFactor);
        m_correctionsNote->setStyleSheet(usable ? QString() : QStringLiteral("color: #c00000;"));
        m_correctionsNote->setText(usable ? QString::fromStdString(correctedForText(c))
                                          : tr("Not computed: ") + QString::fromStdString(why));
        if (!usable) // nothing from an entry that cannot be applied
            return false;
        const auto p = [](double db) { return YFactorMath::powerRatioFromDb(db); };
        if (m_mode == Mode::SystemYFactor) {
            if (!two)
                return false;
            m_noise = c.any() ? correctDeviceResults({p(r[0]), p(r[1]), 0.0, 0.0},
                                                     {true, true, false, false}, true,
                                                     m_enrInEffect, m_t0, m_referenceTsOff, c)
                                    .noise
                              : calcSystem(r[0], r[1], m_enrInEffect, m_t0, m_referenceTsOff);
            m_noiseComputed = true;
            return true;
        }
        if (!four)
            return false;
        m_device = calcDevice(r[0], r[1], r[2], r[3], m_enrInEffect, m_t0, m_referenceTsOff);
        if (c.any()) {
            const DeviceResults d =
                correctDeviceResults({p(r[0]), p(r[1]), p(r[2]), p(r[3])}, {true, true, true, true},
                                     false, m_enrInEffect, m_t0, m_referenceTsOff, c);
            m_device = {d.noise, d.gainDb, d.noise.valid && d.gainValid};
        }
        m_noise = m_device.noise;
        m_gainComputed = true;
        m_noiseComputed = true;
        return true;
    }
    case Mode::CalibrateSource:
        // The Measure Device page's T0, not this page's field. Te, F and NF stay as they are.
        if (four) {
            m_unknownEnr = calcCalibrate(r[0], r[1], r[2], r[3], m_enrInEffect, m_referenceTsOff,
                                         m_unknownTsOff, m_shared.t0());
            m_enrComputed = true;
        }
        return false;
    }
    return false;
}

void CalculatorPage::update(Quantity source)
{
    // The other two quantities follow the source at this page's T0.
    switch (source) {
    case Quantity::Te:
        m_noise = noiseFromTemperature(m_noise.te, m_t0);
        break;
    case Quantity::F:
        m_noise = noiseFromFactor(m_noise.f, m_t0);
        break;
    case Quantity::Nf:
        m_noise = noiseFromFigure(m_noise.nf, m_t0);
        break;
    case Quantity::None:
        break;
    }
    // Te, F and NF: typed in Simple mode (from numbers only), computed by the Y Factor modes;
    // anything else blanks them, so no result stands under a mode that did not compute it.
    const bool shown = m_mode == Mode::Simple ? inputsValid() : m_noiseComputed;
    // The source field keeps the text the user typed.
    for (const Quantity q : {Quantity::Te, Quantity::F, Quantity::Nf}) {
        if (q == source)
            continue;
        const double value = q == Quantity::Te ? m_noise.te
                             : q == Quantity::F ? m_noise.f
                                                : m_noise.nf;
        if (shown) {
            showResult(fieldOf(q), value, m_noise.valid);
        } else {
            const QSignalBlocker quiet(fieldOf(q));
            fieldOf(q)->clear();
            clearNumberMark(fieldOf(q));
        }
    }

    // Without a bandwidth there is no floor: a floor left from an earlier bandwidth would not
    // belong to the values now shown.
    if (!shown || !numberFieldValid(m_bandwidthField)) {
        m_floorField->clear();
    } else if (m_bandwidth != 0.0) {
        const NoiseFloorResult floor = noiseFloor(m_noise, m_t0, m_bandwidth);
        showResult(m_floorField, floor.dbm, floor.valid);
    } else {
        m_floorField->clear();
    }

    m_gainField->clear();
    if (m_mode == Mode::DeviceYFactor && m_gainComputed && m_noiseComputed)
        showResult(m_gainField, m_device.gainDb, m_device.gainValid);
    else if (m_mode == Mode::CalibrateSource && m_enrComputed && m_inputsValid)
        showResult(m_gainField, m_unknownEnr.enrDb, m_unknownEnr.valid);
}

void CalculatorPage::showResult(QLineEdit *field, double value, bool valid)
{
    // Not added to the result line: nothing the calculator shows goes into a log line. The
    // page's own text is no typing: it neither counts as the typed quantity nor is marked.
    const QSignalBlocker quiet(field);
    field->setText(QString::fromStdString(
        resultText(!valid, value, kMsgResultError, m_engine.settings().decimalPointsInResults)));
    clearNumberMark(field);
}

// ---- Handlers ----

void CalculatorPage::onModeClicked(int id)
{
    m_mode = static_cast<Mode>(id);
    applyModeControls();
    if (m_mode != Mode::Simple)
        compute();
    update(Quantity::None);
}

void CalculatorPage::onReadingChanged(int k)
{
    const auto i = static_cast<std::size_t>(k);
    m_readingDb[i] = parseField(m_readingField[i]);
    m_present[i] = true;
    compute();
    update(Quantity::None);
}

void CalculatorPage::onEnrChanged()
{
    m_enrEntry = parseField(m_enrField);
    const Settings &settings = m_engine.settings();
    m_enrInEffect = enrForEntry(m_enrEntry, settings, m_engine.enrTable());
    if (settings.useEnrFile)
        m_enrInEffectField->setText(fixed(m_enrInEffect, 3));
    else
        m_enrInEffectField->clear();
    compute();
    update(Quantity::None);
}

void CalculatorPage::onReferenceTsOffChanged()
{
    m_referenceTsOff = parseField(m_referenceTsOffField);
    compute();
    update(Quantity::None);
}

void CalculatorPage::onUnknownTsOffChanged()
{
    m_unknownTsOff = parseField(m_unknownTsOffField);
    compute();
    update(Quantity::None);
}

void CalculatorPage::onT0Changed()
{
    m_t0 = parseField(m_t0Field);
    // The quantity the user last typed stays and the other two follow at the new T0 -
    // unless the readings decide all three, which then are all shown anew.
    const bool computed = compute();
    update(computed ? Quantity::None : m_lastFocused);
}

bool CalculatorPage::correctionsFromFields(ChainCorrections &c, std::string &why) const
{
    c = {};
    for (std::size_t k = 0; k < m_lossDbField.size(); ++k) {
        const QString db = m_lossDbField[k]->text().trimmed();
        if (db.isEmpty())
            continue;
        const auto place = static_cast<LossPlace>(k);
        AppliedLoss &l = c.at(place);
        l.active = true;
        l.db = parseField(m_lossDbField[k]);
        l.temperatureK = parseField(m_lossKField[k]);
        if (const int rc = checkLoss(l); rc != 0) {
            std::string name = lossPlaceName(place);
            name[0] = static_cast<char>(name[0] - 'a' + 'A');
            why = name + ": " + messageText(rc);
            return false;
        }
    }
    const int kind = m_converterKind->currentIndex();
    if (kind > 0) {
        c.converter.on = true;
        c.converter.sideband = kind == 2 ? Sideband::Double : Sideband::Upper;
        c.converter.imageRejectionDb = parseField(m_imageRejectionField);
        // One typed ENR serves both sidebands; no LO: the frequencies play no part here.
        c.enrSignalDb = c.enrImageDb = m_enrInEffect;
        if (kind == 1 && checkConverter(c.converter, 0.0) == kMsgImageRejection) {
            why = std::string("Converter: ") + messageText(kMsgImageRejection);
            return false;
        }
    }
    return true;
}

void CalculatorPage::onCorrectionsChanged()
{
    const bool computed = compute();
    update(computed ? Quantity::None : m_lastFocused);
}

void CalculatorPage::onBandwidthChanged()
{
    m_bandwidth = parseField(m_bandwidthField);
    update(Quantity::None);
}

void CalculatorPage::onResultChanged(Quantity q)
{
    // Only typing counts, and only in Simple mode, where the three are typed.
    if (q != m_focused || m_mode != Mode::Simple)
        return;
    const double value = parseField(fieldOf(q));
    // The other two are the page's to show: only the typed one can stand marked.
    for (const Quantity other : {Quantity::Te, Quantity::F, Quantity::Nf})
        if (other != q)
            clearNumberMark(fieldOf(other));
    if (q == Quantity::Te)
        m_noise.te = value;
    else if (q == Quantity::F)
        m_noise.f = value;
    else
        m_noise.nf = value;
    update(q);
}

bool CalculatorPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        for (const Quantity q : {Quantity::Te, Quantity::F, Quantity::Nf}) {
            if (watched != fieldOf(q))
                continue;
            if (event->type() == QEvent::FocusIn) {
                m_focused = q;
            } else {
                m_lastFocused = q;
                m_focused = Quantity::None;
            }
        }
    }
    return PropertyPage::eventFilter(watched, event);
}

} // namespace quillon
