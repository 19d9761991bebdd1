#include "ui/pages/ReadingPage.h"

#include "capture/WaveCapture.h"
#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "nf/EnrTable.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"
#include "ui/PostToWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace quillon {

namespace {

// Longest text the entry fields take.
constexpr int kMaxEntryLength = 127;

QString fixedText(double value, int decimals)
{
    return QString::fromStdString(formatFixed(value, decimals));
}

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ReadingPage::ReadingPage(const QString &caption, const QString &helpTopic, SeriesKind kind,
                         const IntValue &noiseGenKey, const IntValue *dutSwitchKey,
                         const PageContext &context, QWidget *parent)
    : PropertyPage(caption, helpTopic, parent), m_engine(context.engine), m_store(context.store),
      m_shared(context.shared), m_noiseGenKey(noiseGenKey), m_dutSwitchKey(dutSwitchKey),
      m_dialog(context.waitDialog), m_readings(kind),
      m_runner(m_engine, m_engine.settings(), m_engine.resultLine())
{
    const SettingsStore &store = m_store;
    m_runner.setLog(m_log);
    m_noiseGen = (store.read(noiseGenKey) & 1) != 0;
    m_dutSwitch = dutSwitchKey != nullptr && (store.read(*dutSwitchKey) & 1) != 0;

    m_entry = makeNumberField("enrEntry", this);
    m_computed = makeNumberField("enrComputed", this);
    makeShownValue(m_computed);
    m_computed->setToolTip(QStringLiteral("The ENR the calibration file gives at the frequency"));
    m_entryCaption = makeCaption(QStringLiteral("ENR (dB)"), m_entry, this);
    m_entryCaption->setObjectName(QStringLiteral("enrCaption"));
    m_computedCaption =
        makeCaption(QStringLiteral("ENR (dB) Computed from Freq"), m_computed, this);
    m_computedCaption->setObjectName(QStringLiteral("enrComputedCaption"));
    m_enrUncertainty = makeNumberField("enrUncertainty", this);
    m_tsOffUncertainty = makeNumberField("tsOffUncertainty", this);
    m_enrUncertainty->setText(QString::fromStdString(store.read(keys::EnrUncertainty)));
    m_tsOffUncertainty->setText(QString::fromStdString(store.read(keys::TSoffUncertainty)));
    m_automate = makeAutomateGroup(dutSwitchKey != nullptr, this);
    m_warningLabel = makeWarningLabel(QStringLiteral("warningLabel"), this);
    m_autoDummy = new QCheckBox(QStringLiteral("automatic dummy reads"), this);
    m_autoDummy->setObjectName(QStringLiteral("autoDummy"));
    m_autoDummy->setToolTip(QStringLiteral(
        "Discard blocks while their level still trends after the switch (at most 10)"));
    m_autoDummy->setChecked(store.read(keys::AutomaticDummyReads) != 0);
    m_entryNote = new QLabel(this);
    m_entryNote->setObjectName(QStringLiteral("entryNote"));
    m_entryNote->setWordWrap(true);
    m_entryNote->setStyleSheet(QStringLiteral("color: #a04000;"));
    m_entryNote->hide();
    addNumberField(m_entry, QString()); // its expectation follows the ENR file (activatePage)
    addNumberField(m_enrUncertainty,
                   QStringLiteral("The stated 95% uncertainty of the ENR in dB, e.g. 0.2"), true);
    addNumberField(m_tsOffUncertainty,
                   QStringLiteral("The stated 95% uncertainty of TSoff in K, e.g. 2"), true);

    // Connected once the fields are filled: the page's own controls do not exist yet.
    connect(m_entry, &QLineEdit::textChanged, this, &ReadingPage::onEntryChanged);
    // The stated uncertainties are kept as they are edited, in the keys both pages use.
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
        updateControls();
    });
    if (m_automate.dutSwitch != nullptr)
        connect(m_automate.dutSwitch, &QCheckBox::clicked, this, [this](bool checked) {
            m_dutSwitch = checked;
            updateControls();
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
    connect(m_automate.save, &QPushButton::clicked, this, &ReadingPage::saveAsDefault);
    // Both pages show the one stored value; it is kept as it is clicked.
    connect(m_autoDummy, &QCheckBox::clicked, this, [this](bool checked) {
        if (!m_store.write(keys::AutomaticDummyReads, checked ? 1 : 0))
            showMessageBox(kMsgSaveFailed, this);
    });
}

void ReadingPage::addNumberField(QLineEdit *field, const QString &expected, bool emptyAllowed,
                                 bool feedsResults)
{
    watchNumberField(field, expected, emptyAllowed);
    m_numberFields.emplace_back(field, feedsResults);
}

bool ReadingPage::numbersValid(bool forSeries) const
{
    for (const auto &[field, feedsResults] : m_numberFields)
        if ((forSeries || feedsResults) && !numberFieldValid(field)) {
            if (forSeries)
                field->setFocus(Qt::OtherFocusReason);
            return false;
        }
    return true;
}

ReadingPage::~ReadingPage() = default;

QLineEdit *ReadingPage::makeNumberField(const char *name, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(kMaxEntryLength);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00000.000")) + 16);
    return field;
}

QGroupBox *ReadingPage::makeReadingGroup(const QString &title, const char *name, int first,
                                         const char *const captions[kDeviceReadingCount])
{
    auto *group = new QGroupBox(title, this);
    group->setObjectName(QLatin1String(name));
    auto *grid = new QGridLayout(group);
    for (int i = first; i < first + 2; ++i) {
        ReadingRow &row = m_rows[static_cast<std::size_t>(i)];
        row = addReadingRow(grid, i - first, i, QLatin1String(captions[i]), group);
        // Ctrl+1 to Ctrl+4: the "Measure" of readings 1 to 4 from anywhere on the page.
        const QKeySequence key(QKeyCombination(Qt::ControlModifier, Qt::Key(Qt::Key_1 + i)));
        row.measure->setShortcut(key);
        row.measure->setToolTip(QStringLiteral("Measure (%1)")
                                    .arg(key.toString(QKeySequence::NativeText)));
        connect(row.measure, &QPushButton::clicked, this, [this, i] { runSeries(i); });
    }
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1); // the rows stay together at the top of a taller group
    return group;
}

