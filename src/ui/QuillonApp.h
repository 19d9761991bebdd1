#pragma once

#include "measure/QuillonEngine.h"
#include "ui/pages/PropertyPage.h"

#include <QFont>

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
class WindowCloseWatch;

// The application object: creates the engine, loads the settings, makes the pages from
// its one list (QuillonApp.cpp) in tab order and shows the main window; decides whether
// the program opens on Setup; tears everything down in order at exit.
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

    // Loads the settings, makes the pages and shows the window. True to run the event loop.
    bool startUp();
    // Stops any capture, deletes the pages in tab order, closes the switch port and writes
    // "ENR", "TSoff" and "T0" to the store (failures ignored). Returns the exit code.
    int shutDown();

    QuillonEngine &engine() { return *m_engine; }
    MainWindow &sheet() { return *m_sheet; }
    SettingsStore &store() { return *m_store; }
    SharedValues &shared() { return *m_shared; }

    // The main window closed from outside (its X window destroyed, or a close request while
    // a modal dialog is up): the dialogs close, the window closes (stopping any capture and
    // series) and the event loop ends. Window thread.
    void closeFromOutside();

    // The pages in tab order, from startUp to shutDown; empty before and after.
    std::vector<PropertyPage *> pages() const;
    // The page of type Page (app.page<SweepPage>()), or null when there is none.
    template <typename Page> Page *page() const
    {
        for (const std::unique_ptr<PropertyPage> &p : m_pages)
            if (auto *typed = qobject_cast<Page *>(p.get()))
                return typed;
        return nullptr;
    }

private:
    std::unique_ptr<WidgetMessageSink> m_messages;
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<SharedValues> m_shared;
    std::unique_ptr<MainWindow> m_sheet;
    std::unique_ptr<MeasuringNoiseDialog> m_waitDialog;
    std::unique_ptr<WindowCloseWatch> m_closeWatch;
    QFont m_resultFont;
    // Tab widgets of the sheet, deleted by shutDown before it (declared after it, so that
    // they would go first in any case).
    std::vector<std::unique_ptr<PropertyPage>> m_pages;
    std::function<std::vector<std::string>()> m_portProbe;
    bool m_exited = false;
};

} // namespace quillon
