#include "ui/pages/SweepPage.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/SettingsStore.h"
#include "measure/CorrectionSettings.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "measure/SweepPlan.h"
#include "measure/SweepReport.h"
#include "rig/RigSettings.h"
#include "ui/MessageBox.h"
#include "ui/ReportSaving.h"
#include "ui/PostToWindow.h"
#include "ui/SweepPlot.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QKeySequence>
#include <QLabel>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

QString number(double v, int decimals)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QString();
}

QString withUncertainty(double v, double u, int decimals)
{
    if (!std::isfinite(v))
        return QString();
    QString text = number(v, decimals);
    if (std::isfinite(u))
        text += QStringLiteral(" ± ") + number(u, decimals);
    return text;
}

// A limit field: empty for none; a text that is not a number (marked) gives none either.
double limitFrom(QLineEdit *field)
{
    const std::string text = field->text().trimmed().toStdString();
    const bool number = isDecimalText(text);
    field->setStyleSheet(number || text.empty() ? QString()
                                                : QStringLiteral("QLineEdit { color: #c00000; }"));
    return number ? parseDecimal(text) : LimitRow::kNone;
}

// Words first; the colour only repeats them.
QColor verdictTextColour(Verdict v)
{
    switch (v) {
    case Verdict::Pass: return QColor(0x1b, 0x7f, 0x3a);
    case Verdict::Fail: return QColor(0xb0, 0x00, 0x20);
    case Verdict::Indeterminate: return QColor(0xb3, 0x6b, 0x00);
    case Verdict::None: break;
    }
    return QColor(0x55, 0x55, 0x55);
}

constexpr int kVerdictColumn = 6;

