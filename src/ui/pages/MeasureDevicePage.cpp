#include "ui/pages/MeasureDevicePage.h"

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
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

namespace quillon {

namespace {

// Longest text the entry and TSoff fields take.
constexpr int kMaxEntryLength = 127;

const char *const kRowCaptions[kDeviceReadingCount] = {
    "Noise source ON, DUT out of circuit", "Noise source OFF, DUT out of circuit",
    "Noise source ON, DUT in circuit", "Noise source OFF, DUT in circuit"};

QString fixedText(double value, int decimals)
{
    return QString::fromStdString(formatFixed(value, decimals));
}

// Sets a field's text and runs its change handler, also when the text does not change:
// activation refreshes the values behind the fields this way.
template <typename Handler>
void setFieldText(QLineEdit *field, const QString &text, Handler handler)
{
    {
        const QSignalBlocker block(field);
        field->setText(text);
    }
    handler(field->text());
}

} // namespace

MeasureDevicePage::MeasureDevicePage(QuillonEngine &engine, SettingsStore &store,
                                     SharedValues &shared, MeasuringNoiseDialog &dialog,
                                     const QFont &resultFont, QWidget *parent)
    : PropertyPage(QStringLiteral("Measure Device"), QStringLiteral("measure-device"), parent),
      m_engine(engine), m_store(store), m_shared(shared), m_runner(engine, dialog, this)
{
    setObjectName(QStringLiteral("measureDevicePage"));
    m_noiseGen = (store.read(keys::AutomateNoiseSwitchInMeasureFunction) & 1) != 0;
    m_dutSwitch = (store.read(keys::AutomateDutSwitchInMeasureFunction) & 1) != 0;
    buildControls(resultFont, store);
}

MeasureDevicePage::~MeasureDevicePage() = default;

void MeasureDevicePage::buildControls(const QFont &resultFont, const SettingsStore &store)
{
    // Reference (System) and Device: the four readings.
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
    m_referenceGroup = readingGroup("Reference", "referenceGroup", 0);
    m_deviceGroup = readingGroup("Device", "deviceGroup", 2);

    auto *calibration = new QGroupBox(QStringLiteral("Noise Source Calibration"), this);
    m_entry = new QLineEdit(calibration);
    m_entry->setObjectName(QStringLiteral("enrEntry"));
    m_entry->setMaxLength(kMaxEntryLength);
    m_computed = new QLineEdit(calibration);
    m_computed->setObjectName(QStringLiteral("enrComputed"));
    m_computed->setReadOnly(true);
    m_computed->setEnabled(false);
    m_tsOff = new QLineEdit(calibration);
    m_tsOff->setObjectName(QStringLiteral("tsOff"));
    m_tsOff->setMaxLength(kMaxEntryLength);
    for (QLineEdit *field : {m_entry, m_computed, m_tsOff})
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00000.000")) +
                             16);
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
    calibrationGrid->addWidget(makeCaption(QStringLiteral("TSoff (K)"), m_tsOff, calibration), 2,
                               0);
    calibrationGrid->addWidget(m_tsOff, 2, 1);
    m_enrUncertainty = new QLineEdit(calibration);
    m_enrUncertainty->setObjectName(QStringLiteral("enrUncertainty"));
    m_tsOffUncertainty = new QLineEdit(calibration);
    m_tsOffUncertainty->setObjectName(QStringLiteral("tsOffUncertainty"));
    for (QLineEdit *field : {m_enrUncertainty, m_tsOffUncertainty}) {
        field->setMaxLength(kMaxEntryLength);
        field->setFixedWidth(m_tsOff->width());
    }
    m_enrUncertainty->setText(
        QString::fromStdString(store.read(keys::EnrUncertainty)));
    m_tsOffUncertainty->setText(QString::fromStdString(store.read(keys::TSoffUncertainty)));
    calibrationGrid->addWidget(
        makeCaption(QStringLiteral("ENR \u00b1 (dB, 95%)"), m_enrUncertainty, calibration), 3, 0);
    calibrationGrid->addWidget(m_enrUncertainty, 3, 1);
    calibrationGrid->addWidget(
        makeCaption(QStringLiteral("TSoff \u00b1 (K, 95%)"), m_tsOffUncertainty, calibration), 4,
        0);
    calibrationGrid->addWidget(m_tsOffUncertainty, 4, 1);

