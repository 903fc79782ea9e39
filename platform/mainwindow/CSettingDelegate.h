#pragma once

#include <functional>

class QObject;
class QWidget;
class QString;

// Lets modules add pages to the settings page.
class CSettingDelegate
{
public:
    virtual ~CSettingDelegate() = default;
    virtual void addSettingPage(const QString &englishTitle, QWidget *page) = 0;
    // Takes a place in the settings list for a page made only when the settings page is first needed;
    // the place is dropped when the context object is gone by then. Delegates that keep no list make
    // the page at once.
    virtual void addSettingPageLater(const QString &englishTitle, QObject *context,
                                     std::function<QWidget *()> make)
    {
        (void)context;
        if (QWidget *page = make())
            addSettingPage(englishTitle, page);
    }
    // Makes the settings page and the pages waiting for it, if that has not happened yet.
    virtual void makeSettingPages() {}
    // Brings a page added here forward in the main window; false when the page is not one of
    // this delegate's.
    virtual bool showSettingPage(QWidget *) { return false; }
};
