#include "switch/UsbSwitch.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace quillon {

namespace {

std::uint8_t bitMask(int bit)
{
    return bit >= 0 && bit < 8 ? static_cast<std::uint8_t>(1u << bit) : 0;
}

// The folder of the running program, with a trailing '/'; empty if it cannot be read.
std::string programFolder()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    const std::string exe(buffer, static_cast<std::size_t>(length));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

} // namespace

UsbSwitchCommand usbSwitchCommand(bool noiseOn, bool dutIn, int noiseBit, int dutBit)
{
    std::uint8_t bits = 0;
    if (!noiseOn)
        bits |= bitMask(noiseBit);
    if (!dutIn)
        bits |= bitMask(dutBit);
    return {0x5A, 0x10, 0x00, 0x00, 0x00, bits};
}

DeriruLibrary::DeriruLibrary(std::string path) : m_path(std::move(path)) {}

DeriruLibrary::~DeriruLibrary()
{
    if (m_handle)
        ::dlclose(m_handle);
}

bool DeriruLibrary::load()
{
    if (m_write)
        return true;
    if (!m_handle) {
        if (!m_path.empty()) {
            m_handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        } else {
            m_handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
            if (!m_handle) {
                const std::string folder = programFolder();
                if (!folder.empty())
                    m_handle = ::dlopen((folder + kLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
        if (!m_handle)
            return false;
    }
    m_write = reinterpret_cast<WriteFunction>(::dlsym(m_handle, kWriteFunction));
    if (!m_write) {
        // A library without the function is of no use; let go of it so that a corrected
        // plugin can be picked up later.
        ::dlclose(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

bool DeriruLibrary::write(const UsbSwitchCommand &command)
{
    if (!load())
        return false;
    return m_write(command.data(), static_cast<int>(command.size())) != 0;
}

} // namespace quillon
