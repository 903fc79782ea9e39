#include "ProgramRun.h"
#include "XDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList kOtherUser = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
const uid_t kNobody = 65534;

// Runs a command as the other account; true when it ran and succeeded.
bool asOtherUser(const QStringList &command)
{
    QProcess process;
    process.start(kOtherUser.first(), kOtherUser.mid(1) + command);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(3000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool waitForReady(const ProgramRun &run, int ms)
{
    return QTest::qWaitFor([&] { return run.output().contains("ready\n"); }, ms);
}

uid_t ownerOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Paths the other account created; removed when the test ends, whatever its outcome.
class Planted
{
public:
    ~Planted()
    {
        for (const QString &path : m_files)
            ::unlink(QFile::encodeName(path).constData());
        for (const QString &path : m_folders)
            QDir(path).removeRecursively();
    }
    void addFile(const QString &path) { m_files << path; }
    void addFolder(const QString &path) { m_folders << path; }

private:
    QStringList m_files;
    QStringList m_folders;
};

// A process of the program with the given environment; killed when the test ends.
class Instance
{
public:
    ~Instance()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess &process() { return m_process; }
    // Starts and waits; the exit code, or -1000 when it did not end within the time.
    int run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
            int ms = 30000)
    {
        m_process.setProcessEnvironment(env);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(10000))
            return -1000;
        if (!m_process.waitForFinished(ms)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1000;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1001;
    }

private:
    QProcess m_process;
};

// The dump tools watching the process, from their command lines.
QList<qint64> dumpToolsOf(qint64 pid)
{
    QList<qint64> found;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        QFile cmdline("/proc/" + entry + "/cmdline");
        if (!number || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (!arguments.isEmpty() && arguments.first().endsWith("/procdump") &&
            arguments.contains(QByteArray::number(pid)))
            found << candidate;
    }
    return found;
}

} // namespace

