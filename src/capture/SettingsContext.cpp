#include "capture/SettingsContext.h"

#include "capture/AudioBackend.h"
#include "capture/WaveFormat.h"

namespace quillon {

ProductNameLookup productNamesOf(AudioBackend *devices)
{
    return [devices](std::int32_t device) -> std::optional<std::string> {
        if (devices == nullptr || device < 0 || device >= devices->deviceCount())
            return std::nullopt;
        DeviceCaps caps;
        if (!devices->deviceCaps(device, caps))
            return std::nullopt;
        return caps.productName;
    };
}

SettingsLoadContext captureLoadContext(AudioBackend *devices)
{
    SettingsLoadContext context;
    context.productName = productNamesOf(devices);
    context.applyFormatRow = [](Settings &s, std::int32_t row) {
        if (row < 0 || row >= kWaveFormatCount)
            return false;
        applyFormatRow(s, row);
        return true;
    };
    return context;
}

} // namespace quillon
