#include "ProgramRun.h"
#include "TestProcess.h"
#include "XDesktop.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// UsbDev_SetPath comes before the trace level is read, so at level 7 it is not in the log.
// The service modules trace through the executable, so their lines also show that it exports what they
// resolve from it.
const QStringList kBringUp = {
    "N:Demo Tarn desktop com init reslut 0",
    "N:TraceD TraceD service start",
    "N:NetworkD NetworkD service start",
    "N:Demo Build at:",
    "N:Demo reloadTheme current dpi size",
    "D:Modules HotkeyModule_Init",
    "N:Demo Init ui",
};
const QStringList kBringUpAfterTestHooks = {
    "D:Modules UsbDev_Init",
    "D:Modules NotificationMgr_Init",
    "D:Modules ucstyle_init",
    "D:Modules MsgBox_Init",
    "D:Modules Setting_Init",
    "D:Modules Setting_GetDelegate",
    "D:Modules MsgBox_GetDelegate",
    "D:Modules DEVUI_Init",
    "D:Modules DEVUI_SetDataPath",
    "D:Modules DMSUI_Init",
    "D:Modules SWUI_Init",
    "D:Modules FBUI_Init",
    "D:Modules LANGUI_Init",
    "D:Modules SOFTPHONESETTINGUI_Init",
    "D:Modules LangUi_InitLangeConfigMenuItem",
    "D:Modules SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem",
    "D:Modules DMSUI_InitDmMangageMenuItem",
    "D:Modules SWUI_InitSoftCheckUpdateMenuItem",
    "D:Modules FBUI_InitFeedbackMenuItem",
    "D:Modules SWUI_InitUserAgreementMenuItem",
    "D:Modules SWUI_InitPrivacyPolicyMenuItem",
};
const QStringList kTeardown = {
    "D:Modules NotificationMgr_UnInit",
    "D:Modules FBUI_UnInit",
    "D:Modules DMSUI_UnInit",
    "D:Modules SWUI_UnInit",
    "D:Modules DEVUI_UnInit",
    "D:Modules UsbDev_UnInit",
    "D:Modules Setting_Uninit",
    "D:Modules MsgBox_Uninit",
    "N:Demo stop service",
    "N:NetworkD NetworkD service stop",
    "N:TraceD TraceD service stop",
    "N:Demo app exit",
};

// The log lines that are steps of the sequence, each reduced to the expected entry it matches.
// Module operations that only a user reaches (pages, settings) are not steps and are left out.
QStringList sequenceOf(const QStringList &texts, const QStringList &steps)
{
    QStringList result;
    for (const QString &text : texts) {
        for (const QString &step : steps) {
            const bool isModule = step.startsWith(QLatin1String("D:Modules "));
            if ((isModule && text == step) || (!isModule && text.startsWith(step))) {
                result << step;
                break;
            }
        }
    }
    return result;
}

QMap<QString, QString> lastReport(const QByteArray &output, int index = -1)
{
    QList<QMap<QString, QString>> reports;
    QMap<QString, QString> current;
    for (const QByteArray &line : output.split('\n')) {
        if (line == "--") {
            reports << current;
            current.clear();
        } else if (line.contains('=')) {
            current.insert(QString::fromUtf8(line.left(line.indexOf('='))),
                           QString::fromUtf8(line.mid(line.indexOf('=') + 1)));
        }
    }
    if (reports.isEmpty()) {
        return {};
    }
    return index < 0 ? reports.last() : reports.value(index);
}

} // namespace

class SystemAppTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(QFile::exists(m_root + "/libtestability.so"), "the test library is not in the root");
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void bringUpAndTeardownOrder_data()
    {
        QTest::addColumn<bool>("randomTest");
        QTest::newRow("random test off") << false;
        QTest::newRow("random test on") << true;
    }
    void bringUpAndTeardownOrder()
    {
        QFETCH(bool, randomTest);
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QByteArray system = "[Syslog]\nnLogLevel=7\n";
        if (randomTest) {
            system += "[RandomTest]\nRandomTest=true\n";
        }
        QVERIFY(run.writeConfig("system.ini", system));
        QVERIFY(run.start({}, "observe-heartbeat,report-after-ms=1200,quit-after-ms=1500"));
        QVERIFY2(run.wait(60000), run.standardError().constData());
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);

        QStringList expected = kBringUp;
        if (randomTest) {
            expected << "D:Modules startRandomOperationServer";
        }
        expected << kBringUpAfterTestHooks << kTeardown;
        QStringList steps = kBringUp + kBringUpAfterTestHooks + kTeardown;
        steps << "D:Modules startRandomOperationServer";
        const QStringList texts = run.logTexts(run.pid());
        QCOMPARE(sequenceOf(texts, steps), expected);
        QVERIFY(!texts.isEmpty());
        QCOMPARE(texts.last(), QString("N:Demo app exit"));

        const QMap<QString, QString> report = lastReport(run.output());
        QCOMPARE(report.value("visible"), QString("1"));
        QCOMPARE(report.value("tray-available"), QString("1"));
        // Windows are drawn without OpenGL: no GL driver is loaded for the window or the tray icon.
        QCOMPARE(report.value("gl-driver"), QString("0"));
        // Nor Wayland's client library on X: only the Wayland module brings it, on a Wayland session.
        QCOMPARE(report.value("wayland-client"), QString("0"));

        // The heartbeat ran while the loop ran and was cleared for the orderly exit.
        const QByteArray output = run.output();
        QVERIFY2(!output.contains("heartbeat-missing"), output.constData());
        QRegularExpression running("heartbeat=(\\d+)");
        auto match = running.match(QString::fromUtf8(output));
        QVERIFY2(match.hasMatch(), output.constData());
        QVERIFY(match.captured(1).toLongLong() > 1700000000LL);
        QVERIFY2(output.contains("heartbeat-exit=0\n"), output.constData());
        QVERIFY(!QFile::exists(run.home() + QString("/run/tarn-desktop/wddmpsharememory%1").arg(run.pid())));
    }

    void autorunStartsHidden()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.start({"autorun"}, "report-after-ms=800,quit-after-ms=1000"));
        QVERIFY2(run.wait(60000), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        const QMap<QString, QString> report = lastReport(run.output());
        QCOMPARE(report.value("visible"), QString("0"));
        QCOMPARE(report.value("tray-available"), QString("1"));
    }

    void f10ReloadsAChangedTheme()
    {
        // A copy of the root, so the theme can change under the running program.
        QTemporaryDir copy;
        QVERIFY(copy.isValid());
        QProcess cp;
        cp.start("cp", {"-a", m_root + "/.", copy.path()});
        QVERIFY(cp.waitForFinished(60000) && cp.exitCode() == 0);

        ProgramRun run(copy.path(), m_x.display());
        run.setEnv("TARN_TESTABILITY_COLOUR", "#12ab34");
        QVERIFY(run.start({}, "report-after-ms=0,ready,f10-on-trigger,quit-after-ms=30000"));
        run.waitForOutput("ready\n", 30000);
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());

        // Under Xvfb the scale is 1.
        const QString themeDir = copy.path() + "/resource/theme/1";
        QVERIFY(QDir().mkpath(themeDir));
        QFile qss(themeDir + "/zzz_system_test.qss");
        QVERIFY(qss.open(QIODevice::WriteOnly));
        qss.write("QWidget { background-color: #12ab34; }\n");
        qss.close();
        QFile trigger(run.outputFile() + ".trigger");
        QVERIFY(trigger.open(QIODevice::WriteOnly));
        trigger.close();

        QVERIFY2(run.wait(60000), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        const QMap<QString, QString> before = lastReport(run.output(), 0);
        const QMap<QString, QString> after = lastReport(run.output(), 1);
        QCOMPARE(before.value("colour-count"), QString("0"));
        QVERIFY2(after.value("colour-count").toInt() > 100, run.output().constData());
        const QStringList reloads = run.logTexts(run.pid()).filter("reloadTheme current dpi size");
        QCOMPARE(reloads.size(), 2);
    }

    void installerAndMultiTerminalPrecedence()
    {
        const QString helper = qEnvironmentVariable("TARN_LAUNCHER_HELPER");
        QVERIFY2(QFile::exists(helper), qPrintable("no launcher helper at " + helper));
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));

        // Another program registered under a launcher name, for as long as the returned process lives.
        auto registerAs = [&](const QString &name) {
            std::unique_ptr<TestProcess> process(new TestProcess);
            QProcessEnvironment env = run.environment(QString());
            env.remove("DISPLAY");
            process->setProcessEnvironment(env);
            process->start(helper, {name, "120"});
            const QByteArray line = process->readOutputLine(10000);
            if (line != "startApp 1") {
                qWarning("helper for %s said %s", qPrintable(name), line.constData());
            }
            return process;
        };

        std::unique_ptr<TestProcess> installer = registerAs("Demo.install");
        QCOMPARE(run.runOther({}, QString()), 254);
        std::unique_ptr<TestProcess> uninstaller = registerAs("Demo.uninstall");
        QCOMPARE(run.runOther({}, QString()), 254);
        installer.reset();
        QCOMPARE(run.runOther({}, QString()), 253);
        uninstaller.reset();

        // A running instance under the single-instance rule wins over the installer.
        QVERIFY(run.start({}, "ready,quit-after-ms=12000"));
        run.waitForOutput("ready\n", 30000);
        QVERIFY(run.output().contains("ready\n"));
        installer = registerAs("Demo.install");
        QCOMPARE(run.runOther({}, QString()), 255);

        // Several instances allowed: the installer still takes precedence, and without it a second
        // instance runs to its own orderly end.
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n[App]\nMulti-Terminal=true\n"));
        QCOMPARE(run.runOther({}, QString()), 254);
        installer.reset();
        qint64 secondPid = 0;
        QCOMPARE(run.runOther({}, "quit-after-ms=300", &secondPid), 0);
        QVERIFY(run.logTexts(secondPid).contains("N:Demo stop service"));

        // With several instances the relay belongs to the latest one, so the first ends on its own timer.
        QVERIFY(run.wait(40000));
        QCOMPARE(run.exitCode(), 0);
    }

    void crashLeavesADumpInTheLogFolder()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.start({}, "crash-after-ms=500"));
        QVERIFY(run.wait(60000));
        QVERIFY(run.crashed());
        const QString logDir = run.dataDir() + "/tarn-desktop/log";
        const QString pattern = QString("Corvane Daskor-*-(%1)-*.dmp").arg(run.pid());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(logDir).entryList({pattern}, QDir::Files).isEmpty(), 30000);
        QVERIFY(run.logTexts(run.pid()).contains("E:Crash fatal signal 11"));
    }

    void secondInstanceEndsEarlyAndUninstallClosesTheFirst()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.start({}, "ready,quit-after-ms=40000"));
        run.waitForOutput("ready\n", 30000);
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());

        qint64 secondPid = 0;
        QCOMPARE(run.runOther({}, QString(), &secondPid), 255);
        // Nothing past instance control ran: no log control, COM, services or UI.
        const QStringList second = run.logTexts(secondPid);
        QVERIFY(!second.isEmpty());
        QCOMPARE(second.last(), QString("N:Demo app exit"));
        for (const QString &text : second) {
            for (const char *later : {"qtLogOutput", "com init", "TraceD", "NetworkD", "Build at", "Init ui",
                                      "stop service", "reloadTheme", "D:Modules"}) {
                QVERIFY2(!text.contains(QLatin1String(later)), qPrintable(text));
            }
        }

        // "uninstall" asks the running instance to close; it ends through its normal teardown.
        qint64 thirdPid = 0;
        QCOMPARE(run.runOther({"uninstall"}, QString(), &thirdPid), 255);
        const QStringList third = run.logTexts(thirdPid);
        QVERIFY(!third.isEmpty());
        QCOMPARE(third.last(), QString("N:Demo app exit"));
        QVERIFY(third.filter("com init").isEmpty());
        QVERIFY2(run.wait(20000), "the first instance did not close on CloseApp");
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(run.logTexts(run.pid()).contains("N:Demo stop service"));
    }
};

QTEST_GUILESS_MAIN(SystemAppTest)
#include "SystemAppTest.moc"
