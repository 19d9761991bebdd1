#include "ui/HelpDialog.h"
#include "ui/Resources.h"

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace quillon {

HelpDialog::HelpDialog(QWidget *parent) : QDialog(parent)
{
    initResources();
    setObjectName(QStringLiteral("helpDialog"));
    setWindowTitle(tr("Quillon Help"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_browser = new QTextBrowser(this);
    m_browser->setSearchPaths({QStringLiteral(":/quillon/help")});
    m_browser->setOpenLinks(true);
    auto *close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(620, 560);
}

HelpDialog *HelpDialog::showTopic(QWidget *parent, const QString &topic)
{
    static QPointer<HelpDialog> open;
    if (open == nullptr) {
        open = new HelpDialog(parent);
        open->setAttribute(Qt::WA_DeleteOnClose);
    }
    open->setTopic(topic);
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

void HelpDialog::setTopic(const QString &topic)
{
    QString name = topic.isEmpty() ? QStringLiteral("overview") : topic;
    if (!QFile::exists(QStringLiteral(":/quillon/help/%1.html").arg(name)))
        name = QStringLiteral("overview");
    m_topic = name;
    m_browser->setSource(QUrl(QStringLiteral("qrc:/quillon/help/%1.html").arg(name)));
}

QString HelpDialog::text() const
{
    return m_browser->toPlainText();
}

} // namespace quillon
