#include "ui/pages/SetupPage.h"

#include "ui/MessageBox.h"
#include "measure/QuillonEngine.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "capture/SettingsContext.h"
#include "capture/WaveFormat.h"
#include "nf/EnrTable.h"
#include "switch/SerialLines.h"
#include "switch/SwitchControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillon {

namespace {

// The capture-time list, by position.
constexpr std::uint32_t kCaptureTimes[] = {10000, 1000, 100}; // ms
const char *const kCaptureTimeTexts[] = {"10 seconds", "1 second", "100 msec"};
constexpr int kOneSecondEntry = 1;

// The FFT list: 2^10 .. 2^15.
constexpr int kFftSmallestLog2 = 10;
constexpr int kFftLargestLog2 = 15;

// Entries of the USB line lists: the data bits D0..D7.
constexpr int kUsbLines = 8;

// Row of WaveFormatTable whose label equals `text` exactly, or the last row when none does.
int formatRowForLabel(const QString &text)
{
    for (int row = 0; row < kWaveFormatCount; ++row)
        if (text == QLatin1String(WaveFormatTable[row].label))
            return row;
    return kWaveFormatCount - 1;
}

// Selects entry `position` of `list`, or nothing when the list has no such entry.
void selectPosition(QComboBox *list, int position)
{
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

// A drop-down list that keeps its width whatever its entries (long device names would
// otherwise widen the fixed-size window).
QComboBox *makeList(const char *name, int minimumCharacters)
{
    auto *box = new QComboBox;
    box->setObjectName(QLatin1String(name));
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(minimumCharacters);
    return box;
}

} // namespace

SetupPage::SetupPage(QuillonEngine &engine, SettingsStore &store, QWidget *parent)
    : PropertyPage(QStringLiteral("Setup"), QStringLiteral("setup"), parent), m_engine(engine),
      m_store(store)
{
    m_portProbe = [] {
        return probeSwitchPorts(defaultProbeDevices());
    };
    m_fileDialog = [this](const FileDialogRequest &request) {
        const std::unique_ptr<QFileDialog> dialog = createFileDialog(request, this);
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().constFirst();
    };
    buildControls();
}

SetupPage::~SetupPage() = default;

Settings &SetupPage::settings()
{
    return m_engine.settings();
}

void SetupPage::setPortProbe(PortProbe probe)
{
    m_portProbe = std::move(probe);
}

void SetupPage::setFileDialog(FileDialog dialog)
{
    m_fileDialog = std::move(dialog);
}

FileDialogRequest SetupPage::enrFileRequest()
{
    return {QStringLiteral("Choose ENR Calibration File"),
            {QStringLiteral("ENR Data File (*.dat)"), QStringLiteral("Any File Extension (*)")},
            QStringLiteral("dat")};
}

FileDialogRequest SetupPage::logFileRequest()
{
    return {QStringLiteral("Choose Log File"),
            {QStringLiteral("Log File (*.log)"), QStringLiteral("Any File Extension (*)")},
            QStringLiteral("log")};
}

std::unique_ptr<QFileDialog> SetupPage::createFileDialog(const FileDialogRequest &request,
                                                     QWidget *parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, request.caption);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(request.nameFilters);
    dialog->setDefaultSuffix(request.defaultSuffix);
    return dialog;
}

