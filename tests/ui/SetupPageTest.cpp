// Setup page: list contents and selection rules, the handlers' effects on Settings, the
// message boxes, the file dialogs and "Save as Default" against a real settings file.
// The port list is always injected: the real probe would open the machine's console.
#include "app/SetupPage.h"
#include "app/Messages.h"
#include "app/QuillonEngine.h"
#include "app/SettingsStore.h"
#include "app/SettingsTestSupport.h"
#include "bench/VirtualBenchBackend.h"
#include "support/FakeDevices.h"
#include "switch/SerialLines.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace quillon {
namespace {

// One QApplication for the whole program (offscreen: the test helper sets the platform).
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_setup_page";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};
const ::testing::Environment *const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class RecordingSink : public MessageSink
{
public:
    void showMessage(int messageId) override { messages.push_back(messageId); }
    std::vector<int> messages;
};

// Accepts every port it is asked to open; records whether one is open.
struct FakeLines : SerialLineDriver
{
    bool open(const std::string &) override { return isOpen = true; }
    bool setLine(ModemLine, bool) override { return true; }
    void close() override { isOpen = false; }
    bool isOpen = false;
};

// A sound card that reports the 16-bit formats in `flags` and opens for exactly the
// formats in `accepted`: the Setup page's 24-bit trial opens are real opens of this device
// through WaveCapture::ProbeDevice.
class PartialFormatCard : public AudioBackend
{
public:
    struct Format
    {
        std::uint32_t rate;
        std::uint16_t bits;
        std::uint16_t channels;
        bool operator==(const Format &) const = default;
    };

    static constexpr const char *kName = "Partial Card";
    std::uint32_t flags = kFormat1M16 | kFormat1S16 | kFormat2M16 | kFormat2S16;
    std::vector<Format> accepted{{11025, 16, 1}, {11025, 16, 2}, {22050, 16, 1}, {22050, 16, 2}};
    std::vector<Format> opens; // every open tried, in order
    int closes = 0;

    int deviceCount() override { return 1; }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        if (device != 0)
            return false;
        caps.productName = kName;
        caps.formats = flags;
        return true;
    }
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        const Format f{format.samplesPerSec, format.bitsPerSample, format.channels};
        opens.push_back(f);
        if (device != 0)
            return kCaptureBadDevice;
        if (std::find(accepted.begin(), accepted.end(), f) == accepted.end())
            return kCaptureBadFormat;
        stream = std::make_unique<IdleStream>(queue, *this);
        return kCaptureOk;
    }

private:
    class IdleStream : public InputStream
    {
    public:
        IdleStream(BlockQueue &queue, PartialFormatCard &card) : InputStream(queue), m_card(card) {}
        int start() override { return kCaptureOk; }
        void reset() override {}
        void close() override { ++m_card.closes; }

    private:
        PartialFormatCard &m_card;
    };
};

// Closes every message box that opens while it lives and keeps what it showed.
class MessageBoxCatcher
{
public:
    MessageBoxCatcher()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            texts << box->text();
            titles << box->windowTitle();
            buttons << box->buttons().size();
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(1);
    }
    QStringList texts;
    QStringList titles;
    QList<qsizetype> buttons;

private:
    QTimer m_timer;
};

