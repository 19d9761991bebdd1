#pragma once

#include "capture/AudioBackend.h"

#include <memory>
#include <string>
#include <vector>

namespace quillon {

// The program's one list of capture devices: several backends (PortAudio first, the
// virtual bench after it, test backends) concatenated into one device numbering.
// Device n of the list is device n - (devices of the backends before it) of its backend.
// Backends are added at start-up, before the list is used; window thread only.
class DeviceList : public AudioBackend
{
public:
    DeviceList() = default;
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    // Appends a backend that the list does not own; it must outlive the list.
    void addBackend(AudioBackend &backend);
    // Appends a backend that the list owns from now on.
    void addBackend(std::unique_ptr<AudioBackend> backend);

    // Where list device `device` lives. False when no backend has it.
    struct Location
    {
        AudioBackend *backend = nullptr;
        int localIndex = -1;
    };
    bool locate(int device, Location &where);

    // The first device whose product name is `productName`, or -1. Reads names only:
    // no device is opened.
    int findDevice(const std::string &productName);

    int deviceCount() override;
    bool deviceCaps(int device, DeviceCaps &caps) override;
    std::string productName(int device) override;
    int open(int device, const CaptureFormat &format, BlockQueue &queue,
             std::unique_ptr<InputStream> &stream) override;

private:
    std::vector<AudioBackend *> m_backends; // in numbering order
    std::vector<std::unique_ptr<AudioBackend>> m_owned;
};

} // namespace quillon
