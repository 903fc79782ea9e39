#include "NotificationManager.h"

#include "ETLLib.h"

void NotificationManager::post(const QString &title, const QString &text)
{
    m_items.append({QDateTime::currentDateTime(), title, text});
    while (m_items.size() > kCapacity)
        m_items.removeFirst();
    etlModuleTrace(6, "I:Notification", "%s: %s", qUtf8Printable(title), qUtf8Printable(text));
}
