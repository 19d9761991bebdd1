// Setup page tests. The port list is always injected: the real probe would open the console.
#include "ui/pages/SetupPage.h"
#include "PageTestSupport.h"
#include "measure/QuillonEngine.h"
#include "core/SettingsStore.h"
#include "support/FakeDevices.h"
#include "switch/SerialLines.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>

#include <algorithm>
#include <tuple>

namespace quillon {
namespace {

struct FakeLines : SerialLineDriver
{
    bool open(const std::string &) override { return true; }
    bool setLine(ModemLine, bool) override { return true; }
    void close() override {}
};

struct IdleStream : InputStream
{
    IdleStream(BlockQueue &queue, int &closes) : InputStream(queue), closes(closes) {}
    int start() override { return kCaptureOk; }
    void reset() override {}
    void close() override { ++closes; }
    int &closes;
};

// The four-format device: reports the 16-bit formats at 11.025 and 22.05 kHz and opens for
// exactly the (rate, bits, channels) in `accepted`; then a device with unreadable caps.
struct PartialFormatCard : test::NamedDevices
{
    PartialFormatCard()
        : NamedDevices({{"Partial Card", kFormat1M16 | kFormat1S16 | kFormat2M16 | kFormat2S16},
                        {"Mute Card", 0, false}})
    {
    }
    int open(int, const CaptureFormat &f, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override
    {
        opens.emplace_back(f.samplesPerSec, f.bitsPerSample, f.channels);
        if (std::find(accepted.begin(), accepted.end(), opens.back()) == accepted.end())
            return kCaptureBadFormat;
        stream = std::make_unique<IdleStream>(queue, closes);
        return kCaptureOk;
    }
    using Format = std::tuple<std::uint32_t, int, int>;
    std::vector<Format> accepted{{11025, 16, 1}, {11025, 16, 2}, {22050, 16, 1}, {22050, 16, 2}};
    std::vector<Format> opens; // every open tried, in order
    int closes = 0;
};

const std::vector<std::string> kPorts{"/dev/ttyUSB0", "/dev/parport0", "USB", "Virtual bench"};

QString entries(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts.join(" | ");
}

class SetupPageTest : public test::PageTest
{
protected:
    void SetUp() override // stored: the partial card with the default format 8 (44.1 kHz mono)
    {
        PageTest::SetUp();
        SettingsStore().write(keys::WaveInDeviceName, "Partial Card");
    }

    // A new engine and page; `before` runs on the engine before the first activation.
    void showPage(const std::function<void()> &before = {})
    {
        m_page.reset();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_card};
        options.serialLines = std::make_unique<FakeLines>();
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
        m_store = std::make_unique<SettingsStore>(); // after the test has set the store's path
        m_engine->loadSettings(*m_store);
        m_page = std::make_unique<SetupPage>(*m_engine, *m_store);
        m_page->setPortProbe([this] {
            m_portOpenAtProbe = m_engine->switches().isPortOpen();
            return kPorts;
        });
        m_page->setFileDialog([this](const FileDialogRequest &request) {
            m_requests.push_back(request);
            m_formatAtDialog = settings().waveInFormat;
            return m_dialogAnswer;
        });
        if (before)
            before();
        m_page->activate();
    }

