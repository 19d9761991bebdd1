#pragma once

#include <QMainWindow>

#include <functional>
#include <vector>

class QTabWidget;

namespace quillon {

class PropertyPage;

// The main window: the pages as tabs in a fixed order, caption "Quillon", fixed size, no
// maximize. A Help menu stands in for the system menu item of other platforms ("&About
// Quillon...") and offers help on the active page (F1).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Adds a page as the next tab. Before the window is shown.
    void addPage(PropertyPage *page);
    // Makes `page` the active tab: the page that was active gets deactivatePage first.
    void setActivePage(PropertyPage *page);
    PropertyPage *activePage() const { return m_active; }
    QTabWidget *tabs() const { return m_tabs; }

    // Called when the window is asked to close, before it closes (stops any capture).
    void setCloseHandler(std::function<void()> handler) { m_onClose = std::move(handler); }

    // Deactivates the active page and stops following tab changes, so pages can be
    // deleted (at exit) without the tab widget activating another page meanwhile.
    void detachPages();

    // Fixes the window size to what the pages need. After all pages are added.
    void fixSize();

    void showAbout();
    void showHelp();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void onTabChanged(int index);

    QTabWidget *m_tabs = nullptr;
    std::vector<PropertyPage *> m_pages;
    PropertyPage *m_active = nullptr;
    std::function<void()> m_onClose;
};

} // namespace quillon
