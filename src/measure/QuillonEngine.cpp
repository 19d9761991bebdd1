#include "measure/QuillonEngine.h"

#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "capture/SettingsContext.h"
#include "capture/PortAudioBackend.h"

#include <QSettings>

namespace quillon {

QuillonEngine::QuillonEngine(MessageSink &messages, EngineOptions options)
    : m_benchBackend(m_bench)
{
    if (options.portAudio) {
        m_portAudio = std::make_unique<PortAudioBackend>();
        m_devices.addBackend(*m_portAudio);
    }
    for (AudioBackend *backend : options.soundDevices)
        m_devices.addBackend(*backend);
    m_devices.addBackend(m_benchBackend);

    m_switches = options.serialLines
                     ? std::make_unique<SwitchControl>(m_settings, messages,
                                                       std::move(options.serialLines))
                     : std::make_unique<SwitchControl>(m_settings, messages);
    m_switches->setVirtualBenchOutputs(
        [this](bool noiseOn, bool dutIn) { m_bench.setOutputs(noiseOn, dutIn); });
    m_capture = std::make_unique<WaveCapture>(m_settings, m_devices);
}

QuillonEngine::~QuillonEngine()
{
    // No callback may run once the pieces it uses start to go.
    m_capture->stopCapture();
}

void QuillonEngine::loadSettings(SettingsStore &store)
{
    {
        QSettings raw(store.qsettings().organizationName(), store.qsettings().applicationName());
        m_bench.load(raw);
    }
    SettingsLoadContext context = captureLoadContext(&m_devices);
    context.selectHighPass = [this](std::int32_t rate) { m_highPass.selectHighPass(rate); };
    context.readEnrFile = [this](Settings &s) { return parseEnrFile(s, m_enrTable); };
    quillon::loadSettings(m_settings, store, context);
}

} // namespace quillon