QStringList entries(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

const QStringList kSerialLines{"RTS", "DTR"};
const QStringList kUsbLines{"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"};

class SetupPageTest : public test::TempSettingsTest
{
protected:
    // The stored set-up the page loads: the partial card, format 8.
    void SetUp() override
    {
        TempSettingsTest::SetUp();
        store(keys::WaveInDevice, 0);
        store(keys::WaveInDeviceName, PartialFormatCard::kName);
        store(keys::WaveInFormat, 8);
    }

    void store(const IntValue &value, int v) { SettingsStore().write(value, v); }
    void store(const TextValue &value, const std::string &v) { SettingsStore().write(value, v); }

    // Creates the page over the partial card (device 0), `extra` devices after it and the
    // virtual bench last, and shows it for the first time.
    setup &showPage(std::vector<std::string> ports = {"/dev/ttyUSB0", "/dev/parport0", "USB",
                                                      "Virtual bench"},
                    std::vector<AudioBackend *> extra = {})
    {
        m_page.reset();
        m_store.reset();
        m_engine.reset();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_card};
        options.soundDevices.insert(options.soundDevices.end(), extra.begin(), extra.end());
        auto lines = std::make_unique<FakeLines>();
        m_lines = lines.get();
        options.serialLines = std::move(lines);
        m_engine = std::make_unique<QuillonEngine>(m_sink, std::move(options));
        m_store = std::make_unique<SettingsStore>();
        m_page = std::make_unique<setup>(*m_engine, *m_store);
        m_page->setPortProbe([this, ports] {
            ++m_probes;
            m_portOpenAtProbe = m_engine->switches().isPortOpen();
            return ports;
        });
        m_page->setFileDialog([this](const FileDialogRequest &request) {
            m_requests.push_back(request);
            m_formatAtDialog = settings().waveInFormat;
            return m_dialogAnswer;
        });
        beforeShow();
        m_page->activate();
        return *m_page;
    }
    virtual void beforeShow() {}

    Settings &settings() { return m_engine->settings(); }

    template <typename T> T *control(const char *name)
    {
        T *widget = m_page->findChild<T *>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox *list(const char *name) { return control<QComboBox>(name); }
    QCheckBox *box(const char *name) { return control<QCheckBox>(name); }
    QLineEdit *field(const char *name) { return control<QLineEdit>(name); }

    // The user picks the entry showing `text`.
    void choose(const char *listName, const QString &text)
    {
        QComboBox *l = list(listName);
        const int index = l->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        l->setCurrentIndex(index);
        emit l->activated(index);
    }
    // The user leaves a path field (tab or click elsewhere).
    void leave(const char *fieldName)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(field(fieldName), &out);
    }
    void click(const char *name) { control<QAbstractButton>(name)->click(); }

    // A value as it stands in the settings file.
    QVariant stored(const char *name)
    {
        QSettings file(storeFile(), QSettings::IniFormat);
        return file.value(QStringLiteral("Setup/") + QLatin1String(name));
    }

    QString writeFile(const char *name, const QByteArray &content)
    {
        const QString path = folder() + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    PartialFormatCard m_card;
    RecordingSink m_sink;
    FakeLines *m_lines = nullptr;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<setup> m_page;
    int m_probes = 0;
    bool m_portOpenAtProbe = true;
    std::vector<FileDialogRequest> m_requests;
    QString m_dialogAnswer;
    int m_formatAtDialog = -2;
};

// ---- Sound source -----------------------------------------------------------------------

using SetupSoundSource = SetupPageTest;

TEST_F(SetupSoundSource, DevicesInNumberingOrderUnreadableCapsAsUnknownBenchLast)
{
    test::NamedDevices mute({{"Mute Card", 0, false}});
    showPage({}, {&mute});
    EXPECT_EQ(entries(list("deviceList")),
              (QStringList{"Partial Card", "Unknown Device", "Quillon virtual bench"}));
    EXPECT_EQ(list("deviceList")->currentIndex(), 0);
    EXPECT_EQ(m_page->caption(), "Setup");
    EXPECT_EQ(m_page->helpTopic(), "setup");

    // Choosing the unreadable device empties the format list; leaving keeps the format.
    choose("deviceList", "Unknown Device");
    EXPECT_EQ(settings().waveInDevice, 1);
    EXPECT_EQ(list("formatList")->count(), 0);
    m_page->OnKillActive();
    EXPECT_EQ(settings().waveInDevice, 1);
    EXPECT_EQ(settings().waveInFormat, 8);
    EXPECT_EQ(settings().sampleRate, 44100);
}

TEST_F(SetupSoundSource, FourFormatDeviceListsExactlyItsFormatsAndKeepsStoredIndex)
{
    showPage();
    EXPECT_EQ(entries(list("formatList")),
              (QStringList{"11.025 kHz, mono, 16-bit", "11.025 kHz, stereo, 16-bit",
                           "22.05 kHz, mono, 16-bit", "22.05 kHz, stereo, 16-bit"}));
    // Every 24-bit row was tried by a real open with that row's format, and refused.
    std::vector<PartialFormatCard::Format> trials;
    for (const auto &row : WaveFormatTable)
        if (row.bitsPerSample == 24)
            trials.push_back({static_cast<std::uint32_t>(row.sampleRate), 24,
                              static_cast<std::uint16_t>(row.stereo ? 2 : 1)});
    EXPECT_EQ(m_card.opens, trials);
    // Stored 44.1 kHz mono 16-bit is missing: first entry shown, index and fields kept.
    EXPECT_EQ(list("formatList")->currentIndex(), 0);
    EXPECT_EQ(settings().waveInFormat, 8);
    EXPECT_EQ(settings().sampleRate, 44100);
    EXPECT_EQ(settings().bitsPerSample, 16u);
    EXPECT_FALSE(settings().stereo);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 44100);
}

