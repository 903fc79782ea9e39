#pragma once

#include <QProcess>
#include <QString>

// A private X server (Xvfb) with a tray host (trayer) for tests that need a real display.
class XServer
{
public:
    XServer();
    ~XServer();

    // Starts both; false (with the reason in error()) when either cannot run.
    bool start();
    void stop();

    QString display() const { return m_display; }
    QString error() const { return m_error; }

private:
    QProcess m_xvfb;
    QProcess m_trayer;
    QString m_display;
    QString m_error;
};
