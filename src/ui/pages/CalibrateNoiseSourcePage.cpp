#include "ui/pages/CalibrateNoiseSourcePage.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/SettingsStore.h"
#include "measure/SharedValues.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quillon {

namespace {

const char *const kRowCaptions[kDeviceReadingCount] = {
    "Calibrated noise source ON", "Calibrated noise source OFF", "Unknown noise source ON",
    "Unknown noise source OFF"};

QString fixedText(double value, int decimals)
{
    return QString::fromStdString(formatFixed(value, decimals));
}

} // namespace

CalibrateNoiseSourcePage::CalibrateNoiseSourcePage(const PageContext &context, QWidget *parent)
    : ReadingPage(QStringLiteral("Calibrate Noise Source"),
                  QStringLiteral("calibrate-noise-source"), SeriesKind::Calibration,
                  keys::AutomateNoiseSwitchInCalibrateFunction, nullptr, context, parent)
{
    setObjectName(QStringLiteral("calibrateNoiseSourcePage"));
    // Both start from the stored "TSoff" (as loaded into the shared values at start-up).
    m_tsOffReference = context.shared.tsOff();
    m_tsOffTarget = context.shared.tsOff();
    buildControls(context.resultFont);
}

CalibrateNoiseSourcePage::~CalibrateNoiseSourcePage() = default;

void CalibrateNoiseSourcePage::buildControls(const QFont &resultFont)
{
    QGroupBox *reference = makeReadingGroup(QStringLiteral("Reference Noise Source"),
                                            "referenceGroup", 0, kRowCaptions);
    QGroupBox *unknown =
        makeReadingGroup(QStringLiteral("Unknown Noise Source"), "unknownGroup", 2, kRowCaptions);

    auto *calibration = new QGroupBox(QStringLiteral("Reference Noise Source Calibration"), this);
    addEntryRows(new QGridLayout(calibration));

    auto *clearButton = new QPushButton(QStringLiteral("Clear Current Readings"), this);
    clearButton->setObjectName(QStringLiteral("clearReadings"));

    auto *results = new QGroupBox(QStringLiteral("Results"), this);
    results->setObjectName(QStringLiteral("resultsGroup"));
    m_tsOffReferenceField = makeNumberField("tsOffReference", results);
    m_tsOffTargetField = makeNumberField("tsOffTarget", results);
    m_t0Field = makeNumberField("t0Field", results);
    makeShownValue(m_t0Field);
    m_t0Field->setToolTip(QStringLiteral("T0 of Measure Device, where it is changed"));
    m_enrResult = makeResultField(QStringLiteral("enrResult"), resultFont, results);
    auto *resultsGrid = new QGridLayout(results);
    resultsGrid->setVerticalSpacing(8);
    int row = 0;
    for (const auto &[caption, field] :
         {std::pair{"Reference Device TSoff (K)", m_tsOffReferenceField},
          {"Target Device TSoff (K)", m_tsOffTargetField},
          {"T0 (K)", m_t0Field},
          {"Reference ENR \u00b1 (dB, 95%)", m_enrUncertainty},
          {"Each TSoff \u00b1 (K, 95%)", m_tsOffUncertainty},
          {"Computed ENR", m_enrResult}}) {
        resultsGrid->addWidget(makeCaption(QString::fromUtf8(caption), field, results), row, 0);
        resultsGrid->addWidget(field, row++, 1, Qt::AlignLeft);
    }
    m_enrStatistical = makeHalfWidthField(QStringLiteral("enrStatistical"), results);
    m_enrTotal = makeHalfWidthField(QStringLiteral("enrTotal"), results);
    setResultFields({m_enrResult, m_enrStatistical, m_enrTotal});
    auto *halfWidths = new QHBoxLayout;
    halfWidths->setSpacing(6);
    halfWidths->addWidget(new QLabel(QStringLiteral("Statistical"), results));
    halfWidths->addWidget(m_enrStatistical);
    halfWidths->addSpacing(12);
    halfWidths->addWidget(new QLabel(QStringLiteral("Total"), results));
    halfWidths->addWidget(m_enrTotal);
    halfWidths->addStretch(1);
    resultsGrid->addLayout(halfWidths, row++, 1);
    resultsGrid->addWidget(m_warningLabel, row, 0, 1, 2);
    resultsGrid->setColumnStretch(1, 1);

    // The box both reading pages share, placed with the Automate group it belongs to.
    auto *dummies = new QGroupBox(QStringLiteral("Dummy reads"), this);
    m_autoDummy->setParent(dummies);
    (new QVBoxLayout(dummies))->addWidget(m_autoDummy);

    // Two columns packed from the top: the readings and the result on the left, what is typed
    // and chosen on the right, where the wait dialog sits while a reading runs.
    auto *left = new QVBoxLayout;
    left->setSpacing(12);
    left->addWidget(reference);
    left->addWidget(unknown);
    left->addWidget(results);
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->setSpacing(12);
    right->addWidget(calibration);
    right->addWidget(clearButton, 0, Qt::AlignCenter);
    right->addWidget(m_automate.group);
    right->addWidget(dummies);
    right->addStretch(1);
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addLayout(left, 1);
    page->addLayout(right, 0);

    addNumberField(m_tsOffReferenceField,
                   QStringLiteral("The reference source's temperature when off in K, e.g. 293.0"));
    addNumberField(m_tsOffTargetField,
                   QStringLiteral("The unknown source's temperature when off in K, e.g. 293.0"));
    QWidget *chain[] = {m_rows[0].measure,     m_rows[1].measure,      m_rows[2].measure,
                        m_rows[3].measure,     m_tsOffReferenceField,  m_tsOffTargetField,
                        m_enrUncertainty,      m_tsOffUncertainty,     m_entry,
                        clearButton,           m_automate.noiseGen,    m_automate.dummyReads,
                        m_automate.repeat,     m_automate.averageEnable, m_automate.averageCount,
                        m_automate.save,       m_autoDummy};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    for (const auto &[field, value] : {std::pair{m_tsOffReferenceField, &m_tsOffReference},
                                       {m_tsOffTargetField, &m_tsOffTarget}})
        connect(field, &QLineEdit::textChanged, this, [this, value](const QString &text) {
            *value = parseDecimal(text.toStdString());
            compute();
        });
    connect(clearButton, &QPushButton::clicked, this, &CalibrateNoiseSourcePage::clearReadings);
}

