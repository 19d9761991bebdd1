#pragma once

#include <QDialog>

class QTextBrowser;

namespace quillon {

// The built-in help: one HTML topic per page, shipped inside the program.
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

private:
    QTextBrowser *m_browser = nullptr;
    QString m_topic;
};

} // namespace quillon
