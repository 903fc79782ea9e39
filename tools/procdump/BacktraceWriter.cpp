#include "BacktraceWriter.h"

#include "DwflLibrary.h"
#include "ProcFs.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kMaxFrames = 256;

struct FrameWalk
{
    const DwflLibrary *dw = nullptr;
    Dwfl *dwfl = nullptr;
    std::string *text = nullptr;
    int depth = 0;
};

std::string demangled(const char *name)
{
    int status = 0;
    char *plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || plain == nullptr)
        return name;
    std::string result(plain);
    free(plain);
    return result;
}

int describeFrame(Dwfl_Frame *frame, void *arg)
{
    FrameWalk *walk = static_cast<FrameWalk *>(arg);
    const DwflLibrary *dw = walk->dw;
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dw->dwfl_frame_pc(frame, &pc, &activation))
        return DWARF_CB_ABORT;
    // A return address points after the call; look up the call itself.
    const Dwarf_Addr lookup = activation ? pc : pc - 1;
    char line[64];
    snprintf(line, sizeof(line), "#%-3d 0x%016" PRIx64, walk->depth, static_cast<uint64_t>(pc));
    std::string entry = line;
    Dwfl_Module *module = dw->dwfl_addrmodule(walk->dwfl, lookup);
    if (module != nullptr) {
        GElf_Off offset = 0;
        GElf_Sym symbol;
        const char *name =
            dw->dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr);
        if (name != nullptr) {
            char where[32];
            snprintf(where, sizeof(where), "+0x%" PRIx64,
                     static_cast<uint64_t>(offset + (activation ? 0 : 1)));
            entry += " in " + demangled(name) + where;
        } else {
            entry += " in ??";
        }
        const char *moduleName =
            dw->dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (moduleName != nullptr)
            entry += std::string(" (") + moduleName + ")";
        Dwfl_Line *source = dw->dwfl_module_getsrc(module, lookup);
        int lineNumber = 0;
        const char *file = source != nullptr
                               ? dw->dwfl_lineinfo(source, nullptr, &lineNumber, nullptr, nullptr, nullptr)
                               : nullptr;
        if (file != nullptr)
            entry += " at " + std::string(file) + ":" + std::to_string(lineNumber);
    } else {
        entry += " in ??";
    }
    *walk->text += entry + "\n";
    return ++walk->depth >= kMaxFrames ? DWARF_CB_ABORT : DWARF_CB_OK;
}

bool writeFile(const std::string &path, const std::string &text, std::string *error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    fchmod(fd, 0600);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = "cannot write " + path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool BacktraceWriter::write(const std::string &path, pid_t pid, const std::vector<pid_t> &threads,
                            pid_t crashedThread, int signal, std::string *error)
{
    std::string text = "Process " + std::to_string(pid) + " (" + ProcFs::commandLine(pid) + ")\n";
    if (signal != 0)
        text += "Killed by signal " + std::to_string(signal) + " (" +
                (strsignal(signal) ? strsignal(signal) : "") + ") in thread " +
                std::to_string(crashedThread) + "\n";
    else
        text += "Dumped while running\n";

    std::string why;
    const DwflLibrary *dw = DwflLibrary::get(&why);
    Dwfl *dwfl = nullptr;
    bool attached = false;
    // The session keeps a pointer to these until dwfl_end.
    Dwfl_Callbacks callbacks;
    memset(&callbacks, 0, sizeof(callbacks));
    if (dw != nullptr) {
        callbacks.find_elf = dw->dwfl_linux_proc_find_elf;
        callbacks.find_debuginfo = dw->dwfl_standard_find_debuginfo;
        dwfl = dw->dwfl_begin(&callbacks);
        why = dwfl != nullptr ? "" : "no unwinder";
    }
    if (dwfl != nullptr) {
        dw->dwfl_report_begin(dwfl);
        const int reported = dw->dwfl_linux_proc_report(dwfl, pid);
        dw->dwfl_report_end(dwfl, nullptr, nullptr);
        // The threads are held stopped by this process already.
        attached = reported == 0 && dw->dwfl_linux_proc_attach(dwfl, pid, true) == 0;
        if (!attached)
            why = dw->dwfl_errmsg(-1) != nullptr ? dw->dwfl_errmsg(-1) : "unknown";
    }
    if (!attached)
        text += "No backtraces: " + why + "\n";

    for (pid_t tid : threads) {
        text += "\nThread " + std::to_string(tid) + " \"" + ProcFs::threadName(pid, tid) + "\"" +
                (tid == crashedThread && signal != 0 ? " (crashed)" : "") + ":\n";
        if (!attached)
            continue;
        FrameWalk walk;
        walk.dw = dw;
        walk.dwfl = dwfl;
        walk.text = &text;
        if (dw->dwfl_getthread_frames(dwfl, tid, describeFrame, &walk) != 0 && walk.depth == 0) {
            const char *stopped = dw->dwfl_errmsg(-1);
            text += std::string("(unwinding stopped: ") + (stopped != nullptr ? stopped : "unknown") + ")\n";
        }
    }
    if (dwfl != nullptr)
        dw->dwfl_end(dwfl);
    return writeFile(path, text, error);
}
