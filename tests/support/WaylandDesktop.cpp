#include "WaylandDesktop.h"

#include "SessionProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// A node of sway's tree with the app_id, and the workspace it sits on.
bool findView(const QJsonObject &node, const QString &appId, const QString &workspace, QJsonObject *found)
{
    const QString here =
        node.value("type").toString() == "workspace" ? node.value("name").toString() : workspace;
    if (node.value("app_id").toString() == appId) {
        *found = node;
        found->insert("workspace", here);
        return true;
    }
    for (const char *key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue &child : node.value(key).toArray()) {
            if (findView(child.toObject(), appId, here, found))
                return true;
        }
    }
    return false;
}

} // namespace

WaylandDesktop::WaylandDesktop() = default;

WaylandDesktop::~WaylandDesktop()
{
    // Last started first: the programs before the panel, the panel before the compositor and the bus.
    while (!m_children.empty()) {
        m_children.back()->stop();
        m_children.pop_back();
    }
    if (!m_base.isEmpty())
        QDir(m_base).removeRecursively();
}

SessionProcess *WaylandDesktop::find(pid_t pid) const
{
    for (const auto &child : m_children) {
        if (child->processId() == pid)
            return child.get();
    }
    return nullptr;
}

bool WaylandDesktop::toolsPresent(QString *missing)
{
    QStringList absent;
    for (const char *tool : {"sway", "swaymsg", "dbus-daemon", "waybar", "grim", "wtype"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            absent << QString::fromLatin1(tool);
    }
    if (missing)
        *missing = absent.join(' ');
    return absent.isEmpty();
}

bool WaylandDesktop::makeFolder(const QString &path)
{
    const QByteArray native = path.toLocal8Bit();
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::chown(native.constData(), m_uid, m_gid) == 0 && ::chmod(native.constData(), 0700) == 0;
}

bool WaylandDesktop::waitForFile(const QString &path, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(path)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QStringList WaylandDesktop::environment() const
{
    QStringList env = {"HOME=" + home(),
                       "XDG_RUNTIME_DIR=" + runtimeDir(),
                       "XDG_CONFIG_HOME=" + configHome(),
                       "XDG_DATA_HOME=" + dataHome(),
                       "XDG_CACHE_HOME=" + home() + "/.cache",
                       "XDG_SESSION_TYPE=wayland",
                       "WAYLAND_DISPLAY=wayland-1",
                       "QT_QPA_PLATFORM=wayland",
                       "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtimeDir() + "/bus",
                       "PATH=/usr/local/bin:/usr/bin:/bin",
                       "LANG=C.UTF-8"};
    const QDir run(runtimeDir());
    const QStringList ipc = run.entryList({"sway-ipc.*.sock"}, QDir::System);
    if (!ipc.isEmpty())
        env << "SWAYSOCK=" + runtimeDir() + "/" + ipc.first();
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name))
            env << QString::fromLatin1(name) + "=" + qEnvironmentVariable(name);
    }
    return env;
}

