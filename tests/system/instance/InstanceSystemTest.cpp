// Instance control of the real program, each case with its own HOME/XDG folders on a private X server.

#include "ProgramRun.h"
#include "TestProcess.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include <algorithm>
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

// One user's private folders: every program and helper started through it shares them.
class UserHome
{
public:
    explicit UserHome(const QString &display) : m_run(rootDir(), display) {}

    bool writeConfig(const QString &name, const QByteArray &text) { return m_run.writeConfig(name, text); }
    void setEnv(const QString &key, const QString &value) { m_run.setEnv(key, value); }
    QString outputPath(const QString &name) const { return m_run.privateHome().path(name + ".out"); }
    QString path(const QString &relative) const { return m_run.privateHome().path(relative); }

    // Starts the program; with an output name it reports "ready" there once its event loop runs.
    void startProgram(TestProcess *child, const QStringList &arguments, const QString &outputName = QString())
    {
        m_run.startOther(child, arguments, outputName.isEmpty() ? QString() : QString("ready"),
                         outputName.isEmpty() ? QString() : outputPath(outputName));
    }
    bool waitReady(const QString &outputName, int ms = 30000) const
    {
        return Wait::forText(outputPath(outputName), "ready\n", ms);
    }
    int runProgram(const QStringList &arguments) { return m_run.runOther(arguments, QString()); }

    // A stand-in for another program (installer, uninstaller) registered under the name, with a window.
    bool startHelper(TestProcess *child, const QString &name) const
    {
        child->setProcessEnvironment(m_run.environment(QString()));
        child->start(helperPath(), {name, "120"});
        return child->waitForStarted(5000) && child->readOutputLine(10000) == "startApp 1";
    }

private:
    ProgramRun m_run;
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
    XDesktop m_x;
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
    std::vector<std::unique_ptr<TestProcess>> helpers;
    for (const QString &name : running) {
        helpers.emplace_back(new TestProcess);
        QVERIFY(user.startHelper(helpers.back().get(), name));
    }
    if (exitCode != 0) {
        QCOMPARE(user.runProgram({}), exitCode);
        // The stand-ins keep running: nothing was sent to them but a raise request.
        for (auto &helper : helpers)
            QCOMPARE(helper->state(), QProcess::Running);
        return;
    }
    TestProcess program;
    user.startProgram(&program, {}, "first");
    QVERIFY(user.waitReady("first"));
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(program.outcome(30000), QString("exit 0"));
}

void InstanceSystemTest::runningInstanceComesBeforeInstaller()
{
    UserHome user(m_display);
    TestProcess program;
    user.startProgram(&program, {}, "first");
    QVERIFY(user.waitReady("first"));
    TestProcess installer;
    QVERIFY(user.startHelper(&installer, "Demo.install"));
    QCOMPARE(user.runProgram({}), kAnotherInstance);
    QCOMPARE(program.state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(program.outcome(30000), QString("exit 0"));
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

namespace {

// A stand-in for the removal program in the folder: it writes the arguments it was given, one a line,
// to the returned file.
QString writeRemovalStandIn(const QString &folder)
{
    const QString record = folder + "/msiexec.args";
    if (!QDir().mkpath(folder))
        return QString();
    QFile script(folder + "/msiexec.exe");
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"" + record.toUtf8() +
                 "\"\n");
    script.close();
    if (!script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QString();
    return record;
}

} // namespace

void InstanceSystemTest::uninstallStartsTheRemoval()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, withFolder);
    QFETCH(QStringList, expected);
    UserHome user(m_display);
    QVERIFY(user.writeConfig("version.ini", version));
    const QString systemDir = user.path("system32");
    const QString record = writeRemovalStandIn(systemDir);
    QVERIFY(!record.isEmpty());
    if (withFolder)
        user.setEnv("TARN_SYSTEMX86_DIR", systemDir);

    // Nothing runs: the text is lost, the removal still starts.
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    if (expected.isEmpty()) {
        // A removal started now would write its record before one started after it: a second start that
        // does start the removal (in another folder) tells how long to look.
        const QString controlDir = user.path("control32");
        const QString controlRecord = writeRemovalStandIn(controlDir);
        QVERIFY(!controlRecord.isEmpty());
        QVERIFY(user.writeConfig(
            "version.ini",
            "[Version]\nProductType=msi\nProductCode={6F1C2A7E-0B44-4E0B-9D3A-2C1D5E6F7A80}\n"));
        user.setEnv("TARN_SYSTEMX86_DIR", controlDir);
        QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
        QVERIFY2(Wait::forFile(controlRecord, 30000), "the control start did not start the removal");
        QVERIFY(!QFile::exists(record));
        return;
    }
    QVERIFY(Wait::forFile(record, 10000));
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), expected);
}

void InstanceSystemTest::startStormLeavesOneInstance()
{
    UserHome user(m_display);
    std::vector<std::unique_ptr<TestProcess>> storm;
    for (int i = 0; i < 16; ++i) {
        storm.emplace_back(new TestProcess);
        user.startProgram(storm.back().get(), {}, QString("storm%1").arg(i));
    }
    // Fifteen end early with the code of a second start; one comes up.
    const auto ended = [&storm] {
        return std::count_if(storm.begin(), storm.end(), [](const std::unique_ptr<TestProcess> &child) {
            return child->state() == QProcess::NotRunning;
        });
    };
    Wait::until([&] { return ended() >= 15; }, 60000);
    int early = 0;
    for (auto &child : storm) {
        if (child->state() == QProcess::NotRunning) {
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), kAnotherInstance);
            ++early;
        }
    }
    QCOMPARE(early, 15);
    int survivor = -1;
    for (int i = 0; i < 16; ++i) {
        if (storm[i]->state() != QProcess::NotRunning)
            survivor = i;
    }
    QVERIFY(survivor >= 0);
    QVERIFY(user.waitReady(QString("storm%1").arg(survivor)));
    // The survivor serves the instance: a later start finds it and ends.
    QCOMPARE(user.runProgram({}), kAnotherInstance);
    QCOMPARE(storm[survivor]->state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(storm[survivor]->outcome(30000), QString("exit 0"));
}

void InstanceSystemTest::restartAfterKill()
{
    UserHome user(m_display);
    TestProcess first;
    user.startProgram(&first, {}, "first");
    QVERIFY(user.waitReady("first"));
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(first.exitStatus(), QProcess::CrashExit);

    // The registration went with the process; its socket file stayed and is taken over.
    QVERIFY(QFileInfo::exists(user.path("run/tarn-desktop/relay.sock")));
    TestProcess second;
    user.startProgram(&second, {}, "second");
    QVERIFY(user.waitReady("second"));
    QCOMPARE(user.runProgram({}), kAnotherInstance);
    QCOMPARE(second.state(), QProcess::Running);
    QCOMPARE(user.runProgram({"uninstall"}), kAnotherInstance);
    QCOMPARE(second.outcome(30000), QString("exit 0"));
}

QTEST_GUILESS_MAIN(InstanceSystemTest)
#include "InstanceSystemTest.moc"
