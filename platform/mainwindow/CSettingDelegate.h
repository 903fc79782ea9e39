#pragma once

class QWidget;
class QString;

// Lets modules add pages to the settings page.
class CSettingDelegate
{
public:
    virtual ~CSettingDelegate() = default;
    virtual void addSettingPage(const QString &englishTitle, QWidget *page) = 0;
    // Brings a page added here forward in the main window; false when the page is not one of
    // this delegate's.
    virtual bool showSettingPage(QWidget *) { return false; }
};
