// Instance control of the real program, each case with its own HOME/XDG folders on a private X server.

#include "XServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include <memory>
#include <vector>

namespace {

QString rootDir()
{
    return qEnvironmentVariable("TARN_TEST_ROOT");
}

QString helperPath()
{
    return QDir::cleanPath(rootDir() + "/../tests/helpers/tarn-launcher-helper");
}

// Exit codes as the shell sees the program's -1, -2 and -3.
const int kAnotherInstance = 255;
const int kInstallerRuns = 254;
const int kUninstallerRuns = 253;

// A process that is killed when the object goes.
class Child
{
public:
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // The exit code once it ends within the time; -1000 when it does not end or crashes.
    int finish(int ms = 30000)
    {
        if (!process.waitForFinished(ms))
            return -1000;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
    }
    // How it ended, for comparisons that say what went wrong: "exit <code>", "crash" or "still running".
    QString outcome(int ms = 30000)
    {
        if (!process.waitForFinished(ms))
            return "still running";
        if (process.exitStatus() != QProcess::NormalExit)
            return "crash";
        return QString("exit %1").arg(process.exitCode());
    }
    QProcess process;
};

// One user's private folders: every program and helper started through it shares them.
class UserHome
{
public:
    explicit UserHome(const QString &display) : m_display(display)
    {
        QDir home(m_home.path());
        home.mkpath("config/tarn-desktop");
        home.mkpath("data");
        home.mkpath("run");
        QFile::setPermissions(m_home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool writeConfig(const QString &name, const QByteArray &text)
    {
        QFile file(m_home.filePath("config/tarn-desktop/" + name));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
    }

    QProcessEnvironment environment(const QString &outputName = QString()) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", m_home.filePath("run"));
        env.insert("DISPLAY", m_display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("TARN_SYSTEMX86_DIR");
        env.remove("TARN_TESTABILITY_ACTION");
        if (!outputName.isEmpty()) {
            env.insert("TARN_TESTABILITY_ACTION", "ready");
            env.insert("TARN_TESTABILITY_OUT", outputPath(outputName));
        }
        env.insert(m_extra);
        return env;
    }
    void setEnv(const QString &key, const QString &value) { m_extra.insert(key, value); }
    QString outputPath(const QString &name) const { return m_home.filePath(name + ".out"); }
    QString path(const QString &relative) const { return m_home.filePath(relative); }

    // Starts the program; with an output name it reports "ready" there once its event loop runs.
    void startProgram(Child *child, const QStringList &arguments, const QString &outputName = QString()) const
    {
        child->process.setProcessEnvironment(environment(outputName));
        child->process.start(rootDir() + "/tarn-desktop", arguments);
    }

    bool waitReady(const QString &outputName, int ms = 30000) const
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QFile file(outputPath(outputName));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains("ready\n"))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    int runProgram(const QStringList &arguments) const
    {
        Child child;
        startProgram(&child, arguments);
        return child.finish();
    }

    // A stand-in for another program (installer, uninstaller) registered under the name, with a window.
    bool startHelper(Child *child, const QString &name) const
    {
        child->process.setProcessEnvironment(environment());
        child->process.start(helperPath(), {name, "120"});
        if (!child->process.waitForStarted(5000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!child->process.canReadLine() && timer.elapsed() < 10000)
            child->process.waitForReadyRead(100);
        return child->process.readLine().trimmed() == "startApp 1";
    }

private:
    QString m_display;
    QTemporaryDir m_home;
    QProcessEnvironment m_extra;
};

} // namespace

class InstanceSystemTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void installerOrUninstallerTakesPrecedence_data();
    void installerOrUninstallerTakesPrecedence();
    void runningInstanceComesBeforeInstaller();
    void uninstallStartsTheRemoval_data();
    void uninstallStartsTheRemoval();
    void startStormLeavesOneInstance();
    void restartAfterKill();

private:
    XServer m_x;
    QString m_display;
};

void InstanceSystemTest::initTestCase()
{
    QVERIFY2(QFileInfo(rootDir() + "/tarn-desktop").isExecutable(), qPrintable(rootDir()));
    QVERIFY2(QFileInfo(helperPath()).isExecutable(), qPrintable(helperPath()));
    QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    m_display = m_x.display();
}

void InstanceSystemTest::cleanupTestCase()
{
    m_x.stop();
}

void InstanceSystemTest::installerOrUninstallerTakesPrecedence_data()
{
    QTest::addColumn<QStringList>("running");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("installer") << QStringList{"Demo.install"} << kInstallerRuns;
    QTest::newRow("uninstaller") << QStringList{"Demo.uninstall"} << kUninstallerRuns;
    QTest::newRow("both") << QStringList{"Demo.uninstall", "Demo.install"} << kInstallerRuns;
    QTest::newRow("other name only") << QStringList{"Demo.installer"} << 0;
}

void InstanceSystemTest::installerOrUninstallerTakesPrecedence()
{
    QFETCH(QStringList, running);
    QFETCH(int, exitCode);
    UserHome user(m_display);
    std::vector<std::unique_ptr<Child>> helpers;
    for (const QString &name : running) {
        helpers.emplace_back(new Child);
        QVERIFY(user.startHelper(helpers.back().get(), name));
    }
    if (exitCode != 0) {
        QCOMPARE(user.runProgram({}), exitCode);
        // The stand-ins keep running: nothing was sent to them but a raise request.
        for (auto &helper : helpers)
            QCOMPARE(helper->process.state(), QProcess::Running);
        return;
    }
    Child program;
    user.startProgram(&program, {}, "first");
    QVERIFY(user.waitReady("first"));
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(program.outcome(), QString("exit 0"));
}

void InstanceSystemTest::runningInstanceComesBeforeInstaller()
{
    UserHome user(m_display);
    Child program;
    user.startProgram(&program, {}, "first");
    QVERIFY(user.waitReady("first"));
    Child installer;
    QVERIFY(user.startHelper(&installer, "Demo.install"));
    QCOMPARE(user.runProgram({}), kAnotherInstance);
    QCOMPARE(program.process.state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(program.outcome(), QString("exit 0"));
}

void InstanceSystemTest::uninstallStartsTheRemoval_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("withFolder");
    QTest::addColumn<QStringList>("expected");
    const QByteArray code = "{6F1C2A7E-0B44-4E0B-9D3A-2C1D5E6F7A80}";
    QTest::newRow("msi with code") << "[Version]\nProductType=msi\nProductCode=" + code + "\n"
                                   << true << QStringList{"/x", QString::fromLatin1(code)};
    QTest::newRow("type in capitals") << "[Version]\nProductType=MSI\nProductCode=" + code + "\n"
                                      << true << QStringList();
    QTest::newRow("no code") << QByteArray("[Version]\nProductType=msi\nProductCode=\n") << true
                             << QStringList();
    QTest::newRow("no type") << "[Version]\nProductCode=" + code + "\n" << true << QStringList();
    QTest::newRow("no system folder") << "[Version]\nProductType=msi\nProductCode=" + code + "\n"
                                      << false << QStringList();
}

void InstanceSystemTest::uninstallStartsTheRemoval()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, withFolder);
    QFETCH(QStringList, expected);
    UserHome user(m_display);
    QVERIFY(user.writeConfig("version.ini", version));
    // The removal program's stand-in writes the arguments it was given, one a line.
    const QString systemDir = user.path("system32");
    QVERIFY(QDir().mkpath(systemDir));
    const QString record = systemDir + "/msiexec.args";
    QFile script(systemDir + "/msiexec.exe");
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"" + record.toUtf8() +
                 "\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (withFolder)
        user.setEnv("TARN_SYSTEMX86_DIR", systemDir);

    // Nothing runs: the text is lost, the removal still starts.
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    if (expected.isEmpty()) {
        QTest::qWait(1000);
        QVERIFY(!QFile::exists(record));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), expected);
}

