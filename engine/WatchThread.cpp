#include "engine/WatchThread.h"

#include "engine/MainThreadCalls.h"
#include "platform/TerminationSignal.h"

#include <cerrno>
#include <ctime>
#include <exception>
#include <malloc.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane {

WatchThread::WatchThread(MainThreadCalls& calls) : m_calls(calls) {}

WatchThread::~WatchThread()
{
    // A derived class that forgot StopAndJoin still never leaves a running thread behind.
    StopAndJoin();
    // Destroyed on its own thread: nobody can join it, so it cleans up after itself. Its
    // stack, still in use, is never given back.
    if (m_joinable)
        pthread_detach(m_thread);
}

namespace {

// A watch thread's stack. The default (8 MB) costs a tenth of a millisecond or more per
// thread start, and an agent starts one thread per folder; the scans need far less (their
// largest frame is a 64 KB read buffer, and nothing they call recurses).
constexpr std::size_t kStackSize = 512 * 1024;

// The stacks of watch threads, made here and kept for the next thread rather than
// unmapped when a thread ends: every unmapping takes the process's address-space lock and
// flushes the other cores' address caches, so 10,000 threads that end at once (the stop
// of the agent) would otherwise queue up one after another for seconds. Stacks come in
// chunks of kPerChunk, each with a guard page below it; a chunk goes back to the system
// when none of its stacks is in use and another chunk is free too.
class StackPool
{
public:
    static constexpr std::size_t kPerChunk = 64;

    // The lowest address of a free stack of kStackSize bytes; nullptr when the system
    // gives no memory (errno set).
    void* Take()
    {
        std::lock_guard lock(m_lock);
        for (auto& [base, chunk] : m_chunks) {
            if (!chunk.Free.empty()) {
                void* stack = chunk.Free.back();
                chunk.Free.pop_back();
                ++chunk.InUse;
                return stack;
            }
        }
        const std::size_t slot = Slot();
        void* mem = ::mmap(nullptr, slot * kPerChunk, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
        if (mem == MAP_FAILED)
            return nullptr;
        char* base = static_cast<char*>(mem);
        Chunk chunk;
        chunk.Free.reserve(kPerChunk);
        for (std::size_t i = kPerChunk; i-- > 0;) {
            // A guard page under each stack: an overflow faults instead of writing into the
            // stack below.
            if (::mprotect(base + i * slot, Page(), PROT_NONE) != 0) {
                const int err = errno;
                ::munmap(mem, slot * kPerChunk);
                errno = err;
                return nullptr;
            }
            chunk.Free.push_back(base + i * slot + Page());
        }
        void* stack = chunk.Free.back();
        chunk.Free.pop_back();
        chunk.InUse = 1;
        m_chunks.emplace(base, std::move(chunk));
        return stack;
    }

    // A stack of Take whose thread has been joined.
    void Give(void* stack)
    {
        std::lock_guard lock(m_lock);
        auto it = m_chunks.upper_bound(static_cast<char*>(stack));
        if (it == m_chunks.begin())
            return;
        --it;
        Chunk& chunk = it->second;
        chunk.Free.push_back(stack);
        if (--chunk.InUse > 0)
            return;
        // One free chunk is kept for the next starts (a hold's stop and restart reuses
        // them all).
        for (auto other = m_chunks.begin(); other != m_chunks.end(); ++other) {
            if (other != it && other->second.InUse == 0) {
                ::munmap(it->first, Slot() * kPerChunk);
                m_chunks.erase(it);
                return;
            }
        }
    }

private:
    struct Chunk
    {
        std::vector<void*> Free;
        std::size_t InUse = 0;
    };

    static std::size_t Page()
    {
        static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        return page;
    }
    static std::size_t Slot() { return kStackSize + Page(); }

    std::mutex m_lock;
    std::map<char*, Chunk> m_chunks; // by lowest address
};

// Never destroyed: a thread may end while the process's statics go away.
StackPool& Stacks()
{
    static StackPool* pool = new StackPool;
    return *pool;
}

// Watch threads started and not yet at rest, and how often the heap was given back.
std::atomic<int> g_starting{0};
std::atomic<int> g_heapReleases{0};
// The error every thread start fails with instead of starting (tests); 0: none.
std::atomic<int> g_startFailure{0};

} // namespace

void WatchThread::Start()
{
    m_starting = true;
    g_starting.fetch_add(1);
    int err = g_startFailure.load();
    if (err == 0) {
        m_stack = Stacks().Take();
        if (!m_stack)
            err = errno;
    }
    pthread_attr_t attr;
    if (err == 0)
        err = pthread_attr_init(&attr);
    if (err == 0) {
        err = pthread_attr_setstack(&attr, m_stack, kStackSize);
        if (err == 0)
            err = pthread_create(&m_thread, &attr, Entry, this);
        pthread_attr_destroy(&attr);
    }
    if (err != 0) {
        if (m_stack)
            Stacks().Give(std::exchange(m_stack, nullptr));
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

void WatchThread::FailStartsForTest(int err)
{
    g_startFailure.store(err);
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
    if (!m_joinable || pthread_equal(m_thread, pthread_self()))
        return;
    // A thread may take a while to end (a version it is copying is finished first): the
    // main thread waits in slices and shows a termination watchdog it is not stuck.
    constexpr long kSliceNs = 100'000'000;
    for (;;) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += kSliceNs;
        if (deadline.tv_nsec >= 1'000'000'000) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1'000'000'000;
        }
        if (pthread_timedjoin_np(m_thread, nullptr, &deadline) != ETIMEDOUT)
            break;
        TerminationSignal::Beat();
    }
    m_joinable = false;
    Stacks().Give(std::exchange(m_stack, nullptr));
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
