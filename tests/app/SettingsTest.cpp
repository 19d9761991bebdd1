#include "SettingsTestSupport.h"
#include "support/FakeDevices.h"

#include "app/Messages.h"
#include "app/SettingsRecord.h"
#include "app/SettingsStore.h"

#include <QFile>

#include <string>
#include <vector>

using namespace quillon;
using quillon::test::NamedDevices;

namespace {

class SettingsLoad : public quillon::test::TempSettingsTest
{
protected:
    Settings load()
    {
        SettingsStore store;
        SettingsLoadContext context;
        context.devices = &m_devices;
        context.selectHighPass = [this](std::int32_t rate) {
            m_selectedRates.push_back(rate);
        };
        context.readEnrFile = [this](Settings &s) {
            m_enrReadWithDevice = s.waveInDevice;
            return m_enrResult;
        };
        Settings s;
        s.logMeasurements = true; // start-up must switch logging off
        loadSettings(s, store, context);
        return s;
    }

    void store(const IntValue &v, std::int32_t n)
    {
        SettingsStore store;
        ASSERT_TRUE(store.write(v, n));
    }
    void store(const TextValue &v, const std::string &text)
    {
        SettingsStore store;
        ASSERT_TRUE(store.write(v, text));
    }
    void storeRaw(const char *name, const QVariant &value)
    {
        QSettings raw("Tremont", "Quillon");
        raw.setValue(QString("Setup/") + name, value);
    }

    NamedDevices m_devices{{{"Card A", 0}, {"Card B", 0}, {"Card C", 0, false}}};
    std::vector<std::int32_t> m_selectedRates;
    int m_enrResult = 0;
    std::int32_t m_enrReadWithDevice = 99;
};

} // namespace

TEST_F(SettingsLoad, FirstStartGivesTheDefaultsAndAnUnsetDevice)
{
    const Settings s = load();
    EXPECT_EQ(s.waveInDevice, -1); // no stored name matches "Card A"
    EXPECT_EQ(s.waveInFormat, 8);
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.bitsPerSample, 16u);
    EXPECT_FALSE(s.stereo);
    EXPECT_EQ(s.captureTimeMs, 1000u);
    EXPECT_EQ(s.fftBlockSize, 8192);
    EXPECT_EQ(s.decimalPointsInResults, 3);
    EXPECT_EQ(s.usbDeviceName, "ezusb-0");
    EXPECT_FALSE(s.useEnrFile);
    EXPECT_FALSE(s.logMeasurements);
    EXPECT_FALSE(s.highPassFilter);
    EXPECT_FALSE(s.automationPresent);
    EXPECT_EQ(s.automateNoiseSelection, 0);
    EXPECT_EQ(s.automateDeviceSelection, 0);
    EXPECT_EQ(s.logResultsFile, "");
    EXPECT_EQ(s.enrCalibrationFile, "");
    EXPECT_EQ(s.automationDeviceName, "");
    EXPECT_EQ(m_selectedRates, std::vector<std::int32_t>{44100});
}

TEST_F(SettingsLoad, DeviceCheckComparesTheStoredProductName)
{
    store(keys::WaveInDevice, 1);
    store(keys::WaveInDeviceName, "Card B");
    EXPECT_EQ(load().waveInDevice, 1);

    store(keys::WaveInDeviceName, "card b"); // case matters
    EXPECT_EQ(load().waveInDevice, -1);

    store(keys::WaveInDeviceName, "Card B");
    m_devices.devices()[1].name = "Card B (rev 2)"; // line-up changed
    EXPECT_EQ(load().waveInDevice, -1);

    store(keys::WaveInDevice, 2); // capabilities cannot be read
    store(keys::WaveInDeviceName, "Card C");
    EXPECT_EQ(load().waveInDevice, -1);

    store(keys::WaveInDevice, 7); // unplugged
    EXPECT_EQ(load().waveInDevice, -1);
}

TEST_F(SettingsLoad, FormatIndexOutsideTheTableIsInvalid)
{
    for (std::int32_t stored : {20, -1, -7, 1000}) {
        store(keys::WaveInFormat, stored);
        m_selectedRates.clear();
        const Settings s = load();
        EXPECT_EQ(s.waveInFormat, -1) << stored;
        EXPECT_TRUE(m_selectedRates.empty()) << stored;
    }
    store(keys::WaveInFormat, 17);
    m_selectedRates.clear();
    const Settings s = load();
    EXPECT_EQ(s.waveInFormat, 17);
    EXPECT_EQ(s.sampleRate, 96000);
    EXPECT_EQ(s.bitsPerSample, 24u);
    EXPECT_FALSE(s.stereo);
    EXPECT_EQ(m_selectedRates, std::vector<std::int32_t>{96000});
}

