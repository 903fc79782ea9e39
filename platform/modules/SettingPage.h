#pragma once

#include "ModulePage.h"

class QListWidget;
class QStackedWidget;
class cvCheckBox;

// The settings page: a list of sub-pages on the left, the chosen one on the right.
class SettingPage : public ModulePage
{
    Q_OBJECT
public:
    explicit SettingPage(QWidget *parent = nullptr);

    // Takes ownership of the page.
    void addSubPage(const QString &englishTitle, QWidget *page);
    int subPageCount() const;
    int indexOf(QWidget *page) const;
    void selectSubPage(int index);
    QWidget *currentSubPage() const;

    // Reads the start-at-login state into the switch; done whenever the page is shown, as the entries
    // may change while the program runs.
    void refreshStartAtLogin();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void retranslateList();
    void setStartAtLogin(bool on);

    QListWidget *m_list;
    QStackedWidget *m_pages;
    cvWidget *m_empty;
    cvCheckBox *m_startAtLogin;
};
