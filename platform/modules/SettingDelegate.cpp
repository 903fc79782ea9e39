#include "SettingDelegate.h"

#include "CMainWindowDelegate.h"
#include "SettingPage.h"

void SettingDelegate::attach(SettingPage *page, CMainWindowDelegate *window, QWidget *windowWidget)
{
    m_page = page;
    m_window = window;
    m_windowGuard = windowWidget;
}

void SettingDelegate::detach()
{
    m_page = nullptr;
    m_window = nullptr;
    m_windowGuard = nullptr;
}

void SettingDelegate::addSettingPage(const QString &englishTitle, QWidget *page)
{
    if (m_page)
        m_page->addSubPage(englishTitle, page);
}

bool SettingDelegate::showSettingPage(QWidget *page)
{
    if (!m_page)
        return false;
    const int index = m_page->indexOf(page);
    if (index < 0)
        return false;
    m_page->selectSubPage(index);
    if (CMainWindowDelegate *w = window())
        w->showPage(m_page);
    return true;
}
