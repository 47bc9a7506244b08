#include "platform/MessageWindow.h"

#include "platform/Log.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <QMetaObject>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane {

namespace {

constexpr std::size_t kWireSize = 12;
// Messages kept while the main thread is busy; beyond this a flood is dropped.
constexpr std::size_t kMaxQueued = 10000;
// The kernel holds only a handful of datagrams per socket; a full queue is drained by the
// receiver's reader within moments, so a post waits at most this long for room.
constexpr auto kPostRoomWait = std::chrono::milliseconds(500);
constexpr int kBindAttempts = 32;

std::string SocketPath(const std::string& runtimeDir, std::uint32_t handle)
{
    char name[16];
    std::snprintf(name, sizeof name, "wnd-%08x", static_cast<unsigned>(handle));
    return runtimeDir + name;
}

bool FitsSocketPath(const std::string& path)
{
    return path.size() < sizeof(sockaddr_un::sun_path);
}

sockaddr_un SocketAddress(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    return addr;
}

void PutLe32(unsigned char* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetLe32(const unsigned char* in)
{
    return std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16 |
           std::uint32_t(in[3]) << 24;
}

std::uint32_t RandomHandle()
{
    static std::mutex lock;
    static std::mt19937 engine{std::random_device{}()};
    std::lock_guard guard(lock);
    std::uint32_t handle = 0;
    while (handle == 0)
        handle = static_cast<std::uint32_t>(engine());
    return handle;
}

// State shared by the window (main thread) and its reader thread.
struct MessageWindowQueue
{
    std::mutex lock;
    std::deque<WindowMessage> queue; // guarded by lock

    // Set before the reader starts and cleared after it is joined; the reader only reads it.
    QObject* owner = nullptr;
    // Main thread only.
    MessageWindow::Handler handler;
    bool busy = false;

    // Told (main thread) of the first failure of the reader and of the handler.
    MessageWindow::TroubleHandler trouble;
    std::atomic<bool> readerTold{false};
    bool handlerTold = false;

    // Logs text, and the first time for its kind, tells the trouble handler. Any thread.
    static void Tell(const std::shared_ptr<MessageWindowQueue>& self, const std::string& text, bool reader)
    {
        qWarning("%s", text.c_str());
        if (reader && self->readerTold.exchange(true))
            return;
        QMetaObject::invokeMethod(
            self->owner,
            [self, text, reader] {
                if (!reader && std::exchange(self->handlerTold, true))
                    return;
                if (self->owner && self->trouble)
                    self->trouble(text);
            },
            Qt::QueuedConnection);
    }

    void ScheduleDispatch(const std::shared_ptr<MessageWindowQueue>& self)
    {
        QMetaObject::invokeMethod(
            owner, [self] { Dispatch(self); }, Qt::QueuedConnection);
    }

    // Hands one message to the handler. A handler that opens a nested event loop makes
    // this run again meanwhile: it then leaves the queue alone, and the outer run
    // schedules the next message once the handler has returned.
    static void Dispatch(std::shared_ptr<MessageWindowQueue> self)
    {
        if (self->busy || !self->owner || !self->handler)
            return;
        WindowMessage message;
        {
            std::lock_guard guard(self->lock);
            if (self->queue.empty())
                return;
            message = self->queue.front();
            self->queue.pop_front();
        }
        self->busy = true;
        try {
            MessageWindow::Handler handler = self->handler; // survives a SetHandler inside
            handler(message);
        } catch (const std::exception& e) {
            Tell(self, "a message could not be handled: " + std::string(e.what()), false);
        } catch (...) {
            Tell(self, "a message could not be handled: unknown error", false);
        }
        self->busy = false;
        if (!self->owner) // the window was destroyed by the handler
            return;
        bool more = false;
        {
            std::lock_guard guard(self->lock);
            more = !self->queue.empty();
        }
        if (more)
            self->ScheduleDispatch(self);
    }
};

} // namespace

struct MessageWindow::Impl
{
    std::shared_ptr<MessageWindowQueue> queue = std::make_shared<MessageWindowQueue>();
    OwnedFd socket;
    OwnedFd wake;
    std::string path;
    std::thread reader;
};

namespace {

// Pause of the reader after a failure, before it reads again.
constexpr auto kReaderRetry = std::chrono::milliseconds(200);

// Malformed datagrams are counted, not told one by one: anyone may send them, and a
// flood of lines would bury the log. The first after a quiet spell is told at once, the
// rest in one line at most this often, and what is left when the window goes.
constexpr auto kMalformedLineEvery = std::chrono::seconds(10);

class MalformedCount
{
public:
    void Add(ssize_t size)
    {
        m_smallest = m_count == 0 ? size : std::min(m_smallest, size);
        m_largest = m_count == 0 ? size : std::max(m_largest, size);
        ++m_count;
    }
    // How long poll may wait before a line is due: -1 for as long as it takes.
    int WaitMs() const
    {
        if (m_count == 0)
            return -1;
        const auto left = m_lastLine + kMalformedLineEvery - std::chrono::steady_clock::now();
        return static_cast<int>(
            std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    void TellWhenDue(const std::string& path)
    {
        if (m_count != 0 && WaitMs() == 0)
            Tell(path);
    }
    void Tell(const std::string& path)
    {
        if (m_count == 0)
            return;
        const std::string sizes = m_smallest == m_largest ? std::to_string(m_smallest) + " bytes"
                                                          : std::to_string(m_smallest) + " to " +
                                                                std::to_string(m_largest) + " bytes";
        Log("message socket " + path + ": ignored " + std::to_string(m_count) + " malformed message" +
            (m_count == 1 ? "" : "s") + " (" + sizes + ", a message has " + std::to_string(kWireSize) + ")");
        m_count = 0;
        m_lastLine = std::chrono::steady_clock::now();
    }

private:
    std::size_t m_count = 0;
    ssize_t m_smallest = 0;
    ssize_t m_largest = 0;
    std::chrono::steady_clock::time_point m_lastLine{};
};

// Drains the socket into the queue until woken through wakeFd; true then. Throws what a
// step of it throws.
bool ReadUntilWoken(const std::shared_ptr<MessageWindowQueue>& queue, int socketFd, int wakeFd,
                    const std::string& path, MalformedCount& malformed)
{
    pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    std::vector<WindowMessage> batch;
    for (;;) {
        const int ready = ::poll(fds, 2, malformed.WaitMs());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystemError(errno, "waiting for messages failed");
        }
        malformed.TellWhenDue(path);
        if (ready == 0)
            continue;
        if (fds[1].revents)
            return true;
        batch.clear();
        for (;;) {
            unsigned char buf[kWireSize + 1];
            const ssize_t n = ::recv(socketFd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    qWarning("Message socket %s: %s", path.c_str(), std::strerror(errno));
                break;
            }
            if (static_cast<std::size_t>(n) != kWireSize) {
                malformed.Add(n);
                continue;
            }
            batch.push_back({GetLe32(buf), GetLe32(buf + 4), GetLe32(buf + 8)});
        }
        malformed.TellWhenDue(path);
        if (batch.empty())
            continue;
        bool wasEmpty = false;
        std::size_t dropped = 0;
        {
            std::lock_guard guard(queue->lock);
            wasEmpty = queue->queue.empty();
            for (const WindowMessage& m : batch) {
                if (queue->queue.size() < kMaxQueued)
                    queue->queue.push_back(m);
                else
                    ++dropped;
            }
        }
        if (dropped)
            qWarning("Message socket %s: queue full, %zu messages dropped", path.c_str(), dropped);
        // The window outlives this thread (it joins it), so its pointer is safe to use here.
        if (wasEmpty)
            queue->ScheduleDispatch(queue);
    }
}

// The reader thread. A failure never ends it: a window that stopped reading would leave
// every later request unanswered, with nothing to show why.
void ReadMessages(std::shared_ptr<MessageWindowQueue> queue, int socketFd, int wakeFd, std::string path)
{
    MalformedCount malformed;
    for (;;) {
        try {
            if (ReadUntilWoken(queue, socketFd, wakeFd, path, malformed)) {
                malformed.Tell(path);
                return;
            }
        } catch (const std::exception& e) {
            MessageWindowQueue::Tell(queue, "message socket " + path + ": " + e.what() + "; reading goes on",
                                     true);
        }
        std::this_thread::sleep_for(kReaderRetry);
    }
}

} // namespace

MessageWindow::MessageWindow(QObject* parent) : QObject(parent), m_impl(std::make_unique<Impl>())
{
    const std::string runtimeDir = RuntimeDir();
    if (!FitsSocketPath(SocketPath(runtimeDir, 1)))
        ThrowSystemError(ENAMETOOLONG, "runtime folder " + runtimeDir + " is too long for message sockets (" +
                                           std::to_string(SocketPath(runtimeDir, 1).size()) +
                                           " bytes; the limit is " +
                                           std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                                           "); set MORVANE_RUNTIME_DIR to a shorter folder");

    m_impl->socket = OwnedFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!m_impl->socket.Valid())
        ThrowSystemError(errno, "cannot create a message socket");
    // Room for bursts while the reader is not scheduled; the kernel caps the value.
    const int want = 4 * 1024 * 1024;
    (void)::setsockopt(m_impl->socket.Get(), SOL_SOCKET, SO_RCVBUF, &want, sizeof want);

