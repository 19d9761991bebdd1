#include "rig/RigSettings.h"
#include "bench/VirtualBench.h"
#include "core/SettingsTestSupport.h"
#include "rig/RigControl.h"

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
        EXPECT_TRUE(saveRigSettings(store, s).ok());
    }
    QSettings file(storeFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("Receiver/Mode").toString(), "CW");
    file.beginGroup("Setup");
    EXPECT_EQ(file.childKeys(), QStringList{"ENR"});
    file.endGroup();
    EXPECT_EQ(fields(loadRigSettings(SettingsStore(kReceiverGroup))), fields(s));

    file.setValue("Receiver/HamlibModel", "0");
    file.setValue("Receiver/BaudRate", "-9600");
    file.setValue("Receiver/Mode", "LSB");
    file.setValue("Receiver/TimeoutMs", "50");
    file.setValue("Receiver/Retries", "6");
    file.sync();
    const RigSettings d;
    EXPECT_EQ(fields(loadRigSettings(SettingsStore(kReceiverGroup))),
              std::tuple(RigKind::Hamlib, d.hamlibModel, s.port, d.baudRate, d.mode, d.timeoutMs,
                         d.retries));
}

// Each kind's names, in the Sweep page's order: stored as "Control" and read back (also in
// other case and with blanks around it), named on the command line, made by the factory (the
// bench's control only with a bench, see RigChecks). A "Control" that names no kind loads as
// None.
TEST_F(RigSettingsStore, EveryKindsNamesAndControl)
{
    const struct
    {
        RigKind kind;
        const char *stored, *typed, *cli, *control;
    } kinds[] = {
        {RigKind::None, "None", " none ", "none", "None"},
        {RigKind::VirtualBench, "Virtual bench", " virtual BENCH ", "bench", "Virtual bench"},
        {RigKind::Hamlib, "Hamlib", "HAMLIB", "hamlib", "(hamlib model 2) at localhost:4532"},
    };
    ASSERT_EQ(rigKinds().size(), std::size(kinds));
    QSettings file(storeFile(), QSettings::IniFormat);
    VirtualBench bench;
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        const auto &k = kinds[i];
        EXPECT_EQ(rigKinds()[i].kind, k.kind);
        EXPECT_STREQ(rigKinds()[i].displayName, k.stored) << k.stored;
        RigSettings s;
        s.kind = k.kind;
        {
            SettingsStore store(kReceiverGroup);
            EXPECT_TRUE(saveRigSettings(store, s).ok());
        }
        file.sync();
        EXPECT_EQ(file.value("Receiver/Control").toString(), k.stored);
        file.setValue("Receiver/Control", k.typed);
        file.sync();
        EXPECT_EQ(loadRigSettings(SettingsStore(kReceiverGroup)).kind, k.kind) << k.typed;
        EXPECT_EQ(rigKindFromCliName(k.cli), k.kind);
        EXPECT_NE(makeRigControl(s, &bench)->name().find(k.control), std::string::npos);
    }
    EXPECT_EQ(rigKindCliNames(), "none, bench or hamlib");
    for (const char *other : {"Bench", "", "virtual"})
        EXPECT_FALSE(rigKindFromCliName(other).has_value()) << other;

    for (const char *unknown : {"Elecraft", "", "Virtual bench 2"}) {
        file.setValue("Receiver/Control", unknown);
        file.sync();
        EXPECT_EQ(loadRigSettings(SettingsStore(kReceiverGroup)).kind, RigKind::None) << unknown;
    }
}

} // namespace
} // namespace quillon