TEST_F(SettingsLoad, FftSizeIsOnlyLimitedAbove)
{
    for (auto [stored, loaded] : std::vector<std::pair<int, int>>{
             {65536, 32768}, {32768, 32768}, {3000, 3000}, {0, 0}, {-5, -5}}) {
        store(keys::FFTBlockSize, stored);
        EXPECT_EQ(load().fftBlockSize, loaded) << stored;
    }
}

TEST_F(SettingsLoad, UsbNameOf256CharactersIsReplaced)
{
    store(keys::UsbDeviceName, std::string(255, 'u'));
    EXPECT_EQ(load().usbDeviceName, std::string(255, 'u'));
    store(keys::UsbDeviceName, std::string(256, 'u'));
    EXPECT_EQ(load().usbDeviceName, "ezusb-0");
}

TEST_F(SettingsLoad, AutomationPresentFollowsThePortName)
{
    for (auto [name, present] : std::vector<std::pair<std::string, bool>>{
             {"", false}, {"None", false}, {"none", true}, {"USB", true}, {"/dev/ttyUSB0", true}}) {
        store(keys::AutomationDeviceName, name);
        const Settings s = load();
        EXPECT_EQ(s.automationDeviceName, name);
        EXPECT_EQ(s.automationPresent, present) << name;
    }
}

TEST_F(SettingsLoad, EnrFileIsReadLastAndAFailureSwitchesItOffSilently)
{
    store(keys::WaveInDevice, 0);
    store(keys::WaveInDeviceName, "Card A");
    store(keys::UseEnrFile, 1);
    store(keys::EnrCalibrationFile, "/tmp/cal.dat");
    Settings s = load();
    EXPECT_TRUE(s.useEnrFile);
    EXPECT_EQ(m_enrReadWithDevice, 0); // the device check ran before the file was read

    m_enrResult = kMsgEnrCannotOpen;
    s = load();
    EXPECT_FALSE(s.useEnrFile);
    EXPECT_EQ(s.enrCalibrationFile, "/tmp/cal.dat"); // the name stays

    store(keys::UseEnrFile, 0);
    m_enrReadWithDevice = 99;
    s = load();
    EXPECT_FALSE(s.useEnrFile);
    EXPECT_EQ(m_enrReadWithDevice, 99); // not read at all
}

TEST_F(SettingsLoad, FlagsAndSelectionsAreRead)
{
    store(keys::HighPassFilter, 5);
    store(keys::AutomateNoiseSelection, 1);
    store(keys::AutomateDeviceSelection, 7);
    store(keys::DecimalPointsInResults, 9); // not corrected here
    store(keys::LogResultsFile, "/var/log/nf.log");
    const Settings s = load();
    EXPECT_TRUE(s.highPassFilter);
    EXPECT_EQ(s.automateNoiseSelection, 1);
    EXPECT_EQ(s.automateDeviceSelection, 7);
    EXPECT_EQ(s.decimalPointsInResults, 9);
    EXPECT_EQ(s.logResultsFile, "/var/log/nf.log");
}

TEST_F(SettingsLoad, StoredValuesReadAsTheirTypes)
{
    storeRaw("WaveInFormat", QString("4294967295")); // a DWORD of all ones
    storeRaw("FFTBlockSize", QString("lots"));       // unreadable: default
    storeRaw("TSoff", QString("warm"));
    storeRaw("T0", QString("290,5"));
    storeRaw("LogResultsFile", QStringList{"a", "b.log"}); // unquoted comma in a hand edit
    SettingsStore store;
    EXPECT_EQ(store.read(keys::WaveInFormat), -1);
    EXPECT_EQ(store.read(keys::FFTBlockSize), 8192);
    EXPECT_EQ(store.readNumber(keys::TSoff), 0.0);
    EXPECT_EQ(store.readNumber(keys::T0), 290.0);
    EXPECT_EQ(store.readNumber(keys::ENR), 25.0);
    EXPECT_EQ(store.read(keys::LogResultsFile), "a,b.log");
    EXPECT_EQ(store.read(keys::TraceAverageCount), 1);
    EXPECT_EQ(store.read(keys::ResultFontSize), 24);
    EXPECT_EQ(store.read(keys::DummyReads), 1);
}

namespace {

class SettingsSave : public SettingsLoad
{
protected:
    std::vector<std::string> save(const Settings &s, int expected)
    {
        SettingsStore store;
        std::vector<std::string> written;
        store.setWriteObserver([&](const char *name, bool) { written.emplace_back(name); });
        EXPECT_EQ(saveSettingsAsDefault(s, store, &m_devices), expected);
        return written;
    }
};

} // namespace

