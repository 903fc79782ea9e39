#pragma once

#include "CSettingDelegate.h"

#include <QPointer>
#include <QString>

#include <vector>

class CMainWindowDelegate;
class SettingPage;

// Hands sub-pages to the settings page while the settings module is up; without it, pages stay
// with the modules that made them. The settings page and the sub-pages that wait for it are made when
// the settings are first shown: at start-up only the list of their titles is kept.
class SettingDelegate : public CSettingDelegate
{
public:
    void attach(CMainWindowDelegate *window, QWidget *windowWidget);
    void detach();
    bool attached() const { return m_attached; }
    // The settings page once made, else null.
    SettingPage *page() const { return m_page.data(); }
    // The settings page, made with its waiting sub-pages on first use; null while detached.
    SettingPage *ensurePage();
    CMainWindowDelegate *window() const { return m_windowGuard ? m_window : nullptr; }

    void addSettingPage(const QString &englishTitle, QWidget *page) override;
    void addSettingPageLater(const QString &englishTitle, QObject *context,
                             std::function<QWidget *()> make) override;
    void makeSettingPages() override;
    bool showSettingPage(QWidget *page) override;

private:
    struct Waiting
    {
        QString title;
        QPointer<QWidget> page;
        QPointer<QObject> context;
        std::function<QWidget *()> make;
    };

    bool m_attached = false;
    std::vector<Waiting> m_waiting;
    QPointer<SettingPage> m_page;
    CMainWindowDelegate *m_window = nullptr;
    QPointer<QWidget> m_windowGuard;
};
