#pragma once

#include "ThreadSnapshot.h"

#include <signal.h>
#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// Holds every thread of another process under ptrace for as long as a dump takes: signals that
// arrive meanwhile are kept and passed on, group-stops stay stops, new threads are followed.
class ProcessTracer
{
public:
    explicit ProcessTracer(pid_t pid);
    // Lets go of whatever is still attached.
    ~ProcessTracer();

    bool attach(std::string *error);
    // Brings every attached thread into a ptrace stop; `alreadyStopped` is one that is in one.
    bool stopAll(pid_t alreadyStopped);
    // Registers of every stopped thread, `first` first.
    std::vector<ThreadSnapshot> snapshot(pid_t first) const;
    // Puts registers into a stopped thread (and back again).
    bool setRegisters(const ThreadSnapshot &thread);
    void detachAll();

    pid_t pid() const { return m_pid; }
    std::vector<pid_t> threads() const { return std::vector<pid_t>(m_threads.begin(), m_threads.end()); }

    static bool isFatalSignal(int signal);

private:
    void handle(pid_t tid, int status);

    pid_t m_pid;
    std::set<pid_t> m_threads;
    std::set<pid_t> m_stopped;
    std::map<pid_t, int> m_pendingSignal;
};
