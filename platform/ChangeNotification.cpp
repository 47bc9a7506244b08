#include "platform/ChangeNotification.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace morvane {

namespace {

// Never IN_ACCESS or IN_OPEN: the agent reads the files it watches, and its own reads
// must not wake it. A file that was unlinked while open, an editor's temporary file say,
// wakes nobody when it is written.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                     IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                     IN_EXCL_UNLINK;
// A subfolder of a watched tree that is a link (or was made one since it was listed) is
// never followed out of the tree. The root is the folder the user chose, link or not.
constexpr std::uint32_t kSubfolderMask = kWatchMask | IN_DONT_FOLLOW;

// The error every new watch fails with instead of being added (tests); 0: none.
std::atomic<int> g_watchFailure{0};

// Events that mean the folder itself is gone or no longer watched.
constexpr std::uint32_t kLostMask = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// A burst larger than this is read in several rounds; each read is one syscall.
constexpr std::size_t kBufferSize = 64 * 1024;

} // namespace

struct ChangeNotification::State
{
    std::mutex Lock;
    std::condition_variable Wake;
    std::vector<int> Wds; // the root's first
    unsigned Filter = kAllChanges;
    bool Changed = false;
    bool Failed = false;
    bool Stopped = false;
    int Error = ENOENT; // errno of a failed wait
    // The names reported in the root since the last TakeChanges, or All.
    bool All = true;
    std::vector<std::string> Names;
    std::unordered_set<std::string> Seen;

    // name: the entry of the root that changed; null when not known.
    void Signal(bool changed, bool failed, int error = ENOENT, const char* name = nullptr)
    {
        {
            std::lock_guard guard(Lock);
            Changed = Changed || changed;
            if (failed && !Failed)
                Error = error;
            Failed = Failed || failed;
            if (changed && !All) {
                if (!name || Names.size() >= ChangeNotification::kMaxNames) {
                    All = true;
                    Names.clear();
                    Seen.clear();
                } else if (Seen.insert(name).second) {
                    Names.emplace_back(name);
                }
            }
        }
        Wake.notify_all();
    }
};

namespace {

// The process's one inotify instance. Events are read either by its reader thread, which
// sleeps in poll() until the kernel has something, or by a waiter that pumps the queue
// itself before it looks at its flags (so a change made before Wait is always seen).
// Both read under m_lock, so each event reaches its watchers exactly once.
class InotifyHub
{
public:
    using State = ChangeNotification::State;

    static InotifyHub& Instance()
    {
        // Never destroyed: a watch may outlive static destruction; StopReader joins the
        // reader at exit.
        static InotifyHub* hub = new InotifyHub;
        return *hub;
    }

    void Add(const std::vector<std::string>& folders, const std::shared_ptr<State>& state)
    {
        std::lock_guard guard(m_lock);
        if (m_fd < 0)
            throw std::system_error(m_initError, std::generic_category(),
                                    "Cannot watch folder " + (folders.empty() ? std::string() : folders[0]));
        if (m_failure)
            throw std::system_error(m_failure, std::generic_category(),
                                    "Cannot watch folder " + (folders.empty() ? std::string() : folders[0]) +
                                        ": change notification has stopped");
        StartReaderLocked();
        try {
            for (std::size_t i = 0; i < folders.size(); ++i) {
                // The same folder watched twice gives the same descriptor: both watchers share it.
                const int injected = g_watchFailure.load();
                if (injected)
                    errno = injected;
                const int wd = injected ? -1
                                        : inotify_add_watch(m_fd, folders[i].c_str(),
                                                            i == 0 ? kWatchMask : kSubfolderMask);
                if (wd < 0) {
                    // A subfolder removed since it was listed is no longer part of the tree.
                    if (i > 0 && (errno == ENOENT || errno == ENOTDIR))
                        continue;
                    throw std::system_error(errno, std::generic_category(),
                                            "Cannot watch folder " + folders[i]);
                }
                if (std::find(state->Wds.begin(), state->Wds.end(), wd) != state->Wds.end())
                    continue;
                state->Wds.push_back(wd);
                m_watchers[wd].push_back(state.get());
            }
        } catch (...) {
            RemoveLocked(state.get());
            throw;
        }
    }

    void Remove(State* state)
    {
        std::lock_guard guard(m_lock);
        RemoveLocked(state);
    }

    // Reads and hands out every event queued so far, without waiting.
    void Pump()
    {
        std::lock_guard guard(m_lock);
        ReadLocked();
    }

    int Failure()
    {
        std::lock_guard guard(m_lock);
        return m_failure;
    }

