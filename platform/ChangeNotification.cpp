#include "platform/ChangeNotification.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace morvane {

namespace {

// Never IN_ACCESS or IN_OPEN: the agent reads the files it watches, and its own reads
// must not wake it.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                     IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Events that mean the folder itself is gone or no longer watched.
constexpr std::uint32_t kLostMask = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// A burst larger than this is read in several rounds; each read is one syscall.
constexpr std::size_t kBufferSize = 64 * 1024;

} // namespace

ChangeNotification::ChangeNotification(const std::string& folder)
{
    m_inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_inotify < 0)
        throw std::system_error(errno, std::generic_category(), "Cannot watch folder " + folder);
    if (inotify_add_watch(m_inotify, folder.c_str(), kWatchMask) < 0) {
        const int err = errno;
        Close();
        throw std::system_error(err, std::generic_category(), "Cannot watch folder " + folder);
    }
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) {
        const int err = errno;
        Close();
        throw std::system_error(err, std::generic_category(), "Cannot watch folder " + folder);
    }
}

ChangeNotification::ChangeNotification(ChangeNotification&& other) noexcept
    : m_inotify(std::exchange(other.m_inotify, -1)), m_wake(std::exchange(other.m_wake, -1)),
      m_stopped(other.m_stopped), m_failed(other.m_failed)
{
}

ChangeNotification& ChangeNotification::operator=(ChangeNotification&& other) noexcept
{
    if (this != &other) {
        Close();
        m_inotify = std::exchange(other.m_inotify, -1);
        m_wake = std::exchange(other.m_wake, -1);
        m_stopped = other.m_stopped;
        m_failed = other.m_failed;
    }
    return *this;
}

ChangeNotification::~ChangeNotification()
{
    Close();
}

void ChangeNotification::Close() noexcept
{
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_wake >= 0)
        ::close(m_wake);
    m_inotify = -1;
    m_wake = -1;
}

ChangeNotification::WaitResult ChangeNotification::Wait(std::chrono::milliseconds timeout)
{
    if (m_stopped)
        return WaitResult::Stopped;
    if (m_inotify < 0 || m_wake < 0) {
        errno = EBADF;
        return WaitResult::Failed;
    }
    const bool forever = timeout.count() < 0;
    const auto deadline =
        std::chrono::steady_clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        if (m_failed) {
            errno = ENOENT;
            return WaitResult::Failed;
        }
        int waitMs = -1;
        if (!forever) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        }
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_inotify, POLLIN, 0}};
        const int n = ::poll(fds, 2, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        // The wake descriptor is left signalled, so every later wait ends at once too.
        if (fds[0].revents & POLLIN) {
            m_stopped = true;
            return WaitResult::Stopped;
        }
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) {
            errno = EIO;
            return WaitResult::Failed;
        }
        if (fds[1].revents & POLLIN) {
            const bool changed = ReadEvents();
            if (m_failed) {
                errno = ENOENT;
                return WaitResult::Failed;
            }
            if (changed)
                return WaitResult::Changed;
            continue;
        }
        if (n == 0 && !forever && std::chrono::steady_clock::now() >= deadline)
            return WaitResult::Timeout;
    }
}

void ChangeNotification::Drain()
{
    if (m_inotify >= 0)
        ReadEvents();
}

void ChangeNotification::RequestStop()
{
    if (m_wake < 0)
        return;
    const std::uint64_t one = 1;
    // Only fails when the counter is near overflow, which still leaves it readable.
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
}

bool ChangeNotification::ReadEvents()
{
    alignas(inotify_event) char buffer[kBufferSize];
    bool changed = false;
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // EAGAIN: the queue is empty. Anything else leaves it to the next poll to report.
            return changed;
        }
        if (got == 0)
            return changed;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // An overflow means events were lost: a rescan must see what they would have said.
            if (event->mask & IN_Q_OVERFLOW)
                changed = true;
            else if (event->mask & kLostMask)
                m_failed = true;
            else
                changed = true;
        }
    }
}

} // namespace morvane
