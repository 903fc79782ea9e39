#include "XServer.h"

#include <QElapsedTimer>
#include <QThread>

XServer::XServer() = default;

XServer::~XServer()
{
    stop();
}

bool XServer::start()
{
    // -displayfd lets the server pick a free display number and tell us which.
    m_xvfb.setProgram(QStringLiteral("Xvfb"));
    m_xvfb.setArguments({"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    m_xvfb.start();
    if (!m_xvfb.waitForStarted(5000)) {
        m_error = QStringLiteral("Xvfb does not start: ") + m_xvfb.errorString();
        return false;
    }
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.contains('\n') && clock.elapsed() < 15000) {
        m_xvfb.waitForReadyRead(200);
        number += m_xvfb.readAllStandardOutput();
        if (m_xvfb.state() != QProcess::Running) {
            m_error = QStringLiteral("Xvfb ended: ") + QString::fromLocal8Bit(m_xvfb.readAllStandardError());
            return false;
        }
    }
    if (!number.contains('\n')) {
        m_error = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    m_trayer.setProcessEnvironment(env);
    m_trayer.setProgram(QStringLiteral("trayer"));
    m_trayer.setArguments({"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200"});
    m_trayer.start();
    if (!m_trayer.waitForStarted(5000)) {
        m_error = QStringLiteral("trayer does not start: ") + m_trayer.errorString();
        return false;
    }
    // The tray host owns the system-tray selection once its window exists.
    clock.restart();
    while (clock.elapsed() < 10000) {
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral("xdotool"), {"search", "--class", "trayer"});
        probe.waitForFinished(3000);
        if (probe.exitCode() == 0 && !probe.readAllStandardOutput().trimmed().isEmpty()) {
            QThread::msleep(200);
            return true;
        }
        QThread::msleep(100);
    }
    m_error = QStringLiteral("trayer shows no window");
    return false;
}

void XServer::stop()
{
    for (QProcess *process : {&m_trayer, &m_xvfb}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
    }
}
