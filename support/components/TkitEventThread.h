#pragma once

#include "KitThread.h"

#include <atomic>
#include <functional>

namespace morvane {

// A worker that runs its event once: OnEvent(sender) on the worker thread, or on the
// main thread when Synchronized. Nothing runs once it is terminated.
class TkitEventThread : public KitThread
{
public:
    using EventHandler = std::function<void(TkitEventThread* sender)>;

    explicit TkitEventThread(bool createSuspended) : KitThread(createSuspended) {}
    ~TkitEventThread() override;

    // Set while the worker is suspended or from the main thread; the worker reads a copy
    // for each run.
    void SetOnEvent(EventHandler handler);
    bool Synchronized() const { return m_synchronized.load(); }
    void SetSynchronized(bool value) { m_synchronized.store(value); }

protected:
    void Execute() override;
    // One run of the event: on the main thread when Synchronized, else here.
    void RunEvent();
    virtual void DoEvent();

private:
    mutable std::mutex m_eventLock;
    EventHandler m_onEvent;
    std::atomic<bool> m_synchronized{false};
};

// A worker that runs its event every Interval milliseconds until terminated. Changing
// the interval or waking it starts a fresh wait at once and never fires the event early;
// an interval of 0 means no ticks at all (never a busy loop).
class TkitTimerThread : public TkitEventThread
{
public:
    explicit TkitTimerThread(bool createSuspended) : TkitEventThread(createSuspended) {}
    // Clears the event and wakes the worker, so it ends without another run; never
    // waits out the interval.
    ~TkitTimerThread() override;

    unsigned Interval() const { return m_interval.load(); }
    // A suspended timer stays suspended. Any thread; never throws.
    void SetInterval(unsigned value);
    // Ends the wait in progress (the next wait is a full one) and resumes the worker.
    void Wake();

protected:
    void Execute() override;

private:
    std::atomic<unsigned> m_interval{1000};
};

} // namespace morvane
