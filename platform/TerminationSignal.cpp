#include "platform/TerminationSignal.h"

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace morvane {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the main thread and by the watchdog; -1 while no
// instance exists.
volatile std::sig_atomic_t g_writeFd = -1;
volatile std::sig_atomic_t g_watchFd = -1;

extern "C" void OnTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending wake-up; losing this byte loses nothing.
    for (const int fd : {static_cast<int>(g_writeFd), static_cast<int>(g_watchFd)}) {
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
        }
    }
    errno = saved;
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void MakePipe(int& readFd, int& writeFd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot create the signal pipe");
    readFd = fds[0];
    writeFd = fds[1];
}

// Counted by Beat; read by the watchdog. Lock-free, so a signal handler may beat too.
std::atomic<unsigned long> g_beats{0};
static_assert(std::atomic<unsigned long>::is_always_lock_free);

// The exit code of a process the watchdog ends; read by the last step's alarm handler.
volatile std::sig_atomic_t g_exitCode = 128 + SIGTERM;

struct LastStep
{
    std::mutex Lock; // held while the step runs or is replaced
    std::function<void()> Step;
};

// Never destroyed: the watchdog may still run it while the process's statics go away.
LastStep& TheLastStep()
{
    static LastStep* step = new LastStep;
    return *step;
}

void WriteLine(const char* line, std::size_t size)
{
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line, size);
}

extern "C" void OnLastStepTimeout(int)
{
    static const char kLine[] = "the pending writes did not end in time either: the program ends now\n";
    WriteLine(kLine, sizeof kLine - 1);
    _exit(g_exitCode);
}

// Runs the last step, then ends the process. The step may block on a lock the stuck
// thread holds: an alarm, which needs no lock, ends the process when it takes too long.
[[noreturn]] void EndNow(int signalNumber)
{
    static const char kLine[] =
        "the program did not end in time after a termination signal: it ends now, after its pending writes\n";
    WriteLine(kLine, sizeof kLine - 1);
    g_exitCode = 128 + signalNumber;
    struct sigaction action
    {
    };
    action.sa_handler = OnLastStepTimeout;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    itimerval timer{};
    const auto limit =
        std::chrono::duration_cast<std::chrono::microseconds>(TerminationSignal::kLastStepLimit);
    timer.it_value.tv_sec = static_cast<time_t>(limit.count() / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(limit.count() % 1000000);
    setitimer(ITIMER_REAL, &timer, nullptr);
    {
        LastStep& last = TheLastStep();
        std::lock_guard lock(last.Lock);
        if (last.Step) {
            try {
                last.Step();
            } catch (...) {
                // the process ends all the same
            }
        }
    }
    _exit(128 + signalNumber);
}

// Sleeps until a signal arrives, then watches the main thread's heartbeat: the process
// ends when none came for kStallLimit, or when the stop lasts kLongestStop. Told to stop
// with no signal come, it closes both read ends and returns; a signal that came first
// wins, as the program is then on its way out.
void Watch(int watchFd, int stopFd)
{
    pollfd fds[2] = {{watchFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0 && (fds[0].revents & POLLIN))
            break;
        if (n < 0 || fds[1].revents != 0) {
            close(watchFd);
            close(stopFd);
            return;
        }
    }
    unsigned char signalNumber = SIGTERM;
    [[maybe_unused]] const ssize_t got = read(watchFd, &signalNumber, 1);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point signalled = Clock::now();
    unsigned long beats = g_beats.load();
    Clock::time_point lastBeat = signalled;
    for (;;) {
        std::this_thread::sleep_for(TerminationSignal::kBeatInterval);
        const Clock::time_point now = Clock::now();
        if (const unsigned long b = g_beats.load(); b != beats) {
            beats = b;
            lastBeat = now;
        }
        if (now - lastBeat >= TerminationSignal::kStallLimit ||
            now - signalled >= TerminationSignal::kLongestStop)
            break;
    }
    EndNow(signalNumber);
}

} // namespace

TerminationSignal::TerminationSignal(QObject* parent) : QObject(parent)
{
    try {
        MakePipe(m_readFd, m_writeFd);
        MakePipe(m_watchReadFd, m_watchWriteFd);
        MakePipe(m_stopReadFd, m_stopWriteFd);
        m_watchdog = std::thread(Watch, m_watchReadFd, m_stopReadFd);
    } catch (const std::system_error&) {
        for (int* fd :
             {&m_readFd, &m_writeFd, &m_watchReadFd, &m_watchWriteFd, &m_stopReadFd, &m_stopWriteFd})
            CloseFd(*fd);
        throw;
    }
    g_writeFd = m_writeFd;
    g_watchFd = m_watchWriteFd;

    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

    struct sigaction action
    {
    };
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        if (sigaction(sig, &action, nullptr) != 0) {
            const int err = errno;
            Release();
            throw std::system_error(err, std::generic_category(), "cannot install a signal handler");
        }
    }
}

TerminationSignal::~TerminationSignal()
{
    Release();
}

void TerminationSignal::Release()
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        sigaction(sig, &action, nullptr);
    g_writeFd = -1;
    g_watchFd = -1;
    m_beat.reset();
    m_notifier.reset();
    CloseFd(m_readFd);
    CloseFd(m_writeFd);
    // The watchdog owns its read ends. It goes on guarding the rest of the exit when a
    // signal came; else the stop ends it at once.
    [[maybe_unused]] const char stop = 0;
    [[maybe_unused]] const ssize_t n = write(m_stopWriteFd, &stop, 1);
    if (m_watchdog.joinable())
        m_watchdog.detach();
    CloseFd(m_watchWriteFd);
    CloseFd(m_stopWriteFd);
}

void TerminationSignal::Beat() noexcept
{
    g_beats.fetch_add(1, std::memory_order_relaxed);
}

void TerminationSignal::SetLastStep(std::function<void()> step)
{
    LastStep& last = TheLastStep();
    {
        std::lock_guard lock(last.Lock);
        last.Step.swap(step);
    }
    // The old step (and what it holds) goes outside the lock.
}

void TerminationSignal::Drain()
{
    // From the first signal on, the main loop shows the watchdog that it turns.
    if (!m_beat) {
        m_beat = std::make_unique<QTimer>();
        m_beat->setInterval(kBeatInterval);
        connect(m_beat.get(), &QTimer::timeout, this, [] { Beat(); });
        m_beat->start();
    }
    Beat();
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = read(m_readFd, bytes, sizeof bytes);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            emit Received(bytes[i]);
    }
}

void IgnoreBrokenPipes()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

} // namespace morvane