void showBox(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quillon"), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace

SweepPage::SweepPage(QuillonEngine &engine, SharedValues &shared, QWidget *parent)
    : PropertyPage(QStringLiteral("Sweep"), QStringLiteral("sweep"), parent), m_engine(engine),
      m_shared(shared), m_runner(std::make_unique<SweepRunner>(engine))
{
    auto named = [this](auto *w, const char *name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    m_start = named(new QLineEdit(QStringLiteral("144"), this), "startField");
    m_stop = named(new QLineEdit(QStringLiteral("146"), this), "stopField");
    m_step = named(new QLineEdit(QStringLiteral("0.2"), this), "stepField");
    m_list = named(new QLineEdit(this), "listField");
    m_list->setPlaceholderText(QStringLiteral("or a list: 144.1, 145.5, 432.2"));
    m_settle = named(new QSpinBox(this), "settleField");
    m_settle->setRange(0, 600000);
    m_settle->setSuffix(QStringLiteral(" ms"));

    m_control = named(new QComboBox(this), "controlList");
    for (const RigKindInfo &kind : rigKinds())
        if (kind.displayName != nullptr)
            m_control->addItem(QString::fromLatin1(kind.displayName), static_cast<int>(kind.kind));
    m_model = named(new QSpinBox(this), "modelField");
    m_model->setRange(1, 999999);
    m_port = named(new QLineEdit(this), "portField");
    m_baud = named(new QSpinBox(this), "baudField");
    m_baud->setRange(0, 10000000);
    m_baud->setSpecialValueText(QStringLiteral("Rig default"));
    m_mode = named(new QComboBox(this), "modeList");
    m_mode->addItems({QStringLiteral("USB"), QStringLiteral("CW")});

    m_startButton = named(new QPushButton(QStringLiteral("Start"), this), "startButton");
    m_stopButton = named(new QPushButton(QStringLiteral("Stop"), this), "stopButton");
    m_exportButton = named(new QPushButton(QStringLiteral("Export CSV..."), this), "exportButton");
    // From anywhere on the page: Ctrl+Return starts, Escape stops.
    for (const auto &[button, key] : {std::pair{m_startButton, QKeySequence(Qt::CTRL | Qt::Key_Return)},
                                      {m_stopButton, QKeySequence(Qt::Key_Escape)}}) {
        button->setShortcut(key);
        button->setToolTip(button->text() + QStringLiteral(" (") +
                           key.toString(QKeySequence::NativeText) + QStringLiteral(")"));
    }
    m_status = named(new QLabel(this), "statusLabel");

    m_table = named(new QTableWidget(0, 7, this), "pointTable");
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("MHz"), QStringLiteral("ENR (dB)"), QStringLiteral("NF (dB)"),
         QStringLiteral("Gain (dB)"), QStringLiteral("Te (K)"), QStringLiteral("Warnings"),
         QStringLiteral("Verdict")});
    m_table->setColumnHidden(kVerdictColumn, true); // shown with limits
    m_table->verticalHeader()->setVisible(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Ctrl+C copies the selected cells, a row a line, TAB between cells (a spreadsheet pastes
    // them as they stand).
    auto *copy = new QAction(m_table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] {
        QString text;
        int lastRow = -1;
        for (const QModelIndex &i : m_table->selectionModel()->selectedIndexes()) {
            if (lastRow != -1)
                text += i.row() == lastRow ? u'\t' : u'\n';
            text += i.data().toString();
            lastRow = i.row();
        }
        QGuiApplication::clipboard()->setText(text);
    });
    // Each column as wide as its cells: a stretched last column took what was left of the
    // width and cut the verdicts ("INDETERMINAT"); the table scrolls instead.
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->setMinimumWidth(520);
    m_plot = new SweepPlot(m_rows, this);
    m_plot->setObjectName(QStringLiteral("sweepPlot"));
    // One line, or one a point where a loss table makes them differ: at most four lines
    // high, the rest scrolled.
    m_correctedFor = named(new QLabel(this), "correctedFor");
    m_correctedFor->setTextFormat(Qt::PlainText);
    m_correctedFor->setWordWrap(true);
    m_correctedFor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_correctedFor->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_correctedForArea = new QScrollArea(this);
    m_correctedForArea->setWidget(m_correctedFor);
    m_correctedForArea->setWidgetResizable(true);
    m_correctedForArea->setFrameShape(QFrame::NoFrame);
    m_correctedForArea->setMaximumHeight(4 * m_correctedFor->fontMetrics().lineSpacing() + 4);
    m_correctedForArea->setVisible(false);

    // The limits and the DUT record: the single values and the record are Measure Device's
    // (the same stored entries), the limit file the page's own.
    const SettingsStore store;
    auto stored = [&](QLineEdit *field, const TextValue &key) {
        field->setText(QString::fromStdString(store.read(key)));
        connect(field, &QLineEdit::editingFinished, this, [this, field, k = &key] {
            SettingsStore writable;
            if (!writable.write(*k, field->text().toStdString()))
                showMessageBox(kMsgSaveFailed, this);
        });
        return field;
    };
    m_nfMax = stored(named(new QLineEdit(this), "nfMax"), keys::LimitNfMax);
    m_gainMin = stored(named(new QLineEdit(this), "gainMin"), keys::LimitGainMin);
    m_gainMax = stored(named(new QLineEdit(this), "gainMax"), keys::LimitGainMax);
    m_dutName = stored(named(new QLineEdit(this), "dutName"), keys::DutName);
    m_dutSerial = stored(named(new QLineEdit(this), "dutSerial"), keys::DutSerial);
    m_dutNotes = stored(named(new QLineEdit(this), "dutNotes"), keys::DutNotes);
    m_limitFile = named(new QLineEdit(this), "limitFile");
    m_limitFile->setPlaceholderText(QStringLiteral("or a limit table file"));
    m_limitFile->setToolTip(QStringLiteral(
        "A limit table laid out as an ENR file: frequency (MHz), NF max, gain min and "
        "optionally gain max (dB) per line, \"-\" for none. It replaces the single values."));
    for (QLineEdit *field : {m_nfMax, m_gainMin, m_gainMax})
        connect(field, &QLineEdit::textChanged, this, &SweepPage::limitsChanged);
    connect(m_limitFile, &QLineEdit::editingFinished, this, &SweepPage::readLimitTable);
    m_summary = named(new QLabel(this), "summaryLabel");
    m_summary->setTextFormat(Qt::PlainText);
    m_reportButton = named(new QPushButton(QStringLiteral("Save Report..."), this), "saveReport");
    auto *addReference =
        named(new QPushButton(QStringLiteral("Add Reference..."), this), "addReference");
    auto *removeReference =
        named(new QPushButton(QStringLiteral("Remove"), this), "removeReference");
    m_referenceList = named(new QListWidget(this), "referenceList");
    m_referenceList->setMaximumHeight(70);
    m_referenceList->setToolTip(
        QStringLiteral("Earlier sweeps (their CSV or JSON results) drawn on the plots"));

    auto *sweepBox = new QGroupBox(QStringLiteral("Frequencies"), this);
    auto *sweepForm = new QFormLayout(sweepBox);
    sweepForm->addRow(QStringLiteral("Start (MHz)"), m_start);
    sweepForm->addRow(QStringLiteral("Stop (MHz)"), m_stop);
    sweepForm->addRow(QStringLiteral("Step (MHz)"), m_step);
    sweepForm->addRow(QStringLiteral("List (MHz)"), m_list);
    sweepForm->addRow(QStringLiteral("Settle time"), m_settle);
    auto *rigBox = new QGroupBox(QStringLiteral("Receiver"), this);
    auto *rigForm = new QFormLayout(rigBox);
    rigForm->addRow(QStringLiteral("Control"), m_control);
    rigForm->addRow(QStringLiteral("Hamlib model"), m_model);
    rigForm->addRow(QStringLiteral("Port or host:port"), m_port);
    rigForm->addRow(QStringLiteral("Baud rate"), m_baud);
    rigForm->addRow(QStringLiteral("Mode"), m_mode);

    auto *limitBox = new QGroupBox(QStringLiteral("Limits and DUT"), this);
    auto *limitGrid = new QGridLayout(limitBox);
    limitGrid->addWidget(new QLabel(QStringLiteral("NF max (dB)"), limitBox), 0, 0);
    limitGrid->addWidget(m_nfMax, 0, 1);
    limitGrid->addWidget(new QLabel(QStringLiteral("Gain min (dB)"), limitBox), 0, 2);
    limitGrid->addWidget(m_gainMin, 0, 3);
    limitGrid->addWidget(new QLabel(QStringLiteral("Gain max (dB)"), limitBox), 0, 4);
    limitGrid->addWidget(m_gainMax, 0, 5);
    limitGrid->addWidget(new QLabel(QStringLiteral("Limit file"), limitBox), 1, 0);
    limitGrid->addWidget(m_limitFile, 1, 1, 1, 5);
    limitGrid->addWidget(new QLabel(QStringLiteral("DUT name"), limitBox), 2, 0);
    limitGrid->addWidget(m_dutName, 2, 1);
    limitGrid->addWidget(new QLabel(QStringLiteral("Serial"), limitBox), 2, 2);
    limitGrid->addWidget(m_dutSerial, 2, 3);
    limitGrid->addWidget(new QLabel(QStringLiteral("Notes"), limitBox), 2, 4);
    limitGrid->addWidget(m_dutNotes, 2, 5);
    auto *referenceBox = new QGroupBox(QStringLiteral("Reference traces"), this);
    auto *referenceGrid = new QGridLayout(referenceBox);
    referenceGrid->addWidget(m_referenceList, 0, 0, 2, 1);
    referenceGrid->addWidget(addReference, 0, 1);
    referenceGrid->addWidget(removeReference, 1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_stopButton);
    buttons->addWidget(m_exportButton);
    buttons->addWidget(m_reportButton);
    buttons->addStretch();
    auto *left = new QVBoxLayout;
    left->addWidget(sweepBox);
    left->addWidget(rigBox);
    left->addWidget(limitBox);
    left->addWidget(referenceBox);
    left->addLayout(buttons);
    left->addWidget(m_status);
    left->addWidget(m_summary);
    left->addStretch();
    auto *right = new QVBoxLayout;
    right->addWidget(m_plot, 3);
    right->addWidget(m_table, 2);
    right->addWidget(m_correctedForArea);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(right, 1);

    connect(m_startButton, &QPushButton::clicked, this, &SweepPage::start);
    connect(m_stopButton, &QPushButton::clicked, this, &SweepPage::stop);
    connect(m_exportButton, &QPushButton::clicked, this, &SweepPage::exportCsv);
    connect(m_reportButton, &QPushButton::clicked, this, &SweepPage::saveReport);
    connect(addReference, &QPushButton::clicked, this, &SweepPage::addReference);
    connect(removeReference, &QPushButton::clicked, this, &SweepPage::removeReference);

    // Worker thread: copies go to the window thread; the page outlives the runner's worker
    // (the destructor ends it first), and Qt drops calls still queued when the page goes.
    m_runner->setPointHook(
        [this](const SweepRow &row) { postToWindow(this, [this, row] { addRow(row); }); });
    m_runner->setStatusHook([this](const std::string &text) {
        postToWindow(this, [this, t = QString::fromStdString(text)] { showText(t); });
    });
    m_runner->setFinishedHook([this](const SweepOutcome &outcome) {
        postToWindow(this, [this, outcome] { finished(outcome); });
    });
    m_fileDialog = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QString(),
                                            QStringLiteral("CSV files (*.csv);;All files (*)"));
    };
    m_referenceDialog = [this] {
        return QFileDialog::getOpenFileName(
            this, QStringLiteral("Add Reference"), QString(),
            QStringLiteral("Sweep results (*.csv *.json);;All files (*)"));
    };
    m_reportDialog = [this] { return askReportPath(this); };
    setSweeping(false);
    limitsChanged();
}

