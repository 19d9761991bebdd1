#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillon {

class RigControl;
class VirtualBench;
struct RigSettings;

// How Quillon controls the receiver.
enum class RigKind
{
    None,         // the user tunes by hand
    VirtualBench, // tunes the virtual bench, whose curves follow
    Hamlib        // a receiver through hamlib, or a rigctld daemon (model 2)
};

// One receiver control backend: its names and how it is made.
struct RigKindInfo
{
    RigKind kind;
    // The "Control" value in the settings group "Receiver"; read back ignoring case and
    // surrounding blanks. Never changes once released: stored files hold it.
    const char *storedName;
    // quillon-cli sweep --rig NAME.
    const char *cliName;
    // The Sweep page's receiver list; nullptr when the page does not offer the kind.
    const char *displayName;
    // Makes the control for `settings`. `bench` is the program's virtual bench, or null
    // where there is none; a backend that needs something it is not given returns null,
    // and the caller gets the None control.
    std::unique_ptr<RigControl> (*make)(const RigSettings &settings, VirtualBench *bench);
};

// Every rig kind, in the order of the Sweep page's list, None first. The table, and how to
// add a backend: RigKinds.cpp.
std::span<const RigKindInfo> rigKinds();

// The table's row of `kind`.
const RigKindInfo &rigKindInfo(RigKind kind);

// The kind quillon-cli names `name` ("none", "bench", "hamlib"; exact, lower case), or
// nothing for any other text.
std::optional<RigKind> rigKindFromCliName(std::string_view name);

// The CLI names for a message, in table order: "none, bench or hamlib".
std::string rigKindCliNames();

} // namespace quillon
