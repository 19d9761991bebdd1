#pragma once

// Shared by the page tests: the one QApplication, waiting on the window thread's events, a
// watchdog for steps that must return, a catcher for the program's message boxes, and a
// page fixture with settings in a temporary folder.
#include "core/Messages.h"
#include "core/SettingsTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <ostream>

// Failure messages show QStrings as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << text.toStdString();
}

namespace quillon::test {

inline QMessageBox *activeBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

// Runs the window thread's events until `condition` holds; false after 30 s.
inline bool waitFor(const std::function<bool()> &condition)
{
    for (QDeadlineTimer deadline(30000); !condition();) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs `step`; aborts the test program if it has not returned after 60 s (a hang would
// otherwise only end at ctest's time limit, without saying which step).
inline void mustReturn(const std::function<void()> &step)
{
    std::promise<void> done;
    const auto watchdog = std::async(std::launch::async, [returned = done.get_future()] {
        if (returned.wait_for(std::chrono::seconds(60)) == std::future_status::timeout)
            std::abort();
    });
    step();
    done.set_value();
}

// Clicks OK on every message box that opens while it lives, keeping text and title.
struct BoxCatcher
{
    BoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (QMessageBox *box = activeBox()) {
                texts << box->text();
                titles << box->windowTitle();
                EXPECT_EQ(box->buttons().size(), 1);
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start(1);
    }
    QStringList texts, titles;
    QTimer timer;
};

class PageTest : public TempSettingsTest, public MessageSink
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "page_test", *argv[] = {name, nullptr};
        [[maybe_unused]] static auto *app = new QApplication(argc, argv); // never destroyed
        TempSettingsTest::SetUp();
    }
    void showMessage(int) override {} // the engine's messages
    template <typename T> T *child(QWidget *page, const char *name)
    {
        T *w = page->findChild<T *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString writeFile(const char *name, const QByteArray &content)
    {
        QFile file(folder() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        return file.fileName();
    }
};

} // namespace quillon::test
