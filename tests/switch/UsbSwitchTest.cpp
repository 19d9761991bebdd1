#include "switch/UsbSwitch.h"
#include "switch/SwitchControl.h"

#include "SwitchTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <tuple>

using namespace quillon;
using namespace quillon::test;
using Messages = std::vector<int>;

// (noiseOn, dutIn, noise bit, DUT bit, expected byte 5)
class UsbCommandBits : public ::testing::TestWithParam<std::tuple<bool, bool, int, int, int>>
{
};

TEST_P(UsbCommandBits, OutputBitsAreActiveLow)
{
    const auto [noiseOn, dutIn, noiseBit, dutBit, bits] = GetParam();
    const UsbSwitchCommand command = usbSwitchCommand(noiseOn, dutIn, noiseBit, dutBit);
    EXPECT_EQ(command, (UsbSwitchCommand{0x5A, 0x10, 0, 0, 0, static_cast<std::uint8_t>(bits)}));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, UsbCommandBits,
    ::testing::Values(
        // Noise on bit 0, DUT on bit 3.
        std::make_tuple(true, true, 0, 3, 0x00), std::make_tuple(false, true, 0, 3, 0x01),
        std::make_tuple(true, false, 0, 3, 0x08), std::make_tuple(false, false, 0, 3, 0x09),
        // Both on bit 2: set when either output is off.
        std::make_tuple(true, true, 2, 2, 0x00), std::make_tuple(false, true, 2, 2, 0x04),
        std::make_tuple(true, false, 2, 2, 0x04), std::make_tuple(false, false, 2, 2, 0x04),
        // The top bit, and bit numbers outside 0..7 (a hand-edited setting) drive nothing.
        std::make_tuple(false, false, 7, 6, 0xC0), std::make_tuple(false, false, 8, -1, 0x00),
        std::make_tuple(false, false, 31, 5, 0x20)));

namespace {

// The test plugin (tests/switch/FakeDeriru.cpp), opened here a second time to read what it
// was sent: dlopen of the same file gives the same loaded copy.
class TestPlugin
{
public:
    TestPlugin() : m_handle(::dlopen(QUILLON_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL)) {}
    ~TestPlugin()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    bool loaded() const { return m_handle != nullptr; }
    int calls() const { return call<int (*)()>("fake_deriru_calls")(); }
    int lastCount() const { return call<int (*)()>("fake_deriru_last_count")(); }
    std::vector<int> lastBytes() const
    {
        const unsigned char *bytes = call<const unsigned char *(*)()>("fake_deriru_last_bytes")();
        return std::vector<int>(bytes, bytes + 6);
    }
    void setResult(unsigned char result) const
    {
        call<void (*)(unsigned char)>("fake_deriru_set_result")(result);
    }

private:
    template <typename F> F call(const char *name) const
    {
        return reinterpret_cast<F>(::dlsym(m_handle, name));
    }
    void *m_handle;
};

class UsbSwitching : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_plugin.loaded()) << ::dlerror();
        m_plugin.setResult(1);
        m_settings.automationDeviceName = "USB";
        m_settings.automationPresent = true;
        m_settings.automateNoiseSelection = 0;
        m_settings.automateDeviceSelection = 3;
        m_control.setUsbLibraryPath(QUILLON_TEST_PLUGIN);
    }

    TestPlugin m_plugin;
    Settings m_settings;
    RecordingSink m_sink;
    SwitchControl m_control{m_settings, m_sink,
                            std::make_unique<FakeLineDriver>(std::make_shared<FakeLines>())};
};

} // namespace

TEST_F(UsbSwitching, PluginReceivesTheSixCommandBytes)
{
    const int before = m_plugin.calls();
    const struct
    {
        bool noiseOn, dutIn;
        int bits;
    } examples[] = {
        {true, true, 0x00}, {false, true, 0x01}, {true, false, 0x08}, {false, false, 0x09}};
    for (const auto &example : examples) {
        m_control.setSwitches(example.noiseOn, example.dutIn);
        EXPECT_EQ(m_plugin.lastCount(), 6);
        EXPECT_EQ(m_plugin.lastBytes(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, example.bits}));
    }
    m_settings.automateNoiseSelection = 2;
    m_settings.automateDeviceSelection = 2;
    m_control.setSwitches(true, false);
    EXPECT_EQ(m_plugin.lastBytes(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, 0x04}));
    m_control.setSwitches(true, true);
    EXPECT_EQ(m_plugin.lastBytes(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, 0x00}));
    EXPECT_EQ(m_plugin.calls() - before, 6);
    EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(UsbSwitching, PluginReportingFailureGivesTheUsbMessageEachTime)
{
    m_plugin.setResult(0);
    m_control.setSwitches(true, false);
    m_control.setSwitches(false, false);
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotWriteUsb, kMsgCannotWriteUsb}));
    m_plugin.setResult(0x80); // any nonzero byte is success
    m_control.setSwitches(true, true);
    EXPECT_EQ(m_sink.messages.size(), 2u);
    EXPECT_STREQ(messageText(kMsgCannotWriteUsb),
                 "Error - Cannot write to Kestrel VNA USB device.");
}

TEST_F(UsbSwitching, MissingLibraryOrFunctionCountsAsAFailedWrite)
{
    m_control.setUsbLibraryPath("/nonexistent/libderiru.so");
    m_control.setSwitches(true, true);
    // A library that loads but has no deriru_write.
    m_control.setUsbLibraryPath("libm.so.6");
    m_control.setSwitches(true, true);
    EXPECT_EQ(m_sink.messages, (Messages{kMsgCannotWriteUsb, kMsgCannotWriteUsb}));

    // Back to a working plugin: the write goes through.
    const int before = m_plugin.calls();
    m_control.setUsbLibraryPath(QUILLON_TEST_PLUGIN);
    m_control.setSwitches(false, true);
    EXPECT_EQ(m_plugin.calls(), before + 1);
    EXPECT_EQ(m_sink.messages.size(), 2u);
}

TEST_F(UsbSwitching, DefaultSearchFindsThePluginInTheProgramsFolder)
{
    // The test plugin is built as libderiru.so next to this test program.
    const int before = m_plugin.calls();
    DeriruLibrary library;
    EXPECT_TRUE(library.write(usbSwitchCommand(false, true, 0, 3)));
    EXPECT_EQ(m_plugin.calls(), before + 1);
    EXPECT_EQ(m_plugin.lastBytes(), (std::vector<int>{0x5A, 0x10, 0, 0, 0, 0x01}));
}
