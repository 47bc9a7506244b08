#pragma once

#include "engine/TRKMonItem.h"
#include "engine/WatchThread.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace morvane {

// A monitored folder: a TRKMonItem whose record has IsFolder set and a Path ending with
// "/". It groups the file items of that folder (its members, held also by the collection)
// and owns the folder's watch thread.
//
// Threads: the member list is guarded by the collection's lock; every method hands out
// copies. The watch thread is started and joined on the main thread.
class TRKMonFolder : public TRKMonItem
{
public:
    // A folder item for path, loaded from the owner's list file. Any thread.
    static std::shared_ptr<TRKMonFolder> Create(const std::string& path, TRKMonItems& owner);
    // A folder item for record.Path: loaded from the list file when the list holds it,
    // else the record's own options are kept. Tests presence (no message). Any thread.
    static std::shared_ptr<TRKMonFolder> CreateFromRecord(const TMonItemRecord& record, TRKMonItems& owner);

    // Joins a watch thread that is still there (main thread).
    ~TRKMonFolder() override;

    // Member index of the file item with that exact path, or -1. Any thread.
    int IndexOfFile(const std::string& path) const;
    // Drops that member from the list (the item itself stays in the collection). Any
    // thread.
    void RemoveFile(const std::string& path);
    // Takes a file item of this folder as a member: false when its folder part is not
    // this folder's path, true when it is (or already was) a member. When the engine is
    // active and the folder monitored, a first version of the new member is made and
    // reported, unless the caller makes it (version false). Any thread.
    bool AddFile(const std::shared_ptr<TRKMonItem>& item, bool version = true);

    // Number of members, the member at index (nullptr out of range), and a copy of the
    // member list. Any thread.
    int FileCount() const;
    std::shared_ptr<TRKMonItem> GetFile(int index) const;
    std::vector<std::shared_ptr<TRKMonItem>> Files() const;

    // Starts the folder's watch thread through the collection's factory (ending an earlier
    // one first) and sets Monitored. Without a factory only Monitored is set. A thread
    // that cannot be started leaves the folder without a watch (the factory tells the
    // user); it never throws. Main thread (or a scan's thread for a folder it has just
    // made).
    void StartWatch();
    // Asks the watch thread to end, joins it (main thread) and clears Monitored; MonStatus
    // is left as it is. Called on another thread it only asks, and the join happens at
    // the next start, stop or destruction on the main thread.
    void StopWatch();

    morvane::WatchThread* WatchThread() const override;
    // True while a watch thread is there and has not ended by itself. Any thread.
    bool WatchRunning() const;

protected:
    explicit TRKMonFolder(TRKMonItems& owner);
    void DropWatch() override;
    void ResumeWatch() override { StartWatch(); }

private:
    friend class TRKMonItems;

    // Asks the running thread to end; when join (main thread only), also joins it and
    // every thread asked earlier. Without join the thread is kept to be joined later.
    void EndWatch(bool join);
    // Hands the running thread, asked to end unless ask is false (the caller asks it
    // then), and every thread asked earlier to the caller, who joins them (main thread).
    void TakeWatches(std::vector<std::unique_ptr<morvane::WatchThread>>& ending, bool ask = true);
    // Drops that very item from the members.
    void RemoveMember(const TRKMonItem* item);
    // Bookkeeping of a member leaving m_files (owner's lock held).
    void ForgetMember(const TRKMonItem& member);
    // Rebuilds m_memberPaths when a path changed since it was built (owner's lock held).
    void RefreshMemberPaths();

    std::vector<std::shared_ptr<TRKMonItem>> m_files; // guarded by the owner's list lock
    // For AddFile's test of a member already there, without reading every member's path:
    // the members themselves, and how many members have each path. The counts are as of
    // the owner's path generation m_memberPathsGeneration. Guarded by the owner's lock.
    std::unordered_set<const TRKMonItem*> m_memberSet;
    std::unordered_map<std::string, int> m_memberPaths;
    std::uint64_t m_memberPathsGeneration = 0;
    mutable std::mutex m_watchMutex; // guards m_watch and m_retired
    std::unique_ptr<morvane::WatchThread> m_watch;
    // Threads asked to end off the main thread, joined at the next join.
    std::vector<std::unique_ptr<morvane::WatchThread>> m_retired;
};

} // namespace morvane
