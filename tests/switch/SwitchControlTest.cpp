#include "switch/SwitchControl.h"

#include "SwitchTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>

using namespace quillon;
using namespace quillon::test;
using Calls = std::vector<std::string>;
using Messages = std::vector<int>;

TEST(SwitchPortKind, NameSelectsTheKind)
{
    EXPECT_EQ(switchPortKind("/dev/ttyS1"), SwitchPortKind::Serial);
    EXPECT_EQ(switchPortKind("/dev/ttyUSB0"), SwitchPortKind::Serial);
    EXPECT_EQ(switchPortKind("/dev/ttyACM6"), SwitchPortKind::Serial);
    EXPECT_EQ(switchPortKind("/dev/pts/3"), SwitchPortKind::Serial);
    EXPECT_EQ(switchPortKind("COM3"), SwitchPortKind::Serial);
    EXPECT_EQ(switchPortKind("/dev/parport0"), SwitchPortKind::Parallel);
    EXPECT_EQ(switchPortKind("LPT1"), SwitchPortKind::Parallel);
    EXPECT_EQ(switchPortKind("USB"), SwitchPortKind::Usb);
    EXPECT_EQ(switchPortKind("Virtual bench"), SwitchPortKind::VirtualBench);
    EXPECT_EQ(switchPortKind("None"), SwitchPortKind::None);
    EXPECT_EQ(switchPortKind(""), SwitchPortKind::None);
    // The kind prefixes compare case-sensitively, as the stored names always have them.
    EXPECT_EQ(switchPortKind("com3"), SwitchPortKind::None);
    EXPECT_EQ(switchPortKind("usb"), SwitchPortKind::None);
    EXPECT_EQ(switchPortKind("virtual bench"), SwitchPortKind::None);
    EXPECT_EQ(switchPortKind("/dev/"), SwitchPortKind::None);
}

namespace {

// SwitchControl on a serial port with a fake line driver: noise on RTS, DUT on DTR.
class SerialSwitching : public ::testing::Test
{
protected:
    SerialSwitching()
    {
        m_settings.automationDeviceName = "/dev/ttyUSB0";
        m_settings.automationPresent = true;
        m_settings.automateNoiseSelection = 0;
        m_settings.automateDeviceSelection = 1;
    }

    SwitchControl &control()
    {
        if (!m_control)
            m_control = std::make_unique<SwitchControl>(m_settings, m_sink,
                                                        std::make_unique<FakeLineDriver>(m_lines));
        return *m_control;
    }
    // The calls since the last look.
    Calls takeCalls() { return std::exchange(m_lines->calls, {}); }

    Settings m_settings;
    RecordingSink m_sink;
    std::shared_ptr<FakeLines> m_lines = std::make_shared<FakeLines>();
    std::unique_ptr<SwitchControl> m_control;
};

} // namespace

TEST_F(SerialSwitching, NoiseOnRtsDutOnDtrActiveHigh)
{
    control().setSwitches(true, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off"}));
    control().setSwitches(false, true);
    EXPECT_EQ(takeCalls(), (Calls{"RTS off", "DTR on"}));
    control().setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"RTS off", "DTR off"}));
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(SerialSwitching, NoiseOnDtrPutsDutOnRtsAndAnyNonzeroSelectionMeansDtr)
{
    m_settings.automateNoiseSelection = 1;
    m_settings.automateDeviceSelection = 0;
    control().setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "DTR on", "RTS on"}));

    m_settings.automateNoiseSelection = 7;
    control().setSwitches(false, true);
    EXPECT_EQ(takeCalls(), (Calls{"DTR off", "RTS on"}));
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(SerialSwitching, MeasureDeviceSeriesDrivesTheFourReadings)
{
    // Readings k = 0..3: noise on for 0 and 2, DUT in for 2 and 3.
    for (int k = 0; k < 4; ++k)
        control().setSwitches(k == 0 || k == 2, k >= 2);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "RTS off", "DTR off",
                                  "RTS on", "DTR on", "RTS off", "DTR on"}));
}

TEST_F(SerialSwitching, PortThatDoesNotOpenIsReportedAndRetriedOnEveryCall)
{
    m_lines->failOpen = true;
    control().setSwitches(true, false);
    control().setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "open /dev/ttyUSB0"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotOpenComPort, kMsgCannotOpenComPort}));
    EXPECT_FALSE(control().isPortOpen());

    // The port appears: the next call opens it and sets both lines.
    m_lines->failOpen = false;
    control().setSwitches(true, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off"}));
    EXPECT_EQ(m_sink.messages.size(), 2u);
    EXPECT_STREQ(messageText(kMsgCannotOpenComPort),
                 "OOPS - I cannot open the COM port to  set switch settings.");
}