    auto *mode = new QGroupBox(QStringLiteral("Measurement Mode"), this);
    m_systemBox = new QCheckBox(QStringLiteral("Overall System Noise Figure"), mode);
    m_systemBox->setObjectName(QStringLiteral("systemMode"));
    m_clearButton = new QPushButton(QStringLiteral("Clear current readings"), mode);
    m_clearButton->setObjectName(QStringLiteral("clearReadings"));
    auto *modeLayout = new QVBoxLayout(mode);
    modeLayout->addWidget(m_systemBox);
    modeLayout->addWidget(m_clearButton);

    m_automate = makeAutomateGroup(true, this);

    auto *results = new QGroupBox(QStringLiteral("Results"), this);
    results->setObjectName(QStringLiteral("resultsGroup"));
    m_gainField = makeResultField(QStringLiteral("gainField"), resultFont, results);
    m_teField = makeResultField(QStringLiteral("teField"), resultFont, results);
    m_fField = makeResultField(QStringLiteral("fField"), resultFont, results);
    m_nfField = makeResultField(QStringLiteral("nfField"), resultFont, results);
    auto *resultsGrid = new QGridLayout(results);
    resultsGrid->setVerticalSpacing(8);
    const auto halfWidths = [results](const char *name) {
        return HalfWidthFields{
            makeHalfWidthField(QLatin1String(name) + QStringLiteral("Statistical"), results),
            makeHalfWidthField(QLatin1String(name) + QStringLiteral("Total"), results)};
    };
    m_gainHalfWidth = halfWidths("gain");
    m_teHalfWidth = halfWidths("te");
    m_fHalfWidth = halfWidths("f");
    m_nfHalfWidth = halfWidths("nf");
    resultsGrid->addWidget(new QLabel(QStringLiteral("Statistical"), results), 0, 2,
                           Qt::AlignHCenter);
    resultsGrid->addWidget(new QLabel(QStringLiteral("Total"), results), 0, 3, Qt::AlignHCenter);
    m_gainCaption = makeCaption(QStringLiteral("Gain (dB)"), m_gainField, results);
    int row = 1;
    for (const auto &[caption, field, halfWidth] :
         {std::tuple{static_cast<QWidget *>(m_gainCaption), m_gainField, m_gainHalfWidth},
          {makeCaption(QStringLiteral("Noise Temp"), m_teField, results), m_teField,
           m_teHalfWidth},
          {makeCaption(QStringLiteral("Noise Factor"), m_fField, results), m_fField,
           m_fHalfWidth},
          {makeCaption(QStringLiteral("Noise Figure"), m_nfField, results), m_nfField,
           m_nfHalfWidth}}) {
        resultsGrid->addWidget(caption, row, 0);
        resultsGrid->addWidget(field, row, 1);
        resultsGrid->addWidget(halfWidth.statistical, row, 2);
        resultsGrid->addWidget(halfWidth.total, row++, 3);
    }
    m_warningLabel = makeWarningLabel(QStringLiteral("warningLabel"), results);
    resultsGrid->addWidget(m_warningLabel, row, 0, 1, 4);
    resultsGrid->setColumnStretch(0, 1);

    auto *precision = new QGroupBox(QStringLiteral("Precision"), this);
    precision->setObjectName(QStringLiteral("precisionGroup"));
    m_precisionEnable = new QCheckBox(QStringLiteral("Averaging to a precision"), precision);
    m_precisionEnable->setObjectName(QStringLiteral("precisionEnable"));
    m_precisionEnable->setChecked(store.read(keys::AveragePrecisionFlag) != 0);
    m_precisionTarget = new QLineEdit(QString::fromStdString(store.read(keys::AveragePrecision)),
                                      precision);
    m_precisionTarget->setObjectName(QStringLiteral("precisionTarget"));
    m_precisionMaxTime = new QLineEdit(
        QString::fromStdString(store.read(keys::AveragePrecisionMaxTime)), precision);
    m_precisionMaxTime->setObjectName(QStringLiteral("precisionMaxTime"));
    for (QLineEdit *field : {m_precisionTarget, m_precisionMaxTime}) {
        field->setMaxLength(kMaxEntryLength);
        field->setFixedWidth(m_tsOff->width());
    }
    m_autoDummy = new QCheckBox(QStringLiteral("automatic dummy reads"), precision);
    m_autoDummy->setObjectName(QStringLiteral("autoDummy"));
    m_autoDummy->setChecked(store.read(keys::AutomaticDummyReads) != 0);
    auto *precisionGrid = new QGridLayout(precision);
    precisionGrid->addWidget(m_precisionEnable, 0, 0, 1, 2);
    precisionGrid->addWidget(
        makeCaption(QStringLiteral("NF \u00b1 (dB, 95%)"), m_precisionTarget, precision), 1, 0);
    precisionGrid->addWidget(m_precisionTarget, 1, 1);
    precisionGrid->addWidget(
        makeCaption(QStringLiteral("Max time (s)"), m_precisionMaxTime, precision), 2, 0);
    precisionGrid->addWidget(m_precisionMaxTime, 2, 1);
    precisionGrid->addWidget(m_autoDummy, 3, 0, 1, 2);

