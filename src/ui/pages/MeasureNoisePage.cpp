#include "ui/pages/MeasureNoisePage.h"

#include "ui/LostAudioNote.h"
#include "ui/PostToWindow.h"
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
      m_engine(engine), m_store(store), m_shared(shared),
      m_meter(engine.settings(), engine.highPass(), engine.resultLine(), shared)
{
    setObjectName(QStringLiteral("measureNoisePage"));
    m_resultFontSize = store.read(keys::ResultFontSize);
    m_resultFont = resultFontFor(m_resultFontSize);
    buildControls();
}

MeasureNoisePage::~MeasureNoisePage()
{
    // The callback uses this object: no block may be in progress once it is gone.
    if (m_capturing)
        stopCapture();
}

QFont MeasureNoisePage::resultFontFor(int storedPixelHeight)
{
    // A negative stored height means the same size (the character height); 0 the default.
    int height = std::abs(storedPixelHeight);
    if (height == 0)
        height = kDefaultResultFont;
    height = std::clamp(height, kSmallestResultFont, kLargestResultFont);
    QFont font;
    font.setPixelSize(height);
    font.setWeight(QFont::Medium); // 500
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
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

    m_lostAudio = new QLabel(this);
    m_lostAudio->setObjectName(QStringLiteral("lostAudio"));
    m_lostAudio->setAlignment(Qt::AlignCenter);

    auto *controls = new QHBoxLayout;
    controls->addWidget(averaging, 1);
    controls->addWidget(m_switchingGroup, 1);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(16, 16, 16, 12);
    page->setSpacing(12);
    page->addWidget(results);
    page->addLayout(controls);
    page->addStretch(1);
    page->addWidget(m_lostAudio);
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
    // No capture runs yet: these writes race with nothing.
    m_meter.clearReference();
    m_meter.setSwitchStates(false, false);
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
    const bool present = m_engine.settings().switchPortChosen;
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
    m_meter.setLogClock(std::move(clock));
}

// ---- Capture start and stop (window thread) ----

void MeasureNoisePage::startCapture()
{
    WaveCapture &capture = m_engine.capture();
    capture.deriveFormat();
    m_meter.restart();
    if (!capture.probeDevice())
        return; // no reading and no message; the fields keep what they show

    ++m_generation;
    m_lastShownBlock = -1;
    m_lostAudio->clear();
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
    m_engine.capture().stopCapture();
    m_capturing = false;
    // The box belonged to the capture just stopped; one still on its way is dropped by its
    // generation.
    if (m_logBox)
        m_logBox->done(QMessageBox::Ok);
}

// ---- Block handling (delivery thread) ----

void MeasureNoisePage::onBlock(WaveCapture &capture, CaptureHeader &header, int generation)
{
    MeterTexts texts;
    const int rc = m_meter.evaluate(header.data, header.bytesRecorded, capture.format(),
                                    capture.nextBlock(), texts);
    postToWindow(this, [this, generation, texts = std::move(texts)] { showBlock(generation, texts); });
    if (rc != kMsgNone)
        postToWindow(this, [this, generation, rc] { showLogMessage(generation, rc); });
    // Last, in every case: the buffer goes back for filling (nothing once stopped).
    capture.requeue(header);
}

// ---- Window thread ----

void MeasureNoisePage::showBlock(int generation, const MeterTexts &texts)
{
    // Texts of a capture that has been stopped (or replaced) are dropped: after a restart
    // the fields must show the new capture's readings, its first " Wait..." included.
    if (!m_capturing || generation != m_generation)
        return;
    m_dbField->setText(QString::fromStdString(texts.dB));
    // Averaging may have been switched off since the block was measured; the field then
    // stays empty.
    if (!texts.averaged.empty() && averagingEnabled())
        m_averagedField->setText(QString::fromStdString(texts.averaged));
    if (!texts.relative.empty())
        m_relativeField->setText(QString::fromStdString(texts.relative));
    m_crestField->setText(QString::fromStdString(texts.crest));
    m_lostAudio->setText(lostAudioNote(m_engine.capture()));
    m_lastShownBlock = texts.position;
}

void MeasureNoisePage::showLogMessage(int generation, int messageId)
{
    // One box at a time, for the capture that is running. Not modal: the meter goes on
    // measuring behind it, and the user can change tabs (Setup, to mend the log path) or
    // close the window while it is up.
    if (!m_capturing || generation != m_generation || m_logBox)
        return;
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(kApplicationName),
                                QString::fromLatin1(messageText(messageId)), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("quillonMessageBox"));
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_logBox = box;
    box->show(); // not open(): that would make it window-modal
}

QMessageBox *MeasureNoisePage::logFailureBox() const
{
    return m_logBox.data();
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
    m_meter.storeReference();
}

void MeasureNoisePage::onNoiseClicked(bool checked)
{
    m_meter.setSwitchStates(checked, dutIn());
    m_engine.switches().setSwitches(noiseOn(), dutIn());
}

void MeasureNoisePage::onDutClicked(bool checked)
{
    m_meter.setSwitchStates(noiseOn(), checked);
    m_engine.switches().setSwitches(noiseOn(), dutIn());
}

} // namespace quillon