TEST_F(SetupSoundSource, ChosenShortListFormatIsSavedByItsTableIndex)
{
    showPage();
    choose("formatList", "22.05 kHz, stereo, 16-bit");
    EXPECT_EQ(settings().waveInFormat, 6);
    EXPECT_EQ(settings().sampleRate, 22050);
    EXPECT_TRUE(settings().stereo);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 22050);

    m_page->OnKillActive();
    MessageBoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(stored("WaveInFormat").toInt(), 6);
    EXPECT_EQ(stored("WaveInDevice").toInt(), 0);
    EXPECT_EQ(stored("WaveInDeviceName").toString(), "Partial Card");
}

TEST_F(SetupSoundSource, LeavingTheShortListTakesTheShownFormatWithItsFields)
{
    showPage();
    m_page->OnKillActive();
    EXPECT_EQ(settings().waveInFormat, 0);
    EXPECT_EQ(settings().sampleRate, 11025);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 11025);
    // Shown again: the list follows the record.
    settings().waveInFormat = 6;
    m_page->OnSetActive();
    EXPECT_EQ(list("formatList")->currentText(), "22.05 kHz, stereo, 16-bit");
}

TEST_F(SetupSoundSource, Accepted24BitTrialIsListedAndFieldsReturnToTheStoredRow)
{
    m_card.accepted.push_back({48000, 24, 1});
    store(keys::WaveInFormat, 2);
    showPage();
    EXPECT_EQ(entries(list("formatList")).last(), "48 kHz, mono, 24-bit");
    EXPECT_EQ(list("formatList")->count(), 5);
    // The last trial was 96 kHz stereo 24-bit; the record is back on row 2.
    EXPECT_EQ(list("formatList")->currentText(), "11.025 kHz, stereo, 16-bit");
    EXPECT_EQ(settings().sampleRate, 11025);
    EXPECT_EQ(settings().bitsPerSample, 16u);
    EXPECT_TRUE(settings().stereo);
    // Every trial opened device was closed again.
    EXPECT_EQ(m_card.closes, 1);

    choose("formatList", "48 kHz, mono, 24-bit");
    EXPECT_EQ(settings().waveInFormat, 13);
    EXPECT_EQ(settings().bitsPerSample, 24u);
    EXPECT_EQ(settings().sampleRate, 48000);
}

TEST_F(SetupSoundSource, InvalidStoredFormatBecomesFirstRow)
{
    store(keys::WaveInFormat, 20); // loads as -1
    showPage();
    EXPECT_EQ(settings().waveInFormat, 0);
    EXPECT_EQ(settings().sampleRate, 11025);
    EXPECT_EQ(list("formatList")->currentIndex(), 0);
}

