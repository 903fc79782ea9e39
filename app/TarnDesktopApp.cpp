#include "TarnDesktopApp.h"

#include "ArgHandler.h"
#include "CExitAppThread.h"
#include "CFeedWatchdogClock.h"
#include "DevUi.h"
#include "DmsUi.h"
#include "ETLLib.h"
#include "FbUi.h"
#include "GlobalConfigTigger.h"
#include "HotkeyModule.h"
#include "IconFileCache.h"
#include "LangUi.h"
#include "MainWindow.h"
#include "MsgBox.h"
#include "NotificationMgr.h"
#include "QEBridge.h"
#include "RandomOperationServer.h"
#include "Setting.h"
#include "SoftPhoneSettingUi.h"
#include "SwUi.h"
#include "SystemTray.h"
#include "TranslaterHandler.h"
#include "UICommon.h"
#include "UcStyle.h"
#include "UsbDev.h"
#include "UtilityLib.h"
#include "cvExtensionIconStyle.h"
#include "cvTextSize.h"
#include "cvThemeMan.h"
#include "cvstl.h"
#include "dskregistry.h"
#include "qtLogControl.h"
#include "uCTraceHelper.h"
#include "wAppLauncher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopWidget>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QStyleFactory>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

namespace {
const char *const kTraceTag = "N:Demo";
const char *const kLauncherName = "Corvane Daskor.main";

// The main window, the Qt log control and the tray live until the process ends and are never deleted.
// Holding them here as well keeps them reachable to the end, so leak checkers do not count them as lost.
struct ProcessLifetimeObjects
{
    MainWindow *mainWindow = nullptr;
    qtLogControl *logControl = nullptr;
    SystemTray *systemTray = nullptr;
};
ProcessLifetimeObjects g_processLifetime;
} // namespace

TarnDesktopApp::TarnDesktopApp(int &argc, char **argv)
    : QObject(nullptr), serviceInit(), application(argc, argv), translaterHandler(nullptr),
      mainWindow(nullptr), logControl(nullptr), systemTray(nullptr), showMainWindowAtStart(1),
      uninstallFlag(0), comInitResult(S_FALSE), dumpServer(), heartbeatTimer(), stampFileTimer(), sessionEnd()
{
    // The application object has removed its own options by now.
    reduceCommandLine(argc, argv, showMainWindowAtStart, uninstallFlag);
}

TarnDesktopApp::~TarnDesktopApp()
{
    if (translaterHandler) {
        translaterHandler->deleteLater();
        // No event loop runs any more; deliver the deletion while the application object still exists,
        // or the handler would never be released.
        QCoreApplication::sendPostedEvents(translaterHandler, QEvent::DeferredDelete);
        translaterHandler = nullptr;
    }
    etlModuleTrace(5, kTraceTag, "app exit");
}

std::string TarnDesktopApp::commandLineText(int argc, char **argv)
{
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        if (argv && argv[i]) {
            commandLine += argv[i];
        }
    }
    return commandLine;
}

void TarnDesktopApp::reduceCommandLine(int argc, char **argv, int &showAtStart, int &uninstall)
{
    const std::string commandLine = commandLineText(argc, argv);
    if (commandLine == "autorun") {
        showAtStart = 0;
    } else if (commandLine == "uninstall") {
        uninstall = 1;
    }
}

QPoint TarnDesktopApp::centredPosition(const QRect &available, const QRect &window)
{
    // Measured from the screen's origin, not from the available area's corner.
    int x = (available.width() - window.width()) / 2;
    int y = (available.height() - window.height()) / 2;
    if (x < 0) {
        x = 0;
    }
    if (y < 0) {
        y = 0;
    }
    return QPoint(x, y);
}

QString TarnDesktopApp::rewriteImageReferences(const QString &sheet, const QString &drawableFolder)
{
    const QString marker = QStringLiteral("url(\"");
    QString result = sheet;
    result.replace(marker, marker + drawableFolder, Qt::CaseSensitive);
    return result;
}