SweepPage::~SweepPage()
{
    // Before the widgets go: the worker's hooks refer to this page.
    m_runner.reset();
}

void SweepPage::initializePage()
{
    const RigSettings rig = loadRigSettings(SettingsStore(kReceiverGroup));
    m_control->setCurrentIndex(std::max(0, m_control->findData(static_cast<int>(rig.kind))));
    m_model->setValue(rig.hamlibModel);
    m_port->setText(QString::fromStdString(rig.port));
    m_baud->setValue(rig.baudRate);
    m_mode->setCurrentIndex(rig.mode == RigMode::Cw ? 1 : 0);
}

void SweepPage::deactivatePage()
{
    // The next page may use the capture at once: abort returns once the worker has let go.
    if (m_sweeping)
        m_runner->abort();
}

void SweepPage::showText(const QString &text)
{
    if (m_sweeping)
        m_status->setText(text);
}

void SweepPage::setSweeping(bool on)
{
    m_sweeping = on;
    m_startButton->setEnabled(!on);
    m_stopButton->setEnabled(on);
    m_exportButton->setEnabled(!on && !m_rows.empty());
    m_reportButton->setEnabled(!on && !m_rows.empty());
    for (QWidget *w : std::initializer_list<QWidget *>{m_start, m_stop, m_step, m_list, m_settle,
                                                       m_control, m_model, m_port, m_baud, m_mode})
        w->setEnabled(!on);
}

