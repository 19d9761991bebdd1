#include "ui/pages/CalibrateNoiseSourcePage.h"

#include "capture/WaveCapture.h"
#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QHBoxLayout>
#include <QSignalBlocker>

#include <cmath>

namespace quillon {

namespace {

constexpr int kMaxEntryLength = 127;

const char *const kRowCaptions[kDeviceReadingCount] = {
    "Calibrated noise source ON", "Calibrated noise source OFF", "Unknown noise source ON",
    "Unknown noise source OFF"};

QString fixedText(double value, int decimals)
{
    return QString::fromStdString(formatFixed(value, decimals));
}

template <typename Handler>
void setFieldText(QLineEdit *field, const QString &text, Handler handler)
{
    {
        const QSignalBlocker block(field);
        field->setText(text);
    }
    handler(field->text());
}

QLineEdit *makeEdit(const char *name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(kMaxEntryLength);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00000.000")) + 16);
    return field;
}

} // namespace

CalibrateNoiseSourcePage::CalibrateNoiseSourcePage(QuillonEngine &engine, SettingsStore &store,
                                                   SharedValues &shared,
                                                   MeasuringNoiseDialog &dialog,
                                                   const QFont &resultFont, QWidget *parent)
    : PropertyPage(QStringLiteral("Calibrate Noise Source"),
                   QStringLiteral("calibrate-noise-source"), parent),
      m_engine(engine), m_store(store), m_shared(shared), m_runner(engine, dialog, this)
{
    setObjectName(QStringLiteral("calibrateNoiseSourcePage"));
    // Both start from the stored "TSoff" (as loaded into the shared values at start-up).
    m_tsOffReference = shared.tsOff();
    m_tsOffTarget = shared.tsOff();
    m_noiseGen = (store.read(keys::AutomateNoiseSwitchInCalibrateFunction) & 1) != 0;
    buildControls(resultFont);
}

CalibrateNoiseSourcePage::~CalibrateNoiseSourcePage() = default;

void CalibrateNoiseSourcePage::buildControls(const QFont &resultFont)
{
    const auto readingGroup = [this](const char *title, const char *name, int first) {
        auto *group = new QGroupBox(QLatin1String(title), this);
        group->setObjectName(QLatin1String(name));
        auto *grid = new QGridLayout(group);
        for (int i = first; i < first + 2; ++i)
            m_rows[static_cast<std::size_t>(i)] =
                addReadingRow(grid, i - first, i, QLatin1String(kRowCaptions[i]), group);
        grid->setColumnStretch(2, 1);
        return group;
    };
    QGroupBox *reference = readingGroup("Reference Noise Source", "referenceGroup", 0);
    QGroupBox *unknown = readingGroup("Unknown Noise Source", "unknownGroup", 2);

    auto *calibration = new QGroupBox(QStringLiteral("Reference Noise Source Calibration"), this);
    m_entry = makeEdit("enrEntry", calibration);
    m_computed = makeEdit("enrComputed", calibration);
    m_computed->setReadOnly(true);
    m_computed->setEnabled(false);
    m_entryCaption = makeCaption(QStringLiteral("ENR (dB)"), m_entry, calibration);
    m_entryCaption->setObjectName(QStringLiteral("enrCaption"));
    m_computedCaption =
        makeCaption(QStringLiteral("ENR (dB) Computed from Freq"), m_computed, calibration);
    m_computedCaption->setObjectName(QStringLiteral("enrComputedCaption"));
    auto *calibrationGrid = new QGridLayout(calibration);
    calibrationGrid->addWidget(m_entryCaption, 0, 0);
    calibrationGrid->addWidget(m_entry, 0, 1);
    calibrationGrid->addWidget(m_computedCaption, 1, 0);
    calibrationGrid->addWidget(m_computed, 1, 1);

    m_clearButton = new QPushButton(QStringLiteral("Clear Current Readings"), this);
    m_clearButton->setObjectName(QStringLiteral("clearReadings"));

    m_automate = makeAutomateGroup(false, this);

    auto *results = new QGroupBox(QStringLiteral("Results"), this);
    results->setObjectName(QStringLiteral("resultsGroup"));
    m_tsOffReferenceField = makeEdit("tsOffReference", results);
    m_tsOffTargetField = makeEdit("tsOffTarget", results);
    m_t0Field = makeEdit("t0Field", results);
    m_t0Field->setReadOnly(true);
    m_enrResult = makeResultField(QStringLiteral("enrResult"), resultFont, results);
    m_enrUncertainty = makeEdit("enrUncertainty", results);
    m_tsOffUncertainty = makeEdit("tsOffUncertainty", results);
    m_enrUncertainty->setText(QString::fromStdString(m_store.read(keys::EnrUncertainty)));
    m_tsOffUncertainty->setText(QString::fromStdString(m_store.read(keys::TSoffUncertainty)));
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
    auto *halfWidths = new QHBoxLayout;
    halfWidths->setSpacing(6);
    halfWidths->addWidget(new QLabel(QStringLiteral("Statistical"), results));
    halfWidths->addWidget(m_enrStatistical);
    halfWidths->addSpacing(12);
    halfWidths->addWidget(new QLabel(QStringLiteral("Total"), results));
    halfWidths->addWidget(m_enrTotal);
    halfWidths->addStretch(1);
    resultsGrid->addLayout(halfWidths, row++, 1);
    m_warningLabel = makeWarningLabel(QStringLiteral("warningLabel"), results);
    resultsGrid->addWidget(m_warningLabel, row, 0, 1, 2);
    resultsGrid->setColumnStretch(1, 1);

    auto *page = new QGridLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addWidget(reference, 0, 0);
    page->addWidget(calibration, 0, 1);
    page->addWidget(unknown, 1, 0);
    page->addWidget(m_clearButton, 1, 1, Qt::AlignCenter);
    page->addWidget(results, 2, 0);
    page->addWidget(m_automate.group, 2, 1);
    page->setRowStretch(3, 1);

    for (int i = 0; i < kDeviceReadingCount; ++i)
        connect(m_rows[static_cast<std::size_t>(i)].measure, &QPushButton::clicked, this,
                [this, i] { runSeries(i); });
    connect(m_entry, &QLineEdit::textChanged, this, &CalibrateNoiseSourcePage::onEntryChanged);
    connect(m_tsOffReferenceField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_tsOffReference = parseDecimal(text.toStdString());
        compute();
    });
    connect(m_tsOffTargetField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_tsOffTarget = parseDecimal(text.toStdString());
        compute();
    });
    connect(m_clearButton, &QPushButton::clicked, this, &CalibrateNoiseSourcePage::onClearReadings);
    // The stated uncertainties are kept as they are edited, in the keys Measure Device uses.
    for (const auto &[key, field] : {std::pair{&keys::EnrUncertainty, m_enrUncertainty},
                                     {&keys::TSoffUncertainty, m_tsOffUncertainty}}) {
        connect(field, &QLineEdit::textChanged, this, [this] { compute(); });
        connect(field, &QLineEdit::editingFinished, this, [this, key, field] {
            if (!m_store.write(*key, field->text().toStdString()))
                showMessageBox(kMsgSaveFailed, this);
        });
    }
    connect(m_automate.noiseGen, &QCheckBox::clicked, this, [this](bool checked) {
        m_noiseGen = checked;
        refreshEnables();
    });
    connect(m_automate.repeat, &QCheckBox::clicked, this,
            [this](bool checked) { m_repeat = checked; });
    connect(m_automate.averageEnable, &QCheckBox::clicked, this,
            [this](bool checked) { m_shared.setAveraging(checked); });
    connect(m_automate.averageCount, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            m_shared.setAverageCount(index + 1);
    });
    connect(m_automate.dummyReads, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            m_shared.setDummyReads(index);
    });
    connect(m_automate.save, &QPushButton::clicked, this,
            &CalibrateNoiseSourcePage::onSaveAsDefault);
}