// ---- The page's own steps ----

void CalibrateNoiseSourcePage::showPageValues()
{
    for (const auto &[field, value] : {std::pair{m_tsOffReferenceField, &m_tsOffReference},
                                       {m_tsOffTargetField, &m_tsOffTarget}}) {
        {
            const QSignalBlocker block(field);
            field->setText(fixedText(*value, 2));
        }
        *value = parseDecimal(field->text().toStdString());
    }
    m_t0Field->setText(fixedText(m_shared.t0(), 2));
    compute();
}

void CalibrateNoiseSourcePage::updatePageControls()
{
    m_rows[3].measure->setEnabled(!m_noiseGen);
}

SeriesConditions CalibrateNoiseSourcePage::conditions() const
{
    return {SeriesKind::Calibration, false,        enrInEffect(), m_shared.t0(),
            m_tsOffReference,        m_tsOffTarget,   {}};
}

void CalibrateNoiseSourcePage::showResults(const SeriesEvaluation &evaluation,
                                           const SeriesUncertainty &uncertainty)
{
    const std::string &enr = evaluation.calibrationTexts.enr;
    m_enrResult->setText(QString::fromStdString(enr));
    // A result that is not valid (" Error") has no half-width beside it.
    const bool valid = !enr.empty() && enr != messageText(kMsgResultError);
    const HalfWidthTexts &texts = uncertainty.calibration.texts;
    m_enrStatistical->setText(valid ? halfWidthForField(texts.statistical) : QString());
    m_enrTotal->setText(valid ? halfWidthForField(texts.total) : QString());
}

} // namespace quillon
