#pragma once

#include <cstdint>

class msgObject;

// Base of every class that receives in-house messages. The runtime never calls a handler after its
// destructor has started, even when messages for it are still queued.
class chMessageHandler
{
public:
    chMessageHandler();
    virtual ~chMessageHandler();
    virtual int onThreadMessage(msgObject &msg);

    // Identity that outlives the object, so queued work can tell a dead handler from a live one.
    uint64_t handlerId() const { return m_handlerId; }

    chMessageHandler(const chMessageHandler &) = delete;
    chMessageHandler &operator=(const chMessageHandler &) = delete;

private:
    uint64_t m_handlerId;
};

// A handler operation: a member of a chMessageHandler taking a message and returning 1 when it acted.
typedef int (chMessageHandler::*chMsgOperation)(msgObject &);

template <class T> inline chMsgOperation chMsgOp(int (T::*op)(msgObject &))
{
    return static_cast<chMsgOperation>(op);
}
