#include "ui/pages/MeasureDevicePage.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "capture/DeviceList.h"
#include "capture/WaveFormat.h"
#include "measure/ModalReading.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "ui/CorrectionsDialog.h"
#include "ui/MessageBox.h"
#include "ui/ReportSaving.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>
#include <tuple>

namespace quillon {

namespace {

const char *const kRowCaptions[kDeviceReadingCount] = {
    "Noise source ON, DUT out of circuit", "Noise source OFF, DUT out of circuit",
    "Noise source ON, DUT in circuit", "Noise source OFF, DUT in circuit"};

// A limit field: empty for none; a text that is not a number (marked where it is typed)
// gives none either.
double limitFrom(const QLineEdit *field)
{
    const std::string text = field->text().trimmed().toStdString();
    return isDecimalText(text) ? parseDecimal(text) : LimitRow::kNone;
}

// Words first; the colour only repeats them.
const char *verdictStyle(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        return "QLineEdit { color: #1b7f3a; font-weight: bold; }";
    case Verdict::Fail:
        return "QLineEdit { color: #b00020; font-weight: bold; }";
    case Verdict::Indeterminate:
        return "QLineEdit { color: #b36b00; font-weight: bold; }";
    case Verdict::None:
        break;
    }
    return "";
}

} // namespace

MeasureDevicePage::MeasureDevicePage(const PageContext &context, QWidget *parent)
    : ReadingPage(QStringLiteral("Measure Device"), QStringLiteral("measure-device"),
                  SeriesKind::Device, keys::AutomateNoiseSwitchInMeasureFunction,
                  &keys::AutomateDutSwitchInMeasureFunction, context, parent)
{
    setObjectName(QStringLiteral("measureDevicePage"));
    m_corrections = loadCorrectionSettings(SettingsStore(kCorrectionsGroup));
    m_tablesRead = readLossTables(m_corrections, m_lossTables);
    buildControls(context.resultFont, context.store);
}

MeasureDevicePage::~MeasureDevicePage() = default;