    auto *page = new QGridLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addWidget(m_referenceGroup, 0, 0);
    page->addWidget(calibration, 0, 1);
    page->addWidget(m_deviceGroup, 1, 0);
    page->addWidget(mode, 1, 1);
    page->addWidget(results, 2, 0, 2, 1);
    page->addWidget(m_automate.group, 2, 1);
    page->addWidget(precision, 3, 1);
    page->setRowStretch(4, 1);

    for (int i = 0; i < kDeviceReadingCount; ++i)
        connect(m_rows[static_cast<std::size_t>(i)].measure, &QPushButton::clicked, this,
                [this, i] { runSeries(i); });
    connect(m_entry, &QLineEdit::textChanged, this, &MeasureDevicePage::onEntryChanged);
    connect(m_tsOff, &QLineEdit::textChanged, this, &MeasureDevicePage::onTsOffChanged);
    for (QLineEdit *field : {m_enrUncertainty, m_tsOffUncertainty})
        connect(field, &QLineEdit::textChanged, this, [this] { computeDeviceResults(); });
    // The values of the uncertainty and the precision are kept as they are edited ("Save as
    // Defaut" keeps its own five).
    const auto keep = [this](const TextValue &key, QLineEdit *field) {
        connect(field, &QLineEdit::editingFinished, this, [this, k = &key, field] {
            if (!m_store.write(*k, field->text().toStdString()))
                showMessageBox(kMsgSaveFailed, this);
        });
    };
    keep(keys::EnrUncertainty, m_enrUncertainty);
    keep(keys::TSoffUncertainty, m_tsOffUncertainty);
    keep(keys::AveragePrecision, m_precisionTarget);
    keep(keys::AveragePrecisionMaxTime, m_precisionMaxTime);
    for (const auto &[key, box] : {std::pair{&keys::AveragePrecisionFlag, m_precisionEnable},
                                   {&keys::AutomaticDummyReads, m_autoDummy}})
        connect(box, &QCheckBox::clicked, this, [this, key](bool checked) {
            if (!m_store.write(*key, checked ? 1 : 0))
                showMessageBox(kMsgSaveFailed, this);
        });
    connect(m_systemBox, &QCheckBox::clicked, this, &MeasureDevicePage::onSystemModeClicked);
    connect(m_clearButton, &QPushButton::clicked, this, &MeasureDevicePage::onClearReadings);
    connect(m_automate.noiseGen, &QCheckBox::clicked, this, [this](bool checked) {
        m_noiseGen = checked;
        updateDeviceControls();
    });
    connect(m_automate.dutSwitch, &QCheckBox::clicked, this, [this](bool checked) {
        m_dutSwitch = checked;
        updateDeviceControls();
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
    connect(m_automate.save, &QPushButton::clicked, this, &MeasureDevicePage::onSaveAsDefault);
}

void MeasureDevicePage::setLogClock(LocalClock clock)
{
    m_log = MeasurementLog(std::move(clock));
}

// ---- Life cycle ----

void MeasureDevicePage::initializePage()
{
    m_readings.clearPresent();
}

void MeasureDevicePage::activatePage()
{
    m_active = true;
    const Settings &s = m_engine.settings();
    updateDeviceControls();
    setFieldText(m_entry, fixedText(m_shared.enrEntry(), 3),
                 [this](const QString &t) { onEntryChanged(t); });
    setFieldText(m_tsOff, fixedText(m_shared.tsOff(), 2),
                 [this](const QString &t) { onTsOffChanged(t); });
    m_automate.averageEnable->setChecked(m_shared.averaging());
    m_computedCaption->setEnabled(s.useEnrFile);
    m_entryCaption->setText(s.useEnrFile ? QStringLiteral("F (MHz)") : QStringLiteral("ENR (dB)"));
    selectListEntry(m_automate.averageCount, m_shared.averageCount() - 1);
    // The Calibrate Noise Source page may have changed the count since.
    selectListEntry(m_automate.dummyReads, m_shared.dummyReads());
    m_automate.noiseGen->setChecked(m_noiseGen);
    m_automate.dutSwitch->setChecked(m_dutSwitch);
}

void MeasureDevicePage::deactivatePage()
{
    // Leaving the page (or closing the window) ends a reading in progress and its series.
    m_active = false;
    m_runner.abort();
    m_engine.capture().stopCapture();
}

// ---- Enables and results ----

void MeasureDevicePage::updateDeviceControls()
{
    const bool present = m_engine.settings().switchPortChosen;
    if (!present) {
        m_noiseGen = false;
        m_dutSwitch = false;
    }
    m_automate.noiseGen->setEnabled(present);
    m_automate.dutSwitch->setEnabled(present && !m_systemMode);
    m_rows[1].measure->setEnabled(!m_noiseGen);
    m_rows[2].measure->setEnabled(!m_systemMode && !m_dutSwitch);
    m_rows[3].measure->setEnabled(!m_systemMode && !m_dutSwitch && !m_noiseGen);
    for (int i = 2; i < kDeviceReadingCount; ++i) {
        m_rows[static_cast<std::size_t>(i)].caption->setEnabled(!m_systemMode);
        m_rows[static_cast<std::size_t>(i)].field->setEnabled(!m_systemMode);
    }
    m_deviceGroup->setEnabled(!m_systemMode);
    m_gainCaption->setEnabled(!m_systemMode);
    m_gainField->setEnabled(!m_systemMode);
    m_referenceGroup->setTitle(m_systemMode ? QStringLiteral("System")
                                            : QStringLiteral("Reference"));
}

DeviceConditions MeasureDevicePage::conditions() const
{
    return {m_systemMode, m_enrInEffect, m_shared.t0(), m_shared.tsOff()};
}

StatedUncertainty MeasureDevicePage::stated() const
{
    // The ENR file's third column where it gives one for the entry, else the typed value.
    const Settings &s = m_engine.settings();
    double enr = enrUncertaintyForEntry(m_shared.enrEntry(), s.useEnrFile, m_engine.enrTable());
    if (!std::isfinite(enr))
        enr = parseDecimal(m_enrUncertainty->text().toStdString());
    const double tsOff = parseDecimal(m_tsOffUncertainty->text().toStdString());
    return {std::isfinite(enr) && enr > 0.0 ? enr : 0.0,
            std::isfinite(tsOff) && tsOff > 0.0 ? tsOff : 0.0};
}

ReadingPlan MeasureDevicePage::readingPlan(int reading) const
{
    ReadingPlan plan{m_shared.dummyReadsLimited(), m_shared.averaging(),
                     m_shared.averageCountLimited()};
    plan.autoDummy = m_autoDummy->isChecked();
    const double target = parseDecimal(m_precisionTarget->text().toStdString());
    if (!m_precisionEnable->isChecked() || !(target > 0.0))
        return plan;
    ReadingPlan::Precision p;
    p.target.halfWidthDb = target;
    const double maxTime = parseDecimal(m_precisionMaxTime->text().toStdString());
    if (maxTime > 0.0)
        p.target.maxSeconds = maxTime;
    // The readings taken in this pass with their errors; the others with their last power.
    for (int i = 0; i < kDeviceReadingCount; ++i) {
        PrecisionReading &r = p.series[static_cast<std::size_t>(i)];
        if (!m_readings.present(i))
            continue;
        r.power = m_readings.power(i);
        r.taken = m_takenInPass[static_cast<std::size_t>(i)];
        if (r.taken)
            r.error = m_readings.error(i);
    }
    p.current = reading;
    p.systemMode = m_systemMode;
    p.enrDb = m_enrInEffect;
    p.t0 = m_shared.t0();
    p.tsOff = m_shared.tsOff();
    plan.precision = p;
    return plan;
}

void MeasureDevicePage::computeDeviceResults()
{
    showEvaluation(m_readings.evaluate(conditions(), m_engine.settings(), m_engine.resultLine()));
}

void MeasureDevicePage::showEvaluation(const DeviceEvaluation &evaluation)
{
    const DeviceResultTexts &t = evaluation.texts;
    if (!t.complete)
        return; // the fields keep what they show; only the log hears "Not Calculated."
    m_gainField->setText(QString::fromStdString(t.gain)); // empty in system mode
    m_teField->setText(QString::fromStdString(t.te));
    m_fField->setText(QString::fromStdString(t.f));
    m_nfField->setText(QString::fromStdString(t.nf));

    const DeviceUncertaintyTexts u =
        deviceUncertaintyTexts(m_readings.uncertainty(conditions(), stated()));
    for (const auto &[fields, texts] : {std::pair{m_gainHalfWidth, u.gain}, {m_teHalfWidth, u.te},
                                        {m_fHalfWidth, u.f}, {m_nfHalfWidth, u.nf}}) {
        fields.statistical->setText(QString::fromStdString(texts.statistical));
        fields.total->setText(QString::fromStdString(texts.total));
    }
    showWarnings(m_warningLabel, QString::fromStdString(warningText(m_readings.warnings())));
}

void MeasureDevicePage::clearUncertainty()
{
    for (const HalfWidthFields &f : {m_gainHalfWidth, m_teHalfWidth, m_fHalfWidth, m_nfHalfWidth}) {
        f.statistical->clear();
        f.total->clear();
    }
    showWarnings(m_warningLabel, QString());
}

// ---- Handlers ----

void MeasureDevicePage::onEntryChanged(const QString &text)
{
    m_shared.setEnrEntry(parseDecimal(text.toStdString()));
    const Settings &s = m_engine.settings();
    m_enrInEffect = enrForEntry(m_shared.enrEntry(), s, m_engine.enrTable());
    m_computed->setText(s.useEnrFile ? fixedText(m_enrInEffect, 3) : QString());
    computeDeviceResults();
}

void MeasureDevicePage::onTsOffChanged(const QString &text)
{
    m_shared.setTsOff(parseDecimal(text.toStdString()));
    computeDeviceResults();
}

void MeasureDevicePage::onSystemModeClicked(bool checked)
{
    m_systemMode = checked;
    updateDeviceControls();
    computeDeviceResults();
}

void MeasureDevicePage::onClearReadings()
{
    m_readings.clearPresent();
    for (const ReadingRow &row : m_rows)
        row.field->clear();
    for (QLineEdit *field : {m_gainField, m_teField, m_fField, m_nfField})
        field->clear();
    clearUncertainty();
}

void MeasureDevicePage::onSaveAsDefault()
{
    SaveBatch batch(m_store);
    batch.write(keys::TraceAverageCount, m_shared.averageCount());
    batch.write(keys::TraceAverageFlag, m_shared.averaging() ? 1 : 0);
    batch.write(keys::DummyReads, m_shared.dummyReads());
    batch.write(keys::AutomateNoiseSwitchInMeasureFunction, m_noiseGen ? 1 : 0);
    batch.write(keys::AutomateDutSwitchInMeasureFunction, m_dutSwitch ? 1 : 0);
    if (const int rc = batch.result(); rc != kMsgNone)
        showMessageBox(rc, this);
}

// ---- The series ----

void MeasureDevicePage::runSeries(int button)
{
    if (m_seriesRunning || !m_active)
        return;
    m_seriesRunning = true;
    bool ok = true;
    do {
        m_takenInPass = {};
        // The flags are read afresh before every step, as the series runs.
        for (int r = nextDeviceReading(button, -1, {m_noiseGen, m_dutSwitch, m_systemMode});
             ok && r >= 0;
             r = nextDeviceReading(button, r, {m_noiseGen, m_dutSwitch, m_systemMode}))
            ok = measureReading(r);
    } while (ok && m_repeat);
    m_seriesRunning = false;
}

bool MeasureDevicePage::measureReading(int reading)
{
    const Settings &s = m_engine.settings();
    m_engine.capture().stopCapture();
    if (s.switchPortChosen && (m_noiseGen || m_dutSwitch)) {
        // Both outputs, even with one automation on; they stay so after the reading.
        const DeviceSwitchState st = deviceReadingSwitches(reading);
        m_engine.switches().setSwitches(st.noiseOn, st.dutIn);
    }
    // A switch message may have been up; the page may have been left meanwhile.
    if (!m_active)
        return false;

    const ReadingPlan plan = readingPlan(reading);
    const std::string_view label = nfReadingLabel(reading);
    const std::optional<double> power =
        m_runner.take(plan, QLatin1String(label.data(), static_cast<qsizetype>(label.size())));
    if (!power)
        return false; // the reading keeps its earlier value

    DeviceEvaluation evaluation;
    const int rc = m_readings.complete(reading, *power, conditions(), s, m_engine.resultLine(),
                                       m_log, evaluation);
    m_readings.setQuality(reading, m_runner.statistics());
    m_takenInPass[static_cast<std::size_t>(reading)] = true;
    m_rows[static_cast<std::size_t>(reading)].field->setText(
        QString::fromStdString(readingText(*power, s.decimalPointsInResults)));
    showEvaluation(evaluation);
    if (rc != kMsgNone) {
        showMessageBox(rc, this); // stored and shown, but the series ends
        return false;
    }
    return true;
}

} // namespace quillon
