#include "LoginAutostart.h"
#include "XDesktop.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>

namespace {

const QString kProgram = QStringLiteral("/usr/lib/tarn-desktop/tarn-desktop");
const QStringList kPackages = {"tarn-desktop", "tarn-desktop-dbgsym"};
// Caches that triggers of other packages rebuild when any package adds icons or desktop entries.
const QStringList kTriggerCaches = {"/usr/share/icons/hicolor/icon-theme.cache",
                                    "/usr/share/applications/mimeinfo.cache"};

struct Result
{
    int code = -1000;
    QByteArray output;
    qint64 ms = 0;
};

// outputFile, when given, takes the output instead of a pipe: programs that outlive the one started
// (as those an autostart runner starts) keep writing to it after the pipe would have closed.
Result run(const QString &program, const QStringList &arguments, int timeoutMs,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
           const QString &outputFile = QString())
{
    Result result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile, QIODevice::Append);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(30000)) {
        result.output = process.errorString().toUtf8();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.output = process.readAll() + "\n(killed after " + QByteArray::number(timeoutMs) + " ms)";
        return result;
    }
    result.ms = clock.elapsed();
    if (outputFile.isEmpty()) {
        result.output = process.readAll();
    } else {
        QFile file(outputFile);
        if (file.open(QIODevice::ReadOnly))
            result.output = file.readAll();
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1001;
    return result;
}

QProcessEnvironment aptEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DEBIAN_FRONTEND", "noninteractive");
    return env;
}

bool installed(const QString &package)
{
    const Result status = run("dpkg-query", {"-W", "-f=${Status}", package}, 30000);
    return status.code == 0 && status.output.contains("install ok installed");
}

QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString readLink(const QString &path)
{
    return QFile::symLinkTarget(path);
}

// Processes whose executable is the installed program (also after its file was replaced).
QList<qint64> programProcesses()
{
    QList<qint64> pids;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QString exe = readLink("/proc/" + entry + "/exe");
        if (exe == kProgram || exe == kProgram + " (deleted)")
            pids << pid;
    }
    return pids;
}

bool alive(qint64 pid)
{
    const QString exe = readLink(QStringLiteral("/proc/%1/exe").arg(pid));
    return exe == kProgram || exe == kProgram + " (deleted)";
}

// Processes started through QProcess; Qt collects their exit itself.
QSet<qint64> g_startedByQt;

// Programs the autostart runner started become this test's children when the runner ends; their
// exits are collected here, never those of QProcess's children.
void reapChildren()
{
    const QString self = QString::number(::getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || g_startedByQt.contains(pid))
            continue;
        // "<pid> (<name>) <state> <ppid> ...", and the name may hold blanks and brackets.
        const QByteArray stat = readFileBytes("/proc/" + entry + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] == "Z" && fields[1] == self.toLatin1())
            ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    }
}

bool waitGone(qint64 pid, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (alive(pid) && clock.elapsed() < ms) {
        reapChildren();
        QThread::msleep(50);
    }
    reapChildren();
    return !alive(pid);
}

