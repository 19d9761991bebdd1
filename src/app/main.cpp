// Quillon's window program. Of its command line it reads --version and --help only (and
// Qt's own options); quillon-cli is the scriptable sibling.
#include "core/Messages.h"
#include "core/Version.h"
#include "ui/QuillonApp.h"

#include <QApplication>

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A Wayland compositor listens on $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY (or on the absolute
// path WAYLAND_DISPLAY names).
bool waylandReachable(const std::string &display)
{
    std::string path = display;
    if (path.front() != '/') {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return false;
        path = runtime + "/" + display;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

struct XcbDisconnect
{
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// On success `probe` keeps the connection: the caller holds it open until Qt has made its
// own, since an X server resets when its last client leaves and refuses connections while
// it does (Xvfb without -noreset).
bool x11Reachable(const std::string &display, XcbConnection &probe)
{
    XcbConnection connection(xcb_connect(display.c_str(), nullptr));
    if (xcb_connection_has_error(connection.get()) != 0)
        return false;
    probe = std::move(connection);
    return true;
}

// How to start this copy of the program under a virtual display: from the source tree
// through make, an installed copy by its name.
std::string virtualDisplayAdvice()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
    const std::string buildTree = QUILLON_BUILD_DIR "/";
    if (path.rfind(buildTree, 0) == 0)
        return "xvfb-run -a make run";
    return "xvfb-run -a quillon";
}

// Qt aborts with a terse message when it cannot reach a display; say plainly what to do.
// Empty when a display can be reached (or the platform plugin is chosen explicitly);
// `x11Probe` then holds the connection to an X display that was tried.
std::string displayProblem(XcbConnection &x11Probe)
{
    if (!environment("QT_QPA_PLATFORM").empty())
        return {};
    const std::string wayland = environment("WAYLAND_DISPLAY");
    const std::string x11 = environment("DISPLAY");
    if (!wayland.empty() && waylandReachable(wayland))
        return {};
    if (!x11.empty() && x11Reachable(x11, x11Probe))
        return {};
    if (wayland.empty() && x11.empty())
        return "Quillon needs a graphical display, and none was found (DISPLAY and\n"
               "WAYLAND_DISPLAY are not set).\n";
    std::string text = "Quillon needs a graphical display, and the one it was given cannot be\n"
                       "reached (";
    if (!wayland.empty())
        text += "WAYLAND_DISPLAY=" + wayland + (x11.empty() ? "" : ", ");
    if (!x11.empty())
        text += "DISPLAY=" + x11;
    return text + ").\n";
}

// --version and --help, answered before any display is needed (an installed package is
// checked with them on machines without one). 0 when the option was answered, -1 when the
// window is to start.
int commandLineAnswer(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version") {
            std::printf("quillon %s\n", quillon::kVersion);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs("Usage: quillon [--version] [--help]\n\n"
                       "Quillon, a noise-figure meter: the window program. Measurements\n"
                       "without a window: quillon-cli --help. Manual: man quillon.\n",
                       stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int status = commandLineAnswer(argc, argv); status >= 0)
        return status;
    XcbConnection x11Probe;
    if (const std::string problem = displayProblem(x11Probe); !problem.empty()) {
        const std::string text = problem +
                                 "Start it from a desktop session, or on a machine without a "
                                 "screen run it\nunder a virtual one:\n    " +
                                 virtualDisplayAdvice() +
                                 "\nFor measurements without a window, use quillon-cli.\n";
        std::fputs(text.c_str(), stderr);
        return 2;
    }
    QApplication application(argc, argv);
    x11Probe.reset();
    QApplication::setApplicationName(QString::fromLatin1(quillon::kApplicationName));
    QApplication::setOrganizationName(QString::fromLatin1(quillon::kOrganisationName));
    QApplication::setApplicationVersion(QString::fromLatin1(quillon::kVersion));

    quillon::QuillonApp app;
    if (!app.startUp())
        return 1;
    application.exec();
    return app.shutDown();
}
