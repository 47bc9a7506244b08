#include "engine/WatchThread.h"

#include "engine/MainThreadCalls.h"

#include <exception>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace morvane {

WatchThread::WatchThread(MainThreadCalls& calls) : m_calls(calls) {}

WatchThread::~WatchThread()
{
    // A derived class that forgot StopAndJoin still never leaves a running thread behind.
    StopAndJoin();
    // Destroyed on its own thread: nobody can join it, so it cleans up after itself.
    if (m_joinable)
        pthread_detach(m_thread);
}

namespace {

// A watch thread's stack. The default (8 MB) costs a tenth of a millisecond or more per
// thread start, and an agent starts one thread per folder; the scans need far less (their
// largest frame is a 64 KB read buffer, and nothing they call recurses).
constexpr std::size_t kStackSize = 512 * 1024;

// Watch threads started and not yet at rest, and how often the heap was given back.
std::atomic<int> g_starting{0};
std::atomic<int> g_heapReleases{0};

} // namespace

void WatchThread::Start()
{
    m_starting = true;
    g_starting.fetch_add(1);
    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err == 0) {
        err = pthread_attr_setstacksize(&attr, kStackSize);
        if (err == 0)
            err = pthread_create(&m_thread, &attr, Entry, this);
        pthread_attr_destroy(&attr);
    }
    if (err != 0) {
        m_starting = false;
        g_starting.fetch_sub(1);
        throw std::system_error(err, std::generic_category(), "Cannot start a watch thread");
    }
    m_joinable = true;
}

namespace {

// One start fewer; the heap's free pages go back when none is left.
void StartEnded() noexcept
{
    if (g_starting.fetch_sub(1) == 1) {
        ::malloc_trim(0);
        g_heapReleases.fetch_add(1);
    }
}

} // namespace

void WatchThread::EndStart() noexcept
{
    if (!std::exchange(m_starting, false))
        return;
    // An agent's first scans all wait for the main thread, which is busy starting the
    // threads of the other folders, so the count does not fall to zero part-way.
    StartEnded();
}

void WatchThread::HoldStarts(bool hold)
{
    // The hold counts as one start still under way.
    if (hold)
        g_starting.fetch_add(1);
    else
        StartEnded();
}

void WatchThread::Rest() noexcept
{
    EndStart();
    ReleaseStack();
}

int WatchThread::HeapReleases()
{
    return g_heapReleases.load();
}

namespace {

// The stack kept below ReleaseStack's own frame: room for the system call that releases
// the rest.
constexpr std::uintptr_t kStackMargin = 1024;

std::uintptr_t StackLow()
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return 0;
    void* addr = nullptr;
    std::size_t size = 0;
    std::size_t guard = 0;
    const bool known =
        pthread_attr_getstack(&attr, &addr, &size) == 0 && pthread_attr_getguardsize(&attr, &guard) == 0;
    pthread_attr_destroy(&attr);
    return known ? reinterpret_cast<std::uintptr_t>(addr) + guard : 0;
}

} // namespace

void* WatchThread::Entry(void* self)
{
    static_cast<WatchThread*>(self)->Run();
    return nullptr;
}

void WatchThread::Run()
{
    m_stackLow = StackLow();
    MainThreadCalls::SetThreadStopFlag(&m_stop);
    try {
        Execute();
    } catch (const std::exception& e) {
        Report(e.what());
    } catch (...) {
        Report("an unknown error");
    }
    // A thread that ends without ever resting no longer holds back the others' release.
    EndStart();
    m_finished.store(true);
}

void WatchThread::Report(const char* why) noexcept
{
    // Nothing may leave the thread's entry point, not even from the report.
    try {
        Failed(why);
    } catch (...) {
    }
}

void WatchThread::RequestStop()
{
    m_stop.store(true);
    WakeWaits();
    {
        std::lock_guard lock(m_sleepMutex);
    }
    m_sleepCv.notify_all();
    // A wait of this thread on the main thread looks at its stop flag again.
    m_calls.WakeAll();
}

void WatchThread::Join()
{
    JoinThread();
}

void WatchThread::JoinThread()
{
    if (m_joinable && !pthread_equal(m_thread, pthread_self())) {
        pthread_join(m_thread, nullptr);
        m_joinable = false;
    }
}

void WatchThread::StopAndJoin()
{
    RequestStop();
    JoinThread();
}

__attribute__((noinline)) void WatchThread::ReleaseStack() const noexcept
{
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    // Everything below the stack pointer is dead by the calling convention; this frame is
    // below every live one of the caller.
    volatile char here = 0;
    const auto sp = reinterpret_cast<std::uintptr_t>(&here);
    const std::uintptr_t low = (m_stackLow + page - 1) & ~(page - 1);
    if (m_stackLow == 0 || sp < low + kStackMargin + page)
        return;
    const std::uintptr_t high = (sp - kStackMargin) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(low), high - low, MADV_DONTNEED);
}

bool WatchThread::SleepUnlessStopped(std::chrono::milliseconds d)
{
    std::unique_lock lock(m_sleepMutex);
    return m_sleepCv.wait_for(lock, d, [this] { return m_stop.load(); });
}

} // namespace morvane
