#pragma once

#include "CMainWindowDelegate.h"
#include "ModuleHost.h"
#include "cvActionText.h"
#include "cvTr.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

// A module whose whole face is one settings page with a menu entry under "Settings": the language,
// device-management and soft-phone modules. The page is registered with the settings only when the
// menu entry is added, so the settings list follows the menu's order.
template <class Page> class SettingsPageModule
{
public:
    typedef Page *(*Factory)(ModuleHost *host);

    SettingsPageModule(Factory make, const QString &settingsTitle, const QString &menuText)
        : m_make(make), m_settingsTitle(settingsTitle), m_menuText(menuText)
    {
    }

    bool init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
    {
        if (!m_host.initialised()) {
            m_host.set(window, msgBox, setting);
        }
        return true;
    }

    void initMenuItem()
    {
        CMainWindowDelegate *window = m_host.window();
        if (!window || m_action) {
            return;
        }
        page();
        m_action = cvAddSourceAction(window->menuFor(CV_TR("Settings")), m_menuText);
        QObject::connect(m_action, &QAction::triggered, [this] { m_host.showPage(page()); });
    }

    void uninit()
    {
        delete m_action.data();
        delete m_page.data();
        m_host.clear();
    }

private:
    Page *page()
    {
        if (!m_page) {
            m_page = m_make(&m_host);
            m_host.addToSettings(m_settingsTitle, m_page);
        }
        return m_page;
    }

    Factory m_make;
    QString m_settingsTitle;
    QString m_menuText;
    ModuleHost m_host;
    QPointer<Page> m_page;
    QPointer<QAction> m_action;
};
