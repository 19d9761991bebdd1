#pragma once

#include "core/Result.h"
#include "core/SettingsStore.h"
#include "rig/RigKinds.h"

#include <string>

namespace quillon {

// The receiver mode set on connecting; the noise is measured in its audio passband.
enum class RigMode
{
    Usb, // "USB"
    Cw   // "CW"
};

// The text stored and shown for a mode: "USB", "CW".
const char *rigModeName(RigMode mode);

// hamlib's model numbers of the two rigs that need no hardware.
inline constexpr int kHamlibDummyModel = 1;     // hamlib's dummy rig, in-process
inline constexpr int kHamlibNetRigctlModel = 2; // a rigctld daemon, port = host:port

// The group of the receiver control in the per-user store, beside "Setup" and
// "VirtualBench".
inline constexpr const char *kReceiverGroup = "Receiver";

// The values of the "Receiver" group, with their defaults.
namespace receiverKeys {
inline constexpr TextValue Control{"Control", "None"};
inline constexpr IntValue HamlibModel{"HamlibModel", kHamlibNetRigctlModel};
inline constexpr TextValue Port{"Port", "localhost:4532"};
inline constexpr IntValue BaudRate{"BaudRate", 0};
inline constexpr TextValue Mode{"Mode", "USB"};
inline constexpr IntValue TimeoutMs{"TimeoutMs", 1000};
inline constexpr IntValue Retries{"Retries", 0};
} // namespace receiverKeys

// The receiver control's configuration. Out-of-range values read from the store load as
// the default of their field.
struct RigSettings
{
    RigKind kind = RigKind::None;            // "Control": the kind's stored name (rigKinds())
    int hamlibModel = kHamlibNetRigctlModel; // "HamlibModel": 1..999999
    // "Port": a serial device (/dev/ttyUSB0) for a rig on a serial line, host:port of a
    // running rigctld for model 2 (":4532" may be left out), unused by rigs without a port.
    std::string port = "localhost:4532";
    int baudRate = 0;            // "BaudRate": serial rigs only; 0 = the rig's own default
    RigMode mode = RigMode::Usb; // "Mode"
    // Every call to the rig gives up after timeoutMs, tried 1 + retries times: a receiver
    // that stops answering fails a call within timeoutMs x (1 + retries).
    int timeoutMs = 1000; // "TimeoutMs": 100..10000
    int retries = 0;      // "Retries": 0..5
};

// `store` is opened on the group kReceiverGroup. Window thread, as the store. A "Control"
// that names no kind loads as None.
RigSettings loadRigSettings(const SettingsStore &store);
// Writes every value, attempting all; on failure kMsgSaveFailed with the detail of
// SaveBatch.
Result saveRigSettings(SettingsStore &store, const RigSettings &settings);

} // namespace quillon