void SetupPage::buildControls()
{
    // Sound Source: the two lists span the page; device names can be long.
    auto *sound = new QGroupBox(QStringLiteral("Sound Source"));
    auto *soundForm = new QFormLayout(sound);
    m_device = makeList("deviceList", 44);
    m_format = makeList("formatList", 28);
    soundForm->addRow(QStringLiteral("Device:"), m_device);
    soundForm->addRow(QStringLiteral("Format:"), m_format);

    auto *capture = new QGroupBox(QStringLiteral("Capture Settings"));
    auto *captureForm = new QFormLayout(capture);
    m_captureTime = makeList("captureTimeList", 10);
    m_fftSize = makeList("fftSizeList", 10);
    captureForm->addRow(QStringLiteral("Capture Time"), m_captureTime);
    captureForm->addRow(QStringLiteral("FFT Block Size"), m_fftSize);

    auto *automation = new QGroupBox(QStringLiteral("Automation"));
    auto *automationForm = new QFormLayout(automation);
    m_port = makeList("portList", 14);
    m_noiseLine = makeList("noiseLineList", 6);
    m_dutLine = makeList("dutLineList", 6);
    automationForm->addRow(QStringLiteral("I/O Port:"), m_port);
    automationForm->addRow(QStringLiteral("Noise Source"), m_noiseLine);
    automationForm->addRow(QStringLiteral("DUT Switch"), m_dutLine);

    // A path group: its check box above the path field and its "Browse..." button.
    const auto pathGroup = [](const char *title, QCheckBox *&use, const char *useText,
                              const char *useName, QLineEdit *&path, const char *pathName,
                              QPushButton *&browse, const char *browseName) {
        auto *group = new QGroupBox(QLatin1String(title));
        auto *grid = new QGridLayout(group);
        use = new QCheckBox(QLatin1String(useText));
        use->setObjectName(QLatin1String(useName));
        path = new QLineEdit;
        path->setObjectName(QLatin1String(pathName));
        path->setMaxLength(kMaxPathLength);
        browse = new QPushButton(QStringLiteral("Browse..."));
        browse->setObjectName(QLatin1String(browseName));
        grid->addWidget(use, 0, 0, 1, 2);
        grid->addWidget(path, 1, 0);
        grid->addWidget(browse, 1, 1);
        grid->setColumnStretch(0, 1);
        return group;
    };
    QGroupBox *log = pathGroup("Log File", m_logUse, "Log Measurements", "logMeasurements",
                               m_logPath, "logPath", m_logBrowse, "logBrowse");
    QGroupBox *enr =
        pathGroup("ENR Calibration Configuration File", m_enrUse, "Use Calibration File Data",
                  "useEnrFile", m_enrPath, "enrPath", m_enrBrowse, "enrBrowse");

    auto *filtering = new QGroupBox(QStringLiteral("Filtering"));
    auto *filteringLayout = new QHBoxLayout(filtering);
    m_highPass = new QCheckBox(QStringLiteral("1KHz High Pass"));
    m_highPass->setObjectName(QStringLiteral("highPass"));
    filteringLayout->addWidget(m_highPass);
    filteringLayout->addStretch(1);

    m_save = new QPushButton(QStringLiteral("Save as Default"));
    m_save->setObjectName(QStringLiteral("saveAsDefault"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(sound, 0, 0, 1, 2);
    grid->addWidget(capture, 1, 0);
    grid->addWidget(automation, 1, 1);
    grid->addWidget(log, 2, 0, 1, 2);
    grid->addWidget(enr, 3, 0, 1, 2);
    grid->addWidget(filtering, 4, 0);
    grid->addWidget(m_save, 4, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    // Only a choice by the user runs a handler (activated), never a list being filled.
    connect(m_device, &QComboBox::activated, this, &SetupPage::deviceChanged);
    connect(m_format, &QComboBox::activated, this, &SetupPage::formatChanged);
    connect(m_captureTime, &QComboBox::activated, this, &SetupPage::captureTimeChanged);
    connect(m_fftSize, &QComboBox::activated, this, &SetupPage::fftSizeChanged);
    connect(m_port, &QComboBox::activated, this, [this] { portChanged(); });
    connect(m_noiseLine, &QComboBox::activated, this, &SetupPage::noiseLineChanged);
    connect(m_dutLine, &QComboBox::activated, this, &SetupPage::dutLineChanged);
    connect(m_enrUse, &QCheckBox::clicked, this, &SetupPage::enrUseChanged);
    connect(m_logUse, &QCheckBox::clicked, this, &SetupPage::logUseChanged);
    connect(m_highPass, &QCheckBox::clicked, this,
            [this](bool ticked) { settings().highPassFilter = ticked; });
    connect(m_enrBrowse, &QPushButton::clicked, this, &SetupPage::enrBrowse);
    connect(m_logBrowse, &QPushButton::clicked, this, &SetupPage::logBrowse);
    connect(m_save, &QPushButton::clicked, this, &SetupPage::saveAsDefault);
    // editingFinished comes only after a change; the paths are taken at every focus loss.
    m_enrPath->installEventFilter(this);
    m_logPath->installEventFilter(this);
}

bool SetupPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_enrPath)
            enrPathEdited();
        else if (watched == m_logPath)
            logPathEdited();
    }
    return PropertyPage::eventFilter(watched, event);
}

