#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillon {

// The 6-byte output command of the USB switch interface:
//   byte 0  0x5A
//   byte 1  0x10
//   2..4    0
//   byte 5  the output bits, active low: bit `noiseBit` is 1 while the noise source is off,
//           bit `dutBit` is 1 while the DUT is out of circuit, all others 0. When both name
//           the same bit it is 1 when either output is off.
// Bit numbers are 0..7; a number outside that range (a hand-edited setting) drives no bit.
using UsbSwitchCommand = std::array<std::uint8_t, 6>;
UsbSwitchCommand usbSwitchCommand(bool noiseOn, bool dutIn, int noiseBit, int dutBit);

// The vendor plugin that talks to the USB switch interface: a shared library named
// "libderiru.so" exporting
//   extern "C" unsigned char deriru_write(const unsigned char *bytes, int count);
// which sends `count` command bytes and returns nonzero on success.
//
// The library is loaded on the first write with dlopen: by default first through the
// dynamic loader's search path (LD_LIBRARY_PATH, ld.so.cache, the system folders), then from
// the folder of the running program (/proc/self/exe). A library that cannot be loaded is
// tried again on the next write, so a plugin installed while the program runs is found.
// Window thread only; not copyable.
class DeriruLibrary
{
public:
    static constexpr const char *kLibraryName = "libderiru.so";
    static constexpr const char *kWriteFunction = "deriru_write";

    // `path` empty: the default search above; otherwise exactly that file (tests).
    explicit DeriruLibrary(std::string path = {});
    ~DeriruLibrary();
    DeriruLibrary(const DeriruLibrary &) = delete;
    DeriruLibrary &operator=(const DeriruLibrary &) = delete;

    // Passes the command to deriru_write. False when the library or its function is missing
    // or the plugin reports failure (returns 0).
    bool write(const UsbSwitchCommand &command);

private:
    using WriteFunction = unsigned char (*)(const unsigned char *, int);

    bool load();

    std::string m_path;
    void *m_handle = nullptr;
    WriteFunction m_write = nullptr;
};

} // namespace quillon
