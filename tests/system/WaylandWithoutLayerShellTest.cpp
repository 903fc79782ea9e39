#include "ProgramRun.h"
#include "SessionBus.h"
#include "TestProcess.h"
#include "Wait.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The program on a Wayland compositor that has no layer shell (weston here, GNOME's among others): a
// menu asked for by a panel that cannot draw it cannot go to the pointer there, so it opens as it did
// before, and the log says why, once.
class WaylandWithoutLayerShellTest : public QObject
{
    Q_OBJECT
private slots:
    void menuRequestFallsBackWithOneTraceLine_data();
    void menuRequestFallsBackWithOneTraceLine();
};

void WaylandWithoutLayerShellTest::menuRequestFallsBackWithOneTraceLine_data()
{
    QTest::addColumn<bool>("withoutModule");
    QTest::addColumn<QByteArray>("why");
    QTest::newRow("no layer shell") << false
                                    << QByteArray(
                                           "W:SystemTray the menu cannot be placed at the pointer on this "
                                           "Wayland session: the compositor offers no zwlr_layer_shell_v1");
    // An installation that lost the Wayland module still runs, with the menu where it always opened.
    QTest::newRow("no Wayland module") << true << QByteArray("libtarn-wayland.so cannot be opened");
}

void WaylandWithoutLayerShellTest::menuRequestFallsBackWithOneTraceLine()
{
    const QString weston = QStandardPaths::findExecutable("weston");
    if (weston.isEmpty() || QStandardPaths::findExecutable("busctl").isEmpty())
        QSKIP("weston or busctl is not installed");
    QFETCH(bool, withoutModule);
    QFETCH(QByteArray, why);
    QString root = qEnvironmentVariable("TARN_ROOT_DIR");
    QTemporaryDir copy;
    if (withoutModule) {
        QVERIFY(copy.isValid());
        QProcess cp;
        cp.start("cp", {"-a", root + "/.", copy.path()});
        QVERIFY(cp.waitForFinished(60000) && cp.exitCode() == 0);
        QVERIFY(QFile::remove(copy.path() + "/libtarn-wayland.so"));
        root = copy.path();
    }
    ProgramRun run(root, QString());
    QVERIFY(run.isValid());
    SessionBus bus;
    QVERIFY2(bus.start(), qPrintable(bus.error()));

    QProcessEnvironment session = QProcessEnvironment::systemEnvironment();
    session.insert("XDG_RUNTIME_DIR", run.privateHome().runtimeDir());
    session.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    session.remove("WAYLAND_DISPLAY");
    session.remove("DISPLAY");
    TestProcess compositor;
    compositor.setProcessEnvironment(session);
    compositor.setStandardOutputFile(run.privateHome().path("weston.log"));
    compositor.setStandardErrorFile(run.privateHome().path("weston.log"));
    compositor.start(weston, {"--backend=headless-backend.so", "--use-pixman", "--width=1280", "--height=800",
                              "--socket=tarn-weston", "--idle-time=0"});
    QVERIFY(compositor.waitForStarted(10000));
    QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(run.privateHome().runtimeDir() + "/tarn-weston"); },
                             20000),
             "weston did not come up");

    // A panel's watcher that, once the item registers, clicks it and asks for its menu.
    const QString watcherLog = run.privateHome().path("watcher.log");
    TestProcess watcher;
    watcher.setProcessEnvironment(session);
    watcher.setStandardOutputFile(watcherLog);
    watcher.start(QStringLiteral(TARN_SNI_WATCHER), QStringList());
    QVERIFY(watcher.waitForStarted(10000));
    QVERIFY(Wait::forText(watcherLog, "ready", 10000));

    run.setSessionBus(bus.address());
    run.setEnv("QT_QPA_PLATFORM", "wayland");
    run.setEnv("WAYLAND_DISPLAY", "tarn-weston");
    run.setEnv("XDG_SESSION_TYPE", "wayland");
    QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
    QVERIFY(run.start({}, QString()));
    QVERIFY2(run.waitForLog(why, 30000), run.log().constData());
    QVERIFY(Wait::forText(watcherLog, "ContextMenu sent", 10000));

    // Asked for again: the menu opens again, and the reason is not repeated.
    QFile output(watcherLog);
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QString registered =
        QString::fromUtf8(output.readAll()).section("registered ", 1).section('\n', 0, 0);
    const QStringList item = registered.split(' ');
    QCOMPARE(item.size(), 2);
    QProcess call;
    call.start("busctl", {"--address=" + bus.address(), "call", item.at(0), item.at(1),
                          "org.kde.StatusNotifierItem", "ContextMenu", "ii", "10", "10"});
    QVERIFY(call.waitForFinished(10000));
    QCOMPARE(call.exitCode(), 0);
    QVERIFY(QTest::qWaitFor([&] { return run.log().count("D:SystemTray SystemTray Trigger") == 3; }, 10000));
    QCOMPARE(run.log().count(why), 1);
    QCOMPARE(run.log().count("WaylandMenuOverlay"), 0);

    // Still running, and it ends as always.
    QCOMPARE(run.process().state(), QProcess::Running);
    run.process().terminate();
    QVERIFY(run.wait(30000));
    QVERIFY(!run.crashed());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(run.lastLogLine().endsWith("N:Demo app exit\n") || run.lastLogLine().endsWith("N:Demo app exit"));
}

QTEST_GUILESS_MAIN(WaylandWithoutLayerShellTest)
#include "WaylandWithoutLayerShellTest.moc"
