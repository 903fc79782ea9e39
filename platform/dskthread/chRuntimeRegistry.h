#pragma once

#include "chMessageHandler.h"
#include "chThreadQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class chWakeChannel;
class msgObject;

// Process-wide book of live handlers, their owning queues, message groups and timer owners.
// Lock order: this registry's lock, then a queue's lock; a queue never takes this lock while holding
// its own.
class chRuntimeRegistry
{
public:
    static chRuntimeRegistry &instance();

    uint64_t newId() { return m_nextId.fetch_add(1, std::memory_order_relaxed); }
    // Bumped whenever a handler goes away; dispatchers cache lookups against it.
    uint64_t generation() const { return m_generation.load(std::memory_order_acquire); }

    void addHandler(uint64_t id, chMessageHandler *handler, chThreadQueue *owner);
    void removeHandler(uint64_t id);
    void setOwner(uint64_t id, chThreadQueue *owner);
    chThreadQueue *ownerOf(uint64_t id);
    // The live handler with that id if it belongs to queue, else null.
    chMessageHandler *resolve(uint64_t id, const chThreadQueue *queue);
    // A dying thread object: its handlers lose their owner, its timers their records.
    void detachQueue(chThreadQueue *queue);

    bool post(uint64_t handlerId, chThreadQueue::Kind kind, chMsgOperation operation, const msgObject &msg);

    bool join(const std::string &group, uint64_t handlerId, chMsgOperation operation);
    bool leave(const std::string &group, uint64_t handlerId);
    int broadcast(const std::string &group, const msgObject &msg);

    bool armTimer(uint64_t timerId, uint64_t handlerId, chMsgOperation operation, int64_t milliseconds,
                  bool periodic);
    bool killTimer(uint64_t timerId);
    bool timerActive(uint64_t timerId);
    void forgetTimer(uint64_t timerId);

private:
    chRuntimeRegistry() = default;

    struct HandlerRecord
    {
        chMessageHandler *handler;
        chThreadQueue *owner;
        // Its thread object is gone; it must not be adopted by another thread.
        bool orphaned;
    };
    struct GroupMember
    {
        uint64_t handlerId;
        chMsgOperation operation;
    };

    // Caller holds m_lock. Binds an unowned handler to the calling thread's object.
    chThreadQueue *ownerForLocked(HandlerRecord &record);

    std::mutex m_lock;
    std::unordered_map<uint64_t, HandlerRecord> m_handlers;
    std::unordered_map<std::string, std::vector<GroupMember>> m_groups;
    std::unordered_map<uint64_t, chThreadQueue *> m_timerOwners;
    std::atomic<uint64_t> m_nextId{1};
    std::atomic<uint64_t> m_generation{0};
};