void MeasureDevicePage::buildControls(const QFont &resultFont, const SettingsStore &store)
{
    // Reference (System) and Device: the four readings.
    m_referenceGroup =
        makeReadingGroup(QStringLiteral("Reference"), "referenceGroup", 0, kRowCaptions);
    m_deviceGroup = makeReadingGroup(QStringLiteral("Device"), "deviceGroup", 2, kRowCaptions);

    auto *calibration = new QGroupBox(QStringLiteral("Noise Source Calibration"), this);
    m_tsOff = makeNumberField("tsOff", calibration);
    auto *calibrationGrid = new QGridLayout(calibration);
    addEntryRows(calibrationGrid);
    int row = 2;
    for (const auto &[caption, field] : {std::pair{"TSoff (K)", m_tsOff},
                                         {"ENR \u00b1 (dB, 95%)", m_enrUncertainty},
                                         {"TSoff \u00b1 (K, 95%)", m_tsOffUncertainty}}) {
        calibrationGrid->addWidget(makeCaption(QString::fromUtf8(caption), field, calibration), row,
                                   0);
        calibrationGrid->addWidget(field, row++, 1);
    }

    auto *mode = new QGroupBox(QStringLiteral("Measurement Mode"), this);
    m_systemBox = new QCheckBox(QStringLiteral("Overall System Noise Figure"), mode);
    m_systemBox->setObjectName(QStringLiteral("systemMode"));
    auto *clearButton = new QPushButton(QStringLiteral("Clear current readings"), mode);
    clearButton->setObjectName(QStringLiteral("clearReadings"));
    auto *limitsButton = new QPushButton(QStringLiteral("Limits and DUT..."), mode);
    limitsButton->setObjectName(QStringLiteral("limitsButton"));
    m_saveReport = new QPushButton(QStringLiteral("Save Report..."), mode);
    m_saveReport->setObjectName(QStringLiteral("saveReport"));
    auto *modeLayout = new QGridLayout(mode);
    modeLayout->addWidget(m_systemBox, 0, 0);
    modeLayout->addWidget(m_saveReport, 0, 1);
    modeLayout->addWidget(clearButton, 1, 0);
    modeLayout->addWidget(limitsButton, 1, 1);
    m_correctionsButton = new QPushButton(QStringLiteral("Corrections..."), mode);
    m_correctionsButton->setObjectName(QStringLiteral("correctionsButton"));
    modeLayout->addWidget(m_correctionsButton, 0, 2);

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
    std::vector<QLineEdit *> cleared{m_gainField, m_teField, m_fField, m_nfField};
    for (const HalfWidthFields &f : {m_gainHalfWidth, m_teHalfWidth, m_fHalfWidth, m_nfHalfWidth})
        cleared.insert(cleared.end(), {f.statistical, f.total});
    std::vector<QLineEdit *> resultFields = cleared;
    resultsGrid->addWidget(new QLabel(QStringLiteral("Statistical"), results), 0, 2,
                           Qt::AlignHCenter);
    resultsGrid->addWidget(new QLabel(QStringLiteral("Total"), results), 0, 3, Qt::AlignHCenter);
    m_gainCaption = makeCaption(QStringLiteral("Gain (dB)"), m_gainField, results);
    row = 1;
    for (const auto &[caption, field, halfWidth] :
         {std::tuple{static_cast<QWidget *>(m_gainCaption), m_gainField, m_gainHalfWidth},
          {makeCaption(QStringLiteral("Noise Temp"), m_teField, results), m_teField, m_teHalfWidth},
          {makeCaption(QStringLiteral("Noise Factor"), m_fField, results), m_fField, m_fHalfWidth},
          {makeCaption(QStringLiteral("Noise Figure"), m_nfField, results), m_nfField,
           m_nfHalfWidth}}) {
        resultsGrid->addWidget(caption, row, 0);
        resultsGrid->addWidget(field, row, 1);
        resultsGrid->addWidget(halfWidth.statistical, row, 2);
        resultsGrid->addWidget(halfWidth.total, row++, 3);
    }
    m_verdictField = new QLineEdit(results);
    m_verdictField->setObjectName(QStringLiteral("verdictField"));
    m_verdictField->setReadOnly(true);
    m_verdictField->setFocusPolicy(Qt::ClickFocus); // selectable, not in the Tab chain
    // In the heading row, whose first two cells are free: the page keeps its height.
    resultsGrid->addWidget(makeCaption(QStringLiteral("Verdict"), m_verdictField, results), 0, 0);
    resultsGrid->addWidget(m_verdictField, 0, 1);
    resultFields.push_back(m_verdictField);
    setResultFields(std::move(resultFields));
    resultsGrid->addWidget(m_warningLabel, row++, 0, 1, 4);
    m_correctedFor = new QLabel(results);
    m_correctedFor->setObjectName(QStringLiteral("correctedFor"));
    m_correctedFor->setWordWrap(true);
    m_correctedFor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    resultsGrid->addWidget(m_correctedFor, row, 0, 1, 4);
    resultsGrid->setColumnStretch(0, 1);

    auto *precision = new QGroupBox(QStringLiteral("Precision"), this);
    precision->setObjectName(QStringLiteral("precisionGroup"));
    m_precisionEnable = new QCheckBox(QStringLiteral("Averaging to a precision"), precision);
    m_precisionEnable->setObjectName(QStringLiteral("precisionEnable"));
    m_precisionEnable->setChecked(store.read(keys::AveragePrecisionFlag) != 0);
    m_precisionTarget = makeNumberField("precisionTarget", precision);
    m_precisionTarget->setText(QString::fromStdString(store.read(keys::AveragePrecision)));
    m_precisionMaxTime = makeNumberField("precisionMaxTime", precision);
    m_precisionMaxTime->setText(QString::fromStdString(store.read(keys::AveragePrecisionMaxTime)));
    auto *precisionGrid = new QGridLayout(precision);
    precisionGrid->addWidget(m_precisionEnable, 0, 0, 1, 2);
    precisionGrid->addWidget(
        makeCaption(QStringLiteral("NF \u00b1 (dB, 95%)"), m_precisionTarget, precision), 1, 0);
    precisionGrid->addWidget(m_precisionTarget, 1, 1);
    precisionGrid->addWidget(
        makeCaption(QStringLiteral("Max time (s)"), m_precisionMaxTime, precision), 2, 0);
    precisionGrid->addWidget(m_precisionMaxTime, 2, 1);
    m_autoDummy->setParent(precision);
    precisionGrid->addWidget(m_autoDummy, 3, 0, 1, 2);
    m_driftOrder =
        new QCheckBox(QStringLiteral("Drift-cancelling order (ON, OFF, OFF, ON)"), precision);
    m_driftOrder->setObjectName(QStringLiteral("driftOrder"));
    m_driftOrder->setToolTip(QStringLiteral(
        "Take each ON reading in two halves around its OFF reading, so that a steady drift of "
        "the receiver's gain cancels in the Y factor (not while averaging to a precision)"));
    m_driftOrder->setChecked(store.read(keys::DriftCancellingOrder) != 0);
    precisionGrid->addWidget(m_driftOrder, 4, 0, 1, 2);

    // The limits and the DUT record in a dialog of their own, kept while the page lives.
    auto *limitsGroup = new QDialog(this);
    limitsGroup->setObjectName(QStringLiteral("limitsDialog"));
    limitsGroup->setWindowTitle(QStringLiteral("Limits and DUT"));
    auto *limitsGrid = new QGridLayout(limitsGroup);
    m_nfMax = makeNumberField("nfMax", limitsGroup);
    m_gainMin = makeNumberField("gainMin", limitsGroup);
    m_gainMax = makeNumberField("gainMax", limitsGroup);
    auto textField = [limitsGroup](const char *name) {
        auto *field = new QLineEdit(limitsGroup);
        field->setObjectName(QLatin1String(name));
        return field;
    };
    m_dutName = textField("dutName");
    m_dutSerial = textField("dutSerial");
    m_dutNotes = textField("dutNotes");
    int limitRow = 0;
    for (const auto &[caption, field, key] :
         {std::tuple{"NF max (dB)", m_nfMax, &keys::LimitNfMax},
          {"Gain min (dB)", m_gainMin, &keys::LimitGainMin},
          {"Gain max (dB)", m_gainMax, &keys::LimitGainMax},
          {"DUT name", m_dutName, &keys::DutName},
          {"Serial", m_dutSerial, &keys::DutSerial},
          {"Notes", m_dutNotes, &keys::DutNotes}}) {
        field->setText(QString::fromStdString(store.read(*key)));
        limitsGrid->addWidget(makeCaption(QString::fromUtf8(caption), field, limitsGroup),
                              limitRow, 0);
        limitsGrid->addWidget(field, limitRow++, 1);
        // Kept as typed, with the results they describe.
        connect(field, &QLineEdit::editingFinished, this, [this, key, field] {
            if (!m_store.write(*key, field->text().toStdString()))
                showMessageBox(kMsgSaveFailed, this);
        });
    }
    auto *close = new QPushButton(QStringLiteral("Close"), limitsGroup);
    limitsGrid->addWidget(close, limitRow, 1);
    connect(close, &QPushButton::clicked, limitsGroup, &QDialog::accept);
    connect(limitsButton, &QPushButton::clicked, limitsGroup, &QDialog::show);

    // Two columns, each packed from the top: the readings and their results (with the
    // half-widths and warnings beside and below them) on the left, what is typed and chosen on
    // the right, where the wait dialog sits while a reading runs.
    auto *left = new QVBoxLayout;
    left->setSpacing(12);
    left->addWidget(m_referenceGroup);
    left->addWidget(m_deviceGroup);
    left->addWidget(results);
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->setSpacing(12);
    right->addWidget(calibration);
    right->addWidget(mode);
    right->addWidget(m_automate.group);
    right->addWidget(precision);
    right->addStretch(1);
    auto *page = new QHBoxLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addLayout(left, 1);
    page->addLayout(right, 0);

    addNumberField(m_tsOff, QStringLiteral("The noise source's temperature when off in K, "
                                           "e.g. 293.0"));
    for (QLineEdit *limit : {m_nfMax, m_gainMin, m_gainMax})
        addNumberField(limit, QStringLiteral("A limit in dB, e.g. 1.5, or empty for none"), true,
                       false);
    addNumberField(m_precisionTarget,
                   QStringLiteral("The noise figure's 95% half-width to reach in dB, e.g. 0.05"),
                   false, false);
    addNumberField(m_precisionMaxTime,
                   QStringLiteral("The longest time a series may take in s, e.g. 60"), false,
                   false);
    // Tab goes down the left column, then the right.
    QWidget *chain[] = {m_rows[0].measure,       m_rows[1].measure, m_rows[2].measure,
                        m_rows[3].measure,       m_entry,           m_tsOff,
                        m_enrUncertainty,        m_tsOffUncertainty, m_systemBox,
                        m_saveReport,            clearButton,
                        limitsButton,            m_automate.noiseGen, m_automate.dutSwitch,
                        m_automate.dummyReads,   m_automate.repeat, m_automate.averageEnable,
                        m_automate.averageCount, m_automate.save,   m_precisionEnable,
                        m_precisionTarget,       m_precisionMaxTime, m_autoDummy,
                        m_driftOrder};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    connect(m_tsOff, &QLineEdit::textChanged, this, &MeasureDevicePage::onTsOffChanged);
    // The precision's values are kept as they are edited ("Save as Defaut" keeps its own).
    for (const auto &[key, field] : {std::pair{&keys::AveragePrecision, m_precisionTarget},
                                     {&keys::AveragePrecisionMaxTime, m_precisionMaxTime}})
        connect(field, &QLineEdit::editingFinished, this, [this, key, field] {
            if (!m_store.write(*key, field->text().toStdString()))
                showMessageBox(kMsgSaveFailed, this);
        });
    connect(m_precisionEnable, &QCheckBox::clicked, this, [this](bool checked) {
        if (!m_store.write(keys::AveragePrecisionFlag, checked ? 1 : 0))
            showMessageBox(kMsgSaveFailed, this);
    });
    connect(m_driftOrder, &QCheckBox::clicked, this, [this](bool checked) {
        if (!m_store.write(keys::DriftCancellingOrder, checked ? 1 : 0))
            showMessageBox(kMsgSaveFailed, this);
    });
    connect(m_systemBox, &QCheckBox::clicked, this, [this](bool checked) {
        m_systemMode = checked;
        updateControls();
        compute();
    });
    connect(clearButton, &QPushButton::clicked, this, [this] {
        m_resultShown = false;
        clearReadings();
        showVerdict();
    });
    for (QLineEdit *limit : {m_nfMax, m_gainMin, m_gainMax})
        connect(limit, &QLineEdit::textChanged, this, &MeasureDevicePage::showVerdict);
    connect(m_saveReport, &QPushButton::clicked, this, &MeasureDevicePage::saveReport);
    m_reportDialog = [this] { return askReportPath(this); };
    connect(m_correctionsButton, &QPushButton::clicked, this, &MeasureDevicePage::editCorrections);
}

