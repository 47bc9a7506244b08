#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace morvane {

class TRKMonItem;
class TRKMonItems;

// The item list of an engine written behind: a save only marks the item dirty, and the
// list file is written once for everything pending: when the owner asks (the end of a
// scan, before the list goes to the monitor, at exit), or at the latest Delay() after the
// first change that is still unwritten. Every write is the INI module's atomic one, so a
// crash loses at most the last Delay() of list changes and never the list. The backup
// index "files.lst" is written only when one of its keys comes, goes or changes its path.
//
// Changes are written in the order they were made (a section erased after an item was
// saved under its name stays erased); a save writes the item's record as it is at the
// write, not as it was at the save.
//
// Threads: any thread queues and flushes. A timer thread, started at the first change,
// flushes when the delay runs out; it never calls into the main thread. Writes of the
// list are serialised by the owner's list-file mutex.
class ListWriteBehind
{
public:
    explicit ListWriteBehind(TRKMonItems& owner);
    // Ends the timer thread; what is still pending is not written (the owner flushes first).
    ~ListWriteBehind();
    ListWriteBehind(const ListWriteBehind&) = delete;
    ListWriteBehind& operator=(const ListWriteBehind&) = delete;

    // The item's section is to be written. arm: start the delay (false: the caller
    // flushes at once).
    void Save(const std::shared_ptr<TRKMonItem>& item, bool arm = true);
    // The section is to be erased, and fileId's key of the backup index (when not empty).
    void Erase(const std::string& section, const std::string& fileId);

    // Writes everything pending now: one write of the list, and one of the backup index
    // when a key of it changes. Any thread. Throws IniWriteError when the list cannot be
    // written; what was pending then stays pending (and the delay starts again), so a
    // later flush still writes it. A failure of the index alone is logged.
    void Flush();

    // True from a change until the write that holds it has ended.
    bool Pending() const;
    // True while a folder item's record waits to be written.
    bool FolderPending() const;

    // Longest time a change waits before the timer writes it (1 s); tests lengthen it.
    std::chrono::milliseconds Delay() const;
    void SetDelay(std::chrono::milliseconds delay);

    // Writes done so far, of the list and of the backup index.
    std::uint64_t ListWrites() const { return m_listWrites.load(); }
    std::uint64_t IndexWrites() const { return m_indexWrites.load(); }

    // Ends the timer thread (at exit, before the last flush). Main thread.
    void Stop();

    static constexpr std::chrono::milliseconds kDefaultDelay{1000};

private:
    struct Op
    {
        std::shared_ptr<TRKMonItem> Item; // a save; null for an erase
        std::string Section;              // an erase
        std::string FileId;               // an erase: the index key that goes with it
    };

    // m_mutex held.
    void ArmLocked();
    void Reindex();
    void Run();
    // Logs a failed timed write and tells the user in the tray's balloon.
    void ReportFailure(const std::string& reason);

    TRKMonItems& m_owner;
    mutable std::mutex m_mutex; // guards everything below but the counters
    std::condition_variable m_wake;
    std::vector<Op> m_ops;
    // Position in m_ops of each item's latest save, and of the latest erase: a save that
    // comes after the latest erase while one is already pending adds nothing.
    std::unordered_map<const TRKMonItem*, std::size_t> m_saved;
    std::ptrdiff_t m_lastErase = -1;
    std::optional<std::chrono::steady_clock::time_point> m_due;
    std::chrono::milliseconds m_delay = kDefaultDelay;
    bool m_stop = false;
    bool m_writing = false; // a flush has taken the changes and not finished writing them
    std::thread m_thread;
    std::atomic<bool> m_failureLogged{false};
    std::atomic<std::uint64_t> m_listWrites{0};
    std::atomic<std::uint64_t> m_indexWrites{0};
};

} // namespace morvane
