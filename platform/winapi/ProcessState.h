#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>

namespace winapi {

// The state of a started child, shared by its handles and the thread that reaps it.
struct ProcessState
{
    std::mutex mutex;
    std::condition_variable ended;
    pid_t pid = 0;
    bool done = false;
    int status = 0;
};

} // namespace winapi
