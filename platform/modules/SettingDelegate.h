#pragma once

#include "CSettingDelegate.h"

#include <QPointer>

class CMainWindowDelegate;
class SettingPage;

// Hands sub-pages to the settings page while the settings module is up; without it, pages stay
// with the modules that made them.
class SettingDelegate : public CSettingDelegate
{
public:
    void attach(SettingPage *page, CMainWindowDelegate *window, QWidget *windowWidget);
    void detach();
    SettingPage *page() const { return m_page.data(); }
    CMainWindowDelegate *window() const { return m_windowGuard ? m_window : nullptr; }

    void addSettingPage(const QString &englishTitle, QWidget *page) override;
    bool showSettingPage(QWidget *page) override;

private:
    QPointer<SettingPage> m_page;
    CMainWindowDelegate *m_window = nullptr;
    QPointer<QWidget> m_windowGuard;
};
