// Cost of one accepted trace line against a plain fprintf+fflush of the same text and against
// spdlog's synchronous rotating file sink (flushed per line, so it is as crash-safe), and the cost of
// a filtered line against an accepted one. Rounds alternate between the contenders so that load from
// other processes falls on all of them alike; each figure is the
// median of the rounds.
#include "ETLLib.h"
#include "TraceWriter.h"
#include "uCTraceHelper.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const int kLines = 200000;
const int kRounds = 7;
const char *kText = "line %d of the trace benchmark, some words to give it an ordinary length";

using Clock = std::chrono::steady_clock;

double nanosecondsPerLine(Clock::time_point start, int lines)
{
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / lines;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double runFprintf(const std::string &folder)
{
    const std::string path = folder + "/fprintf.log";
    FILE *file = fopen(path.c_str(), "a");
    if (!file) {
        perror("fopen");
        exit(1);
    }
    // The same bytes as a trace line: a prefix of the same width, the tag and the formatted text.
    const std::string format = "2026-12-08 16:01:02.123 " + std::to_string(getpid()) + ":" +
                               std::to_string(getpid()) + " N:Bench " + kText + "\n";
    const auto start = Clock::now();
    for (int i = 0; i < kLines; ++i) {
        fprintf(file, format.c_str(), i);
        fflush(file);
    }
    const double result = nanosecondsPerLine(start, kLines);
    fclose(file);
    return result;
}

double runTrace(int level)
{
    const auto start = Clock::now();
    for (int i = 0; i < kLines; ++i) {
        etlModuleTrace(level, "N:Bench", kText, i);
    }
    return nanosecondsPerLine(start, kLines);
}

double runSpdlog(const std::shared_ptr<spdlog::logger> &logger)
{
    const auto start = Clock::now();
    for (int i = 0; i < kLines; ++i) {
        logger->info("N:Bench line {} of the trace benchmark, some words to give it an ordinary length", i);
    }
    return nanosecondsPerLine(start, kLines);
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
    etlSetAppDocPath(folder);
    uCTraceHelper::getInstance().ResetTraceLevel(5);
    uCTraceHelper::getInstance().RedirectToShareMemory();

    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        std::string(folder) + "/spdlog.log", TraceWriter::kDefaultRotateBytes, TraceWriter::kKeptFiles);
    auto logger = std::make_shared<spdlog::logger>("bench", sink);
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %P:%t %v");
    logger->flush_on(spdlog::level::trace);

    std::vector<double> fprintfNs, traceNs, filteredNs, spdlogNs;
    // Every run starts with no dirty pages, so none of them pays for another's writeback, and the
    // order changes from round to round.
    for (int round = 0; round < kRounds; ++round) {
        if (round % 2 == 0) {
            sync();
            fprintfNs.push_back(runFprintf(folder));
        }
        sync();
        traceNs.push_back(runTrace(5));
        filteredNs.push_back(runTrace(7));
        if (round % 2 == 1) {
            sync();
            fprintfNs.push_back(runFprintf(folder));
        }
        sync();
        spdlogNs.push_back(runSpdlog(logger));
    }
    const double fprintfMedian = median(fprintfNs);
    const double traceMedian = median(traceNs);
    const double filteredMedian = median(filteredNs);
    const double spdlogMedian = median(spdlogNs);
    printf("trace_accepted_vs_fprintf: ratio=%.3f goal<=1.0\n", traceMedian / fprintfMedian);
    printf("trace_filtered_vs_accepted: ratio=%.4f goal<=0.01\n", filteredMedian / traceMedian);
    printf("trace_accepted_vs_spdlog_rotating: ratio=%.3f goal<=1.0\n", traceMedian / spdlogMedian);
    fprintf(stderr, "ns per line: trace %.0f, filtered %.1f, fprintf+fflush %.0f, spdlog rotating %.0f\n",
            traceMedian, filteredMedian, fprintfMedian, spdlogMedian);

    logger.reset();
    sink.reset();
    const std::string command = std::string("rm -rf '") + folder + "'";
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", folder);
    }
    return 0;
}
