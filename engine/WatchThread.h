#pragma once

#include <functional>
#include <memory>

namespace morvane {

class TRKMonFolder;

// A folder's watch thread as the engine sees it. The program installs a factory on its
// item collection (TRKMonItems::SetWatchThreadFactory): the agent makes its folder-watch
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
// Waiting on the main thread: a watch thread calls MainThreadCalls::SetThreadStopFlag with
// its stop flag once when it starts. Every engine call that waits for the main thread
// (MainThreadCalls::Synchronize, the confirmation question, the presence test's box) then
// gives up as soon as that flag is set, so the main thread can join the thread without
// a deadlock.
class WatchThread
{
public:
    virtual ~WatchThread();

    // Asks the thread to end and wakes it when it waits, a wait in Synchronize included
    // (MainThreadCalls::WakeAll after setting the flag: such a wait never polls).
    // Any thread; returns at once.
    virtual void RequestStop() = 0;
    // Waits until the thread has ended. Main thread; never called from the thread itself.
    virtual void Join() = 0;
    // True once the thread body has returned (by itself or on request). Any thread.
    virtual bool Finished() const = 0;
};

// Makes and starts the watch thread of a folder item. Called on the main thread (or, for
// a folder made while a scan adds a file, on that scan's thread).
using WatchThreadFactory = std::function<std::unique_ptr<WatchThread>(TRKMonFolder&)>;

} // namespace morvane