    bool TakeFailureReport()
    {
        std::lock_guard guard(m_lock);
        return m_failure != 0 && !std::exchange(m_failureReported, true);
    }

    void Stop()
    {
        std::thread reader;
        {
            std::lock_guard guard(m_lock);
            reader = std::move(m_reader);
        }
        if (reader.joinable()) {
            if (reader.get_id() == std::this_thread::get_id()) {
                reader.detach();
                return;
            }
            Poke();
            reader.join();
        }
        std::lock_guard guard(m_lock);
        std::uint64_t drained = 0;
        (void)!::read(m_stopFd, &drained, sizeof drained);
        m_injected = 0;
        m_failure = 0;
        m_failureReported = false;
    }

    void Inject(int err)
    {
        {
            std::lock_guard guard(m_lock);
            if (!m_reader.joinable())
                return;
            m_injected = err;
        }
        Poke();
    }

private:
    void RemoveLocked(State* state)
    {
        for (const int wd : state->Wds) {
            const auto it = m_watchers.find(wd);
            if (it == m_watchers.end())
                continue; // the kernel dropped the watch already (folder gone)
            std::erase(it->second, state);
            if (it->second.empty()) {
                m_watchers.erase(it);
                inotify_rm_watch(m_fd, wd);
            }
        }
        state->Wds.clear();
    }

    // The kinds of change one event stands for.
    static unsigned KindsOf(std::uint32_t mask)
    {
        unsigned kinds = 0;
        if (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO))
            kinds |=
                (mask & IN_ISDIR) ? ChangeNotification::kDirNameChange : ChangeNotification::kFileNameChange;
        if (mask & IN_ATTRIB)
            kinds |= ChangeNotification::kAttributeChange | ChangeNotification::kSecurityChange;
        if (mask & IN_MODIFY)
            kinds |= ChangeNotification::kSizeChange | ChangeNotification::kLastWriteChange;
        if (mask & IN_CLOSE_WRITE)
            kinds |= ChangeNotification::kLastWriteChange;
        return kinds;
    }

    InotifyHub()
    {
        m_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd < 0) {
            m_initError = errno;
            return;
        }
        m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stopFd < 0) {
            m_initError = errno;
            ::close(m_fd);
            m_fd = -1;
        }
    }

    void StartReaderLocked()
    {
        if (!m_reader.joinable())
            m_reader = std::thread([this] { Run(); });
    }

    void Poke()
    {
        const std::uint64_t one = 1;
        (void)!::write(m_stopFd, &one, sizeof one);
    }

    void Run()
    {
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
            const int n = ::poll(fds, 2, -1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                EnterFailure(errno);
                return;
            }
            if (fds[1].revents) {
                int injected = 0;
                {
                    std::lock_guard guard(m_lock);
                    injected = m_injected;
                }
                if (injected)
                    EnterFailure(injected);
                return; // asked to stop
            }
            if (fds[0].revents & (POLLERR | POLLNVAL)) {
                EnterFailure(EIO);
                return;
            }
            if (n > 0)
                Pump();
        }
    }

    // Nobody will be woken by the kernel any more: every waiter is told now, and so is
    // every later one, so no watch sleeps for good.
    void EnterFailure(int err)
    {
        std::lock_guard guard(m_lock);
        m_failure = err;
        for (auto& [wd, states] : m_watchers)
            for (State* state : states)
                state->Signal(false, true, err);
    }

    void ReadLocked()
    {
        char* const buffer = m_buffer->Bytes;
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, kBufferSize);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return; // EAGAIN: the queue is empty
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                Dispatch(*event);
            }
        }
    }

    void Dispatch(const inotify_event& event)
    {
        // An overflow means events were lost, for any watch: every rescan must see what
        // they would have said.
        if (event.mask & IN_Q_OVERFLOW) {
            for (auto& [wd, states] : m_watchers)
                for (State* state : states)
                    state->Signal(true, false);
            return;
        }
        const auto it = m_watchers.find(event.wd);
        if (it == m_watchers.end())
            return;
        const bool lost = event.mask & kLostMask;
        const unsigned kinds = KindsOf(event.mask);
        for (State* state : it->second) {
            // Only the root's loss fails a wait; a lost subfolder was already reported by
            // its parent's delete or move event.
            if (lost) {
                if (!state->Wds.empty() && state->Wds.front() == event.wd)
                    state->Signal(false, true);
            } else if (kinds & state->Filter) {
                // A nameless event concerns a folder itself, and a name in a subfolder is
                // not one of the root's entries: what changed is then not known by name.
                const bool inRoot = !state->Wds.empty() && state->Wds.front() == event.wd;
                const char* name = inRoot && event.len > 0 && event.name[0] != '\0' ? event.name : nullptr;
                state->Signal(true, false, ENOENT, name);
            }
        }
        // The kernel has forgotten this descriptor; its number may be handed out again.
        if (event.mask & IN_IGNORED)
            m_watchers.erase(it);
    }

    std::mutex m_lock;
    int m_fd = -1;
    int m_stopFd = -1;
    int m_initError = 0;
    std::thread m_reader; // guarded by m_lock
    int m_failure = 0;    // guarded by m_lock
    bool m_failureReported = false;
    int m_injected = 0; // guarded by m_lock
    std::unordered_map<int, std::vector<State*>> m_watchers;
    // Where events are read, under m_lock: one for the process rather than a frame on the
    // stack of each of thousands of waiting threads.
    struct alignas(inotify_event) Buffer
    {
        char Bytes[kBufferSize];
    };
    std::unique_ptr<Buffer> m_buffer = std::make_unique<Buffer>();
};

} // namespace

