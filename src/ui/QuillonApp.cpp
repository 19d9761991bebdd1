#include "ui/QuillonApp.h"

#include "core/SettingsStore.h"
#include "measure/SharedValues.h"
#include "ui/MainWindow.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/MessageBox.h"
#include "ui/WindowCloseWatch.h"
#include "ui/pages/CalculatorPage.h"
#include "ui/pages/CalibrateNoiseSourcePage.h"
#include "ui/pages/LiveNoiseFigurePage.h"
#include "ui/pages/MeasureDevicePage.h"
#include "ui/pages/MeasureNoisePage.h"
#include "ui/pages/SetupPage.h"
#include "ui/pages/SkyPage.h"
#include "ui/pages/SpectrumPage.h"
#include "ui/pages/SweepPage.h"

#include <QApplication>
#include <QDialog>

#include <utility>

namespace quillon {

namespace {

using PageFactory = std::unique_ptr<PropertyPage> (*)(const PageContext &);

template <typename Page, typename... Parts> std::unique_ptr<PropertyPage> made(Parts &...parts)
{
    return std::make_unique<Page>(parts...);
}

// The pages, in tab order; each line makes one page from what it needs of the context. The
// window opens on the first, or on Setup while the stored sound device or format cannot be
// used.
//
// To add a page, touch three places:
//   1. src/ui/pages/: the page's file pair, derived from PropertyPage (caption, help topic);
//      what it computes goes into the engine library it belongs to (src/measure/, ...);
//   2. this list: one line at its tab position;
//   3. src/ui/help/<topic>.html, listed in src/ui/app.qrc and linked to and from
//      overview.html.
// Its tests go into tests/ui/pages/ (a test reaches it as app.page<ItsPage>()).
const PageFactory kPages[] = {
    [](const PageContext &c) { return made<MeasureNoisePage>(c.engine, c.store, c.shared); },
    [](const PageContext &c) { return made<MeasureDevicePage>(c); },
    [](const PageContext &c) { return made<LiveNoiseFigurePage>(c); },
    [](const PageContext &c) { return made<SpectrumPage>(c.engine, c.shared); },
    [](const PageContext &c) { return made<CalibrateNoiseSourcePage>(c); },
    [](const PageContext &c) { return made<CalculatorPage>(c.engine, c.shared, c.resultFont); },
    [](const PageContext &c) { return made<SweepPage>(c.engine, c.shared); },
    [](const PageContext &c) { return made<SkyPage>(c); },
    [](const PageContext &c) { return made<SetupPage>(c.engine, c.store); },
};

} // namespace

QuillonApp::QuillonApp(EngineOptions options) : m_messages(std::make_unique<WidgetMessageSink>())
{
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

std::vector<PropertyPage *> QuillonApp::pages() const
{
    std::vector<PropertyPage *> pages;
    for (const std::unique_ptr<PropertyPage> &page : m_pages)
        pages.push_back(page.get());
    return pages;
}

bool QuillonApp::startUp()
{
    // Every load and save goes to organisation "Tremont", application "Quillon".
    m_store = std::make_unique<SettingsStore>();
    m_sheet = std::make_unique<MainWindow>();
    m_shared = std::make_unique<SharedValues>();
    m_shared->load(*m_store);
    // The settings record (and the ENR file it names) before any page exists.
    m_engine->loadSettings(*m_store);
    m_waitDialog = std::make_unique<MeasuringNoiseDialog>(m_sheet.get());
    m_resultFont = MeasureNoisePage::resultFontFor(m_store->read(keys::ResultFontSize));

    // The sheet's tab widget becomes each page's Qt parent; m_pages still deletes them.
    const PageContext context{*m_engine, *m_store, *m_shared, *m_waitDialog, m_resultFont};
    for (const PageFactory make : kPages) {
        m_pages.push_back(make(context));
        m_sheet->addPage(m_pages.back().get());
    }
    if (m_portProbe)
        page<SetupPage>()->setPortProbe(m_portProbe);
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
    m_sheet->setActivePage(openOnSetup ? page<SetupPage>() : m_pages.front().get());
    m_sheet->fixSize();
    m_closeWatch = std::make_unique<WindowCloseWatch>([this] { closeFromOutside(); });
    m_closeWatch->watch(m_sheet.get());
    return true;
}

void QuillonApp::closeFromOutside()
{
    if (!m_sheet)
        return;
    // Innermost first: a message box's or the wait dialog's own loop ends when control
    // returns to it, and a page that was waiting there sees itself left.
    // A dialog that refuses a close (a message box without an escape button, the wait
    // dialog between two readings) is ended all the same.
    for (int i = 0; i < 16; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
            if (dialog->isVisible())
                dialog->done(QDialog::Rejected);
        } else {
            modal->hide();
        }
    }
    m_sheet->close();
    // exit, not quit: quit asks every window again and stops at the first that refuses.
    QCoreApplication::exit(0);
}

int QuillonApp::shutDown()
{
    if (m_exited)
        return 0;
    m_exited = true;
    m_closeWatch.reset();
    if (m_engine)
        m_engine->capture().stopCapture();
    // Removing a page's tab would otherwise make the next tab active and start its capture.
    if (m_sheet)
        m_sheet->detachPages();
    // The pages go in tab order while everything they refer to still exists (Show Spectrum
    // destroys its FFT plan, Sweep waits for a receiver call in progress, at most its
    // time-out); then the switch port is closed, and the Measure Device values "ENR",
    // "TSoff" and "T0" are written.
    const bool started = !m_pages.empty();
    for (std::unique_ptr<PropertyPage> &page : m_pages)
        page.reset();
    m_pages.clear();
    if (started) {
        m_engine->switches().closePort();
        m_shared->saveAtExit(*m_store); // failures ignored
    }
    m_waitDialog.reset();
    m_sheet.reset();
    m_shared.reset();
    m_store.reset();
    return 0;
}

} // namespace quillon
