#include "RuntimeFolder.h"

#include "ETLLib.h"
#include "RuntimeLocation.h"

#include <unistd.h>

namespace {

const char kTag[] = "W:Runtime";

} // namespace

std::string RuntimeFolder::location()
{
    return RuntimeLocation::folder();
}

std::string RuntimeFolder::path()
{
    std::string why;
    const std::string folder = RuntimeLocation::ensure(&why);
    if (folder.empty())
        etlModuleTrace(4, kTag, "runtime folder %s", why.c_str());
    return folder;
}

bool RuntimeFolder::prepare(const std::string &folder, uid_t owner)
{
    std::string why;
    unsigned tightenedFrom = 0;
    if (!RuntimeLocation::prepare(folder, owner, &why, &tightenedFrom)) {
        etlModuleTrace(4, kTag, "runtime folder %s", why.c_str());
        return false;
    }
    if (tightenedFrom != 0)
        etlModuleTrace(5, "N:Runtime", "runtime folder [%s] mode %03o made private", folder.c_str(),
                       tightenedFrom);
    return true;
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
