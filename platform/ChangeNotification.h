#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace morvane {

// Change notification on one folder (not its subfolders): inotify for create, delete,
// move, modify, close-write and attribute change (never access or open, so our own reads
// do not wake it). All notifications of a process share one inotify instance (the kernel
// allows only 128 per user, and a user may watch far more folders) and one reader thread
// that wakes the waiters; a stop request wakes its waiter at once. Nothing polls.
// Move-only owner of its watch.
class ChangeNotification
{
public:
    enum class WaitResult
    {
        Changed,
        Timeout,
        Stopped,
        Failed
    };

    // Throws std::system_error when the watch cannot be set up (missing folder, out of
    // inotify watches): the caller reports it, never a silent stop. The message names
    // the folder.
    explicit ChangeNotification(const std::string& folder);
    ChangeNotification(ChangeNotification&& other) noexcept;
    ChangeNotification& operator=(ChangeNotification&& other) noexcept;
    ChangeNotification(const ChangeNotification&) = delete;
    ChangeNotification& operator=(const ChangeNotification&) = delete;
    ~ChangeNotification();

    // Waits for a change, a stop request or the timeout (negative: no timeout). Changed
    // drains every queued event first; a queue overflow counts as a change. Stopped stays
    // the answer once RequestStop was called. Failed sets errno (the folder's watch was
    // removed, the folder deleted, or the descriptor broke). Called by the waiting thread.
    WaitResult Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

    // Drains events queued so far without waiting (before a rescan). Waiting thread.
    void Drain();

    // Ends the current or next Wait with Stopped. Any thread.
    void RequestStop();

    // Shared with the process's inotify reader; declared here so it can reach it.
    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace morvane
