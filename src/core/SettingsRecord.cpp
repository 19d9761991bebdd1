#include "core/SettingsRecord.h"

#include "core/SettingsStore.h"

namespace quillon {

namespace {

constexpr std::int32_t kMaxFftBlockSize = 32768;
// A stored "UsbDeviceName" this long or longer is saved back as the default.
constexpr std::size_t kUsbNameLimit = 256;

bool productName(const ProductNameLookup &lookup, std::int32_t device, std::string &name)
{
    if (!lookup || device < 0)
        return false;
    const std::optional<std::string> found = lookup(device);
    if (!found)
        return false;
    name = *found;
    return true;
}

} // namespace

bool automationPresentFor(const std::string &switchPortName)
{
    return !switchPortName.empty() && switchPortName != "None";
}

void loadSettings(Settings &s, const SettingsStore &store, const SettingsLoadContext &context)
{
    // 1. No port is open yet (the switch control owns it); logging is off after start.
    s.logMeasurements = false;

    // 2.
    s.waveInDevice = store.read(keys::WaveInDevice);

    // 3. An index outside the table is invalid; the Setup page corrects it to 0.
    s.waveInFormat = store.read(keys::WaveInFormat);
    if (s.waveInFormat < 0 || !context.applyFormatRow || !context.applyFormatRow(s, s.waveInFormat))
        s.waveInFormat = -1;
    if (s.waveInFormat >= 0) {
        if (context.selectHighPass)
            context.selectHighPass(s.sampleRate);
    }
    s.captureTimeMs = 1000;

    // 4. Only limited above; the Setup page shows 1024 for a size not in its list.
    s.fftBlockSize = store.read(keys::FFTBlockSize);
    if (s.fftBlockSize > kMaxFftBlockSize)
        s.fftBlockSize = kMaxFftBlockSize;

    // 5.
    s.enrCalibrationFile = store.read(keys::EnrCalibrationFile);
    s.logResultsFile = store.read(keys::LogResultsFile);
    s.switchPortName = store.read(keys::AutomationDeviceName);
    s.switchPortChosen = automationPresentFor(s.switchPortName);

    // 6.
    s.highPassFilter = store.read(keys::HighPassFilter) != 0;
    s.noiseSourceLine = store.read(keys::AutomateNoiseSelection);
    s.dutLine = store.read(keys::AutomateDeviceSelection);
    s.decimalPointsInResults = store.read(keys::DecimalPointsInResults);

    // 7. A first start, or a changed line-up of sound devices, leaves the device unset.
    std::string name;
    if (!productName(context.productName, s.waveInDevice, name) ||
        name != store.read(keys::WaveInDeviceName))
        s.waveInDevice = -1;

    // 8. A file that cannot be used is switched off without a message at start-up.
    s.useEnrFile = store.read(keys::UseEnrFile) != 0;
    if (s.useEnrFile) {
        const int message = context.readEnrFile ? context.readEnrFile(s) : 1;
        if (message != 0)
            s.useEnrFile = false;
    }
}

Result saveSettingsAsDefault(const Settings &s, SettingsStore &store,
                             const ProductNameLookup &lookup)
{
    SaveBatch batch(store);
    batch.write(keys::WaveInDevice, s.waveInDevice);
    batch.write(keys::WaveInFormat, s.waveInFormat);
    batch.write(keys::EnrCalibrationFile, s.enrCalibrationFile);
    batch.write(keys::LogResultsFile, s.logResultsFile);
    batch.write(keys::AutomationDeviceName, s.switchPortName);
    batch.write(keys::AutomateNoiseSelection, s.noiseSourceLine);
    batch.write(keys::AutomateDeviceSelection, s.dutLine);
    batch.write(keys::UseEnrFile, s.useEnrFile ? 1 : 0);
    batch.write(keys::HighPassFilter, s.highPassFilter ? 1 : 0);
    batch.write(keys::DecimalPointsInResults, s.decimalPointsInResults);
    // No field holds the USB interface's name (the plugin finds its device itself); the
    // file keeps the key as it has always had it.
    std::string usbName = store.read(keys::UsbDeviceName);
    if (usbName.size() >= kUsbNameLimit)
        usbName = keys::UsbDeviceName.defaultValue;
    batch.write(keys::UsbDeviceName, usbName);
    std::string name;
    if (productName(lookup, s.waveInDevice, name))
        batch.write(keys::WaveInDeviceName, name);
    batch.write(keys::FFTBlockSize, s.fftBlockSize);
    return batch.outcome();
}

} // namespace quillon
