#include "ui/pages/CalibrateNoiseSourcePage.h"

#include "core/NumberText.h"
#include "core/SettingsStore.h"
#include "measure/SharedValues.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

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
    m_t0Field->setReadOnly(true);
    m_enrResult = makeResultField(QStringLiteral("enrResult"), resultFont, results);
    auto *resultsGrid = new QGridLayout(results);
    resultsGrid->setVerticalSpacing(8);
    int row = 0;
    for (const auto &[caption, field] :
         {std::pair{"Reference Device TSoff (K)", m_tsOffReferenceField},
          {"Target Device TSoff (K)", m_tsOffTargetField},
          {"T0 (K)", m_t0Field},
          {"Reference ENR \u00b1 (dB, 95%)", m_enrUncertainty},
          {"TSoff \u00b1 (K, 95%)", m_tsOffUncertainty},
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

    auto *page = new QGridLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addWidget(reference, 0, 0);
    page->addWidget(calibration, 0, 1);
    page->addWidget(unknown, 1, 0);
    page->addWidget(clearButton, 1, 1, Qt::AlignCenter);
    page->addWidget(results, 2, 0);
    page->addWidget(m_automate.group, 2, 1);
    page->setRowStretch(3, 1);

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
            m_tsOffReference,        m_tsOffTarget};
}

void CalibrateNoiseSourcePage::showResults(const SeriesEvaluation &evaluation,
                                           const SeriesUncertainty &uncertainty)
{
    m_enrResult->setText(QString::fromStdString(evaluation.calibrationTexts.enr));
    m_enrStatistical->setText(QString::fromStdString(uncertainty.calibration.texts.statistical));
    m_enrTotal->setText(QString::fromStdString(uncertainty.calibration.texts.total));
}

} // namespace quillon
