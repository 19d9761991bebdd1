// Setup page: list contents and selection rules, the handlers' effects on Settings, the
// message boxes, the file dialogs and "Save as Default" against a real settings file.
// The port list is always injected: the real probe would open the machine's console.
#include "app/SetupPage.h"
#include "PageTestSupport.h"
#include "app/QuillonEngine.h"
#include "app/SettingsStore.h"
#include "support/FakeDevices.h"
#include "switch/SerialLines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLineEdit>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

// Accepts every port it is asked to open; records whether one is open.
struct FakeLines : SerialLineDriver
{
    bool open(const std::string &) override { return isOpen = true; }
    bool setLine(ModemLine, bool) override { return true; }
    void close() override { isOpen = false; }
    bool isOpen = false;
};

// The four-format device: reports the 16-bit formats at 11.025 and 22.05 kHz and opens for
// exactly the (rate, bits, channels) in `accepted`, so the page's 24-bit trial opens are
// real opens through the capture engine.
class PartialFormatCard : public test::NamedDevices
{
public:
    PartialFormatCard()
        : NamedDevices({{"Partial Card", kFormat1M16 | kFormat1S16 | kFormat2M16 | kFormat2S16}})
    {
    }
    using Format = std::tuple<std::uint32_t, int, int>;
    std::vector<Format> accepted{{11025, 16, 1}, {11025, 16, 2}, {22050, 16, 1}, {22050, 16, 2}};
    std::vector<Format> opens; // every open tried, in order
    int closes = 0;

    int open(int, const CaptureFormat &f, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        opens.emplace_back(f.samplesPerSec, f.bitsPerSample, f.channels);
        if (std::find(accepted.begin(), accepted.end(), opens.back()) == accepted.end())
            return kCaptureBadFormat;
        stream = std::make_unique<IdleStream>(queue, closes);
        return kCaptureOk;
    }

private:
    struct IdleStream : InputStream
    {
        IdleStream(BlockQueue &queue, int &closes) : InputStream(queue), closes(closes) {}
        int start() override { return kCaptureOk; }
        void reset() override {}
        void close() override { ++closes; }
        int &closes;
    };
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
const std::vector<std::string> kPorts{"/dev/ttyUSB0", "/dev/parport0", "USB", "Virtual bench"};

class SetupPageTest : public test::PageTest
{
protected:
    // The stored set-up the page loads: the partial card, format 8 (44.1 kHz mono 16-bit).
    void SetUp() override
    {
        PageTest::SetUp();
        store(keys::WaveInDevice, 0);
        store(keys::WaveInDeviceName, "Partial Card");
        store(keys::WaveInFormat, 8);
    }

    template <typename Key, typename V> void store(const Key &key, const V &v)
    {
        SettingsStore().write(key, v);
    }

    // Creates the page over the partial card (device 0), `extra` devices and the virtual
    // bench last; `beforeShow` runs on the engine before the first activation.
    void showPage(std::vector<std::string> ports = kPorts, std::vector<AudioBackend *> extra = {},
                  const std::function<void()> &beforeShow = {})
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
        m_store = std::make_unique<SettingsStore>(); // after the test has set the store's path
        m_page = std::make_unique<setup>(*m_engine, *m_store);
        m_page->setPortProbe([this, ports] {
            m_portOpenAtProbe = m_engine->switches().isPortOpen();
            return ports;
        });
        m_page->setFileDialog([this](const FileDialogRequest &request) {
            m_requests.push_back(request);
            m_formatAtDialog = settings().waveInFormat;
            return m_dialogAnswer;
        });
        if (beforeShow)
            beforeShow();
        m_page->activate();
    }

    Settings &settings() { return m_engine->settings(); }
    QComboBox *list(const char *name) { return child<QComboBox>(m_page.get(), name); }
    QCheckBox *box(const char *name) { return child<QCheckBox>(m_page.get(), name); }
    QLineEdit *field(const char *name) { return child<QLineEdit>(m_page.get(), name); }
    void click(const char *name) { child<QAbstractButton>(m_page.get(), name)->click(); }

