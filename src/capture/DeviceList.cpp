#include "capture/DeviceList.h"

namespace quillon {

void DeviceList::addBackend(AudioBackend &backend)
{
    m_backends.push_back(&backend);
}

void DeviceList::addBackend(std::unique_ptr<AudioBackend> backend)
{
    if (!backend)
        return;
    m_backends.push_back(backend.get());
    m_owned.push_back(std::move(backend));
}

bool DeviceList::locate(int device, Location &where)
{
    where = Location{};
    if (device < 0)
        return false;
    int first = 0; // list number of the current backend's device 0
    for (AudioBackend *b : m_backends) {
        const int count = b->deviceCount();
        if (device < first + count) {
            where.backend = b;
            where.localIndex = device - first;
            return true;
        }
        first += count;
    }
    return false;
}

int DeviceList::findDevice(const std::string &productName)
{
    const int count = deviceCount();
    for (int i = 0; i < count; ++i) {
        if (DeviceList::productName(i) == productName)
            return i;
    }
    return -1;
}

int DeviceList::deviceCount()
{
    int total = 0;
    for (AudioBackend *b : m_backends)
        total += b->deviceCount();
    return total;
}

bool DeviceList::deviceCaps(int device, DeviceCaps &caps)
{
    Location where;
    if (!locate(device, where))
        return false;
    return where.backend->deviceCaps(where.localIndex, caps);
}

std::string DeviceList::productName(int device)
{
    Location where;
    if (!locate(device, where))
        return {};
    return where.backend->productName(where.localIndex);
}

int DeviceList::open(int device, const CaptureFormat &format, BlockQueue &queue,
                     std::unique_ptr<InputStream> &stream)
{
    stream.reset();
    Location where;
    if (!locate(device, where))
        return kCaptureBadDevice;
    return where.backend->open(where.localIndex, format, queue, stream);
}

} // namespace quillon
