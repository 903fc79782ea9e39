#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

class WaylandDesktop;

// An assistive-technology client: what a screen reader sees of an application, read over AT-SPI by a
// separate process (pyatspi) running as the session's user.
class AtspiClient
{
public:
    AtspiClient(WaylandDesktop &desktop, const QString &application);

    // Every node of the application's tree, in document order: role, name, states, actions,
    // labelledBy, depth. Empty when the application is not on the accessibility bus.
    QVector<QJsonObject> tree();
    // The first node with this role and name in a fresh tree; empty when there is none.
    QJsonObject find(const QString &role, const QString &name);
    // Runs the node's action by name, as a screen reader's command would.
    bool act(const QString &role, const QString &name, const QString &action);
    // Waits until the application is on the bus.
    bool waitForApplication(int timeoutMs);

    static bool hasState(const QJsonObject &node, const QString &state);

private:
    WaylandDesktop &m_desktop;
    QString m_application;
};
