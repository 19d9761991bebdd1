#include "switch/SerialLines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace quillon;
using Names = std::vector<std::string>;

TEST(PortProbe, DefaultListHasSevenOfEachFamilySerialFirst)
{
    // Only the names are checked here: the probe itself never runs on the default list in
    // tests, since this machine's /dev/ttyS0 is its console.
    const Names devices = defaultProbeDevices();
    ASSERT_EQ(devices.size(), 28u);
    EXPECT_EQ(devices[0], "/dev/ttyS0");
    EXPECT_EQ(devices[6], "/dev/ttyS6");
    EXPECT_EQ(devices[7], "/dev/ttyUSB0");
    EXPECT_EQ(devices[13], "/dev/ttyUSB6");
    EXPECT_EQ(devices[14], "/dev/ttyACM0");
    EXPECT_EQ(devices[20], "/dev/ttyACM6");
    EXPECT_EQ(devices[21], "/dev/parport0");
    EXPECT_EQ(devices[27], "/dev/parport6");
}

namespace {

class ProbeOfPseudoTerminals : public ::testing::Test
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

    struct Pty
    {
        int master = -1;
        int slave = -1;
        std::string path;
    } m_ptys[2];
};

} // namespace

TEST_F(ProbeOfPseudoTerminals, ListsTheDevicesThatOpenInOrderThenUsbAndVirtualBench)
{
    const Names ports = probeSwitchPorts(
        {m_ptys[1].path, "/dev/quillon-no-such-tty", m_ptys[0].path, "/dev/quillon-no-such-lp"});
    EXPECT_EQ(ports, (Names{m_ptys[1].path, m_ptys[0].path, "USB", "Virtual bench"}));
    EXPECT_EQ(probeSwitchPorts({}), (Names{"USB", "Virtual bench"}));
    EXPECT_TRUE(deviceOpens(m_ptys[0].path));
    EXPECT_FALSE(deviceOpens("/dev/quillon-no-such-tty"));
}

TEST_F(ProbeOfPseudoTerminals, ProbeChangesNoSettingOfTheDevice)
{
    termios tweaked{};
    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &tweaked), 0);
    ::cfsetispeed(&tweaked, B1200);
    ::cfsetospeed(&tweaked, B1200);
    tweaked.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    ASSERT_EQ(::tcsetattr(m_ptys[0].slave, TCSANOW, &tweaked), 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &before), 0);

    probeSwitchPorts({m_ptys[0].path});

    termios after{};
    ASSERT_EQ(::tcgetattr(m_ptys[0].slave, &after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}
