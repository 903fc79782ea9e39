#pragma once

#include "CMainWindowDelegate.h"
#include "ModuleHost.h"
#include "cvActionText.h"
#include "cvTr.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

// A module whose whole face is one settings page with a menu entry under "Settings": the language,
// device-management and soft-phone modules. The page takes its place among the settings when the menu
// entry is added, so the settings list follows the menu's order; it is made only when the settings
// page is first needed or the entry is chosen.
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
        m_action = cvAddSourceAction(window->menuFor(CV_TR("Settings")), m_menuText);
        QObject::connect(m_action, &QAction::triggered, [this] { m_host.showPage(page()); });
        // The entry is the context: once the module is down, the settings make nothing for it.
        m_waiting =
            !m_page && m_host.addToSettingsLater(m_settingsTitle, m_action, [this] { return made(); });
    }

    void uninit()
    {
        delete m_action.data();
        delete m_page.data();
        m_host.clear();
        m_waiting = false;
    }

private:
    Page *made()
    {
        if (!m_page) {
            m_page = m_make(&m_host);
        }
        return m_page;
    }

    Page *page()
    {
        if (!m_page && m_waiting) {
            // The settings page makes ours among its sub-pages, in the place it took.
            m_host.makeSettingPages();
        }
        if (!m_page) {
            made();
            m_host.addToSettings(m_settingsTitle, m_page);
        }
        m_waiting = false;
        return m_page;
    }

    Factory m_make;
    QString m_settingsTitle;
    QString m_menuText;
    ModuleHost m_host;
    QPointer<Page> m_page;
    QPointer<QAction> m_action;
    // The page has a place among the settings and is made with them.
    bool m_waiting = false;
};
