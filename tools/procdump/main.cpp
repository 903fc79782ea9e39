#include "BacktraceWriter.h"
#include "CoreFileWriter.h"
#include "ProcFs.h"
#include "ProcdumpCommandLine.h"
#include "ProcessTracer.h"
#include "RuntimeLocation.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Writes the core and the backtrace next to it; the threads are stopped.
bool writeDump(ProcessTracer &tracer, const std::string &path, pid_t first, int signal, const siginfo_t *info)
{
    const std::vector<ThreadSnapshot> threads = tracer.snapshot(first);
    std::string error;
    bool ok = CoreFileWriter(tracer.pid(), signal, info).write(path, threads, &error);
    if (!ok)
        fprintf(stderr, "procdump: %s\n", error.c_str());
    std::vector<pid_t> order;
    for (const ThreadSnapshot &thread : threads)
        order.push_back(thread.tid);
    error.clear();
    if (!BacktraceWriter::write(path + ".txt", tracer.pid(), order, first, signal, &error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        ok = false;
    }
    if (ok)
        fprintf(stderr, "procdump: wrote %s\n", path.c_str());
    return ok;
}

void onStopSignal(int)
{
    ProcessTracer::requestStop();
    // Should the signal land just before the wait starts, this one ends the wait a second later.
    alarm(1);
}

// Ending the tool (log-out, kill) must not take a signal from the process or leave it stopped:
// the wait is interrupted and the process let go in an orderly way.
void installStopHandlers()
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait must return
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGALRM})
        sigaction(signal, &action, nullptr);
}

// The heartbeat record of a process that did not close it would stay until the next reboot.
void removeHeartbeatRecord(pid_t pid)
{
    const std::string path = RuntimeLocation::objectPath("wddmpsharememory" + std::to_string(pid));
    if (!path.empty() && unlink(path.c_str()) == 0)
        fprintf(stderr, "procdump: removed the heartbeat record %s\n", path.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    const ProcdumpCommandLine command = ProcdumpCommandLine::parse(argc, argv);
    if (!command.valid) {
        fputs(ProcdumpCommandLine::usage(), stderr);
        return 2;
    }

    installStopHandlers();
    ProcessTracer tracer(command.pid);
    std::string error;
    if (!tracer.attach(&error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        return 1;
    }

    if (!command.onException) {
        const bool stopped = tracer.stopAll(0);
        const bool ok = stopped && writeDump(tracer, command.dumpPath, command.pid, 0, nullptr);
        tracer.detachAll();
        return ok ? 0 : 1;
    }

    ProcessTracer::Outcome outcome = tracer.run(true);
    int result = 0;
    if (outcome.kind == ProcessTracer::Outcome::AboutToDie) {
        if (!tracer.stopAll(outcome.tid) ||
            !writeDump(tracer, command.dumpPath, outcome.tid, outcome.signal, &outcome.info))
            result = 1;
        tracer.resumeAll(outcome.tid, outcome.signal);
        // One dump only; from here on everything passes through until the process is gone.
        outcome = tracer.run(false);
    }
    if (outcome.kind == ProcessTracer::Outcome::Interrupted) {
        tracer.stopAll(0);
        tracer.detachAll();
        fprintf(stderr, "procdump: stopped watching process %d\n", static_cast<int>(command.pid));
        return result;
    }
    if (outcome.kind == ProcessTracer::Outcome::Failed) {
        fprintf(stderr, "procdump: lost track of process %d: %s\n", static_cast<int>(command.pid),
                strerror(errno));
        tracer.detachAll();
        return 1;
    }
    if (!ProcFs::isAlive(command.pid))
        removeHeartbeatRecord(command.pid);
    return result;
}
