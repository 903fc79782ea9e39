#include "TraceWriter.h"

#include "ETLLib.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

// Why not spdlog's rotating sink: it keeps lines in a FILE buffer until flushed, so a crash loses what
// is pending unless every line is flushed, and then it costs more per line than this writer, which
// formats on the stack and hands each line to the kernel with one write(2) (bench/trace compares both).

std::atomic<int> TraceWriter::s_level{5};
std::atomic<void (*)()> TraceWriter::s_beforeAppend{nullptr};

namespace {

std::atomic<pid_t> g_pid{0};
std::atomic<long> g_utcOffset{0}; // seconds east of UTC at the last formatted line, for the crash line

// What every line of a thread starts with, kept per thread: the local date and time to the second,
// valid while the second lasts, and the ids.
struct LinePrefix
{
    time_t second = -1;
    char dateTime[20];
    pid_t pid = 0; // 0: the ids below are to be formatted (a new thread, or a forked child)
    size_t idsLength = 0;
    char ids[32]; // " <pid>:<tid> "
};
thread_local LinePrefix t_prefix;

void resetIdsInChild()
{
    g_pid.store(0, std::memory_order_relaxed);
    t_prefix.pid = 0;
}

pid_t currentPid()
{
    pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = pthread_atfork(nullptr, nullptr, resetIdsInChild);
        (void)registered;
        pid = getpid();
        g_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// Writes value in decimal, zero-padded to width digits; returns the characters written.
size_t putNumber(char *out, unsigned long value, int width)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < 24);
    while (count < width && count < 24) {
        digits[count++] = '0';
    }
    for (int i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return static_cast<size_t>(count);
}

// "YYYY-MM-DD hh:mm:ss" from broken-down fields, without any library call.
size_t putDateTime(char *out, long year, int month, int day, int hour, int minute, int second)
{
    size_t used = putNumber(out, static_cast<unsigned long>(year), 4);
    out[used++] = '-';
    used += putNumber(out + used, static_cast<unsigned long>(month), 2);
    out[used++] = '-';
    used += putNumber(out + used, static_cast<unsigned long>(day), 2);
    out[used++] = ' ';
    used += putNumber(out + used, static_cast<unsigned long>(hour), 2);
    out[used++] = ':';
    used += putNumber(out + used, static_cast<unsigned long>(minute), 2);
    out[used++] = ':';
    used += putNumber(out + used, static_cast<unsigned long>(second), 2);
    return used;
}

size_t putIdsAndMillis(char *out, long milliseconds, pid_t pid, pid_t tid)
{
    size_t used = 0;
    out[used++] = '.';
    used += putNumber(out + used, static_cast<unsigned long>(milliseconds), 3);
    out[used++] = ' ';
    used += putNumber(out + used, static_cast<unsigned long>(pid), 1);
    out[used++] = ':';
    used += putNumber(out + used, static_cast<unsigned long>(tid), 1);
    out[used++] = ' ';
    return used;
}

void *closeDescriptor(void *fd)
{
    close(static_cast<int>(reinterpret_cast<intptr_t>(fd)));
    return nullptr;
}

// The last close of a removed file frees its pages and blocks; a short-lived thread does that.
void closeInBackground(int fd)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        close(fd);
        return;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const int created = pthread_create(&thread, &attributes, &closeDescriptor,
                                       reinterpret_cast<void *>(static_cast<intptr_t>(fd)));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        close(fd);
    }
}

int64_t monotonicSeconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

} // namespace

TraceWriter &TraceWriter::instance()
{
    // Never destroyed: threads and the crash hook may still trace while static objects go away.
    static TraceWriter *writer = new TraceWriter();
    return *writer;
}

size_t TraceWriter::formatPrefix(char *buffer)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    LinePrefix &prefix = t_prefix;
    if (prefix.second != now.tv_sec) {
        struct tm local;
        if (!localtime_r(&now.tv_sec, &local)) {
            memset(&local, 0, sizeof(local));
        }
        putDateTime(prefix.dateTime, local.tm_year + 1900L, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec);
        prefix.second = now.tv_sec;
        g_utcOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
    }
    if (prefix.pid == 0) {
        const pid_t pid = currentPid();
        const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
        size_t used = 0;
        prefix.ids[used++] = ' ';
        used += putNumber(prefix.ids + used, static_cast<unsigned long>(pid), 1);
        prefix.ids[used++] = ':';
        used += putNumber(prefix.ids + used, static_cast<unsigned long>(tid), 1);
        prefix.ids[used++] = ' ';
        prefix.idsLength = used;
        prefix.pid = pid;
    }
    memcpy(buffer, prefix.dateTime, 19);
    const unsigned milliseconds = static_cast<unsigned>(now.tv_nsec / 1000000);
    buffer[19] = '.';
    buffer[20] = static_cast<char>('0' + milliseconds / 100);
    buffer[21] = static_cast<char>('0' + milliseconds / 10 % 10);
    buffer[22] = static_cast<char>('0' + milliseconds % 10);
    memcpy(buffer + 23, prefix.ids, prefix.idsLength);
    return 23 + prefix.idsLength;
}

