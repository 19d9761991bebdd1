// Switch outputs: fake and pty serial lines (never the machine's own ports), the probe, bench
// and USB plugin.
#include "switch/SwitchControl.h"

#include "FakeDeriru.h"
#include "core/Messages.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <optional>
#include <pty.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // for Settings{.field = value}

using namespace quillon;
using Calls = std::vector<std::string>;
using Messages = std::vector<int>;

namespace {

struct Sink : MessageSink
{
    void showMessage(int messageId) override { messages.push_back(messageId); }
    Messages messages;
};

// Logs "open <path>", "RTS on", "DTR off", "close"; can fail to open or refuse one line.
struct FakeLines : SerialLineDriver
{
    explicit FakeLines(Calls &calls) : calls(calls) {}
    bool log(const std::string &call, bool ok) { return calls.push_back(call), ok; }
    bool open(const std::string &path) override { return log("open " + path, !failOpen); }
    bool setLine(ModemLine line, bool on) override
    {
        return log(std::string(line == ModemLine::Rts ? "RTS" : "DTR") + (on ? " on" : " off"),
                   refused != line);
    }
    void close() override { log("close", true); }
    Calls &calls;
    bool failOpen = false;
    std::optional<ModemLine> refused;
};

// A serial port through the fake driver: noise on RTS, DUT on DTR.
class SerialSwitching : public ::testing::Test
{
protected:
    Calls takeCalls() { return std::exchange(calls, {}); }

    Settings settings{.dutLine = 1, .switchPortName = "/dev/ttyUSB0"};
    Sink sink;
    Calls calls;
    FakeLines *lines = new FakeLines(calls); // owned by `control`
    std::optional<SwitchControl> control{std::in_place, settings, sink,
                                         std::unique_ptr<FakeLines>(lines)};
};

struct Pty
{
    Pty() { EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0); }
    ~Pty() { ::close(slave), ::close(master); }
    int master = -1, slave = -1;
    char name[256] = {};
};

} // namespace

TEST(PortNames, KindOfEachNameAndTheDefaultProbeList)
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
    // The default list, by name only (never probed here): seven of each family, serial first.
    Calls expected;
    for (const char *family : {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/parport"})
        for (int n = 0; n < 7; ++n)
            expected.push_back(family + std::to_string(n));
    EXPECT_EQ(defaultProbeDevices(), expected);
}

TEST_F(SerialSwitching, SeriesOnRtsAndDtrPortHeldUntilClosedOrReplacedOtherPortsDriveNoLine)
{
    // Readings k = 0..3: noise on for 0 and 2, DUT in for 2 and 3. One open for all.
    for (int k = 0; k < 4; ++k)
        control->setSwitches(k == 0 || k == 2, k >= 2);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "DTR off", "RTS off", "DTR off",
                                  "RTS on", "DTR on", "RTS off", "DTR on"}));
    control->closePort();
    control->closePort();
    settings.noiseSourceLine = 7; // any nonzero selection means DTR
    settings.dutLine = 0;
    control->setSwitches(true, false);
    settings.switchPortName = "COM3"; // another port chosen on the Setup page
    control->setSwitches(false, true);
    std::vector<std::pair<bool, bool>> bench;
    for (const char *name : {"/dev/parport0", "LPT1", "None", "", "Virtual bench"}) {
        settings.switchPortName = name; // no line driven; the bench not yet wired
        control->setSwitches(true, false);
    }
    control->setVirtualBenchOutputs([&](bool noise, bool dut) { bench.emplace_back(noise, dut); });
    control->setSwitches(false, true);
    EXPECT_EQ(bench, (std::vector<std::pair<bool, bool>>{{false, true}}));
    EXPECT_EQ(takeCalls(), (Calls{"close", "open /dev/ttyUSB0", "DTR on", "RTS off", "close",
                                  "open COM3", "DTR off", "RTS on", "close"}));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SerialSwitching, FailedOpenIsRetriedOnEveryCallARefusedNoiseLineSkipsTheDutLine)
{
    lines->failOpen = true;
    control->setSwitches(true, false);
    control->setSwitches(false, false);
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "open /dev/ttyUSB0"}));
    lines->failOpen = false; // the adapter is plugged in
    lines->refused = ModemLine::Rts;
    control->setSwitches(true, true);
    lines->refused = ModemLine::Dtr;
    control->setSwitches(true, true);
    control.reset(); // closes the port
    EXPECT_EQ(takeCalls(), (Calls{"open /dev/ttyUSB0", "RTS on", "RTS on", "DTR on", "close"}));
    EXPECT_EQ(sink.messages, (Messages{kMsgCannotOpenComPort, kMsgCannotOpenComPort,
                                       kMsgCannotSetComPort, kMsgCannotSetComPort}));
}

