#pragma once

#include <cstdint>

// What the crash hook sends to the dump tool over their private connection, and what it waits for.
// Addresses are in the failing process; the tool reads them once it holds the threads stopped.
struct CrashNotice
{
    static constexpr uint32_t kMagic = 0x4e435444; // "DTCN"
    // The tool's answer: the dump is written (or cannot be) and the threads are let go.
    static constexpr char kDone = 'D';

    uint32_t magic = kMagic;
    uint32_t size = sizeof(CrashNotice);
    int32_t pid = 0;
    int32_t tid = 0;
    int32_t signal = 0;
    int32_t reserved = 0;
    uint64_t siginfoAddress = 0;
    uint64_t ucontextAddress = 0;
};
