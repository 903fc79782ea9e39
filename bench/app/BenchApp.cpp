// Benchmarks of the application core, each compared side by side with its plain Qt counterpart:
//   notify_overhead        TarnApplication::notify against QApplication::notify, 1,000,000 sendEvent
//   theme_reload           the theme reload against a bare setStyleSheet of the same 200 KB sheet
//   startup_teardown_wall  the real program (start, first loop turn, quit, exit) against a minimal
//   startup_peak_rss       QApplication + QMainWindow + QSystemTrayIcon program, under a private Xvfb
//   idle_wakeups_per_second  context switches of all threads of the program started with "autorun"
//                          (window hidden, tray only) and left alone; a value, the heartbeat's one a
//                          second being the floor
// Figures are medians of several interleaved runs (start-up: of the ratio within each round). Child modes run
// one measurement in a fresh process, because a process has one application object.
#include "ETLLib.h"
#include "PrivateHome.h"
#include "TarnApplication.h"
#include "TarnDesktopApp.h"
#include "TestProcess.h"
#include "UICommon.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

extern char **environ;

namespace {

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// --- notify_overhead --------------------------------------------------------------------------------

template <typename App> int notifyChild(int argc, char **argv)
{
    App app(argc, argv);
    // An unnamed receiver, like most objects events go to.
    QObject receiver;
    QEvent event(QEvent::User);
    for (int i = 0; i < 10000; ++i) {
        QCoreApplication::sendEvent(&receiver, &event);
    }
    // The million calls run as ten slices and the fastest slice counts: on a shared machine other
    // work only ever adds time, and both sides are measured the same way.
    qint64 fastest = std::numeric_limits<qint64>::max();
    for (int slice = 0; slice < 10; ++slice) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100000; ++i) {
            QCoreApplication::sendEvent(&receiver, &event);
        }
        fastest = std::min(fastest, clock.nsecsElapsed());
    }
    std::printf("%lld\n", static_cast<long long>(fastest) * 10);
    return 0;
}

double runChildFigure(const QString &mode, const QStringList &env = {})
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARN_BENCH_MODE"), mode);
    for (const QString &pair : env) {
        environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
    }
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    if (!child.waitForFinished(300000) || child.exitCode() != 0) {
        std::fprintf(stderr, "child %s failed: %s\n", qPrintable(mode),
                     child.readAllStandardError().constData());
        return 0.0;
    }
    return child.readAllStandardOutput().trimmed().toDouble();
}

// --- theme_reload -----------------------------------------------------------------------------------

QByteArray benchSheet()
{
    // About 200 KB with 1,000 image references among ordinary rules.
    QByteArray sheet;
    int n = 0;
    while (sheet.size() < 200 * 1024) {
        if (n < 1000) {
            sheet += "QPushButton#b" + QByteArray::number(n) + " { image: url(\"/common/icon" +
                     QByteArray::number(n) + ".png\"); border: 1px solid #" +
                     QByteArray::number(0x100000 + n, 16) + "; }\n";
        } else {
            sheet += "QLabel#l" + QByteArray::number(n) + " { color: #" +
                     QByteArray::number(0x100000 + n, 16) +
                     "; padding: 2px 4px; margin: 1px; font-size: 12px; background-color: #fafafa; }\n";
        }
        ++n;
    }
    return sheet;
}

QWidget *benchWindow()
{
    auto *window = new QWidget;
    auto *layout = new QVBoxLayout(window);
    for (int i = 0; i < 40; ++i) {
        auto *button = new QPushButton(QStringLiteral("button %1").arg(i), window);
        button->setObjectName(QStringLiteral("b%1").arg(i));
        layout->addWidget(button);
        auto *label = new QLabel(QStringLiteral("label %1").arg(i), window);
        label->setObjectName(QStringLiteral("l%1").arg(1000 + i));
        layout->addWidget(label);
    }
    window->show();
    return window;
}

