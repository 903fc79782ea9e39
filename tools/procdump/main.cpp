#include "BacktraceWriter.h"
#include "CoreFileWriter.h"
#include "CrashListener.h"
#include "CrashNotice.h"
#include "FaultContext.h"
#include "ProcFs.h"
#include "ProcdumpCommandLine.h"
#include "ProcessTracer.h"
#include "RuntimeLocation.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Writes the core and the backtrace next to it; the threads are stopped. `fault` holds the failing
// thread's registers at the fault when a signal caused the dump.
bool writeDump(ProcessTracer &tracer, const std::string &path, pid_t first, int signal, const siginfo_t *info,
               const ThreadSnapshot *fault)
{
    std::vector<ThreadSnapshot> threads = tracer.snapshot(first);
    // As the thread stands now, inside its signal handler.
    ThreadSnapshot standing;
    const bool atFault = fault != nullptr && !threads.empty() && threads.front().tid == fault->tid;
    if (atFault) {
        standing = threads.front();
        threads.front() = *fault;
    }
    std::string error;
    bool ok = CoreFileWriter(tracer.pid(), signal, info).write(path, threads, &error);
    if (!ok)
        fprintf(stderr, "procdump: %s\n", error.c_str());
    std::vector<pid_t> order;
    for (const ThreadSnapshot &thread : threads)
        order.push_back(thread.tid);
    // The unwinder reads live registers: the failing thread is shown as it stood at the fault and
    // then put back exactly as it was, inside its signal handler.
    const bool moved = atFault && tracer.setRegisters(*fault);
    error.clear();
    if (!BacktraceWriter::write(path + ".txt", tracer.pid(), order, first, signal, &error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        ok = false;
    }
    if (moved)
        tracer.setRegisters(standing);
    if (ok)
        fprintf(stderr, "procdump: wrote %s\n", path.c_str());
    return ok;
}

void onStopSignal(int)
{
    CrashListener::requestStop();
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

// Waits until `pid` may be traced by us: the program that started us grants that only once we run.
bool checkTarget(pid_t pid, std::string *error)
{
    if (ProcFs::threads(pid).empty()) {
        *error = "no process " + std::to_string(pid);
        return false;
    }
    const std::string mem = "/proc/" + std::to_string(pid) + "/mem";
    for (int attempt = 0;; ++attempt) {
        // Opening the memory of another process asks the same question as attaching to it.
        const int fd = open(mem.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if ((errno != EACCES && errno != EPERM) || attempt >= 40) {
            *error = "cannot trace process " + std::to_string(pid) + ": " + strerror(errno);
            return false;
        }
        usleep(50 * 1000);
    }
}

// Handles one fault report: attaches, stops every thread, writes the dump, lets go.
bool dumpReportedFault(pid_t pid, const CrashNotice &notice, const std::string &path)
{
    if (notice.magic != CrashNotice::kMagic || notice.size != sizeof(CrashNotice) || notice.pid != pid ||
        !ProcessTracer::isFatalSignal(notice.signal) ||
        access(("/proc/" + std::to_string(pid) + "/task/" + std::to_string(notice.tid)).c_str(), F_OK) != 0) {
        fprintf(stderr, "procdump: ignored a malformed fault report\n");
        return false;
    }
    ProcessTracer tracer(pid);
    std::string error;
    if (!tracer.attach(&error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        return false;
    }
    bool ok = tracer.stopAll(0);
    if (ok) {
        siginfo_t info;
        memset(&info, 0, sizeof(info));
        if (!FaultContext::readSiginfo(pid, notice.siginfoAddress, &info) || info.si_signo != notice.signal) {
            memset(&info, 0, sizeof(info));
            info.si_signo = notice.signal;
        }
        const std::vector<ThreadSnapshot> standing = tracer.snapshot(notice.tid);
        ThreadSnapshot fault;
        bool haveFault = false;
        if (!standing.empty() && standing.front().tid == notice.tid) {
            fault = standing.front();
            haveFault = FaultContext::readRegisters(pid, notice.ucontextAddress, &fault);
        }
        ok = writeDump(tracer, path, notice.tid, notice.signal, &info, haveFault ? &fault : nullptr);
    }
    tracer.detachAll();
    return ok;
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
    std::string error;
    if (!command.onException) {
        // A hang: the process is dumped as it stands and then runs on.
        ProcessTracer tracer(command.pid);
        if (!tracer.attach(&error)) {
            fprintf(stderr, "procdump: %s\n", error.c_str());
            return 1;
        }
        const bool ok =
            tracer.stopAll(0) && writeDump(tracer, command.dumpPath, command.pid, 0, nullptr, nullptr);
        tracer.detachAll();
        return ok ? 0 : 1;
    }

    if (!checkTarget(command.pid, &error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        return 1;
    }
    // Nothing is traced until the process reports a fault: it stays open to debuggers meanwhile.
    CrashListener listener(command.pid);
    const std::string folder = RuntimeLocation::ensure(&error);
    if (folder.empty() || !listener.listen(folder, &error)) {
        fprintf(stderr, "procdump: %s\n", error.c_str());
        return 1;
    }
    int result = 0;
    bool dumped = false;
    for (;;) {
        CrashNotice notice;
        const CrashListener::Event event = listener.wait(&notice);
        if (event == CrashListener::Event::Notice) {
            // One dump only; a later report is let go at once.
            if (!dumped) {
                dumped = dumpReportedFault(command.pid, notice, command.dumpPath);
                if (!dumped)
                    result = 1;
                dumped = true;
            }
            listener.answer();
            continue;
        }
        if (event == CrashListener::Event::Interrupted) {
            fprintf(stderr, "procdump: stopped watching process %d\n", static_cast<int>(command.pid));
            return result;
        }
        if (event == CrashListener::Event::Failed) {
            fprintf(stderr, "procdump: lost track of process %d: %s\n", static_cast<int>(command.pid),
                    strerror(errno));
            return 1;
        }
        break;
    }
    if (!ProcFs::isAlive(command.pid))
        removeHeartbeatRecord(command.pid);
    return result;
}
