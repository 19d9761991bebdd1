#include "capture/WaveFormat.h"

#include "core/Settings.h"

namespace quillon {

CaptureFormat deriveFormat(const Settings &settings)
{
    CaptureFormat f;
    f.formatTag = 1;
    f.channels = settings.stereo ? 2 : 1;
    f.samplesPerSec = static_cast<std::uint32_t>(settings.sampleRate);
    f.bitsPerSample = static_cast<std::uint16_t>(settings.bitsPerSample);
    f.blockAlign = static_cast<std::uint16_t>(f.channels * f.bitsPerSample / 8);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

void applyFormatRow(Settings &settings, int row)
{
    if (row < 0 || row >= kWaveFormatCount)
        return;
    const WaveFormatRow &r = WaveFormatTable[static_cast<std::size_t>(row)];
    settings.sampleRate = r.sampleRate;
    settings.bitsPerSample = r.bitsPerSample;
    settings.stereo = r.stereo;
}

} // namespace quillon
