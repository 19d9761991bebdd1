#include "switch/UsbSwitch.h"
#include "switch/SwitchControl.h"

#include "FakeDeriru.h"
#include "SwitchTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace quillon;
using Bytes = std::vector<int>;
using Messages = std::vector<int>;

TEST(UsbSwitchCommand, OutputBitsAreActiveLow)
{
    // {noiseOn, dutIn, noise bit, DUT bit, byte 5}
    const struct
    {
        bool noiseOn, dutIn;
        int noiseBit, dutBit, bits;
    } cases[] = {{true, true, 0, 3, 0x00},
                 {false, true, 0, 3, 0x01},
                 {true, false, 0, 3, 0x08},
                 {false, false, 0, 3, 0x09},
                 {true, true, 2, 2, 0x00},
                 {false, true, 2, 2, 0x04},
                 {true, false, 2, 2, 0x04},
                 {false, false, 2, 2, 0x04},
                 {false, false, 7, 6, 0xC0},
                 // Bit numbers outside 0..7 (a hand-edited setting) drive nothing.
                 {false, false, 8, -1, 0x00},
                 {false, false, 31, 5, 0x20}};
    for (const auto &c : cases) {
        const UsbSwitchCommand expected{0x5A, 0x10, 0, 0, 0, static_cast<std::uint8_t>(c.bits)};
        EXPECT_EQ(usbSwitchCommand(c.noiseOn, c.dutIn, c.noiseBit, c.dutBit), expected)
            << c.noiseOn << c.dutIn << " bits " << c.noiseBit << "," << c.dutBit;
    }
}

namespace {

// SwitchControl on "USB" with the test plugin, opened here a second time to read its record
// (dlopen of the same file gives the same loaded copy).
class UsbSwitching : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_handle = ::dlopen(QUILLON_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << ::dlerror();
        m_record =
            reinterpret_cast<FakeDeriruRecord *(*)()>(::dlsym(m_handle, "fake_deriru_record"))();
        *m_record = FakeDeriruRecord{};
        m_settings.automationDeviceName = "USB";
        m_settings.automateNoiseSelection = 0;
        m_settings.automateDeviceSelection = 3;
        m_control.setUsbLibraryPath(QUILLON_TEST_PLUGIN);
    }
    void TearDown() override
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    Bytes lastCommand() const { return Bytes(m_record->bytes, m_record->bytes + 6); }

    void *m_handle = nullptr;
    FakeDeriruRecord *m_record = nullptr;
    Settings m_settings;
    test::RecordingSink m_sink;
    SwitchControl m_control{m_settings, m_sink};
};

} // namespace

TEST_F(UsbSwitching, PluginReceivesTheSixCommandBytes)
{
    const struct
    {
        bool noiseOn, dutIn;
        int bits;
    } examples[] = {
        {true, true, 0x00}, {false, true, 0x01}, {true, false, 0x08}, {false, false, 0x09}};
    for (const auto &example : examples) {
        m_control.setSwitches(example.noiseOn, example.dutIn);
        EXPECT_EQ(m_record->count, 6);
        EXPECT_EQ(lastCommand(), (Bytes{0x5A, 0x10, 0, 0, 0, example.bits}));
    }
    m_settings.automateDeviceSelection = 0; // one bit for both outputs
    m_control.setSwitches(true, false);
    EXPECT_EQ(lastCommand(), (Bytes{0x5A, 0x10, 0, 0, 0, 0x01}));
    EXPECT_EQ(m_record->calls, 5);
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
    EXPECT_EQ(m_sink.messages,
              (Messages{kMsgCannotWriteUsb, kMsgCannotWriteUsb, kMsgCannotWriteUsb}));
    EXPECT_STREQ(messageText(kMsgCannotWriteUsb),
                 "Error - Cannot write to Kestrel VNA USB device.");
}

TEST_F(UsbSwitching, DefaultSearchFindsThePluginInTheProgramsFolder)
{
    // The test plugin is built as libderiru.so next to this test program.
    DeriruLibrary library;
    EXPECT_TRUE(library.write(usbSwitchCommand(false, true, 0, 3)));
    EXPECT_EQ(m_record->calls, 1);
    EXPECT_EQ(lastCommand(), (Bytes{0x5A, 0x10, 0, 0, 0, 0x01}));
}
