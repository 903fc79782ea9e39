#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

// What a feature module was given at its Init. The window is used only while its widget lives,
// so a module called after the window went away does nothing instead of crashing.
class ModuleHost
{
public:
    void set(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
    void clear();

    CMainWindowDelegate *window() const;
    QWidget *windowWidget() const;
    CMessageBoxDelegate *msgBox() const { return m_msgBox; }
    CSettingDelegate *setting() const { return m_setting; }
    bool initialised() const { return m_initialised; }

    // Shows the page among the settings when the settings delegate holds it, else in the window.
    void showPage(QWidget *page) const;
    // Hands the page to the settings under the title; false when there is no settings delegate.
    bool addToSettings(const QString &englishTitle, QWidget *page) const;
    // Takes a place in the settings for a page made when the settings page is first needed, as long as
    // the context lives; false when there is no settings delegate.
    bool addToSettingsLater(const QString &englishTitle, QObject *context,
                            std::function<QWidget *()> make) const;
    // Makes the settings page and the pages that wait for it.
    void makeSettingPages() const;
    void information(const QString &englishTitle, const QString &text) const;
    void warning(const QString &englishTitle, const QString &text) const;

private:
    CMainWindowDelegate *m_window = nullptr;
    QPointer<QWidget> m_windowGuard;
    CMessageBoxDelegate *m_msgBox = nullptr;
    CSettingDelegate *m_setting = nullptr;
    bool m_initialised = false;
};
