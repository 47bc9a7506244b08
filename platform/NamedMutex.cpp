#include "platform/NamedMutex.h"

#include "platform/OwnedFd.h"
#include "platform/RuntimeNames.h"

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <utility>

namespace morvane {

namespace {

// IsHeld takes a shared lock for the length of one test; a TryAcquire that meets such a
// probe tries again for this long before it concludes that a holder exists.
constexpr int kProbeRetries = 20;
constexpr auto kProbeRetryPause = std::chrono::milliseconds(1);

} // namespace

std::optional<NamedMutex> NamedMutex::TryAcquire(const std::string& name)
{
    const std::string path = RuntimeObjectPath(name, ".lock");
    OwnedFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid())
        ThrowSystemError(errno, "cannot open lock file " + path);
    for (int attempt = 0;; ++attempt) {
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0)
            return NamedMutex(fd.Release());
        if (errno != EWOULDBLOCK && errno != EINTR)
            ThrowSystemError(errno, "cannot lock " + path);
        if (attempt == kProbeRetries)
            return std::nullopt;
        std::this_thread::sleep_for(kProbeRetryPause);
    }
}

bool NamedMutex::IsHeld(const std::string& name)
{
    const std::string path = RuntimeObjectPath(name, ".lock");
    OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.Valid()) {
        if (errno == ENOENT)
            return false;
        ThrowSystemError(errno, "cannot open lock file " + path);
    }
    // A shared lock, so that two probes never see each other as a holder; closing the
    // descriptor drops it again at once.
    if (::flock(fd.Get(), LOCK_SH | LOCK_NB) == 0)
        return false;
    if (errno == EWOULDBLOCK)
        return true;
    ThrowSystemError(errno, "cannot test lock " + path);
}

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

NamedMutex::~NamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace morvane
