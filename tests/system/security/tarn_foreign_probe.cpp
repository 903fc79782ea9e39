// Tries, as whatever user runs it, what another user must not be able to do to a running program:
// connect to its relay socket, open its heartbeat record, read its files. One line per attempt:
// "<what> <errno>", 0 meaning it worked.
//
//   tarn-foreign-probe <socket path> <record path> [file ...]
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int tryConnect(const char *path)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof(address.sun_path)) {
        return ENAMETOOLONG;
    }
    std::strcpy(address.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    const int result = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 ? 0 : errno;
    close(fd);
    return result;
}

int tryRecord(const char *path)
{
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // Reading alone must be refused as well.
        const int readOnly = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (readOnly >= 0) {
            close(readOnly);
            return 0;
        }
        return errno;
    }
    close(fd);
    return 0;
}

int tryRead(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    close(fd);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <socket path> <record path> [file ...]\n", argv[0]);
        return 2;
    }
    std::printf("connect %d\n", tryConnect(argv[1]));
    std::printf("record %d\n", tryRecord(argv[2]));
    for (int i = 3; i < argc; ++i) {
        std::printf("read %s %d\n", argv[i], tryRead(argv[i]));
    }
    return 0;
}