TEST_F(SettingsSave, WritesEveryValueInOrderAndLoadsBack)
{
    Settings s;
    s.waveInDevice = 1;
    s.waveInFormat = 11;
    s.enrCalibrationFile = "/home/ham/enr.dat";
    s.logResultsFile = "/home/ham/nf.log";
    s.automationDeviceName = "USB";
    s.automateNoiseSelection = 3;
    s.automateDeviceSelection = 5;
    s.useEnrFile = false;
    s.highPassFilter = true;
    s.decimalPointsInResults = 2;
    s.usbDeviceName = "ezusb-1";
    s.fftBlockSize = 16384;
    s.captureTimeMs = 100;
    s.logMeasurements = true;

    const std::vector<std::string> order{"WaveInDevice",
                                         "WaveInFormat",
                                         "EnrCalibrationFile",
                                         "LogResultsFile",
                                         "AutomationDeviceName",
                                         "AutomateNoiseSelection",
                                         "AutomateDeviceSelection",
                                         "UseEnrFile",
                                         "HighPassFilter",
                                         "DecimalPointsInResults",
                                         "UsbDeviceName",
                                         "WaveInDeviceName",
                                         "FFTBlockSize"};
    EXPECT_EQ(save(s, kMsgNone), order);

    const Settings back = load();
    EXPECT_EQ(back.waveInDevice, 1); // "Card B" was stored with it
    EXPECT_EQ(back.waveInFormat, 11);
    EXPECT_EQ(back.sampleRate, 44100);
    EXPECT_TRUE(back.stereo);
    EXPECT_EQ(back.bitsPerSample, 24u);
    EXPECT_EQ(back.enrCalibrationFile, s.enrCalibrationFile);
    EXPECT_EQ(back.logResultsFile, s.logResultsFile);
    EXPECT_EQ(back.automationDeviceName, "USB");
    EXPECT_TRUE(back.automationPresent);
    EXPECT_EQ(back.automateNoiseSelection, 3);
    EXPECT_EQ(back.automateDeviceSelection, 5);
    EXPECT_TRUE(back.highPassFilter);
    EXPECT_EQ(back.decimalPointsInResults, 2);
    EXPECT_EQ(back.usbDeviceName, "ezusb-1");
    EXPECT_EQ(back.fftBlockSize, 16384);
    // Neither the capture time nor the logging switch is kept.
    EXPECT_EQ(back.captureTimeMs, 1000u);
    EXPECT_FALSE(back.logMeasurements);
}

TEST_F(SettingsSave, UnpluggedDeviceKeepsItsOldName)
{
    store(keys::WaveInDeviceName, "Card A");
    Settings s;
    s.waveInDevice = 2; // capabilities unreadable
    const auto written = save(s, kMsgNone);
    EXPECT_EQ(written.size(), 12u);
    EXPECT_EQ(std::count(written.begin(), written.end(), "WaveInDeviceName"), 0);
    SettingsStore store;
    EXPECT_EQ(store.read(keys::WaveInDeviceName), "Card A");
    EXPECT_EQ(store.read(keys::WaveInDevice), 2);
}

TEST_F(SettingsSave, AFailedStoreAttemptsEveryWriteAndReportsOnce)
{
    // Tests run as root, so permission bits do not stop a write: put the store below a
    // regular file instead.
    QFile blocker(folder() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder() + "/blocker");

    Settings s;
    s.waveInDevice = 0;
    SettingsStore store;
    int attempts = 0, failures = 0;
    store.setWriteObserver([&](const char *, bool ok) {
        ++attempts;
        failures += ok ? 0 : 1;
    });
    EXPECT_EQ(saveSettingsAsDefault(s, store, &m_devices), kMsgSaveFailed);
    EXPECT_EQ(attempts, 13);
    EXPECT_GE(failures, 1);
    EXPECT_STREQ(messageText(kMsgSaveFailed),
                 "Saving parameters to the registry failed for some reason.");
}

TEST_F(SettingsSave, PageValuesUseTheSameBatch)
{
    SettingsStore store;
    SaveBatch batch(store);
    batch.write(keys::TraceAverageCount, 12);
    batch.write(keys::TraceAverageFlag, 1);
    batch.writeNumber(keys::ENR, 15.4567, 3);
    batch.writeNumber(keys::TSoff, 293.5, 2);
    EXPECT_EQ(batch.result(), kMsgNone);
    EXPECT_EQ(store.read(keys::TraceAverageCount), 12);
    EXPECT_EQ(store.read(keys::ENR), "15.457");
    EXPECT_EQ(store.read(keys::TSoff), "293.50");
    EXPECT_DOUBLE_EQ(store.readNumber(keys::TSoff), 293.5);
}
