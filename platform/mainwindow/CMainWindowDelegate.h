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
    // Where shown pages live. A page made as its child is shown without being moved into the window,
    // which would restyle the page's whole tree once more; null when the window has no such area.
    virtual QWidget *pageArea() { return nullptr; }
    virtual QWidget *windowWidget() = 0;
};
