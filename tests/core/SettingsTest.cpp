#include "core/SettingsTestSupport.h"
#include "support/FakeDevices.h"

#include "core/Messages.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "capture/SettingsContext.h"

#include <QFile>

#include <algorithm>
#include <string>
#include <vector>

using namespace quillon;

namespace {

class SettingsLoad : public quillon::test::TempSettingsTest
{
protected:
    Settings load()
    {
        SettingsStore store;
        SettingsLoadContext context = captureLoadContext(&m_devices);
        context.selectHighPass = [this](std::int32_t rate) {
            m_rates.push_back(rate);
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
    template <typename Value, typename T> void put(const Value &v, const T &x)
    {
        SettingsStore store;
        ASSERT_TRUE(store.write(v, x));
    }
    void putRaw(const char *name, const QVariant &value)
    {
        QSettings("Tremont", "Quillon").setValue(QString("Setup/") + name, value);
    }

    quillon::test::NamedDevices m_devices{{{"Card A", 0}, {"Card B", 0}, {"Card C", 0, false}}};
    std::vector<std::int32_t> m_rates;
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
    EXPECT_FALSE(s.useEnrFile || s.logMeasurements || s.highPassFilter || s.automationPresent);
    EXPECT_EQ(s.logResultsFile + s.enrCalibrationFile + s.automationDeviceName, "");
    EXPECT_EQ(m_rates, std::vector<std::int32_t>{44100});
}

TEST_F(SettingsLoad, DeviceCheckComparesTheStoredProductName)
{
    struct Case
    {
        int device;
        const char *name;
        int loaded;
    };
    for (const Case c :
         {Case{1, "Card B", 1}, {1, "card b", -1}, {2, "Card C", -1}, {7, "Card A", -1}}) {
        put(keys::WaveInDevice, c.device);
        put(keys::WaveInDeviceName, std::string(c.name));
        EXPECT_EQ(load().waveInDevice, c.loaded) << c.device << ' ' << c.name;
    }
    put(keys::WaveInDevice, 1);
    put(keys::WaveInDeviceName, std::string("Card B"));
    m_devices.devices()[1].name = "Card B (rev 2)"; // the line-up changed
    EXPECT_EQ(load().waveInDevice, -1);
}

TEST_F(SettingsLoad, FormatIndexOutsideTheTableIsInvalid)
{
    for (std::int32_t stored : {20, -1, -7, 1000}) {
        put(keys::WaveInFormat, stored);
        m_rates.clear();
        EXPECT_EQ(load().waveInFormat, -1) << stored;
        EXPECT_TRUE(m_rates.empty()) << stored;
    }
    put(keys::WaveInFormat, 17);
    m_rates.clear();
    const Settings s = load();
    EXPECT_EQ(s.sampleRate, 96000);
    EXPECT_EQ(s.bitsPerSample, 24u);
    EXPECT_FALSE(s.stereo);
    EXPECT_EQ(m_rates, std::vector<std::int32_t>{96000});
}

TEST_F(SettingsLoad, StoredValuesAreLimitedAsAtStartUp)
{
    // FFT size: only limited above.
    for (auto [stored, loaded] :
         std::vector<std::pair<int, int>>{{65536, 32768}, {3000, 3000}, {0, 0}}) {
        put(keys::FFTBlockSize, stored);
        EXPECT_EQ(load().fftBlockSize, loaded) << stored;
    }
    // USB name: 255 characters stay, 256 are replaced.
    put(keys::UsbDeviceName, std::string(255, 'u'));
    EXPECT_EQ(load().usbDeviceName, std::string(255, 'u'));
    put(keys::UsbDeviceName, std::string(256, 'u'));
    EXPECT_EQ(load().usbDeviceName, "ezusb-0");
    // A switch port is present unless the name is empty or "None".
    for (auto [name, present] : std::vector<std::pair<std::string, bool>>{
             {"", false}, {"None", false}, {"none", true}, {"USB", true}}) {
        put(keys::AutomationDeviceName, name);
        EXPECT_EQ(load().automationPresent, present) << name;
    }
    // Flags read as non-zero; decimals are not corrected here.
    put(keys::HighPassFilter, 5);
    put(keys::DecimalPointsInResults, 9);
    EXPECT_TRUE(load().highPassFilter);
    EXPECT_EQ(load().decimalPointsInResults, 9);
}

TEST_F(SettingsLoad, EnrFileIsReadLastAndAFailureSwitchesItOffSilently)
{
    put(keys::WaveInDevice, 0);
    put(keys::WaveInDeviceName, std::string("Card A"));
    put(keys::UseEnrFile, 1);
    put(keys::EnrCalibrationFile, std::string("/tmp/cal.dat"));
    EXPECT_TRUE(load().useEnrFile);
    EXPECT_EQ(m_enrReadWithDevice, 0); // the device check ran before the file was read

    m_enrResult = kMsgEnrCannotOpen;
    const Settings s = load();
    EXPECT_FALSE(s.useEnrFile);
    EXPECT_EQ(s.enrCalibrationFile, "/tmp/cal.dat"); // the name stays
}

TEST_F(SettingsLoad, StoredValuesReadAsTheirTypes)
{
    putRaw("WaveInFormat", QString("4294967295")); // a DWORD of all ones
    putRaw("FFTBlockSize", QString("lots"));       // unreadable: default
    putRaw("TSoff", QString("warm"));
    putRaw("T0", QString("290,5"));
    putRaw("LogResultsFile", QStringList{"a", "b.log"}); // unquoted comma in a hand edit
    SettingsStore store;
    EXPECT_EQ(store.read(keys::WaveInFormat), -1);
    EXPECT_EQ(store.read(keys::FFTBlockSize), 8192);
    EXPECT_EQ(store.readNumber(keys::TSoff), 0.0);
    EXPECT_EQ(store.readNumber(keys::T0), 290.0);
    EXPECT_EQ(store.readNumber(keys::ENR), 25.0);
    EXPECT_EQ(store.read(keys::LogResultsFile), "a,b.log");
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
        EXPECT_EQ(saveSettingsAsDefault(s, store, productNamesOf(&m_devices)), expected);
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
    s.highPassFilter = true;
    s.decimalPointsInResults = 2;
    s.usbDeviceName = "ezusb-1";
    s.fftBlockSize = 16384;
    s.captureTimeMs = 100;
    s.logMeasurements = true;
    EXPECT_EQ(save(s, kMsgNone),
              (std::vector<std::string>{"WaveInDevice", "WaveInFormat", "EnrCalibrationFile",
                                        "LogResultsFile", "AutomationDeviceName",
                                        "AutomateNoiseSelection", "AutomateDeviceSelection",
                                        "UseEnrFile", "HighPassFilter", "DecimalPointsInResults",
                                        "UsbDeviceName", "WaveInDeviceName", "FFTBlockSize"}));
    const Settings back = load();
    EXPECT_EQ(back.waveInDevice, 1); // "Card B" was stored with it
    EXPECT_EQ(back.waveInFormat, 11);
    EXPECT_TRUE(back.stereo);
    EXPECT_EQ(back.enrCalibrationFile, s.enrCalibrationFile);
    EXPECT_EQ(back.logResultsFile, s.logResultsFile);
    EXPECT_TRUE(back.automationPresent);
    EXPECT_EQ(back.automateNoiseSelection * 10 + back.automateDeviceSelection, 35);
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
    put(keys::WaveInDeviceName, std::string("Card A"));
    Settings s;
    s.waveInDevice = 2; // capabilities unreadable
    const auto written = save(s, kMsgNone);
    EXPECT_EQ(written.size(), 12u);
    EXPECT_EQ(std::count(written.begin(), written.end(), "WaveInDeviceName"), 0);
    EXPECT_EQ(SettingsStore().read(keys::WaveInDeviceName), "Card A");
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
    int attempts = 0;
    store.setWriteObserver([&](const char *, bool) { ++attempts; });
    EXPECT_EQ(saveSettingsAsDefault(s, store, productNamesOf(&m_devices)), kMsgSaveFailed);
    EXPECT_EQ(attempts, 13);
    EXPECT_STREQ(messageText(kMsgSaveFailed),
                 "Saving parameters to the registry failed for some reason.");
    // Fault mended: the same store went on reporting the old failure once the folder could
    // be made.
    ASSERT_TRUE(QFile::remove(folder() + "/blocker"));
    EXPECT_EQ(saveSettingsAsDefault(s, store, productNamesOf(&m_devices)), kMsgNone);
    EXPECT_EQ(SettingsStore().read(keys::WaveInDeviceName), "Card A");
}

TEST_F(SettingsSave, PageValuesUseTheSameBatch)
{
    SettingsStore store;
    SaveBatch batch(store);
    batch.write(keys::TraceAverageCount, 12);
    batch.writeNumber(keys::ENR, 15.4567, 3);
    batch.writeNumber(keys::TSoff, 293.5, 2);
    EXPECT_EQ(batch.result(), kMsgNone);
    EXPECT_EQ(store.read(keys::TraceAverageCount), 12);
    EXPECT_EQ(store.read(keys::ENR), "15.457");
    EXPECT_EQ(store.read(keys::TSoff), "293.50");
}
