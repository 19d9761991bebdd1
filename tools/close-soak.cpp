// Closing the window at random moments on every page, under an X display without a window
// manager (scripts/close-soak.sh runs it under Xvfb). Each round starts the window on the
// virtual bench in real time (Show Spectrum at 96 kHz, 1024 points), makes one page active
// (on Measure Device and Calibrate Noise Source every other round with a series running
// behind the modal "Measuring Noise" dialog or a switch prompt, on Live Noise Figure with the
// noise source switching), waits a random time and
// closes the window from another X client, in turn the two ways a window is closed:
//   request:  the WM_DELETE_WINDOW message a window manager sends for the close button;
//   destroy:  XDestroyWindow on the window, as `xdotool windowclose` does.
// A round passes when the event loop has ended and the program has shut down within 2 s of
// the close. Exit status 1 when any round did not (or the display cannot be reached).
// Usage: quillon-close-soak [rounds (100)] [seed]
#include "ToolSupport.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const std::uint32_t atom = reply != nullptr ? reply->atom : 0;
    std::free(reply);
    return atom;
}

// What a window manager sends when the close button is pressed.
void sendCloseRequest(xcb_connection_t *c, std::uint32_t window)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = internAtom(c, "WM_PROTOCOLS");
    event.data.data32[0] = internAtom(c, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

void destroyWindow(xcb_connection_t *c, std::uint32_t window)
{
    xcb_destroy_window(c, window);
    xcb_flush(c);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : std::random_device{}();
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "close-soak: needs an X display (xcb), not %s\n",
                     qPrintable(QGuiApplication::platformName()));
        return 1;
    }
    xcb_connection_t *other = xcb_connect(nullptr, nullptr); // the "other client"
    if (xcb_connection_has_error(other) != 0) {
        std::fprintf(stderr, "close-soak: cannot reach the X display\n");
        return 1;
    }
    quillon::tools::storeBenchSetup(1.0);
    {
        quillon::SettingsStore store;
        store.write(quillon::keys::WaveInFormat, 16); // "96 KHz, mono, 16 bit"
        store.write(quillon::keys::FFTBlockSize, 1024);
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment(0, 1500); // ms after the page is active
    int failed = 0;
    qint64 worstMs = 0;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        auto app = quillon::tools::makeBenchApp();
        app->startUp();
        const std::vector<quillon::PropertyPage *> pages = app->pages();
        const int pageCount = static_cast<int>(pages.size());
        quillon::PropertyPage *page = pages[static_cast<std::size_t>(round % pageCount)];
        const bool destroy = (round / pageCount) % 2 == 1;
        const bool series = (round / (2 * pageCount)) % 2 == 0;
        app->sheet().setActivePage(page);
        const std::string what = page->metaObject()->className();
        const auto window = static_cast<std::uint32_t>(app->sheet().winId());
        // A series on the two reading pages, switching on Live Noise Figure.
        auto *measure = page->findChild<QPushButton *>(QStringLiteral("measure0"));
        if (measure == nullptr)
            measure = page->findChild<QPushButton *>(QStringLiteral("startLive"));
        const bool hasSeries = measure != nullptr;
        if (series && hasSeries)
            QTimer::singleShot(0, measure, [measure] { measure->click(); });
        const int delay = moment(random);
        QElapsedTimer sinceClose;
        QTimer::singleShot(delay, [&] {
            sinceClose.start();
            destroy ? destroyWindow(other, window) : sendCloseRequest(other, window);
        });
        bool late = false;
        QTimer watchdog; // a close that got lost: say so, then end the round by hand
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            late = true;
            app->closeFromOutside();
            QTimer::singleShot(3000, [] {
                std::fprintf(stderr, "close-soak: the window does not close at all\n");
                std::_Exit(1);
            });
        });
        watchdog.start(delay + 5000);
        application.exec();
        watchdog.stop();
        app->shutDown();
        // Live Noise Figure leaves the noise source OFF however it is closed.
        const bool leftOn = what == "quillon::LiveNoiseFigurePage" && app->engine().bench().noiseOn();
        app.reset();
        const qint64 ms = sinceClose.isValid() ? sinceClose.elapsed() : -1;
        worstMs = std::max(worstMs, ms);
        if (leftOn) {
            ++failed;
            failures.push_back("round " + std::to_string(round) + ": the noise source was left ON");
        } else if (late || ms < 0 || ms > 2000) {
            ++failed;
            failures.push_back("round " + std::to_string(round) + ": " +
                               (destroy ? "destroy" : "request") + (series && hasSeries ? " (series)" : "") +
                               " after " + std::to_string(delay) + " ms: " +
                               (late ? "not closed" : std::to_string(ms) + " ms"));
        }
        std::printf("round %3d  %-8s %-9s %s  close at %4d ms  ended after %4lld ms\n", round,
                    destroy ? "destroy" : "request", series && hasSeries ? "series" : "",
                    what.c_str(), delay, static_cast<long long>(ms));
        std::fflush(stdout);
    }
    xcb_disconnect(other);
    for (const std::string &f : failures)
        std::printf("FAILED %s\n", f.c_str());
    std::printf("close soak: %d rounds (seed %u), %d ended within 2 s, worst %lld ms\n%s\n", rounds,
                seed, rounds - failed, static_cast<long long>(worstMs), failed ? "FAIL" : "PASS");
    return failed ? 1 : 0;
}