TEST(SystemPorts, PtyOpensButRefusesTheModemLinesAndIsProbedWithoutChangingASetting)
{
    Pty first, second;
    termios before{}, after{}; // a pty starts cooked at 38400 baud: not what a port open sets
    ASSERT_EQ(::tcgetattr(first.slave, &before), 0);
    EXPECT_EQ(probeSwitchPorts({second.name, "/dev/quillon-no-such-tty", first.name}),
              (Calls{second.name, first.name, "USB", "Virtual bench"}));
    ASSERT_EQ(::tcgetattr(first.slave, &after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    const auto driver = makeSystemLineDriver();
    ASSERT_TRUE(driver->open(first.name));
    errno = 0;
    EXPECT_FALSE(driver->setLine(ModemLine::Rts, true));
    EXPECT_EQ(errno, ENOTTY);
    driver->close();
    EXPECT_FALSE(driver->setLine(ModemLine::Dtr, false)); // nothing open
    EXPECT_FALSE(driver->open("/dev/quillon-no-such-port"));
    std::ofstream("COM1") << "not a port"; // a file in the working folder is not the port
    EXPECT_FALSE(driver->open("COM1"));
    ::unlink("COM1");

    Settings settings{.switchPortName = second.name};
    Sink sink;
    SwitchControl(settings, sink).setSwitches(true, true);
    EXPECT_EQ(sink.messages, Messages{kMsgCannotSetComPort}); // the DUT line is not tried
}

// "USB" with the test plugin, opened here too to read its record (the same loaded copy).
class UsbSwitching : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(rec, nullptr) << ::dlerror();
        *rec = {};
        control.setUsbLibraryPath(QUILLON_TEST_PLUGIN);
    }
    std::vector<int> lastCommand() const { return {rec->bytes, rec->bytes + 6}; }

    FakeDeriruRecord *rec = static_cast<FakeDeriruRecord *>(
        ::dlsym(::dlopen(QUILLON_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL), "fake_deriru_record"));
    Settings settings{.switchPortName = "USB"};
    Sink sink;
    SwitchControl control{settings, sink};
};

TEST_F(UsbSwitching, PluginReceivesTheSixCommandBytesActiveLow)
{
    // Byte 5 for (noise on, DUT in), (off, in), (on, out), (off, out).
    const std::tuple<int, int, std::vector<int>> cases[] = {
        {0, 3, {0x00, 0x01, 0x08, 0x09}},
        {2, 2, {0x00, 0x04, 0x04, 0x04}}, // one shared bit: set while either is off
        {7, 6, {0x00, 0x80, 0x40, 0xC0}},
        {8, -1, {0, 0, 0, 0}}}; // bits outside 0..7 (a hand-edited setting): none
    for (const auto &[noiseBit, dutBit, bits] : cases) {
        settings.noiseSourceLine = noiseBit;
        settings.dutLine = dutBit;
        for (int k = 0; k < 4; ++k) {
            control.setSwitches(k % 2 == 0, k < 2);
            EXPECT_EQ(lastCommand(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, bits[k]}))
                << "bits " << noiseBit << "," << dutBit << " state " << k;
        }
    }
    EXPECT_EQ(rec->calls, 16);
    EXPECT_EQ(rec->count, 6);
}

TEST_F(UsbSwitching, FailuresAreReportedAndTheDefaultSearchFindsThePluginInTheProgramsFolder)
{
    rec->result = 0;
    control.setSwitches(true, false);
    rec->result = 0x80; // any nonzero byte is success
    control.setSwitches(true, false);
    control.setUsbLibraryPath("/nonexistent/libderiru.so");
    control.setSwitches(true, true);
    control.setUsbLibraryPath("libm.so.6"); // loads, but has no deriru_write
    control.setSwitches(true, true);
    EXPECT_EQ(rec->calls, 2);
    EXPECT_EQ(sink.messages, Messages(3, kMsgCannotWriteUsb));
    control.setUsbLibraryPath(""); // the test plugin is built as libderiru.so next to the test
    control.setSwitches(false, true);
    EXPECT_EQ(lastCommand(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, 0x01}));
}