void ReadingPage::addEntryRows(QGridLayout *grid)
{
    grid->addWidget(m_entryCaption, 0, 0);
    grid->addWidget(m_entry, 0, 1);
    grid->addWidget(m_computedCaption, 1, 0);
    grid->addWidget(m_computed, 1, 1);
    grid->addWidget(m_entryNote, 2, 0, 1, 2);
}

void ReadingPage::setLogClock(LocalClock clock)
{
    m_log = MeasurementLog(std::move(clock));
}

// ---- Life cycle ----

void ReadingPage::initializePage()
{
    m_readings.clearPresent();
}

void ReadingPage::activatePage()
{
    m_active = true;
    const Settings &s = m_engine.settings();
    updateControls();
    // Setting a field's text runs its handler also when the text does not change: this is
    // how the ENR in effect is first computed, and how the results follow a changed file.
    {
        const QSignalBlocker block(m_entry);
        m_entry->setText(fixedText(m_shared.enrEntry(), 3));
    }
    onEntryChanged(m_entry->text());
    showPageValues();
    m_automate.averageEnable->setChecked(m_shared.averaging());
    m_computedCaption->setEnabled(s.useEnrFile);
    m_entryCaption->setText(s.useEnrFile ? QStringLiteral("F (MHz)") : QStringLiteral("ENR (dB)"));
    const QString meaning = s.useEnrFile
                                ? QStringLiteral("The measuring frequency in MHz; the calibration "
                                                 "file gives the ENR at it, e.g. 144.0")
                                : QStringLiteral("The ENR of the calibrated noise source in dB, "
                                                 "e.g. 25.0");
    m_entryCaption->setToolTip(meaning);
    m_entry->setProperty("expectedNumber", meaning);
    m_entry->setToolTip(numberFieldValid(m_entry) ? meaning
                                                  : QStringLiteral("Not a number: ") + meaning);
    // The one stored entry is read anew when the file is turned on or off: say so.
    const int entryMeaning = s.useEnrFile ? 1 : 0;
    if (m_entryMeaning >= 0 && m_entryMeaning != entryMeaning)
        m_entryNote->setText(
            s.useEnrFile
                ? QStringLiteral("The calibration file is now in use: the entry %1 is read as a "
                                 "frequency in MHz.")
                      .arg(m_entry->text())
                : QStringLiteral("The calibration file is no longer in use: the entry %1 is "
                                 "read as the ENR in dB.")
                      .arg(m_entry->text()));
    m_entryNote->setVisible(m_entryMeaning >= 0 && m_entryMeaning != entryMeaning);
    m_entryMeaning = entryMeaning;
    {
        const QSignalBlocker block(m_autoDummy); // the other page may have changed it
        m_autoDummy->setChecked(m_store.read(keys::AutomaticDummyReads) != 0);
    }
    selectListEntry(m_automate.averageCount, m_shared.averageCount() - 1);
    // The other reading page may have changed the count since.
    selectListEntry(m_automate.dummyReads, m_shared.dummyReads());
    m_automate.noiseGen->setChecked(m_noiseGen);
    if (m_automate.dutSwitch != nullptr)
        m_automate.dutSwitch->setChecked(m_dutSwitch);
}

