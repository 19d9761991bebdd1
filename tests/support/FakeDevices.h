#pragma once

#include "capture/AudioBackend.h"

#include <memory>
#include <string>
#include <vector>

namespace quillon::test {

// A device list whose devices only report capabilities; opening always fails. For code
// that checks device names and formats without capturing.
class NamedDevices : public AudioBackend
{
public:
    struct Device
    {
        std::string name;
        std::uint32_t formats = 0;
        bool capsReadable = true;
    };

    explicit NamedDevices(std::vector<Device> devices = {}) : m_devices(std::move(devices)) {}

    int deviceCount() override { return static_cast<int>(m_devices.size()); }
    bool deviceCaps(int device, DeviceCaps &caps) override
    {
        if (device < 0 || device >= deviceCount() || !m_devices[device].capsReadable)
            return false;
        caps.productName = m_devices[device].name;
        caps.formats = m_devices[device].formats;
        return true;
    }
    int open(int, const CaptureFormat &, BlockQueue &, std::unique_ptr<InputStream> &) override
    {
        return kCaptureBadDevice;
    }

    std::vector<Device> &devices() { return m_devices; }

private:
    std::vector<Device> m_devices;
};

// Devices 0..2 that fail as real ones do: "Silent" opens and starts but never delivers a
// block; "Refuses" does not open (the probe fails); "Will not start" opens but its start
// fails.
struct FaultyDevices : NamedDevices
{
    struct Stream : InputStream
    {
        Stream(BlockQueue &q, bool startFails) : InputStream(q), fails(startFails) {}
        int start() override { return fails ? kCaptureError : kCaptureOk; }
        void reset() override {}
        void close() override {}
        bool fails;
    };
    FaultyDevices()
        : NamedDevices({{"Silent", 0xFFFFF}, {"Refuses", 0xFFFFF}, {"Will not start", 0xFFFFF}})
    {
    }
    int open(int device, const CaptureFormat &, BlockQueue &q,
             std::unique_ptr<InputStream> &s) override
    {
        if (device == 1)
            return kCaptureBadDevice;
        s = std::make_unique<Stream>(q, device == 2);
        return kCaptureOk;
    }
};

inline constexpr int kSilentDevice = 0, kRefusingDevice = 1, kNoStartDevice = 2;

} // namespace quillon::test