    // The user picks the entry showing `text`.
    void choose(const char *listName, const QString &text)
    {
        QComboBox *l = list(listName);
        const int index = l->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        l->setCurrentIndex(index);
        emit l->activated(index);
    }
    // The user types `text` into a path field and leaves it.
    void type(const char *fieldName, const QString &text)
    {
        field(fieldName)->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(field(fieldName), &out);
    }

    QString writeFile(const char *name, const QByteArray &content)
    {
        QFile file(folder() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }

    PartialFormatCard m_card;
    FakeLines *m_lines = nullptr;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<setup> m_page;
    bool m_portOpenAtProbe = true;
    std::vector<FileDialogRequest> m_requests;
    QString m_dialogAnswer;
    int m_formatAtDialog = -2;
};

// ---- Sound source -----------------------------------------------------------------------

TEST_F(SetupPageTest, DevicesInOrderUnreadableCapsAsUnknownBenchLastWithAllFormats)
{
    test::NamedDevices mute({{"Mute Card", 0, false}});
    showPage({}, {&mute});
    EXPECT_EQ(entries(list("deviceList")),
              (QStringList{"Partial Card", "Unknown Device", "Quillon virtual bench"}));
    EXPECT_LE(m_page->sizeHint().width(), 620); // fits the fixed window
    EXPECT_LE(m_page->sizeHint().height(), 520);

    // The unreadable device has no formats; leaving keeps the stored format.
    choose("deviceList", "Unknown Device");
    EXPECT_EQ(settings().waveInDevice, 1);
    EXPECT_EQ(list("formatList")->count(), 0);
    m_page->OnKillActive();
    EXPECT_EQ(settings().waveInFormat, 8);
    EXPECT_EQ(settings().sampleRate, 44100);

    choose("deviceList", "Quillon virtual bench");
    EXPECT_EQ(settings().waveInDevice, 2);
    EXPECT_EQ(list("formatList")->count(), kWaveFormatCount);
    EXPECT_EQ(list("formatList")->currentText(), "44.1 kHz, mono, 16-bit");
}

TEST_F(SetupPageTest, FourFormatDeviceListsExactlyItsFormatsByTableIndex)
{
    showPage();
    EXPECT_EQ(entries(list("formatList")),
              (QStringList{"11.025 kHz, mono, 16-bit", "11.025 kHz, stereo, 16-bit",
                           "22.05 kHz, mono, 16-bit", "22.05 kHz, stereo, 16-bit"}));
    // Every 24-bit row was tried by a real open with that row's format, and refused.
    std::vector<PartialFormatCard::Format> trials;
    for (const auto &row : WaveFormatTable)
        if (row.bitsPerSample == 24)
            trials.emplace_back(row.sampleRate, 24, row.stereo ? 2 : 1);
    EXPECT_EQ(m_card.opens, trials);
    // The stored row is not offered: the first entry is shown, the record is kept...
    EXPECT_EQ(list("formatList")->currentIndex(), 0);
    EXPECT_EQ(settings().waveInFormat, 8);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 44100);
    // ...until the page is left: then the shown entry is taken, with its fields.
    m_page->OnKillActive();
    EXPECT_EQ(settings().waveInFormat, 0);
    EXPECT_EQ(settings().sampleRate, 11025);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 11025);

    choose("formatList", "22.05 kHz, stereo, 16-bit");
    EXPECT_EQ(settings().waveInFormat, 6);
    EXPECT_EQ(settings().sampleRate, 22050);
    EXPECT_TRUE(settings().stereo);
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 22050);
    settings().waveInFormat = 2; // shown again: the list follows the record
    m_page->OnSetActive();
    EXPECT_EQ(list("formatList")->currentText(), "11.025 kHz, stereo, 16-bit");
}

