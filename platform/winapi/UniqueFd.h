#pragma once

// Sole owner of a file descriptor: closes it when it goes, so no early return can leak one.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();

    UniqueFd(UniqueFd &&other) noexcept;
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

    // Gives the descriptor up without closing it.
    int release();
    // Closes the one held (errno left as it was) and takes fd instead.
    void reset(int fd = -1);
    // Closes now and says whether close(2) succeeded, which is where a late write error shows;
    // errno tells why it failed.
    bool close();

private:
    int m_fd = -1;
};
