#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace morvane {

class MainThreadCalls;
class TRKMonFolder;

// A folder's watch thread: the base owns the thread, its stop flag, the sleep a stop
// request cuts short, and the join; a derived class says what the thread does (Execute)
// and what else a stop must wake (WakeWaits). The program installs a factory on its item
// collection (TRKMonItems::SetWatchThreadFactory): the agent makes its folder-watch
// thread, the monitor its single-file one; the passive engine never starts one.
//
// Ownership: the folder item holds the thread and joins it in StopWatch, in StartWatch
// (before a second start) and when it goes away, always on the main thread. A thread that
// ended by itself is only ever joined after that, never touched otherwise.
//
// A thread made by the factory refers to its folder by reference (the folder outlives it,
// since it joins it) and must hold no shared_ptr to its own folder: the last reference
// would otherwise be dropped on the thread itself, which would then join itself.
//
// Waiting on the main thread: the thread's stop flag is its flag for every engine call
// that waits for the main thread (MainThreadCalls::Synchronize, the confirmation question,
// the presence test's box), which then gives up as soon as it is set, so the main thread
// can join the thread without a deadlock.
class WatchThread
{
public:
    // The thread must have been joined (derived destructors call StopAndJoin).
    virtual ~WatchThread();
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

    // Asks the thread to end and wakes it wherever it waits: the base's sleep, a wait on
    // the main thread, and what WakeWaits wakes. Any thread; returns at once.
    virtual void RequestStop();
    // Waits until the thread has ended, beating the termination watchdog's heartbeat
    // while it waits. Main thread; never from the thread itself.
    virtual void Join();
    // True once the thread body has returned (by itself or on request). Any thread.
    bool Finished() const { return m_finished.load(); }

protected:
    // calls: how the thread reaches the main thread; it outlives the thread.
    explicit WatchThread(MainThreadCalls& calls);

    // Starts the thread, which runs Execute with its stop flag set for the engine's
    // waits. An exception that leaves Execute ends the thread and goes to Failed. Call
    // once, at the end of the derived constructor. Throws std::system_error.
    void Start();
    // Asks the thread to end and joins it. Derived destructors call it first, since the
    // thread runs their code.
    void StopAndJoin();

    // The thread body.
    virtual void Execute() = 0;
    // Called on the thread when Execute threw: the thread has stopped for this reason.
    virtual void Failed(const std::string& why) = 0;
    // Wakes a wait of the derived class's own (a change notification); called by
    // RequestStop after the flag is set. Any thread.
    virtual void WakeWaits() {}

    bool StopRequested() const { return m_stop.load(); }
    const std::atomic<bool>* StopFlag() const { return &m_stop; }
    // Sleeps up to d; true when a stop request ended (or came before) the sleep.
    bool SleepUnlessStopped(std::chrono::milliseconds d);
    // Gives back to the system the stack pages below the caller's frame (what a deep scan
    // touched), before a long sleep: an agent may have a thread for each of thousands of
    // folders, nearly all asleep. Called on the thread itself.
    void ReleaseStack() const noexcept;
    // Before a long sleep: ReleaseStack, and the first time, the end of this thread's
    // start. Once every thread started so far has ended its start, the heap's free pages
    // are given back: the first scans of thousands of folders leave free memory scattered
    // between what stays. Called on the thread itself.
    void Rest() noexcept;

public:
    // How often the heap was given back that way in this process (tests). Any thread.
    static int HeapReleases();
    // While held, the heap is not given back at the end of a start: more threads are to
    // start, a batch at a time. The release comes when the hold ends, or when the last
    // thread started meanwhile rests. Main thread.
    static void HoldStarts(bool hold);
    // Makes every thread start fail with err, as the system's would at its limit on
    // processes; 0 ends that (tests). Any thread.
    static void FailStartsForTest(int err);

protected:
    MainThreadCalls& Calls() const { return m_calls; }

private:
    static void* Entry(void* self);
    void Run();
    void Report(const char* why) noexcept;
    void JoinThread();
    void EndStart() noexcept;

    MainThreadCalls& m_calls;
    // The lowest usable address of the thread's stack, 0 when not known. Set on the
    // thread before Execute.
    std::uintptr_t m_stackLow = 0;
    // Started and not yet at rest. Set before the thread starts, then only on the thread.
    bool m_starting = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::mutex m_sleepMutex;
    std::condition_variable m_sleepCv;
    // The thread, made on a stack of the process's pool (given back once it is joined);
    // joinable until joined or detached.
    void* m_stack = nullptr;
    pthread_t m_thread{};
    bool m_joinable = false;
};

// Makes and starts the watch thread of a folder item. Called on the main thread (or, for
// a folder made while a scan adds a file, on that scan's thread).
using WatchThreadFactory = std::function<std::unique_ptr<WatchThread>(TRKMonFolder&)>;

} // namespace morvane
