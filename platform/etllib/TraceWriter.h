#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Where accepted trace lines go. Each line reaches the kernel with a single write(2) on an O_APPEND
// descriptor, so lines never interleave and nothing waits in user space: a line that has been accepted
// survives any later crash of the process.
class TraceWriter
{
public:
    enum class Destination
    {
        LogFile,
        Console
    };

    // Longest line kept, newline included; longer texts are cut and end in kTruncationMark.
    static constexpr size_t kMaxLineBytes = 16 * 1024;
    static constexpr const char *kTruncationMark = " [truncated]";
    static constexpr uint64_t kDefaultRotateBytes = 8u * 1024u * 1024u;
    static constexpr int kKeptFiles = 4;
    static constexpr const char *kLogFileName = "tarn-desktop.log";

    static TraceWriter &instance();

    // The filter is one relaxed atomic load, so lines above the level cost next to nothing.
    static bool accepts(int level) { return level <= s_level.load(std::memory_order_relaxed); }
    static int setLevel(int level) { return s_level.exchange(level, std::memory_order_relaxed); }
    static int level() { return s_level.load(std::memory_order_relaxed); }

    int redirectToConsole();
    int redirectToLogFile();
    Destination destination() const { return m_destination.load(std::memory_order_relaxed); }
    // The document folder moved: the next line opens the log file below the new one.
    void documentFolderChanged();
    // Tests and tools may rotate sooner or later than the default.
    void setRotateBytes(uint64_t bytes);
    // Runs on the path without the lock after a line's bytes are counted and before they are written, so
    // a test can widen that window; nullptr removes it.
    static void setBeforeAppendForTesting(void (*hook)());
    std::string logFilePath() const;

    // Writes one complete line (ending in '\n').
    void write(const char *line, size_t length);

    // Formats "YYYY-MM-DD hh:mm:ss.zzz <pid>:<tid> " into buffer (at least 64 bytes); returns its length.
    static size_t formatPrefix(char *buffer);
    // Async-signal-safe: records at level 3 ("E:Crash") that the process is dying of a signal, without
    // taking the lock.
    void writeCrashLine(int signalNumber);

    TraceWriter(const TraceWriter &) = delete;
    TraceWriter &operator=(const TraceWriter &) = delete;

private:
    TraceWriter() = default;

    bool ensureOpen();
    bool openLogFile();
    // Lines stop going to the log file; its descriptor stays open for lines already on their way.
    void detachLogFile();
    // Counts length more bytes in the log file, and on their way to it, unless that would take it over
    // the limit.
    bool reserve(size_t length);
    // The same whatever the limit: a line that starts a file is written even when it alone is larger.
    void reserveAnyway(size_t length);
    // The write(2) of length reserved bytes has returned.
    void landed(size_t length);
    // Takes back what was counted in the open file beyond its real size and the lines still on their way.
    void recount(int fd);
    // Makes room for incoming bytes (reserved on return, unless there is no log file).
    void rotateIfNeeded(size_t incoming);
    void writeFailed(int error, const char *line, size_t length);
    void writeConsole(const char *data, size_t length);

    static std::atomic<int> s_level;
    static std::atomic<void (*)()> s_beforeAppend;

    mutable std::mutex m_mutex;
    std::atomic<Destination> m_destination{Destination::LogFile};
    // The descriptor lines are written to, -1 while there is none or lines go elsewhere.
    std::atomic<int> m_fd{-1};
    // The descriptor number of the log file once opened: later files are moved onto the same number.
    int m_heldFd = -1;
    std::string m_path;
    // Bytes counted in the log file before they are written (the low bits), and bytes reserved whose
    // write(2) has not returned (the high bits), in one word so that both are read at once. Lines on
    // their way at a rotation are counted in the new file, though most reach the old one; recount()
    // takes that back when the file seems full, so it never adds up over rotations.
    static constexpr int kInFlightShift = 36;
    static constexpr uint64_t kCountMask = (uint64_t(1) << kInFlightShift) - 1;
    std::atomic<uint64_t> m_state{0};
    std::atomic<uint64_t> m_rotateBytes{kDefaultRotateBytes};
    int64_t m_lastOpenFailure = 0; // monotonic seconds + 1 of the last failed open, 0 when none
    bool m_consoleStalled = false;
};
