#pragma once

#include <optional>
#include <string>

namespace morvane {

// A named, system-wide mutex held by one process at a time: an exclusive flock on
// R/<name>.lock, so the kernel frees it when its holder dies. Move-only owner.
class NamedMutex
{
public:
    // One atomic test-and-take. Returns the held mutex, or nothing when another process
    // (or another NamedMutex of this process) holds it. Throws std::system_error when the
    // lock file cannot be opened.
    static std::optional<NamedMutex> TryAcquire(const std::string& name);

    // True when some live process holds the mutex. Never takes it for longer than the test.
    static bool IsHeld(const std::string& name);

    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex(); // releases

private:
    explicit NamedMutex(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace morvane
