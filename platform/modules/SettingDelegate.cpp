#include "SettingDelegate.h"

#include "CMainWindowDelegate.h"
#include "SettingPage.h"

void SettingDelegate::attach(CMainWindowDelegate *window, QWidget *windowWidget)
{
    m_attached = true;
    m_window = window;
    m_windowGuard = windowWidget;
}

void SettingDelegate::detach()
{
    m_attached = false;
    m_waiting.clear();
    m_page = nullptr;
    m_window = nullptr;
    m_windowGuard = nullptr;
}

SettingPage *SettingDelegate::ensurePage()
{
    if (!m_attached || m_page)
        return m_page.data();
    m_page = new SettingPage();
    // Moved out first: a page's maker may register further pages, which then go straight in.
    std::vector<Waiting> waiting;
    waiting.swap(m_waiting);
    for (Waiting &entry : waiting) {
        QWidget *page = entry.page.data();
        if (!page && entry.make && entry.context)
            page = entry.make();
        if (page && m_page)
            m_page->addSubPage(entry.title, page);
    }
    return m_page.data();
}

void SettingDelegate::addSettingPage(const QString &englishTitle, QWidget *page)
{
    if (!page || !m_attached)
        return;
    if (m_page) {
        m_page->addSubPage(englishTitle, page);
        return;
    }
    for (const Waiting &entry : m_waiting) {
        if (entry.page == page)
            return;
    }
    m_waiting.push_back(Waiting{englishTitle, page, nullptr, nullptr});
}

void SettingDelegate::addSettingPageLater(const QString &englishTitle, QObject *context,
                                          std::function<QWidget *()> make)
{
    if (!make || !m_attached)
        return;
    if (m_page) {
        if (QWidget *page = make())
            m_page->addSubPage(englishTitle, page);
        return;
    }
    m_waiting.push_back(Waiting{englishTitle, nullptr, context, std::move(make)});
}

void SettingDelegate::makeSettingPages()
{
    ensurePage();
}

bool SettingDelegate::showSettingPage(QWidget *page)
{
    if (!page)
        return false;
    if (!m_page) {
        // Only a page waiting for the settings page makes it now; any other stays with its module.
        bool waiting = false;
        for (const Waiting &entry : m_waiting)
            waiting = waiting || entry.page == page;
        if (!waiting)
            return false;
        ensurePage();
    }
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
