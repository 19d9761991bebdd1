#include "ui/QuillonApp.h"

#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"
#include "ui/MainWindow.h"
#include "core/SettingsStore.h"
#include "ui/pages/SetupPage.h"
#include "ui/pages/MeasureNoisePage.h"
#include "ui/pages/MeasureDevicePage.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/CalculatorPage.h"
#include "ui/pages/SpectrumPage.h"
#include "ui/pages/SweepPage.h"
#include "measure/SharedValues.h"

namespace quillon {

SetupPage *g_setup = nullptr;
MeasureNoisePage *g_measure = nullptr;
MeasureDevicePage *g_measureDevice = nullptr;
CalibrateNoiseSourcePage *g_calibrate = nullptr;
CalculatorPage *g_calculator = nullptr;
SpectrumPage *g_spectrum = nullptr;
SweepPage *g_sweep = nullptr;
MeasuringNoiseDialog *g_measuringNoiseDlg = nullptr;

QuillonApp::QuillonApp(EngineOptions options) : m_messages(std::make_unique<WidgetMessageSink>())
{
    g_setup = nullptr;
    g_measure = nullptr;
    g_measureDevice = nullptr;
    g_calibrate = nullptr;
    g_calculator = nullptr;
    g_spectrum = nullptr;
    g_sweep = nullptr;
    m_engine = std::make_unique<QuillonEngine>(*m_messages, std::move(options));
}

QuillonApp::~QuillonApp()
{
    if (!m_exited)
        shutDown();
}

void QuillonApp::setPortProbe(std::function<std::vector<std::string>()> probe)
{
    m_portProbe = std::move(probe);
}

bool QuillonApp::startUp()
{
    // Every load and save goes to organisation "Tremont", application "Quillon".
    m_store = std::make_unique<SettingsStore>();
    m_sheet = std::make_unique<MainWindow>();
    m_shared = std::make_unique<SharedValues>();
    m_shared->load(*m_store);

    // Setup first: creating it loads the settings record (and the ENR file).
    g_setup = new SetupPage(*m_engine, *m_store);
    if (m_portProbe)
        g_setup->setPortProbe(m_portProbe);
    g_spectrum = new SpectrumPage(*m_engine, *m_shared);
    g_measure = new MeasureNoisePage(*m_engine, *m_store, *m_shared);
    m_waitDialog = std::make_unique<MeasuringNoiseDialog>(m_sheet.get());
    g_measuringNoiseDlg = m_waitDialog.get();
    g_measureDevice = new MeasureDevicePage(*m_engine, *m_store, *m_shared, *m_waitDialog,
                                            g_measure->resultFont());
    g_calibrate = new CalibrateNoiseSourcePage(*m_engine, *m_store, *m_shared, *m_waitDialog,
                                               g_measure->resultFont());
    g_calculator = new CalculatorPage(*m_engine, *m_shared, g_measure->resultFont());
    g_sweep = new SweepPage(*m_engine, *m_shared);

    // Tab order: Measure Noise, Measure Device, Show Spectrum, Calibrate Noise Source,
    // Calculator, Sweep, Setup. The sheet owns the page widgets from here on.
    m_sheet->addPage(g_measure);
    m_sheet->addPage(g_measureDevice);
    m_sheet->addPage(g_spectrum);
    m_sheet->addPage(g_calibrate);
    m_sheet->addPage(g_calculator);
    m_sheet->addPage(g_sweep);
    m_sheet->addPage(g_setup);
    m_sheet->setCloseHandler([this] { m_engine->capture().stopCapture(); });

    // With no usable device or format stored, open on Setup, whose first initialisation
    // fills the format fields for the corrected index. Decided before any page is
    // activated, so no capture starts on a device that is about to be replaced.
    Settings &s = m_engine->settings();
    bool openOnSetup = false;
    if (s.waveInDevice < 0) {
        s.waveInDevice = 0;
        openOnSetup = true;
    }
    if (s.waveInFormat < 0) {
        s.waveInFormat = 0;
        openOnSetup = true;
    }

    m_sheet->show();
    m_sheet->setActivePage(openOnSetup ? static_cast<PropertyPage *>(g_setup)
                                       : static_cast<PropertyPage *>(g_measure));
    m_sheet->fixSize();
    return true;
}

int QuillonApp::shutDown()
{
    if (m_exited)
        return 0;
    m_exited = true;
    if (m_engine)
        m_engine->capture().stopCapture();
    // Removing a page's tab would otherwise make the next tab active and start its capture.
    if (m_sheet)
        m_sheet->detachPages();
    // Deleting the pages in the fixed order: Setup (which closes the switch port), Show
    // Spectrum, Measure Noise, Measure Device (whose values "ENR", "TSoff" and "T0" are
    // written now, failures ignored), Calibrate Noise Source, Calculator. The sheet holds them
    // as child widgets; delete them explicitly first.
    if (g_setup != nullptr) {
        delete g_setup;
        g_setup = nullptr;
        m_engine->switches().closePort();
    }
    if (g_spectrum != nullptr) {
        delete g_spectrum; // stops its capture, destroys its FFT plan
        g_spectrum = nullptr;
    }
    if (g_measure != nullptr) {
        delete g_measure;
        g_measure = nullptr;
    }
    if (g_measureDevice != nullptr) {
        delete g_measureDevice;
        g_measureDevice = nullptr;
        m_shared->saveAtExit(*m_store);
    }
    if (g_calibrate != nullptr) {
        delete g_calibrate;
        g_calibrate = nullptr;
    }
    if (g_calculator != nullptr) {
        delete g_calculator;
        g_calculator = nullptr;
    }
    if (g_sweep != nullptr) {
        delete g_sweep; // waits for a receiver call in progress, at most its time-out
        g_sweep = nullptr;
    }
    g_measuringNoiseDlg = nullptr;
    m_waitDialog.reset();
    m_sheet.reset();
    m_shared.reset();
    m_store.reset();
    return 0;
}

} // namespace quillon
