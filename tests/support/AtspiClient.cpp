#include "AtspiClient.h"

#include "WaylandDesktop.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

namespace {
QString probe()
{
    return QStringLiteral(TARN_TEST_SUPPORT_DIR "/atspi_probe.py");
}
} // namespace

AtspiClient::AtspiClient(WaylandDesktop &desktop, const QString &application)
    : m_desktop(desktop), m_application(application)
{
}

QVector<QJsonObject> AtspiClient::tree()
{
    QByteArray out;
    QVector<QJsonObject> nodes;
    if (m_desktop.run("/usr/bin/python3", {probe(), "tree", m_application}, 20000, &out) != 0)
        return nodes;
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject node = QJsonDocument::fromJson(line).object();
        if (!node.isEmpty())
            nodes.append(node);
    }
    return nodes;
}

QJsonObject AtspiClient::find(const QString &role, const QString &name)
{
    for (const QJsonObject &node : tree()) {
        if (node.value("role").toString() == role && node.value("name").toString() == name)
            return node;
    }
    return QJsonObject();
}

bool AtspiClient::act(const QString &role, const QString &name, const QString &action)
{
    return m_desktop.run("/usr/bin/python3", {probe(), "act", m_application, role, name, action}, 20000) == 0;
}

bool AtspiClient::waitForApplication(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (m_desktop.run("/usr/bin/python3", {probe(), "tree", m_application}, 20000) == 0)
            return true;
        QThread::msleep(200);
    }
    return false;
}

bool AtspiClient::hasState(const QJsonObject &node, const QString &state)
{
    return node.value("states").toArray().contains(state);
}
