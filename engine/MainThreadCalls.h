#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace morvane {

class EngineHost;

// Calls from other threads onto the main thread, each waited for by its caller, and the
// stop flags that end such waits, so the main thread can always join a thread that waits
// for it. The engine's collection holds one for its host; every watch thread reaches the
// main thread through it.
class MainThreadCalls
{
public:
    // host may be nullptr: every call then runs at once on the calling thread.
    explicit MainThreadCalls(EngineHost* host);
    MainThreadCalls(const MainThreadCalls&) = delete;
    MainThreadCalls& operator=(const MainThreadCalls&) = delete;

    // Runs fn on the main thread through the host and waits until it has run. On the main
    // thread (or without a host) fn runs at once. The wait ends early, returning false,
    // when stop (or, when stop is nullptr, the calling thread's flag from
    // SetThreadStopFlag) is set: fn then either never runs or runs later, so fn must hold
    // what it touches by value or shared_ptr. An exception thrown by fn is rethrown here.
    // The wait does not poll: only the call's end or WakeAll wakes it. Any thread.
    bool Synchronize(std::function<void()> fn, const std::atomic<bool>* stop = nullptr);
    // Runs fn on the main thread after the calls posted before it, without waiting for it
    // (at once on the main thread or without a host). fn must hold what it touches by
    // value or shared_ptr. Any thread.
    void Post(std::function<void()> fn);
    // Wakes every Synchronize wait so it looks at its stop flag again. Whoever sets a stop
    // flag that a wait may be using calls this afterwards. Any thread.
    void WakeAll();

    // The stop flag of the calling thread, used by every wait of the engine on the main
    // thread from that thread. A watch thread sets it once at its start. Any thread.
    static void SetThreadStopFlag(const std::atomic<bool>* stop);
    static const std::atomic<bool>* ThreadStopFlag();
    // True when the calling thread's stop flag is set.
    static bool StopRequested();

private:
    struct Call;
    // The calls waiting for the main thread. Each has its own wake-up, so the end of one
    // call wakes only its own thread. Shared with the queued calls, which may run after
    // this object is gone.
    struct Waiters;

    EngineHost* m_host;
    std::shared_ptr<Waiters> m_waiters;
};

} // namespace morvane
