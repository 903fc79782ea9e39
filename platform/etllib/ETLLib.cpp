#include "ETLLib.h"

#include "DumpToolLink.h"
#include "TraceFormatter.h"
#include "TraceWriter.h"
#include "winapi.h"

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct PathState
{
    std::mutex mutex;
    std::string docPath;
    std::string rootOverride;
};

// Never destroyed: threads may still trace, and so open the log below the document folder, while
// static objects are torn down at exit.
PathState &paths()
{
    static PathState *state = new PathState();
    return *state;
}

std::string homeFolder()
{
    const char *home = getenv("HOME");
    if (home && *home) {
        return home;
    }
    struct passwd entry;
    struct passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return "/tmp";
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback below HOME.
std::string xdgFolder(const char *variable, const char *fallback)
{
    const char *value = getenv(variable);
    if (value && value[0] == '/') {
        return pathAppend(value, "tarn-desktop");
    }
    return pathAppend(pathAppend(homeFolder(), fallback), "tarn-desktop");
}

std::string trimTrailingSeparators(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// Every signal whose default action ends the process with a core: the dump tool handles the same set.
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

// How long a failing process waits for its dump tool; the tool holds it stopped while it writes.
const int kHandOffSeconds = 20;
int g_handOffSeconds = kHandOffSeconds;
std::atomic<pid_t> g_failingThread{0};

void sleepMs(long milliseconds)
{
    struct timespec delay = {milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// The default action, with nothing in its way: the parent sees the signal the process failed with.
void endWith(int signalNumber)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
    // Pending until the handler returns; a fault that repeats on return meets the default action too.
    raise(signalNumber);
}

void crashHandler(int signalNumber, siginfo_t *info, void *context)
{
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    pid_t failing = 0;
    if (g_failingThread.compare_exchange_strong(failing, self)) {
        // Lines are never held back in user space, so there is nothing to flush.
        TraceWriter::instance().writeCrashLine(signalNumber);
        DumpToolLink::handOff(signalNumber, info, context, g_handOffSeconds);
        endWith(signalNumber);
        return;
    }
    if (failing == self) {
        // A fault inside this handler: end now rather than fault or wait again.
        endWith(signalNumber);
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, signalNumber);
        sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
        return;
    }
    // Another thread is failing already and ends the process once its dump is written; this one
    // waits for that, stopped in the dump like every other thread, and only ends the process
    // itself when that takes too long.
    for (long waited = 0; waited < (g_handOffSeconds + 5) * 1000L; waited += 50) {
        sleepMs(50);
    }
    endWith(signalNumber);
}

int handOffSeconds()
{
    // Tests may shorten the wait, nobody can lengthen or disable it.
    const char *text = getenv("TARN_DUMP_WAIT_SECONDS");
    if (!text || !*text) {
        return kHandOffSeconds;
    }
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= kHandOffSeconds ? static_cast<int>(value) : kHandOffSeconds;
}

} // namespace

void etlModuleTrace(int level, const char *tag, const char *format, ...)
{
    if (!TraceWriter::accepts(level)) {
        return;
    }
    constexpr size_t kMark = sizeof(" [truncated]") - 1;
    char line[TraceWriter::kMaxLineBytes];
    size_t used = TraceWriter::formatPrefix(line);
    const char *name = tag && *tag ? tag : "-";
    const size_t tagLength = strnlen(name, 256);
    memcpy(line + used, name, tagLength);
    used += tagLength;
    line[used++] = ' ';

    // Room for the text, with the newline and the truncation mark kept in reserve.
    const size_t room = sizeof(line) - used - kMark - 1;
    int produced = 0;
    if (format) {
        va_list arguments;
        va_start(arguments, format);
        produced = TraceFormatter::format(line + used, room, format, arguments);
        va_end(arguments);
    }
    bool truncated = false;
    size_t textLength = 0;
    if (produced > 0) {
        textLength = static_cast<size_t>(produced);
        if (textLength >= room) {
            textLength = room - 1;
            truncated = true;
        }
    }
    char *text = line + used;
    if (!truncated) {
        while (textLength > 0 && (text[textLength - 1] == '\n' || text[textLength - 1] == '\r')) {
            --textLength;
        }
    }
    // One call, one line: breaks inside the text would forge the start of another line.
    for (const char breakCharacter : {'\n', '\r'}) {
        char *end = text + textLength;
        for (char *at = text; (at = static_cast<char *>(memchr(at, breakCharacter, end - at))) != nullptr;) {
            *at++ = ' ';
        }
    }
    used += textLength;
    if (truncated) {
        memcpy(line + used, TraceWriter::kTruncationMark, kMark);
        used += kMark;
    }
    line[used++] = '\n';
    TraceWriter::instance().write(line, used);
}

void etlHookCrashSignal()
{
    // The handler must still run when the stack itself overflowed.
    stack_t current;
    const size_t stackSize = 64 * 1024;
    if (sigaltstack(nullptr, &current) == 0 &&
        ((current.ss_flags & SS_DISABLE) != 0 || current.ss_size < stackSize)) {
        void *memory = mmap(nullptr, stackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) {
            stack_t alternate;
            alternate.ss_sp = memory;
            alternate.ss_size = stackSize;
            alternate.ss_flags = 0;
            if (sigaltstack(&alternate, nullptr) != 0) {
                munmap(memory, stackSize);
            }
        }
    }
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    g_handOffSeconds = handOffSeconds();
    // Built now: built first inside the handler it would allocate and take a lock.
    TraceWriter::instance();
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kCrashSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

void etlSetAppDocPath(const std::string &path)
{
    {
        std::lock_guard<std::mutex> lock(paths().mutex);
        paths().docPath = trimTrailingSeparators(path);
    }
    TraceWriter::instance().documentFolderChanged();
}

std::string etlGetAppDocPath()
{
    {
        std::lock_guard<std::mutex> lock(paths().mutex);
        if (!paths().docPath.empty()) {
            return paths().docPath;
        }
    }
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

std::string etlGetExeFileName()
{
    char resolved[PATH_MAX];
    if (realpath("/proc/self/exe", resolved)) {
        return resolved;
    }
    return std::string();
}

std::string etlGetAppRootPath()
{
    {
        std::lock_guard<std::mutex> lock(paths().mutex);
        if (!paths().rootOverride.empty()) {
            return paths().rootOverride;
        }
    }
    return pathRemoveLastPart(etlGetExeFileName());
}

std::string appRootPath()
{
    return etlGetAppRootPath();
}

std::string etlGetAppDataRootPath()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

void etlOverrideAppRootPath(const std::string &path)
{
    std::lock_guard<std::mutex> lock(paths().mutex);
    paths().rootOverride = trimTrailingSeparators(path);
}

std::string pathRemoveLastPart(const std::string &path)
{
    const std::string trimmed = trimTrailingSeparators(path);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return trimTrailingSeparators(trimmed.substr(0, slash + 1));
}

std::string pathAppend(const std::string &folder, const std::string &relative)
{
    if (folder.empty()) {
        return relative;
    }
    size_t start = 0;
    while (start < relative.size() && relative[start] == '/') {
        ++start;
    }
    std::string joined = trimTrailingSeparators(folder);
    if (start == relative.size()) {
        return joined;
    }
    if (joined.back() != '/') {
        joined.push_back('/');
    }
    joined.append(relative, start, std::string::npos);
    return joined;
}

std::string pathSignature(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::string();
    }
    char text[160];
    std::snprintf(text, sizeof text, "%llx:%llx:%llx:%lld.%09ld:%lld.%09ld",
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    return text;
}

bool pathCreateDirectory(const std::string &path)
{
    if (path.empty()) {
        return false;
    }
    struct stat info;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = slash == std::string::npos ? path : path.substr(0, slash);
        if (!part.empty() && part.back() != '/' && stat(part.c_str(), &info) != 0) {
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// write(2) itself: libc's wrapper also makes every write of a multi-threaded process a cancellation
// point, bookkeeping each trace line would pay and no caller needs.
bool writeAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const long written = syscall(SYS_write, fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

void etlGetLocalTime(SYSTEMTIME *time)
{
    if (!time) {
        return;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    if (!localtime_r(&now.tv_sec, &local)) {
        memset(&local, 0, sizeof(local));
    }
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

int sockRecv(int socket, char *buffer, int length, int flags)
{
    if (socket < 0 || !buffer || length <= 0) {
        return -1;
    }
    for (;;) {
        const ssize_t got = recv(socket, buffer, static_cast<size_t>(length), flags | MSG_DONTWAIT);
        if (got >= 0) {
            return static_cast<int>(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != ENOTSOCK) {
            return -1;
        }
        // A pipe or eventfd as wake-up source: read only what is already there.
        struct pollfd ready = {socket, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN)) {
            return -1;
        }
        const ssize_t read = ::read(socket, buffer, static_cast<size_t>(length));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        return read < 0 ? -1 : static_cast<int>(read);
    }
}