    Settings &settings() { return m_engine->settings(); }
    QComboBox *list(const char *name) { return child<QComboBox>(m_page.get(), name); }
    QLineEdit *field(const char *name) { return child<QLineEdit>(m_page.get(), name); }
    void click(const char *name) { child<QAbstractButton>(m_page.get(), name)->click(); }
    void choose(const char *listName, const QString &text) // as the user picks an entry
    {
        list(listName)->setCurrentIndex(list(listName)->findText(text));
        emit list(listName)->activated(list(listName)->currentIndex());
    }
    void type(const char *fieldName, const QString &text) // types into a field and leaves it
    {
        field(fieldName)->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(field(fieldName), &out);
    }
    QString format() // "<shown entry> = row <record's row>, <its fields>"
    {
        const Settings &s = settings();
        return QString::asprintf("%s = row %d, %d Hz, %u-bit%s",
                                 qPrintable(list("formatList")->currentText()), s.waveInFormat,
                                 s.sampleRate, s.bitsPerSample, s.stereo ? ", stereo" : "");
    }
    QString lines() // "<port>[ (off)]: <lines>, <noise>/<DUT> shown, kept[, fixed DUT|no lines]"
    {
        const Settings &s = settings();
        QComboBox *noise = list("noiseLineList"), *dut = list("dutLineList");
        EXPECT_EQ(list("portList")->currentText().toStdString(), s.switchPortName);
        return QString::asprintf("%s%s: %s, %s/%s, %d/%d%s", s.switchPortName.c_str(),
                                 s.switchPortChosen ? "" : " (off)", qPrintable(entries(noise)),
                                 qPrintable(noise->currentText()), qPrintable(dut->currentText()),
                                 s.noiseSourceLine, s.dutLine,
                                 !noise->isEnabled() && !dut->isEnabled() ? ", no lines"
                                 : dut->isEnabled()                        ? ""
                                                                           : ", fixed DUT");
    }
    QString paths() // both path groups as kept: "<ENR path>, on|off; <log path>, on|off"
    {
        const Settings &s = settings();
        EXPECT_EQ(field("enrPath")->text().toStdString(), s.enrCalibrationFile);
        EXPECT_EQ(field("logPath")->text().toStdString(), s.logResultsFile);
        EXPECT_EQ(child<QCheckBox>(m_page.get(), "useEnrFile")->isChecked(), s.useEnrFile);
        EXPECT_EQ(child<QCheckBox>(m_page.get(), "logMeasurements")->isChecked(),
                  s.logMeasurements);
        return QString::asprintf("%s, %s; %s, %s", s.enrCalibrationFile.c_str(),
                                 s.useEnrFile ? "on" : "off", s.logResultsFile.c_str(),
                                 s.logMeasurements ? "on" : "off");
    }