TEST_F(SetupPageTest, Accepted24BitTrialIsListedAndClosedAndFieldsReturnToTheStoredRow)
{
    m_card.accepted.emplace_back(48000, 24, 1);
    store(keys::WaveInFormat, 2);
    showPage();
    EXPECT_EQ(list("formatList")->count(), 5);
    EXPECT_EQ(m_card.closes, 1);
    // The last trial was 96 kHz stereo 24-bit; the record is back on row 2.
    EXPECT_EQ(list("formatList")->currentText(), "11.025 kHz, stereo, 16-bit");
    EXPECT_EQ(settings().sampleRate, 11025);
    EXPECT_EQ(settings().bitsPerSample, 16u);
    EXPECT_TRUE(settings().stereo);

    choose("formatList", "48 kHz, mono, 24-bit");
    EXPECT_EQ(settings().waveInFormat, 13);
    EXPECT_EQ(settings().bitsPerSample, 24u);
}

TEST_F(SetupPageTest, InvalidStoredFormatBecomesTheFirstRowAndAnUnsetDeviceSelectsNothing)
{
    store(keys::WaveInFormat, 20); // loads as -1
    showPage();
    EXPECT_EQ(settings().waveInFormat, 0);
    EXPECT_EQ(settings().sampleRate, 11025);

    store(keys::WaveInDeviceName, "Another Card"); // the device check unsets the device
    m_card.opens.clear();
    showPage();
    EXPECT_EQ(list("deviceList")->currentIndex(), -1);
    EXPECT_EQ(list("formatList")->count(), 0);
    EXPECT_TRUE(m_card.opens.empty());
}

TEST_F(SetupPageTest, CaptureTimeAndFftSizeLists)
{
    store(keys::FFTBlockSize, 3000);
    showPage();
    EXPECT_EQ(entries(list("captureTimeList")),
              (QStringList{"10 seconds", "1 second", "100 msec"}));
    EXPECT_EQ(list("captureTimeList")->currentText(), "1 second");
    for (const auto &[text, ms] :
         {std::pair{"100 msec", 100u}, {"10 seconds", 10000u}, {"1 second", 1000u}}) {
        choose("captureTimeList", text);
        EXPECT_EQ(settings().captureTimeMs, ms) << text;
    }
    // A size not in the list: the first entry is shown and the field kept.
    EXPECT_EQ(entries(list("fftSizeList")),
              (QStringList{"1024", "2048", "4096", "8192", "16384", "32768"}));
    EXPECT_EQ(list("fftSizeList")->currentText(), "1024");
    EXPECT_EQ(settings().fftBlockSize, 3000);
    choose("fftSizeList", "32768");
    EXPECT_EQ(settings().fftBlockSize, 32768);
}

// ---- Automation -------------------------------------------------------------------------

struct StoredPort
{
    const char *port;
    int noise, dut; // stored line selections
    QStringList lines;
    const char *noiseShown, *dutShown;
    int noiseAfter, dutAfter; // the selections after loading
    bool dutEnabled;
};

class SetupStoredPort : public SetupPageTest, public ::testing::WithParamInterface<StoredPort>
{
};

TEST_P(SetupStoredPort, ListsAndSelectionsFollowThePortKind)
{
    const StoredPort &c = GetParam();
    store(keys::AutomationDeviceName, c.port);
    store(keys::AutomateNoiseSelection, c.noise);
    store(keys::AutomateDeviceSelection, c.dut);
    showPage();
    EXPECT_TRUE(settings().automationPresent);
    EXPECT_EQ(list("portList")->currentText(), c.port);
    EXPECT_EQ(entries(list("noiseLineList")), c.lines);
    EXPECT_EQ(entries(list("dutLineList")), c.lines);
    EXPECT_EQ(list("noiseLineList")->currentText(), c.noiseShown);
    EXPECT_EQ(list("dutLineList")->currentText(), c.dutShown);
    EXPECT_EQ(settings().automateNoiseSelection, c.noiseAfter);
    EXPECT_EQ(settings().automateDeviceSelection, c.dutAfter);
    EXPECT_EQ(list("dutLineList")->isEnabled(), c.dutEnabled);
}