void CalibrateNoiseSourcePage::setLogClock(LocalClock clock)
{
    m_log = MeasurementLog(std::move(clock));
}

// ---- Life cycle ----

void CalibrateNoiseSourcePage::initializePage()
{
    m_readings.clearPresent();
}

void CalibrateNoiseSourcePage::activatePage()
{
    m_active = true;
    const Settings &s = m_engine.settings();
    refreshEnables();
    setFieldText(m_entry, fixedText(m_shared.enrEntry(), 3),
                 [this](const QString &t) { onEntryChanged(t); });
    setFieldText(m_tsOffReferenceField, fixedText(m_tsOffReference, 2),
                 [this](const QString &t) { m_tsOffReference = parseDecimal(t.toStdString()); });
    setFieldText(m_tsOffTargetField, fixedText(m_tsOffTarget, 2),
                 [this](const QString &t) { m_tsOffTarget = parseDecimal(t.toStdString()); });
    m_t0Field->setText(fixedText(m_shared.t0(), 2));
    compute();
    m_automate.averageEnable->setChecked(m_shared.averaging());
    m_computedCaption->setEnabled(s.useEnrFile);
    m_entryCaption->setText(s.useEnrFile ? QStringLiteral("F (MHz)") : QStringLiteral("ENR (dB)"));
    selectListEntry(m_automate.averageCount, m_shared.averageCount() - 1);
    // The Measure Device page may have changed the count since.
    selectListEntry(m_automate.dummyReads, m_shared.dummyReads());
    m_automate.noiseGen->setChecked(m_noiseGen);
}

void CalibrateNoiseSourcePage::deactivatePage()
{
    m_active = false;
    m_runner.abort();
    m_engine.capture().stopCapture();
}

// ---- Enables and the result ----

void CalibrateNoiseSourcePage::refreshEnables()
{
    const bool present = m_engine.settings().switchPortChosen;
    if (!present)
        m_noiseGen = false;
    m_automate.noiseGen->setEnabled(present);
    m_rows[1].measure->setEnabled(!m_noiseGen);
    m_rows[3].measure->setEnabled(!m_noiseGen);
}

