#include "RuntimeLocation.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char kFolderName[] = "tarn-desktop";

bool absolute(const char *path)
{
    return path && path[0] == '/';
}

bool isDirectory(const char *path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string homeFolder()
{
    const char *home = ::getenv("HOME");
    if (absolute(home))
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        absolute(found->pw_dir))
        return found->pw_dir;
    return std::string();
}

// The user's cache folder; empty when there is no home to put it in.
std::string cacheFolder()
{
    const char *cache = ::getenv("XDG_CACHE_HOME");
    if (absolute(cache))
        return cache;
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.cache";
}

bool usesRuntimeDir()
{
    const char *base = ::getenv("XDG_RUNTIME_DIR");
    return absolute(base) && isDirectory(base);
}

} // namespace

std::string RuntimeLocation::folder()
{
    if (usesRuntimeDir())
        return std::string(::getenv("XDG_RUNTIME_DIR")) + "/" + kFolderName;
    const std::string cache = cacheFolder();
    return cache.empty() ? std::string() : cache + "/" + kFolderName + "/run";
}

std::string RuntimeLocation::objectPath(const std::string &name)
{
    if (name.empty() || name.size() > 250 || name.find('/') != std::string::npos || name == "." ||
        name == "..")
        return std::string();
    const std::string base = folder();
    return base.empty() ? std::string() : base + "/" + name;
}

std::string RuntimeLocation::ensure(std::string *why)
{
    std::string reason;
    std::string *out = why ? why : &reason;
    const std::string base = folder();
    if (base.empty()) {
        *out = "no runtime folder: XDG_RUNTIME_DIR is unset and no home folder is known";
        return std::string();
    }
    if (!usesRuntimeDir()) {
        // The cache folder itself belongs to the user and may be a link to another disk; only what lies
        // below it is ours to create and check.
        const std::string cache = cacheFolder();
        if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
            *out = "[" + cache + "] cannot be created: " + strerror(errno);
            return std::string();
        }
        if (!prepare(cache + "/" + kFolderName, ::getuid(), out, nullptr))
            return std::string();
    }
    return prepare(base, ::getuid(), out, nullptr) ? base : std::string();
}

bool RuntimeLocation::prepare(const std::string &folder, uid_t owner, std::string *why,
                              unsigned *tightenedFrom)
{
    std::string reason;
    std::string *out = why ? why : &reason;
    if (tightenedFrom)
        *tightenedFrom = 0;
    if (folder.empty() || folder[0] != '/') {
        *out = "[" + folder + "] refused: not an absolute path";
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *out = "[" + folder + "] cannot be created: " + strerror(errno);
        return false;
    }
    // O_NOFOLLOW refuses a link planted in the last component; the checks run on what was opened, so a
    // swap between check and use cannot slip through.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *out = "[" + folder + "] refused: " +
               (errno == ELOOP || errno == ENOTDIR ? std::string("not a real directory") : strerror(errno));
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        *out = "[" + folder + "] refused: " + strerror(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        *out = "[" + folder + "] refused: not a directory";
        ok = false;
    } else if (st.st_uid != owner) {
        *out = "[" + folder + "] refused: owned by uid " + std::to_string(st.st_uid) + ", not " +
               std::to_string(owner);
        ok = false;
    } else if ((st.st_mode & 077) != 0) {
        if (::fchmod(fd, 0700) != 0) {
            char mode[8];
            snprintf(mode, sizeof(mode), "%03o", static_cast<unsigned>(st.st_mode & 0777));
            *out = "[" + folder + "] refused: mode " + mode + " cannot be made private: " + strerror(errno);
            ok = false;
        } else if (tightenedFrom) {
            *tightenedFrom = static_cast<unsigned>(st.st_mode & 0777);
        }
    }
    ::close(fd);
    return ok;
}
