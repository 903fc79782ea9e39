#pragma once

#include <elfutils/libdwfl.h>

#include <string>

// The tool waits for most of its life and unwinds at most once, so libdw (and the compression
// libraries under it) is loaded on the first backtrace rather than on every start of the program.
#define TARN_DWFL_FUNCTIONS(X)                                                                               \
    X(dwfl_begin)                                                                                            \
    X(dwfl_end)                                                                                              \
    X(dwfl_errmsg)                                                                                           \
    X(dwfl_report_begin)                                                                                     \
    X(dwfl_report_end)                                                                                       \
    X(dwfl_linux_proc_report)                                                                                \
    X(dwfl_linux_proc_attach)                                                                                \
    X(dwfl_linux_proc_find_elf)                                                                              \
    X(dwfl_standard_find_debuginfo)                                                                          \
    X(dwfl_getthread_frames)                                                                                 \
    X(dwfl_frame_pc)                                                                                         \
    X(dwfl_addrmodule)                                                                                       \
    X(dwfl_module_addrinfo)                                                                                  \
    X(dwfl_module_info)                                                                                      \
    X(dwfl_module_getsrc)                                                                                    \
    X(dwfl_lineinfo)

class DwflLibrary
{
public:
    // The loaded library, or null with *error saying what is missing. A failure is not cached: a
    // later call tries again.
    static const DwflLibrary *get(std::string *error);

#define TARN_DWFL_MEMBER(name) decltype(&::name) name = nullptr;
    TARN_DWFL_FUNCTIONS(TARN_DWFL_MEMBER)
#undef TARN_DWFL_MEMBER

private:
    DwflLibrary() = default;
};