void InstanceSystemTest::startStormLeavesOneInstance()
{
    UserHome user(m_display);
    std::vector<std::unique_ptr<Child>> storm;
    for (int i = 0; i < 16; ++i) {
        storm.emplace_back(new Child);
        user.startProgram(storm.back().get(), {}, QString("storm%1").arg(i));
    }
    // Fifteen end early with the code of a second start; one comes up.
    int early = 0;
    QElapsedTimer timer;
    timer.start();
    while (early < 15 && timer.elapsed() < 60000) {
        early = 0;
        for (auto &child : storm) {
            if (child->process.state() == QProcess::NotRunning) {
                QCOMPARE(child->process.exitStatus(), QProcess::NormalExit);
                QCOMPARE(child->process.exitCode(), kAnotherInstance);
                ++early;
            }
        }
        QTest::qWait(100);
    }
    QCOMPARE(early, 15);
    int survivor = -1;
    for (int i = 0; i < 16; ++i) {
        if (storm[i]->process.state() != QProcess::NotRunning)
            survivor = i;
    }
    QVERIFY(survivor >= 0);
    QVERIFY(user.waitReady(QString("storm%1").arg(survivor)));
    QTest::qWait(500);
    QCOMPARE(storm[survivor]->process.state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(storm[survivor]->outcome(), QString("exit 0"));
}

void InstanceSystemTest::restartAfterKill()
{
    UserHome user(m_display);
    Child first;
    user.startProgram(&first, {}, "first");
    QVERIFY(user.waitReady("first"));
    ::kill(static_cast<pid_t>(first.process.processId()), SIGKILL);
    QVERIFY(first.process.waitForFinished(5000));
    QCOMPARE(first.process.exitStatus(), QProcess::CrashExit);

    // The registration went with the process; its socket file stayed and is taken over.
    QVERIFY(QFileInfo::exists(user.path("run/tarn-desktop/relay.sock")));
    Child second;
    user.startProgram(&second, {}, "second");
    QVERIFY(user.waitReady("second"));
    QCOMPARE(user.runProgram({}), kAnotherInstance);
    QCOMPARE(second.process.state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(second.outcome(), QString("exit 0"));
}

QTEST_GUILESS_MAIN(InstanceSystemTest)
#include "InstanceSystemTest.moc"
