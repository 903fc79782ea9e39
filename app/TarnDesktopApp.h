#pragma once

#include "CAppServiceInit.h"
#include "CDumpServer.h"
#include "SessionEndWatcher.h"
#include "TarnApplication.h"
#include "winapi.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <string>

class MainWindow;
class QPoint;
class QRect;
class SystemTray;
class TranslaterHandler;
class qtLogControl;

// The application controller: brings the program up, runs the event loop and tears it down.
class TarnDesktopApp : public QObject
{
    Q_OBJECT
public:
    TarnDesktopApp(int &argc, char **argv);
    ~TarnDesktopApp() override;

    int run();

    int checkInstance();
    bool handleUninstallCommand();
    int checkRandomTest();
    void initLogLevel();
    void initServices();
    void initUiEnvironment();
    void initTestability();
    void createSystemTray();

    // Centring: the position of a window of the given size on the given available area.
    static QPoint centredPosition(const QRect &available, const QRect &window);

    // The arguments left after Qt took its own options, joined by single blanks (none before the first
    // non-empty text).
    static std::string commandLineText(int argc, char **argv);
    // Reduces that text to the two start flags.
    static void reduceCommandLine(int argc, char **argv, int &showMainWindowAtStart, int &uninstallFlag);
    // Makes every `url("` reference of a style sheet point below the drawable folder.
    static QString rewriteImageReferences(const QString &sheet, const QString &drawableFolder);
    // Shutdown's COM step: uninitialises only what initServices initialised.
    void releaseCom();

private slots:
    void slotNotifyByOtherApp(QString strArg);
    void slotMainWindowShow();
    void slotMainWindowHide();

public slots:
    void slotWatchdogUpdateTime();
    void slotReloadTheme();

private:
    friend class TarnDesktopAppTest;

    Main_APP::CAppServiceInit serviceInit;
    TarnApplication application;
    TranslaterHandler *translaterHandler;
    MainWindow *mainWindow;
    qtLogControl *logControl;
    QPointer<SystemTray> systemTray;
    int showMainWindowAtStart;
    int uninstallFlag;
    HRESULT comInitResult;
    CDumpServer dumpServer;
    QTimer heartbeatTimer;
    QTimer stampFileTimer;
    // Declared last: it stops catching signals only after "app exit" has been written.
    SessionEndWatcher sessionEnd;
};
