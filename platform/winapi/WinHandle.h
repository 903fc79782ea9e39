#pragma once

#include "UniqueFd.h"

#include <cstdint>
#include <memory>
#include <string>

namespace winapi {

struct ProcessState;

enum class HandleKind
{
    Mapping,
    Process
};

struct WinHandle
{
    explicit WinHandle(HandleKind k) : kind(k) {}
    HandleKind kind;
    UniqueFd fd;
    std::string name; // path of a named mapping in the runtime folder, empty when anonymous
    uint64_t size = 0;
    std::shared_ptr<ProcessState> process;
};

} // namespace winapi
