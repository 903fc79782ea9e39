// Started by the process tests: records how it was started into the file named by $TARN_PROBE_OUT,
// as NUL-separated "key=value" fields, then exits with $TARN_PROBE_EXIT (default 0).
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string link(const std::string &path)
{
    char buffer[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof(buffer) - 1);
    return length < 0 ? std::string("closed") : std::string(buffer, static_cast<size_t>(length));
}
} // namespace

int main(int argc, char **argv)
{
    const char *out = getenv("TARN_PROBE_OUT");
    if (!out) {
        return 99;
    }
    std::string record;
    auto field = [&record](const std::string &key, const std::string &value) {
        record += key + "=" + value;
        record.push_back('\0');
    };
    field("exe", link("/proc/self/exe"));
    for (int i = 1; i < argc; ++i) {
        field("arg", argv[i]);
    }
    field("stdin", link("/proc/self/fd/0"));
    field("stdout", link("/proc/self/fd/1"));
    field("stderr", link("/proc/self/fd/2"));
    std::string extra;
    for (int fd = 3; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            extra += std::to_string(fd) + " ";
        }
    }
    field("extra", extra);
    char cwd[PATH_MAX];
    field("cwd", getcwd(cwd, sizeof(cwd)) ? cwd : "?");
    const char *marker = getenv("TARN_PROBE_MARK");
    field("mark", marker ? marker : "");
    // Written under a temporary name and renamed, so the test never reads half a record.
    const std::string temporary = std::string(out) + ".part";
    FILE *file = fopen(temporary.c_str(), "wb");
    if (!file) {
        return 98;
    }
    fwrite(record.data(), 1, record.size(), file);
    fclose(file);
    rename(temporary.c_str(), out);
    const char *exitCode = getenv("TARN_PROBE_EXIT");
    return exitCode ? atoi(exitCode) : 0;
}
