#include "app/QuillonApp.h"

#include "app/MeasuringNoiseDialog.h"
#include "app/MessageBox.h"
#include "app/PropertySheet.h"
#include "app/SettingsStore.h"
#include "app/SetupPage.h"
#include "pages/MeasureNoisePage.h"

namespace quillon {

setup *g_setup = nullptr;
measure *g_measure = nullptr;
CMeasuringNoiseDlg *g_measuringNoiseDlg = nullptr;

CQuillonApp::CQuillonApp(EngineOptions options) : m_messages(std::make_unique<WidgetMessageSink>())
{
    g_setup = nullptr;
    g_measure = nullptr;
    m_engine = std::make_unique<QuillonEngine>(*m_messages, std::move(options));
}

CQuillonApp::~CQuillonApp()
{
    if (!m_exited)
        ExitInstance();
}

void CQuillonApp::setPortProbe(std::function<std::vector<std::string>()> probe)
{
    m_portProbe = std::move(probe);
}

bool CQuillonApp::InitInstance()
{
    // Every load and save goes to organisation "Tremont", application "Quillon".
    m_store = std::make_unique<SettingsStore>();
    m_sheet = std::make_unique<CQuillonPropertySheet>();

    // Setup first: creating it loads the settings record (and the ENR file).
    g_setup = new setup(*m_engine, *m_store);
    if (m_portProbe)
        g_setup->setPortProbe(m_portProbe);
    g_measure = new measure(*m_engine, *m_store);
    m_waitDialog = std::make_unique<CMeasuringNoiseDlg>(m_sheet.get());
    g_measuringNoiseDlg = m_waitDialog.get();

    // Tab order. The sheet owns the page widgets from here on.
    m_sheet->addPage(g_measure);
    m_sheet->addPage(g_setup);
    m_sheet->setCloseHandler([this] { m_engine->capture().StopCapture(); });

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

int CQuillonApp::ExitInstance()
{
    if (m_exited)
        return 0;
    m_exited = true;
    if (m_engine)
        m_engine->capture().StopCapture();
    // Removing a page's tab would otherwise make the next tab active and start its capture.
    if (m_sheet)
        m_sheet->detachPages();
    // Deleting the pages in the fixed order: Setup (which closes the switch port), then
    // Measure Noise. The sheet holds them as child widgets; delete them explicitly first.
    if (g_setup != nullptr) {
        delete g_setup;
        g_setup = nullptr;
        m_engine->switches().closePort();
    }
    if (g_measure != nullptr) {
        delete g_measure;
        g_measure = nullptr;
    }
    g_measuringNoiseDlg = nullptr;
    m_waitDialog.reset();
    m_sheet.reset();
    m_store.reset();
    return 0;
}

} // namespace quillon