int themeChild(int argc, char **argv)
{
    QTemporaryDir root;
    const std::string scale = dpiSize2String(getCurrentDpiSize());
    QDir().mkpath(root.path() + "/resource/theme/" + QString::fromStdString(scale));
    QFile qss(root.path() + "/resource/theme/" + QString::fromStdString(scale) + "/bench.qss");
    qss.open(QIODevice::WriteOnly);
    const QByteArray sheet = benchSheet();
    qss.write(sheet);
    qss.close();
    etlOverrideAppRootPath(root.path().toStdString());
    const QString rewritten = TarnDesktopApp::rewriteImageReferences(
        QString::fromUtf8(sheet), root.path() + "/resource/drawable/" + QString::fromStdString(scale));

    int appArgc = 1;
    TarnDesktopApp app(appArgc, argv);
    (void)argc;
    QWidget *window = benchWindow();
    QCoreApplication::processEvents();

    std::vector<double> reload;
    std::vector<double> bare;
    for (int round = 0; round < 9; ++round) {
        // Clearing first makes both variants parse and polish from scratch.
        qApp->setStyleSheet(QString());
        QElapsedTimer clock;
        clock.start();
        app.slotReloadTheme();
        reload.push_back(double(clock.nsecsElapsed()));

        qApp->setStyleSheet(QString());
        clock.restart();
        qApp->setStyleSheet(rewritten);
        bare.push_back(double(clock.nsecsElapsed()));
    }
    delete window;
    std::printf("%.6f\n", median(reload) / median(bare));
    return 0;
}

// --- startup ----------------------------------------------------------------------------------------

// One run of a program to its end.
struct Run
{
    double wallMs = 0;
    double processorMs = 0;
    double peakKiB = 0;
};

// Runs a program to its end. The end is seen the moment it happens (a pidfd becomes readable), so the
// wall time carries no polling step.
bool measure(const QString &program, const QStringList &envPairs, Run *run)
{
    // getenv() takes the first entry of a name: the given pairs replace the inherited ones instead of
    // following them.
    std::vector<std::string> envStorage;
    for (char **e = environ; *e; ++e) {
        const QString inherited = QString::fromLocal8Bit(*e);
        const QString name = inherited.section('=', 0, 0) + '=';
        if (std::none_of(envPairs.begin(), envPairs.end(),
                         [&name](const QString &pair) { return pair.startsWith(name); })) {
            envStorage.emplace_back(*e);
        }
    }
    for (const QString &pair : envPairs) {
        envStorage.push_back(pair.toStdString());
    }
    std::vector<char *> envp;
    for (std::string &e : envStorage) {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);
    std::string path = program.toStdString();
    char *args[] = {&path[0], nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, args, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    struct rusage usage = {};
    // A run that does not end within a minute is stopped and not counted.
    pid_t ended = 0;
    while ((ended = wait4(pid, &status, WNOHANG, &usage)) == 0 && clock.elapsed() < 60000) {
        if (pidFd >= 0) {
            struct pollfd end = {pidFd, POLLIN, 0};
            poll(&end, 1, static_cast<int>(std::max<qint64>(1, 60000 - clock.elapsed())));
        } else {
            QThread::msleep(1);
        }
    }
    const double wallMs = double(clock.nsecsElapsed()) / 1e6;
    if (pidFd >= 0) {
        close(pidFd);
    }
    if (ended == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        std::fprintf(stderr, "%s did not end within a minute\n", path.c_str());
        return false;
    }
    if (ended != pid) {
        return false;
    }
    run->wallMs = wallMs;
    run->processorMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run->peakKiB = double(usage.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s ended with status %d\n", path.c_str(), status);
    }
    return true;
}

double quartile(std::vector<double> values, int which)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[(values.size() - 1) * static_cast<size_t>(which) / 4];
}

