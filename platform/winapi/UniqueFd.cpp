#include "UniqueFd.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

UniqueFd::~UniqueFd()
{
    reset();
}

UniqueFd::UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int UniqueFd::release()
{
    return std::exchange(m_fd, -1);
}

void UniqueFd::reset(int fd)
{
    const int old = std::exchange(m_fd, fd);
    if (old >= 0 && old != fd) {
        // Callers often report errno after a failure that made them drop the descriptor.
        const int saved = errno;
        ::close(old);
        errno = saved;
    }
}

bool UniqueFd::close()
{
    return ::close(release()) == 0;
}