int TarnDesktopApp::run()
{
    const std::string docPath = getAppDocPath();
    etlSetAppDocPath(docPath);
    etlHookCrashSignal();

    int exitCode = checkInstance();
    if (exitCode < 0) {
        return exitCode;
    }
    // From here on the process owns state an orderly shutdown must release; before this point a
    // signal ends it at once, as it should end a start that is still deciding whether to run.
    sessionEnd.install();

    QGuiApplication::setQuitOnLastWindowClosed(false);
    QEBridge::instance().initBridge();

    const std::string configPath = etlGetAppRootPath() + "/config";
    const std::string dataPath = docPath + "/data";
    pathCreateDirectory(dataPath);
    UsbDev_SetPath(configPath, dataPath);

    initLogLevel();

    logControl = new qtLogControl();
    g_processLifetime.logControl = logControl;
    if (logControl) {
        logControl->qtLogRedirect();
    }

    if (dumpServer.OpenShareMemory()) {
        const std::string version =
            etlGetRegistryString("version.ini", "Version", "ProductVersion", "11.11.11.11");
        const std::string prefix = "Corvane Daskor-" + version + "-";
        const std::string logFolder = etlGetAppDocPath() + "/log/";
        const std::string exeFolder = pathRemoveLastPart(etlGetExeFileName());
        const std::string dumpTool = exeFolder + "/procdump";
        const std::string watchdog = exeFolder + "/wddmp.exe";
        if (dumpServer.StartDumpProcess(watchdog, GetCurrentProcessId(), prefix, dumpTool, logFolder, true)) {
            connect(&heartbeatTimer, SIGNAL(timeout()), this, SLOT(slotWatchdogUpdateTime()));
            heartbeatTimer.start(1000);
            if (checkRandomTest() == 0) {
                connect(&stampFileTimer, &QTimer::timeout, [this]() { dumpServer.WriteWatchdogFile(); });
                stampFileTimer.start(120000);
            }
        }
    }

    initServices();
    etlModuleTrace(5, kTraceTag, "Build at: %s %s %s", __DATE__, __TIME__, GetProductVersion().c_str());

    initUiEnvironment();
    etlModuleTrace(5, kTraceTag, "Init ui");

    initTestability();

    ArgHandler::instance().listen();
    connect(&ArgHandler::instance(), &ArgHandler::active, this, &TarnDesktopApp::slotNotifyByOtherApp);

    UsbDev_Init("", true);
    NotificationMgr_Init();

    const int windowFlags = -1;
    mainWindow = new MainWindow(nullptr, windowFlags, QStringLiteral("MainWindow"));
    g_processLifetime.mainWindow = mainWindow;
    mainWindow->InitMACWidgetAtturibute();
    mainWindow->show();
    ucstyle_init(&application, mainWindow);
    createSystemTray();

    QPoint position(0, 0);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QDesktopWidget *desktop = QApplication::desktop();
    if (desktop) {
        position = centredPosition(desktop->availableGeometry(-1), mainWindow->geometry());
    }
    QT_WARNING_POP
    mainWindow->move(position);

    if (showMainWindowAtStart == 0) {
        mainWindow->hide();
    }

    CMainWindowDelegate *windowDelegate = mainWindow;
    MsgBox_Init(windowDelegate);
    Setting_Init(windowDelegate);
    CSettingDelegate *settingDelegate = Setting_GetDelegate();
    CMessageBoxDelegate *msgBoxDelegate = MsgBox_GetDelegate();
    DEVUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    DEVUI_SetDataPath(dataPath);
    DMSUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    SWUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    FBUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    LANGUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    SOFTPHONESETTINGUI_Init(windowDelegate, msgBoxDelegate, settingDelegate);
    mainWindow->SetMsgBoxDelegate(msgBoxDelegate);
    LangUi_InitLangeConfigMenuItem();
    SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem();
    DMSUI_InitDmMangageMenuItem();
    SWUI_InitSoftCheckUpdateMenuItem();
    FBUI_InitFeedbackMenuItem();
    SWUI_InitUserAgreementMenuItem();
    SWUI_InitPrivacyPolicyMenuItem();
    mainWindow->SetOnShowDefaultContentFun(&DEVUI_OnShowDefaultContent);
    mainWindow->SetShowSettingFun(&Setting_ShowSetting);
    mainWindow->SetShowAboutSettingFun(&Setting_ShowSettingAbout);
    mainWindow->ShowDefaultContent();

    exitCode = QApplication::exec();

    if (!systemTray.isNull()) {
        systemTray->setVisible(false);
    }
    {
        CExitAppThread exitThread;
        exitThread.Start();
        dumpServer.ClearTime();

        NotificationMgr_UnInit();
        FBUI_UnInit();
        DMSUI_UnInit();
        SWUI_UnInit();
        DEVUI_UnInit();
        UsbDev_UnInit();
        Setting_Uninit();
        MsgBox_Uninit();
        GlobalConfigTigger::unlisten();

        etlModuleTrace(5, kTraceTag, "stop service");
        serviceInit.UnloadServices();
        releaseCom();
        ArgHandler::instance().close();
        wAppLauncher::getInstance()->setAppMainExitFlag();
        QEBridge::instance().releaseBridge();
        dumpServer.CloseShareMemory();
        exitThread.Stop();
    }
    return exitCode;
}