void startupFigures(const QString &root, const QString &minimal)
{
    if (!QFile::exists(root + "/libtestability.so")) {
        std::fprintf(stderr,
                     "the test library is not beside the program (build with tests and TARN_TESTABILITY)\n");
        std::printf("startup_teardown_wall: ratio=nan goal<=1.3\nstartup_peak_rss: ratio=nan goal<=1.3\n");
        return;
    }
    XDesktop display;
    if (!display.start()) {
        std::fprintf(stderr, "no private X display: %s\n", qPrintable(display.error()));
        std::printf("startup_teardown_wall: ratio=nan goal<=1.3\nstartup_peak_rss: ratio=nan goal<=1.3\n");
        return;
    }
    const PrivateHome home;
    const QStringList env = {
        "DISPLAY=" + display.display(),         "QT_QPA_PLATFORM=xcb",
        "DBUS_SESSION_BUS_ADDRESS=disabled:",   "HOME=" + home.path(),
        "XDG_CONFIG_HOME=" + home.configDir(),  "XDG_DATA_HOME=" + home.dataDir(),
        "XDG_RUNTIME_DIR=" + home.runtimeDir(), "TARN_TESTABILITY_ACTION=quit-after-ms=0"};

    // The minimal program once told to draw without OpenGL as the real program does, which the figures
    // compare against, and once as the plain Qt program it is, for information.
    QStringList rasterEnv = env;
    rasterEnv << QStringLiteral("TARN_MINIMAL_RASTER=1");
    struct Contender
    {
        QString program;
        QStringList env;
        std::vector<Run> runs;
    };
    Contender contenders[] = {
        {root + "/tarn-desktop", env, {}}, {minimal, rasterEnv, {}}, {minimal, env, {}}};
    Run run;
    // One unmeasured run each warms the file cache.
    for (Contender &c : contenders) {
        measure(c.program, c.env, &run);
    }
    // On a shared machine the same program's wall time swings by a factor of two between minutes, so
    // each round runs the three back to back, in an order that changes from round to round, and a
    // figure is the median over the rounds of the ratio within a round.
    const int rounds = 21;
    std::vector<double> wallRatio, rssRatio, processorRatio, plainWallRatio;
    for (int round = 0; round < rounds; ++round) {
        Run within[3];
        bool complete = true;
        for (int k = 0; k < 3; ++k) {
            const int which = (round + k) % 3;
            complete = measure(contenders[which].program, contenders[which].env, &within[which]) && complete;
        }
        if (!complete) {
            continue;
        }
        for (int which = 0; which < 3; ++which) {
            contenders[which].runs.push_back(within[which]);
        }
        wallRatio.push_back(within[0].wallMs / within[1].wallMs);
        rssRatio.push_back(within[0].peakKiB / within[1].peakKiB);
        processorRatio.push_back(within[0].processorMs / within[1].processorMs);
        plainWallRatio.push_back(within[0].wallMs / within[2].wallMs);
    }
    const auto medianOf = [](const std::vector<Run> &runs, double Run::*field) {
        std::vector<double> values;
        for (const Run &r : runs) {
            values.push_back(r.*field);
        }
        return median(values);
    };
    // The figures compare like for like: the program draws without OpenGL, and so does the minimal
    // program here. The minimal program as plain Qt draws it (loading the GL driver) is for information.
    std::printf("startup_teardown_wall: ratio=%.3f goal<=1.3\n", median(wallRatio));
    std::printf("startup_peak_rss: ratio=%.3f goal<=1.3\n", median(rssRatio));
    std::fprintf(stderr,
                 "startup over %zu rounds: wall ms program %.1f, minimal without OpenGL %.1f, plain minimal "
                 "%.1f; wall ratio quartiles %.3f %.3f %.3f; processor ms %.1f vs %.1f (ratio %.3f); "
                 "against the plain minimal %.3f; peak RSS KiB %.0f vs %.0f, plain minimal %.0f\n",
                 wallRatio.size(), medianOf(contenders[0].runs, &Run::wallMs),
                 medianOf(contenders[1].runs, &Run::wallMs), medianOf(contenders[2].runs, &Run::wallMs),
                 quartile(wallRatio, 1), quartile(wallRatio, 2), quartile(wallRatio, 3),
                 medianOf(contenders[0].runs, &Run::processorMs),
                 medianOf(contenders[1].runs, &Run::processorMs), median(processorRatio),
                 median(plainWallRatio), medianOf(contenders[0].runs, &Run::peakKiB),
                 medianOf(contenders[1].runs, &Run::peakKiB), medianOf(contenders[2].runs, &Run::peakKiB));
}

// --- idle_wakeups_per_second ------------------------------------------------------------------------

// Voluntary and involuntary context switches of every thread of a process, by thread id.
std::map<int, long> threadSwitches(pid_t pid, std::map<int, QString> *names = nullptr)
{
    std::map<int, long> switches;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly)) {
            continue;
        }
        long total = 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:")) {
                total += line.mid(line.indexOf(':') + 1).trimmed().toLong();
            } else if (names && line.startsWith("Name:")) {
                (*names)[task.toInt()] = QString::fromUtf8(line.mid(5).trimmed());
            }
        }
        switches[task.toInt()] = total;
    }
    return switches;
}