// Serial: the DUT is always the other line; 5 is left from a USB set-up and drives DTR.
INSTANTIATE_TEST_SUITE_P(
    Ports, SetupStoredPort,
    ::testing::Values(StoredPort{"/dev/ttyUSB0", 0, 0, kSerialLines, "RTS", "DTR", 0, 1, false},
                      StoredPort{"/dev/ttyUSB0", 1, 1, kSerialLines, "DTR", "RTS", 1, 0, false},
                      StoredPort{"/dev/ttyUSB0", 5, 1, kSerialLines, "DTR", "RTS", 1, 0, false},
                      StoredPort{"USB", 2, 5, kUsbLines, "D2", "D5", 2, 5, true},
                      StoredPort{"/dev/parport0", 0, 4, {}, "", "", 0, 0, true},
                      StoredPort{"Virtual bench", 0, 0, {}, "", "", 0, 0, true}));

TEST_F(SetupPageTest, ChoosingPortsAndLinesRebuildsTheLists)
{
    showPage();
    EXPECT_EQ(entries(list("portList")),
              (QStringList{"None", "/dev/ttyUSB0", "/dev/parport0", "USB", "Virtual bench"}));
    EXPECT_EQ(list("portList")->currentText(), "None");

    choose("portList", "USB");
    EXPECT_EQ(settings().automationDeviceName, "USB");
    EXPECT_EQ(entries(list("dutLineList")), kUsbLines);
    choose("noiseLineList", "D7"); // the same bit may serve both
    choose("dutLineList", "D7");
    EXPECT_EQ(settings().automateNoiseSelection, 7);
    EXPECT_EQ(settings().automateDeviceSelection, 7);

    choose("portList", "/dev/ttyUSB0");
    EXPECT_FALSE(list("dutLineList")->isEnabled());
    choose("noiseLineList", "RTS");
    EXPECT_EQ(settings().automateDeviceSelection, 1);
    choose("noiseLineList", "DTR");
    EXPECT_EQ(settings().automateNoiseSelection, 1);
    EXPECT_EQ(settings().automateDeviceSelection, 0);
    EXPECT_EQ(list("dutLineList")->currentText(), "RTS");
    list("dutLineList")->setCurrentIndex(1); // a DUT choice counts only for USB
    emit list("dutLineList")->activated(1);
    EXPECT_EQ(settings().automateDeviceSelection, 0);

    choose("portList", "None");
    EXPECT_FALSE(settings().automationPresent);
    EXPECT_EQ(list("dutLineList")->count(), 0);
    EXPECT_TRUE(list("dutLineList")->isEnabled());
}

TEST_F(SetupPageTest, StoredPortThatIsGoneBecomesNone)
{
    for (const char *gone : {"/dev/ttyUSB3", "COM3", "usb"}) {
        store(keys::AutomationDeviceName, gone);
        showPage();
        EXPECT_EQ(list("portList")->currentText(), "None") << gone;
        EXPECT_EQ(settings().automationDeviceName, "None") << gone;
        EXPECT_FALSE(settings().automationPresent) << gone;
    }
}

// The port is held exclusively: it must be closed for the probe and on a device change.
TEST_F(SetupPageTest, SwitchPortIsClosedForTheProbeAndOnDeviceChange)
{
    showPage({"/dev/ttyUSB0"}, {}, [this] {
        settings().automationDeviceName = "/dev/ttyUSB0";
        m_engine->switches().setSwitches(true, false);
        ASSERT_TRUE(m_lines->isOpen);
    });
    EXPECT_FALSE(m_portOpenAtProbe);
    EXPECT_FALSE(m_lines->isOpen);
    EXPECT_EQ(list("portList")->currentText(), "/dev/ttyUSB0");

    m_engine->switches().setSwitches(true, false);
    ASSERT_TRUE(m_lines->isOpen);
    choose("deviceList", "Quillon virtual bench");
    EXPECT_FALSE(m_lines->isOpen);
}

