// Switch outputs: serial lines through a fake driver and through pseudo-terminals, the port
// probe on the test's own device list (/dev/ttyS0 is the console), the bench, the USB plugin.
#include "switch/SwitchControl.h"

#include "FakeDeriru.h"
#include "app/Messages.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace quillon;
using Calls = std::vector<std::string>;
using Messages = std::vector<int>;

namespace {

struct RecordingSink : MessageSink
{
    void showMessage(int messageId) override { messages.push_back(messageId); }
    Messages messages;
};

// Line driver that records what it is asked ("open <path>", "RTS on", "DTR off", "close").
struct FakeLines : SerialLineDriver
{
    struct Log
    {
        Calls calls;
        bool failOpen = false;
        std::optional<ModemLine> refused; // this line refuses every change
    };
    explicit FakeLines(Log &log) : log(log) {}
    bool open(const std::string &path) override
    {
        log.calls.push_back("open " + path);
        return !log.failOpen;
    }
    bool setLine(ModemLine line, bool on) override
    {
        log.calls.push_back(std::string(line == ModemLine::Rts ? "RTS" : "DTR") +
                            (on ? " on" : " off"));
        return log.refused != line;
    }
    void close() override { log.calls.push_back("close"); }
    Log &log;
};

// A serial port through the fake driver: noise on RTS, DUT on DTR.
class SerialSwitching : public ::testing::Test
{
protected:
    SerialSwitching()
    {
        m_settings.automationDeviceName = "/dev/ttyUSB0";
        m_settings.automateDeviceSelection = 1;
    }
    Calls takeCalls() { return std::exchange(m_lines.calls, {}); }

    Settings m_settings;
    RecordingSink m_sink;
    FakeLines::Log m_lines;
    std::optional<SwitchControl> m_control{std::in_place, m_settings, m_sink,
                                           std::make_unique<FakeLines>(m_lines)};
};

// A pseudo-terminal opens like a serial port but has no modem lines.
struct Pty
{
    Pty() { EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0); }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    int master = -1, slave = -1;
    char name[256] = {};
};

} // namespace

TEST(SwitchPortKind, NameSelectsTheKind)
{
    using K = SwitchPortKind;
    const std::pair<K, std::vector<const char *>> cases[] = {
        {K::Serial, {"/dev/ttyUSB0", "/dev/pts/3", "COM3"}},
        {K::Parallel, {"/dev/parport0", "LPT1"}},
        {K::Usb, {"USB"}},
        {K::VirtualBench, {"Virtual bench"}},
        {K::None, {"None", "", "com3" /* case-sensitive */, "/dev/"}}};
    for (const auto &[kind, names] : cases)
        for (const char *name : names)
            EXPECT_EQ(switchPortKind(name), kind) << name;
}

TEST_F(SerialSwitching, MeasureDeviceSeriesOnRtsAndDtrActiveHigh)
{
    // Readings k = 0..3: noise on for 0 and 2, DUT in for 2 and 3. One open for all.
    for (int k = 0; k < 4; ++k)
        m_control->setSwitches(k == 0 || k == 2, k >= 2);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "RTS off", "DTR off",
                                  "RTS on", "DTR on", "RTS off", "DTR on"}));

    // Noise on DTR moves the DUT to RTS; any nonzero selection means DTR.
    m_settings.automateNoiseSelection = 7;
    m_settings.automateDeviceSelection = 0;
    m_control->setSwitches(true, true);
    m_control->setSwitches(false, true);
    EXPECT_EQ(takeCalls(), (Calls{"DTR on", "RTS on", "DTR off", "RTS on"}));
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(SerialSwitching, FailedOpenIsRetriedOnEveryCallAndARefusedNoiseLineSkipsTheDutLine)
{
    m_lines.failOpen = true;
    m_control->setSwitches(true, false);
    m_control->setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "open /dev/ttyUSB0"}));
    m_lines.failOpen = false; // the adapter is plugged in
    m_lines.refused = ModemLine::Rts;
    m_control->setSwitches(true, true);
    m_lines.refused = ModemLine::Dtr;
    m_control->setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "RTS on", "DTR on"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotOpenComPort, kMsgCannotOpenComPort,
                                         kMsgCannotSetComPort, kMsgCannotSetComPort}));
    EXPECT_STREQ(messageText(kMsgCannotOpenComPort),
                 "OOPS - I cannot open the COM port to  set switch settings.");
    EXPECT_STREQ(messageText(kMsgCannotSetComPort), "Error. Cannot set Com port status.");
}

