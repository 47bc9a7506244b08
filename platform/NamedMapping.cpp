#include "platform/NamedMapping.h"

#include "platform/NamedMutex.h"
#include "platform/OwnedFd.h"
#include "platform/RuntimeNames.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>

namespace morvane {

namespace {

// Serialises create, open and the presence test of one mapping, so that none of them
// mistakes another's brief exclusive lock for a holder. Only Create makes the guard file:
// without one, no mapping of that name was ever made in this runtime folder.
std::optional<OwnedFd> LockGuard(const std::string& name, bool create)
{
    const std::string path = RuntimeObjectPath(name, ".guard");
    OwnedFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600));
    if (!fd.Valid()) {
        if (!create && errno == ENOENT)
            return std::nullopt;
        ThrowSystemError(errno, "cannot open guard file " + path);
    }
    while (::flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            ThrowSystemError(errno, "cannot lock " + path);
    }
    return fd;
}

// Opens the backing file; nothing when it is missing and create is false.
std::optional<OwnedFd> OpenBacking(const std::string& path, bool create)
{
    OwnedFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600));
    if (!fd.Valid()) {
        if (!create && errno == ENOENT)
            return std::nullopt;
        ThrowSystemError(errno, "cannot open shared memory file " + path);
    }
    struct stat st
    {
    };
    if (::fstat(fd.Get(), &st) != 0)
        ThrowSystemError(errno, "cannot inspect " + path);
    if (!S_ISREG(st.st_mode))
        ThrowSystemError(EINVAL, path + " is not a regular file");
    return fd;
}

// True when some process keeps its shared hold on the backing file. Call under the guard.
bool HeldByAnyone(int fd, const std::string& path)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
        return false;
    }
    if (errno == EWOULDBLOCK)
        return true;
    ThrowSystemError(errno, "cannot test " + path);
}

void TakeSharedHold(int fd, const std::string& path)
{
    // Under the guard nobody holds the file exclusively, so this never waits.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
        ThrowSystemError(errno, "cannot hold " + path);
}

std::size_t FileSize(int fd, const std::string& path)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        ThrowSystemError(errno, "cannot inspect " + path);
    return static_cast<std::size_t>(st.st_size);
}

void Resize(int fd, std::size_t size, const std::string& path)
{
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        ThrowSystemError(errno, "cannot size " + path);
    // Reserve the pages now: a write into a page the file system cannot supply later would
    // kill the process with SIGBUS instead of failing here.
    // No emulation by writing bytes: that would race with the other holders' writes.
    if (::fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        ThrowSystemError(errno, "cannot reserve " + path);
}

// The mappings of this process, for the bus-error handler: a holder's file may be cut short
// by any program of the same user, and touching a page past its end raises SIGBUS.
struct MappedRange
{
    std::atomic<std::uintptr_t> Begin{0};
    std::atomic<std::size_t> Size{0};
    std::atomic<int> Fd{-1};
};
constexpr int kMaxRanges = 64;
MappedRange g_ranges[kMaxRanges];
std::atomic<unsigned> g_regrown{0};
struct sigaction g_previousBusHandler
{
};

// A fault in one of our mappings whose file is now shorter than the mapping: the file is
// grown back (the cut part reads as zeros) and the access is retried, instead of the whole
// process dying. Any other bus error goes where it went before.
void OnBusError(int sig, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (MappedRange& range : g_ranges) {
        const std::uintptr_t begin = range.Begin.load();
        const std::size_t size = range.Size.load();
        if (begin == 0 || address < begin || address - begin >= size)
            continue;
        const int fd = range.Fd.load();
        struct stat st
        {
        };
        // A file that is long enough faults for another reason (no room for the page):
        // growing it would change nothing, and retrying would loop for ever.
        if (fd >= 0 && ::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) < size &&
            ::ftruncate(fd, static_cast<off_t>(size)) == 0) {
            g_regrown.fetch_add(1);
            return;
        }
        break;
    }
    if (g_previousBusHandler.sa_flags & SA_SIGINFO) {
        if (g_previousBusHandler.sa_sigaction) {
            g_previousBusHandler.sa_sigaction(sig, info, context);
            return;
        }
    } else if (g_previousBusHandler.sa_handler != SIG_DFL && g_previousBusHandler.sa_handler != SIG_IGN) {
        g_previousBusHandler.sa_handler(sig);
        return;
    }
    // Returning retries the access, which now ends the process as it would have.
    struct sigaction fallback
    {
    };
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void InstallBusHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action
        {
        };
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusHandler);
    });
}

void Track(void* data, std::size_t size, int fd)
{
    InstallBusHandler();
    for (MappedRange& range : g_ranges) {
        std::uintptr_t expected = 0;
        // Fd and Size are set while the slot is claimed with a placeholder, so the handler
        // never sees a range whose file is not yet there.
        if (range.Begin.compare_exchange_strong(expected, 1)) {
            range.Fd.store(fd);
            range.Size.store(size);
            range.Begin.store(reinterpret_cast<std::uintptr_t>(data));
            return;
        }
    }
    // More mappings than slots: this one keeps the old behaviour.
}