    for (int attempt = 0;; ++attempt) {
        const std::uint32_t handle = RandomHandle();
        const std::string path = SocketPath(runtimeDir, handle);
        const sockaddr_un addr = SocketAddress(path);
        if (::bind(m_impl->socket.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            m_handle = handle;
            m_impl->path = path;
            break;
        }
        // A taken name may be another live window: never remove it, draw another number.
        if (errno != EADDRINUSE || attempt + 1 == kBindAttempts)
            ThrowSystemError(errno, "cannot bind message socket " + path);
    }

    m_impl->wake = OwnedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_impl->wake.Valid()) {
        const int err = errno;
        ::unlink(m_impl->path.c_str());
        ThrowSystemError(err, "cannot create an event descriptor");
    }
    m_impl->queue->owner = this;
    try {
        m_impl->reader =
            std::thread(ReadMessages, m_impl->queue, m_impl->socket.Get(), m_impl->wake.Get(), m_impl->path);
    } catch (const std::system_error&) {
        ::unlink(m_impl->path.c_str());
        throw;
    }
}

MessageWindow::~MessageWindow()
{
    const std::uint64_t one = 1;
    (void)!::write(m_impl->wake.Get(), &one, sizeof one);
    if (m_impl->reader.joinable())
        m_impl->reader.join();
    ::unlink(m_impl->path.c_str());
    // A dispatch still on the stack (the handler destroyed its window) must not touch us.
    m_impl->queue->owner = nullptr;
    m_impl->queue->handler = nullptr;
}

void MessageWindow::SetHandler(Handler handler)
{
    m_impl->queue->handler = std::move(handler);
    m_impl->queue->ScheduleDispatch(m_impl->queue);
}

void MessageWindow::SetTroubleHandler(TroubleHandler handler)
{
    m_impl->queue->trouble = std::move(handler);
}

std::size_t MessageWindow::Pending() const
{
    std::lock_guard guard(m_impl->queue->lock);
    return m_impl->queue->queue.size();
}

int MessageWindow::RemoveDeadSockets()
{
    std::string runtimeDir;
    try {
        runtimeDir = RuntimeDir();
    } catch (const std::system_error&) {
        return 0;
    }
    DIR* listing = ::opendir(runtimeDir.c_str());
    if (!listing)
        return 0;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        // Exactly what SocketPath makes: "wnd-" and 8 lower-case hex digits.
        if (name.size() == 12 && name.compare(0, 4, "wnd-") == 0 &&
            name.find_first_not_of("0123456789abcdef", 4) == std::string::npos)
            names.push_back(name);
    }
    ::closedir(listing);
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = runtimeDir + name;
        struct stat st = {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid() ||
            !FitsSocketPath(path))
            continue;
        OwnedFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.Valid())
            break;
        // Refused means no socket is bound to the name: its window is gone.
        const sockaddr_un addr = SocketAddress(path);
        if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
            errno == ECONNREFUSED && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool WindowExists(std::uint32_t handle)
{
    if (handle == 0)
        return false;
    std::string path;
    try {
        path = SocketPath(RuntimeDir(), handle);
    } catch (const std::system_error&) {
        return false;
    }
    if (!FitsSocketPath(path))
        return false;
    OwnedFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return false;
    // The socket of a window whose process died stays behind, but refuses a connection.
    const sockaddr_un addr = SocketAddress(path);
    return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

bool PostMessage(std::uint32_t handle, std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam)
{
    if (handle == 0)
        return false;
    std::string path;
    try {
        path = SocketPath(RuntimeDir(), handle);
    } catch (const std::system_error& e) {
        qWarning("Cannot post message %#x: %s", msg, e.what());
        return false;
    }
    if (!FitsSocketPath(path))
        return false;

    OwnedFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return false;
    // Connected, so that poll can wait for room in the receiver's queue. A missing socket
    // (ENOENT) or one nobody reads any more (ECONNREFUSED) fails here at once.
    const sockaddr_un addr = SocketAddress(path);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return false;

    unsigned char wire[kWireSize];
    PutLe32(wire, msg);
    PutLe32(wire + 4, wParam);
    PutLe32(wire + 8, lParam);
    const auto deadline = std::chrono::steady_clock::now() + kPostRoomWait;
    for (;;) {
        const ssize_t n = ::send(fd.Get(), wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(sizeof wire))
            return true;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{fd.Get(), POLLOUT, 0};
        (void)::poll(&pfd, 1, static_cast<int>(left.count()) + 1);
    }
}

} // namespace morvane
