#pragma once

#include <QDialog>

class QTextBrowser;

namespace quillon {

// The built-in help: one HTML topic per page and an overview, shipped inside the program.
// Topics link to each other; "Contents" returns to the overview, "Back" and "Forward" walk
// the topics visited.
class HelpDialog : public QDialog
{
    Q_OBJECT
public:
    explicit HelpDialog(QWidget *parent = nullptr);

    // Shows the topic (e.g. "measure-noise"); an unknown or empty topic shows the
    // overview. One help window is reused while it stays open.
    static HelpDialog *showTopic(QWidget *parent, const QString &topic);

    void setTopic(const QString &topic);
    QString topic() const { return m_topic; }
    QString text() const;
    // Follows a link of the shown topic, as a click on it does (e.g. "setup.html").
    void followLink(const QString &href);

private:
    QTextBrowser *m_browser = nullptr;
    QString m_topic;
};

} // namespace quillon