// Every path below the folders a package may write to.
QSet<QString> systemListing()
{
    QSet<QString> paths;
    for (const char *root : {"/usr", "/etc", "/var/lib/dpkg/info"}) {
        QDirIterator it(QString::fromLatin1(root),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths.insert(it.next());
    }
    for (const QString &cache : kTriggerCaches)
        paths.remove(cache);
    return paths;
}

QByteArray readFile(const QString &path)
{
    return readFileBytes(path);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// One user of the installed program: the unprivileged account "nobody" with folders of its own.
class UserSession
{
public:
    explicit UserSession(const QString &display) : m_display(display)
    {
        if (!m_dir.isValid())
            return;
        QDir root(m_dir.path());
        for (const char *sub : {"home/.config/tarn-desktop/Config", "home/.local/share", "run"})
            root.mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(m_dir.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_valid = writeFile(profilePath(), profileText()) && chownToUser();
    }
    ~UserSession()
    {
        for (QProcess *process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it)
            g_startedByQt.remove(it.key());
        qDeleteAll(m_processes);
    }

    bool isValid() const { return m_valid; }
    QString home() const { return m_dir.filePath("home"); }
    QString configHome() const { return home() + "/.config"; }
    QString logDir() const { return home() + "/.local/share/tarn-desktop/log"; }
    QString profilePath() const { return configHome() + "/tarn-desktop/Config/UserData.ini"; }
    static QByteArray profileText() { return "[Language]\nstrWebLanguage=German\n"; }

    bool chownToUser() const { return run("chown", {"-R", "nobody:nogroup", m_dir.path()}, 30000).code == 0; }

    QStringList environment(bool withDisplay) const
    {
        QStringList env = {"PATH=/usr/bin:/bin",
                           "HOME=" + home(),
                           "XDG_CONFIG_HOME=" + configHome(),
                           "XDG_DATA_HOME=" + home() + "/.local/share",
                           "XDG_CACHE_HOME=" + home() + "/.cache",
                           "XDG_RUNTIME_DIR=" + m_dir.filePath("run"),
                           "XDG_CONFIG_DIRS=/etc/xdg",
                           "DBUS_SESSION_BUS_ADDRESS=disabled:"};
        if (withDisplay)
            env << "DISPLAY=" + m_display << "QT_QPA_PLATFORM=xcb";
        return env;
    }

    // Runs a command as the user; it dies with the test.
    QStringList asUser(bool withDisplay, const QStringList &command) const
    {
        return QStringList{"--reuid=nobody",
                           "--regid=nogroup",
                           "--clear-groups",
                           "--pdeathsig",
                           "KILL",
                           "--",
                           "env",
                           "-i"} +
               environment(withDisplay) + command;
    }

    // Starts the installed program; its process id, or 0.
    qint64 start(const QStringList &arguments = {})
    {
        std::unique_ptr<QProcess> process(new QProcess);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start("setpriv", asUser(true, QStringList{"/usr/bin/tarn-desktop"} + arguments));
        if (!process->waitForStarted(30000))
            return 0;
        const qint64 pid = process->processId();
        g_startedByQt.insert(pid);
        m_processes.insert(pid, process.release());
        return pid;
    }

    // The exit code of a program started here, or -1000 when it did not end normally.
    int exitCodeOf(qint64 pid)
    {
        QProcess *process = m_processes.value(pid);
        if (!process)
            return -1000;
        if (process->state() != QProcess::NotRunning && !process->waitForFinished(10000))
            return -1000;
        return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1000;
    }

    QByteArray log() const { return readFile(logDir() + "/tarn-desktop.log"); }

    // "<tag> <text>" of every log line the process wrote.
    QStringList logTexts(qint64 pid) const
    {
        const QByteArray marker = ' ' + QByteArray::number(pid) + ':';
        QStringList texts;
        for (const QByteArray &line : log().split('\n')) {
            const int at = line.indexOf(marker);
            const int text = at < 0 ? -1 : line.indexOf(' ', at + 1);
            if (text > 0)
                texts << QString::fromUtf8(line.mid(text + 1));
        }
        return texts;
    }

    bool waitForLog(qint64 pid, const QString &text, int ms) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (logTexts(pid).contains(text))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    QStringList dumps() const { return QDir(logDir()).entryList({"*.dmp", "*.dmp.txt"}, QDir::Files); }

    // The instance ended in its normal order: "app exit" last, no dump, the profile as it was.
    QString cleanEndProblem(qint64 pid) const
    {
        const QStringList texts = logTexts(pid);
        if (texts.isEmpty() || texts.last() != QLatin1String("N:Demo app exit"))
            return "last lines of " + QString::number(pid) + ":\n" + texts.mid(texts.size() - 5).join('\n');
        if (!texts.contains(QLatin1String("N:Demo stop service")))
            return "no teardown in the log of " + QString::number(pid);
        if (!dumps().isEmpty())
            return "dumps: " + dumps().join(", ");
        if (readFile(profilePath()) != profileText())
            return "profile changed: " + QString::fromUtf8(readFile(profilePath()));
        return QString();
    }

private:
    QString m_display;
    QTemporaryDir m_dir;
    bool m_valid = false;
    QMap<qint64, QProcess *> m_processes;
};

} // namespace

class PackageTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QTemporaryDir m_out;
    QString m_version;
    QString m_upgradeVersion;
    QSet<QString> m_before;
    bool m_changedSystem = false;

    QStringList debs(const QString &version) const
    {
        return {m_out.filePath("tarn-desktop_" + version + "_amd64.deb"),
                m_out.filePath("tarn-desktop-dbgsym_" + version + "_amd64.deb")};
    }

    Result aptInstall(const QString &version)
    {
        m_changedSystem = true;
        return run("apt-get", QStringList{"install", "-y", "--no-install-recommends"} + debs(version), 600000,
                   aptEnvironment());
    }

    Result xdotool(const QStringList &arguments) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_x.display());
        return run("xdotool", arguments, 30000, env);
    }

    // A shown window of the process the size of the main window; the tray icon's window is not one.
    bool visibleWindow(qint64 pid) const
    {
        const Result found = xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)});
        for (const QByteArray &id : found.output.split('\n')) {
            if (id.trimmed().isEmpty())
                continue;
            const Result geometry = xdotool({"getwindowgeometry", QString::fromLatin1(id.trimmed())});
            const QRegularExpressionMatch size =
                QRegularExpression("Geometry: (\\d+)x(\\d+)").match(QString::fromUtf8(geometry.output));
            if (size.hasMatch() && size.captured(1).toInt() >= 200 && size.captured(2).toInt() >= 200)
                return true;
        }
        return false;
    }

    bool waitVisible(qint64 pid, int ms) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (visibleWindow(pid))
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    void removeEverything()
    {
        for (qint64 pid : programProcesses())
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        for (qint64 pid : programProcesses())
            waitGone(pid, 10000);
        QStringList present;
        for (const QString &package : kPackages) {
            if (installed(package) || run("dpkg-query", {"-W", package}, 30000).code == 0)
                present << package;
        }
        if (!present.isEmpty())
            run("dpkg", QStringList{"--purge"} + present, 300000, aptEnvironment());
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("CI") != QLatin1String("true"))
            QSKIP("installs the package system-wide; runs only in CI (CI=true), on a machine it may change");
        if (::geteuid() != 0)
            QSKIP("installing a package needs root");
        for (const QString &package : kPackages)
            QVERIFY2(!installed(package),
                     qPrintable(package + " is installed already; the test would replace it"));
        // Processes the program leaves behind (started by the autostart runner, which does not wait)
        // become this test's children, so none outlives it.
        QVERIFY(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        QVERIFY(m_out.isValid());
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));

        const QString script = qEnvironmentVariable("TARN_SOURCE_DIR") + "/scripts/package.sh";
        QElapsedTimer clock;
        clock.start();
        const Result first = run(script, {"--out", m_out.path()}, 3000000);
        QVERIFY2(first.code == 0, first.output.right(4000).constData());
        qInfo("package build (hardened build included): %lld s", clock.elapsed() / 1000);
        const QStringList built = QDir(m_out.path()).entryList({"tarn-desktop_*_amd64.deb"});
        QCOMPARE(built.size(), 1);
        m_version = built.first().section('_', 1, 1);
        m_upgradeVersion = m_version + "+1";
        const Result second = run(script, {"--out", m_out.path(), "--version", m_upgradeVersion}, 3000000);
        QVERIFY2(second.code == 0, second.output.right(4000).constData());
        for (const QString &deb : debs(m_version) + debs(m_upgradeVersion))
            QVERIFY2(QFileInfo::exists(deb), qPrintable(deb));
        m_before = systemListing();
    }

    void cleanupTestCase()
    {
        if (m_changedSystem)
            removeEverything();
        m_x.stop();
        reapChildren();
    }

    // A test that failed half-way leaves no instance behind for the next one.
    void cleanup()
    {
        for (qint64 pid : programProcesses())
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        for (qint64 pid : programProcesses())
            waitGone(pid, 10000);
    }

    void lintianFindsNothing()
    {
        const Result lint = run("lintian", QStringList{"--no-tag-display-limit"} + debs(m_version), 600000);
        QStringList problems;
        for (const QByteArray &line : lint.output.split('\n')) {
            if (line.startsWith("E: ") || line.startsWith("W: "))
                problems << QString::fromUtf8(line);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QVERIFY2(lint.code == 0, lint.output.constData());
    }

    void packageContents()
    {
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        QCOMPARE(run("dpkg-deb", {"-x", debs(m_upgradeVersion).first(), tree.path()}, 60000).code, 0);
        QCOMPARE(run("dpkg-deb", {"-x", debs(m_upgradeVersion).last(), tree.path()}, 60000).code, 0);
        // The package's version is the one the program reports.
        const QByteArray ini = readFile(tree.filePath("usr/lib/tarn-desktop/config/version.ini"));
        QVERIFY2(ini.contains("\nProductVersion=" + m_upgradeVersion.toUtf8() + "\n"), ini.constData());
        const Result depends = run("dpkg-deb", {"-f", debs(m_version).first(), "Depends"}, 60000);
        QVERIFY2(depends.output.contains("libqt5widgets5") && depends.output.contains("libc6"),
                 depends.output.constData());
        // The dump tool opens libdw only when it writes a backtrace.
        QVERIFY2(depends.output.contains("libdw1 (>= "), depends.output.constData());

        const QString exe = tree.filePath("usr/lib/tarn-desktop/tarn-desktop");
        const Result sections = run("readelf", {"-S", "-W", exe}, 60000);
        QVERIFY2(!sections.output.contains(".debug_info") && !sections.output.contains(".symtab"),
                 "the program is not stripped");
        QVERIFY(sections.output.contains(".gnu_debuglink"));
        // Hardening: PIE, full RELRO with bind now, stack protector and fortified functions.
        const Result header = run("readelf", {"-h", "-l", "-d", "-W", "--dyn-syms", exe}, 60000);
        QVERIFY(header.output.contains("DYN (Position-Independent Executable file)"));
        QVERIFY(header.output.contains("GNU_RELRO"));
        QVERIFY(header.output.contains("BIND_NOW") || header.output.contains("Flags: NOW"));
        QVERIFY(header.output.contains("__stack_chk_fail"));
        QVERIFY(QRegularExpression("__\\w+_chk@").match(QString::fromUtf8(header.output)).hasMatch());

        // Every object's debug information is where its build id says.
        for (const char *name : {"tarn-desktop", "procdump", "wddmp.exe", "libTraceD.so", "libNetworkD.so",
                                 "libtarn-wayland.so"}) {
            const Result notes = run("readelf", {"-n", tree.filePath("usr/lib/tarn-desktop/") + name}, 60000);
            const QRegularExpressionMatch id = QRegularExpression("Build ID: ([0-9a-f]{2})([0-9a-f]+)")
                                                   .match(QString::fromUtf8(notes.output));
            QVERIFY2(id.hasMatch(), name);
            const QString debug =
                tree.filePath("usr/lib/debug/.build-id/" + id.captured(1) + "/" + id.captured(2) + ".debug");
            QVERIFY2(run("readelf", {"-S", "-W", debug}, 60000).output.contains(".debug_info"),
                     qPrintable(debug));
        }
    }

    // Installed, started by a user, upgraded while it runs and removed while it runs: each time the
    // instance closes in its normal order before its files go.
    void upgradeAndRemoveCloseTheProgram()
    {
        UserSession user(m_x.display());
        QVERIFY(user.isValid());
        const Result install = aptInstall(m_version);
        QVERIFY2(install.code == 0, install.output.constData());
        QVERIFY(QFileInfo::exists("/etc/xdg/autostart/tarn-desktop.desktop"));
        QCOMPARE(readLink("/usr/bin/tarn-desktop"), kProgram);

        qint64 pid = user.start();
        QVERIFY(pid > 0);
        QVERIFY2(waitVisible(pid, 60000), user.log().right(2000).constData());
        QVERIFY(user.waitForLog(pid, "N:Demo Init ui", 30000));
        const Result upgrade = aptInstall(m_upgradeVersion);
        QVERIFY2(upgrade.code == 0, upgrade.output.constData());
        qInfo("upgrade while running: %lld ms", upgrade.ms);
        QVERIFY2(waitGone(pid, 5000), "the instance outlived the upgrade");
        QCOMPARE(user.exitCodeOf(pid), 0);
        QString problem = user.cleanEndProblem(pid);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(readFile("/usr/lib/tarn-desktop/config/version.ini")
                    .contains("ProductVersion=" + m_upgradeVersion.toUtf8()));

        // Two instances of the user, each with its own folders; one does not answer (stopped). The
        // removal waits for it only a bounded time, and it loses nothing: it still closes in order
        // once it runs again.
        UserSession frozenUser(m_x.display());
        QVERIFY(frozenUser.isValid());
        pid = user.start();
        const qint64 frozen = frozenUser.start();
        QVERIFY(pid > 0 && frozen > 0);
        QVERIFY(waitVisible(pid, 60000));
        QVERIFY(waitVisible(frozen, 60000));
        QVERIFY(frozenUser.waitForLog(frozen, "N:Demo Init ui", 30000));
        QCOMPARE(::kill(static_cast<pid_t>(frozen), SIGSTOP), 0);
        m_changedSystem = true;
        const Result remove =
            run("apt-get", QStringList{"remove", "-y"} + kPackages, 600000, aptEnvironment());
        ::kill(static_cast<pid_t>(frozen), SIGCONT);
        QVERIFY2(remove.code == 0, remove.output.constData());
        qInfo("removal with one instance not answering: %lld ms", remove.ms);
        QVERIFY2(remove.ms < 60000, "the removal waited too long for an instance that does not answer");
        QVERIFY2(remove.output.contains("did not close in time"), remove.output.constData());
        QVERIFY(!installed("tarn-desktop"));
        QVERIFY2(waitGone(pid, 5000), "the instance outlived the removal");
        QCOMPARE(user.exitCodeOf(pid), 0);
        problem = user.cleanEndProblem(pid);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY2(waitGone(frozen, 30000), "the stopped instance did not close once it ran again");
        QCOMPARE(frozenUser.exitCodeOf(frozen), 0);
        problem = frozenUser.cleanEndProblem(frozen);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // A real autostart runner starts the program at login, hidden, unless the user switched it off.
    void startAtLogin()
    {
        const Result install = aptInstall(m_version);
        QVERIFY2(install.code == 0, install.output.constData());
        UserSession user(m_x.display());
        QVERIFY(user.isValid());
        const QStringList dex =
            user.asUser(true, {"dex", "--autostart", "--verbose", "--environment", "GNOME"});
        int dexRuns = 0;
        const auto dexOutput = [&user, &dexRuns] {
            return user.home() + QStringLiteral("/../dex%1.out").arg(++dexRuns);
        };

        QVERIFY(programProcesses().isEmpty());
        Result started = run("setpriv", dex, 60000, QProcessEnvironment::systemEnvironment(), dexOutput());
        QVERIFY2(started.code == 0, started.output.constData());
        QElapsedTimer clock;
        clock.start();
        while (programProcesses().isEmpty() && clock.elapsed() < 30000)
            QThread::msleep(100);
        const QList<qint64> pids = programProcesses();
        QCOMPARE(pids.size(), 1);
        const qint64 pid = pids.first();
        QCOMPARE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)),
                 QByteArray("tarn-desktop\0autorun\0", 21));
        QVERIFY2(user.waitForLog(pid, "N:Demo Init ui", 60000), user.log().right(2000).constData());
        // Bring-up ends with the window hidden; give it time to show a window it should not.
        QThread::msleep(3000);
        QVERIFY(alive(pid));
        QVERIFY(!visibleWindow(pid));
        const Result close =
            run("setpriv", user.asUser(false, {"/usr/bin/tarn-desktop", "uninstall"}), 60000);
        QCOMPARE(close.code, 255);
        QVERIFY(waitGone(pid, 30000));
        const QString problem = user.cleanEndProblem(pid);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        // Switched off, the runner starts nothing.
        LoginAutostart autostart(user.configHome() + "/autostart", {"/etc/xdg/autostart"});
        QVERIFY(autostart.isEnabled());
        QVERIFY(autostart.setEnabled(false, kProgram));
        QVERIFY(user.chownToUser());
        QVERIFY(!autostart.isEnabled());
        started = run("setpriv", dex, 60000, QProcessEnvironment::systemEnvironment(), dexOutput());
        QVERIFY2(started.code == 0, started.output.constData());
        QVERIFY2(started.output.contains("hidden attribute is set"), started.output.constData());
        QThread::msleep(3000);
        QVERIFY(programProcesses().isEmpty());

        // Switched on again, it starts.
        QVERIFY(autostart.setEnabled(true, kProgram));
        QVERIFY(autostart.isEnabled());
        started = run("setpriv", dex, 60000, QProcessEnvironment::systemEnvironment(), dexOutput());
        QVERIFY2(started.code == 0, started.output.constData());
        clock.restart();
        while (programProcesses().isEmpty() && clock.elapsed() < 30000)
            QThread::msleep(100);
        QCOMPARE(programProcesses().size(), 1);
        const qint64 again = programProcesses().first();
        QVERIFY(user.waitForLog(again, "N:Demo Init ui", 60000));
        QCOMPARE(run("setpriv", user.asUser(false, {"/usr/bin/tarn-desktop", "uninstall"}), 60000).code, 255);
        QVERIFY(waitGone(again, 30000));
    }

    // With the debug symbols installed, a crash of the installed program gives a dump whose backtrace
    // names the program's functions and source lines.
    void crashDumpIsSymbolised()
    {
        QVERIFY(installed("tarn-desktop-dbgsym"));
        UserSession user(m_x.display());
        QVERIFY(user.isValid());
        const qint64 pid = user.start();
        QVERIFY(pid > 0);
        QVERIFY(waitVisible(pid, 60000));
        QVERIFY(user.waitForLog(pid, "N:Demo Init ui", 30000));
        QThread::msleep(1000);
        QCOMPARE(::kill(static_cast<pid_t>(pid), SIGSEGV), 0);
        QVERIFY(waitGone(pid, 30000));
        QString text;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 120000) {
            // The tool writes the backtraces after the core; they are complete once it has ended.
            const QStringList txt = QDir(user.logDir()).entryList({"*.dmp.txt"}, QDir::Files);
            bool toolRunning = false;
            for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                if (readLink("/proc/" + entry + "/exe") == QLatin1String("/usr/lib/tarn-desktop/procdump") &&
                    readFile("/proc/" + entry + "/cmdline").contains(user.logDir().toUtf8()))
                    toolRunning = true;
            }
            if (!txt.isEmpty() && !toolRunning) {
                text = QString::fromUtf8(readFile(user.logDir() + "/" + txt.first()));
                break;
            }
            reapChildren();
            QThread::msleep(200);
        }
        QVERIFY2(!text.isEmpty(), qPrintable(QDir(user.logDir()).entryList().join(", ")));
        QVERIFY2(text.contains("TarnDesktopApp::run"), qPrintable(text.left(6000)));
        QVERIFY2(QRegularExpression("TarnDesktopApp\\.cpp:\\d+").match(text).hasMatch(),
                 qPrintable(text.left(6000)));
    }

    // After purge nothing of the package is left outside the users' own folders.
    void purgeLeavesNothing()
    {
        const Result purge = run("apt-get", QStringList{"purge", "-y"} + kPackages, 600000, aptEnvironment());
        QVERIFY2(purge.code == 0, purge.output.constData());
        for (const QString &package : kPackages)
            QVERIFY2(run("dpkg-query", {"-W", package}, 30000).code != 0, qPrintable(package));
        const QSet<QString> after = systemListing();
        QStringList added = (after - m_before).values();
        added.sort();
        QVERIFY2(added.isEmpty(), qPrintable(added.mid(0, 50).join('\n')));
        QStringList removed = (m_before - after).values();
        removed.sort();
        QVERIFY2(removed.isEmpty(), qPrintable(removed.mid(0, 50).join('\n')));
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "PackageTest.moc"