TEST_F(SerialSwitching, RefusedNoiseLineLeavesTheDutLineAlone)
{
    m_lines->refusedLine = ModemLine::Rts;
    control().setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotSetComPort}));
    // The port stays open; the next call tries the lines again without reopening.
    EXPECT_TRUE(control().isPortOpen());
    control().setSwitches(false, true);
    EXPECT_EQ(takeCalls(), (Calls{"RTS off"}));
    EXPECT_STREQ(messageText(kMsgCannotSetComPort), "Error. Cannot set Com port status.");
}

TEST_F(SerialSwitching, RefusedDutLineIsReportedAfterTheNoiseLineWasSet)
{
    m_lines->refusedLine = ModemLine::Dtr;
    control().setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR on"}));
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotSetComPort}));
}

TEST_F(SerialSwitching, PortStaysOpenUntilClosedOrDestroyed)
{
    control().setSwitches(true, false);
    control().setSwitches(false, false);
    EXPECT_TRUE(control().isPortOpen());
    control().closePort();
    EXPECT_FALSE(control().isPortOpen());
    control().closePort(); // nothing more to close
    control().setSwitches(true, false);
    m_control.reset();
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "RTS off", "DTR off",
                                  "close", "open /dev/ttyUSB0", "RTS on", "DTR off", "close"}));
}

TEST_F(SerialSwitching, ChoosingAnotherPortLetsTheOldOneGo)
{
    control().setSwitches(true, false);
    m_settings.automationDeviceName = "/dev/ttyACM0";
    control().setSwitches(true, true);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "close",
                                  "open /dev/ttyACM0", "RTS on", "DTR on"}));

    // Switching to a port of another kind also closes the serial port.
    m_settings.automationDeviceName = "None";
    control().setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"close"}));
    EXPECT_FALSE(control().isPortOpen());
}

TEST_F(SerialSwitching, WindowsStyleNameIsASerialPort)
{
    m_settings.automationDeviceName = "COM3";
    control().setSwitches(false, true);
    EXPECT_EQ(takeCalls(), (Calls{"open COM3", "RTS off", "DTR on"}));
}

TEST_F(SerialSwitching, ParallelNoneAndEmptyDriveNothing)
{
    int benchCalls = 0;
    control().setVirtualBenchOutputs([&](bool, bool) { ++benchCalls; });
    for (const char *name : {"/dev/parport0", "LPT1", "None", ""}) {
        SCOPED_TRACE(name);
        m_settings.automationDeviceName = name;
        control().setSwitches(true, true);
        control().setSwitches(false, false);
    }
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_TRUE(m_sink.messages.empty());
    EXPECT_EQ(benchCalls, 0);
}

TEST_F(SerialSwitching, VirtualBenchReceivesBothOutputs)
{
    m_settings.automationDeviceName = "Virtual bench";
    // Without a bench wired up nothing happens.
    control().setSwitches(true, true);

    std::vector<std::pair<bool, bool>> outputs;
    control().setVirtualBenchOutputs(
        [&](bool noiseOn, bool dutIn) { outputs.emplace_back(noiseOn, dutIn); });
    control().setSwitches(true, false);
    control().setSwitches(false, true);
    EXPECT_EQ(outputs, (std::vector<std::pair<bool, bool>>{{true, false}, {false, true}}));
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_TRUE(m_sink.messages.empty());
}

namespace {

// A pseudo-terminal: opens like a serial port but has no modem lines.
class PseudoTerminal : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char name[256];
        ASSERT_EQ(::openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_path = name;
    }
    void TearDown() override
    {
        ::close(m_slave);
        ::close(m_master);
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

} // namespace

TEST_F(PseudoTerminal, SystemDriverOpensItButTheLinesAreRefused)
{
    const auto driver = makeSystemLineDriver();
    EXPECT_FALSE(driver->setLine(ModemLine::Rts, true)); // nothing open yet
    ASSERT_TRUE(driver->open(m_path));
    errno = 0;
    EXPECT_FALSE(driver->setLine(ModemLine::Rts, true));
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_FALSE(driver->setLine(ModemLine::Dtr, false));
    driver->close();
    driver->close();
}

TEST_F(PseudoTerminal, RefusedNoiseLineGivesOneMessageAndTheDutLineIsNotTried)
{
    Settings settings;
    settings.automationDeviceName = m_path;
    settings.automateNoiseSelection = 1;
    settings.automateDeviceSelection = 0;
    RecordingSink sink;
    SwitchControl control(settings, sink);
    control.setSwitches(true, false);
    // A second message would mean the DUT line was tried after the noise line failed.
    EXPECT_EQ(sink.messages, (Messages{kMsgCannotSetComPort}));
    EXPECT_TRUE(control.isPortOpen());
    control.setSwitches(false, true);
    EXPECT_EQ(sink.messages, (Messages{kMsgCannotSetComPort, kMsgCannotSetComPort}));
    control.closePort();
    EXPECT_FALSE(control.isPortOpen());
}

TEST(SystemLineDriver, MissingDevicesAndRelativeNamesDoNotOpen)
{
    // A file named like a Windows port in the working folder must not be taken for the port.
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