    PartialFormatCard m_card;
    std::unique_ptr<QuillonEngine> m_engine; // destroyed after the page
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<SetupPage> m_page;
    bool m_portOpenAtProbe = true;
    std::vector<FileDialogRequest> m_requests;
    QString m_dialogAnswer;
    int m_formatAtDialog = -2;
};

TEST_F(SetupPageTest, ListsAndTheFourFormatDevice)
{
    showPage();
    EXPECT_EQ(entries(list("deviceList")), "Partial Card | Unknown Device | Quillon virtual bench");
    EXPECT_EQ(entries(list("captureTimeList")), "10 seconds | 1 second | 100 msec");
    EXPECT_EQ(entries(list("fftSizeList")), "1024 | 2048 | 4096 | 8192 | 16384 | 32768");
    EXPECT_EQ(entries(list("formatList")), "11.025 kHz, mono, 16-bit | 11.025 kHz, stereo, 16-bit "
                                           "| 22.05 kHz, mono, 16-bit | 22.05 kHz, stereo, 16-bit");
    std::vector<PartialFormatCard::Format> trials; // every 24-bit row, opened for real
    for (const auto &row : WaveFormatTable)
        if (row.bitsPerSample == 24)
            trials.emplace_back(row.sampleRate, 24, row.stereo ? 2 : 1);
    EXPECT_EQ(m_card.opens, trials);
    // The stored row is not offered: the first entry is shown, the record kept until leaving.
    EXPECT_EQ(format(), "11.025 kHz, mono, 16-bit = row 8, 44100 Hz, 16-bit");
    m_page->deactivatePage();
    EXPECT_EQ(format(), "11.025 kHz, mono, 16-bit = row 0, 11025 Hz, 16-bit");
    choose("formatList", "22.05 kHz, stereo, 16-bit");
    EXPECT_EQ(format(), "22.05 kHz, stereo, 16-bit = row 6, 22050 Hz, 16-bit, stereo");
    EXPECT_EQ(m_engine->highPass().coefficients().sampleRate, 22050);
    settings().waveInFormat = 2; // shown again: the list follows the record
    m_page->activatePage();
    EXPECT_EQ(list("formatList")->currentText(), "11.025 kHz, stereo, 16-bit");
    choose("deviceList", "Unknown Device"); // no formats: leaving keeps the record
    m_page->deactivatePage();
    EXPECT_EQ(format(), " = row 2, 11025 Hz, 16-bit, stereo");
    choose("deviceList", "Quillon virtual bench");
    EXPECT_EQ(list("formatList")->count(), kWaveFormatCount);
    EXPECT_EQ(format(), "11.025 kHz, stereo, 16-bit = row 2, 11025 Hz, 16-bit, stereo");
}

TEST_F(SetupPageTest, StoredFormatRowsAndDevicesThatAreNotOffered)
{
    m_card.accepted.emplace_back(48000, 24, 1); // listed; the trial stream is closed
    SettingsStore().write(keys::WaveInFormat, 2);
    showPage();
    EXPECT_EQ(m_card.closes, 1);
    EXPECT_EQ(format(), "11.025 kHz, stereo, 16-bit = row 2, 11025 Hz, 16-bit, stereo");
    choose("formatList", "48 kHz, mono, 24-bit");
    EXPECT_EQ(format(), "48 kHz, mono, 24-bit = row 13, 48000 Hz, 24-bit");
    SettingsStore().write(keys::WaveInFormat, 20); // loads as -1
    showPage();
    EXPECT_EQ(format(), "11.025 kHz, mono, 16-bit = row 0, 11025 Hz, 16-bit");
    SettingsStore().write(keys::WaveInDeviceName, "Another Card"); // the device check unsets it
    m_card.opens.clear();
    showPage();
    EXPECT_EQ(list("deviceList")->currentIndex(), -1);
    EXPECT_EQ(list("formatList")->count(), 0);
    EXPECT_TRUE(m_card.opens.empty());
}

// Serial: the DUT takes the other line, 5 (left from USB) drives DTR. A gone port is "None".
TEST_F(SetupPageTest, StoredPortAndLinesFollowThePortKind)
{
    for (const auto &[port, noise, dut, lines] :
         {std::tuple{"/dev/ttyUSB0", 0, 0, "/dev/ttyUSB0: RTS | DTR, RTS/DTR, 0/1, fixed DUT"},
          {"/dev/ttyUSB0", 5, 1, "/dev/ttyUSB0: RTS | DTR, DTR/RTS, 1/0, fixed DUT"},
          {"USB", 2, 5, "USB: D0 | D1 | D2 | D3 | D4 | D5 | D6 | D7, D2/D5, 2/5"},
          {"/dev/parport0", 0, 4, "/dev/parport0: , /, 0/0, no lines"},
          {"Virtual bench", 0, 0, "Virtual bench: , /, 0/0, no lines"},
          {"usb", 0, 0, "None (off): , /, 0/0, no lines"}}) {
        SettingsStore().write(keys::AutomationDeviceName, port);
        SettingsStore().write(keys::AutomateNoiseSelection, noise);
        SettingsStore().write(keys::AutomateDeviceSelection, dut);
        showPage();
        EXPECT_EQ(this->lines(), lines) << port;
    }
}

// The port is held exclusively: it must be closed for the probe and on a device change.
TEST_F(SetupPageTest, SwitchPortIsClosedForTheProbeAndChosenLinesFollowThePortKind)
{
    showPage([this] {
        settings().switchPortName = "/dev/ttyUSB0";
        m_engine->switches().setSwitches(true, false);
        ASSERT_TRUE(m_engine->switches().isPortOpen());
    });
    EXPECT_FALSE(m_portOpenAtProbe);
    EXPECT_EQ(entries(list("portList")),
              "None | /dev/ttyUSB0 | /dev/parport0 | USB | Virtual bench");
    choose("portList", "USB");
    choose("noiseLineList", "D7"); // the same bit may serve both
    choose("dutLineList", "D7");
    EXPECT_EQ(lines(), "USB: D0 | D1 | D2 | D3 | D4 | D5 | D6 | D7, D7/D7, 7/7");
    choose("portList", "/dev/ttyUSB0");
    choose("noiseLineList", "DTR"); // the DUT takes the other line
    EXPECT_EQ(lines(), "/dev/ttyUSB0: RTS | DTR, DTR/RTS, 1/0, fixed DUT");
    m_engine->switches().setSwitches(true, false);
    ASSERT_TRUE(m_engine->switches().isPortOpen());
    choose("deviceList", "Quillon virtual bench");
    EXPECT_FALSE(m_engine->switches().isPortOpen());
}

// Each reader failure and its text are tested with the ENR table; here: the box shows one.
TEST_F(SetupPageTest, EnrReadWhenTickedAnyPathEditUnticksAndLoggingNeedsAPath)
{
    const QString good = writeFile("good.dat", "100,15.2\n1000,14.8\n");
    SettingsStore().write(keys::EnrCalibrationFile, good.toStdString());
    SettingsStore().write(keys::UseEnrFile, 1);
    showPage();
    EXPECT_EQ(m_engine->enrTable().count, 2);
    test::BoxCatcher boxes;
    click("logMeasurements"); // no log path: refused without a message
    click("enrBrowse");       // cancelled: nothing changes
    EXPECT_EQ(paths(), good + ", on; , off");
    EXPECT_EQ(m_formatAtDialog, 0); // the page was read before the dialog
    type("enrPath", good);          // tabbing through the field without a change
    EXPECT_EQ(paths(), good + ", off; , off");
    click("useEnrFile");
    EXPECT_EQ(paths(), good + ", on; , off");
    m_dialogAnswer = writeFile("bad.dat", "100,15.2\n200,75\n");
    click("enrBrowse"); // unticks: ticking reads the new file
    click("useEnrFile");
    EXPECT_EQ(m_engine->enrTable().count, 0);
    const QString longPath = "/" + QString(300, QLatin1Char('p')) + "/x.log"; // no 259 limit
    type("logPath", longPath);
    EXPECT_EQ(paths(), m_dialogAnswer + ", off; " + longPath + ", off");
    type("enrPath", "  /data/other.dat \t"); // kept and shown trimmed
    type("logPath", " /tmp/readings.log ");
    click("logMeasurements");
    EXPECT_EQ(paths(), "/data/other.dat, off; /tmp/readings.log, on");
    m_dialogAnswer = "/tmp/browsed.log"; // another path leaves logging on
    click("logBrowse");
    EXPECT_EQ(paths(), "/data/other.dat, off; /tmp/browsed.log, on");
    type("logPath", "   "); // an emptied one ends it
    EXPECT_EQ(paths(), "/data/other.dat, off; , off");
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgEnrEnrRange) + QStringLiteral(" (line 2)")});
    EXPECT_EQ(m_requests.at(1).nameFilters.join(", ") + ", " + m_requests[1].defaultSuffix,
              "ENR Data File (*.dat), Any File Extension (*), dat");
    EXPECT_EQ(m_requests.at(2).nameFilters.join(", ") + ", " + m_requests[2].defaultSuffix,
              "Log File (*.log), Any File Extension (*), log");
}

