#include "ui/pages/MeasureNoisePage.h"

#include "ui/MessageBox.h"
#include "core/Messages.h"
#include "measure/QuillonEngine.h"
#include "measure/SharedValues.h"
#include "core/SettingsStore.h"
#include "capture/Level.h"
#include "capture/ResultText.h"
#include "capture/WaveCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace quillon {

namespace {

// Counts the averaging list offers: item index = count - 1.
constexpr int kListedCounts = 31;

// Pixel heights the result font accepts from the store; outside them the page would not fit
// the window or the numbers could not be read.
constexpr int kSmallestResultFont = 8;
constexpr int kLargestResultFont = 72;
constexpr int kDefaultResultFont = 24;

// How often a callback waiting for the log-failure box looks at the engine's running flag,
// in case the capture is stopped by someone who does not know about the box (the engine's
// own destructor, a close handler).
constexpr std::chrono::milliseconds kStopPollInterval{100};

// Queued calls from the delivery thread to the window thread. Qt's event queue orders them,
// but its locks live in code that ThreadSanitizer does not see; this lock shows the order to
// it as well: the closure is built and posted under it, and the window thread takes it before
// it reads the closure. Held for a post, never across a wait.
std::mutex g_handOver;

template <typename F> void postToWindow(QObject *context, F &&call)
{
    const std::lock_guard lock(g_handOver);
    QMetaObject::invokeMethod(
        context,
        [call = std::forward<F>(call)]() mutable {
            {
                const std::lock_guard sync(g_handOver);
            }
            call();
        },
        Qt::QueuedConnection);
}

QLineEdit *makeResultField(const QString &name, const QFont &font, QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setFont(font);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setFocusPolicy(Qt::ClickFocus);
    // Room for the widest text a field shows (" -120.000", " Wait...") and a little air.
    const QFontMetrics metrics(font);
    field->setFixedWidth(metrics.horizontalAdvance(QStringLiteral(" -1200.000")) + 16);
    return field;
}

} // namespace

MeasureNoisePage::MeasureNoisePage(QuillonEngine &engine, SettingsStore &store,
                                   SharedValues &shared, QWidget *parent)
    : PropertyPage(QStringLiteral("Measure Noise"), QStringLiteral("measure-noise"), parent),
      m_engine(engine), m_store(store), m_shared(shared)
{
    setObjectName(QStringLiteral("measureNoisePage"));
    m_resultFontSize = store.read(keys::ResultFontSize);
    // Made here rather than at the first activation: other pages ask for it as soon as they
    // build their own result fields.
    makeResultFont(m_resultFontSize);
    buildControls();
}

MeasureNoisePage::~MeasureNoisePage()
{
    // The callback uses this object: no block may be in progress once it is gone.
    if (m_capturing)
        stopCapture();
}

void MeasureNoisePage::makeResultFont(int pixelHeight)
{
    // A negative stored height means the same size (the character height); 0 the default.
    int height = std::abs(pixelHeight);
    if (height == 0)
        height = kDefaultResultFont;
    height = std::clamp(height, kSmallestResultFont, kLargestResultFont);
    m_resultFont = QFont();
    m_resultFont.setPixelSize(height);
    m_resultFont.setWeight(QFont::Medium); // 500
    m_resultFont.setItalic(false);
    m_resultFont.setUnderline(false);
    m_resultFont.setStrikeOut(false);
}