int TraceWriter::redirectToConsole()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_destination.store(Destination::Console, std::memory_order_relaxed);
    detachLogFile();
    return 0;
}

int TraceWriter::redirectToLogFile()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_destination.store(Destination::LogFile, std::memory_order_relaxed);
    m_lastOpenFailure = 0;
    return ensureOpen() ? 0 : -1;
}

void TraceWriter::documentFolderChanged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    detachLogFile();
    m_lastOpenFailure = 0;
}

void TraceWriter::setBeforeAppendForTesting(void (*hook)())
{
    s_beforeAppend.store(hook);
}

void TraceWriter::setRotateBytes(uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rotateBytes.store(bytes ? std::min(bytes, kCountMask / 2) : kDefaultRotateBytes,
                        std::memory_order_relaxed);
}

std::string TraceWriter::logFilePath() const
{
    return etlGetAppDocPath() + "/log/" + kLogFileName;
}

void TraceWriter::detachLogFile()
{
    m_fd.store(-1, std::memory_order_relaxed);
}

bool TraceWriter::reserve(size_t length)
{
    const uint64_t limit = m_rotateBytes.load(std::memory_order_relaxed);
    const uint64_t both = length + (uint64_t(length) << kInFlightShift);
    // Sequentially consistent: a writer whose count follows a rotation's also writes after its swap.
    uint64_t state = m_state.load();
    while ((state & kCountMask) + length <= limit) {
        if (m_state.compare_exchange_weak(state, state + both)) {
            return true;
        }
    }
    return false;
}

void TraceWriter::reserveAnyway(size_t length)
{
    m_state.fetch_add(length + (uint64_t(length) << kInFlightShift));
}

void TraceWriter::landed(size_t length)
{
    m_state.fetch_sub(uint64_t(length) << kInFlightShift);
}

void TraceWriter::recount(int fd)
{
    // Read before the file: a line that reaches the file later was on its way then, or is reserved
    // after and so counted on top. Only this lock's holder lowers the count, so it cannot go below.
    const uint64_t state = m_state.load();
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return;
    }
    const uint64_t bound = static_cast<uint64_t>(info.st_size) + (state >> kInFlightShift);
    const uint64_t counted = state & kCountMask;
    if (counted > bound) {
        m_state.fetch_sub(counted - bound);
    }
}

bool TraceWriter::openLogFile()
{
    m_path = logFilePath();
    pathCreateDirectory(pathRemoveLastPart(m_path));
    // O_NONBLOCK: a FIFO planted at the path would otherwise hold the open until someone reads it.
    const int fd = open(m_path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return false;
    }
    // A regular file never blocks anyway; clearing the flag keeps a full disk reported as it was.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        fchmod(fd, 0600);
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (m_heldFd < 0 || fd == m_heldFd) {
        // First open, or the held number was closed behind our back and the kernel handed it out again.
        m_heldFd = fd;
        uint64_t state = m_state.load();
        while (!m_state.compare_exchange_weak(state, (state & ~kCountMask) | size)) {
        }
    } else {
        // The new file takes the number of the old one, so a writer that read the number just before
        // never writes into whatever a reused number would belong to. Lines reserved against the old
        // file that have not reached it yet may still land in the new one: they stay counted.
        struct stat old;
        const bool known = fstat(m_heldFd, &old) == 0;
        if (dup3(fd, m_heldFd, O_CLOEXEC) < 0) {
            close(fd);
            return false;
        }
        close(fd);
        const uint64_t arrived = known ? static_cast<uint64_t>(old.st_size) : UINT64_MAX;
        uint64_t state = m_state.load();
        for (;;) {
            const uint64_t reserved = state & kCountMask;
            const uint64_t carried = reserved > arrived ? reserved - arrived : 0;
            if (m_state.compare_exchange_weak(state,
                                              (state & ~kCountMask) | std::min(size + carried, kCountMask))) {
                break;
            }
        }
    }
    m_fd.store(m_heldFd, std::memory_order_release);
    return true;
}

bool TraceWriter::ensureOpen()
{
    if (m_fd.load(std::memory_order_relaxed) >= 0) {
        return true;
    }
    // After a failure, try again at most once a second so a missing disk does not cost every line.
    const int64_t now = monotonicSeconds() + 1;
    if (m_lastOpenFailure != 0 && now - m_lastOpenFailure < 1) {
        return false;
    }
    if (openLogFile()) {
        m_lastOpenFailure = 0;
        return true;
    }
    m_lastOpenFailure = now;
    return false;
}

