// Cost of one accepted trace line against a plain fprintf+fflush of the same bytes and against spdlog's
// synchronous rotating file sink (flushed per line, so it is as crash-safe), and the cost of a filtered
// line against an accepted one.
//
// The machine this runs on is shared, so a ratio of two long runs taken seconds apart mostly measures
// the neighbours. Instead every round runs one short block of lines per contender back to back, in an
// order that changes from round to round, and each figure is the median over the rounds of the ratio
// within a round. All three write into the same folder, start each block with no dirty pages, keep
// their file open for the whole run and run in a process that already has a second thread, as the
// program always has (stdio and libc then take their locking paths for everybody, not only for the
// trace after its first rotation started a helper thread).
#include "ETLLib.h"
#include "TraceWriter.h"
#include "uCTraceHelper.h"

#include <dirent.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const int kLinesPerBlock = 10000;
const int kFilteredLines = 200000;
const int kRounds = 101;
const char *kText = "line %d of the trace benchmark, some words to give it an ordinary length";

// Nanoseconds a line, by the wall clock and by the processor time of the whole process (every thread,
// user and kernel). The second leaves out the time other programs on the machine took the processor
// away, which is what makes the wall clock swing on a shared machine.
struct Cost
{
    double wall;
    double processor;
};

double nanoseconds(clockid_t clock)
{
    struct timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

int threadCount()
{
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks) {
        return -1;
    }
    int count = 0;
    while (const dirent *entry = readdir(tasks)) {
        count += entry->d_name[0] != '.';
    }
    closedir(tasks);
    return count;
}

class Stopwatch
{
public:
    explicit Stopwatch(int baseThreads)
        : m_baseThreads(baseThreads), m_wall(nanoseconds(CLOCK_MONOTONIC)),
          m_processor(nanoseconds(CLOCK_PROCESS_CPUTIME_ID))
    {
    }

    // A block ends when the helper threads it started (the trace frees a rotated-out file on one) have
    // ended too, so their work counts for the block that caused it.
    Cost perLine(int lines) const
    {
        for (int i = 0; i < 10000 && threadCount() > m_baseThreads; ++i) {
            usleep(100);
        }
        return {(nanoseconds(CLOCK_MONOTONIC) - m_wall) / lines,
                (nanoseconds(CLOCK_PROCESS_CPUTIME_ID) - m_processor) / lines};
    }

private:
    int m_baseThreads;
    double m_wall;
    double m_processor;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double quartile(std::vector<double> values, int which)
{
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) * static_cast<size_t>(which) / 4];
}

long fileSize(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// A log line made with fprintf carries the time it was written, as a trace line does, and gets it the
// way the trace does: the clock is read for every line, the date and second are formatted again only
// when the second changes, and the milliseconds are put in by hand (into the format's own first bytes,
// so fprintf's work is the same as for a fixed prefix).
Cost runFprintf(int threads, FILE *file, std::string *format, int lines)
{
    const Stopwatch watch(threads);
    time_t second = -1;
    char *stamp = &(*format)[0];
    for (int i = 0; i < lines; ++i) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        if (now.tv_sec != second) {
            struct tm local;
            localtime_r(&now.tv_sec, &local);
            char dateTime[32];
            strftime(dateTime, sizeof dateTime, "%Y-%m-%d %H:%M:%S", &local);
            memcpy(stamp, dateTime, 19);
            second = now.tv_sec;
        }
        const unsigned milliseconds = static_cast<unsigned>(now.tv_nsec / 1000000);
        stamp[20] = static_cast<char>('0' + milliseconds / 100);
        stamp[21] = static_cast<char>('0' + milliseconds / 10 % 10);
        stamp[22] = static_cast<char>('0' + milliseconds % 10);
        fprintf(file, stamp, i);
        fflush(file);
    }
    return watch.perLine(lines);
}

Cost runTrace(int threads, int level, int lines)
{
    const Stopwatch watch(threads);
    for (int i = 0; i < lines; ++i) {
        etlModuleTrace(level, "N:Bench", kText, i);
    }
    return watch.perLine(lines);
}

Cost runSpdlog(int threads, spdlog::logger &logger, int lines)
{
    const Stopwatch watch(threads);
    for (int i = 0; i < lines; ++i) {
        logger.info("N:Bench line {} of the trace benchmark, some words to give it an ordinary length", i);
    }
    return watch.perLine(lines);
}

