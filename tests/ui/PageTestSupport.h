#pragma once

// Shared by the page tests: the one QApplication, a message sink, waiting on the window
// thread's events, and a catcher for the program's message boxes.
#include "app/Messages.h"
#include "app/SettingsTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <vector>

namespace quillon::test {

inline QApplication &application()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "page_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv); // never destroyed: see AppShell
    return *app;
}

struct RecordingSink : MessageSink
{
    void showMessage(int id) override { ids.push_back(id); }
    std::vector<int> ids;
};

inline QMessageBox *activeBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

// Runs the window thread's events until `condition` holds; false after 30 s.
inline bool waitFor(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(30000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Clicks OK on every message box that opens while it lives, keeping text and title.
class BoxCatcher
{
public:
    BoxCatcher()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QMessageBox *box = activeBox()) {
                texts << box->text();
                titles << box->windowTitle();
                EXPECT_EQ(box->buttons().size(), 1);
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(1);
    }
    QStringList texts, titles;

private:
    QTimer m_timer;
};

// A page fixture: settings in a temporary folder, the QApplication, and child lookup.
class PageTest : public TempSettingsTest
{
protected:
    void SetUp() override
    {
        application();
        TempSettingsTest::SetUp();
    }
    template <typename T> T *child(QWidget *page, const char *name)
    {
        T *w = page->findChild<T *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    RecordingSink m_sink;
};

} // namespace quillon::test
