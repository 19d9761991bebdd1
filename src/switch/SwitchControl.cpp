#include "switch/SwitchControl.h"

#include "core/Messages.h"
#include "core/Settings.h"

namespace quillon {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

ModemLine serialLine(int selection)
{
    return selection == 0 ? ModemLine::Rts : ModemLine::Dtr;
}

} // namespace

SwitchPortKind switchPortKind(std::string_view name)
{
    // The first three characters decide for the names a Windows setting carries.
    if (startsWith(name, "COM"))
        return SwitchPortKind::Serial;
    if (startsWith(name, "USB"))
        return SwitchPortKind::Usb;
    if (startsWith(name, "LPT"))
        return SwitchPortKind::Parallel;
    if (name == kVirtualBenchPortName)
        return SwitchPortKind::VirtualBench;
    if (startsWith(name, "/dev/parport") || startsWith(name, "/dev/lp"))
        return SwitchPortKind::Parallel;
    // Every other device path is taken for a serial port: /dev/ttyS*, /dev/ttyUSB*,
    // /dev/ttyACM*, /dev/serial/by-id/..., pseudo-terminals.
    if (startsWith(name, "/dev/") && name.size() > 5)
        return SwitchPortKind::Serial;
    return SwitchPortKind::None;
}

SwitchControl::SwitchControl(const Settings &settings, MessageSink &messages,
                             std::unique_ptr<SerialLineDriver> lines)
    : m_settings(settings), m_messages(messages), m_lines(std::move(lines)),
      m_usb(std::make_unique<DeriruLibrary>())
{
}

SwitchControl::~SwitchControl()
{
    closePort();
}

void SwitchControl::closePort()
{
    if (m_openPort.empty())
        return;
    m_lines->close();
    m_openPort.clear();
}

void SwitchControl::setVirtualBenchOutputs(std::function<void(bool, bool)> outputs)
{
    m_benchOutputs = std::move(outputs);
}

void SwitchControl::setUsbLibraryPath(std::string path)
{
    m_usb = std::make_unique<DeriruLibrary>(std::move(path));
}

void SwitchControl::setSwitches(bool noiseOn, bool dutIn)
{
    const int failure = trySetSwitches(noiseOn, dutIn);
    if (failure != 0)
        m_messages.showMessage(failure);
}

int SwitchControl::trySetSwitches(bool noiseOn, bool dutIn)
{
    const std::string &name = m_settings.switchPortName;
    // A port chosen earlier and since replaced on the Setup page is let go, so that its lines
    // are not mistaken for the new port's.
    if (isPortOpen() && m_openPort != name)
        closePort();

    switch (switchPortKind(name)) {
    case SwitchPortKind::Serial:
        return setSerial(noiseOn, dutIn);
    case SwitchPortKind::Usb:
        return setUsb(noiseOn, dutIn);
    case SwitchPortKind::VirtualBench:
        if (m_benchOutputs)
            m_benchOutputs(noiseOn, dutIn);
        return 0;
    case SwitchPortKind::Parallel:
    case SwitchPortKind::None:
        break;
    }
    return 0;
}

int SwitchControl::setSerial(bool noiseOn, bool dutIn)
{
    const std::string &name = m_settings.switchPortName;
    if (!isPortOpen()) {
        if (!m_lines->open(name))
            return kMsgCannotOpenComPort;
        m_openPort = name;
    }
    if (!m_lines->setLine(serialLine(m_settings.noiseSourceLine), noiseOn))
        return kMsgCannotSetComPort;
    if (!m_lines->setLine(serialLine(m_settings.dutLine), dutIn))
        return kMsgCannotSetComPort;
    return 0;
}

int SwitchControl::setUsb(bool noiseOn, bool dutIn)
{
    const UsbSwitchCommand command = usbSwitchCommand(
        noiseOn, dutIn, m_settings.noiseSourceLine, m_settings.dutLine);
    return m_usb->write(command) ? 0 : kMsgCannotWriteUsb;
}

} // namespace quillon