void Untrack(void* data)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    for (MappedRange& range : g_ranges) {
        if (range.Begin.load() == begin) {
            range.Size.store(0);
            range.Fd.store(-1);
            range.Begin.store(0);
            return;
        }
    }
}

void* Map(int fd, std::size_t size, const std::string& path)
{
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED)
        ThrowSystemError(errno, "cannot map " + path);
    return data;
}

} // namespace

unsigned NamedMapping::RegrownCount()
{
    return g_regrown.load();
}

NamedMapping NamedMapping::Create(const std::string& name, std::size_t size, bool* existed)
{
    return *CreateClaimed(name, size, {}, existed);
}

std::optional<NamedMapping> NamedMapping::CreateClaimed(const std::string& name, std::size_t size,
                                                        const Claim& claim, bool* existed)
{
    if (size == 0)
        ThrowSystemError(EINVAL, "a shared memory block needs a size: " + name);
    const std::string path = RuntimeObjectPath(name, ".shm");
    const OwnedFd guard = *LockGuard(name, true);
    OwnedFd fd = std::move(*OpenBacking(path, true));

    bool joined = false;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds it: whatever a dead holder left behind is dropped, so the block
        // starts zero-filled.
        if (::ftruncate(fd.Get(), 0) != 0)
            ThrowSystemError(errno, "cannot clear " + path);
        Resize(fd.Get(), size, path);
        TakeSharedHold(fd.Get(), path);
    } else if (errno == EWOULDBLOCK) {
        joined = true;
        TakeSharedHold(fd.Get(), path);
        // Joined blocks grow when asked for more, and are never shrunk under their holders.
        if (FileSize(fd.Get(), path) < size)
            Resize(fd.Get(), size, path);
    } else {
        ThrowSystemError(errno, "cannot lock " + path);
    }

    // A holder may have cut the file meanwhile; the whole size asked for is mapped anyway, and
    // a page past the end is grown back on first touch.
    if (FileSize(fd.Get(), path) < size)
        Resize(fd.Get(), size, path);
    const std::size_t mapped = std::max(size, FileSize(fd.Get(), path));
    void* data = Map(fd.Get(), mapped, path);
    Track(data, mapped, fd.Get());
    NamedMapping mapping(fd.Release(), data, mapped);
    // Still under the guard: nobody opens the mapping or tests for it until this is done.
    if (claim && !claim(mapping.m_data, mapping.m_size, joined))
        return std::nullopt;
    if (existed)
        *existed = joined;
    return mapping;
}

std::optional<NamedMapping> NamedMapping::OpenExisting(const std::string& name,
                                                       const std::string& requireMutex)
{
    if (!requireMutex.empty() && !NamedMutex::IsHeld(requireMutex))
        return std::nullopt;
    const std::string path = RuntimeObjectPath(name, ".shm");
    const std::optional<OwnedFd> guard = LockGuard(name, false);
    if (!guard)
        return std::nullopt;
    std::optional<OwnedFd> fd = OpenBacking(path, false);
    if (!fd || !HeldByAnyone(fd->Get(), path))
        return std::nullopt;
    TakeSharedHold(fd->Get(), path);
    const std::size_t size = FileSize(fd->Get(), path);
    if (size == 0)
        return std::nullopt;
    void* data = Map(fd->Get(), size, path);
    Track(data, size, fd->Get());
    return NamedMapping(fd->Release(), data, size);
}

bool NamedMapping::Exists(const std::string& name, const std::string& requireMutex)
{
    if (!requireMutex.empty() && !NamedMutex::IsHeld(requireMutex))
        return false;
    const std::string path = RuntimeObjectPath(name, ".shm");
    const std::optional<OwnedFd> guard = LockGuard(name, false);
    if (!guard)
        return false;
    const std::optional<OwnedFd> fd = OpenBacking(path, false);
    return fd && HeldByAnyone(fd->Get(), path);
}

NamedMapping::NamedMapping(NamedMapping&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0))
{
}

NamedMapping& NamedMapping::operator=(NamedMapping&& other) noexcept
{
    NamedMapping taken(std::move(other));
    std::swap(m_fd, taken.m_fd);
    std::swap(m_data, taken.m_data);
    std::swap(m_size, taken.m_size);
    return *this; // taken releases what this held
}

NamedMapping::~NamedMapping()
{
    if (m_data) {
        Untrack(m_data);
        ::munmap(m_data, m_size);
    }
    m_data = nullptr;
    m_size = 0;
    // Closing drops the shared hold: once the last holder is gone the block counts as absent.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace morvane