int TarnDesktopApp::checkInstance()
{
    if (handleUninstallCommand()) {
        return -1;
    }
    wAppLauncher *launcher = wAppLauncher::getInstance();
    if (launcher->startApp(kLauncherName) != 1) {
        const std::string multiTerminal =
            etlGetRegistryString("system.ini", "App", "Multi-Terminal", "false");
        if (multiTerminal == "false" && launcher->getExistAppCount(kLauncherName) != 1) {
            ArgHandler::instance().setArg(QStringLiteral("SetTopLastApp"));
            return -1;
        }
    }
    if (launcher->getExistAppCount("Demo.install") != 0) {
        launcher->bringAppToTop("Demo.install");
        return -2;
    }
    if (launcher->getExistAppCount("Demo.uninstall") != 0) {
        launcher->bringAppToTop("Demo.uninstall");
        return -3;
    }
    return 0;
}

bool TarnDesktopApp::handleUninstallCommand()
{
    if (uninstallFlag == 0) {
        return false;
    }
    ArgHandler::instance().setArg(QStringLiteral("CloseApp"));

    const std::string productType = etlGetRegistryString("version.ini", "Version", "ProductType", "");
    const std::string productCode = etlGetRegistryString("version.ini", "Version", "ProductCode", "");
    if (productType != "msi" || productCode.empty()) {
        return true;
    }

    char folder[MAX_PATH];
    std::memset(folder, 0, sizeof(folder));
    const BOOL found = SHGetSpecialFolderPathA(nullptr, folder, CSIDL_SYSTEMX86, FALSE);
    folder[MAX_PATH - 1] = '\0';
    const std::string program = std::string(folder) + "\\msiexec.exe";
    if (!found || folder[0] == '\0') {
        // Without the system folder there is no installer to start; a bare "\msiexec.exe" must not run.
        etlModuleTrace(4, "W:Demo", "ShellExecuteExW[%s] fail, Instance:%d Error:[%lu]", program.c_str(), 0,
                       static_cast<unsigned long>(GetLastError()));
        return true;
    }

    const std::wstring file = cv::string_utf8_to_wstring(program);
    const std::wstring parameters = cv::string_utf8_to_wstring("/x " + productCode);
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof(info));
    info.cbSize = 60;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOW;
    if (ShellExecuteExW(&info) && info.hProcess) {
        CloseHandle(info.hProcess);
    } else {
        etlModuleTrace(4, "W:Demo", "ShellExecuteExW[%s] fail, Instance:%d Error:[%lu]", program.c_str(),
                       static_cast<int>(reinterpret_cast<intptr_t>(info.hInstApp)),
                       static_cast<unsigned long>(GetLastError()));
    }
    return true;
}

int TarnDesktopApp::checkRandomTest()
{
    const std::string value = etlGetRegistryString("system.ini", "RandomTest", "RandomTest", "false");
    return value == "false" ? -1 : 0;
}

void TarnDesktopApp::initLogLevel()
{
    pathCreateDirectory(getAppDocPath() + "/log/");
    const int level = etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5);
    uCTraceHelper &trace = uCTraceHelper::getInstance();
    trace.ResetTraceLevel(level);
    if (IsDebuggerPresent()) {
        trace.RedirectToConsole();
    } else {
        trace.RedirectToShareMemory();
    }
}