// ---- Log and ENR files ------------------------------------------------------------------

struct EnrFailure
{
    const char *name;
    const char *file;    // in the temporary folder; nullptr: no path stored
    const char *content; // nullptr: the file is not written
    const char *message;
};

class SetupEnrFailures : public SetupPageTest, public ::testing::WithParamInterface<EnrFailure>
{
};

TEST_P(SetupEnrFailures, TickingShowsTheReadersMessageAndLeavesTheBoxUnticked)
{
    const EnrFailure &c = GetParam();
    if (c.file != nullptr)
        store(keys::EnrCalibrationFile,
              (c.content != nullptr ? writeFile(c.file, c.content) : folder() + "/" + c.file)
                  .toStdString());
    showPage();
    test::BoxCatcher boxes;
    click("useEnrFile");
    EXPECT_EQ(boxes.texts, QStringList{c.message});
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
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

TEST_F(SetupPageTest, GoodEnrFileIsReadAndAnyPathEditUnticks)
{
    const QString path = writeFile("source.dat", "100,15.2\n1000,14.8\n");
    store(keys::EnrCalibrationFile, path.toStdString());
    store(keys::UseEnrFile, 1);
    showPage();
    EXPECT_TRUE(box("useEnrFile")->isChecked()); // the stored use is shown
    EXPECT_EQ(m_engine->enrTable().count, 2);

    type("enrPath", path); // tabbing through the field without a change
    EXPECT_FALSE(box("useEnrFile")->isChecked());
    EXPECT_FALSE(settings().useEnrFile);
    test::BoxCatcher boxes;
    click("useEnrFile");
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_TRUE(settings().useEnrFile);

    type("enrPath", "  /data/other.dat \t"); // stored and shown trimmed
    EXPECT_FALSE(settings().useEnrFile);
    EXPECT_EQ(settings().enrCalibrationFile, "/data/other.dat");
    EXPECT_EQ(field("enrPath")->text(), "/data/other.dat");
}

TEST_F(SetupPageTest, LogMeasurementsRefusesAnEmptyPathWithoutAMessage)
{
    showPage();
    test::BoxCatcher boxes;
    click("logMeasurements");
    EXPECT_FALSE(box("logMeasurements")->isChecked());
    EXPECT_FALSE(settings().logMeasurements);

    // Longer than the old 259-character limit: kept whole.
    const QString longPath = "/" + QString(300, QLatin1Char('p')) + "/x.log";
    type("logPath", longPath);
    EXPECT_EQ(settings().logResultsFile, longPath.toStdString());

    type("logPath", " /tmp/readings.log ");
    EXPECT_EQ(field("logPath")->text(), "/tmp/readings.log");
    click("logMeasurements");
    EXPECT_TRUE(settings().logMeasurements);
    type("logPath", "/tmp/other.log"); // another path leaves logging on
    EXPECT_TRUE(settings().logMeasurements);
    type("logPath", "   "); // an emptied one ends it
    EXPECT_EQ(settings().logResultsFile, "");
    EXPECT_FALSE(settings().logMeasurements);
    EXPECT_FALSE(box("logMeasurements")->isChecked());
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(SetupPageTest, BrowseAsksForAnExistingFileEnrUntickedLoggingKept)
{
    const QString first = writeFile("first.dat", "100,15.2\n");
    store(keys::EnrCalibrationFile, first.toStdString());
    store(keys::UseEnrFile, 1);
    store(keys::LogResultsFile, "/tmp/old.log");
    showPage();
    click("logMeasurements");

    click("enrBrowse"); // cancelled: nothing changes
    EXPECT_TRUE(settings().useEnrFile);
    EXPECT_EQ(field("enrPath")->text(), first);
    EXPECT_EQ(m_formatAtDialog, 0); // the page was read before the dialog

    m_dialogAnswer = writeFile("second.dat", "200,14.0\n");
    click("enrBrowse");
    EXPECT_EQ(settings().enrCalibrationFile, m_dialogAnswer.toStdString());
    EXPECT_EQ(field("enrPath")->text(), m_dialogAnswer);
    EXPECT_FALSE(settings().useEnrFile);
    EXPECT_FALSE(box("useEnrFile")->isChecked());

    m_dialogAnswer = writeFile("readings.log", "");
    click("logBrowse");
    EXPECT_EQ(settings().logResultsFile, m_dialogAnswer.toStdString());
    EXPECT_EQ(field("logPath")->text(), m_dialogAnswer);
    EXPECT_TRUE(settings().logMeasurements);

    ASSERT_EQ(m_requests.size(), 3u);
    EXPECT_EQ(m_requests[0].nameFilters,
              (QStringList{"ENR Data File (*.dat)", "Any File Extension (*)"}));
    EXPECT_EQ(m_requests[0].defaultSuffix, "dat");
    EXPECT_EQ(m_requests[2].nameFilters,
              (QStringList{"Log File (*.log)", "Any File Extension (*)"}));
    EXPECT_EQ(m_requests[2].defaultSuffix, "log");
#ifndef __SANITIZE_THREAD__ // the real dialog's file-info thread syncs in a way TSan cannot see
    for (const FileDialogRequest &request : m_requests) {
        const std::unique_ptr<QFileDialog> dialog = setup::createFileDialog(request, nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->nameFilters(), request.nameFilters);
        EXPECT_EQ(dialog->defaultSuffix(), request.defaultSuffix);
    }
#endif
}

// ---- Save as Default --------------------------------------------------------------------

TEST_F(SetupPageTest, SaveAsDefaultWritesTheChosenSetupToTheSettingsFile)
{
    store(keys::UsbDeviceName, "ezusb-3");
    showPage();
    choose("formatList", "11.025 kHz, stereo, 16-bit");
    choose("fftSizeList", "2048");
    choose("portList", "USB");
    choose("noiseLineList", "D2");
    choose("dutLineList", "D5");
    click("highPass");
    type("logPath", "/tmp/q.log");
    choose("captureTimeList", "100 msec");

    test::BoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_TRUE(boxes.texts.isEmpty());
    QSettings file(storeFile(), QSettings::IniFormat);
    file.beginGroup("Setup");
    for (const auto &[key, value] : {std::pair{"WaveInDevice", "0"},
                                     {"WaveInFormat", "2"},
                                     {"WaveInDeviceName", "Partial Card"},
                                     {"FFTBlockSize", "2048"},
                                     {"AutomationDeviceName", "USB"},
                                     {"AutomateNoiseSelection", "2"},
                                     {"AutomateDeviceSelection", "5"},
                                     {"HighPassFilter", "1"},
                                     {"UseEnrFile", "0"},
                                     {"LogResultsFile", "/tmp/q.log"},
                                     {"UsbDeviceName", "ezusb-3"}})
        EXPECT_EQ(file.value(key).toString(), value) << key;
    EXPECT_FALSE(file.contains("CaptureTimeMs"));
}

TEST_F(SetupPageTest, FailedSaveShowsOneMessage)
{
    // Root ignores permission bits: put the store below a regular file.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, writeFile("blocker", ""));
    showPage();
    test::BoxCatcher boxes;
    click("saveAsDefault");
    EXPECT_EQ(boxes.texts,
              QStringList{"Saving parameters to the registry failed for some reason."});
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
}

} // namespace
} // namespace quillon
