#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace quillon {

// The lock that shows ThreadSanitizer the order of a queued call: Qt's event queue orders
// the calls, but its locks live in code that ThreadSanitizer does not see. A closure is built
// and posted under it, and the window thread takes it before it reads the closure. Held for
// a post, never across a wait.
std::mutex &postLock();

// Runs `call` (a closure carrying copies, never references to the caller's stack) later on
// `context`'s thread, the window thread. Any thread; never waits for the window thread.
template <typename F> void postToWindow(QObject *context, F &&call)
{
    const std::lock_guard lock(postLock());
    QMetaObject::invokeMethod(
        context,
        [call = std::forward<F>(call)]() mutable {
            {
                const std::lock_guard sync(postLock());
            }
            call();
        },
        Qt::QueuedConnection);
}

} // namespace quillon