void SetupPage::initializePage()
{
    Settings &s = settings();
    DeviceList &devices = m_engine.devices();

    // Devices in numbering order: the real inputs, then the virtual bench.
    const int count = devices.deviceCount();
    for (int device = 0; device < count; ++device) {
        DeviceCaps caps;
        m_device->addItem(devices.deviceCaps(device, caps)
                              ? QString::fromStdString(caps.productName)
                              : QStringLiteral("Unknown Device"));
    }
    selectPosition(m_device, s.waveInDevice);

    // Also closes the switch port, so the probe below finds the program's own port.
    rebuildFormatList();

    // A size not in the list shows the first entry; the field keeps its value.
    for (int n = kFftSmallestLog2; n <= kFftLargestLog2; ++n)
        m_fftSize->addItem(QString::number(1 << n));
    const int fftEntry = m_fftSize->findText(QString::number(s.fftBlockSize));
    m_fftSize->setCurrentIndex(fftEntry >= 0 ? fftEntry : 0);

    for (const char *text : kCaptureTimeTexts)
        m_captureTime->addItem(QLatin1String(text));
    int timeEntry = kOneSecondEntry;
    for (int i = 0; i < static_cast<int>(std::size(kCaptureTimes)); ++i)
        if (kCaptureTimes[i] == s.captureTimeMs)
            timeEntry = i;
    m_captureTime->setCurrentIndex(timeEntry);

    m_enrPath->setText(QString::fromStdString(s.enrCalibrationFile));
    m_logPath->setText(QString::fromStdString(s.logResultsFile));

    m_engine.switches().closePort();
    m_port->addItem(QLatin1String(kNoPortName));
    for (const std::string &name : m_portProbe())
        m_port->addItem(QString::fromStdString(name));
    const int portEntry = m_port->findText(QString::fromStdString(s.switchPortName),
                                           Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_port->setCurrentIndex(portEntry >= 0 ? portEntry : 0);

    m_enrUse->setChecked(s.useEnrFile);
    m_highPass->setChecked(s.highPassFilter);
    m_logUse->setChecked(s.logMeasurements);

    // Stores the shown port: a stored port that is gone becomes "None".
    portChanged();
}

void SetupPage::activatePage()
{
    writePage();
}

void SetupPage::deactivatePage()
{
    readPage();
}

void SetupPage::rebuildFormatList()
{
    Settings &s = settings();
    const int device = m_device->currentIndex();

    // The trial opens below need the device; a switch port is held exclusively and must
    // be free for the port probe too.
    m_engine.switches().closePort();

    m_format->clear();
    if (device < 0)
        return;

    DeviceCaps caps;
    if (m_engine.devices().deviceCaps(device, caps)) {
        WaveCapture &capture = m_engine.capture();
        for (const WaveFormatRow &row : WaveFormatTable) {
            bool offered = false;
            if (row.capabilityFlag != kFormatProbe) {
                offered = (caps.formats & row.capabilityFlag) != 0;
            } else {
                // A 24-bit format is known only by opening the device with it.
                const int index = static_cast<int>(&row - WaveFormatTable.data());
                applyFormatRow(s, index);
                capture.deriveFormat();
                offered = capture.probeDevice();
            }
            if (offered)
                m_format->addItem(QLatin1String(row.label));
        }
    }

    if (s.waveInFormat < 0)
        s.waveInFormat = 0;
    if (s.waveInFormat >= kWaveFormatCount)
        s.waveInFormat = kWaveFormatCount - 1;
    // A stored format the device lacks shows the first entry but stays as stored until
    // the user chooses (or the page is left).
    selectFormatEntry();
    // The trial opens changed the format fields: back to the chosen row.
    applyFormat();
}

void SetupPage::selectFormatEntry()
{
    const int row = settings().waveInFormat;
    int entry = 0;
    if (row >= 0 && row < kWaveFormatCount) {
        const QString label = QLatin1String(WaveFormatTable[row].label);
        for (int i = 0; i < m_format->count(); ++i) {
            if (m_format->itemText(i).startsWith(label, Qt::CaseInsensitive)) {
                entry = i;
                break;
            }
        }
    }
    m_format->setCurrentIndex(m_format->count() > 0 ? entry : -1);
}

void SetupPage::applyFormat()
{
    Settings &s = settings();
    applyFormatRow(s, s.waveInFormat);
    m_engine.highPass().selectHighPass(s.sampleRate);
}

void SetupPage::readPage()
{
    Settings &s = settings();
    s.waveInDevice = m_device->currentIndex();
    // An empty format list (a device that cannot be queried) keeps the stored format.
    if (m_format->currentIndex() >= 0) {
        s.waveInFormat = formatRowForLabel(m_format->currentText());
        // The format fields follow the index wherever it changes.
        applyFormat();
    }
}

void SetupPage::writePage()
{
    selectPosition(m_device, settings().waveInDevice);
    selectFormatEntry();
}

void SetupPage::deviceChanged(int index)
{
    settings().waveInDevice = index;
    rebuildFormatList();
}

void SetupPage::formatChanged(int index)
{
    settings().waveInFormat = formatRowForLabel(m_format->itemText(index));
    applyFormat();
}

void SetupPage::captureTimeChanged(int index)
{
    settings().captureTimeMs = index == 0   ? kCaptureTimes[0]
                               : index == 2 ? kCaptureTimes[2]
                                            : kCaptureTimes[1];
}

void SetupPage::fftSizeChanged(int index)
{
    settings().fftBlockSize = m_fftSize->itemText(index).toInt();
}

void SetupPage::portChanged()
{
    Settings &s = settings();
    s.switchPortName = m_port->currentText().toStdString();
    s.switchPortChosen = automationPresentFor(s.switchPortName);
    const SwitchPortKind kind = switchPortKind(s.switchPortName);

    const auto fill = [kind](QComboBox *list) {
        list->clear();
        if (kind == SwitchPortKind::Serial) {
            list->addItem(QStringLiteral("RTS"));
            list->addItem(QStringLiteral("DTR"));
        } else if (kind == SwitchPortKind::Usb) {
            for (int bit = 0; bit < kUsbLines; ++bit)
                list->addItem(QStringLiteral("D%1").arg(bit));
        }
    };

    fill(m_noiseLine);
    // Ports without lines to choose (none, parallel, the virtual bench) leave both lists
    // empty; an empty list that looks usable invites a choice that does not exist.
    m_noiseLine->setEnabled(m_noiseLine->count() > 0);
    if (kind == SwitchPortKind::Serial) {
        // The switch drives DTR for any selection but 0; show (and keep) it as DTR.
        s.noiseSourceLine = s.noiseSourceLine != 0 ? 1 : 0;
    }
    selectPosition(m_noiseLine, s.noiseSourceLine);

    fill(m_dutLine);
    if (kind == SwitchPortKind::Serial) {
        // The DUT relay always takes the other modem line.
        s.dutLine = s.noiseSourceLine == 0 ? 1 : 0;
        m_dutLine->setEnabled(false);
    } else if (kind == SwitchPortKind::Usb) {
        m_dutLine->setEnabled(true);
    } else {
        s.dutLine = 0;
        m_dutLine->setEnabled(false);
    }
    selectPosition(m_dutLine, s.dutLine);
}

void SetupPage::noiseLineChanged(int index)
{
    Settings &s = settings();
    s.noiseSourceLine = index;
    if (switchPortKind(s.switchPortName) == SwitchPortKind::Serial) {
        s.dutLine = index == 0 ? 1 : 0;
        selectPosition(m_dutLine, s.dutLine);
    }
}

void SetupPage::dutLineChanged(int index)
{
    Settings &s = settings();
    if (switchPortKind(s.switchPortName) == SwitchPortKind::Usb)
        s.dutLine = index;
}

void SetupPage::enrUseChanged(bool ticked)
{
    Settings &s = settings();
    s.useEnrFile = ticked;
    if (!ticked)
        return;
    const int message = parseEnrFile(s, m_engine.enrTable());
    if (message != 0) {
        showMessageText(QString::fromStdString(enrReadMessage(message, m_engine.enrTable())),
                        this);
        s.useEnrFile = false;
        m_enrUse->setChecked(false);
    }
}

void SetupPage::logUseChanged(bool ticked)
{
    Settings &s = settings();
    s.logMeasurements = ticked;
    if (ticked && s.logResultsFile.empty()) {
        // Nowhere to write: refused without a message.
        s.logMeasurements = false;
        m_logUse->setChecked(false);
    }
}

void SetupPage::enrPathEdited()
{
    Settings &s = settings();
    const QString path = m_enrPath->text().trimmed();
    s.enrCalibrationFile = path.toStdString();
    m_enrPath->setText(path);
    // The table in use came from the old text; ticking the box again reads the file.
    m_enrUse->setChecked(false);
    s.useEnrFile = false;
}

void SetupPage::logPathEdited()
{
    Settings &s = settings();
    const QString path = m_logPath->text().trimmed();
    s.logResultsFile = path.toStdString();
    m_logPath->setText(path);
    // Logging to no file would fail on every reading; an emptied path ends logging as an
    // empty path refuses to start it.
    if (path.isEmpty() && s.logMeasurements) {
        s.logMeasurements = false;
        m_logUse->setChecked(false);
    }
}

void SetupPage::enrBrowse()
{
    readPage();
    const QString chosen = m_fileDialog(enrFileRequest());
    if (chosen.isEmpty())
        return;
    Settings &s = settings();
    const QString path = QFileInfo(chosen).absoluteFilePath();
    s.enrCalibrationFile = path.toStdString();
    m_enrPath->setText(path);
    m_enrUse->setChecked(false);
    s.useEnrFile = false;
    writePage();
}

void SetupPage::logBrowse()
{
    readPage();
    const QString chosen = m_fileDialog(logFileRequest());
    if (chosen.isEmpty())
        return;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    settings().logResultsFile = path.toStdString();
    m_logPath->setText(path);
    writePage();
}

void SetupPage::saveAsDefault()
{
    const Result saved =
        saveSettingsAsDefault(settings(), m_store, productNamesOf(&m_engine.devices()));
    if (!saved.ok())
        showMessageBox(saved.code, this);
}

} // namespace quillon
