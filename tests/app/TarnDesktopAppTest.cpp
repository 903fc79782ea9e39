#include "TarnDesktopApp.h"

#include "CFeedWatchdogClock.h"
#include "ETLLib.h"
#include "MainWindow.h"
#include "SystemTray.h"
#include "TraceLogReader.h"
#include "TranslaterHandler.h"
#include "UICommon.h"
#include "uCTraceHelper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

QString configFile(const char *name)
{
    return QString::fromStdString(etlGetAppDataRootPath()) + '/' + name;
}

void writeConfig(const char *name, const QByteArray &text)
{
    QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath()));
    QFile file(configFile(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

struct ChildResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs this test program again in one of its child modes.
ChildResult runChild(const QString &mode, const QStringList &arguments, const QStringList &extraEnv = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARN_APP_TEST_MODE"), mode);
    for (const QString &pair : extraEnv) {
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    }
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    ChildResult result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

char **argvOf(std::vector<std::string> &storage, std::vector<char *> &pointers)
{
    pointers.clear();
    for (std::string &s : storage) {
        pointers.push_back(&s[0]);
    }
    pointers.push_back(nullptr);
    return pointers.data();
}

} // namespace

class TarnDesktopAppTest : public QObject
{
    Q_OBJECT
public:
    explicit TarnDesktopAppTest(TarnDesktopApp *app) : m_app(app) {}

    // Child modes, run in a fresh process each because a process has one application object.
    static int childMain(const QByteArray &mode, int &argc, char **argv)
    {
        if (mode == "flags") {
            TarnDesktopApp app(argc, argv);
            std::printf("show=%d uninstall=%d\n", app.showMainWindowAtStart, app.uninstallFlag);
            return 0;
        }
        if (mode == "destroy") {
            TarnDesktopApp app(argc, argv);
            app.initUiEnvironment();
            std::printf("handler=%d\n", app.translaterHandler != nullptr);
            if (app.translaterHandler) {
                QObject::connect(app.translaterHandler, &QObject::destroyed,
                                 []() { std::printf("handler released\n"); });
            }
            etlModuleTrace(5, "N:Demo", "before destruction");
            return 0;
        }
        if (mode == "loglevel") {
            TarnDesktopApp app(argc, argv);
            app.initLogLevel();
            etlModuleTrace(5, "N:Demo", "probe after redirect");
            std::printf("level=%d\n", uCTraceHelper::getInstance().GetTraceLevel());
            return 0;
        }
        if (mode == "theme") {
            TarnDesktopApp app(argc, argv);
            etlOverrideAppRootPath(qgetenv("TARN_THEME_ROOT").toStdString());
            app.slotReloadTheme();
            std::fputs(app.application.styleSheet().toUtf8().constData(), stdout);
            std::fprintf(stderr, "icon sizes %d\n", int(QApplication::windowIcon().availableSizes().size()));
            return 0;
        }
        std::fprintf(stderr, "unknown child mode %s\n", mode.constData());
        return 2;
    }

private:
    TarnDesktopApp *m_app;

private slots:
    void commandLineText_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("show");
        QTest::addColumn<int>("uninstall");

        QTest::newRow("none") << QStringList() << "" << 1 << 0;
        QTest::newRow("autorun") << QStringList{"autorun"} << "autorun" << 0 << 0;
        QTest::newRow("uninstall") << QStringList{"uninstall"} << "uninstall" << 1 << 1;
        QTest::newRow("other case") << QStringList{"Autorun"} << "Autorun" << 1 << 0;
        QTest::newRow("upper uninstall") << QStringList{"UNINSTALL"} << "UNINSTALL" << 1 << 0;
        QTest::newRow("keyword and word") << QStringList{"autorun", "now"} << "autorun now" << 1 << 0;
        QTest::newRow("one argument with blank") << QStringList{"autorun x"} << "autorun x" << 1 << 0;
        QTest::newRow("empty then autorun") << QStringList{"", "autorun"} << "autorun" << 0 << 0;
        QTest::newRow("autorun then empty") << QStringList{"autorun", ""} << "autorun " << 1 << 0;
        QTest::newRow("empty middle") << QStringList{"a", "", "b"} << "a  b" << 1 << 0;
        QTest::newRow("only empties") << QStringList{"", ""} << "" << 1 << 0;
        QTest::newRow("prefix") << QStringList{"autoru"} << "autoru" << 1 << 0;
        QTest::newRow("quoted") << QStringList{"\"autorun\""} << "\"autorun\"" << 1 << 0;
        QTest::newRow("both words") << QStringList{"uninstall", "autorun"} << "uninstall autorun" << 1 << 0;
    }
    void commandLineText()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, text);
        QFETCH(int, show);
        QFETCH(int, uninstall);

        std::vector<std::string> storage{"tarn-desktop"};
        for (const QString &a : args) {
            storage.push_back(a.toStdString());
        }
        std::vector<char *> pointers;
        char **argv = argvOf(storage, pointers);
        const int argc = int(storage.size());
        QCOMPARE(QString::fromStdString(TarnDesktopApp::commandLineText(argc, argv)), text);
        int showFlag = 1;
        int uninstallFlag = 0;
        TarnDesktopApp::reduceCommandLine(argc, argv, showFlag, uninstallFlag);
        QCOMPARE(showFlag, show);
        QCOMPARE(uninstallFlag, uninstall);
    }

    void constructorSeesArgumentsAfterQt_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("none") << QStringList() << QByteArray("show=1 uninstall=0\n");
        QTest::newRow("autorun") << QStringList{"autorun"} << QByteArray("show=0 uninstall=0\n");
        QTest::newRow("uninstall") << QStringList{"uninstall"} << QByteArray("show=1 uninstall=1\n");
        QTest::newRow("qt option first")
            << QStringList{"-style", "fusion", "autorun"} << QByteArray("show=0 uninstall=0\n");
        QTest::newRow("keyword then qt option")
            << QStringList{"uninstall", "-style", "fusion"} << QByteArray("show=1 uninstall=1\n");
    }
    void constructorSeesArgumentsAfterQt()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, expected);
        const ChildResult child = runChild(QStringLiteral("flags"), args);
        QCOMPARE(child.exitCode, 0);
        QCOMPARE(child.out, expected);
    }

    void destructionWritesAppExitLast()
    {
        QTemporaryDir data;
        const ChildResult child = runChild(QStringLiteral("destroy"), {}, {"XDG_DATA_HOME=" + data.path()});
        QCOMPARE(child.exitCode, 0);
        QCOMPARE(child.out, QByteArray("handler=1\nhandler released\n"));
        QFile log(data.path() + "/tarn-desktop/log/tarn-desktop.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        QVERIFY(lines.size() >= 2);
        QVERIFY2(lines.last().endsWith(" N:Demo app exit"), lines.last().constData());
        QVERIFY2(lines.at(lines.size() - 2).endsWith(" N:Demo before destruction"),
                 lines.at(lines.size() - 2).constData());
    }

    void metaObject()
    {
        const QMetaObject *meta = m_app->metaObject();
        QCOMPARE(meta->className(), "TarnDesktopApp");
        QCOMPARE(meta->superClass(), &QObject::staticMetaObject);
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 5);
        QCOMPARE(meta->propertyCount(), meta->propertyOffset());
        QCOMPARE(meta->enumeratorCount(), meta->enumeratorOffset());
        QCOMPARE(meta->classInfoCount(), 0);

        const struct
        {
            const char *signature;
            QMetaMethod::Access access;
        } expected[] = {{"slotNotifyByOtherApp(QString)", QMetaMethod::Private},
                        {"slotMainWindowShow()", QMetaMethod::Private},
                        {"slotMainWindowHide()", QMetaMethod::Private},
                        {"slotWatchdogUpdateTime()", QMetaMethod::Public},
                        {"slotReloadTheme()", QMetaMethod::Public}};
        for (int i = 0; i < 5; ++i) {
            const QMetaMethod method = meta->method(meta->methodOffset() + i);
            QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
            QCOMPARE(method.access(), expected[i].access);
            QCOMPARE(method.methodType(), QMetaMethod::Slot);
        }
        QVERIFY(m_app->qt_metacast("TarnDesktopApp") == m_app);
        QVERIFY(m_app->qt_metacast("TarnDesktopAp") == nullptr);
        QVERIFY(m_app->qt_metacast(nullptr) == nullptr);
        QVERIFY(m_app->qt_metacast("QObject") == m_app);
    }

    void windowSlotsWithoutWindow()
    {
        QVERIFY(m_app->mainWindow == nullptr);
        QVERIFY(QMetaObject::invokeMethod(m_app, "slotMainWindowHide"));
        QVERIFY(QMetaObject::invokeMethod(m_app, "slotMainWindowShow"));
        QVERIFY(QMetaObject::invokeMethod(m_app, "slotNotifyByOtherApp", Q_ARG(QString, "SetTopLastApp")));
        m_app->createSystemTray();
        QVERIFY(m_app->systemTray.isNull());
    }

    void windowSlotsAndNotifications()
    {
        const int flags = -1;
        MainWindow window(nullptr, flags, QStringLiteral("MainWindow"));
        m_app->mainWindow = &window;
        window.show();
        QVERIFY(window.isVisible());

        QVERIFY(QMetaObject::invokeMethod(m_app, "slotMainWindowHide"));
        QVERIFY(!window.isVisible());
        QVERIFY(QMetaObject::invokeMethod(m_app, "slotMainWindowShow"));
        QVERIFY(window.isVisible());

        window.hide();
        for (const char *ignored : {"settoplastapp", "SetTopLastApp ", "", "Show"}) {
            QVERIFY(QMetaObject::invokeMethod(m_app, "slotNotifyByOtherApp", Q_ARG(QString, ignored)));
            QVERIFY2(!window.isVisible(), ignored);
        }
        QVERIFY(QMetaObject::invokeMethod(m_app, "slotNotifyByOtherApp", Q_ARG(QString, "SetTopLastApp")));
        QVERIFY(window.isVisible());
        m_app->mainWindow = nullptr;
    }

    void trayCreatedOnceAndWired()
    {
        const int flags = -1;
        MainWindow window(nullptr, flags, QStringLiteral("MainWindow"));
        m_app->mainWindow = &window;

        m_app->createSystemTray();
        QPointer<SystemTray> first = m_app->systemTray;
        QVERIFY(!first.isNull());
        QVERIFY(first->isVisible());
        QVERIFY(first->parent() == nullptr);

        // The tray's request reaches the controller, which shows the window.
        window.hide();
        QVERIFY(QMetaObject::invokeMethod(first.data(), "slotShowMainWindow"));
        QVERIFY(window.isVisible());

        // A second call keeps the tray and shows it again.
        first->setVisible(false);
        m_app->createSystemTray();
        QVERIFY(m_app->systemTray == first);
        QVERIFY(first->isVisible());
        QSignalSpy shown(first.data(), SIGNAL(showMainWindowSignal()));
        window.hide();
        QVERIFY(QMetaObject::invokeMethod(first.data(), "slotShowMainWindow"));
        QCOMPARE(shown.count(), 1);
        QVERIFY(window.isVisible());

        // Once the tray is gone, the guard reads null and a new tray is made.
        delete first.data();
        QVERIFY(m_app->systemTray.isNull());
        m_app->createSystemTray();
        QVERIFY(!m_app->systemTray.isNull());
        delete m_app->systemTray.data();
        m_app->mainWindow = nullptr;
    }

    void watchdogTickTracesAGap()
    {
        const qint64 mark = TraceLogReader::mark();
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        CFeedWatchdogClock::processClock().feed(now - 10);
        m_app->slotWatchdogUpdateTime();
        m_app->slotWatchdogUpdateTime();
        QCOMPARE(TraceLogReader::textsSince(mark).filter("FeedWatchdog Time OutTime >5s"),
                 QStringList{"W:Demo FeedWatchdog Time OutTime >5s"});
    }

    void closeAppQuitsTheLoop()
    {
        // Another text leaves the loop running until the guard ends it with 7.
        QTimer::singleShot(0, m_app, [this]() {
            QMetaObject::invokeMethod(m_app, "slotNotifyByOtherApp", Q_ARG(QString, "closeapp"));
        });
        QTimer::singleShot(300, qApp, []() { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 7);

        QTimer::singleShot(0, m_app, [this]() {
            QMetaObject::invokeMethod(m_app, "slotNotifyByOtherApp", Q_ARG(QString, "CloseApp"));
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, []() { QCoreApplication::exit(7); });
        guard.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void centredPosition_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("801 on 1920") << QRect(0, 0, 1920, 1080) << QRect(0, 0, 801, 600) << QPoint(559, 240);
        QTest::newRow("wider and taller") << QRect(0, 0, 1024, 768) << QRect(0, 0, 1400, 900) << QPoint(0, 0);
        QTest::newRow("wider only") << QRect(0, 0, 1024, 768) << QRect(0, 0, 1400, 500) << QPoint(0, 134);
        QTest::newRow("task bar left")
            << QRect(40, 0, 1880, 1080) << QRect(0, 0, 800, 600) << QPoint(540, 240);
        QTest::newRow("task bar top")
            << QRect(0, 30, 1920, 1050) << QRect(0, 0, 800, 601) << QPoint(560, 224);
        QTest::newRow("window elsewhere")
            << QRect(0, 0, 1920, 1080) << QRect(700, 500, 800, 600) << QPoint(560, 240);
        QTest::newRow("same size") << QRect(0, 0, 800, 600) << QRect(0, 0, 800, 600) << QPoint(0, 0);
    }
    void centredPosition()
    {
        QFETCH(QRect, available);
        QFETCH(QRect, window);
        QFETCH(QPoint, position);
        QCOMPARE(TarnDesktopApp::centredPosition(available, window), position);
    }

    void checkRandomTest_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("result");
        QTest::newRow("absent") << QByteArray() << -1;
        QTest::newRow("no key") << QByteArray("[RandomTest]\nOther=1\n") << -1;
        QTest::newRow("false") << QByteArray("[RandomTest]\nRandomTest=false\n") << -1;
        QTest::newRow("False") << QByteArray("[RandomTest]\nRandomTest=False\n") << 0;
        QTest::newRow("zero") << QByteArray("[RandomTest]\nRandomTest=0\n") << 0;
        QTest::newRow("true") << QByteArray("[RandomTest]\nRandomTest=true\n") << 0;
    }
    void checkRandomTest()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, result);
        QFile::remove(configFile("system.ini"));
        if (!file.isNull()) {
            writeConfig("system.ini", file);
        }
        QCOMPARE(m_app->checkRandomTest(), result);
        QFile::remove(configFile("system.ini"));
    }

    void handleUninstallCommand_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<bool>("withSystemFolder");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("started");

        const QByteArray msi("[Version]\nProductType=msi\nProductCode={1234-ABCD}\n");
        QTest::newRow("flag off") << 0 << msi << true << false << false;
        QTest::newRow("msi with code") << 1 << msi << true << true << true;
        QTest::newRow("upper-case type")
            << 1 << QByteArray("[Version]\nProductType=MSI\nProductCode={1}\n") << true << true << false;
        QTest::newRow("no type") << 1 << QByteArray("[Version]\nProductCode={1}\n") << true << true << false;
        QTest::newRow("empty code") << 1 << QByteArray("[Version]\nProductType=msi\nProductCode=\n") << true
                                    << true << false;
        QTest::newRow("no system folder") << 1 << msi << false << true << false;
    }
    void handleUninstallCommand()
    {
        QFETCH(int, flag);
        QFETCH(QByteArray, version);
        QFETCH(bool, withSystemFolder);
        QFETCH(bool, result);
        QFETCH(bool, started);

        // A stand-in for the removal program that writes its arguments, one a line, to args.txt.
        const auto writeStandIn = [](const QTemporaryDir &folder) {
            const QString record = folder.filePath("args.txt");
            QFile script(folder.filePath("msiexec.exe"));
            if (!script.open(QIODevice::WriteOnly))
                return QString();
            script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record.toUtf8() + ".tmp\"\nmv \"" +
                         record.toUtf8() + ".tmp\" \"" + record.toUtf8() + "\"\n");
            script.close();
            return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ? record
                                                                                                 : QString();
        };
        QTemporaryDir system;
        const QString record = writeStandIn(system);
        QVERIFY(!record.isEmpty());
        if (withSystemFolder) {
            qputenv("TARN_SYSTEMX86_DIR", system.path().toUtf8());
        } else {
            qunsetenv("TARN_SYSTEMX86_DIR");
        }
        writeConfig("version.ini", version);
        const qint64 mark = TraceLogReader::mark();

        m_app->uninstallFlag = flag;
        QCOMPARE(m_app->handleUninstallCommand(), result);
        m_app->uninstallFlag = 0;
        qunsetenv("TARN_SYSTEMX86_DIR");
        QFile::remove(configFile("version.ini"));

        if (started) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
            QFile file(record);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("/x\n{1234-ABCD}\n"));
        } else {
            // A removal started above would write its record before one started now: a start that
            // does start the removal (from another folder) tells how long to look.
            QTemporaryDir control;
            const QString controlRecord = writeStandIn(control);
            QVERIFY(!controlRecord.isEmpty());
            qputenv("TARN_SYSTEMX86_DIR", control.path().toUtf8());
            writeConfig("version.ini", "[Version]\nProductType=msi\nProductCode={1234-ABCD}\n");
            m_app->uninstallFlag = 1;
            const bool controlResult = m_app->handleUninstallCommand();
            m_app->uninstallFlag = 0;
            qunsetenv("TARN_SYSTEMX86_DIR");
            QFile::remove(configFile("version.ini"));
            QVERIFY(controlResult);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(controlRecord), 30000);
            QVERIFY(!QFile::exists(record));
        }
        const QStringList failures = TraceLogReader::textsSince(mark).filter("ShellExecuteExW[");
        if (!withSystemFolder) {
            QCOMPARE(failures.size(), 1);
            QVERIFY2(
                failures.first().startsWith("W:Demo ShellExecuteExW[\\msiexec.exe] fail, Instance:0 Error:["),
                qPrintable(failures.first()));
        } else {
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
        }
    }

    void failedInstallerStartIsTraced()
    {
        QTemporaryDir empty; // no msiexec.exe inside
        qputenv("TARN_SYSTEMX86_DIR", empty.path().toUtf8());
        writeConfig("version.ini", "[Version]\nProductType=msi\nProductCode={9}\n");
        const qint64 mark = TraceLogReader::mark();
        m_app->uninstallFlag = 1;
        QVERIFY(m_app->handleUninstallCommand());
        m_app->uninstallFlag = 0;
        qunsetenv("TARN_SYSTEMX86_DIR");
        QFile::remove(configFile("version.ini"));
        const QStringList failures = TraceLogReader::textsSince(mark).filter("ShellExecuteExW[");
        QCOMPARE(failures.size(), 1);
        QVERIFY2(
            failures.first().startsWith("W:Demo ShellExecuteExW[" + empty.path() + "\\msiexec.exe] fail"),
            qPrintable(failures.first()));
    }

    void initLogLevel_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("level");
        QTest::newRow("absent") << QByteArray() << 5;
        QTest::newRow("seven") << QByteArray("[Syslog]\nnLogLevel=7\n") << 7;
        QTest::newRow("three") << QByteArray("[Syslog]\nnLogLevel=3\n") << 3;
        QTest::newRow("not a number") << QByteArray("[Syslog]\nnLogLevel=loud\n") << 5;
    }
    void initLogLevel()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, level);
        QTemporaryDir data;
        QTemporaryDir config;
        QDir().mkpath(config.path() + "/tarn-desktop");
        if (!file.isNull()) {
            QFile ini(config.path() + "/tarn-desktop/system.ini");
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write(file);
        }
        const ChildResult child =
            runChild(QStringLiteral("loglevel"), {},
                     {"XDG_DATA_HOME=" + data.path(), "XDG_CONFIG_HOME=" + config.path()});
        QCOMPARE(child.exitCode, 0);
        QCOMPARE(child.out, QByteArray("level=" + QByteArray::number(level) + "\n"));
        QVERIFY(QDir(data.path() + "/tarn-desktop/log").exists());
        QFile log(data.path() + "/tarn-desktop/log/tarn-desktop.log");
        const bool probeInLog =
            log.open(QIODevice::ReadOnly) && log.readAll().contains("probe after redirect");
        QCOMPARE(probeInLog, level >= 5);
        QVERIFY(!child.err.contains("probe after redirect"));
    }

    void initLogLevelUnderTracerUsesConsole()
    {
        QTemporaryDir data;
        const QString errPath = data.filePath("stderr.txt");
        const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
        const QByteArray dataEnv = "XDG_DATA_HOME=" + data.path().toLocal8Bit();

        // Everything the child needs is prepared before fork: only async-signal-safe calls follow it.
        std::vector<QByteArray> envStorage;
        for (char **e = environ; *e; ++e) {
            if (!QByteArray(*e).startsWith("XDG_DATA_HOME=")) {
                envStorage.emplace_back(*e);
            }
        }
        envStorage.push_back(dataEnv);
        envStorage.emplace_back("TARN_APP_TEST_MODE=loglevel");
        std::vector<char *> envp;
        for (QByteArray &e : envStorage) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        const QByteArray errPath8 = errPath.toLocal8Bit();

        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const int fd = ::open(errPath8.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || dup2(fd, 2) < 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
                _exit(90);
            }
            execle(self.constData(), self.constData(), static_cast<char *>(nullptr), envp.data());
            _exit(91);
        }
        int status = 0;
        while (waitpid(child, &status, 0) == child) {
            if (WIFEXITED(status) || WIFSIGNALED(status)) {
                break;
            }
            if (WIFSTOPPED(status)) {
                const int sig = WSTOPSIG(status);
                ptrace(PTRACE_CONT, child, nullptr,
                       reinterpret_cast<void *>(intptr_t(sig == SIGTRAP ? 0 : sig)));
            }
        }
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QFile err(errPath);
        QVERIFY(err.open(QIODevice::ReadOnly));
        QVERIFY2(err.readAll().contains("N:Demo probe after redirect"),
                 "the traced child wrote no console line");
        QFile log(data.path() + "/tarn-desktop/log/tarn-desktop.log");
        QVERIFY(!(log.open(QIODevice::ReadOnly) && log.readAll().contains("probe after redirect")));
    }

    void comUninitialisedOnlyWhenInitialisedHere()
    {
        // Run on a thread of its own so the GUI thread's apartment count stays untouched.
        HRESULT first = -1, afterOwnInit = -1, probe = -1;
        std::thread([&]() {
            m_app->initServices();
            first = m_app->comInitResult;
            m_app->releaseCom();
            // The count is back at zero: a different apartment kind is accepted.
            probe = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            CoUninitialize();
        }).join();
        QCOMPARE(first, S_OK);
        QCOMPARE(probe, S_OK);

        std::thread([&]() {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            m_app->initServices();
            afterOwnInit = m_app->comInitResult;
            m_app->releaseCom();
            CoUninitialize();
            // Still one initialisation left: releaseCom must not have undone the caller's.
            probe = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            CoUninitialize();
        }).join();
        QCOMPARE(afterOwnInit, S_FALSE);
        QCOMPARE(probe, RPC_E_CHANGED_MODE);

        std::thread([&]() {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            m_app->initServices();
            afterOwnInit = m_app->comInitResult;
            m_app->releaseCom();
            // One multithreaded initialisation is still in force.
            probe = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            CoUninitialize();
        }).join();
        QCOMPARE(afterOwnInit, RPC_E_CHANGED_MODE);
        QCOMPARE(probe, RPC_E_CHANGED_MODE);

        QCOMPARE(TraceLogReader::count(QStringLiteral("Tarn desktop com init reslut 0")) >= 1, true);
        QVERIFY(TraceLogReader::count(QStringLiteral("Tarn desktop com init reslut -2147417850")) >= 1);
        m_app->serviceInit.UnloadServices();
        m_app->comInitResult = S_FALSE;
    }

    void rewriteImageReferences_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("expected");
        const QString f = QStringLiteral("/opt/t/resource/drawable/1.5");
        QTest::newRow("absolute") << "a{image:url(\"/x/y.png\")}"
                                  << "a{image:url(\"" + f + "/x/y.png\")}";
        QTest::newRow("no separator added") << "url(\"y.png\")"
                                            << "url(\"" + f + "y.png\")";
        QTest::newRow("two references") << "url(\"/a\") url(\"/b\")"
                                        << "url(\"" + f + "/a\") url(\"" + f + "/b\")";
        QTest::newRow("upper case") << "URL(\"/a\") Url(\"/a\")"
                                    << "URL(\"/a\") Url(\"/a\")";
        QTest::newRow("single quote") << "url('/a')"
                                      << "url('/a')";
        QTest::newRow("unquoted") << "url(/a)"
                                  << "url(/a)";
        QTest::newRow("blank inside") << "url( \"/a\")"
                                      << "url( \"/a\")";
        QTest::newRow("empty") << ""
                               << "";
    }
    void rewriteImageReferences()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, expected);
        QCOMPARE(
            TarnDesktopApp::rewriteImageReferences(sheet, QStringLiteral("/opt/t/resource/drawable/1.5")),
            expected);
    }

    void reloadThemeFollowsTheScale()
    {
        QTemporaryDir root;
        for (const char *scale : {"1", "2"}) {
            const QString folder = root.path() + "/resource/theme/" + scale;
            QVERIFY(QDir().mkpath(folder));
            QFile qss(folder + "/main.qss");
            QVERIFY(qss.open(QIODevice::WriteOnly));
            qss.write(QByteArray("QWidget#s") + scale + " { background-image: url(\"/common/bg.png\"); }\n");
        }
        // The icon lies only below the drawable folder "1"; every scale takes it from there.
        const QString icon = root.path() + "/resource/drawable/1/common/logo/main.ico";
        QVERIFY(QDir().mkpath(root.path() + "/resource/drawable/1/common/logo"));
        QVERIFY(QFile::copy(
            qEnvironmentVariable("TARN_TEST_ROOT") + "/resource/drawable/1/common/logo/main.ico", icon));
        const ChildResult one = runChild(QStringLiteral("theme"), {}, {"TARN_THEME_ROOT=" + root.path()});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(QString::fromUtf8(one.out), "QWidget#s1 { background-image: url(\"" + root.path() +
                                                 "/resource/drawable/1/common/bg.png\"); }\n");
        const ChildResult two =
            runChild(QStringLiteral("theme"), {}, {"TARN_THEME_ROOT=" + root.path(), "QT_SCALE_FACTOR=2"});
        QCOMPARE(two.exitCode, 0);
        QCOMPARE(QString::fromUtf8(two.out), "QWidget#s2 { background-image: url(\"" + root.path() +
                                                 "/resource/drawable/2/common/bg.png\"); }\n");
        // The same shipped file at both scales, with its six entries up to 128 pixels (16 to 128).
        QVERIFY2(one.err.contains("icon sizes 6\n"), one.err.constData());
        QVERIFY2(two.err.contains("icon sizes 6\n"), two.err.constData());
    }

    void reloadThemeTracesAndReplacesTheSheet()
    {
        const qint64 mark = TraceLogReader::mark();
        etlOverrideAppRootPath("/nonexistent-tarn-root");
        qApp->setStyleSheet(QStringLiteral("QWidget { color: red; }"));
        m_app->slotReloadTheme();
        etlOverrideAppRootPath(std::string());
        // A missing theme is applied as what the theme manager returns: nothing.
        QCOMPARE(qApp->styleSheet(), QString());
        const QStringList lines = TraceLogReader::textsSince(mark).filter("reloadTheme current dpi size");
        QCOMPARE(lines, QStringList{QString::asprintf("N:Demo reloadTheme current dpi size %f",
                                                      double(getCurrentDpiSize()))});
    }
};

int main(int argc, char *argv[])
{
    const QByteArray mode = qgetenv("TARN_APP_TEST_MODE");
    if (!mode.isEmpty()) {
        etlSetAppDocPath(getAppDocPath());
        return TarnDesktopAppTest::childMain(mode, argc, argv);
    }
    etlSetAppDocPath(getAppDocPath());
    int appArgc = 1;
    TarnDesktopApp app(appArgc, argv);
    TarnDesktopAppTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "TarnDesktopAppTest.moc"
