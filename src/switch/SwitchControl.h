#pragma once

#include "switch/SerialLines.h"
#include "switch/UsbSwitch.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

class MessageSink;
struct Settings;

// Port names that are not device paths.
inline constexpr const char *kNoPortName = "None";
inline constexpr const char *kUsbPortName = "USB";
inline constexpr const char *kVirtualBenchPortName = "Virtual bench";

// What kind of output a Settings::switchPortName selects.
enum class SwitchPortKind
{
    None,        // "None", empty, or a name of no known kind: nothing is driven
    Serial,      // a serial device path (/dev/ttyS0, /dev/ttyUSB0, /dev/pts/3, ...) or "COM..."
    Parallel,    // /dev/parport*, /dev/lp* or "LPT...": can be chosen, drives nothing
    Usb,         // "USB..." : the vendor plugin (DeriruLibrary)
    VirtualBench // "Virtual bench": the simulated bench's two outputs
};
SwitchPortKind switchPortKind(std::string_view name);

// Drives the noise-source and DUT outputs of the port chosen on the Setup page.
//
// Reads Settings::switchPortName, noiseSourceLine and dutLine
// at every call, so changes on the Setup page take effect at the next call.
//   serial   noise and DUT each on RTS (selection 0) or DTR (any other selection); a line
//            is asserted for "noise on" / "DUT in circuit" and cleared otherwise. The
//            noise line is set before the DUT line.
//   USB      one 6-byte command (usbSwitchCommand) to the vendor plugin; data bits are
//            active low.
//   parallel, none: nothing happens.
//   Virtual bench: the outputs handed to setVirtualBenchOutputs.
//
// Failures are reported to the MessageSink (the window code shows a message box) and never
// change the settings:
//   kMsgCannotOpenComPort  the serial port does not open; no line is changed, the next call
//                          tries again
//   kMsgCannotSetComPort   a line is refused; after a refused noise line the DUT line is not
//                          touched
//   kMsgCannotWriteUsb     the plugin is missing, lacks deriru_write or reports failure
//
// The serial port opens on the first call that needs it and stays open until closePort(),
// destruction, or a call made after the chosen port has changed to another name (the old
// port is closed then, so the outputs never go to a port that is no longer chosen).
//
// Window thread only. The settings, the sink and the bench hand-over must outlive this
// object.
class SwitchControl
{
public:
    SwitchControl(const Settings &settings, MessageSink &messages,
                  std::unique_ptr<SerialLineDriver> lines = makeSystemLineDriver());
    ~SwitchControl();
    SwitchControl(const SwitchControl &) = delete;
    SwitchControl &operator=(const SwitchControl &) = delete;

    // Sets the noise-source output (`noiseOn`: source powered) and the DUT output (`dutIn`:
    // DUT in the receive path).
    void setSwitches(bool noiseOn, bool dutIn);
    // The same without the message sink: returns the message number of the failure
    // (kMsgCannotOpenComPort, kMsgCannotSetComPort, kMsgCannotWriteUsb) or 0. For a thread
    // that owns the outputs for a while and is not the window thread (the live meter's): it
    // reports the failure its own way. One thread at a time.
    int trySetSwitches(bool noiseOn, bool dutIn);

    // Closes the serial port if it is open; the next serial call opens it again. The Setup
    // page calls this before it probes the ports.
    void closePort();
    bool isPortOpen() const { return !m_openPort.empty(); }

    // What "Virtual bench" drives: called with (noiseOn, dutIn) on every setSwitches for that
    // port. Unset, the bench port drives nothing.
    void setVirtualBenchOutputs(std::function<void(bool noiseOn, bool dutIn)> outputs);

    // The vendor plugin to load for "USB": empty for the default search of DeriruLibrary,
    // else exactly this file. Drops a library already loaded.
    void setUsbLibraryPath(std::string path);

private:
    int setSerial(bool noiseOn, bool dutIn);
    int setUsb(bool noiseOn, bool dutIn);

    const Settings &m_settings;
    MessageSink &m_messages;
    std::unique_ptr<SerialLineDriver> m_lines;
    std::string m_openPort; // path of the open serial port; empty while closed
    std::unique_ptr<DeriruLibrary> m_usb;
    std::function<void(bool, bool)> m_benchOutputs;
};

} // namespace quillon