void MeasureNoisePage::buildControls()
{
    auto *results = new QGroupBox(tr("Current Measurement"), this);
    results->setObjectName(QStringLiteral("currentMeasurementGroup"));
    m_dbField = makeResultField(QStringLiteral("dbField"), m_resultFont, results);
    m_averagedField = makeResultField(QStringLiteral("averagedField"), m_resultFont, results);
    m_relativeField = makeResultField(QStringLiteral("relativeField"), m_resultFont, results);
    m_crestField = makeResultField(QStringLiteral("crestField"), m_resultFont, results);
    m_storeButton = new QPushButton(tr("Store"), results);
    m_storeButton->setObjectName(QStringLiteral("storeButton"));
    m_storeButton->setToolTip(tr("Keep the current reading as the reference"));

    auto *grid = new QGridLayout(results);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    const auto addRow = [&](int row, const QString &caption, QLineEdit *field) {
        auto *label = new QLabel(caption, results);
        label->setBuddy(field);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };
    addRow(0, tr("dB"), m_dbField);
    addRow(1, tr("Averaged Reading dB"), m_averagedField);
    addRow(2, tr("dB relative to Stored Value"), m_relativeField);
    addRow(3, tr("Crest Factor"), m_crestField);
    grid->addWidget(m_storeButton, 2, 2);
    grid->setColumnStretch(3, 1);

    auto *averaging = new QGroupBox(tr("Averaging"), this);
    averaging->setObjectName(QStringLiteral("averagingGroup"));
    m_enableBox = new QCheckBox(tr("Enable"), averaging);
    m_enableBox->setObjectName(QStringLiteral("averageEnable"));
    m_enableBox->setChecked(averagingEnabled());
    m_countList = new QComboBox(averaging);
    m_countList->setObjectName(QStringLiteral("averageCount"));
    for (int n = 1; n <= kListedCounts; ++n)
        m_countList->addItem(QString::number(n));
    m_countList->setMaxVisibleItems(12);
    auto *countLabel = new QLabel(tr("Number"), averaging);
    countLabel->setBuddy(m_countList);
    m_saveButton = new QPushButton(tr("Save as Defaut"), averaging);
    m_saveButton->setObjectName(QStringLiteral("saveAsDefault"));
    auto *averagingGrid = new QGridLayout(averaging);
    averagingGrid->addWidget(m_enableBox, 0, 0, 1, 2);
    averagingGrid->addWidget(countLabel, 1, 0);
    averagingGrid->addWidget(m_countList, 1, 1);
    averagingGrid->addWidget(m_saveButton, 2, 0, 1, 2);

    m_switchingGroup = new QGroupBox(tr("Switching"), this);
    m_switchingGroup->setObjectName(QStringLiteral("switchingGroup"));
    m_noiseBox = new QCheckBox(tr("Switch Noise Source ON"), m_switchingGroup);
    m_noiseBox->setObjectName(QStringLiteral("noiseSwitch"));
    m_dutBox = new QCheckBox(tr("Switch DUT in Circuit"), m_switchingGroup);
    m_dutBox->setObjectName(QStringLiteral("dutSwitch"));
    auto *switching = new QVBoxLayout(m_switchingGroup);
    switching->addWidget(m_noiseBox);
    switching->addWidget(m_dutBox);
    switching->addStretch(1);
    m_switchingGroup->setEnabled(false); // until an activation finds a switch port

    m_hint = new QLabel(tr("Press F1 for help on any screen"), this);
    m_hint->setObjectName(QStringLiteral("helpHint"));
    m_hint->setAlignment(Qt::AlignCenter);

    auto *controls = new QHBoxLayout;
    controls->addWidget(averaging, 1);
    controls->addWidget(m_switchingGroup, 1);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addWidget(results);
    page->addLayout(controls);
    page->addStretch(1);
    page->addWidget(m_hint);

    connect(m_enableBox, &QCheckBox::clicked, this, &MeasureNoisePage::onEnableClicked);
    connect(m_countList, &QComboBox::activated, this, &MeasureNoisePage::onCountActivated);
    connect(m_saveButton, &QPushButton::clicked, this, &MeasureNoisePage::onSaveAsDefault);
    connect(m_storeButton, &QPushButton::clicked, this, &MeasureNoisePage::onStore);
    connect(m_noiseBox, &QCheckBox::clicked, this, &MeasureNoisePage::onNoiseClicked);
    connect(m_dutBox, &QCheckBox::clicked, this, &MeasureNoisePage::onDutClicked);
}

void MeasureNoisePage::initializePage()
{
    m_enableBox->setChecked(averagingEnabled());
    selectAverageCount();
    // No capture runs yet: these single writes race with nothing.
    m_storedValid.store(false, std::memory_order_release);
    m_noiseOn.store(false, std::memory_order_relaxed);
    m_dutIn.store(false, std::memory_order_relaxed);
    m_noiseBox->setChecked(false);
    m_dutBox->setChecked(false);
}

void MeasureNoisePage::activatePage()
{
    // The Measure Device and Calibrate Noise Source pages change the shared flag too.
    m_enableBox->setChecked(averagingEnabled());
    selectAverageCount();
    applySwitchingState();
    startCapture();
}

void MeasureNoisePage::deactivatePage()
{
    stopCapture();
    m_shared.setAveraging(m_enableBox->isChecked());
}

