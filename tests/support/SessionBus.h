#pragma once

#include "TestProcess.h"

#include <QString>
#include <QTemporaryDir>

// A private D-Bus session bus for one test, on a socket in a folder of its own. Nothing a test starts
// may reach the user's bus or auto-launch one: without a private bus a process gets disabledAddress().
class SessionBus
{
public:
    SessionBus();
    ~SessionBus();

    // False (with the reason in error()) when the daemon does not come up.
    bool start();
    QString address() const { return m_address; }
    QString error() const { return m_error; }

    // An address that makes every D-Bus client fail at once instead of starting a bus of its own.
    static QString disabledAddress() { return QStringLiteral("disabled:"); }

    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;

private:
    QTemporaryDir m_dir;
    TestProcess m_daemon;
    QString m_address;
    QString m_error;
};
