#pragma once

#include "core/Result.h"
#include "core/Settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quillon {

class SettingsStore;

// The product name of sound device `device`, or nothing when there is no such device or it
// cannot be queried. Supplied by the capture library (it knows the device list).
using ProductNameLookup = std::function<std::optional<std::string>(std::int32_t device)>;

// What loading the record needs from the rest of the program. Each may be empty.
struct SettingsLoadContext
{
    // The capture device list: the stored "WaveInDeviceName" must equal the product name
    // of device waveInDevice, else the device is unset (-1). Empty: no device is valid.
    ProductNameLookup productName;
    // Fills the fields derived from format row `row` (rate, bits, channels); false for a
    // row outside the format table, which leaves the format unset (-1). Empty: every
    // stored row is taken as unset.
    std::function<bool(Settings &, std::int32_t row)> applyFormatRow;
    // Selects the 1 kHz high-pass coefficients for a sample rate (Hz).
    std::function<void(std::int32_t sampleRate)> selectHighPass;
    // Reads the ENR calibration file named in the record; returns 0 or a message number.
    std::function<int(Settings &)> readEnrFile;
};

// Loads the record from `store` (section "Setup") in the fixed order of start-up:
// format row and its derived fields, FFT size limited to 32768, paths, flags, the device
// check, and last the ENR file when "UseEnrFile" is set (a failed read clears
// useEnrFile silently). captureTimeMs starts at 1000 and logMeasurements off.
void loadSettings(Settings &settings, const SettingsStore &store,
                  const SettingsLoadContext &context);

// "Save as Default": writes every stored field in the fixed order, attempting all writes,
// "WaveInDeviceName" only when device waveInDevice can be queried. "UsbDeviceName", which
// no field holds, is written back as stored (the default when missing or 256 characters or
// longer). captureTimeMs and logMeasurements are not saved. When any write failed:
// kMsgSaveFailed, the detail naming the file and the values not written (SaveBatch).
Result saveSettingsAsDefault(const Settings &settings, SettingsStore &store,
                             const ProductNameLookup &productName);

// switchPortChosen: the port name is neither empty nor "None".
bool automationPresentFor(const std::string &switchPortName);

} // namespace quillon
