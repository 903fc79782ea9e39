#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// Keeps the most recent notifications of the running program, newest last.
class NotificationManager
{
public:
    struct Notification
    {
        QDateTime when;
        QString title;
        QString text;
    };

    static const int kCapacity = 50;

    void post(const QString &title, const QString &text);
    QList<Notification> recent() const { return m_items; }
    void clear() { m_items.clear(); }

private:
    QList<Notification> m_items;
};
