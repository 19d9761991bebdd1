#include "ui/WindowCloseWatch.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace quillon {

namespace {

std::uint32_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return 0;
    const std::uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

WindowCloseWatch::WindowCloseWatch(std::function<void()> closeAll) : m_closeAll(std::move(closeAll))
{
}

WindowCloseWatch::~WindowCloseWatch()
{
    if (m_installed && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void WindowCloseWatch::watch(QWidget *window)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || window == nullptr)
        return;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    m_window = window;
    m_windowId = static_cast<std::uint32_t>(window->winId());
    m_protocolsAtom = internAtom(x11->connection(), "WM_PROTOCOLS");
    m_deleteWindowAtom = internAtom(x11->connection(), "WM_DELETE_WINDOW");
    m_fired = false;
    if (!m_installed) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_installed = true;
    }
}

bool WindowCloseWatch::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_fired || m_windowId == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    bool close = false;
    switch (event->response_type & 0x7f) {
    case XCB_DESTROY_NOTIFY: {
        // Qt destroys its own window only once the widget is hidden or gone.
        const auto *destroyed = static_cast<const xcb_destroy_notify_event_t *>(message);
        close = destroyed->window == m_windowId && m_window && m_window->isVisible();
        break;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto *client = static_cast<const xcb_client_message_event_t *>(message);
        close = client->window == m_windowId && client->format == 32 && m_protocolsAtom != 0 &&
                client->type == m_protocolsAtom &&
                client->data.data32[0] == m_deleteWindowAtom &&
                QApplication::activeModalWidget() != nullptr; // else Qt's own close runs
        break;
    }
    default:
        break;
    }
    if (!close)
        return false;
    m_fired = true;
    // Queued: the filter runs inside Qt's event processing, which must not be re-entered.
    QMetaObject::invokeMethod(
        qApp, [closeAll = m_closeAll] { closeAll(); }, Qt::QueuedConnection);
    return false;
}

} // namespace quillon
