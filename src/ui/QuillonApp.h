#pragma once

#include "measure/QuillonEngine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

class MeasuringNoiseDialog;
class MainWindow;
class SettingsStore;
class SharedValues;
class WidgetMessageSink;
class MeasureNoisePage;
class MeasureDevicePage;
class CalibrateNoiseSourcePage;
class SpectrumPage;
class SetupPage;
class CalculatorPage;
class SweepPage;

// The process-wide page pointers: each is set as soon as its page exists and cleared when
// it is deleted. Window thread.
extern SetupPage *g_setup;
extern MeasureNoisePage *g_measure;
extern MeasureDevicePage *g_measureDevice;
extern CalibrateNoiseSourcePage *g_calibrate;
extern CalculatorPage *g_calculator;
extern SpectrumPage *g_spectrum;
extern SweepPage *g_sweep;
// The one "Measuring Noise" wait dialog of the modal readings.
extern MeasuringNoiseDialog *g_measuringNoiseDlg;

// The application object: creates the engine, the pages (Setup first, since creating it
// loads the settings) and the main window; decides whether the program opens on Setup;
// tears everything down in order at exit.
class QuillonApp
{
public:
    explicit QuillonApp(EngineOptions options = {});
    ~QuillonApp();
    QuillonApp(const QuillonApp &) = delete;
    QuillonApp &operator=(const QuillonApp &) = delete;

    // Replaces the Setup page's switch-port probe (tests: never probe the machine's ports).
    // Before startUp.
    void setPortProbe(std::function<std::vector<std::string>()> probe);

    // Creates the pages and shows the window. True to run the event loop.
    bool startUp();
    // Stops any capture, deletes the pages in order (Setup closes the switch port; with the
    // Measure Device page go "ENR", "TSoff" and "T0" to the store). Returns the exit code.
    int shutDown();

    QuillonEngine &engine() { return *m_engine; }
    MainWindow &sheet() { return *m_sheet; }
    SettingsStore &store() { return *m_store; }
    SharedValues &shared() { return *m_shared; }

private:
    std::unique_ptr<WidgetMessageSink> m_messages;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<SharedValues> m_shared; // values the pages share
    std::unique_ptr<MainWindow> m_sheet;
    std::unique_ptr<MeasuringNoiseDialog> m_waitDialog;
    std::function<std::vector<std::string>()> m_portProbe;
    bool m_exited = false;
};

} // namespace quillon
