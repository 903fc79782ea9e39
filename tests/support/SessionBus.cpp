#include "SessionBus.h"

SessionBus::SessionBus() = default;

SessionBus::~SessionBus()
{
    m_daemon.stop();
}

bool SessionBus::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no folder for the bus socket");
        return false;
    }
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--session"),
                           QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus")),
                           QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                           QStringLiteral("--print-address")});
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start();
    if (!m_daemon.waitForStarted(10000)) {
        m_error = QStringLiteral("dbus-daemon does not start: ") + m_daemon.errorString();
        return false;
    }
    // The address is printed once the socket listens.
    m_address = QString::fromLatin1(m_daemon.readOutputLine(15000));
    if (m_address.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon gave no address");
        return false;
    }
    return true;
}
