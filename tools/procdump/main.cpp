#include "BacktraceWriter.h"
#include "CoreFileWriter.h"
#include "ProcFs.h"
#include "ProcdumpCommandLine.h"
#include "ProcessTracer.h"

#include <sys/mman.h>

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

// The heartbeat record of a process that did not close it would stay until the next reboot.
void removeHeartbeatRecord(pid_t pid)
{
    const std::string name = "/wddmpsharememory" + std::to_string(pid);
    if (shm_unlink(name.c_str()) == 0)
        fprintf(stderr, "procdump: removed the heartbeat record %s\n", name.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    const ProcdumpCommandLine command = ProcdumpCommandLine::parse(argc, argv);
    if (!command.valid) {
        fputs(ProcdumpCommandLine::usage(), stderr);
        return 2;
    }

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