void MeasureNoisePage::selectAverageCount()
{
    const int count = averagingCount();
    m_countList->setCurrentIndex(count >= 1 && count <= kListedCounts ? count - 1 : -1);
}

void MeasureNoisePage::applySwitchingState()
{
    const bool present = m_engine.settings().automationPresent;
    m_switchingGroup->setEnabled(present);
    if (present)
        m_engine.switches().setSwitches(noiseOn(), dutIn());
}

bool MeasureNoisePage::averagingEnabled() const
{
    return m_shared.averaging();
}

int MeasureNoisePage::averagingCount() const
{
    return m_shared.averageCount();
}

void MeasureNoisePage::setAveragingEnabled(bool on)
{
    m_shared.setAveraging(on);
    m_enableBox->setChecked(on);
    if (!on)
        m_averagedField->clear();
}

void MeasureNoisePage::setAveragingCount(int count)
{
    m_shared.setAverageCount(count);
    selectAverageCount();
}

void MeasureNoisePage::setLogClock(LocalClock clock)
{
    m_log = MeasurementLog(std::move(clock));
}

// ---- Capture start and stop (window thread) ----

void MeasureNoisePage::startCapture()
{
    WaveCapture &capture = m_engine.capture();
    capture.deriveFormat();
    m_history.clearWrapped(); // with the block counter reset by the start: a fresh average
    if (!capture.probeDevice())
        return; // no reading and no message; the fields keep what they show

    ++m_generation;
    m_lastShownBlock = -1;
    {
        const std::lock_guard lock(m_boxMutex);
        m_stopping = false;
    }
    const int generation = m_generation;
    const int rc = capture.startCapture(
        [this, generation](WaveCapture &c, CaptureHeader &h) { onBlock(c, h, generation); });
    if (rc != kCaptureOk) {
        showMessage(kMsgCannotOpenWaveDevice);
        return;
    }
    m_capturing = true;
}

void MeasureNoisePage::stopCapture()
{
    // The order matters: a callback that waits for the log-failure box must be released
    // before stopCapture waits for that callback to return.
    {
        const std::lock_guard lock(m_boxMutex);
        m_stopping = true;
    }
    m_boxAnswered.notify_all();
    m_engine.capture().stopCapture();
    m_capturing = false;
    {
        // No callback runs any more: every request still on its way to this thread is
        // stale and must not open a box.
        const std::lock_guard lock(m_boxMutex);
        m_boxAnswer = m_boxRequest;
    }
    if (m_logBox)
        m_logBox->done(QMessageBox::Ok); // the box belonged to the capture just stopped
}

// ---- Block handling (delivery thread) ----

void MeasureNoisePage::onBlock(WaveCapture &capture, CaptureHeader &header, int generation)
{
    const Settings &settings = m_engine.settings();
    ResultLine &line = m_engine.resultLine();
    line.clear();

    HighPass1kHz *filter = settings.highPassFilter ? &m_engine.highPass() : nullptr;
    const BlockStats stats =
        measureBlock(header.data, header.bytesRecorded, capture.format(), filter);

    const int position = capture.nextBlock();
    const bool averaging = m_shared.averaging();
    const double current = m_history.addReading(position, stats.dB, averaging,
                                                m_shared.averageCount());
    m_history.advance(position);
    m_currentReading.store(current, std::memory_order_relaxed);

    // The texts in the order of the log line: dB, average, (relative, never logged), crest.
    BlockTexts texts;
    texts.generation = generation;
    texts.position = position;
    texts.dB = showResultText(showsWait(stats.dB), stats.dB, kMsgWait, true, settings, line);
    if (averaging)
        texts.averaged =
            showResultText(showsWait(current), current, kMsgWait, true, settings, line);
    if (m_storedValid.load(std::memory_order_acquire)) {
        const double relative = current - m_storedValue.load(std::memory_order_relaxed);
        texts.relative = showResultText(showsWait(current) || std::isnan(relative), relative,
                                        kMsgWait, false, settings, line);
    }
    texts.crest =
        showResultText(showsCrestError(stats.C), stats.C, kMsgResultError, true, settings, line);
    postToWindow(this, [this, texts = std::move(texts)] { showBlock(texts); });

    if (settings.logMeasurements) {
        int rc = kMsgNone;
        line.read([&](std::string_view results) {
            rc = m_log.appendMeasure(settings.logResultsFile, noiseOn(), dutIn(), results);
        });
        if (rc != kMsgNone)
            reportLogFailure(rc);
    }

    // Last, in every case: the buffer goes back for filling (nothing once stopped).
    capture.requeue(header);
}

