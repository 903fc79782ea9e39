#pragma once

#include <sys/types.h>

#include <string>

// The user-private folder that holds the launcher registrations, the relay socket and the heartbeat
// record (where it lies: RuntimeLocation), with a trace for every refusal.
class RuntimeFolder
{
public:
    // The folder, created (0700) when missing; empty when it cannot be used safely.
    static std::string path();
    // Where the folder belongs, without touching the file system.
    static std::string location();
    // Makes sure that `folder` is a real directory (not a link) owned by `owner` with no group or other
    // access, creating it (0700) when missing and taking away group/other bits when present. false, with
    // a trace, when it is refused.
    static bool prepare(const std::string &folder, uid_t owner);
    // Creates, or checks, one private sub-folder of an already prepared folder.
    static bool prepareChild(const std::string &folder, const std::string &child, std::string *result);
};
