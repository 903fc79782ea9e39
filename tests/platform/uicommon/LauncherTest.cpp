#include "LauncherHelperPath.h"
#include "RuntimeFolder.h"
#include "wAppLauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// A helper process registered under a name, killed when the object goes.
class Helper
{
public:
    explicit Helper(const QString &name, bool waitForGo = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        if (waitForGo)
            env.insert("TARN_HELPER_WAIT_STDIN", "1");
        process.setProcessEnvironment(env);
        process.start(launcherHelperPath(), {name, "60"});
    }
    ~Helper()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // The number the helper's startApp answered, or -1.
    int result(int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && timer.elapsed() < timeoutMs)
            process.waitForReadyRead(100);
        const QByteArray line = process.readLine().trimmed();
        if (!line.startsWith("startApp "))
            return -1;
        return line.mid(9).toInt();
    }
    QProcess process;
};

QString nameFolder(const QString &encoded)
{
    return QString::fromStdString(RuntimeFolder::location()) + "/launcher/" + encoded;
}

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void runtimeFolderCreatedPrivate();
    void runtimeFolderPermissionsTightened();
    void runtimeFolderRefusesLinkFileAndStranger();
    void runtimeFolderFallsBackWithoutXdgRuntimeDir();

    void namesWithBlanksAndDotsStayApart();
    void startStormHasExactlyOneFirst();
    void killedProcessIsNotCounted();
    void staleFileWithoutLockIsNotCounted();
    void bringAppToTopWithoutProcessOrDisplay();
    void exitFlagDropsRegistration();
};

void TestLauncher::initTestCase()
{
    QVERIFY2(QFileInfo(launcherHelperPath()).isExecutable(), qPrintable(launcherHelperPath()));
    QVERIFY(!RuntimeFolder::path().empty());
}

