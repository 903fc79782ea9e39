#include "NotificationMgr.h"

#include "ModuleTrace.h"
#include "NotificationManager.h"

#include <memory>

namespace {
std::unique_ptr<NotificationManager> &manager()
{
    static std::unique_ptr<NotificationManager> instance;
    return instance;
}
} // namespace

bool NotificationMgr_Init()
{
    MODULE_TRACE();
    if (!manager())
        manager() = std::make_unique<NotificationManager>();
    return true;
}

void NotificationMgr_UnInit()
{
    MODULE_TRACE();
    manager().reset();
}

bool NotificationMgr_Post(const QString &title, const QString &text)
{
    if (!manager())
        return false;
    manager()->post(title, text);
    return true;
}

int NotificationMgr_Count()
{
    return manager() ? manager()->recent().size() : 0;
}
