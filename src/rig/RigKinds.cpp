#include "rig/RigKinds.h"

#include "rig/BenchRig.h"
#include "rig/HamlibRig.h"
#include "rig/RigControl.h"

namespace quillon {

namespace {

// The rig kinds: one row per receiver control backend.
//
// To add a rig backend, touch three places:
//   1. its RigControl class in src/rig/ (a file pair beside HamlibRig), listed in
//      src/rig/CMakeLists.txt;
//   2. its enumerator in RigKind (RigKinds.h) and its row here: the name stored as
//      "Control" in the "Receiver" group (never changed once released), the quillon-cli
//      --rig name, the Sweep page's name (nullptr: not offered there) and the factory. The
//      settings load and save, makeRigControl and the Sweep page's list read this table,
//      quillon-cli through rigKindFromCliName and rigKindCliNames;
//   3. its tests in tests/rig/ (set and read back, every failure's message) and its row in
//      the names test there (RigSettingsStore.EveryKindsNamesAndControl).
const RigKindInfo kRigKinds[] = {
    {RigKind::None, "None", "none", "None",
     [](const RigSettings &, VirtualBench *) -> std::unique_ptr<RigControl> {
         return std::make_unique<NoRig>();
     }},
    {RigKind::VirtualBench, "Virtual bench", "bench", "Virtual bench",
     [](const RigSettings &, VirtualBench *bench) -> std::unique_ptr<RigControl> {
         if (bench == nullptr)
             return nullptr;
         return std::make_unique<BenchRig>(*bench);
     }},
    {RigKind::Hamlib, "Hamlib", "hamlib", "Hamlib",
     [](const RigSettings &settings, VirtualBench *) -> std::unique_ptr<RigControl> {
         return std::make_unique<HamlibRig>(settings);
     }},
};

} // namespace

std::span<const RigKindInfo> rigKinds()
{
    return kRigKinds;
}

const RigKindInfo &rigKindInfo(RigKind kind)
{
    for (const RigKindInfo &info : kRigKinds)
        if (info.kind == kind)
            return info;
    return kRigKinds[0];
}

std::optional<RigKind> rigKindFromCliName(std::string_view name)
{
    for (const RigKindInfo &info : kRigKinds)
        if (name == info.cliName)
            return info.kind;
    return std::nullopt;
}

std::string rigKindCliNames()
{
    std::string text;
    const std::size_t count = std::size(kRigKinds);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += i + 1 == count ? " or " : ", ";
        text += kRigKinds[i].cliName;
    }
    return text;
}

} // namespace quillon