ChangeNotification::ChangeNotification(const std::string& folder) : m_state(std::make_shared<State>())
{
    InotifyHub::Instance().Add({folder}, m_state);
}

ChangeNotification::ChangeNotification(const std::vector<std::string>& folders, unsigned filter)
    : m_state(std::make_shared<State>())
{
    m_state->Filter = filter;
    InotifyHub::Instance().Add(folders, m_state);
}

ChangeNotification ChangeNotification::ForTree(const std::string& root, bool subTree, unsigned filter)
{
    std::vector<std::string> folders{root};
    if (subTree) {
        std::error_code ec;
        namespace fs = std::filesystem;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (it->is_directory(typeError) && !it->is_symlink(typeError))
                folders.push_back(it->path().string());
        }
    }
    return ChangeNotification(folders, filter);
}

ChangeNotification::ChangeNotification(ChangeNotification&& other) noexcept = default;

ChangeNotification& ChangeNotification::operator=(ChangeNotification&& other) noexcept
{
    if (this != &other) {
        if (m_state)
            InotifyHub::Instance().Remove(m_state.get());
        m_state = std::move(other.m_state);
    }
    return *this;
}

ChangeNotification::~ChangeNotification()
{
    if (m_state)
        InotifyHub::Instance().Remove(m_state.get());
}

ChangeNotification::WaitResult ChangeNotification::Wait(std::chrono::milliseconds timeout)
{
    if (!m_state) {
        errno = EBADF;
        return WaitResult::Failed;
    }
    InotifyHub::Instance().Pump();
    State& s = *m_state;
    std::unique_lock guard(s.Lock);
    const bool forever = timeout.count() < 0;
    const auto deadline =
        std::chrono::steady_clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        // A stop request stays the answer, so a thread asked to end never waits again.
        if (s.Stopped)
            return WaitResult::Stopped;
        if (s.Failed) {
            errno = s.Error;
            return WaitResult::Failed;
        }
        if (s.Changed) {
            s.Changed = false;
            return WaitResult::Changed;
        }
        if (forever)
            s.Wake.wait(guard);
        else if (s.Wake.wait_until(guard, deadline) == std::cv_status::timeout && !s.Stopped && !s.Failed &&
                 !s.Changed)
            return WaitResult::Timeout;
    }
}

void ChangeNotification::Drain()
{
    if (!m_state)
        return;
    InotifyHub::Instance().Pump();
    std::lock_guard guard(m_state->Lock);
    m_state->Changed = false;
}

ChangeNotification::Changes ChangeNotification::TakeChanges()
{
    Changes changes;
    if (!m_state) {
        changes.All = true;
        return changes;
    }
    InotifyHub::Instance().Pump();
    std::lock_guard guard(m_state->Lock);
    changes.All = m_state->All;
    changes.Names.swap(m_state->Names);
    m_state->Seen.clear();
    m_state->All = false;
    return changes;
}

void ChangeNotification::RequestStop()
{
    if (!m_state)
        return;
    {
        std::lock_guard guard(m_state->Lock);
        m_state->Stopped = true;
    }
    m_state->Wake.notify_all();
}

} // namespace morvane

namespace morvane {

int ChangeNotification::ReaderFailure()
{
    return InotifyHub::Instance().Failure();
}

bool ChangeNotification::TakeReaderFailureReport()
{
    return InotifyHub::Instance().TakeFailureReport();
}

void ChangeNotification::StopReader()
{
    InotifyHub::Instance().Stop();
}

void ChangeNotification::FailReaderForTest(int err)
{
    InotifyHub::Instance().Inject(err);
}

void ChangeNotification::FailWatchesForTest(int err)
{
    g_watchFailure.store(err);
}

} // namespace morvane
