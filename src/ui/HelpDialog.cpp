#include "ui/HelpDialog.h"
#include "ui/Resources.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
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
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) {
        m_topic = QFileInfo(url.path()).completeBaseName();
    });

    auto *contents = new QPushButton(tr("Contents"), this);
    contents->setObjectName(QStringLiteral("helpContents"));
    connect(contents, &QPushButton::clicked, this, [this] { setTopic(QStringLiteral("overview")); });
    auto *back = new QPushButton(tr("Back"), this);
    back->setObjectName(QStringLiteral("helpBack"));
    back->setEnabled(false);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    auto *forward = new QPushButton(tr("Forward"), this);
    forward->setObjectName(QStringLiteral("helpForward"));
    forward->setEnabled(false);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    auto *close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addLayout(buttons);
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

void HelpDialog::followLink(const QString &href)
{
    m_browser->setSource(m_browser->source().resolved(QUrl(href)));
}

QString HelpDialog::text() const
{
    return m_browser->toPlainText();
}

} // namespace quillon
