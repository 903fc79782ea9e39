#include "XDesktop.h"

#include "Wait.h"

#include <QRegularExpression>

XDesktop::XDesktop(TrayHost host, const QSize &screen) : m_host(host), m_screen(screen) {}

XDesktop::~XDesktop()
{
    stop();
}

void XDesktop::stop()
{
    m_trayHost.stop();
    m_server.stop();
}

bool XDesktop::start()
{
    // -displayfd makes the server pick a free display number and write it once it accepts clients.
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"),
                           QStringLiteral("%1x%2x24").arg(m_screen.width()).arg(m_screen.height()),
                           QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start();
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("Xvfb does not start: ") + m_server.errorString();
        return false;
    }
    const QByteArray number = m_server.readOutputLine(20000);
    if (number.isEmpty()) {
        m_error = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number);
    return m_host == NoTrayHost || startTrayHost();
}

bool XDesktop::startTrayHost()
{
    // Icons docked before the host has mapped its panel may never show: wait for the panel. A host
    // that does not come up is replaced, a few times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_trayHost.setProcessEnvironment(env);
        m_trayHost.setProgram(QStringLiteral("trayer"));
        m_trayHost.setArguments({QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                 QStringLiteral("right"), QStringLiteral("--widthtype"),
                                 QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("32"),
                                 QStringLiteral("--SetDockType"), QStringLiteral("true")});
        m_trayHost.setStandardOutputFile(QProcess::nullDevice());
        m_trayHost.setStandardErrorFile(QProcess::nullDevice());
        m_trayHost.start();
        if (!m_trayHost.waitForStarted(10000)) {
            m_error = QStringLiteral("trayer does not start: ") + m_trayHost.errorString();
            return false;
        }
        if (Wait::until(
                [this] {
                    return m_trayHost.state() == QProcess::Running &&
                           run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                               .contains("\"panel\": (\"panel\" \"trayer\")");
                },
                10000)) {
            return true;
        }
        m_trayHost.stop();
    }
    m_error = QStringLiteral("the tray host did not map its panel");
    return false;
}

QByteArray XDesktop::run(const QString &program, const QStringList &arguments, int ms) const
{
    TestProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    client.setProcessEnvironment(env);
    client.setStandardErrorFile(QProcess::nullDevice());
    client.start(program, arguments);
    if (!client.waitForFinished(ms) || client.exitStatus() != QProcess::NormalExit) {
        return QByteArray();
    }
    return client.readAllStandardOutput();
}

QStringList XDesktop::windows(const QStringList &searchArguments) const
{
    return QString::fromLatin1(
               run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + searchArguments))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect XDesktop::embeddedWindow(const QString &windowClass) const
{
    // "<indent>0x<id> "<name>": ("<instance>" "<class>")  <w>x<h>+<x>+<y>  +<absx>+<absy>"; a top-level
    // client window is indented by five spaces below the root, an embedded one deeper.
    const QString tree = QString::fromLocal8Bit(
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}));
    const QRegularExpression line(
        QStringLiteral("^(\\s+)(0x[0-9a-f]+) \"[^\"]*\": \\(\"[^\"]*\" \"%1\"\\)\\s+"
                       "(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)")
            .arg(QRegularExpression::escape(windowClass)),
        QRegularExpression::MultilineOption);
    auto it = line.globalMatch(tree);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).size() <= 5) {
            continue;
        }
        if (!run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), m.captured(2)}).contains("IsViewable")) {
            continue;
        }
        return QRect(m.captured(5).toInt(), m.captured(6).toInt(), m.captured(3).toInt(),
                     m.captured(4).toInt());
    }
    return QRect();
}

void XDesktop::click(const QPoint &at, int button) const
{
    // --sync returns once the pointer is there, so the press lands where it is meant to. A click chained
    // to the move in one xdotool call may reach a docked icon before it has seen the pointer enter.
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                    QString::number(at.x()), QString::number(at.y())});
    run(QStringLiteral("xdotool"), {QStringLiteral("click"), QString::number(button)});
}
