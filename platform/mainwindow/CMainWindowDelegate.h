#pragma once

class QWidget;
class QMenu;
class QString;

// What the feature modules may ask of the main window.
class CMainWindowDelegate
{
public:
    virtual ~CMainWindowDelegate() = default;
    // The menu of the menu bar with this English title, created on first use.
    virtual QMenu *menuFor(const QString &englishTitle) = 0;
    // Shows a page in the content area; the window takes ownership of the page.
    virtual void showPage(QWidget *page) = 0;
    virtual QWidget *windowWidget() = 0;
};