TEST_F(SetupSoundSource, ChoosingTheBenchListsItsFormatsAndSelectsTheStoredOne)
{
    showPage();
    choose("deviceList", "Quillon virtual bench");
    EXPECT_EQ(settings().waveInDevice, 1);
    EXPECT_EQ(list("formatList")->count(), kWaveFormatCount);
    EXPECT_EQ(list("formatList")->currentText(), "44.1 kHz, mono, 16-bit");
    EXPECT_EQ(settings().waveInFormat, 8);
}

TEST_F(SetupSoundSource, UnsetDeviceSelectsNothing)
{
    store(keys::WaveInDeviceName, "Another Card"); // the device check unsets the device
    showPage();
    EXPECT_EQ(list("deviceList")->currentIndex(), -1);
    EXPECT_EQ(list("formatList")->count(), 0);
    EXPECT_TRUE(m_card.opens.empty());
}

// ---- Capture settings -------------------------------------------------------------------

using SetupCaptureSettings = SetupPageTest;

TEST_F(SetupCaptureSettings, CaptureTimeStartsAtOneSecondAndSetsMilliseconds)
{
    showPage();
    EXPECT_EQ(list("fftSizeList")->currentText(), "8192");
    EXPECT_EQ(entries(list("captureTimeList")),
              (QStringList{"10 seconds", "1 second", "100 msec"}));
    EXPECT_EQ(list("captureTimeList")->currentText(), "1 second");
    choose("captureTimeList", "100 msec");
    EXPECT_EQ(settings().captureTimeMs, 100u);
    choose("captureTimeList", "10 seconds");
    EXPECT_EQ(settings().captureTimeMs, 10000u);
    choose("captureTimeList", "1 second");
    EXPECT_EQ(settings().captureTimeMs, 1000u);
}

TEST_F(SetupCaptureSettings, FftSizeNotInListShowsFirstEntryAndKeepsField)
{
    store(keys::FFTBlockSize, 3000);
    showPage();
    EXPECT_EQ(entries(list("fftSizeList")),
              (QStringList{"1024", "2048", "4096", "8192", "16384", "32768"}));
    EXPECT_EQ(list("fftSizeList")->currentText(), "1024");
    EXPECT_EQ(settings().fftBlockSize, 3000);
    choose("fftSizeList", "32768");
    EXPECT_EQ(settings().fftBlockSize, 32768);
}

// ---- Automation -------------------------------------------------------------------------

using SetupAutomation = SetupPageTest;

TEST_F(SetupAutomation, SerialPortPutsTheDutOnTheOtherLineInADisabledList)
{
    store(keys::AutomationDeviceName, "/dev/ttyUSB0");
    store(keys::AutomateNoiseSelection, 0);
    store(keys::AutomateDeviceSelection, 0);
    showPage();
    EXPECT_TRUE(settings().automationPresent);
    EXPECT_EQ(entries(list("noiseLineList")), kSerialLines);
    EXPECT_EQ(entries(list("dutLineList")), kSerialLines);
    EXPECT_EQ(list("noiseLineList")->currentText(), "RTS");
    EXPECT_EQ(list("dutLineList")->currentText(), "DTR");
    EXPECT_EQ(settings().automateDeviceSelection, 1);
    EXPECT_FALSE(list("dutLineList")->isEnabled());
    EXPECT_TRUE(list("noiseLineList")->isEnabled());

    choose("noiseLineList", "DTR");
    EXPECT_EQ(settings().automateNoiseSelection, 1);
    EXPECT_EQ(settings().automateDeviceSelection, 0);
    EXPECT_EQ(list("dutLineList")->currentText(), "RTS");

    // A choice in the DUT list counts only for USB.
    list("dutLineList")->setCurrentIndex(1);
    emit list("dutLineList")->activated(1);
    EXPECT_EQ(settings().automateDeviceSelection, 0);
}

