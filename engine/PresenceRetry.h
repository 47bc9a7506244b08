#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane {

class TRKMonItem;

// Looks again, off the main thread, for items that were missing when the list was loaded,
// so that start-up never waits for them (an unplugged disk may hold thousands): every
// kStep it tests each item still missing, at most kWaits times, then hands the verdicts
// to done. done runs on the retry thread; it queues the verdicts onto the main thread.
//
// Ownership: the collection holds it and destroys it (which stops and joins the thread at
// once) before its items go. Made on the main thread; Stop from any thread.
class PresenceRetry
{
public:
    // How often and how far apart a missing item is looked for again.
    static constexpr int kWaits = 10;
    static constexpr std::chrono::milliseconds kStep{100};

    // found[i] tells whether items[i] was there at one of the looks.
    using Done = std::function<void(std::vector<std::weak_ptr<TRKMonItem>> items, std::vector<bool> found)>;

    // Starts the thread. Throws std::system_error when it cannot be started.
    PresenceRetry(std::vector<std::shared_ptr<TRKMonItem>> items, Done done);
    ~PresenceRetry(); // Stop, then join
    PresenceRetry(const PresenceRetry&) = delete;
    PresenceRetry& operator=(const PresenceRetry&) = delete;

    // Ends the looks at once; done is then not called. Any thread.
    void Stop();

    // Whether the item is there now (a folder item's folder, a file item's file).
    static bool Present(const TRKMonItem& item);

private:
    void Run(std::vector<std::shared_ptr<TRKMonItem>> items, Done done);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace morvane
