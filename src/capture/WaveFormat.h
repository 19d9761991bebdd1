#pragma once

#include <array>
#include <cstdint>

namespace quillon {

struct Settings;

// Format capability bits a device reports for its 16-bit formats (the classic wave-input
// flag values). The 24-bit rows carry all bits set: such a format is found by a trial open.
inline constexpr std::uint32_t kFormat1M16 = 0x4;
inline constexpr std::uint32_t kFormat1S16 = 0x8;
inline constexpr std::uint32_t kFormat2M16 = 0x40;
inline constexpr std::uint32_t kFormat2S16 = 0x80;
inline constexpr std::uint32_t kFormat4M16 = 0x400;
inline constexpr std::uint32_t kFormat4S16 = 0x800;
inline constexpr std::uint32_t kFormat48M16 = 0x4000;
inline constexpr std::uint32_t kFormat48S16 = 0x8000;
inline constexpr std::uint32_t kFormat96M16 = 0x40000;
inline constexpr std::uint32_t kFormat96S16 = 0x80000;
inline constexpr std::uint32_t kFormatProbe = 0xFFFFFFFFu;

struct WaveFormatRow
{
    std::uint32_t capabilityFlag; // kFormat*16 bit, or kFormatProbe for 24-bit rows
    const char *label;            // shown in the Setup page's format list, verbatim
    std::uint32_t bitsPerSample;  // 16 or 24
    std::int32_t sampleRate;      // Hz
    bool stereo;
};

inline constexpr int kWaveFormatCount = 20;

// The 20 selectable capture formats; Settings::waveInFormat is a row index.
inline constexpr std::array<WaveFormatRow, kWaveFormatCount> WaveFormatTable{{
    {kFormat1M16, "11.025 kHz, mono, 16-bit", 16, 11025, false},
    {kFormatProbe, "11.025 kHz, mono, 24-bit", 24, 11025, false},
    {kFormat1S16, "11.025 kHz, stereo, 16-bit", 16, 11025, true},
    {kFormatProbe, "11.025 kHz, stereo, 24-bit", 24, 11025, true},
    {kFormat2M16, "22.05 kHz, mono, 16-bit", 16, 22050, false},
    {kFormatProbe, "22.05 kHz, mono, 24-bit", 24, 22050, false},
    {kFormat2S16, "22.05 kHz, stereo, 16-bit", 16, 22050, true},
    {kFormatProbe, "22.05 kHz, stereo, 24-bit", 24, 22050, true},
    {kFormat4M16, "44.1 kHz, mono, 16-bit", 16, 44100, false},
    {kFormatProbe, "44.1 kHz, mono, 24-bit", 24, 44100, false},
    {kFormat4S16, "44.1 kHz, stereo, 16-bit", 16, 44100, true},
    {kFormatProbe, "44.1 kHz, stereo, 24-bit", 24, 44100, true},
    {kFormat48M16, "48 KHz, mono, 16 bit", 16, 48000, false},
    {kFormatProbe, "48 kHz, mono, 24-bit", 24, 48000, false},
    {kFormat48S16, "48 KHz, stereo, 16 bit", 16, 48000, true},
    {kFormatProbe, "48 kHz, stereo, 24-bit", 24, 48000, true},
    {kFormat96M16, "96 KHz, mono, 16 bit", 16, 96000, false},
    {kFormatProbe, "96 kHz, mono, 24-bit", 24, 96000, false},
    {kFormat96S16, "96 KHz, stereo, 16 bit", 16, 96000, true},
    {kFormatProbe, "96 kHz, stereo, 24-bit", 24, 96000, true},
}};

// The capture format handed to a backend (the fields of a PCM WAVEFORMATEX).
struct CaptureFormat
{
    std::uint16_t formatTag = 1; // PCM
    std::uint16_t channels = 1;  // 1 or 2
    std::uint32_t samplesPerSec = 44100;
    std::uint32_t avgBytesPerSec = 88200; // blockAlign * samplesPerSec
    std::uint16_t blockAlign = 2;         // bytes per frame: 2, 3, 4 or 6
    std::uint16_t bitsPerSample = 16;     // 16 or 24
};

// Builds the capture format from the format fields of `settings` (stereo, sampleRate,
// bitsPerSample).
CaptureFormat deriveFormat(const Settings &settings);

// Copies row `row`'s rate, width and channel flag into `settings`; rows outside 0..19
// are ignored. Does not select the high-pass filter (callers do that).
void applyFormatRow(Settings &settings, int row);

} // namespace quillon