TEST_F(SetupAutomation, StoredSerialNoiseOnDtrShowsDutOnRts)
{
    // 5 is left from a USB set-up: the switch drives DTR for any selection but 0.
    for (const int noise : {1, 5}) {
        store(keys::AutomationDeviceName, "/dev/ttyUSB0");
        store(keys::AutomateNoiseSelection, noise);
        store(keys::AutomateDeviceSelection, 1);
        showPage();
        EXPECT_EQ(list("noiseLineList")->currentText(), "DTR") << noise;
        EXPECT_EQ(settings().automateNoiseSelection, 1) << noise;
        EXPECT_EQ(list("dutLineList")->currentText(), "RTS") << noise;
        EXPECT_EQ(settings().automateDeviceSelection, 0) << noise;
    }
}

TEST_F(SetupAutomation, UsbOffersEightDataBitsInBothEnabledLists)
{
    store(keys::AutomationDeviceName, "USB");
    store(keys::AutomateNoiseSelection, 2);
    store(keys::AutomateDeviceSelection, 5);
    showPage();
    EXPECT_EQ(entries(list("noiseLineList")), kUsbLines);
    EXPECT_EQ(entries(list("dutLineList")), kUsbLines);
    EXPECT_TRUE(list("dutLineList")->isEnabled());
    EXPECT_EQ(list("noiseLineList")->currentText(), "D2");
    EXPECT_EQ(list("dutLineList")->currentText(), "D5");
    EXPECT_EQ(settings().automateDeviceSelection, 5);

    // The same bit may serve both.
    choose("noiseLineList", "D7");
    choose("dutLineList", "D7");
    EXPECT_EQ(settings().automateNoiseSelection, 7);
    EXPECT_EQ(settings().automateDeviceSelection, 7);
    EXPECT_EQ(list("dutLineList")->currentText(), "D7");
}

TEST_F(SetupAutomation, ParallelPortAndBenchHaveEmptyListsWithTheDutListEnabled)
{
    store(keys::AutomationDeviceName, "/dev/parport0");
    store(keys::AutomateDeviceSelection, 4);
    showPage();
    EXPECT_TRUE(settings().automationPresent);
    EXPECT_EQ(list("noiseLineList")->count(), 0);
    EXPECT_EQ(list("dutLineList")->count(), 0);
    EXPECT_TRUE(list("dutLineList")->isEnabled());
    EXPECT_EQ(settings().automateDeviceSelection, 0);

    choose("portList", "Virtual bench");
    EXPECT_EQ(settings().automationDeviceName, "Virtual bench");
    EXPECT_TRUE(settings().automationPresent);
    EXPECT_EQ(list("noiseLineList")->count(), 0);
    EXPECT_EQ(list("dutLineList")->count(), 0);
    EXPECT_TRUE(list("dutLineList")->isEnabled());
}

TEST_F(SetupAutomation, ChoosingPortsRebuildsTheLineLists)
{
    showPage();
    EXPECT_EQ(entries(list("portList")),
              (QStringList{"None", "/dev/ttyUSB0", "/dev/parport0", "USB", "Virtual bench"}));
    EXPECT_EQ(list("portList")->currentText(), "None");
    EXPECT_EQ(list("noiseLineList")->count(), 0);

    choose("portList", "USB");
    EXPECT_EQ(settings().automationDeviceName, "USB");
    EXPECT_EQ(entries(list("dutLineList")), kUsbLines);
    choose("dutLineList", "D3");

    choose("portList", "/dev/ttyUSB0");
    EXPECT_EQ(entries(list("dutLineList")), kSerialLines);
    EXPECT_FALSE(list("dutLineList")->isEnabled());
    EXPECT_EQ(settings().automateDeviceSelection, 1);

    choose("portList", "None");
    EXPECT_EQ(settings().automationDeviceName, "None");
    EXPECT_FALSE(settings().automationPresent);
    EXPECT_TRUE(list("dutLineList")->isEnabled());
    EXPECT_EQ(list("dutLineList")->count(), 0);
}

