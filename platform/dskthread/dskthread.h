#pragma once

// Messaging entry points of the message-thread runtime.

#include "chMessageHandler.h"

#include <cstdint>
#include <string>

class chThreadLocal;
class msgObject;

// Messages above this count per thread queue are refused (result false, one warning trace).
constexpr uint32_t CH_QUEUE_LIMIT = 4u * 1024u * 1024u;

// True when threads are woken through a socket (the default), false when through a chSignal.
// Chosen once per process; TARN_WAKEUP=signal selects the signal mode.
bool chIsSocketEvent();

// Joins a group: its broadcasts reach the operation on the calling thread.
bool msgJoinMessageGroup(const char *group, chMessageHandler *handler, chMsgOperation operation);
bool msgLeaveMessageGroup(const char *group, chMessageHandler *handler);
// Posts to every member of a group on the member's thread; the number of members reached.
int msgBroadcastToGroup(const char *group, const msgObject &msg);
int msgBroadcastToGroup(const char *group, uint32_t message, uint32_t wParam = 0, int64_t lParam = 0);

// Posts to one handler on the thread that owns it (the thread it was created on, or whose thread
// object it is). operation null: the handler's onThreadMessage.
bool msgPostToHandler(chMessageHandler *handler, chMsgOperation operation, const msgObject &msg);
// Posts to a thread object; its DefaultDispatchMessage receives the message.
bool msgPostToThread(chThreadLocal *thread, const msgObject &msg);
