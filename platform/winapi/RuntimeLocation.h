#pragma once

#include <sys/types.h>

#include <string>

// Where this user's runtime objects live (launcher registrations, the relay socket, the heartbeat record):
// $XDG_RUNTIME_DIR/tarn-desktop, else <$XDG_CACHE_HOME, default ~/.cache>/tarn-desktop/run. Both lie in
// places only this user can create names in, never in a shared folder such as /tmp. The program, the dump
// tool and the watchdog all find the folder by this one rule.
class RuntimeLocation
{
public:
    // The folder, without touching the file system; empty when no home folder is known.
    static std::string folder();
    // Where a named per-user object (e.g. "wddmpsharememory<pid>") lives; empty when the name is not a
    // single file name or there is no folder.
    static std::string objectPath(const std::string &name);

    // The folder, created (0700, with the parents of the fallback) when missing and checked; empty, with
    // the reason in *why, when it cannot be used safely.
    static std::string ensure(std::string *why);

    // Makes sure `folder` is a real directory (not a link) owned by `owner` with no group or other access,
    // creating it (0700) when missing and taking away group/other bits when present. false, with the
    // reason in *why, when it is refused; *tightenedFrom gets the old mode bits when they were taken away
    // (0 otherwise).
    static bool prepare(const std::string &folder, uid_t owner, std::string *why, unsigned *tightenedFrom);
};