TEST_F(SetupAutomation, StoredPortThatIsGoneBecomesNone)
{
    for (const char *gone : {"/dev/ttyUSB3", "COM3", "usb"}) {
        store(keys::AutomationDeviceName, gone);
        showPage();
        EXPECT_EQ(list("portList")->currentText(), "None") << gone;
        EXPECT_EQ(settings().automationDeviceName, "None") << gone;
        EXPECT_FALSE(settings().automationPresent) << gone;
    }
}

class SetupProbeAfterSwitching : public SetupPageTest
{
protected:
    void beforeShow() override
    {
        settings().automationDeviceName = "/dev/ttyUSB0";
        m_engine->switches().setSwitches(true, false);
        ASSERT_TRUE(m_engine->switches().isPortOpen());
    }
};

TEST_F(SetupProbeAfterSwitching, SwitchPortIsClosedForTheProbeAndOnDeviceChange)
{
    showPage({"/dev/ttyUSB0"});
    EXPECT_EQ(m_probes, 1);
    EXPECT_FALSE(m_portOpenAtProbe);
    EXPECT_FALSE(m_lines->isOpen);
    EXPECT_EQ(list("portList")->currentText(), "/dev/ttyUSB0");

    m_engine->switches().setSwitches(true, false);
    ASSERT_TRUE(m_lines->isOpen);
    choose("deviceList", "Quillon virtual bench");
    EXPECT_FALSE(m_engine->switches().isPortOpen());
    EXPECT_FALSE(m_lines->isOpen);
}

// ---- Log and ENR files ------------------------------------------------------------------

using SetupFiles = SetupPageTest;

struct EnrFailure
{
    const char *name;
    const char *file;    // written to the temporary folder; nullptr: no file
    const char *content; // its bytes
    const char *message; // the box's exact text
};

class SetupEnrFailures : public SetupPageTest, public ::testing::WithParamInterface<EnrFailure>
{
};