void ReadingPage::deactivatePage()
{
    // Leaving the page (or closing the window) ends a reading in progress and its series:
    // the runner sees the cancel when the slice returns, which the dialog's close makes at
    // once; the capture stops here, without waiting for a block.
    m_active = false;
    if (m_runner.running()) {
        m_runner.cancel();
        m_dialog.reject();
    }
    m_engine.capture().stopCapture();
}

// ---- Enables, results, stated uncertainty ----

void ReadingPage::updateControls()
{
    const bool present = m_engine.settings().switchPortChosen;
    if (!present) {
        m_noiseGen = false;
        m_dutSwitch = false;
    }
    m_automate.noiseGen->setEnabled(present);
    m_rows[1].measure->setEnabled(!m_noiseGen);
    updatePageControls();
}

StatedUncertainty ReadingPage::stated() const
{
    return statedUncertainty(m_shared.enrEntry(), m_engine.settings().useEnrFile,
                             m_engine.enrTable(),
                             parseDecimal(m_enrUncertainty->text().toStdString()),
                             parseDecimal(m_tsOffUncertainty->text().toStdString()));
}

void ReadingPage::compute()
{
    if (!numbersValid() || !ownEntriesValid(false)) {
        // Nothing is computed from a field that holds no number: no result stays beside it.
        for (QLineEdit *field : m_resultFields)
            field->clear();
        showWarnings(m_warningLabel, QString());
        return;
    }
    const SeriesConditions c = conditions();
    const SeriesEvaluation e = m_readings.evaluate(c, m_engine.settings(), m_engine.resultLine());
    if (!e.complete)
        return; // the fields keep what they show; only the log hears "Not Calculated."
    showResults(e, m_readings.uncertainty(c, stated()));
    showWarnings(m_warningLabel, QString::fromStdString(warningText(m_readings.warnings())));
}

void ReadingPage::onEntryChanged(const QString &text)
{
    // The entry is the shared one: the other reading page and the Calculator see the change.
    m_entryNote->hide(); // the user has seen the entry
    m_shared.setEnrEntry(parseDecimal(text.toStdString()));
    const Settings &s = m_engine.settings();
    m_enrInEffect = enrForEntry(m_shared.enrEntry(), s, m_engine.enrTable());
    m_computed->setText(s.useEnrFile ? fixedText(m_enrInEffect, 3) : QString());
    compute();
}

