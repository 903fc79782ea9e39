#include "ProcessTracer.h"

#include "ProcFs.h"

#include <elf.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const long kOptions = PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC;

} // namespace

ProcessTracer::ProcessTracer(pid_t pid) : m_pid(pid) {}

ProcessTracer::~ProcessTracer()
{
    detachAll();
}

bool ProcessTracer::isFatalSignal(int signal)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGABRT:
    case SIGTRAP:
    case SIGSYS:
        return true;
    default:
        return false;
    }
}

bool ProcessTracer::attach(std::string *error)
{
    // Threads may start while we attach; go round until a pass finds nothing new.
    int permissionRetries = 40;
    bool found = true;
    while (found) {
        found = false;
        const std::vector<pid_t> tids = ProcFs::threads(m_pid);
        if (tids.empty() && m_threads.empty()) {
            *error = "no process " + std::to_string(m_pid);
            return false;
        }
        for (pid_t tid : tids) {
            if (m_threads.count(tid))
                continue;
            if (ptrace(PTRACE_SEIZE, tid, nullptr, reinterpret_cast<void *>(kOptions)) == 0) {
                m_threads.insert(tid);
                found = true;
            } else if (errno == EPERM && m_threads.empty() && permissionRetries-- > 0) {
                // The process that started us may not have allowed us to trace it yet.
                usleep(50 * 1000);
                found = true;
                break;
            } else if (errno != ESRCH) {
                *error = "cannot attach to thread " + std::to_string(tid) + ": " + strerror(errno);
                detachAll();
                return false;
            }
        }
    }
    if (m_threads.empty()) {
        *error = "process " + std::to_string(m_pid) + " ended before it could be attached";
        return false;
    }
    return true;
}

void ProcessTracer::handle(pid_t tid, int status)
{
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
        m_threads.erase(tid);
        m_stopped.erase(tid);
        m_pendingSignal.erase(tid);
        return;
    }
    if (!WIFSTOPPED(status))
        return;

    // A new thread may report before its creator's clone event does.
    m_threads.insert(tid);
    m_stopped.insert(tid);
    const int signal = WSTOPSIG(status);
    const int event = status >> 16;

    switch (event) {
    case PTRACE_EVENT_CLONE: {
        unsigned long child = 0;
        if (ptrace(PTRACE_GETEVENTMSG, tid, nullptr, &child) == 0 && child > 0)
            m_threads.insert(static_cast<pid_t>(child));
        break;
    }
    case PTRACE_EVENT_EXEC: {
        // Every other thread is gone and the thread that ran exec now carries the process id.
        unsigned long former = 0;
        if (ptrace(PTRACE_GETEVENTMSG, tid, nullptr, &former) == 0 && static_cast<pid_t>(former) != tid)
            m_threads.erase(static_cast<pid_t>(former));
        break;
    }
    case PTRACE_EVENT_STOP:
        // Our own interrupt, the first stop of a new thread, or a group-stop that detaching keeps.
        break;
    case 0:
        // A signal that arrived while we held the process: it is handed back on detaching.
        m_pendingSignal[tid] = signal;
        break;
    default:
        break;
    }
}

bool ProcessTracer::stopAll(pid_t alreadyStopped)
{
    if (alreadyStopped > 0)
        m_stopped.insert(alreadyStopped);
    std::set<pid_t> interrupted;
    for (;;) {
        bool waiting = false;
        for (pid_t tid : m_threads) {
            if (m_stopped.count(tid))
                continue;
            waiting = true;
            if (!interrupted.count(tid)) {
                ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr);
                interrupted.insert(tid);
            }
        }
        if (!waiting)
            return true;
        int status = 0;
        const pid_t tid = waitpid(-1, &status, __WALL);
        if (tid < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        handle(tid, status);
    }
}

std::vector<ThreadSnapshot> ProcessTracer::snapshot(pid_t first) const
{
    std::vector<ThreadSnapshot> result;
    std::vector<pid_t> order;
    if (m_stopped.count(first))
        order.push_back(first);
    for (pid_t tid : m_stopped)
        if (tid != first)
            order.push_back(tid);
    for (pid_t tid : order) {
        ThreadSnapshot thread;
        thread.tid = tid;
        memset(&thread.registers, 0, sizeof(thread.registers));
        memset(&thread.fpRegisters, 0, sizeof(thread.fpRegisters));
        iovec io = {&thread.registers, sizeof(thread.registers)};
        if (ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void *>(NT_PRSTATUS), &io) != 0)
            continue;
        iovec fp = {&thread.fpRegisters, sizeof(thread.fpRegisters)};
        thread.hasFpRegisters = ptrace(PTRACE_GETREGSET, tid, reinterpret_cast<void *>(NT_PRFPREG), &fp) == 0;
        result.push_back(thread);
    }
    return result;
}

bool ProcessTracer::setRegisters(const ThreadSnapshot &thread)
{
    iovec io = {const_cast<unsigned long long *>(thread.registers), sizeof(thread.registers)};
    if (ptrace(PTRACE_SETREGSET, thread.tid, reinterpret_cast<void *>(NT_PRSTATUS), &io) != 0)
        return false;
    if (thread.hasFpRegisters) {
        iovec fp = {const_cast<elf_fpregset_t *>(&thread.fpRegisters), sizeof(thread.fpRegisters)};
        ptrace(PTRACE_SETREGSET, thread.tid, reinterpret_cast<void *>(NT_PRFPREG), &fp);
    }
    return true;
}

void ProcessTracer::detachAll()
{
    for (pid_t tid : m_threads) {
        const auto pending = m_pendingSignal.find(tid);
        const long deliver = pending != m_pendingSignal.end() ? pending->second : 0;
        if (ptrace(PTRACE_DETACH, tid, nullptr, reinterpret_cast<void *>(deliver)) != 0 && errno != ESRCH &&
            !m_stopped.count(tid)) {
            // A running tracee cannot be detached; stop it first.
            ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr);
            int status = 0;
            if (waitpid(tid, &status, __WALL) == tid && WIFSTOPPED(status)) {
                const int event = status >> 16;
                const long signal = event == 0 ? WSTOPSIG(status) : 0;
                ptrace(PTRACE_DETACH, tid, nullptr, reinterpret_cast<void *>(signal));
            }
        }
    }
    m_threads.clear();
    m_stopped.clear();
    m_pendingSignal.clear();
}