void SweepPage::start()
{
    if (m_sweeping)
        return;
    SweepConfig config;
    SweepPlanResult plan;
    if (!m_list->text().trimmed().isEmpty()) {
        plan = planSweepList(m_list->text().toStdString(), config.frequenciesMHz);
    } else {
        const auto value = [](QLineEdit *field) {
            return parseDecimal(field->text().trimmed().toStdString());
        };
        plan = planSweep(value(m_start), value(m_stop), value(m_step), config.frequenciesMHz);
    }
    if (!plan.ok()) {
        showBox(this, QString::fromStdString(plan.message));
        return;
    }
    const Settings &s = m_engine.settings();
    if (!s.switchPortChosen) {
        showBox(this, QStringLiteral("A sweep switches the noise source and the DUT itself: "
                                     "choose a switch port on the Setup page."));
        return;
    }

    config.rig.kind = static_cast<RigKind>(m_control->currentData().toInt());
    config.rig.hamlibModel = m_model->value();
    config.rig.port = m_port->text().trimmed().toStdString();
    config.rig.baudRate = m_baud->value();
    config.rig.mode = m_mode->currentIndex() == 1 ? RigMode::Cw : RigMode::Usb;
    {
        SettingsStore store(kReceiverGroup);
        const RigSettings stored = loadRigSettings(store);
        config.rig.timeoutMs = stored.timeoutMs; // kept as stored: no field on the page
        config.rig.retries = stored.retries;
        saveRigSettings(store, config.rig); // a failure does not stop the sweep
    }
    config.settleMs = m_settle->value();
    config.useEnrFile = s.useEnrFile && m_engine.enrTable().count > 0;
    if (config.useEnrFile)
        config.enrTable = m_engine.enrTable();
    config.typedEnrDb = m_shared.enrEntry();
    config.tsOff = m_shared.tsOff();
    config.t0 = m_shared.t0();
    config.plan.dummyReads = m_shared.dummyReadsLimited();
    config.plan.averaging = m_shared.averaging();
    config.plan.averageCount = m_shared.averageCountLimited();
    // The stated uncertainties and the precision as Measure Device keeps them: each point
    // is that page's series.
    const StoredSeriesOptions options = readStoredSeriesOptions(SettingsStore());
    config.enrUncertaintyDb = options.enrUncertaintyDb;
    config.tsOffUncertaintyK = options.tsOffUncertaintyK;
    config.precision = options.precision;
    config.plan.autoDummy = options.autoDummy;
    config.driftOrder = options.driftOrder;
    config.settings = s;
    // The corrections Measure Device keeps, checked at every point before the first: a
    // table that does not cover one refuses the sweep rather than ending it half-way.
    config.corrections = loadCorrectionSettings(SettingsStore(kCorrectionsGroup));
    if (config.corrections.any()) {
        Result checked = readLossTables(config.corrections, config.lossTables);
        const auto enrAt = [&config](double mhz) {
            return config.useEnrFile ? enrForEntry(mhz, true, config.enrTable) : config.typedEnrDb;
        };
        for (std::size_t i = 0; checked.ok() && i < config.frequenciesMHz.size(); ++i) {
            ChainCorrections at;
            checked = resolveCorrections(config.corrections, config.lossTables,
                                         config.frequenciesMHz[i], enrAt, at);
        }
        if (!checked.ok()) {
            showBox(this, QString::fromStdString(checked.detail));
            return;
        }
    }

    m_rows.clear();
    m_table->setRowCount(0);
    m_plot->update();
    showVerdicts();
    showCorrectedFor();
    m_shownConfig = config; // the report states what the points were taken with
    if (!m_runner->start(std::move(config))) {
        showBox(this, QStringLiteral("The last sweep is still ending; try again in a moment."));
        return;
    }
    setSweeping(true);
    m_status->setText(QStringLiteral("Sweeping"));
}

