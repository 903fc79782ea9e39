#pragma once

#include "TestProcess.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

// A private X server (Xvfb, on a display number it picks itself) with, on request, an XEmbed tray host
// (trayer). Both die with the test.
class XDesktop
{
public:
    enum TrayHost
    {
        NoTrayHost,
        XEmbedTrayHost
    };

    explicit XDesktop(TrayHost host = XEmbedTrayHost, const QSize &screen = QSize(1280, 1024));
    ~XDesktop();

    // False (with the reason in error()) when the server or the tray host does not come up.
    bool start();
    void stop();
    QString display() const { return m_display; }
    QString error() const { return m_error; }

    // Runs an X client (xdotool, xwininfo, import) on this display; its standard output, empty when
    // it failed or did not end within ms.
    QByteArray run(const QString &program, const QStringList &arguments, int ms = 10000) const;
    // Ids of the windows `xdotool search <arguments>` finds (by name, class or process).
    QStringList windows(const QStringList &searchArguments) const;
    // Where a viewable window of that class sits inside another client's window, as a docked tray
    // icon does; null when there is none.
    QRect embeddedWindow(const QString &windowClass) const;
    // Moves the pointer there and clicks: real input, as a user gives it.
    void click(const QPoint &at, int button = 1) const;

    XDesktop(const XDesktop &) = delete;
    XDesktop &operator=(const XDesktop &) = delete;

private:
    bool startTrayHost();

    TrayHost m_host;
    QSize m_screen;
    TestProcess m_server;
    TestProcess m_trayHost;
    QString m_display;
    QString m_error;
};