void MeasureNoisePage::reportLogFailure(int messageId)
{
    std::unique_lock lock(m_boxMutex);
    if (m_stopping)
        return;
    const std::uint64_t request = ++m_boxRequest;
    postToWindow(this, [this, request, messageId] {
        std::unique_lock check(m_boxMutex);
        const bool current = !m_stopping && request == m_boxRequest && m_boxAnswer < request;
        check.unlock();
        if (current)
            showLogMessage(request, messageId);
    });
    // Held here until the box is closed, or a stop begins; the running flag is checked as
    // well, for a stop that does not go through this page.
    WaveCapture &capture = m_engine.capture();
    while (!m_stopping && m_boxAnswer < request) {
        m_boxAnswered.wait_for(lock, kStopPollInterval);
        if (!capture.running())
            break;
    }
}

// ---- Window thread ----

void MeasureNoisePage::showBlock(const BlockTexts &texts)
{
    // Texts of a capture that has been stopped (or replaced) are dropped: after a restart
    // the fields must show the new capture's readings, its first " Wait..." included.
    if (!m_capturing || texts.generation != m_generation)
        return;
    m_dbField->setText(QString::fromStdString(texts.dB));
    // Averaging may have been switched off since the block was measured; the field then
    // stays empty.
    if (!texts.averaged.empty() && averagingEnabled())
        m_averagedField->setText(QString::fromStdString(texts.averaged));
    if (!texts.relative.empty())
        m_relativeField->setText(QString::fromStdString(texts.relative));
    m_crestField->setText(QString::fromStdString(texts.crest));
    m_lastShownBlock = texts.position;
}

void MeasureNoisePage::showLogMessage(std::uint64_t request, int messageId)
{
    // Not exec(): the window thread keeps running its own loop, so a stop or a close can
    // still reach the page while the box is up. Application-modal all the same.
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(kApplicationName),
                                QString::fromLatin1(messageText(messageId)), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("quillonMessageBox"));
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QDialog::finished, this, [this, request, box] {
        answerLogMessage(request);
        box->deleteLater();
    });
    m_logBox = box;
    box->open();
}

void MeasureNoisePage::answerLogMessage(std::uint64_t request)
{
    {
        const std::lock_guard lock(m_boxMutex);
        m_boxAnswer = std::max(m_boxAnswer, request);
    }
    m_boxAnswered.notify_all();
}

void MeasureNoisePage::showMessage(int messageId)
{
    showMessageBox(messageId, this);
}

void MeasureNoisePage::onEnableClicked(bool checked)
{
    m_shared.setAveraging(checked);
    if (!checked)
        m_averagedField->clear();
}

void MeasureNoisePage::onCountActivated(int index)
{
    if (index >= 0)
        m_shared.setAverageCount(index + 1);
}

void MeasureNoisePage::onSaveAsDefault()
{
    SaveBatch batch(m_store);
    batch.write(keys::TraceAverageCount, averagingCount());
    batch.write(keys::TraceAverageFlag, averagingEnabled() ? 1 : 0);
    batch.write(keys::ResultFontSize, m_resultFontSize);
    if (const int rc = batch.result(); rc != kMsgNone)
        showMessage(rc);
}

void MeasureNoisePage::onStore()
{
    const double current = m_currentReading.load(std::memory_order_relaxed);
    // An averaged reading that is not yet a number (" Wait...") is nothing to keep: a NaN
    // reference would turn every later relative reading into NaN.
    if (std::isnan(current))
        return;
    m_storedValue.store(current, std::memory_order_relaxed);
    m_storedValid.store(true, std::memory_order_release);
}

void MeasureNoisePage::onNoiseClicked(bool checked)
{
    m_noiseOn.store(checked, std::memory_order_relaxed);
    m_engine.switches().setSwitches(noiseOn(), dutIn());
}

void MeasureNoisePage::onDutClicked(bool checked)
{
    m_dutIn.store(checked, std::memory_order_relaxed);
    m_engine.switches().setSwitches(noiseOn(), dutIn());
}

} // namespace quillon