void TarnDesktopApp::initServices()
{
    comInitResult = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    etlModuleTrace(5, kTraceTag, "Tarn desktop com init reslut %d", static_cast<int>(comInitResult));
    serviceInit.AddService("TraceD.dll");
    serviceInit.AddService("NetworkD.dll");
}

void TarnDesktopApp::releaseCom()
{
    if (comInitResult == S_OK) {
        CoUninitialize();
    }
}

void TarnDesktopApp::initUiEnvironment()
{
    InitTextSizeCommon();
    // The program draws with Fusion (the style module makes sure of it); setting it before any widget
    // exists costs no restyle.
    QApplication::setStyle(new cvExtensionIconStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    translaterHandler = new TranslaterHandler(&application);
    translaterHandler->initLanguage();
    slotReloadTheme();
    QApplication::setEffectEnabled(Qt::UI_AnimateMenu, false);
    connect(&application, SIGNAL(signalReloadTheme()), this, SLOT(slotReloadTheme()));
    HotkeyModule_Init();
}

void TarnDesktopApp::initTestability()
{
    HMODULE library = LoadLibraryA("testability.dll");
    if (library) {
        FARPROC entry = GetProcAddress(library, "somain");
        if (entry) {
            entry();
        }
    }
    if (checkRandomTest() == 0) {
        startRandomOperationServer();
    }
    GlobalConfigTigger::listen();
}

void TarnDesktopApp::createSystemTray()
{
    if (!mainWindow) {
        return;
    }
    if (systemTray.isNull()) {
        systemTray = new SystemTray(nullptr);
        g_processLifetime.systemTray = systemTray.data();
        connect(systemTray.data(), SIGNAL(showMainWindowSignal()), this, SLOT(slotMainWindowShow()));
        connect(systemTray.data(), SIGNAL(sigQuitAppAction()), mainWindow,
                SLOT(slotDealBeforeMenuCloseAction()));
    }
    if (translaterHandler) {
        connect(translaterHandler, SIGNAL(LangConfigChanged()), systemTray.data(),
                SLOT(slotLangConfigChanged()));
    }
    systemTray->setVisible(true);
}

void TarnDesktopApp::slotNotifyByOtherApp(QString strArg)
{
    if (strArg == QLatin1String("SetTopLastApp")) {
        if (mainWindow) {
            mainWindow->ShowWindowNormal();
        }
    } else if (strArg == QLatin1String("CloseApp")) {
        QCoreApplication::quit();
    }
}

void TarnDesktopApp::slotMainWindowShow()
{
    if (mainWindow) {
        mainWindow->ShowWindowNormal();
    }
}

void TarnDesktopApp::slotMainWindowHide()
{
    if (mainWindow) {
        mainWindow->hide();
    }
}

void TarnDesktopApp::slotWatchdogUpdateTime()
{
    if (CFeedWatchdogClock::processClock().feed(static_cast<int64_t>(std::time(nullptr)))) {
        etlModuleTrace(4, "W:Demo", "FeedWatchdog Time OutTime >5s");
    }
    dumpServer.UpdateTime();
}

void TarnDesktopApp::slotReloadTheme()
{
    const float scale = getCurrentDpiSize();
    etlModuleTrace(5, kTraceTag, "reloadTheme current dpi size %f", static_cast<double>(scale));

    cvThemeMan themeMan;
    const std::string scaleText = dpiSize2String(scale);
    const QString themeName = QString::fromUtf8(scaleText.c_str());
    const std::string root = appRootPath();
    const QString themeFolder = QString::fromUtf8(pathAppend(root, "resource/theme/" + scaleText).c_str());
    const QString drawableFolder =
        QString::fromUtf8(pathAppend(root, "resource/drawable/" + scaleText).c_str());

    QString sheet = themeMan.ReadAllQssFile(themeFolder, false);
    sheet = rewriteImageReferences(sheet, drawableFolder);
    QApplication::setWindowIcon(IconFileCache::load(
        QString::fromUtf8((etlGetAppRootPath() + "/resource/drawable/1/common/logo/main.ico").c_str())));
    themeMan.AddTheme(sheet, themeName);
    application.setStyleSheet(themeMan.GetTheme(themeName));
}