void ReadingPage::clearReadings()
{
    // The powers and the result line stay as they are.
    m_readings.clearPresent();
    for (const ReadingRow &row : m_rows)
        row.field->clear();
    for (QLineEdit *field : m_resultFields)
        field->clear();
    showWarnings(m_warningLabel, QString());
}

void ReadingPage::saveAsDefault()
{
    SaveBatch batch(m_store);
    batch.write(keys::TraceAverageCount, m_shared.averageCount());
    batch.write(keys::TraceAverageFlag, m_shared.averaging() ? 1 : 0);
    batch.write(keys::DummyReads, m_shared.dummyReads());
    batch.write(m_noiseGenKey, m_noiseGen ? 1 : 0);
    if (m_dutSwitchKey != nullptr)
        batch.write(*m_dutSwitchKey, m_dutSwitch ? 1 : 0);
    if (const int rc = batch.result(); rc != kMsgNone)
        showMessageBox(rc, this);
}

// ---- The series ----

SeriesPlan ReadingPage::seriesPlan(int button) const
{
    SeriesPlan plan;
    plan.conditions = conditions();
    plan.stated = stated();
    // Where the ENR is taken, kept with a receiver calibration (NaN: typed ENR, no file).
    plan.enrFrequencyMHz = m_engine.settings().useEnrFile ? m_shared.enrEntry()
                                                          : PrecisionReading::kNaN;
    plan.button = button;
    plan.noiseGen = m_noiseGen;
    plan.dutSwitch = m_dutSwitch;
    // Both outputs are driven with either automation on (none without a port).
    plan.driveSwitches = m_engine.settings().switchPortChosen && (m_noiseGen || m_dutSwitch);
    plan.passes = m_repeat ? 0 : 1;
    plan.reading = ReadingPlan(m_shared.dummyReadsLimited(), m_shared.averaging(),
                               m_shared.averageCountLimited());
    plan.reading.autoDummy = m_autoDummy->isChecked();
    return plan;
}

void ReadingPage::runSeries(int button)
{
    // One series at a time; a button pressed from a nested loop finds the runner busy.
    if (m_runner.running() || !m_active)
        return;
    // No series from a field that holds no number: the user finds it marked and focused.
    if (!numbersValid(true) || !ownEntriesValid(true))
        return;
    m_runner.run(seriesPlan(button), m_readings, *this);
}

bool ReadingPage::beforeReading(int, std::string_view label)
{
    // Armed before the capture starts: a fast device may end the reading at once.
    m_dialog.arm(latin1(label));
    // Over the Automate group, right of the readings, so that every reading, its result and
    // its warning stay in view while the next is taken.
    m_dialog.adjustSize();
    m_dialog.move(m_automate.group->mapToGlobal(QPoint(0, 0)));
    return m_active; // a switch message may have been up while the page was left
}

bool ReadingPage::waitSlice(ModalReading &reading, std::chrono::milliseconds slice)
{
    return m_dialog.waitSlice(reading, slice, m_active);
}

void ReadingPage::afterReading(int)
{
    m_dialog.endRun();
}

void ReadingPage::readingDone(const SeriesReadingReport &report)
{
    const Settings &s = m_engine.settings();
    m_rows[static_cast<std::size_t>(report.reading)].field->setText(
        QString::fromStdString(readingText(report.power, s.decimalPointsInResults)));
    if (!report.evaluation.complete)
        return;
    showResults(report.evaluation, report.uncertainty);
    showWarnings(m_warningLabel, QString::fromStdString(warningText(m_readings.warnings())));
}

void ReadingPage::message(int messageId)
{
    showMessageBox(messageId, this);
}

void ReadingPage::progress(const ReadingProgress &progress)
{
    m_dialog.postProgress(progress);
}

void ReadingPage::readingEnded(int)
{
    postToWindow(this, [this] { m_dialog.wake(); });
}

} // namespace quillon