CalibrationConditions CalibrateNoiseSourcePage::conditions() const
{
    return {m_enrInEffect, m_tsOffReference, m_tsOffTarget, m_shared.t0()};
}

void CalibrateNoiseSourcePage::compute()
{
    showResult(m_readings.evaluate(conditions(), m_engine.settings(), m_engine.resultLine()));
}

StatedUncertainty CalibrateNoiseSourcePage::stated() const
{
    // The reference's ENR uncertainty: the ENR file's where it gives one, else the typed value.
    const Settings &s = m_engine.settings();
    double enr = enrUncertaintyForEntry(m_shared.enrEntry(), s.useEnrFile, m_engine.enrTable());
    if (!std::isfinite(enr))
        enr = parseDecimal(m_enrUncertainty->text().toStdString());
    const double tsOff = parseDecimal(m_tsOffUncertainty->text().toStdString());
    return {std::isfinite(enr) && enr > 0.0 ? enr : 0.0,
            std::isfinite(tsOff) && tsOff > 0.0 ? tsOff : 0.0};
}

void CalibrateNoiseSourcePage::showResult(const CalibrationEvaluation &e)
{
    if (!e.texts.complete)
        return; // the fields keep what they show
    m_enrResult->setText(QString::fromStdString(e.texts.enr));
    const CalibrationUncertainty u = m_readings.uncertainty(conditions(), stated());
    m_enrStatistical->setText(QString::fromStdString(u.texts.statistical));
    m_enrTotal->setText(QString::fromStdString(u.texts.total));
    showWarnings(m_warningLabel, QString::fromStdString(warningText(m_readings.warnings())));
}

// ---- Handlers ----

void CalibrateNoiseSourcePage::onEntryChanged(const QString &text)
{
    // The entry is the shared one: the Measure Device page sees the change.
    m_shared.setEnrEntry(parseDecimal(text.toStdString()));
    const Settings &s = m_engine.settings();
    m_enrInEffect = enrForEntry(m_shared.enrEntry(), s, m_engine.enrTable());
    m_computed->setText(s.useEnrFile ? fixedText(m_enrInEffect, 3) : QString());
    compute();
}

void CalibrateNoiseSourcePage::onClearReadings()
{
    m_readings.clearPresent();
    for (const ReadingRow &row : m_rows)
        row.field->clear();
    for (QLineEdit *field : {m_enrResult, m_enrStatistical, m_enrTotal})
        field->clear();
    showWarnings(m_warningLabel, QString());
}

void CalibrateNoiseSourcePage::onSaveAsDefault()
{
    SaveBatch batch(m_store);
    batch.write(keys::TraceAverageCount, m_shared.averageCount());
    batch.write(keys::TraceAverageFlag, m_shared.averaging() ? 1 : 0);
    batch.write(keys::DummyReads, m_shared.dummyReads());
    batch.write(keys::AutomateNoiseSwitchInCalibrateFunction, m_noiseGen ? 1 : 0);
    if (const int rc = batch.result(); rc != kMsgNone)
        showMessageBox(rc, this);
}

// ---- The series ----

void CalibrateNoiseSourcePage::runSeries(int button)
{
    if (m_seriesRunning || !m_active)
        return;
    m_seriesRunning = true;
    bool ok = true;
    do {
        for (int r = nextCalibrationReading(button, -1, m_noiseGen); ok && r >= 0;
             r = nextCalibrationReading(button, r, m_noiseGen))
            ok = takeReading(r);
    } while (ok && m_repeat);
    m_seriesRunning = false;
}

bool CalibrateNoiseSourcePage::takeReading(int reading)
{
    const Settings &s = m_engine.settings();
    m_engine.capture().stopCapture();
    if (s.switchPortChosen && m_noiseGen) {
        // The DUT output selects the unknown source for readings 2 and 3.
        const DeviceSwitchState st = deviceReadingSwitches(reading);
        m_engine.switches().setSwitches(st.noiseOn, st.dutIn);
    }
    if (!m_active)
        return false;

    ReadingPlan plan{m_shared.dummyReadsLimited(), m_shared.averaging(),
                     m_shared.averageCountLimited()};
    plan.autoDummy = m_store.read(keys::AutomaticDummyReads) != 0;
    const std::string_view label = enrReadingLabel(reading);
    const std::optional<double> power =
        m_runner.take(plan, QLatin1String(label.data(), static_cast<qsizetype>(label.size())));
    if (!power)
        return false;

    CalibrationEvaluation evaluation;
    const int rc = m_readings.complete(reading, *power, conditions(), s, m_engine.resultLine(),
                                       m_log, evaluation);
    m_readings.setQuality(reading, m_runner.statistics());
    m_rows[static_cast<std::size_t>(reading)].field->setText(
        QString::fromStdString(readingText(*power, s.decimalPointsInResults)));
    showResult(evaluation);
    if (rc != kMsgNone) {
        showMessageBox(rc, this);
        return false;
    }
    return true;
}

} // namespace quillon