void SweepPage::stop()
{
    if (!m_sweeping)
        return;
    m_runner->requestStop();
    m_status->setText(QStringLiteral("Stopping after this point"));
}

void SweepPage::addRow(const SweepRow &row)
{
    m_rows.push_back(row);
    const int r = m_table->rowCount();
    m_table->insertRow(r);
    const QString cells[] = {QString::number(row.frequencyMHz, 'g', 10),
                             number(row.enrDb, 3),
                             withUncertainty(row.nfDb, row.nfUncertaintyDb, 3),
                             withUncertainty(row.gainDb, row.gainUncertaintyDb, 3),
                             withUncertainty(row.teK, row.teUncertaintyK, 1),
                             QString::fromStdString(row.warnings)};
    for (int c = 0; c < 6; ++c)
        m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
    m_table->setItem(r, kVerdictColumn, new QTableWidgetItem);
    showVerdicts();
    showCorrectedFor();
    m_table->resizeColumnsToContents();
    m_table->scrollToBottom();
    m_plot->update();
}

void SweepPage::finished(const SweepOutcome &outcome)
{
    setSweeping(false);
    const QString points = QString::number(m_rows.size()) + QStringLiteral(" points");
    switch (outcome.end) {
    case SweepEnd::Complete:
        m_status->setText(QStringLiteral("Sweep complete: ") + points);
        break;
    case SweepEnd::Stopped:
        m_status->setText(QStringLiteral("Sweep stopped: ") + points);
        break;
    case SweepEnd::Failed:
        m_status->setText(QStringLiteral("Sweep failed: ") + points);
        if (isVisible())
            showBox(this, QString::fromStdString(outcome.message));
        break;
    }
}

void SweepPage::exportCsv()
{
    if (m_rows.empty() || !m_fileDialog)
        return;
    const QString path = m_fileDialog();
    if (path.isEmpty())
        return;
    const std::string failed = writeSweepCsv(path.toStdString(), m_rows);
    if (!failed.empty())
        showBox(this, QString::fromStdString(failed));
}

} // namespace quillon

