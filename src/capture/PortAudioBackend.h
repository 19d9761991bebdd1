#pragma once

#include "capture/AudioBackend.h"

#include <string>
#include <vector>

namespace quillon {

// The sound cards of the machine through PortAudio. The input-capable devices, in
// PortAudio's order, are the device numbers 0, 1, ...; a device's product name is the
// name PortAudio reports (stable across runs), made unique by " (2)", " (3)", ... when
// several devices report the same name. Samples are 16-bit or packed 24-bit integers.
//
// The constructor initialises PortAudio (the destructor terminates it) with ALSA's and
// JACK's diagnostic messages silenced, so that the device scan prints nothing on
// stderr; they stay silenced while the backend lives. While PortAudio initialises, stderr
// as a whole points at /dev/null: a library below JACK prints there directly. Window
// thread only.
class PortAudioBackend : public AudioBackend
{
public:
    PortAudioBackend();
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend &) = delete;
    PortAudioBackend &operator=(const PortAudioBackend &) = delete;

    // False when PortAudio could not be initialised (the list is then empty).
    bool initialised() const { return m_initialised; }

    int deviceCount() override;
    // The formats are the capability bits of the 16-bit format rows that PortAudio
    // reports as supported (queried on first use, then kept); 24-bit rows are found by a
    // trial open.
    bool deviceCaps(int device, DeviceCaps &caps) override;
    // The name alone, without the format queries (each of which opens the device).
    std::string productName(int device) override;
    // A real Pa_OpenStream: kCaptureBadDevice for a device number out of range,
    // kCaptureBadFormat for a format the device refuses, kCaptureAllocated when it is
    // busy.
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override;

private:
    struct Device
    {
        int paIndex = -1; // PaDeviceIndex
        std::string name;
        int maxInputChannels = 0;
        double latency = 0; // suggested input latency, s
        std::uint32_t formats = 0;
        bool formatsKnown = false;
    };
    bool m_initialised = false;
    std::vector<Device> m_devices;
};

// Makes product names unique: the second and later devices of a name get " (2)",
// " (3)", ... in list order.
std::vector<std::string> uniqueDeviceNames(const std::vector<std::string> &names);

// Installs handlers that drop ALSA's and JACK's library messages instead of printing
// them on stderr. Process-wide; idempotent.
void silenceAudioLibraryMessages();

} // namespace quillon