void TraceWriter::rotateIfNeeded(size_t incoming)
{
    if (reserve(incoming)) {
        return;
    }
    const int fd = m_fd.load(std::memory_order_relaxed);
    recount(fd);
    if (reserve(incoming)) {
        return;
    }
    struct stat open;
    struct stat named;
    // Another process sharing the log may have rotated it already: follow it to the new file.
    if (fstat(fd, &open) == 0 &&
        (stat(m_path.c_str(), &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev)) {
        detachLogFile();
        if (!openLogFile() || reserve(incoming)) {
            return;
        }
    }
    // The oldest file goes first. Freeing a full file's pages and blocks takes milliseconds, which the
    // descriptor held here lets a helper thread pay instead of the caller whose line rotates. With no
    // file left at any target, the renames below also spare the file system the flush it makes before
    // one file replaces another.
    const std::string oldest = m_path + "." + std::to_string(kKeptFiles);
    const int held = ::open(oldest.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    unlink(oldest.c_str());
    if (held >= 0) {
        closeInBackground(held);
    }
    for (int i = kKeptFiles - 1; i >= 1; --i) {
        const std::string from = m_path + "." + std::to_string(i);
        const std::string to = m_path + "." + std::to_string(i + 1);
        rename(from.c_str(), to.c_str());
    }
    if (rename(m_path.c_str(), (m_path + ".1").c_str()) != 0) {
        // Cannot rotate (read-only folder): keep appending rather than lose lines, try again later.
        uint64_t state = m_state.load();
        while (!m_state.compare_exchange_weak(state, (state & ~kCountMask) | (state >> kInFlightShift))) {
        }
        reserveAnyway(incoming);
        return;
    }
    detachLogFile();
    if (openLogFile()) {
        reserveAnyway(incoming);
    }
}

void TraceWriter::writeConsole(const char *data, size_t length)
{
    // A full pipe on standard error must not stop the program: wait briefly once, then drop lines
    // until the reader catches up.
    while (length > 0) {
        struct pollfd ready = {STDERR_FILENO, POLLOUT, 0};
        const int result = poll(&ready, 1, m_consoleStalled ? 0 : 100);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0 || (ready.revents & (POLLERR | POLLNVAL))) {
            m_consoleStalled = true;
            return;
        }
        const ssize_t written = ::write(STDERR_FILENO, data, length);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return;
        }
        m_consoleStalled = false;
        data += written;
        length -= static_cast<size_t>(written);
    }
}

void TraceWriter::write(const char *line, size_t length)
{
    // The common case takes no lock: the kernel appends one write(2) on an O_APPEND file as a whole, the
    // descriptor number stays valid for the life of the process, and the bytes reserved first keep the
    // file within its limit. Rotation, opening, the console and failures are handled under the lock.
    if (m_destination.load(std::memory_order_relaxed) == Destination::LogFile) {
        const int fd = m_fd.load(std::memory_order_acquire);
        if (fd >= 0 && reserve(length)) {
            if (void (*hook)() = s_beforeAppend.load(std::memory_order_relaxed)) {
                hook();
            }
            const bool written = writeAll(fd, line, length);
            const int error = errno;
            landed(length);
            if (!written) {
                std::lock_guard<std::mutex> lock(m_mutex);
                writeFailed(error, line, length);
            }
            return;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_destination.load(std::memory_order_relaxed) == Destination::Console || !ensureOpen()) {
        writeConsole(line, length);
        return;
    }
    rotateIfNeeded(length);
    const int fd = m_fd.load(std::memory_order_relaxed);
    if (fd < 0) {
        writeConsole(line, length);
        return;
    }
    const bool written = writeAll(fd, line, length);
    const int error = errno;
    landed(length);
    if (!written) {
        writeFailed(error, line, length);
    }
}

void TraceWriter::writeFailed(int error, const char *line, size_t length)
{
    // Disk full or the file went away: the line still goes somewhere.
    writeConsole(line, length);
    if (error != ENOSPC && error != EDQUOT) {
        detachLogFile();
    }
}

void TraceWriter::writeCrashLine(int signalNumber)
{
    if (!accepts(3)) {
        return;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // Civil date from days since the epoch (H. Hinnant's algorithm): localtime is not signal-safe.
    const long local = now.tv_sec + g_utcOffset.load(std::memory_order_relaxed);
    long days = local / 86400;
    long secondsOfDay = local % 86400;
    if (secondsOfDay < 0) {
        secondsOfDay += 86400;
        --days;
    }
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char line[160];
    size_t used = putDateTime(line, year, month, day, static_cast<int>(secondsOfDay / 3600),
                              static_cast<int>(secondsOfDay / 60 % 60), static_cast<int>(secondsOfDay % 60));
    used += putIdsAndMillis(line + used, now.tv_nsec / 1000000, getpid(),
                            static_cast<pid_t>(syscall(SYS_gettid)));
    const char text[] = "E:Crash fatal signal ";
    memcpy(line + used, text, sizeof(text) - 1);
    used += sizeof(text) - 1;
    used += putNumber(line + used, static_cast<unsigned long>(signalNumber), 1);
    line[used++] = '\n';
    const int fd = m_fd.load(std::memory_order_relaxed);
    if (m_destination.load(std::memory_order_relaxed) == Destination::LogFile && fd >= 0) {
        writeAll(fd, line, used);
    } else {
        writeAll(STDERR_FILENO, line, used);
    }
}
