#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <memory>
#include <vector>

class SessionProcess;

// A private Wayland session for system tests: a headless sway, a private session bus and, when asked,
// waybar as the panel that hosts StatusNotifierItems. sway refuses to run as root, so under root the
// whole session (and every program run in it) runs as `nobody` in a folder that user owns; otherwise
// it runs as the test's own user. Everything it starts is a TestProcess: it dies with the desktop, or
// with the test process.
class WaylandDesktop
{
public:
    WaylandDesktop();
    ~WaylandDesktop();

    // Starts sway (and waybar when `panel`); false with lastError() when it cannot.
    bool start(bool panel);
    // Why start() or a later call failed; also what a test prints when it skips.
    QString lastError() const { return m_error; }
    // The programs this session needs are installed (sway, swaymsg, dbus-daemon, waybar, grim, wtype).
    static bool toolsPresent(QString *missing);

    // Starts a program in the session as its user; its output goes to logFile. The pid, or -1.
    pid_t spawn(const QString &program, const QStringList &arguments,
                const QStringList &extraEnvironment = {}, const QString &logFile = QString());
    // Runs a program in the session and waits for it; its exit status, or -1 when it did not end within
    // timeoutMs (it is then killed) or died of a signal. Standard output lands in `output`.
    int run(const QString &program, const QStringList &arguments, int timeoutMs, QByteArray *output = nullptr,
            const QStringList &extraEnvironment = {});
    // Waits for a spawned program; its exit status, or -1 after timeoutMs or on a signal.
    int waitFor(pid_t pid, int timeoutMs);
    bool isRunning(pid_t pid);
    void terminate(pid_t pid);

    // Ends the panel, or the compositor, as when it crashes or its session ends.
    void stopPanel();
    void stopCompositor();

    // sway's view of the window with this app_id: focused, urgent, visible, workspace; empty when none.
    QJsonObject window(const QString &appId);
    bool swaymsg(const QStringList &arguments);
    // Writes a file below the session's home, owned by the session's user.
    bool writeHomeFile(const QString &relativePath, const QByteArray &content);

    QString home() const { return m_base + "/home"; }
    QString runtimeDir() const { return m_base + "/run"; }
    QString dataHome() const { return home() + "/.local/share"; }
    QString configHome() const { return home() + "/.config"; }
    QStringList environment() const;
    // The session's user can run this program (a build below a private home folder is out of reach).
    bool canExecute(const QString &program);

    WaylandDesktop(const WaylandDesktop &) = delete;
    WaylandDesktop &operator=(const WaylandDesktop &) = delete;

private:
    SessionProcess *find(pid_t pid) const;
    bool makeFolder(const QString &path);
    bool waitForFile(const QString &path, int timeoutMs);

    pid_t m_compositor = -1;
    pid_t m_panel = -1;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QString m_base;
    QString m_error;
    std::vector<std::unique_ptr<SessionProcess>> m_children;
};
