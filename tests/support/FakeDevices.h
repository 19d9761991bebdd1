#pragma once

#include "capture/AudioBackend.h"

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

} // namespace quillon::test
