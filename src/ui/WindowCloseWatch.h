#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace quillon {

// Closing the main window from outside on X11, where Qt alone would not end the program:
//  - the window destroyed by another client (XDestroyWindow, as `xdotool windowclose` or a
//    crashed window manager does): Qt keeps running without a window, capturing and logging;
//  - a window manager's close request (WM_DELETE_WINDOW) while a modal dialog is up (the
//    "Measuring Noise" dialog, a message box, About): Qt drops a close request for a window
//    that a modal dialog blocks.
// Either calls `closeAll` once, queued to the window thread. Every other event, and every
// event on a platform other than xcb, passes untouched. Window thread.
class WindowCloseWatch : public QAbstractNativeEventFilter
{
public:
    explicit WindowCloseWatch(std::function<void()> closeAll);
    ~WindowCloseWatch() override;
    WindowCloseWatch(const WindowCloseWatch &) = delete;
    WindowCloseWatch &operator=(const WindowCloseWatch &) = delete;

    // Watches `window`'s native window (created here if it is not yet) and installs the
    // filter. On xcb only; elsewhere nothing is watched.
    void watch(QWidget *window);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    std::function<void()> m_closeAll;
    QPointer<QWidget> m_window;
    std::uint32_t m_windowId = 0;
    std::uint32_t m_protocolsAtom = 0;    // WM_PROTOCOLS
    std::uint32_t m_deleteWindowAtom = 0; // WM_DELETE_WINDOW
    bool m_installed = false;
    bool m_fired = false;
};

} // namespace quillon
