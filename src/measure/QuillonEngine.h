#pragma once

#include "core/Settings.h"
#include "bench/VirtualBench.h"
#include "bench/VirtualBenchBackend.h"
#include "capture/DeviceList.h"
#include "capture/HighPass.h"
#include "capture/ResultText.h"
#include "capture/WaveCapture.h"
#include "nf/EnrTable.h"
#include "measure/LiveMeter.h"
#include "measure/MeasurementLog.h"
#include "switch/SwitchControl.h"

#include <memory>
#include <vector>

namespace quillon {

class MessageSink;
class PortAudioBackend;
class SettingsStore;

// How the engine finds its sound inputs.
struct EngineOptions
{
    // List the machine's sound inputs through PortAudio (first in the device numbering).
    bool portAudio = true;
    // Further inputs listed after PortAudio's and before the virtual bench (tests).
    std::vector<AudioBackend *> soundDevices;
    // Serial line driver for the switch port; null = the system's (termios ioctls).
    std::unique_ptr<SerialLineDriver> serialLines;
};

// Everything below the window: the settings record, the sound inputs (real devices, then
// the virtual bench), the capture engine, the shared filter, ENR table and result line,
// the switch outputs and the measurement log. The window program and quillon-cli each make
// one; members are declared so that the capture engine is stopped and destroyed before the
// devices it reads from. Window thread (or the CLI's main thread), except where a member
// says otherwise.
class QuillonEngine
{
public:
    QuillonEngine(MessageSink &messages, EngineOptions options = {});
    ~QuillonEngine();
    QuillonEngine(const QuillonEngine &) = delete;
    QuillonEngine &operator=(const QuillonEngine &) = delete;

    // The start-up load: the virtual bench's parameters (group "VirtualBench"), then the
    // settings record (group "Setup") with its device check, filter selection and ENR file.
    void loadSettings(SettingsStore &store);

    Settings &settings() { return m_settings; }
    DeviceList &devices() { return m_devices; }
    VirtualBench &bench() { return m_bench; }
    WaveCapture &capture() { return *m_capture; }
    HighPass1kHz &highPass() { return m_highPass; }
    EnrTable &enrTable() { return m_enrTable; }
    ResultLine &resultLine() { return m_resultLine; }
    SwitchControl &switches() { return *m_switches; }
    MeasurementLog &log() { return m_log; }
    // The receiver alone as the last device series took it (its readings 0 and 1) or the
    // live view's "Calibrate": what the live readout corrects with. Window thread.
    ReceiverCalibration &receiverCalibration() { return m_receiverCalibration; }

    // Device number of the virtual bench (the last device).
    int benchDevice() { return m_devices.deviceCount() - 1; }

private:
    Settings m_settings;
    VirtualBench m_bench;
    std::unique_ptr<PortAudioBackend> m_portAudio;
    VirtualBenchBackend m_benchBackend;
    DeviceList m_devices;
    HighPass1kHz m_highPass;
    EnrTable m_enrTable;
    ResultLine m_resultLine;
    MeasurementLog m_log;
    ReceiverCalibration m_receiverCalibration;
    std::unique_ptr<SwitchControl> m_switches;
    std::unique_ptr<WaveCapture> m_capture;
};

} // namespace quillon