namespace quillon {

Limits SweepPage::limits() const
{
    Limits l;
    if (!m_limitTable.empty()) {
        l.table = m_limitTable;
        l.tableFile = m_limitFile->text().trimmed().toStdString();
        return l;
    }
    l.nfMaxDb = limitFrom(m_nfMax);
    l.gainMinDb = limitFrom(m_gainMin);
    l.gainMaxDb = limitFrom(m_gainMax);
    return l;
}

void SweepPage::limitsChanged()
{
    // A table replaces the single values: their fields say so by being disabled.
    for (QLineEdit *field : {m_nfMax, m_gainMin, m_gainMax})
        field->setEnabled(m_limitTable.empty());
    m_plot->setLimits(limits());
    showVerdicts();
}

void SweepPage::readLimitTable()
{
    const std::string path = m_limitFile->text().trimmed().toStdString();
    std::vector<LimitRow> rows;
    std::string message;
    if (!path.empty() && !readLimitFile(path, rows, message)) {
        // One message; no table in force, the single values back.
        m_limitFile->setStyleSheet(QStringLiteral("QLineEdit { color: #c00000; }"));
        m_limitTable.clear();
        limitsChanged();
        showMessageText(QString::fromStdString(message), this);
        return;
    }
    m_limitFile->setStyleSheet(QString());
    m_limitTable = std::move(rows);
    limitsChanged();
}

void SweepPage::showVerdicts()
{
    const Limits l = limits();
    const bool any = l.any();
    m_table->setColumnHidden(kVerdictColumn, !any);
    VerdictCounts counts;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const SweepRow &r = m_rows[i];
        const ResultVerdict v =
            verdictFor(l, r.frequencyMHz, r.nfDb, r.nfHalfWidth95Db, r.gainDb, r.gainHalfWidth95Db);
        counts.add(v.overall);
        QTableWidgetItem *item = m_table->item(static_cast<int>(i), kVerdictColumn);
        if (item == nullptr)
            continue;
        item->setText(!any                          ? QString()
                      : v.overall != Verdict::None ? QString::fromLatin1(verdictText(v.overall))
                      : QString::fromStdString(v.message.empty() ? "no verdict" : v.message));
        item->setForeground(verdictTextColour(v.overall));
    }
    if (any)
        m_table->resizeColumnToContents(kVerdictColumn);
    m_summary->setText(any && !m_rows.empty() ? QString::fromStdString(counts.summary())
                                              : QString());
}

void SweepPage::showCorrectedFor()
{
    const QString text = QString::fromStdString(sweepCorrectedForText(m_rows));
    m_correctedFor->setText(text);
    m_correctedForArea->setVisible(!text.isEmpty());
}

void SweepPage::addReference()
{
    const QString path = m_referenceDialog ? m_referenceDialog() : QString();
    if (path.isEmpty())
        return;
    ReferenceTrace trace;
    std::string message;
    if (!readReferenceTrace(path.toStdString(), trace, message)) {
        showMessageText(QString::fromStdString(message), this); // nothing loaded
        return;
    }
    m_references.push_back(std::move(trace));
    const std::size_t index = m_references.size() - 1;
    auto *item = new QListWidgetItem(QString::fromStdString(m_references[index].name));
    item->setIcon(referenceSwatch(index));
    item->setToolTip(path);
    m_referenceList->addItem(item);
    m_plot->setReferences(m_references);
}

void SweepPage::removeReference()
{
    int row = m_referenceList->currentRow();
    if (row < 0 && m_referenceList->count() > 0)
        row = m_referenceList->count() - 1; // none chosen: the last added
    if (row < 0)
        return;
    m_references.erase(m_references.begin() + row);
    delete m_referenceList->takeItem(row);
    // The colours follow the order; each item keeps its name and its file's path.
    for (int i = 0; i < m_referenceList->count(); ++i)
        m_referenceList->item(i)->setIcon(referenceSwatch(static_cast<std::size_t>(i)));
    m_plot->setReferences(m_references);
}

QIcon SweepPage::referenceSwatch(std::size_t index)
{
    QPixmap swatch(12, 12);
    swatch.fill(SweepPlot::referenceColour(index));
    return QIcon(swatch);
}

ReportData SweepPage::reportData() const
{
    if (!m_shownConfig)
        return {};
    const DutRecord dut{m_dutName->text().toStdString(), m_dutSerial->text().toStdString(),
                        m_dutNotes->text().toStdString()};
    ReportData d = sweepReportData(*m_shownConfig, m_rows, limits(), dut);
    d.dateTime = QDateTime::currentDateTime()
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                     .toStdString();
    DeviceCaps caps;
    if (m_engine.devices().deviceCaps(m_shownConfig->settings.waveInDevice, caps))
        d.soundDevice = caps.productName;
    if (m_shownConfig->useEnrFile)
        d.enrFile = m_shownConfig->settings.enrCalibrationFile;
    return d;
}

void SweepPage::saveReport()
{
    if (m_sweeping)
        return;
    const ReportData data = reportData();
    saveReportFiles(this,
                    data.results.empty() ? QStringLiteral("There is no complete point to report "
                                                          "yet: run a sweep first.")
                                         : QString(),
                    m_reportDialog, [&data](const std::string &path) {
                        return writeReport(path, data);
                    });
}

} // namespace quillon
