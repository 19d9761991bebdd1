#include "switch/SerialLines.h"

#include "switch/SwitchControl.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quillon {

namespace {

constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

class SystemLineDriver final : public SerialLineDriver
{
public:
    ~SystemLineDriver() override { close(); }

    bool open(const std::string &path) override
    {
        close();
        if (path.empty() || path.front() != '/')
            return false;
        m_fd = ::open(path.c_str(), kOpenFlags);
        if (m_fd < 0)
            return false;
        // Best effort: a device that knows no exclusive mode is still usable for switching.
        ::ioctl(m_fd, TIOCEXCL);
        return true;
    }

    bool setLine(ModemLine line, bool on) override
    {
        if (m_fd < 0)
            return false;
        const int bits = line == ModemLine::Rts ? TIOCM_RTS : TIOCM_DTR;
        int result;
        do {
            result = ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits);
        } while (result < 0 && errno == EINTR);
        return result == 0;
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

} // namespace

std::unique_ptr<SerialLineDriver> makeSystemLineDriver()
{
    return std::make_unique<SystemLineDriver>();
}

std::vector<std::string> defaultProbeDevices()
{
    std::vector<std::string> devices;
    for (const char *family : {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/parport"}) {
        for (int n = 0; n < 7; ++n)
            devices.push_back(family + std::to_string(n));
    }
    return devices;
}

bool deviceOpens(const std::string &path)
{
    const int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::vector<std::string> probeSwitchPorts(const std::vector<std::string> &devices)
{
    std::vector<std::string> ports;
    for (const std::string &device : devices) {
        if (deviceOpens(device))
            ports.push_back(device);
    }
    ports.emplace_back(kUsbPortName);
    ports.emplace_back(kVirtualBenchPortName);
    return ports;
}

} // namespace quillon
