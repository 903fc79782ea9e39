#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <vector>

// A private X server, tray host and session bus for tests that need a real desktop. Everything it
// starts is ended by its own process id when it goes away.
class PrivateDesktop
{
public:
    PrivateDesktop() = default;
    ~PrivateDesktop();

    // Starts Xvfb on a free display and points DISPLAY at it.
    bool startDisplay();
    // Starts an XEmbed tray host on the display.
    bool startTrayHost();
    // Starts a private session bus and points DBUS_SESSION_BUS_ADDRESS at it.
    bool startSessionBus();
    // Makes sure nothing reaches the user's session bus.
    static void blockSessionBus();

    // Starts a program with the given arguments; standard output goes to outputFile when given.
    pid_t spawn(const QString &program, const QStringList &arguments, const QString &outputFile = QString());

    QString display() const { return m_display; }
    QString lastError() const { return m_error; }

    PrivateDesktop(const PrivateDesktop &) = delete;
    PrivateDesktop &operator=(const PrivateDesktop &) = delete;

private:
    // Runs a program and reads one line it writes to the descriptor given on its command line.
    pid_t spawnReadingLine(const QString &program, QStringList arguments, const QString &fdPlaceholder,
                           QByteArray *line);

    std::vector<pid_t> m_children;
    QString m_display;
    QString m_error;
};
