#include "switch/SwitchControl.h"

#include "SwitchTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

using namespace quillon;
using Calls = std::vector<std::string>;
using Messages = std::vector<int>;
using test::RecordingSink;

TEST(SwitchPortKind, NameSelectsTheKind)
{
    using K = SwitchPortKind;
    const std::pair<const char *, K> cases[] = {{"/dev/ttyS1", K::Serial},
                                                {"/dev/ttyUSB0", K::Serial},
                                                {"/dev/pts/3", K::Serial},
                                                {"COM3", K::Serial},
                                                {"/dev/parport0", K::Parallel},
                                                {"LPT1", K::Parallel},
                                                {"USB", K::Usb},
                                                {"Virtual bench", K::VirtualBench},
                                                {"None", K::None},
                                                {"", K::None},
                                                {"com3", K::None} /* case-sensitive */,
                                                {"/dev/", K::None}};
    for (const auto &[name, kind] : cases)
        EXPECT_EQ(switchPortKind(name), kind) << name;
}

namespace {

// Line driver that records what it is asked ("open <path>", "RTS on", "DTR off", "close").
struct FakeLines : SerialLineDriver
{
    struct State
    {
        Calls calls;
        bool failOpen = false;
        std::optional<ModemLine> refused; // this line refuses every change
    };
    explicit FakeLines(std::shared_ptr<State> s) : state(std::move(s)) {}
    bool open(const std::string &path) override
    {
        state->calls.push_back("open " + path);
        return !state->failOpen;
    }
    bool setLine(ModemLine line, bool on) override
    {
        state->calls.push_back(std::string(line == ModemLine::Rts ? "RTS" : "DTR") +
                               (on ? " on" : " off"));
        return state->refused != line;
    }
    void close() override { state->calls.push_back("close"); }
    std::shared_ptr<State> state;
};

// A serial port through the fake driver: noise on RTS, DUT on DTR.
class SerialSwitching : public ::testing::Test
{
protected:
    SerialSwitching()
    {
        m_settings.automationDeviceName = "/dev/ttyUSB0";
        m_settings.automateNoiseSelection = 0;
        m_settings.automateDeviceSelection = 1;
    }
    Calls takeCalls() { return std::exchange(m_lines->calls, {}); }

    Settings m_settings;
    RecordingSink m_sink;
    std::shared_ptr<FakeLines::State> m_lines = std::make_shared<FakeLines::State>();
    std::optional<SwitchControl> m_control{std::in_place, m_settings, m_sink,
                                           std::make_unique<FakeLines>(m_lines)};
};

} // namespace

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

TEST_F(SerialSwitching, PortThatDoesNotOpenIsReportedAndRetriedOnEveryCall)
{
    m_lines->failOpen = true;
    m_control->setSwitches(true, false);
    m_control->setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "open /dev/ttyUSB0"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotOpenComPort, kMsgCannotOpenComPort}));

    m_lines->failOpen = false; // the adapter is plugged in
    m_control->setSwitches(true, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off"}));
    EXPECT_EQ(m_sink.messages.size(), 2u);
    EXPECT_STREQ(messageText(kMsgCannotOpenComPort),
                 "OOPS - I cannot open the COM port to  set switch settings.");
}

TEST_F(SerialSwitching, RefusedLineIsReportedAndANoiseLineFailureSkipsTheDutLine)
{
    m_lines->refused = ModemLine::Rts;
    m_control->setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on"}));
    m_lines->refused = ModemLine::Dtr;
    m_control->setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"RTS on", "DTR on"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotSetComPort, kMsgCannotSetComPort}));
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

namespace {

// Pseudo-terminals open like serial ports but have no modem lines.
class PseudoTerminals : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (auto &pty : m_ptys) {
            char name[256];
            ASSERT_EQ(::openpty(&pty.master, &pty.slave, name, nullptr, nullptr), 0);
            pty.path = name;
        }
    }
    void TearDown() override
    {
        for (auto &pty : m_ptys) {
            ::close(pty.slave);
            ::close(pty.master);
        }
    }
    struct
    {
        int master = -1, slave = -1;
        std::string path;
    } m_ptys[2];
};

} // namespace

TEST_F(PseudoTerminals, SystemDriverOpensButTheLinesAreRefused)
{
    const auto driver = makeSystemLineDriver();
    ASSERT_TRUE(driver->open(m_ptys[0].path));
    errno = 0;
    EXPECT_FALSE(driver->setLine(ModemLine::Rts, true));
    EXPECT_EQ(errno, ENOTTY);
    driver->close();
    EXPECT_FALSE(driver->setLine(ModemLine::Dtr, false)); // nothing open

    Settings settings;
    settings.automationDeviceName = m_ptys[1].path;
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
    Settings settings;
    RecordingSink sink;
    {
        SwitchControl control(settings, sink);
        for (const char *name : {"/dev/quillon-no-such-port", "COM1"}) {
            settings.automationDeviceName = name;
            control.setSwitches(true, false);
            EXPECT_FALSE(control.isPortOpen());
        }
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(sink.messages, (Messages{kMsgCannotOpenComPort, kMsgCannotOpenComPort}));
}

TEST(PortProbe, DefaultListHasSevenOfEachFamilySerialFirst)
{
    // Names only: the default list is never probed in tests (/dev/ttyS0 is the console).
    const Calls devices = defaultProbeDevices();
    ASSERT_EQ(devices.size(), 28u);
    EXPECT_EQ(devices[0], "/dev/ttyS0");
    EXPECT_EQ(devices[7], "/dev/ttyUSB0");
    EXPECT_EQ(devices[14], "/dev/ttyACM0");
    EXPECT_EQ(devices[21], "/dev/parport0");
    EXPECT_EQ(devices[27], "/dev/parport6");
}

TEST_F(PseudoTerminals, ProbeListsDevicesThatOpenAndChangesNoSetting)
{
    termios tweaked{};
    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &tweaked), 0);
    ::cfsetspeed(&tweaked, B1200);
    tweaked.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    ASSERT_EQ(::tcsetattr(m_ptys[0].slave, TCSANOW, &tweaked), 0);
    termios before{}, after{};
    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &before), 0);

    EXPECT_EQ(probeSwitchPorts({m_ptys[1].path, "/dev/quillon-no-such-tty", m_ptys[0].path}),
              (Calls{m_ptys[1].path, m_ptys[0].path, "USB", "Virtual bench"}));
    EXPECT_EQ(probeSwitchPorts({}), (Calls{"USB", "Virtual bench"}));

    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}