TEST_F(SerialSwitching, PortIsHeldUntilClosedReplacedOrDestroyed)
{
    m_control->setSwitches(true, false);
    m_control->closePort();
    m_control->closePort();
    EXPECT_FALSE(m_control->isPortOpen());
    m_control->setSwitches(true, false);
    m_settings.automationDeviceName = "COM3"; // another port chosen on the Setup page
    m_control->setSwitches(false, true);
    m_control.reset();
    EXPECT_EQ(takeCalls(),
              (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "close", "open /dev/ttyUSB0",
                     "RTS on", "DTR off", "close", "open COM3", "RTS off", "DTR on", "close"}));
}

TEST_F(SerialSwitching, OtherPortsDriveNoLineAndTheBenchGetsBothOutputs)
{
    std::vector<std::pair<bool, bool>> bench;
    for (const char *name : {"/dev/parport0", "LPT1", "None", "", "Virtual bench"}) {
        m_settings.automationDeviceName = name;
        m_control->setSwitches(true, false); // bench not yet wired: nothing happens
    }
    m_control->setVirtualBenchOutputs(
        [&](bool noise, bool dut) { bench.emplace_back(noise, dut); });
    m_control->setSwitches(false, true);
    m_settings.automationDeviceName = "LPT1";
    m_control->setSwitches(true, true);
    EXPECT_EQ(bench, (std::vector<std::pair<bool, bool>>{{false, true}}));
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST(SystemLineDriver, PseudoTerminalOpensButRefusesTheLines)
{
    Pty first, second;
    const auto driver = makeSystemLineDriver();
    ASSERT_TRUE(driver->open(first.name));
    errno = 0;
    EXPECT_FALSE(driver->setLine(ModemLine::Rts, true));
    EXPECT_EQ(errno, ENOTTY);
    driver->close();
    EXPECT_FALSE(driver->setLine(ModemLine::Dtr, false)); // nothing open

    Settings settings;
    settings.automationDeviceName = second.name;
    RecordingSink sink;
    SwitchControl control(settings, sink);
    control.setSwitches(true, false);
    control.setSwitches(false, true);
    // One message per call: the DUT line is not tried after the noise line failed.
    EXPECT_EQ(sink.messages, (Messages{kMsgCannotSetComPort, kMsgCannotSetComPort}));
    EXPECT_TRUE(control.isPortOpen());
}

TEST(SystemLineDriver, MissingDevicesAndRelativeNamesDoNotOpen)
{
    // A file named like a Windows port in the working folder is not the port.
    std::string folder = (std::filesystem::temp_directory_path() / "quillon-com-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    std::ofstream(folder + "/COM1") << "not a port";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const auto driver = makeSystemLineDriver();
    EXPECT_FALSE(driver->open("COM1"));
    EXPECT_FALSE(driver->open("/dev/quillon-no-such-port"));
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

TEST(PortProbe, ListsDevicesThatOpenInOrderAndChangesNoSetting)
{
    Pty first, second;
    termios tweaked{}, before{}, after{};
    ASSERT_EQ(::tcgetattr(first.slave, &tweaked), 0);
    ::cfsetspeed(&tweaked, B1200);
    tweaked.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    ASSERT_EQ(::tcsetattr(first.slave, TCSANOW, &tweaked), 0);
    ASSERT_EQ(::tcgetattr(first.slave, &before), 0);
    EXPECT_EQ(probeSwitchPorts({second.name, "/dev/quillon-no-such-tty", first.name}),
              (Calls{second.name, first.name, "USB", "Virtual bench"}));
    EXPECT_EQ(probeSwitchPorts({}), (Calls{"USB", "Virtual bench"}));
    ASSERT_EQ(::tcgetattr(first.slave, &after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    // The default list, names only: seven of each family, serial first.
    const Calls devices = defaultProbeDevices();
    ASSERT_EQ(devices.size(), 28u);
    EXPECT_EQ(devices[0] + devices[7] + devices[14] + devices[21] + devices[27],
              "/dev/ttyS0/dev/ttyUSB0/dev/ttyACM0/dev/parport0/dev/parport6");
}

namespace {

// SwitchControl on "USB" with the test plugin, opened here a second time to read its record
// (dlopen of the same file gives the same loaded copy).
class UsbSwitching : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(m_handle, nullptr) << ::dlerror();
        m_record =
            reinterpret_cast<FakeDeriruRecord *(*)()>(::dlsym(m_handle, "fake_deriru_record"))();
        *m_record = FakeDeriruRecord{};
        m_settings.automationDeviceName = "USB";
        m_control.setUsbLibraryPath(QUILLON_TEST_PLUGIN);
    }
    ~UsbSwitching() override { ::dlclose(m_handle); }
    std::vector<int> lastCommand() const { return {m_record->bytes, m_record->bytes + 6}; }

    void *m_handle = ::dlopen(QUILLON_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    FakeDeriruRecord *m_record = nullptr;
    Settings m_settings;
    RecordingSink m_sink;
    SwitchControl m_control{m_settings, m_sink};
};

} // namespace

TEST_F(UsbSwitching, PluginReceivesTheSixCommandBytesActiveLow)
{
    // Byte 5 for (noise on, DUT in), (off, in), (on, out), (off, out).
    const struct
    {
        int noiseBit, dutBit;
        std::array<int, 4> bits;
    } cases[] = {{0, 3, {0x00, 0x01, 0x08, 0x09}},
                 {2, 2, {0x00, 0x04, 0x04, 0x04}}, // one shared bit: set while either is off
                 {7, 6, {0x00, 0x80, 0x40, 0xC0}},
                 {8, -1, {0, 0, 0, 0}}, // bits outside 0..7 (a hand-edited setting): none
                 {31, 5, {0, 0, 0x20, 0x20}}};
    for (const auto &c : cases) {
        m_settings.automateNoiseSelection = c.noiseBit;
        m_settings.automateDeviceSelection = c.dutBit;
        for (int k = 0; k < 4; ++k) {
            m_control.setSwitches(k % 2 == 0, k < 2);
            EXPECT_EQ(m_record->count, 6);
            EXPECT_EQ(lastCommand(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, c.bits[k]}))
                << "bits " << c.noiseBit << "," << c.dutBit << " state " << k;
        }
    }
    EXPECT_EQ(m_record->calls, 20);
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(UsbSwitching, FailedWritesMissingLibraryAndMissingFunctionAreReported)
{
    m_record->result = 0;
    m_control.setSwitches(true, false);
    m_record->result = 0x80; // any nonzero byte is success
    m_control.setSwitches(true, false);
    m_control.setUsbLibraryPath("/nonexistent/libderiru.so");
    m_control.setSwitches(true, true);
    m_control.setUsbLibraryPath("libm.so.6"); // loads, but has no deriru_write
    m_control.setSwitches(true, true);
    EXPECT_EQ(m_record->calls, 2);
    EXPECT_EQ(m_sink.messages, Messages(3, kMsgCannotWriteUsb));
    EXPECT_STREQ(messageText(kMsgCannotWriteUsb),
                 "Error - Cannot write to Kestrel VNA USB device.");
}

TEST_F(UsbSwitching, DefaultSearchFindsThePluginInTheProgramsFolder)
{
    // The test plugin is built as libderiru.so next to this test program.
    DeriruLibrary library;
    EXPECT_TRUE(library.write(usbSwitchCommand(false, true, 0, 3)));
    EXPECT_EQ(m_record->calls, 1);
    EXPECT_EQ(lastCommand(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, 0x01}));
}
