#include "chRuntimeRegistry.h"

#include "ETLLib.h"
#include "chThreadLocal.h"
#include "chWakeChannel.h"

#include <algorithm>

chRuntimeRegistry &chRuntimeRegistry::instance()
{
    // Never destroyed: thread objects held in statics may still unregister during process exit.
    static chRuntimeRegistry *registry = new chRuntimeRegistry;
    return *registry;
}

void chRuntimeRegistry::addHandler(uint64_t id, chMessageHandler *handler, chThreadQueue *owner)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_handlers[id] = HandlerRecord{handler, owner, false};
}

void chRuntimeRegistry::removeHandler(uint64_t id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_handlers.find(id);
    if (it == m_handlers.end()) {
        return;
    }
    chThreadQueue *owner = it->second.owner;
    m_handlers.erase(it);
    for (auto group = m_groups.begin(); group != m_groups.end();) {
        auto &members = group->second;
        members.erase(std::remove_if(members.begin(), members.end(),
                                     [id](const GroupMember &m) { return m.handlerId == id; }),
                      members.end());
        group = members.empty() ? m_groups.erase(group) : std::next(group);
    }
    if (owner) {
        owner->cancelTimersOf(id);
    }
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

void chRuntimeRegistry::setOwner(uint64_t id, chThreadQueue *owner)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_handlers.find(id);
    if (it != m_handlers.end()) {
        it->second.owner = owner;
        it->second.orphaned = false;
    }
}

chThreadQueue *chRuntimeRegistry::ownerOf(uint64_t id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_handlers.find(id);
    return it == m_handlers.end() ? nullptr : it->second.owner;
}

chMessageHandler *chRuntimeRegistry::resolve(uint64_t id, const chThreadQueue *queue)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_handlers.find(id);
    if (it == m_handlers.end() || it->second.owner != queue) {
        return nullptr;
    }
    return it->second.handler;
}

void chRuntimeRegistry::detachQueue(chThreadQueue *queue)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto &entry : m_handlers) {
        if (entry.second.owner == queue) {
            entry.second.owner = nullptr;
            entry.second.orphaned = true;
        }
    }
    for (auto it = m_timerOwners.begin(); it != m_timerOwners.end();) {
        it = it->second == queue ? m_timerOwners.erase(it) : std::next(it);
    }
    m_generation.fetch_add(1, std::memory_order_acq_rel);
}

chThreadQueue *chRuntimeRegistry::ownerForLocked(HandlerRecord &record)
{
    if (!record.owner && !record.orphaned) {
        if (chThreadLocal *current = chThreadLocal::current()) {
            record.owner = current->queue();
        }
    }
    return record.owner;
}

bool chRuntimeRegistry::post(uint64_t handlerId, chThreadQueue::Kind kind, chMsgOperation operation,
                             const msgObject &msg)
{
    std::shared_ptr<chWakeChannel> wake;
    bool accepted = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_handlers.find(handlerId);
        if (it == m_handlers.end()) {
            return false;
        }
        chThreadQueue *owner = ownerForLocked(it->second);
        if (!owner) {
            etlModuleTrace(4, "W:dskthread", "message %u dropped: its handler belongs to no thread",
                           msg.message);
            return false;
        }
        accepted = owner->push(chThreadQueue::Item{handlerId, operation, kind, msg}, wake);
    }
    if (wake) {
        wake->wake();
    }
    return accepted;
}

bool chRuntimeRegistry::join(const std::string &group, uint64_t handlerId, chMsgOperation operation)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_handlers.find(handlerId);
    if (it == m_handlers.end() || !ownerForLocked(it->second)) {
        return false;
    }
    auto &members = m_groups[group];
    for (auto &member : members) {
        if (member.handlerId == handlerId) {
            member.operation = operation;
            return true;
        }
    }
    members.push_back(GroupMember{handlerId, operation});
    return true;
}

bool chRuntimeRegistry::leave(const std::string &group, uint64_t handlerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_groups.find(group);
    if (found == m_groups.end()) {
        return false;
    }
    auto &members = found->second;
    auto it = std::find_if(members.begin(), members.end(),
                           [handlerId](const GroupMember &m) { return m.handlerId == handlerId; });
    if (it == members.end()) {
        return false;
    }
    members.erase(it);
    if (members.empty()) {
        m_groups.erase(found);
    }
    return true;
}

int chRuntimeRegistry::broadcast(const std::string &group, const msgObject &msg)
{
    std::vector<std::shared_ptr<chWakeChannel>> wakes;
    int reached = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto found = m_groups.find(group);
        if (found == m_groups.end()) {
            return 0;
        }
        for (const auto &member : found->second) {
            auto it = m_handlers.find(member.handlerId);
            if (it == m_handlers.end() || !it->second.owner) {
                continue;
            }
            std::shared_ptr<chWakeChannel> wake;
            if (it->second.owner->push(
                    chThreadQueue::Item{member.handlerId, member.operation, chThreadQueue::ToHandler, msg},
                    wake)) {
                ++reached;
            }
            if (wake) {
                wakes.push_back(std::move(wake));
            }
        }
    }
    for (const auto &wake : wakes) {
        wake->wake();
    }
    return reached;
}

bool chRuntimeRegistry::armTimer(uint64_t timerId, uint64_t handlerId, chMsgOperation operation,
                                 int64_t milliseconds, bool periodic)
{
    std::shared_ptr<chWakeChannel> wake;
    bool armed = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_handlers.find(handlerId);
        if (it == m_handlers.end()) {
            return false;
        }
        chThreadQueue *owner = ownerForLocked(it->second);
        auto previous = m_timerOwners.find(timerId);
        if (previous != m_timerOwners.end() && previous->second != owner) {
            previous->second->killTimer(timerId);
            m_timerOwners.erase(previous);
        }
        if (!owner) {
            etlModuleTrace(4, "W:dskthread", "timer not armed: its handler belongs to no thread");
            return false;
        }
        armed = owner->armTimer(timerId, handlerId, operation, milliseconds, periodic, wake);
        if (armed) {
            m_timerOwners[timerId] = owner;
        }
    }
    if (wake) {
        wake->wake();
    }
    return armed;
}

bool chRuntimeRegistry::killTimer(uint64_t timerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_timerOwners.find(timerId);
    if (it == m_timerOwners.end()) {
        return false;
    }
    return it->second->killTimer(timerId);
}

bool chRuntimeRegistry::timerActive(uint64_t timerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_timerOwners.find(timerId);
    return it != m_timerOwners.end() && it->second->timerActive(timerId);
}

void chRuntimeRegistry::forgetTimer(uint64_t timerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_timerOwners.find(timerId);
    if (it != m_timerOwners.end()) {
        it->second->killTimer(timerId);
        m_timerOwners.erase(it);
    }
}
