// quillon-cli devices: the sound inputs with their formats, and the switch ports.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "switch/SerialLines.h"
#include "switch/SwitchControl.h"

#include <cstdio>
#include <cstdlib>

namespace quillon::cli {

namespace {

// The serial devices the switch-port probe tries: defaultProbeDevices(), or the
// colon-separated list in the environment variable QUILLON_SWITCH_PROBE_DEVICES when it is
// set (tests and unusual machines; an empty value probes no serial device).
std::vector<std::string> switchProbeDevices()
{
    const char *list = std::getenv("QUILLON_SWITCH_PROBE_DEVICES");
    if (list == nullptr)
        return defaultProbeDevices();
    std::vector<std::string> devices;
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string_view item = rest.substr(0, colon);
        if (!item.empty())
            devices.emplace_back(item);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return devices;
}

struct DeviceEntry
{
    std::string name;
    std::vector<int> formats; // rows of WaveFormatTable
};

// The formats the Setup page offers for `device`: 16-bit rows by the device's capability
// bits, 24-bit rows by a trial open.
std::vector<int> offeredFormats(QuillonEngine &engine, int device, std::uint32_t capabilityBits)
{
    Settings &s = engine.settings();
    s.waveInDevice = device;
    std::vector<int> rows;
    for (int row = 0; row < kWaveFormatCount; ++row) {
        const WaveFormatRow &r = WaveFormatTable[static_cast<std::size_t>(row)];
        bool offered = false;
        if (r.capabilityFlag != kFormatProbe) {
            offered = (capabilityBits & r.capabilityFlag) != 0;
        } else {
            applyFormatRow(s, row);
            engine.capture().deriveFormat();
            offered = engine.capture().probeDevice();
        }
        if (offered)
            rows.push_back(row);
    }
    return rows;
}

} // namespace

int runDevices(const std::vector<std::string> &args)
{
    const Options o("devices", args, {}, {"json"});
    if (o.flag("help"))
        return printHelp("devices");
    if (!o.positional().empty())
        throw CliError("devices takes no argument '" + o.positional().front() + "'");

    StderrMessageSink messages;
    QuillonEngine engine(messages);
    SettingsStore store;
    engine.loadSettings(store);

    std::vector<DeviceEntry> devices;
    const int count = engine.devices().deviceCount();
    for (int d = 0; d < count; ++d) {
        DeviceCaps caps;
        DeviceEntry entry;
        if (engine.devices().deviceCaps(d, caps)) {
            entry.name = caps.productName;
            entry.formats = offeredFormats(engine, d, caps.formats);
        } else {
            entry.name = "Unknown Device";
        }
        devices.push_back(std::move(entry));
    }
    engine.switches().closePort();
    std::vector<std::string> ports{kNoPortName};
    for (std::string &p : probeSwitchPorts(switchProbeDevices()))
        ports.push_back(std::move(p));

    if (o.flag("json")) {
        Json doc;
        doc.beginObject().key("devices").beginArray();
        for (std::size_t d = 0; d < devices.size(); ++d) {
            doc.beginObject().key("number").value(static_cast<int>(d));
            doc.key("name").value(devices[d].name);
            doc.key("virtualBench").value(static_cast<int>(d) == engine.benchDevice());
            doc.key("formats").beginArray();
            for (const int row : devices[d].formats) {
                doc.beginObject().key("row").value(row);
                doc.key("label").value(WaveFormatTable[static_cast<std::size_t>(row)].label);
                doc.endObject();
            }
            doc.endArray().endObject();
        }
        doc.endArray().key("switchPorts").beginArray();
        for (const std::string &p : ports)
            doc.value(p);
        doc.endArray().endObject();
        std::fputs(doc.text().c_str(), stdout);
        return kExitOk;
    }

    std::puts("Input devices:");
    for (std::size_t d = 0; d < devices.size(); ++d) {
        std::printf("%3d  %s\n", static_cast<int>(d), devices[d].name.c_str());
        for (const int row : devices[d].formats)
            std::printf("       format %2d  %s\n", row,
                        WaveFormatTable[static_cast<std::size_t>(row)].label);
    }
    std::puts("Switch ports:");
    for (const std::string &p : ports)
        std::printf("  %s\n", p.c_str());
    return kExitOk;
}

} // namespace quillon::cli
