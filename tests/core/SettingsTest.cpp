#include "core/SettingsTestSupport.h"
#include "support/FakeDevices.h"
#include "support/SmallDisk.h"

#include "core/Messages.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "capture/SettingsContext.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <optional>
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

// Every field of the record, to compare whole records.
auto fields(const Settings &s)
{
    return std::tie(s.waveInDevice, s.waveInFormat, s.sampleRate, s.bitsPerSample,
                    s.captureTimeMs, s.stereo, s.fftBlockSize, s.useEnrFile, s.logMeasurements,
                    s.highPassFilter, s.logResultsFile, s.switchPortChosen,
                    s.decimalPointsInResults, s.noiseSourceLine, s.dutLine, s.switchPortName,
                    s.enrCalibrationFile);
}

} // namespace

TEST_F(SettingsLoad, FirstStartGivesTheDefaultsAndAnUnsetDevice)
{
    // No stored name matches "Card A": no device.
    const Settings defaults{.waveInDevice = -1, .waveInFormat = 8, .sampleRate = 44100,
                            .bitsPerSample = 16, .captureTimeMs = 1000, .fftBlockSize = 8192,
                            .logResultsFile = "", .decimalPointsInResults = 3,
                            .switchPortName = "", .enrCalibrationFile = ""};
    EXPECT_EQ(fields(load()), fields(defaults));
    EXPECT_EQ(m_rates, std::vector<std::int32_t>{44100});
}

TEST_F(SettingsLoad, DeviceCheckComparesTheStoredProductName)
{
    for (const auto &[device, name, loaded] :
         {std::tuple{1, "Card B", 1}, {1, "card b", -1}, {2, "Card C", -1}, {7, "Card A", -1}}) {
        put(keys::WaveInDevice, device);
        put(keys::WaveInDeviceName, std::string(name));
        EXPECT_EQ(load().waveInDevice, loaded) << device << ' ' << name;
    }
    put(keys::WaveInDevice, 1);
    put(keys::WaveInDeviceName, std::string("Card B"));
    m_devices.devices()[1].name = "Card B (rev 2)"; // the line-up changed
    EXPECT_EQ(load().waveInDevice, -1);
}

TEST_F(SettingsLoad, FormatIndexOutsideTheTableIsInvalid)
{
    for (std::int32_t stored : {20, -1, -7, 1000, 17}) {
        put(keys::WaveInFormat, stored);
        m_rates.clear();
        const Settings s = load();
        EXPECT_EQ(s.waveInFormat, stored == 17 ? 17 : -1) << stored;
        EXPECT_EQ(m_rates, stored == 17 ? std::vector<std::int32_t>{96000}
                                        : std::vector<std::int32_t>{}) << stored;
    }
    const Settings s = load(); // row 17
    EXPECT_EQ(std::tuple(s.sampleRate, s.bitsPerSample, s.stereo), std::tuple(96000, 24u, false));
}

TEST_F(SettingsLoad, StoredValuesAreLimitedAsAtStartUp)
{
    // FFT size: only limited above.
    for (auto [stored, loaded] :
         std::vector<std::pair<int, int>>{{65536, 32768}, {3000, 3000}, {0, 0}}) {
        put(keys::FFTBlockSize, stored);
        EXPECT_EQ(load().fftBlockSize, loaded) << stored;
    }
    // A switch port is present unless the name is empty or "None".
    for (auto [name, present] : std::vector<std::pair<std::string, bool>>{
             {"", false}, {"None", false}, {"none", true}, {"USB", true}}) {
        put(keys::AutomationDeviceName, name);
        EXPECT_EQ(load().switchPortChosen, present) << name;
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
    std::vector<std::string> save(const Settings &s)
    {
        SettingsStore store;
        std::vector<std::string> written;
        store.setWriteObserver([&](const char *name, bool) { written.emplace_back(name); });
        const Result saved = saveSettingsAsDefault(s, store, productNamesOf(&m_devices));
        EXPECT_TRUE(saved.ok()) << saved.detail;
        return written;
    }
};

} // namespace

TEST_F(SettingsSave, WritesEveryValueInOrderAndLoadsBack)
{
    // Row 11: 44.1 kHz stereo 24-bit.
    const Settings s{.waveInDevice = 1, .waveInFormat = 11, .bitsPerSample = 24,
                     .captureTimeMs = 100, .stereo = true, .fftBlockSize = 16384,
                     .logMeasurements = true, .highPassFilter = true,
                     .logResultsFile = "/home/ham/nf.log", .switchPortChosen = true,
                     .decimalPointsInResults = 2, .noiseSourceLine = 3, .dutLine = 5,
                     .switchPortName = "USB", .enrCalibrationFile = "/home/ham/enr.dat"};
    EXPECT_EQ(save(s),
              (std::vector<std::string>{"WaveInDevice", "WaveInFormat", "EnrCalibrationFile",
                                        "LogResultsFile", "AutomationDeviceName",
                                        "AutomateNoiseSelection", "AutomateDeviceSelection",
                                        "UseEnrFile", "HighPassFilter", "DecimalPointsInResults",
                                        "UsbDeviceName", "WaveInDeviceName", "FFTBlockSize"}));
    // Neither the capture time nor the logging switch is kept; "Card B" was stored with it.
    Settings expected = s;
    expected.captureTimeMs = 1000;
    expected.logMeasurements = false;
    EXPECT_EQ(fields(load()), fields(expected));
}

