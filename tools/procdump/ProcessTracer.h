#pragma once

#include "ThreadSnapshot.h"

#include <signal.h>
#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// Follows every thread of another process with ptrace without changing what it does: signals are
// passed on unchanged, group-stops stay stops, new threads are followed.
class ProcessTracer
{
public:
    struct Outcome
    {
        enum Kind
        {
            Exited,     // every thread is gone
            AboutToDie, // `tid` stopped on the way to being killed by `signal`
            Failed,     // waiting on the process failed
            Interrupted // asked to let go (see requestStop)
        };
        Kind kind = Failed;
        pid_t tid = 0;
        int signal = 0;
        siginfo_t info;
    };

    explicit ProcessTracer(pid_t pid);
    // Lets go of whatever is still attached.
    ~ProcessTracer();

    bool attach(std::string *error);
    // Runs the process until it is gone, or, with `stopOnFatal`, until one of its threads is about
    // to deliver a signal that will kill it.
    Outcome run(bool stopOnFatal);
    // Brings every attached thread into a ptrace stop; `alreadyStopped` is one that is in one.
    bool stopAll(pid_t alreadyStopped);
    // Registers of every stopped thread, `first` first.
    std::vector<ThreadSnapshot> snapshot(pid_t first) const;
    // Lets every stopped thread go on; `tid` gets `signal` delivered, the others what they held.
    void resumeAll(pid_t tid, int signal);
    void detachAll();

    pid_t pid() const { return m_pid; }
    std::vector<pid_t> threads() const { return std::vector<pid_t>(m_threads.begin(), m_threads.end()); }

    static bool isFatalSignal(int signal);
    // Async-signal-safe: makes run() return Interrupted at its next wake-up.
    static void requestStop();

private:
    enum class Reported
    {
        Nothing,
        Stopped,
        AboutToDie
    };
    Reported handle(pid_t tid, int status, bool holdStops, bool stopOnFatal, Outcome *outcome);
    void resume(pid_t tid, int signal);

    pid_t m_pid;
    std::set<pid_t> m_threads;
    std::set<pid_t> m_stopped;
    std::set<pid_t> m_groupStopped;
    std::map<pid_t, int> m_pendingSignal;
};
