#pragma once

#include "core/Messages.h"

class QString;
class QWidget;

namespace quillon {

// Shows message `id` of the string table in a modal box titled with the application
// name, with one OK button. Window thread only.
void showMessageBox(int id, QWidget *parent = nullptr);
// The same box with a text of its own (a message with its detail, such as the line).
void showMessageText(const QString &text, QWidget *parent = nullptr);

// A MessageSink for engine code called on the window thread: shows each message at once,
// modally, and returns when the user has closed it.
class WidgetMessageSink : public MessageSink
{
public:
    explicit WidgetMessageSink(QWidget *parent = nullptr) : m_parent(parent) {}
    void showMessage(int messageId) override { showMessageBox(messageId, m_parent); }

private:
    QWidget *m_parent;
};

} // namespace quillon