// A thread that only waits, so the whole run is multi-threaded from its first line.
class ParkedThread
{
public:
    ParkedThread()
        : m_thread([this] {
              std::unique_lock<std::mutex> lock(m_mutex);
              m_wake.wait(lock, [this] { return m_done; });
          })
    {
    }
    ~ParkedThread()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

int measure(const char *folder)
{
    ParkedThread parked;
    etlSetAppDocPath(folder);
    uCTraceHelper::getInstance().ResetTraceLevel(5);
    uCTraceHelper::getInstance().RedirectToShareMemory();
    const std::string logFolder = std::string(folder) + "/log";
    const std::string tracePath = TraceWriter::instance().logFilePath();

    const std::string fprintfPath = logFolder + "/fprintf.log";
    FILE *file = fopen(fprintfPath.c_str(), "a");
    if (!file) {
        perror("fopen");
        return 1;
    }
    // The bytes of a trace line: the time, the ids, the tag and the formatted text.
    std::string format = "2026-12-08 16:01:02.123 " + std::to_string(getpid()) + ":" +
                         std::to_string(getpid()) + " N:Bench " + kText + "\n";

    const std::string spdlogPath = logFolder + "/spdlog.log";
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        spdlogPath, TraceWriter::kDefaultRotateBytes, TraceWriter::kKeptFiles);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("%Y-%m-%d %H:%M:%S.%e %P:%t %v");
    logger.flush_on(spdlog::level::trace);

    // Warm-up, not counted; it also proves that all three wrote the same number of bytes.
    const int threads = threadCount();
    runTrace(threads, 5, kLinesPerBlock);
    runFprintf(threads, file, &format, kLinesPerBlock);
    runSpdlog(threads, logger, kLinesPerBlock);
    const long traceBytes = fileSize(tracePath);
    if (traceBytes <= 0 || traceBytes != fileSize(fprintfPath) || traceBytes != fileSize(spdlogPath)) {
        fprintf(stderr, "the contenders wrote different lines: trace %ld, fprintf %ld, spdlog %ld bytes\n",
                traceBytes, fileSize(fprintfPath), fileSize(spdlogPath));
        fclose(file);
        return 1;
    }

    std::vector<double> traceNs, fprintfNs, spdlogNs, filteredNs, traceWallNs, fprintfWallNs;
    std::vector<double> toFprintf, toSpdlog, filteredToAccepted, wallToFprintf;
    std::array<int, 3> order = {0, 1, 2};
    for (int round = 0; round < kRounds; ++round) {
        Cost trace{}, plain{}, rotating{};
        for (const int contender : order) {
            sync();
            if (contender == 0) {
                trace = runTrace(threads, 5, kLinesPerBlock);
            } else if (contender == 1) {
                plain = runFprintf(threads, file, &format, kLinesPerBlock);
            } else {
                rotating = runSpdlog(threads, logger, kLinesPerBlock);
            }
        }
        std::next_permutation(order.begin(), order.end());
        const Cost filtered = runTrace(threads, 7, kFilteredLines);
        traceNs.push_back(trace.processor);
        fprintfNs.push_back(plain.processor);
        spdlogNs.push_back(rotating.processor);
        filteredNs.push_back(filtered.processor);
        traceWallNs.push_back(trace.wall);
        fprintfWallNs.push_back(plain.wall);
        toFprintf.push_back(trace.processor / plain.processor);
        toSpdlog.push_back(trace.processor / rotating.processor);
        filteredToAccepted.push_back(filtered.processor / trace.processor);
        wallToFprintf.push_back(trace.wall / plain.wall);
    }
    fclose(file);

    printf("trace_accepted_vs_fprintf: ratio=%.3f goal<=1.0\n", median(toFprintf));
    printf("trace_filtered_vs_accepted: ratio=%.4f goal<=0.01\n", median(filteredToAccepted));
    printf("trace_accepted_vs_spdlog_rotating: ratio=%.3f goal<=1.0\n", median(toSpdlog));
    fprintf(
        stderr,
        "processor ns a line (median of %d rounds of %d lines): trace %.0f, filtered %.1f, fprintf+fflush "
        "%.0f, spdlog rotating %.0f; trace/fprintf quartiles %.3f %.3f %.3f\n",
        kRounds, kLinesPerBlock, median(traceNs), median(filteredNs), median(fprintfNs), median(spdlogNs),
        quartile(toFprintf, 1), quartile(toFprintf, 2), quartile(toFprintf, 3));
    fprintf(stderr,
            "wall-clock ns a line: trace %.0f, fprintf+fflush %.0f; trace/fprintf quartiles %.3f %.3f %.3f\n",
            median(traceWallNs), median(fprintfWallNs), quartile(wallToFprintf, 1),
            quartile(wallToFprintf, 2), quartile(wallToFprintf, 3));
    return 0;
}

} // namespace

int main()
{
    char pattern[] = "/tmp/tarn-trace-bench-XXXXXX";
    const char *folder = mkdtemp(pattern);
    if (!folder) {
        perror("mkdtemp");
        return 1;
    }
    const int status = measure(folder);
    const std::string command = std::string("rm -rf '") + folder + "'";
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", folder);
    }
    return status;
}
