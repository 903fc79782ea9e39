#pragma once

#include "chMessageHandler.h"

#include <cstdint>
#include <memory>
#include <string>

class msgObject;
class chThreadQueue;

// Result of DispatchQueuedMessage once the thread's queue has quit.
constexpr int CH_QUEUE_QUIT = 0x8002;

// A named message thread: a queue and timers, run on a thread of its own (Start/Stop) or attached to a
// thread that runs another loop (AttachCurrentThread/DetachThread).
// A subclass that overrides the loop's operations calls Stop() in its own destructor: by the time this
// base destructor runs, the running loop could no longer reach the subclass's parts.
class chThreadLocal : public chMessageHandler
{
public:
    explicit chThreadLocal(const std::string &name);
    ~chThreadLocal() override;

    virtual int AfterThreadLaunched();
    virtual int BeforeThreadShutdown();
    // The thread's own loop: waits for work and dispatches it until the queue quits.
    virtual int Run();
    // Called for a message posted to the thread object itself with no handler operation.
    virtual int DefaultDispatchMessage(msgObject &msg);
    virtual int onExit();

    bool Start();
    bool Stop();
    bool AttachCurrentThread();
    bool DetachThread();

    int HasMessageQueued();
    int GetNextTimerTicks();
    // Dispatches pending messages and due timers on the calling thread, waiting at most waitMs when
    // nothing is pending (0: never wait). Leaves nextWaitTicks: 0 more work now, negative nothing
    // pending, positive milliseconds until the next timer. Returns CH_QUEUE_QUIT once quit.
    int DispatchQueuedMessage(int waitMs);

    // Asks the queue to quit; the next dispatch returns CH_QUEUE_QUIT.
    bool PostQuit();

    const std::string &GetName() const;
    bool IsRunning() const;
    // The thread object attached to or run by the calling thread, or null.
    static chThreadLocal *current();
    chThreadQueue *queue() const;

protected:
    // Socket mode: points at the int descriptor of the wake-up socket's read end.
    // Signal mode: points at the chSignal emitted when work is queued.
    void *wakeSource;
    int32_t loopActive;
    int32_t nextWaitTicks;

private:
    std::string m_name;
    std::unique_ptr<chThreadQueue> m_queue;
    struct ThreadState;
    std::unique_ptr<ThreadState> m_thread;
};