void MeasureDevicePage::editCorrections()
{
    CorrectionsDialog dialog(m_corrections, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_corrections = dialog.settings();
    SettingsStore store(kCorrectionsGroup);
    if (!saveCorrectionSettings(store, m_corrections).ok())
        showMessageBox(kMsgSaveFailed, this);
    m_tablesRead = readLossTables(m_corrections, m_lossTables);
    compute();
}

Result MeasureDevicePage::resolvedCorrections(ChainCorrections &out) const
{
    out = {};
    if (!m_corrections.any())
        return {};
    if (!m_tablesRead.ok())
        return m_tablesRead;
    const Settings &s = m_engine.settings();
    const EnrTable &table = m_engine.enrTable();
    const double typedEnr = enrInEffect();
    const auto enrAt = [&](double mhz) {
        return s.useEnrFile ? enrForEntry(mhz, true, table) : typedEnr;
    };
    const double frequency = s.useEnrFile ? m_shared.enrEntry() : m_corrections.frequencyMHz;
    return resolveCorrections(m_corrections, m_lossTables, frequency, enrAt, out);
}

bool MeasureDevicePage::ownEntriesValid(bool forSeries) const
{
    ChainCorrections c;
    const Result r = resolvedCorrections(c);
    if (!r.ok()) {
        m_correctedFor->setStyleSheet(QStringLiteral("color: #c00000;"));
        m_correctedFor->setText(QStringLiteral("Not computed: ") + QString::fromStdString(r.detail));
        if (forSeries)
            showMessageText(QString::fromStdString(r.detail), m_correctionsButton);
        return false;
    }
    m_correctedFor->setStyleSheet(QString());
    m_correctedFor->setText(
        QString::fromStdString(correctedForText(appliedCorrections(c, m_systemMode))));
    return true;
}

// ---- The page's own steps ----

void MeasureDevicePage::showPageValues()
{
    {
        const QSignalBlocker block(m_tsOff);
        m_tsOff->setText(QString::fromStdString(formatFixed(m_shared.tsOff(), 2)));
    }
    onTsOffChanged(m_tsOff->text());
}

void MeasureDevicePage::updatePageControls()
{
    const bool present = m_engine.settings().switchPortChosen;
    // In system mode the DUT automation keeps its value although its box is disabled.
    m_automate.dutSwitch->setEnabled(present && !m_systemMode);
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

SeriesConditions MeasureDevicePage::conditions() const
{
    SeriesConditions c{SeriesKind::Device, m_systemMode,     enrInEffect(),
                       m_shared.t0(),      m_shared.tsOff(), m_shared.tsOff(), {}};
    // Only corrections that resolve are applied; ownEntriesValid keeps the others from any
    // result.
    ChainCorrections corrections;
    if (resolvedCorrections(corrections).ok())
        c.corrections = corrections;
    return c;
}

SeriesPlan MeasureDevicePage::seriesPlan(int button) const
{
    SeriesPlan plan = ReadingPage::seriesPlan(button);
    plan.precision = precisionFromText(m_precisionEnable->isChecked(),
                                       m_precisionTarget->text().toStdString(),
                                       m_precisionMaxTime->text().toStdString());
    plan.driftOrder = m_driftOrder->isChecked();
    return plan;
}

void MeasureDevicePage::showResults(const SeriesEvaluation &evaluation,
                                    const SeriesUncertainty &uncertainty)
{
    const DeviceResultTexts &t = evaluation.deviceTexts;
    m_gainField->setText(QString::fromStdString(t.gain)); // empty in system mode
    m_teField->setText(QString::fromStdString(t.te));
    m_fField->setText(QString::fromStdString(t.f));
    m_nfField->setText(QString::fromStdString(t.nf));
    const DeviceUncertaintyTexts u = deviceUncertaintyTexts(uncertainty.device);
    // A result that is not valid (" Error", or none) has no half-width beside it.
    for (const auto &[fields, texts, result] : {std::tuple{m_gainHalfWidth, u.gain, &t.gain},
                                                {m_teHalfWidth, u.te, &t.te},
                                                {m_fHalfWidth, u.f, &t.f},
                                                {m_nfHalfWidth, u.nf, &t.nf}}) {
        const bool valid = !result->empty() && *result != messageText(kMsgResultError);
        fields.statistical->setText(valid ? halfWidthForField(texts.statistical) : QString());
        fields.total->setText(valid ? halfWidthForField(texts.total) : QString());
    }
    m_shownResults = evaluation.device;
    m_shownUncertainty = uncertainty.device;
    m_resultShown = evaluation.device.complete;
    showVerdict();
}

double MeasureDevicePage::resultFrequencyMHz() const
{
    // With the ENR file in use the entry is the frequency measured at.
    return m_engine.settings().useEnrFile ? m_shared.enrEntry() : LimitRow::kNone;
}

Limits MeasureDevicePage::limits() const
{
    Limits l;
    l.nfMaxDb = limitFrom(m_nfMax);
    l.gainMinDb = limitFrom(m_gainMin);
    l.gainMaxDb = limitFrom(m_gainMax);
    return l;
}

void MeasureDevicePage::showVerdict()
{
    const Limits l = limits();
    if (!m_resultShown || !l.any()) {
        m_verdictField->clear();
        m_verdictField->setStyleSheet(QString());
        return;
    }
    const DeviceResults &res = m_shownResults;
    const bool nfShown = res.complete && res.noise.valid;
    const bool gainShown = res.complete && !m_systemMode && res.gainValid;
    const ResultVerdict v = verdictFor(
        l, resultFrequencyMHz(), nfShown ? res.noise.nf : LimitRow::kNone,
        m_shownUncertainty.nf.totalHalfWidth(), gainShown ? res.gainDb : LimitRow::kNone,
        m_shownUncertainty.gainDb.totalHalfWidth());
    QString text = QString::fromLatin1(verdictText(v.overall));
    if (v.overall == Verdict::None)
        text = QString::fromStdString(v.message.empty() ? "no verdict" : v.message);
    m_verdictField->setText(text);
    m_verdictField->setStyleSheet(QString::fromLatin1(verdictStyle(v.overall)));
}

ReportData MeasureDevicePage::reportData() const
{
    const Settings &s = m_engine.settings();
    ReportData d;
    d.page = "Measure Device";
    d.dut = {m_dutName->text().toStdString(), m_dutSerial->text().toStdString(),
             m_dutNotes->text().toStdString()};
    d.dateTime = QDateTime::currentDateTime()
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                     .toStdString();
    DeviceCaps caps;
    if (m_engine.devices().deviceCaps(s.waveInDevice, caps))
        d.soundDevice = caps.productName;
    if (s.waveInFormat >= 0 && s.waveInFormat < kWaveFormatCount)
        d.format = WaveFormatTable[static_cast<std::size_t>(s.waveInFormat)].label;
    d.captureTimeMs = static_cast<int>(s.captureTimeMs);
    const SeriesPlan plan = ReadingPage::seriesPlan(0);
    d.dummyReads = plan.reading.dummyReads;
    d.averageCount = ModalReading::countedBlocks(plan.reading);
    d.highPass = s.highPassFilter;
    d.switchPort = s.switchPortName;
    d.systemMode = m_systemMode;
    d.tsOff = m_shared.tsOff();
    d.t0 = m_shared.t0();
    const double frequency = resultFrequencyMHz();
    d.enrFromFile = s.useEnrFile;
    if (s.useEnrFile) {
        d.enrFile = s.enrCalibrationFile;
        d.enrRows = enrRowsUsed(m_engine.enrTable(), frequency);
    }
    d.limits = limits();
    const ChainCorrections applied = appliedCorrections(conditions().corrections, m_systemMode);
    const std::string correctedFor = correctedForText(applied);
    if (!correctedFor.empty())
        d.corrections.push_back(correctedFor);
    const SeriesReadings &r = readings();
    const int count = m_systemMode ? 2 : kDeviceReadingCount;
    for (int i = 0; i < count; ++i)
        if (!r.present(i))
            return d; // no complete result: nothing to report
    ReportResult result;
    result.label = "Result";
    result.frequencyMHz = frequency;
    result.enrDb = enrInEffect();
    result.stated = stated();
    result.corrections = applied;
    // The drift term as the shown totals took it (SeriesReadings::uncertainty).
    const DriftEstimate drift = r.drift();
    if (drift.known && drift.resolved)
        result.drift = drift.term;
    for (int i = 0; i < count; ++i) {
        ReportReading x;
        x.number = i;
        x.label = kRowCaptions[i];
        x.power = r.power(i);
        x.statistics.relativeStandardError = r.error(i).relative;
        x.statistics.degreesOfFreedom = r.error(i).degreesOfFreedom;
        const std::string w = warningText(r.warnings(i));
        for (std::size_t at = 0; at < w.size();) {
            const std::size_t end = std::min(w.find('\n', at), w.size());
            x.warnings.push_back(w.substr(at, end - at));
            at = end + 1;
        }
        result.readings.push_back(std::move(x));
    }
    fillReportResult(result, m_systemMode, d.t0, d.tsOff, d.limits);
    d.results.push_back(std::move(result));
    return d;
}

void MeasureDevicePage::saveReport()
{
    const ReportData data = reportData();
    saveReportFiles(this,
                    data.results.empty() ? QStringLiteral("There is no complete result to report "
                                                          "yet: take the readings first.")
                                         : QString(),
                    m_reportDialog, [&data](const std::string &path) {
                        return writeReport(path, data);
                    });
}

void MeasureDevicePage::onTsOffChanged(const QString &text)
{
    m_shared.setTsOff(parseDecimal(text.toStdString()));
    compute();
}

} // namespace quillon