TEST_P(SetupEnrFailures, TickingShowsTheReadersMessageAndLeavesTheBoxUnticked)
{
    const EnrFailure &c = GetParam();
    if (c.file != nullptr)
        store(keys::EnrCalibrationFile,
              std::string(c.content != nullptr ? writeFile(c.file, c.content).toStdString()
                                               : (folder() + "/" + c.file).toStdString()));
    showPage();
    MessageBoxCatcher boxes;
    click("useEnrFile");
    EXPECT_EQ(boxes.texts, QStringList{QLatin1String(c.message)});
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
    EXPECT_EQ(boxes.buttons, QList<qsizetype>{1});
    EXPECT_FALSE(box("useEnrFile")->isChecked());
    EXPECT_FALSE(settings().useEnrFile);
    EXPECT_EQ(m_engine->enrTable().count, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SetupEnrFailures,
    ::testing::Values(
        EnrFailure{"NoPath", nullptr, nullptr, "You must specify a valid ENR calibration file."},
        EnrFailure{"Missing", "missing.dat", nullptr,
                   "The specified calibration file cannot be opened."},
        EnrFailure{"CommentsOnly", "empty.dat", "; no rows\n# none\n",
                   "The Calibration file appears to contain no valid data!"},
        EnrFailure{"EnrOutOfRange", "range.dat", "100,15.2\n200,75\n",
                   "One or more lines in the calibration file has an ENR value out of range"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SetupFiles, GoodEnrFileIsReadAndAnyPathFocusLossUnticks)
{
    const QString path = writeFile("source.dat", "100,15.2\n1000,14.8\n");
    store(keys::EnrCalibrationFile, path.toStdString());
    showPage();
    EXPECT_EQ(field("enrPath")->text(), path);
    MessageBoxCatcher boxes;
    click("useEnrFile");
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_TRUE(box("useEnrFile")->isChecked());
    EXPECT_TRUE(settings().useEnrFile);
    EXPECT_EQ(m_engine->enrTable().count, 2);

    // Tabbing through the field without typing.
    leave("enrPath");
    EXPECT_FALSE(box("useEnrFile")->isChecked());
    EXPECT_FALSE(settings().useEnrFile);
    EXPECT_EQ(settings().enrCalibrationFile, path.toStdString());

    // Typed with blanks around it: stored and shown trimmed.
    field("enrPath")->setText("  /data/other.dat \t");
    leave("enrPath");
    EXPECT_EQ(settings().enrCalibrationFile, "/data/other.dat");
    EXPECT_EQ(field("enrPath")->text(), "/data/other.dat");
}

TEST_F(SetupFiles, StoredEnrUseIsShownTicked)
{
    store(keys::EnrCalibrationFile, writeFile("source.dat", "100,15.2\n").toStdString());
    store(keys::UseEnrFile, 1);
    showPage();
    EXPECT_TRUE(box("useEnrFile")->isChecked());
    EXPECT_EQ(m_engine->enrTable().count, 1);
}

TEST_F(SetupFiles, LogMeasurementsRefusesAnEmptyPathWithoutAMessage)
{
    showPage();
    EXPECT_FALSE(box("logMeasurements")->isChecked());
    MessageBoxCatcher boxes;
    click("logMeasurements");
    EXPECT_FALSE(box("logMeasurements")->isChecked());
    EXPECT_FALSE(settings().logMeasurements);

    // Longer than the old 259-character limit: kept whole.
    const QString longPath = "/" + QString(300, QLatin1Char('p')) + "/x.log";
    field("logPath")->setText(longPath);
    leave("logPath");
    EXPECT_EQ(settings().logResultsFile, longPath.toStdString());

    field("logPath")->setText(" /tmp/readings.log ");
    leave("logPath");
    EXPECT_EQ(settings().logResultsFile, "/tmp/readings.log");
    EXPECT_EQ(field("logPath")->text(), "/tmp/readings.log");
    click("logMeasurements");
    EXPECT_TRUE(box("logMeasurements")->isChecked());
    EXPECT_TRUE(settings().logMeasurements);

    // Another path leaves logging on; an emptied one ends it.
    field("logPath")->setText("/tmp/other.log");
    leave("logPath");
    EXPECT_TRUE(settings().logMeasurements);
    field("logPath")->setText("   ");
    leave("logPath");
    EXPECT_EQ(settings().logResultsFile, "");
    EXPECT_FALSE(settings().logMeasurements);
    EXPECT_FALSE(box("logMeasurements")->isChecked());
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(SetupFiles, EnrBrowseReadsThePageAsksForAnExistingDatFileAndUnticks)
{
    const QString first = writeFile("first.dat", "100,15.2\n");
    store(keys::EnrCalibrationFile, first.toStdString());
    store(keys::UseEnrFile, 1);
    showPage();

    // Cancelled: nothing changes.
    click("enrBrowse");
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].nameFilters,
              (QStringList{"ENR Data File (*.dat)", "Any File Extension (*)"}));
    EXPECT_EQ(m_requests[0].defaultSuffix, "dat");
    EXPECT_TRUE(settings().useEnrFile);
    EXPECT_EQ(field("enrPath")->text(), first);

    // The page was read before the dialog: the shown format replaced the missing one.
    EXPECT_EQ(m_formatAtDialog, 0);

    m_dialogAnswer = writeFile("second.dat", "200,14.0\n");
    click("enrBrowse");
    EXPECT_EQ(settings().enrCalibrationFile, m_dialogAnswer.toStdString());
    EXPECT_EQ(field("enrPath")->text(), m_dialogAnswer);
    EXPECT_FALSE(settings().useEnrFile);
    EXPECT_FALSE(box("useEnrFile")->isChecked());
    EXPECT_EQ(list("formatList")->currentIndex(), 0);
}

TEST_F(SetupFiles, LogBrowseSetsThePathAndLeavesLoggingAsItWas)
{
    store(keys::LogResultsFile, "/tmp/old.log");
    showPage();
    click("logMeasurements");
    ASSERT_TRUE(settings().logMeasurements);

    m_dialogAnswer = writeFile("readings.log", "");
    click("logBrowse");
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].nameFilters,
              (QStringList{"Log File (*.log)", "Any File Extension (*)"}));
    EXPECT_EQ(m_requests[0].defaultSuffix, "log");
    EXPECT_EQ(settings().logResultsFile, m_dialogAnswer.toStdString());
    EXPECT_EQ(field("logPath")->text(), m_dialogAnswer);
    EXPECT_TRUE(settings().logMeasurements);
    EXPECT_TRUE(box("logMeasurements")->isChecked());
}

