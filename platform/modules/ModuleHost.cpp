#include "ModuleHost.h"

#include "CMainWindowDelegate.h"
#include "CMessageBoxDelegate.h"
#include "CSettingDelegate.h"

void ModuleHost::set(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    m_window = window;
    m_windowGuard = window ? window->windowWidget() : nullptr;
    m_msgBox = msgBox;
    m_setting = setting;
    m_initialised = true;
}

void ModuleHost::clear()
{
    *this = ModuleHost();
}

CMainWindowDelegate *ModuleHost::window() const
{
    return m_windowGuard ? m_window : nullptr;
}

QWidget *ModuleHost::windowWidget() const
{
    return m_windowGuard.data();
}

void ModuleHost::showPage(QWidget *page) const
{
    if (!page)
        return;
    if (m_setting && m_setting->showSettingPage(page))
        return;
    if (CMainWindowDelegate *w = window())
        w->showPage(page);
}

bool ModuleHost::addToSettings(const QString &englishTitle, QWidget *page) const
{
    if (!m_setting || !page)
        return false;
    m_setting->addSettingPage(englishTitle, page);
    return true;
}

bool ModuleHost::addToSettingsLater(const QString &englishTitle, QObject *context,
                                    std::function<QWidget *()> make) const
{
    if (!m_setting || !make)
        return false;
    m_setting->addSettingPageLater(englishTitle, context, std::move(make));
    return true;
}

void ModuleHost::makeSettingPages() const
{
    if (m_setting)
        m_setting->makeSettingPages();
}

void ModuleHost::information(const QString &englishTitle, const QString &text) const
{
    if (m_msgBox)
        m_msgBox->information(englishTitle, text);
}

void ModuleHost::warning(const QString &englishTitle, const QString &text) const
{
    if (m_msgBox)
        m_msgBox->warning(englishTitle, text);
}
