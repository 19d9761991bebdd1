#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quillon {

// The two modem-control outputs of a serial port.
enum class ModemLine
{
    Rts,
    Dtr
};

// Drives the RTS and DTR lines of one serial port. SwitchControl holds one driver and opens
// at most one port with it at a time. The system driver below uses the real device; tests
// pass a fake, since nothing here may touch the machine's own ports.
class SerialLineDriver
{
public:
    virtual ~SerialLineDriver() = default;

    // Opens the port at `path` for switching; true on success. Called only while closed.
    virtual bool open(const std::string &path) = 0;
    // Asserts (`on`) or clears one line of the open port; true on success.
    virtual bool setLine(ModemLine line, bool on) = 0;
    // Closes the port; harmless when none is open.
    virtual void close() = 0;
};

// The driver for real ports: open(2) with O_RDWR | O_NOCTTY | O_NONBLOCK, the lines through
// the TIOCMBIS / TIOCMBIC ioctls. Speed, framing and the other termios settings are never
// touched. Only absolute paths are opened, so a Windows-style name such as "COM3" never
// reaches a file that happens to have that name in the working folder; it fails to open.
// Exclusive mode (TIOCEXCL) is requested while the port is held, so that other programs
// (and the Setup page's probe, for ordinary users) see it as busy.
std::unique_ptr<SerialLineDriver> makeSystemLineDriver();

// The devices that the Setup page's port probe tries, in this order: /dev/ttyS0..6,
// /dev/ttyUSB0..6, /dev/ttyACM0..6 (serial, seven of each family), then /dev/parport0..6.
std::vector<std::string> defaultProbeDevices();

// The port probe of the Setup page's "I/O Port:" list: every device of `devices` that opens,
// in the given order, followed by "USB" and "Virtual bench". The caller puts "None" in front.
// Each device is opened with O_RDWR | O_NOCTTY | O_NONBLOCK and closed at once; no setting
// of it is changed. The switch port must be closed first (SwitchControl::closePort), or the
// program's own port may be missing from the list. Window thread.
std::vector<std::string> probeSwitchPorts(const std::vector<std::string> &devices);

// True when `path` opens as the probe opens it (and it has been closed again).
bool deviceOpens(const std::string &path);

} // namespace quillon