// Another account on the same machine tries to take the names the program relies on before it does.
class HostileUserTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;

    void skipUnlessRoot()
    {
        if (::geteuid() != 0)
            QSKIP("playing another account (setpriv) needs root; CI runs as root on a throw-away machine");
    }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void heartbeatNamesTakenInSharedMemoryDoNotTurnDumpsOff()
    {
        skipUnlessRoot();
        // The names the next few hundred processes would use in the shared namespace, taken first.
        QFile last("/proc/sys/kernel/ns_last_pid");
        QVERIFY(last.open(QIODevice::ReadOnly));
        const qint64 from = last.readAll().trimmed().toLongLong() + 1;
        QVERIFY(from > 1);
        Planted planted;
        QStringList names;
        for (qint64 pid = from; pid < from + 400; ++pid) {
            const QString name = QStringLiteral("/dev/shm/wddmpsharememory%1").arg(pid);
            if (!QFile::exists(name)) {
                names << name;
                planted.addFile(name);
            }
        }
        QVERIFY(asOtherUser(QStringList{"touch"} + names));

        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.start({}, "ready,quit-after-ms=60000"));
        const qint64 pid = run.pid();
        if (pid < from || pid >= from + 400 ||
            ownerOf(QStringLiteral("/dev/shm/wddmpsharememory%1").arg(pid)) != kNobody)
            qWarning("process id %lld was not among the taken names (other processes started in between)",
                     pid);
        QVERIFY2(waitForReady(run, 60000), run.output().constData());

        QVERIFY2(QTest::qWaitFor([&] { return !dumpToolsOf(pid).isEmpty(); }, 20000),
                 "no dump tool watches the program");
        const QString record = run.home() + QStringLiteral("/run/tarn-desktop/wddmpsharememory%1").arg(pid);
        QCOMPARE(modeOf(record), 0600);
        QCOMPARE(ownerOf(record), ::geteuid());
        QVERIFY(run.logTexts(pid).filter("crash dumps are off").isEmpty());
        QCOMPARE(run.runOther({"uninstall"}, QString()), 255);
        QVERIFY2(run.wait(30000), "the instance did not close on request");
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(!QFile::exists(record));
    }

    void runtimeFolderTakenInTmpWithoutXdgRuntimeDir()
    {
        skipUnlessRoot();
        // Where the runtime folder of this account once went when XDG_RUNTIME_DIR was unset.
        const QString shared = QStringLiteral("/tmp/tarn-desktop-%1").arg(::geteuid());
        if (QFileInfo::exists(shared))
            QSKIP("cannot play the other account: the shared name exists already");
        Planted planted;
        planted.addFolder(shared);
        QVERIFY(asOtherUser({"mkdir", "-m", "0777", shared}));
        QCOMPARE(ownerOf(shared), kNobody);

        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QProcessEnvironment env = run.environment("ready,quit-after-ms=90000");
        env.remove("XDG_RUNTIME_DIR");
        env.remove("XDG_CACHE_HOME");
        const QString program = m_root + "/tarn-desktop";
        Instance first;
        first.process().setProcessEnvironment(env);
        first.process().start(program, QStringList());
        QVERIFY(first.process().waitForStarted(10000));
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        const QString runtime = run.home() + "/.cache/tarn-desktop/run";
        const bool socketThere = QFileInfo(runtime + "/relay.sock").exists();
        const bool recordThere =
            QFile::exists(runtime + QStringLiteral("/wddmpsharememory%1").arg(first.process().processId()));

        // A second start is handed over, and `uninstall` closes the first one.
        QProcessEnvironment plain = env;
        plain.remove("TARN_TESTABILITY_ACTION");
        Instance second;
        QCOMPARE(second.run(program, {}, plain), 255);
        Instance uninstall;
        QCOMPARE(uninstall.run(program, {"uninstall"}, plain), 255);
        QVERIFY2(first.process().waitForFinished(30000), "the first instance did not close on request");
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        // Everything lived in the user's own cache folder, nothing in the shared name.
        QCOMPARE(modeOf(runtime), 0700);
        QCOMPARE(ownerOf(runtime), ::geteuid());
        QVERIFY(socketThere);
        QVERIFY(recordThere);
        QCOMPARE(
            QDir(shared).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
    }

    void runtimeFolderTakenByAnotherUserIsReported()
    {
        skipUnlessRoot();
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        // XDG_RUNTIME_DIR set to a folder others may write to, and the other account got there first.
        QVERIFY(QFile::setPermissions(run.home(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ExeGroup | QFile::ExeOther));
        const QString base = run.home() + "/run";
        QCOMPARE(::chmod(QFile::encodeName(base).constData(), 01777), 0);
        const QString planted = base + "/tarn-desktop";
        QVERIFY(asOtherUser({"mkdir", "-m", "0777", planted}));
        QCOMPARE(ownerOf(planted), kNobody);

        QVERIFY(run.start({}, "ready,quit-after-ms=1500"));
        QVERIFY2(run.wait(60000), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());
        QCOMPARE(
            QDir(planted).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
        // Crash dumps are off, and the log says so and why.
        const QStringList warned = run.logTexts(run.pid()).filter("W:Demo crash dumps are off");
        QCOMPARE(warned.size(), 1);
        QVERIFY2(warned.first().contains("no private runtime folder"), qPrintable(warned.first()));
        QVERIFY(dumpToolsOf(run.pid()).isEmpty());
    }

    void deepHomeWithoutXdgRuntimeDirIsExplained()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        // A build that still used the shared /tmp name would leave it behind; the machine stays as it was.
        const QString shared = QStringLiteral("/tmp/tarn-desktop-%1").arg(::geteuid());
        Planted leftOver;
        if (!QFileInfo::exists(shared))
            leftOver.addFolder(shared);
        // A home folder so deep that the relay socket's path cannot fit a local socket address.
        QString home = run.home();
        while (home.size() < 100)
            home += "/deep-folder";
        QVERIFY(QDir().mkpath(home));
        QProcessEnvironment env = run.environment("ready,quit-after-ms=90000");
        env.remove("XDG_RUNTIME_DIR");
        env.remove("XDG_CACHE_HOME");
        env.insert("HOME", home);
        const QString program = m_root + "/tarn-desktop";
        Instance first;
        first.process().setProcessEnvironment(env);
        first.process().start(program, QStringList());
        QVERIFY(first.process().waitForStarted(10000));
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        const qint64 pid = first.process().processId();
        const QStringList explained = run.logTexts(pid).filter("relay socket path");
        QVERIFY2(!explained.isEmpty() &&
                     explained.first().contains("longer than the 107 a local socket allows"),
                 qPrintable(run.logTexts(pid).join('\n')));
        // The locks still work: a second start is refused rather than becoming another instance.
        QProcessEnvironment plain = env;
        plain.remove("TARN_TESTABILITY_ACTION");
        Instance second;
        QCOMPARE(second.run(program, {}, plain), 255);
        QVERIFY(QFile::exists(home + QStringLiteral("/.cache/tarn-desktop/run/wddmpsharememory%1").arg(pid)));
    }
};

QTEST_GUILESS_MAIN(HostileUserTest)
#include "HostileUserTest.moc"