void TestLauncher::runtimeFolderCreatedPrivate()
{
    QTemporaryDir base;
    const std::string folder = base.path().toStdString() + "/fresh";
    QVERIFY(RuntimeFolder::prepare(folder, ::getuid()));
    struct stat st;
    QCOMPARE(::lstat(folder.c_str(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0700u);
    // A second call accepts what the first made.
    QVERIFY(RuntimeFolder::prepare(folder, ::getuid()));

    const std::string runtime = RuntimeFolder::path();
    QCOMPARE(QString::fromStdString(runtime), qEnvironmentVariable("XDG_RUNTIME_DIR") + "/tarn-desktop");
    QCOMPARE(::lstat(runtime.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
}

void TestLauncher::runtimeFolderPermissionsTightened()
{
    QTemporaryDir base;
    const std::string folder = base.path().toStdString() + "/open";
    QCOMPARE(::mkdir(folder.c_str(), 0777), 0);
    QCOMPARE(::chmod(folder.c_str(), 0757), 0);
    QVERIFY(RuntimeFolder::prepare(folder, ::getuid()));
    struct stat st;
    QCOMPARE(::stat(folder.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
}

void TestLauncher::runtimeFolderRefusesLinkFileAndStranger()
{
    QTemporaryDir base;
    const std::string target = base.path().toStdString() + "/target";
    QCOMPARE(::mkdir(target.c_str(), 0700), 0);

    const std::string link = base.path().toStdString() + "/link";
    QCOMPARE(::symlink(target.c_str(), link.c_str()), 0);
    QVERIFY(!RuntimeFolder::prepare(link, ::getuid()));

    const std::string file = base.path().toStdString() + "/file";
    QFile f(QString::fromStdString(file));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(!RuntimeFolder::prepare(file, ::getuid()));

    // Owned by someone else: the folder is ours, the owner we ask for is not.
    QVERIFY(!RuntimeFolder::prepare(target, ::getuid() + 1));
    struct stat st;
    QCOMPARE(::stat(target.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);

    QVERIFY(!RuntimeFolder::prepare("relative/folder", ::getuid()));
    QVERIFY(!RuntimeFolder::prepare(base.path().toStdString() + "/missing/child", ::getuid()));
}

void TestLauncher::runtimeFolderFallsBackWithoutXdgRuntimeDir()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    // The user's own cache folder, never a shared /tmp name another account could take first.
    qputenv("XDG_CACHE_HOME", qgetenv("HOME") + "/cache");
    const std::string fallback = qgetenv("HOME").toStdString() + "/cache/tarn-desktop/run";
    qputenv("XDG_RUNTIME_DIR", "/nonexistent/run");
    QCOMPARE(RuntimeFolder::location(), fallback);
    qputenv("XDG_RUNTIME_DIR", "relative");
    QCOMPARE(RuntimeFolder::location(), fallback);
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(RuntimeFolder::location(), fallback);
    QCOMPARE(RuntimeFolder::path(), fallback);
    qputenv("XDG_RUNTIME_DIR", saved);
    if (savedCache.isNull())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", savedCache);
    QCOMPARE(RuntimeFolder::location(), saved.toStdString() + "/tarn-desktop");
}

void TestLauncher::namesWithBlanksAndDotsStayApart()
{
    Helper main("Corvane Daskor.main");
    QCOMPARE(main.result(), 1);
    wAppLauncher *launcher = wAppLauncher::getInstance();
    QCOMPARE(launcher->getExistAppCount("Corvane Daskor.main"), 1);
    // Names that a naive encoding would fold together or that try to leave the folder.
    QCOMPARE(launcher->getExistAppCount("Corvane%20Daskor%2Emain"), 0);
    QCOMPARE(launcher->getExistAppCount("Corvane_Daskor_main"), 0);
    QCOMPARE(launcher->getExistAppCount("Corvane Daskor"), 0);

    Helper escape("../../escape");
    QCOMPARE(escape.result(), 1);
    QCOMPARE(launcher->getExistAppCount("../../escape"), 1);
    const QString runtime = QString::fromStdString(RuntimeFolder::location());
    QVERIFY(!QFileInfo::exists(runtime + "/escape"));
    QVERIFY(!QFileInfo::exists(QFileInfo(runtime).path() + "/escape"));
    QVERIFY(QFileInfo(nameFolder("%2E%2E%2F%2E%2E%2Fescape")).isDir());

    Helper longName(QString(300, QChar('x')) + "y");
    QCOMPARE(longName.result(), 1);
    QCOMPARE(launcher->getExistAppCount((std::string(300, 'x') + "y")), 1);
    QCOMPARE(launcher->getExistAppCount((std::string(300, 'x') + "z")), 0);
}

void TestLauncher::startStormHasExactlyOneFirst()
{
    for (int round = 0; round < 20; ++round) {
        const QString name = QString("Storm %1.main").arg(round);
        std::vector<std::unique_ptr<Helper>> helpers;
        for (int i = 0; i < 16; ++i)
            helpers.emplace_back(new Helper(name, true));
        for (auto &helper : helpers)
            QVERIFY(helper->process.waitForStarted(5000));
        // QProcess writes lazily; push every release out before reading any answer.
        for (auto &helper : helpers)
            helper->process.write("go\n");
        for (auto &helper : helpers)
            QVERIFY(helper->process.bytesToWrite() == 0 || helper->process.waitForBytesWritten(5000));
        int firsts = 0;
        std::vector<int> results;
        for (auto &helper : helpers) {
            const int result = helper->result(20000);
            results.push_back(result);
            QVERIFY2(result >= 1 && result <= 16,
                     qPrintable(QString("round %1 result %2").arg(round).arg(result)));
            firsts += result == 1 ? 1 : 0;
        }
        QVERIFY2(firsts == 1, qPrintable(QString("round %1: %2 processes saw 1").arg(round).arg(firsts)));
        // Each registration adds one, so the answers are 1..16 without gaps.
        std::sort(results.begin(), results.end());
        for (int i = 0; i < 16; ++i)
            QCOMPARE(results[i], i + 1);
        QCOMPARE(wAppLauncher::getInstance()->getExistAppCount(name.toStdString()), 16);
    }
}

void TestLauncher::killedProcessIsNotCounted()
{
    const std::string name = "Killed.main";
    wAppLauncher *launcher = wAppLauncher::getInstance();
    {
        Helper first(QString::fromStdString(name));
        QCOMPARE(first.result(), 1);
        Helper second(QString::fromStdString(name));
        QCOMPARE(second.result(), 2);
        QCOMPARE(launcher->getExistAppCount(name), 2);

        ::kill(static_cast<pid_t>(first.process.processId()), SIGKILL);
        QVERIFY(first.process.waitForFinished(5000));
        QCOMPARE(launcher->getExistAppCount(name), 1);

        ::kill(static_cast<pid_t>(second.process.processId()), SIGKILL);
        QVERIFY(second.process.waitForFinished(5000));
        QCOMPARE(launcher->getExistAppCount(name), 0);
    }
    // The stale files went with the count; the next start is the first again.
    const QStringList left = QDir(nameFolder("Killed%2Emain")).entryList(QDir::Files | QDir::NoDotAndDotDot);
    QCOMPARE(left, QStringList());
    Helper again(QString::fromStdString(name));
    QCOMPARE(again.result(), 1);
    QCOMPARE(launcher->getExistAppCount(name), 1);
}

void TestLauncher::staleFileWithoutLockIsNotCounted()
{
    const std::string name = "Stale.main";
    const QString folder = nameFolder("Stale%2Emain");
    QVERIFY(QDir().mkpath(folder));
    // Files named after live processes (ourselves, our parent, init), as if their pids were reused.
    const QStringList pids = {QString::number(::getpid()), QString::number(::getppid()), "1"};
    for (const QString &pid : pids) {
        QFile f(folder + "/" + pid);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    wAppLauncher *launcher = wAppLauncher::getInstance();
    QCOMPARE(launcher->getExistAppCount(name), 0);
    for (const QString &pid : pids)
        QVERIFY(!QFileInfo::exists(folder + "/" + pid));

    // A file locked by a live process counts whatever its name says.
    QFile held(folder + "/999999");
    QVERIFY(held.open(QIODevice::WriteOnly));
    QCOMPARE(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);
    QCOMPARE(launcher->getExistAppCount(name), 1);
    held.close();
    QCOMPARE(launcher->getExistAppCount(name), 0);
}

void TestLauncher::bringAppToTopWithoutProcessOrDisplay()
{
    wAppLauncher *launcher = wAppLauncher::getInstance();
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    QVERIFY(!launcher->bringAppToTop("Demo.install"));
    QVERIFY(!launcher->bringAppToTop(""));

    Helper installer("Demo.install");
    QCOMPARE(installer.result(), 1);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!launcher->bringAppToTop("Demo.install"));
    // A display that does not answer fails as fast.
    qputenv("DISPLAY", ":987");
    QVERIFY(!launcher->bringAppToTop("Demo.install"));
    QVERIFY(timer.elapsed() < 2000);
    if (display.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
}

void TestLauncher::exitFlagDropsRegistration()
{
    wAppLauncher *launcher = wAppLauncher::getInstance();
    const std::string name = "Self.main";
    QVERIFY(!launcher->exitFlag());
    QCOMPARE(launcher->startApp(name), 1);
    QVERIFY(launcher->isRegistered());
    // A second call from the same process does not register twice.
    QCOMPARE(launcher->startApp(name), 1);
    QCOMPARE(launcher->getExistAppCount(name), 1);

    Helper other(QString::fromStdString(name));
    QCOMPARE(other.result(), 2);

    // Everything below the runtime folder is the user's alone.
    struct stat st;
    const QString folder = nameFolder("Self%2Emain");
    for (const QString &dir : {QFileInfo(folder).path(), folder}) {
        QCOMPARE(::lstat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }
    for (const QString &file : {QString(".lock"), QString::number(::getpid())}) {
        QCOMPARE(::lstat(QFile::encodeName(folder + "/" + file).constData(), &st), 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(st.st_mode & 077, 0u);
    }

    launcher->setAppMainExitFlag();
    QVERIFY(launcher->exitFlag());
    QVERIFY(!launcher->isRegistered());
    QCOMPARE(launcher->getExistAppCount(name), 1);
    QCOMPARE(launcher->startApp(""), 0);
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "LauncherTest.moc"
