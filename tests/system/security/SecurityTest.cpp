#include "ControlLocator.h"
#include "ExecTrace.h"
#include "ProgramRun.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool waitForReady(const ProgramRun &run, int ms)
{
    return run.waitForOutput("ready\n", ms);
}

// Mode bits and owner of a path, not following a final link; mode -1 when it does not exist.
struct Node
{
    int mode = -1;
    uid_t owner = 0;
    bool socket = false;
};

Node nodeOf(const QString &path)
{
    struct stat st;
    Node node;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        node.mode = static_cast<int>(st.st_mode & 07777);
        node.owner = st.st_uid;
        node.socket = S_ISSOCK(st.st_mode);
    }
    return node;
}

QString octal(int mode)
{
    return QString::number(mode, 8);
}

// "<what> <errno>" lines of the probe, by what.
QMap<QString, int> probe(const QStringList &prefix, const QString &probePath, const QStringList &arguments)
{
    QProcess process;
    process.start(prefix.isEmpty() ? probePath : prefix.first(),
                  prefix.isEmpty() ? arguments : prefix.mid(1) + QStringList{probePath} + arguments);
    QMap<QString, int> result;
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        return result;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const int space = line.lastIndexOf(' ');
        if (space > 0) {
            result.insert(QString::fromLocal8Bit(line.left(space)), line.mid(space + 1).toInt());
        }
    }
    return result;
}

const char kNoBus[] = "unix:path=/nonexistent/tarn-security-bus";

const QStringList kOtherUser = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};

bool isAllowedStart(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name == QLatin1String("procdump") || name == QLatin1String("wddmp.exe") ||
           name == QLatin1String("msiexec.exe");
}

} // namespace

class SecurityTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;
    QString m_probe;

    // Checks that every start after the program's own is one of its outside programs, never a shell.
    void checkStarts(const ExecTrace &trace, const QString &program)
    {
        const QList<ExecTrace::Call> calls = trace.calls();
        QVERIFY2(!calls.isEmpty(), qPrintable(trace.error()));
        QCOMPARE(calls.first().path, program);
        for (int i = 1; i < calls.size(); ++i) {
            const ExecTrace::Call &call = calls.at(i);
            const QString name = QFileInfo(call.path).fileName();
            QVERIFY2(name != "sh" && name != "bash" && name != "dash" && !call.arguments.contains("-c"),
                     qPrintable("a shell was started: " + call.path + " " + call.arguments.join(' ')));
            QVERIFY2(isAllowedStart(call.path),
                     qPrintable("unexpected start: " + call.path + " " + call.arguments.join(' ')));
            // Whatever was started got its own name as its first argument, not a command line to split.
            QVERIFY2(!call.arguments.isEmpty() && call.arguments.first() == call.path,
                     qPrintable(call.arguments.join(' ')));
        }
    }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        m_probe = qEnvironmentVariable("TARN_FOREIGN_PROBE");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(QFile::exists(m_root + "/libtestability.so"), "the test library is not in the root");
        QVERIFY2(QFile::exists(m_probe), qPrintable("no probe at " + m_probe));
        QVERIFY2(::geteuid() == 0, "running a probe as another user needs root");
        QVERIFY2(QFileInfo(m_probe).permissions() & QFile::ExeOther, "the probe cannot run as another user");
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void traceReading()
    {
        // What the start checks rely on: arguments with brackets and quotes, and calls that strace
        // reports in two halves.
        const QByteArray text =
            "100 execve(\"/r/tarn-desktop\", [\"/r/tarn-desktop\"], 0x7ff /* 3 vars */) = 0\n"
            "101 execve(\"/r/procdump\", [\"/r/procdump\", \"-e\", \"100\", \"/l/a [x]\\\"b\\\".dmp\"], "
            "0x55 /* 3 vars */ <unfinished ...>\n"
            "101 <... execve resumed>) = 0\n"
            "102 +++ exited with 0 +++\n";
        const QList<ExecTrace::Call> calls = ExecTrace::parse(text);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).pid, 100);
        QCOMPARE(calls.at(0).arguments, QStringList{"/r/tarn-desktop"});
        QCOMPARE(calls.at(1).path, QString("/r/procdump"));
        QCOMPARE(calls.at(1).arguments, (QStringList{"/r/procdump", "-e", "100", "/l/a [x]\\\"b\\\".dmp"}));
    }

    void ownerOnlyWhileRunning()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        // The test's own folders let others pass, so only what the program made can keep them out.
        for (const QString &dir : {run.home(), run.dataDir(), run.home() + "/run", run.configDir()}) {
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ExeGroup | QFile::ExeOther));
        }
        QVERIFY(run.start({}, "ready,commands,quit-after-ms=60000"));
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        const uid_t me = ::geteuid();

        const QString runtime = run.home() + "/run/tarn-desktop";
        const Node runtimeNode = nodeOf(runtime);
        QCOMPARE(octal(runtimeNode.mode), octal(0700));
        QCOMPARE(runtimeNode.owner, me);
        QString socketPath;
        QDirIterator it(runtime, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const Node node = nodeOf(path);
            QVERIFY2((node.mode & 077) == 0, qPrintable(path + " has mode " + octal(node.mode)));
            QCOMPARE(node.owner, me);
            if (node.socket) {
                socketPath = path;
            }
        }
        QVERIFY2(!socketPath.isEmpty(), "no relay socket in the runtime folder");

        const QString logDir = run.dataDir() + "/tarn-desktop/log";
        const QString logFile = logDir + "/tarn-desktop.log";
        QCOMPARE(octal(nodeOf(logFile).mode), octal(0600));
        QCOMPARE(octal(nodeOf(logDir).mode & 077), octal(0));
        for (const QFileInfo &entry : QDir(logDir).entryInfoList(QDir::AllEntries | QDir::System |
                                                                 QDir::Hidden | QDir::NoDotAndDotDot)) {
            const Node node = nodeOf(entry.filePath());
            QVERIFY2((node.mode & 077) == 0, qPrintable(entry.filePath() + " has mode " + octal(node.mode)));
        }
        const QString record = QString("/dev/shm/wddmpsharememory%1").arg(run.pid());
        const Node recordNode = nodeOf(record);
        QCOMPARE(octal(recordNode.mode), octal(0600));
        QCOMPARE(recordNode.owner, me);

        // The profile is written when the user changes a setting: turn on automatic answering on the
        // soft-phone page, reached through the Settings menu of the main window.
        const QString profile = run.configDir() + "/tarn-desktop/Config/UserData.ini";
        QVERIFY(!QFile::exists(profile));
        ControlLocator controls(run.outputFile());
        for (const QString name : {"Settings", "Soft phone settings", "bAutoAnswer"}) {
            const QRect at = controls.locate(name, 30000);
            QVERIFY2(at.isValid(), qPrintable(name + " did not show"));
            // A check box takes clicks on its box and text only, which lie at its left end.
            m_x.click(name == "bAutoAnswer" ? QPoint(at.left() + at.height() / 2, at.center().y())
                                            : at.center());
        }
        QVERIFY(Wait::forFile(profile, 20000));
        QVERIFY2(QFile::exists(profile), "the soft-phone setting did not reach the profile");
        QFile profileFile(profile);
        QVERIFY(profileFile.open(QIODevice::ReadOnly));
        QVERIFY2(profileFile.readAll().contains("bAutoAnswer=1"), "the profile holds something else");
        QCOMPARE(octal(nodeOf(profile).mode), octal(0600));
        QCOMPARE(octal(nodeOf(QFileInfo(profile).path()).mode & 077), octal(0));

        const QStringList arguments = {socketPath, QString("/wddmpsharememory%1").arg(run.pid()), logFile,
                                       profile};
        // The same user reaches everything, which shows the probe can tell.
        const QMap<QString, int> own = probe({}, m_probe, arguments);
        QCOMPARE(own.value("connect", -1), 0);
        QCOMPARE(own.value("record", -1), 0);
        QCOMPARE(own.value("read " + logFile, -1), 0);
        const QMap<QString, int> other = probe(kOtherUser, m_probe, arguments);
        QCOMPARE(other.value("connect", -1), EACCES);
        QCOMPARE(other.value("record", -1), EACCES);
        QCOMPARE(other.value("read " + logFile, -1), EACCES);
        QCOMPARE(own.value("read " + profile, -1), 0);
        QCOMPARE(other.value("read " + profile, -1), EACCES);

        // A relay client that connected and sent nothing did not stop the instance from closing.
        QCOMPARE(run.runOther({"uninstall"}, QString()), 255);
        QVERIFY2(run.wait(30000), "the instance did not close on request");
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(!QFile::exists(record));
    }

    void runtimeFolderOfAnotherUserIsRefused()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        // Another user got there first with a folder everyone may write to.
        const QString planted = run.home() + "/run/tarn-desktop";
        QVERIFY(QDir().mkdir(planted));
        QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0777) == 0);
        QVERIFY(::chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
        QVERIFY(run.start({}, "ready,quit-after-ms=600"));
        QVERIFY2(run.wait(60000), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());
        // Nothing of the program (registration, relay socket) went into the other user's folder.
        QCOMPARE(
            QDir(planted).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
        QVERIFY(!run.logTexts(run.pid()).filter("refused").isEmpty());
    }

    void startsNoShell()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        // Without a session bus the D-Bus library would start its own (dbus-launch); a desktop session has
        // one.
        run.setEnv("DBUS_SESSION_BUS_ADDRESS", kNoBus);
        ExecTrace trace;
        const QString program = m_root + "/tarn-desktop";
        const int code = trace.run(program, {}, run.environment("ready,quit-after-ms=2500"), 90000);
        QVERIFY2(code == 0, qPrintable(QString("exit %1 %2").arg(code).arg(trace.error())));
        checkStarts(trace, program);
        if (QTest::currentTestFailed()) {
            return;
        }
        bool dumpTool = false;
        for (const ExecTrace::Call &call : trace.calls()) {
            dumpTool = dumpTool || call.path == m_root + "/procdump";
        }
        QVERIFY2(dumpTool, trace.text().constData());
    }

    void uninstallStartsTheInstallerWithoutAShell()
    {
        QTemporaryDir system;
        QVERIFY(system.isValid());
        const QString installer = system.path() + "/msiexec.exe";
        QVERIFY(QFile::copy("/bin/true", installer));
        QVERIFY(QFile::setPermissions(installer, QFile::ReadOwner | QFile::ExeOwner));

        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        // A product code with characters a shell would act on.
        const QString code = "{12AB-34CD;$(id)|x&y}";
        QVERIFY(run.writeConfig("version.ini",
                                ("[Version]\nProductType=msi\nProductCode=" + code + "\n").toUtf8()));
        run.setEnv("TARN_SYSTEMX86_DIR", system.path());
        run.setEnv("DBUS_SESSION_BUS_ADDRESS", kNoBus);
        ExecTrace trace;
        const QString program = m_root + "/tarn-desktop";
        const int exit = trace.run(program, {"uninstall"}, run.environment(QString()), 90000);
        QVERIFY2(exit == 255, qPrintable(QString("exit %1 %2").arg(exit).arg(trace.error())));
        checkStarts(trace, program);
        if (QTest::currentTestFailed()) {
            return;
        }
        QList<QStringList> installerStarts;
        for (const ExecTrace::Call &call : trace.calls()) {
            if (call.path == installer) {
                installerStarts << call.arguments;
            }
        }
        QCOMPARE(installerStarts.size(), 1);
        QCOMPARE(installerStarts.first(), (QStringList{installer, "/x", code}));
    }
};

QTEST_GUILESS_MAIN(SecurityTest)
#include "SecurityTest.moc"
