#include "dskthread.h"

#include "chRuntimeRegistry.h"
#include "chThreadLocal.h"
#include "msgObject.h"

#include <cstdlib>
#include <cstring>

bool chIsSocketEvent()
{
    static const bool socketMode = [] {
        const char *mode = std::getenv("TARN_WAKEUP");
        return !(mode && std::strcmp(mode, "signal") == 0);
    }();
    return socketMode;
}

bool msgJoinMessageGroup(const char *group, chMessageHandler *handler, chMsgOperation operation)
{
    if (!group || !handler || !operation) {
        return false;
    }
    return chRuntimeRegistry::instance().join(group, handler->handlerId(), operation);
}

bool msgLeaveMessageGroup(const char *group, chMessageHandler *handler)
{
    if (!group || !handler) {
        return false;
    }
    return chRuntimeRegistry::instance().leave(group, handler->handlerId());
}

int msgBroadcastToGroup(const char *group, const msgObject &msg)
{
    if (!group) {
        return 0;
    }
    return chRuntimeRegistry::instance().broadcast(group, msg);
}

int msgBroadcastToGroup(const char *group, uint32_t message, uint32_t wParam, int64_t lParam)
{
    return msgBroadcastToGroup(group, msgObject(message, wParam, lParam));
}

bool msgPostToHandler(chMessageHandler *handler, chMsgOperation operation, const msgObject &msg)
{
    if (!handler) {
        return false;
    }
    return chRuntimeRegistry::instance().post(handler->handlerId(), chThreadQueue::ToHandler, operation, msg);
}

bool msgPostToThread(chThreadLocal *thread, const msgObject &msg)
{
    if (!thread) {
        return false;
    }
    return chRuntimeRegistry::instance().post(thread->handlerId(), chThreadQueue::ToThread, nullptr, msg);
}