void idleFigure(const QString &root)
{
    const char *nan = "idle_wakeups_per_second: value=nan goal<=1.2\n";
    if (!QFile::exists(root + "/libtestability.so")) {
        std::fprintf(stderr, "the test library is not beside the program (build with tests)\n");
        std::printf("%s", nan);
        return;
    }
    XDesktop display;
    if (!display.start()) {
        std::fprintf(stderr, "no private X display: %s\n", qPrintable(display.error()));
        std::printf("%s", nan);
        return;
    }
    const PrivateHome home;
    const QString ready = home.path("testability.txt");
    TestProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    home.applyTo(&environment);
    environment.insert("DISPLAY", display.display());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    environment.insert("TARN_TESTABILITY_ACTION", "ready");
    environment.insert("TARN_TESTABILITY_OUT", ready);
    program.setProcessEnvironment(environment);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(root + "/tarn-desktop", {QStringLiteral("autorun")});
    if (!program.waitForStarted(10000)) {
        std::fprintf(stderr, "the program does not start: %s\n", qPrintable(program.errorString()));
        std::printf("%s", nan);
        return;
    }
    const pid_t pid = static_cast<pid_t>(program.processId());
    QElapsedTimer clock;
    clock.start();
    auto isReady = [&] {
        QFile file(ready);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("ready");
    };
    if (!Wait::until([&] { return isReady() || program.state() != QProcess::Running; }, 60000) ||
        !isReady()) {
        std::fprintf(stderr, "the program did not reach its event loop\n");
        std::printf("%s", nan);
        return;
    }
    // The tail of start-up (the tray icon's embedding, image workers, the tick counter's last periods)
    // is over well within this.
    QThread::sleep(3);

    // Sampled every half second, so a thread that ends within the interval loses at most its last half
    // second; a thread that starts counts from zero.
    const int seconds = 10;
    std::map<int, QString> names;
    std::map<int, long> previous = threadSwitches(pid, &names);
    std::map<int, long> perThread;
    long total = 0;
    clock.restart();
    while (clock.elapsed() < seconds * 1000) {
        QThread::msleep(500);
        const std::map<int, long> now = threadSwitches(pid, &names);
        for (const auto &thread : now) {
            const auto before = previous.find(thread.first);
            const long delta = thread.second - (before == previous.end() ? 0 : before->second);
            if (delta > 0) {
                perThread[thread.first] += delta;
                total += delta;
            }
        }
        previous = now;
    }
    const double measuredSeconds = clock.elapsed() / 1000.0;
    program.stop();
    std::printf("idle_wakeups_per_second: value=%.2f goal<=1.2\n", total / measuredSeconds);
    std::fprintf(stderr, "idle wake-ups in %.1f s:", measuredSeconds);
    for (const auto &thread : perThread) {
        std::fprintf(stderr, " %s %ld;", qPrintable(names[thread.first]), thread.second);
    }
    std::fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = qgetenv("TARN_BENCH_MODE");
    if (mode == "notify-tarn") {
        return notifyChild<TarnApplication>(argc, argv);
    }
    if (mode == "notify-plain") {
        return notifyChild<QApplication>(argc, argv);
    }
    if (mode == "theme") {
        etlSetAppDocPath(getAppDocPath());
        return themeChild(argc, argv);
    }

    QCoreApplication app(argc, argv);
    // A group name as the argument runs that group alone: notify, theme, startup or idle.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QStringList offscreen = {"QT_QPA_PLATFORM=offscreen"};

    if (only.isEmpty() || only == QLatin1String("notify")) {
        // Each process lands at other addresses, which moves a dispatch by several nanoseconds either
        // way; many short processes a side keep the medians steady.
        std::vector<double> tarn, plain;
        for (int run = 0; run < 21; ++run) {
            tarn.push_back(runChildFigure(QStringLiteral("notify-tarn"), offscreen));
            plain.push_back(runChildFigure(QStringLiteral("notify-plain"), offscreen));
        }
        std::printf("notify_overhead: ratio=%.3f goal<=1.3\n", median(tarn) / median(plain));
        std::fprintf(stderr, "notify ns per dispatch: TarnApplication %.1f, QApplication %.1f\n",
                     median(tarn) / 1e6, median(plain) / 1e6);
        std::fflush(stdout);
    }

    if (only.isEmpty() || only == QLatin1String("theme")) {
        // The theme child keeps its trace in a private folder.
        QTemporaryDir data;
        std::vector<double> theme;
        for (int run = 0; run < 3; ++run) {
            theme.push_back(runChildFigure(QStringLiteral("theme"),
                                           {"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + data.path(),
                                            "XDG_CONFIG_HOME=" + data.path()}));
        }
        std::printf("theme_reload: ratio=%.3f goal<=1.1\n", median(theme));
        std::fflush(stdout);
    }

    if (only.isEmpty() || only == QLatin1String("startup")) {
        startupFigures(QStringLiteral(TARN_ROOT_DIR), QStringLiteral(TARN_MINIMAL_PROGRAM));
        std::fflush(stdout);
    }

    if (only.isEmpty() || only == QLatin1String("idle")) {
        idleFigure(QStringLiteral(TARN_ROOT_DIR));
    }
    return 0;
}
