#include "ui/MainWindow.h"
#include "ui/Resources.h"

#include "ui/AboutDialog.h"
#include "ui/HelpDialog.h"
#include "ui/pages/PropertyPage.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QMenuBar>
#include <QTabWidget>

namespace quillon {

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    initResources();
    setWindowTitle(QStringLiteral("Quillon"));
    setWindowIcon(QIcon(QStringLiteral(":/quillon/quillon.png")));
    // Caption, system menu, minimize and close; no maximize, no resizing (fixSize()).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_tabs->setDocumentMode(false);
    setCentralWidget(m_tabs);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *pageHelp = help->addAction(tr("Help on this page"));
    pageHelp->setObjectName(QStringLiteral("pageHelpAction"));
    pageHelp->setShortcut(QKeySequence::HelpContents);
    pageHelp->setShortcutContext(Qt::ApplicationShortcut);
    connect(pageHelp, &QAction::triggered, this, &MainWindow::showHelp);
    QAction *contents = help->addAction(tr("Help &Contents"));
    contents->setObjectName(QStringLiteral("helpContentsAction"));
    connect(contents, &QAction::triggered, this,
            [this] { HelpDialog::showTopic(this, QStringLiteral("overview")); });
    help->addSeparator();
    QAction *about = help->addAction(tr("&About Quillon..."));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::addPage(PropertyPage *page)
{
    m_pages.push_back(page);
    const QSignalBlocker block(m_tabs); // activation is explicit, not by adding
    m_tabs->addTab(page, page->caption());
    if (m_pages.size() == 1)
        connect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
}

void MainWindow::setActivePage(PropertyPage *page)
{
    const int index = m_tabs->indexOf(page);
    if (index < 0)
        return;
    if (m_tabs->currentIndex() == index) {
        if (m_active != page)
            onTabChanged(index);
        return;
    }
    m_tabs->setCurrentIndex(index); // onTabChanged does the rest
}

void MainWindow::onTabChanged(int index)
{
    auto *page = qobject_cast<PropertyPage *>(m_tabs->widget(index));
    if (page == m_active)
        return;
    if (m_active != nullptr)
        m_active->deactivatePage();
    m_active = page;
    if (page != nullptr)
        page->activate();
}

void MainWindow::detachPages()
{
    disconnect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    if (m_active != nullptr) {
        m_active->deactivatePage();
        m_active = nullptr;
    }
    m_pages.clear();
}

void MainWindow::fixSize()
{
    adjustSize();
    setFixedSize(sizeHint());
}

void MainWindow::showAbout()
{
    AboutDialog about(this);
    about.exec();
}

void MainWindow::showHelp()
{
    HelpDialog::showTopic(this, m_active != nullptr ? m_active->helpTopic() : QString());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The active page stops its own capture first: it knows how to release a capture
    // callback that waits for the window thread (a message box on screen). The close
    // handler's stop then finds nothing running.
    if (m_active != nullptr) {
        m_active->deactivatePage();
        m_active = nullptr;
    }
    if (m_onClose)
        m_onClose();
    event->accept();
}

} // namespace quillon
