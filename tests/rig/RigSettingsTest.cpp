#include "rig/RigSettings.h"
#include "core/SettingsTestSupport.h"

#include <tuple>

namespace quillon {
namespace {

using RigSettingsStore = test::TempSettingsTest;

auto fields(const RigSettings &s)
{
    return std::tuple(s.kind, s.hamlibModel, s.port, s.baudRate, s.mode, s.timeoutMs, s.retries);
}

// Every field off its default round-trips, as the texts the file shows; values out of
// range or unreadable load as their defaults; the "Setup" group is not touched.
TEST_F(RigSettingsStore, RoundTripDefaultsAndOwnGroup)
{
    ASSERT_TRUE(SettingsStore().write(keys::ENR, "19.5"));
    const RigSettings s{RigKind::Hamlib, 3073, "/dev/ttyUSB1", 19200, RigMode::Cw, 2500, 3};
    {
        SettingsStore store(kReceiverGroup);
        EXPECT_EQ(saveRigSettings(store, s), 0);
    }
    QSettings file(storeFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("Receiver/Control").toString(), "Hamlib");
    EXPECT_EQ(file.value("Receiver/Mode").toString(), "CW");
    file.beginGroup("Setup");
    EXPECT_EQ(file.childKeys(), QStringList{"ENR"});
    file.endGroup();
    EXPECT_EQ(fields(loadRigSettings(SettingsStore(kReceiverGroup))), fields(s));

    file.setValue("Receiver/Control", " virtual BENCH ");
    file.setValue("Receiver/HamlibModel", "0");
    file.setValue("Receiver/BaudRate", "-9600");
    file.setValue("Receiver/Mode", "LSB");
    file.setValue("Receiver/TimeoutMs", "50");
    file.setValue("Receiver/Retries", "6");
    file.sync();
    const RigSettings d;
    EXPECT_EQ(fields(loadRigSettings(SettingsStore(kReceiverGroup))),
              std::tuple(RigKind::VirtualBench, d.hamlibModel, s.port, d.baudRate, d.mode,
                         d.timeoutMs, d.retries));
    file.setValue("Receiver/Control", "Elecraft");
    file.sync();
    EXPECT_EQ(loadRigSettings(SettingsStore(kReceiverGroup)).kind, RigKind::None);
}

} // namespace
} // namespace quillon