// Every stored value is checked with the settings record; here: the page's choices are saved.
TEST_F(SetupPageTest, SaveAsDefaultWritesTheChosenSetupOrShowsOneMessage)
{
    showPage();
    choose("formatList", "11.025 kHz, stereo, 16-bit");
    choose("fftSizeList", "32768");
    click("highPass");
    type("logPath", "/tmp/q.log");
    choose("captureTimeList", "100 msec"); // not a stored value
    EXPECT_EQ(settings().captureTimeMs, 100u);
    test::BoxCatcher boxes;
    click("saveAsDefault");
    SettingsStore stored;
    EXPECT_EQ(stored.read(keys::WaveInFormat), 2);
    EXPECT_EQ(stored.read(keys::FFTBlockSize), 32768);
    EXPECT_EQ(stored.read(keys::HighPassFilter), 1);
    EXPECT_EQ(stored.read(keys::LogResultsFile), "/tmp/q.log");
    EXPECT_FALSE(QSettings(storeFile(), QSettings::IniFormat).contains("Setup/CaptureTimeMs"));
    // Root ignores permission bits: a store below a regular file cannot be written.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, writeFile("blocker", ""));
    showPage();
    click("saveAsDefault");
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgSaveFailed)});
}

} // namespace
} // namespace quillon
