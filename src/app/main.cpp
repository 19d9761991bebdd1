// Quillon's window program. It reads no command line (quillon-cli is the scriptable
// sibling).
#include "ui/QuillonApp.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt aborts with a terse message when it finds no display; say plainly what to do.
bool haveDisplay()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!haveDisplay()) {
        std::fputs("Quillon needs a graphical display, and none was found (DISPLAY and\n"
                   "WAYLAND_DISPLAY are not set).\n"
                   "Start it from a desktop session, or on a machine without a screen run it\n"
                   "under a virtual one:\n"
                   "    xvfb-run -a make run\n"
                   "For measurements without a window, use quillon-cli.\n",
                   stderr);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setOrganizationName(QStringLiteral("Tremont"));
    QApplication::setApplicationVersion(QStringLiteral("0.4"));

    quillon::QuillonApp app;
    if (!app.initInstance())
        return 1;
    application.exec();
    return app.exitInstance();
}
