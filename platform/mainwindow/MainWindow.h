#pragma once

#include "CMainWindowDelegate.h"

#include <QMainWindow>

#include <memory>

class CMessageBoxDelegate;
class QStackedWidget;

// The application's main window: a menu bar the modules fill and a content area.
class MainWindow : public QMainWindow, public CMainWindowDelegate
{
    Q_OBJECT
public:
    MainWindow(QWidget *parent, const int &flags, const QString &name);
    ~MainWindow() override;

    void InitMACWidgetAtturibute();
    void SetMsgBoxDelegate(CMessageBoxDelegate *delegate);
    void SetOnShowDefaultContentFun(void (*fun)());
    void SetShowSettingFun(void (*fun)(int, int));
    void SetShowAboutSettingFun(void (*fun)(int, int));
    void ShowDefaultContent();
    void ShowWindowNormal();

    QMenu *menuFor(const QString &englishTitle) override;
    void showPage(QWidget *page) override;
    QWidget *pageArea() override;
    QWidget *windowWidget() override;
    CMessageBoxDelegate *msgBoxDelegate() const;
    // The page the content area shows, null when none.
    QWidget *currentPage() const;
    // Menu titles and menu actions follow the language through a hidden cv widget of the window,
    // which the language switch reaches like every other cv widget.
    void retranslateMenus();

public slots:
    void slotDealBeforeMenuCloseAction();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void openNav(int which);

    struct Private;
    std::unique_ptr<Private> d;
};
