#pragma once

class QWidget;
class QString;

// Lets modules add pages to the settings page.
class CSettingDelegate
{
public:
    virtual ~CSettingDelegate() = default;
    virtual void addSettingPage(const QString &englishTitle, QWidget *page) = 0;
};