TEST_F(SettingsSave, UnpluggedDeviceKeepsItsOldName)
{
    put(keys::WaveInDeviceName, std::string("Card A"));
    Settings s;
    s.waveInDevice = 2; // capabilities unreadable
    const auto written = save(s);
    EXPECT_EQ(written.size(), 12u);
    EXPECT_EQ(std::count(written.begin(), written.end(), "WaveInDeviceName"), 0);
    EXPECT_EQ(SettingsStore().read(keys::WaveInDeviceName), "Card A");
}

// No field holds "UsbDeviceName": a save writes back what is stored, and a missing or
// overlong name (256 characters) as the default.
TEST_F(SettingsSave, UsbNameIsWrittenBackAsStored)
{
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "ezusb-0"},
        {"ezusb-1", "ezusb-1"},
        {std::string(255, 'u'), std::string(255, 'u')},
        {std::string(256, 'u'), "ezusb-0"},
    };
    for (const auto &[stored, saved] : cases) {
        QSettings("Tremont", "Quillon").remove("Setup/UsbDeviceName");
        if (stored)
            put(keys::UsbDeviceName, *stored);
        save(load());
        EXPECT_EQ(QSettings("Tremont", "Quillon").value("Setup/UsbDeviceName").toString(),
                  QString::fromStdString(saved));
    }
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
    const Result failed = saveSettingsAsDefault(s, store, productNamesOf(&m_devices));
    EXPECT_EQ(failed.code, kMsgSaveFailed);
    EXPECT_EQ(failed.detail, (folder() + "/blocker/Tremont/Quillon.conf: could not write "
                                         "WaveInDevice, WaveInFormat, EnrCalibrationFile, "
                                         "LogResultsFile, AutomationDeviceName, "
                                         "AutomateNoiseSelection, AutomateDeviceSelection, "
                                         "UseEnrFile, HighPassFilter, DecimalPointsInResults, "
                                         "UsbDeviceName, WaveInDeviceName, FFTBlockSize")
                                 .toStdString());
    EXPECT_EQ(attempts, 13);
    // Fault mended: the same store went on reporting the old failure once the folder could
    // be made.
    ASSERT_TRUE(QFile::remove(folder() + "/blocker"));
    EXPECT_TRUE(saveSettingsAsDefault(s, store, productNamesOf(&m_devices)).ok());
    EXPECT_EQ(SettingsStore().read(keys::WaveInDeviceName), "Card A");
}

// Fault mended: with room for QSettings' lock file but not for the file, "Save as Default"
// replaced the file with an empty one and reported success; the other groups went with it.
TEST_F(SettingsSave, AFullDiskKeepsTheFileAndReportsTheFailure)
{
    // A save takes three pages: the file and the scratch copy with its lock file (QSettings
    // alone: the file, its lock file and its temporary). Two filler pages leave room for a
    // lock file alone.
    quillon::test::SmallDisk disk(4);
    if (!disk.ok())
        GTEST_SKIP() << disk.whyNot();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(disk.path()));
    const QString file = QString::fromStdString(disk.file("Tremont/Quillon.conf"));
    Settings s = load();
    s.logResultsFile = "/home/ham/nf.log";
    {
        SettingsStore receiver("Receiver");
        ASSERT_TRUE(receiver.write(TextValue{"Control", ""}, "Virtual bench"));
    }
    save(s);
    QFile before(file);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray saved = before.readAll();
    before.close();
    ASSERT_TRUE(disk.put("filler", 2 * 4096));

    s.logResultsFile = "/home/ham/other.log";
    s.fftBlockSize = 1024;
    SettingsStore store;
    const Result failed = saveSettingsAsDefault(s, store, productNamesOf(&m_devices));
    EXPECT_EQ(failed.code, kMsgSaveFailed);
    EXPECT_EQ(failed.detail.rfind(file.toStdString() + ": could not write WaveInDevice, ", 0), 0u)
        << failed.detail;
    QFile after(file);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), saved);
    EXPECT_TRUE(saved.contains("[Receiver]\nControl=Virtual bench\n")) << saved.toStdString();
    // The store reads what the file holds, not what it failed to write.
    EXPECT_EQ(store.read(keys::LogResultsFile), "/home/ham/nf.log");
    EXPECT_EQ(QDir(QString::fromStdString(disk.path()) + "/Tremont").entryList(QDir::Files | QDir::Hidden),
              QStringList{"Quillon.conf"});
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
