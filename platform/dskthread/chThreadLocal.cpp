#include "chThreadLocal.h"

#include "ETLLib.h"
#include "chRuntimeRegistry.h"
#include "chThreadQueue.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
thread_local chThreadLocal *t_current = nullptr;
}

struct chThreadLocal::ThreadState
{
    std::mutex lock;
    std::thread thread;
    std::atomic<bool> running{false};
    bool attached = false;
};

chThreadLocal::chThreadLocal(const std::string &name)
    : chMessageHandler(), wakeSource(nullptr), loopActive(0), nextWaitTicks(-1), m_name(name),
      m_queue(new chThreadQueue(this)), m_thread(new ThreadState)
{
    wakeSource = m_queue->wakeSource();
    // A thread object owns itself, whatever thread constructs it.
    chRuntimeRegistry::instance().setOwner(handlerId(), m_queue.get());
}

chThreadLocal::~chThreadLocal()
{
    Stop();
    {
        std::lock_guard<std::mutex> guard(m_thread->lock);
        if (m_thread->thread.joinable()) {
            // Destroyed from inside its own loop: the thread cannot join itself.
            m_thread->thread.detach();
        }
    }
    if (t_current == this) {
        t_current = nullptr;
    }
    chRuntimeRegistry &registry = chRuntimeRegistry::instance();
    registry.removeHandler(handlerId());
    registry.detachQueue(m_queue.get());
    m_queue.reset();
}

int chThreadLocal::AfterThreadLaunched()
{
    return 1;
}

int chThreadLocal::BeforeThreadShutdown()
{
    return 1;
}

int chThreadLocal::Run()
{
    while (DispatchQueuedMessage(-1) != CH_QUEUE_QUIT) {
    }
    return 0;
}

int chThreadLocal::DefaultDispatchMessage(msgObject &msg)
{
    return onThreadMessage(msg);
}

int chThreadLocal::onExit()
{
    return 0;
}

bool chThreadLocal::Start()
{
    std::lock_guard<std::mutex> guard(m_thread->lock);
    if (m_thread->thread.joinable() || m_thread->attached) {
        return false;
    }
    if (!m_queue->wakeValid()) {
        etlModuleTrace(3, "E:dskthread", "thread \"%s\" not started: no wake-up channel", m_name.c_str());
        return false;
    }
    m_queue->resetQuit();
    m_thread->running.store(true);
    try {
        m_thread->thread = std::thread([this] {
            t_current = this;
            loopActive = 1;
            AfterThreadLaunched();
            Run();
            BeforeThreadShutdown();
            onExit();
            loopActive = 0;
            t_current = nullptr;
            m_thread->running.store(false);
        });
    } catch (const std::system_error &error) {
        m_thread->running.store(false);
        etlModuleTrace(3, "E:dskthread", "thread \"%s\" not started: %s", m_name.c_str(), error.what());
        return false;
    }
    return true;
}

bool chThreadLocal::Stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(m_thread->lock);
        if (!m_thread->thread.joinable()) {
            return false;
        }
        if (m_thread->thread.get_id() == std::this_thread::get_id()) {
            // From inside the loop: ask it to end; whoever destroys the object finishes the job.
            m_queue->postQuit();
            return true;
        }
        thread = std::move(m_thread->thread);
    }
    m_queue->postQuit();
    thread.join();
    return true;
}

bool chThreadLocal::AttachCurrentThread()
{
    std::lock_guard<std::mutex> guard(m_thread->lock);
    if (m_thread->thread.joinable() || (t_current && t_current != this)) {
        return false;
    }
    m_queue->resetQuit();
    m_thread->attached = true;
    t_current = this;
    loopActive = 1;
    return true;
}

bool chThreadLocal::DetachThread()
{
    std::lock_guard<std::mutex> guard(m_thread->lock);
    if (!m_thread->attached) {
        return false;
    }
    m_thread->attached = false;
    if (t_current == this) {
        t_current = nullptr;
    }
    return true;
}

int chThreadLocal::HasMessageQueued()
{
    return m_queue->hasQueued() ? 1 : 0;
}

int chThreadLocal::GetNextTimerTicks()
{
    return m_queue->nextTimerTicks();
}

int chThreadLocal::DispatchQueuedMessage(int waitMs)
{
    return m_queue->dispatch(waitMs, nextWaitTicks);
}

bool chThreadLocal::PostQuit()
{
    return m_queue->postQuit();
}

const std::string &chThreadLocal::GetName() const
{
    return m_name;
}

bool chThreadLocal::IsRunning() const
{
    return m_thread->running.load();
}

chThreadLocal *chThreadLocal::current()
{
    return t_current;
}

chThreadQueue *chThreadLocal::queue() const
{
    return m_queue.get();
}