bool WaylandDesktop::start(bool panel)
{
    m_uid = ::geteuid() == 0 ? kNobody : ::geteuid();
    m_gid = ::geteuid() == 0 ? kNogroup : ::getegid();
    QByteArray base = QDir::tempPath().toLocal8Bit() + "/tarn-wayland-XXXXXX";
    if (!::mkdtemp(base.data())) {
        m_error = QStringLiteral("mkdtemp: %1").arg(strerror(errno));
        return false;
    }
    m_base = QString::fromLocal8Bit(base);
    for (const QString &folder : {m_base, home(), runtimeDir(), configHome(), home() + "/.local", dataHome(),
                                  home() + "/.cache", configHome() + "/waybar"}) {
        if (!makeFolder(folder)) {
            m_error = QStringLiteral("cannot make %1 for uid %2").arg(folder).arg(m_uid);
            return false;
        }
    }
    // Activation is given focus unless a test asks for the other policy.
    if (!writeHomeFile(".config/sway/config", "xwayland disable\n"
                                              "output HEADLESS-1 resolution 1280x800\n"
                                              "focus_on_window_activation focus\n"))
        return false;
    const QStringList wlr = {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                             "WLR_HEADLESS_OUTPUTS=1"};
    m_compositor = spawn("sway", {"-c", configHome() + "/sway/config"}, wlr, m_base + "/sway.log");
    if (m_compositor < 0)
        return false;
    if (spawn("dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + runtimeDir() + "/bus"}, {},
              m_base + "/dbus.log") < 0)
        return false;
    if (!waitForFile(runtimeDir() + "/wayland-1", 15000) || !waitForFile(runtimeDir() + "/bus", 15000)) {
        m_error = QStringLiteral("sway or the session bus did not come up (see %1)").arg(m_base);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (QDir(runtimeDir()).entryList({"sway-ipc.*.sock"}, QDir::System).isEmpty() &&
           timer.elapsed() < 10000)
        QThread::msleep(20);
    if (!panel)
        return true;
    if (!writeHomeFile(".config/waybar/config", R"({"layer": "top", "height": 30, "modules-right": ["tray"],)"
                                                R"( "tray": {"icon-size": 20, "spacing": 4}})"))
        return false;
    m_panel = spawn("waybar", {"-c", configHome() + "/waybar/config"}, {}, m_base + "/waybar.log");
    if (m_panel < 0)
        return false;
    // The panel hosts items once it owns the watcher's name.
    timer.restart();
    while (timer.elapsed() < 15000) {
        QByteArray out;
        if (run("busctl", {"--user", "status", "org.kde.StatusNotifierWatcher"}, 5000, &out) == 0)
            return true;
        QThread::msleep(50);
    }
    m_error =
        QStringLiteral("waybar did not register a StatusNotifierWatcher (see %1/waybar.log)").arg(m_base);
    return false;
}

bool WaylandDesktop::writeHomeFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = home() + "/" + relativePath;
    QStringList parts = relativePath.split('/');
    parts.removeLast();
    QString folder = home();
    for (const QString &part : parts) {
        folder += "/" + part;
        if (!makeFolder(folder)) {
            m_error = QStringLiteral("cannot make %1").arg(folder);
            return false;
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        m_error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    file.close();
    return ::chown(path.toLocal8Bit().constData(), m_uid, m_gid) == 0;
}

pid_t WaylandDesktop::spawn(const QString &program, const QStringList &arguments,
                            const QStringList &extraEnvironment, const QString &logFile)
{
    const QString path = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        m_error = QStringLiteral("%1 is not installed").arg(program);
        return -1;
    }
    std::unique_ptr<SessionProcess> process(new SessionProcess(m_uid, m_gid));
    process->setProgram(path);
    process->setArguments(arguments);
    process->setEnvironment(environment() + extraEnvironment);
    process->setWorkingDirectory(home());
    process->setStandardInputFile(QProcess::nullDevice());
    const QString log = logFile.isEmpty() ? QProcess::nullDevice() : logFile;
    process->setStandardOutputFile(log, QIODevice::Append);
    process->setStandardErrorFile(log, QIODevice::Append);
    process->start();
    if (!process->waitForStarted(10000)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, process->errorString());
        return -1;
    }
    const pid_t pid = static_cast<pid_t>(process->processId());
    m_children.push_back(std::move(process));
    return pid;
}

int WaylandDesktop::waitFor(pid_t pid, int timeoutMs)
{
    SessionProcess *process = find(pid);
    if (!process)
        return -1;
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(timeoutMs))
        return -1;
    const int status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (it->get() == process) {
            (*it)->stop();
            m_children.erase(it);
            break;
        }
    }
    return status;
}

bool WaylandDesktop::isRunning(pid_t pid)
{
    SessionProcess *process = find(pid);
    return process && process->state() != QProcess::NotRunning && !process->waitForFinished(0);
}

void WaylandDesktop::terminate(pid_t pid)
{
    SessionProcess *process = find(pid);
    if (!process)
        return;
    process->stop();
    waitFor(pid, 5000);
}

int WaylandDesktop::run(const QString &program, const QStringList &arguments, int timeoutMs,
                        QByteArray *output, const QStringList &extraEnvironment)
{
    static int serial = 0;
    const QString log = QStringLiteral("%1/run-%2.out").arg(m_base).arg(++serial);
    const pid_t pid = spawn(program, arguments, extraEnvironment, log);
    if (pid < 0)
        return -1;
    int status = waitFor(pid, timeoutMs);
    if (status == -1 && isRunning(pid)) {
        terminate(pid);
        status = -1;
    }
    QFile file(log);
    if (output && file.open(QIODevice::ReadOnly))
        *output = file.readAll();
    QFile::remove(log);
    return status;
}

void WaylandDesktop::stopPanel()
{
    if (m_panel > 0)
        terminate(m_panel);
    m_panel = -1;
}

void WaylandDesktop::stopCompositor()
{
    if (m_compositor > 0)
        terminate(m_compositor);
    m_compositor = -1;
}

bool WaylandDesktop::swaymsg(const QStringList &arguments)
{
    return run("swaymsg", arguments, 10000) == 0;
}

QJsonObject WaylandDesktop::window(const QString &appId)
{
    QByteArray out;
    if (run("swaymsg", {"-t", "get_tree"}, 10000, &out) != 0)
        return QJsonObject();
    QJsonObject found;
    findView(QJsonDocument::fromJson(out).object(), appId, QString(), &found);
    return found;
}

bool WaylandDesktop::canExecute(const QString &program)
{
    return run("/usr/bin/test", {"-x", program}, 5000) == 0;
}
