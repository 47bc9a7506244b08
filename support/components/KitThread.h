#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace morvane {

// Scheduling priorities a worker can be given. Stored only: an ordinary user cannot
// raise a thread's priority here, and lowering it buys nothing for these workers.
enum class TThreadPriority
{
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// A worker thread run by a component: Execute runs once on its own std::thread. The
// owner (created, resumed, terminated and destroyed on the main thread) controls it:
// - Created suspended, it starts when resumed. Suspension later on is cooperative:
//   Suspend takes effect at the worker's next Sleep, which then waits until Resume.
// - Terminate sets Terminated and wakes the worker from Sleep and from Synchronize, so
//   it leaves its loop at once. The destructor terminates and joins: no worker outlives
//   its object, and none is joined while it waits for the main thread.
// - OnTerminate runs on the main thread after Execute returned, unless the object was
//   destroyed first.
class KitThread
{
public:
    explicit KitThread(bool createSuspended);
    virtual ~KitThread();
    KitThread(const KitThread&) = delete;
    KitThread& operator=(const KitThread&) = delete;

    // Starts the worker the first time, or lets a suspended one go on. Any thread.
    void Resume();
    // The worker pauses at its next Sleep. A worker never started stays unstarted.
    void Suspend();
    bool Suspended() const;
    void SetSuspended(bool value) { value ? Suspend() : Resume(); }

    // Asks the worker to end and wakes it. Any thread; never waits.
    virtual void Terminate();
    bool Terminated() const { return m_terminated.load(); }
    // True once Execute has returned (or the worker will never run).
    bool Finished() const { return m_finished.load(); }
    // Terminates (when terminate), resumes and joins. Main thread or the owner's thread.
    void Stop(bool terminate = true);

    // A number no other worker of the process has had.
    unsigned long long Id() const { return m_id; }

    TThreadPriority Priority() const { return m_priority.load(); }
    void SetPriority(TThreadPriority value) { m_priority.store(value); }
    int ReturnValue() const { return m_returnValue.load(); }
    void SetReturnValue(int value) { m_returnValue.store(value); }
    // Called on the main thread once Execute has returned. Main thread.
    void SetOnTerminate(std::function<void()> handler);
    std::function<void()> OnTerminate() const;

    // Runs method on the main thread and waits for it; runs it directly when called on
    // the main thread. False (method not run, or run no further) when the thread was
    // terminated meanwhile, so a stopping owner never waits on this call. Exceptions of
    // method are thrown again here. Worker thread.
    bool Synchronize(const std::function<void()>& method);

protected:
    virtual void Execute() = 0;

    enum class SleepResult
    {
        Timeout,
        Woken,
        Terminated
    };
    // Waits up to timeout (negative: until woken) while honouring suspension: a
    // suspended worker waits here until resumed, which counts as a wake-up. Worker thread.
    SleepResult Sleep(std::chrono::milliseconds timeout);
    // Ends the current or next Sleep with Woken. Any thread.
    void WakeUp();

private:
    struct Sync;
    void Run();

    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_suspended = true;
    bool m_woken = false;
    bool m_started = false;
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_finished{false};
    std::atomic<TThreadPriority> m_priority{TThreadPriority::tpNormal};
    std::atomic<int> m_returnValue{0};
    std::function<void()> m_onTerminate;
    std::shared_ptr<Sync> m_sync; // the call waiting for the main thread, if any
    // Tells queued main-thread calls whether this object still exists.
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    const unsigned long long m_id;
    std::thread m_thread;
};

// Hands change reports of a worker to a handler on the main thread. Reports made while
// one is still queued join it, so a burst gives one call. Once Close has been called on
// the main thread no call runs any more, also for reports already queued. Exceptions of
// the handler go to TkitComponent::HandleException. Report: any thread.
class ChangeReporter
{
public:
    explicit ChangeReporter(std::function<void()> handler);
    void Report();
    void Close();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Runs fn on the main thread later, unless alive has turned false by then.
void PostToMainThread(std::function<void()> fn);

// True on the thread that runs the Qt application (or any thread when there is none).
bool OnMainThread();

} // namespace morvane