TEST_F(SetupFiles, DefaultDialogOpensExistingFilesOnly)
{
    for (const FileDialogRequest &request : {setup::enrFileRequest(), setup::logFileRequest()}) {
        const std::unique_ptr<QFileDialog> dialog = setup::createFileDialog(request, nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->nameFilters(), request.nameFilters);
        EXPECT_EQ(dialog->defaultSuffix(), request.defaultSuffix);
    }
}

// ---- Save as Default --------------------------------------------------------------------

using SetupSave = SetupPageTest;

TEST_F(SetupSave, WritesTheChosenSetupToTheSettingsFile)
{
    store(keys::UsbDeviceName, "ezusb-3");
    showPage();
    choose("formatList", "11.025 kHz, stereo, 16-bit");
    choose("fftSizeList", "2048");
    choose("portList", "USB");
    choose("noiseLineList", "D2");
    choose("dutLineList", "D5");
    click("highPass");
    field("logPath")->setText("/tmp/q.log");
    leave("logPath");
    choose("captureTimeList", "100 msec");

    MessageBoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(stored("WaveInDevice").toInt(), 0);
    EXPECT_EQ(stored("WaveInFormat").toInt(), 2);
    EXPECT_EQ(stored("WaveInDeviceName").toString(), "Partial Card");
    EXPECT_EQ(stored("FFTBlockSize").toInt(), 2048);
    EXPECT_EQ(stored("AutomationDeviceName").toString(), "USB");
    EXPECT_EQ(stored("AutomateNoiseSelection").toInt(), 2);
    EXPECT_EQ(stored("AutomateDeviceSelection").toInt(), 5);
    EXPECT_EQ(stored("HighPassFilter").toInt(), 1);
    EXPECT_EQ(stored("UseEnrFile").toInt(), 0);
    EXPECT_EQ(stored("LogResultsFile").toString(), "/tmp/q.log");
    EXPECT_EQ(stored("UsbDeviceName").toString(), "ezusb-3");
    EXPECT_FALSE(stored("CaptureTimeMs").isValid());
}

TEST_F(SetupSave, FailedStoreShowsOneMessage)
{
    // Root ignores permission bits: put the store below a regular file.
    const QString blocker = writeFile("blocker", "");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    showPage();
    MessageBoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_EQ(boxes.texts,
              QStringList{"Saving parameters to the registry failed for some reason."});
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
}

// ---- Look -------------------------------------------------------------------------------

TEST_F(SetupPageTest, FitsTheFixedWindow)
{
    showPage();
    const QSize size = m_page->sizeHint();
    EXPECT_LE(size.width(), 620);
    EXPECT_LE(size.height(), 520);
    for (const char *title : {"Sound Source", "Capture Settings", "Log File",
                              "ENR Calibration Configuration File", "Automation", "Filtering"}) {
        bool found = false;
        for (const QGroupBox *group : m_page->findChildren<QGroupBox *>())
            found = found || group->title() == QLatin1String(title);
        EXPECT_TRUE(found) << title;
    }
}

} // namespace
} // namespace quillon
