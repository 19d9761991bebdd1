#pragma once

// Shared by the screenshot and soak tools: a Quillon window on the virtual bench, with
// its settings in whatever store XDG_CONFIG_HOME points at.
#include "ui/QuillonApp.h"
#include "core/SettingsStore.h"

#include <QSettings>

#include <memory>

namespace quillon::tools {

// Stores a set-up that opens on Measure Noise with the virtual bench as device 0 (no
// PortAudio devices are listed), 44.1 kHz mono 16-bit, and the bench as switch port.
inline void storeBenchSetup(double benchSpeed)
{
    SettingsStore store;
    store.write(keys::WaveInDevice, 0);
    store.write(keys::WaveInDeviceName, "Quillon virtual bench");
    store.write(keys::WaveInFormat, 8);
    store.write(keys::AutomationDeviceName, "Virtual bench");
    store.write(keys::TraceAverageFlag, 1);
    store.write(keys::TraceAverageCount, 8);
    store.write(keys::DecimalPointsInResults, 2);
    QSettings raw(QStringLiteral("Tremont"), QStringLiteral("Quillon"));
    raw.setValue(QStringLiteral("VirtualBench/Speed"), benchSpeed);
    raw.setValue(QStringLiteral("VirtualBench/Seed"), 12345);
    raw.sync();
}

inline std::unique_ptr<QuillonApp> makeBenchApp()
{
    EngineOptions options;
    options.portAudio = false;
    auto app = std::make_unique<QuillonApp>(std::move(options));
    app->setPortProbe([] { return std::vector<std::string>{"USB", "Virtual bench"}; });
    return app;
}

} // namespace quillon::tools
