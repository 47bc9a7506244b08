#pragma once

#include <cerrno>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace morvane {

// Move-only owner of one file descriptor; closes it on destruction. Closing also drops
// any flock held through it, so a lock lives exactly as long as its owner.
class OwnedFd
{
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd() { Reset(); }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Writes all of text to fd, going on after a signal; false when a write fails (errno
// tells) or writes nothing.
inline bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Throws std::system_error for err (an errno value) with a message naming what failed.
[[noreturn]] inline void ThrowSystemError(int err, const std::string& what)
{
    throw std::system_error(err, std::generic_category(), what);
}

} // namespace morvane
