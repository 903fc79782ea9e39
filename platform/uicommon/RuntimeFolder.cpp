#include "RuntimeFolder.h"

#include "ETLLib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const char kTag[] = "W:Runtime";

bool usableBase(const char *base)
{
    if (!base || base[0] != '/')
        return false;
    struct stat st;
    return ::stat(base, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string RuntimeFolder::location()
{
    const char *base = ::getenv("XDG_RUNTIME_DIR");
    if (usableBase(base))
        return std::string(base) + "/tarn-desktop";
    return "/tmp/tarn-desktop-" + std::to_string(::getuid());
}

std::string RuntimeFolder::path()
{
    const std::string folder = location();
    return prepare(folder, ::getuid()) ? folder : std::string();
}

bool RuntimeFolder::prepare(const std::string &folder, uid_t owner)
{
    if (folder.empty() || folder[0] != '/') {
        etlModuleTrace(4, kTag, "runtime folder [%s] refused: not an absolute path", folder.c_str());
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        etlModuleTrace(4, kTag, "runtime folder [%s] cannot be created: %s", folder.c_str(), strerror(errno));
        return false;
    }
    // O_NOFOLLOW refuses a link planted in the last component; the checks run on what was opened, so a
    // swap between check and use cannot slip through.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        etlModuleTrace(4, kTag, "runtime folder [%s] refused: %s", folder.c_str(),
                       errno == ELOOP || errno == ENOTDIR ? "not a real directory" : strerror(errno));
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        etlModuleTrace(4, kTag, "runtime folder [%s] refused: %s", folder.c_str(), strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        etlModuleTrace(4, kTag, "runtime folder [%s] refused: not a directory", folder.c_str());
        ok = false;
    } else if (st.st_uid != owner) {
        etlModuleTrace(4, kTag, "runtime folder [%s] refused: owned by uid %u, not %u", folder.c_str(),
                       static_cast<unsigned>(st.st_uid), static_cast<unsigned>(owner));
        ok = false;
    } else if ((st.st_mode & 077) != 0) {
        if (::fchmod(fd, 0700) != 0) {
            etlModuleTrace(4, kTag, "runtime folder [%s] refused: mode %03o cannot be made private: %s",
                           folder.c_str(), static_cast<unsigned>(st.st_mode & 0777), strerror(errno));
            ok = false;
        } else {
            etlModuleTrace(5, "N:Runtime", "runtime folder [%s] mode %03o made private", folder.c_str(),
                           static_cast<unsigned>(st.st_mode & 0777));
        }
    }
    ::close(fd);
    return ok;
}

bool RuntimeFolder::prepareChild(const std::string &folder, const std::string &child, std::string *result)
{
    if (child.empty() || child.find('/') != std::string::npos || child == "." || child == "..") {
        etlModuleTrace(4, kTag, "runtime sub-folder [%s] refused", child.c_str());
        return false;
    }
    const std::string full = folder + "/" + child;
    if (!prepare(full, ::getuid()))
        return false;
    if (result)
        *result = full;
    return true;
}
