#pragma once

#include "engine/ItemOwner.h"
#include "engine/ListWriteBehind.h"
#include "engine/MainThreadCalls.h"
#include "engine/MonItemRecord.h"
#include "engine/SharedBlock.h"
#include "engine/WatchThread.h"
#include "platform/FileStamp.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace morvane {

class EngineHost;
class IniFile;
class PackedItemRecord;
class PresenceRetry;
class TRKMonItem;
class TRKMonFolder;

// The engine's list of everything monitored: file items and folder items, each array in
// the order of adding. It holds the engine's context: the shared block (the agent's or
// the monitor's mapping, or a plain struct in tests), the host program, the home folder
// (settings file home + "kelvrim.ini", whose backup root is read again at every use), the
// item list file and the Active role. Active (the agent) writes the list, makes versions,
// tests presence and starts watch threads; passive (the monitor) only loads and mirrors.
//
// Threads: both arrays, their path indexes and every folder's member list are guarded by
// one mutex, held only for the array operations themselves. Items are shared_ptr, so a
// watch thread's item stays valid while the main thread removes it. Index-based methods
// are safe to call from any thread, but an index can go stale when another thread adds or
// removes; threads other than the main one use the path-based lookups (FileByPath).
// Lookups by path and by FileID take constant time: each array has a hash index by path,
// and both one by FileID, which every addition, removal and change of an item keeps right.
class TRKMonItems final : public ItemOwner
{
public:
    // block and host may be nullptr only where nothing needs them (a host is needed for
    // boxes, balloons and main-thread calls; a block for texts and posts). home ends
    // with "/". ListFile := home + "mvlist.srv". Main thread.
    TRKMonItems(SharedBlock* block, EngineHost* host, std::string home);
    // Stops and joins every watch thread (main thread). Frees the items it still holds.
    ~TRKMonItems();
    TRKMonItems(const TRKMonItems&) = delete;
    TRKMonItems& operator=(const TRKMonItems&) = delete;

    // The role; false after construction. Set once by the agent, before LoadAll.
    bool Active() const override { return m_active.load(); }
    void SetActive(bool active) { m_active.store(active); }

    // Full name of the item list file; the monitor points it at the agent's file before
    // LoadAll. Set on the main thread before any thread starts.
    const std::string& ListFile() const override { return m_listFile; }
    void SetListFile(std::string listFile) { m_listFile = std::move(listFile); }

    const std::string& Home() const { return m_home; }
    // home + "kelvrim.ini".
    std::string SettingsFile() const;
    // The backup root as the settings file names it now (ends with "/"); on the thread
    // running LoadAll, as it named it when the load began. Any thread.
    std::string BackupRoot() const override;
    // The folder an unfinished backup move goes to (ends with "/"), "" while none is
    // unfinished or it is the backup root itself; read like BackupRoot. Any thread.
    std::string MoveTarget() const override;
    // The list as LoadAll reads it, on the thread running LoadAll; nullptr elsewhere.
    IniFile* LoadReader() const override;
    // Which load of the list runs on this thread (each LoadAll has its own number); 0 on
    // any other thread.
    std::uint64_t LoadNumber() const override;
    // False when the load running on this thread found no entry fileId in the backup
    // root: the item has no stored version to look for. True in every other case.
    bool MayHoldVersions(const std::string& fileId) const override;
    // What the load running on this thread found at path when it looked at every listed
    // file at once (nothing inside: no regular file); nullptr when it did not look.
    const std::optional<FileStamp>* LookedAtLoad(const std::string& path) const override;
    // The record of path as the load read it ahead, while the load makes its item;
    // nullptr otherwise. Loading thread only.
    const PackedItemRecord* ReadAtLoad(const std::string& path) const override;

    SharedBlock* Block() const override { return m_block; }
    EngineHost* Host() const override { return m_host; }
    TRKMonItems& Collection() override { return *this; }

    // Installs how folder watches are started (see WatchThread.h). Main thread, before
    // LoadAll.
    void SetWatchThreadFactory(WatchThreadFactory factory) { m_factory = std::move(factory); }
    const WatchThreadFactory& WatchFactory() const { return m_factory; }

    int FileCount() const;
    int FolderCount() const;
    // The item at index, nullptr out of range. Any thread.
    std::shared_ptr<TRKMonItem> GetFile(int index) const;
    std::shared_ptr<TRKMonFolder> GetFolder(int index) const;
    // Copies of the arrays. Any thread.
    std::vector<std::shared_ptr<TRKMonItem>> Files() const;
    std::vector<std::shared_ptr<TRKMonFolder>> Folders() const;

    // The existing or a new item for record.Path. A path ending with "/" is a folder
    // (made from the record when the list does not hold it); any other a file (only its
    // path is used; its folder item is made when missing). fileId, when a plain folder
    // name, becomes a new file item's FileID. Any thread; a folder made here starts its
    // watch when the engine is active. Throws std::invalid_argument for a path that is
    // empty, not absolute, longer than 255 bytes or the defaults section's name;
    // IniWriteError when saving fails. A file item a scan adds (by Scan) is versioned and
    // announced by that scan; made, when given, tells whether this call listed the item.
    enum class AddedBy
    {
        Request,
        Scan
    };
    std::shared_ptr<TRKMonItem> Add(const TMonItemRecord& record, const std::string& fileId,
                                    AddedBy by = AddedBy::Request, bool* made = nullptr);

    // Drops slot index of the file array (nothing when out of range); the item is neither
    // stopped nor taken from its folder. Any thread.
    void DeleteFileEntry(int index);
    // Removes a file item: stops it, (active) moves its history to the desktop trash or
    // deletes it where there is none, takes it from its folder and (active) erases its
    // section and its backup-index key; the passive copy never touches stored versions. Nothing when index
    // is out of range. Any thread. Throws IniWriteError when the list cannot be written.
    void RemoveFile(int index);
    void RemoveFileItem(const std::shared_ptr<TRKMonItem>& item);
    // Removes a folder item: stops its watch, removes its members as above, then (active)
    // its own section and key. Main thread.
    void RemoveFolder(int index);
    void RemoveFolderItem(const std::shared_ptr<TRKMonFolder>& folder);

    // First exact (case-sensitive) match from index 0, or -1. Any thread.
    int FindByFileID(const std::string& id) const;
    int FindByPath(const std::string& path) const;
    int FindFolder(const std::string& path) const;
    // The file or folder item with that path, or nullptr: one step, so safe on any thread.
    std::shared_ptr<TRKMonItem> FileByPath(const std::string& path) const;
    std::shared_ptr<TRKMonFolder> FolderByPath(const std::string& path) const;

    // Makes an item for every section of the list file but the defaults section; each is
    // read once, so a version made while the list loads stays in its record. When active,
    // first gives the backup index a key for every item of the list. Sections that cannot
    // be items (bad or over-long paths) are skipped; their names come back with the
    // reason. Main thread.
    std::vector<std::string> LoadAll();
    // With deferred set, LoadAll leaves the watches of the folders it loaded to
    // StartLoadedWatches, so a program can answer requests between starts. Main thread.
    void SetLoadWatchesDeferred(bool deferred) { m_deferLoadWatches = deferred; }
    // Starts up to count of the watches LoadAll left; true while more are left. Main thread.
    bool StartLoadedWatches(std::size_t count);
    // The folders among them still waiting for their start. Main thread.
    std::vector<std::shared_ptr<TRKMonFolder>> LoadedWatchesLeft() const;
    // Saves every file item, then every folder item, in one write of the list file. Any
    // thread. Throws IniWriteError.
    void SaveAll();

    // The list is written behind (see ListWriteBehind): an item's Save only marks it
    // dirty when the engine is active. FlushList writes what is pending now (the end of a
    // scan or a request, before the list goes to the monitor, at exit). Any thread.
    // Throws IniWriteError; the changes then stay pending.
    void FlushList() override;
    // Writes the list when a folder's record is pending, before a report that makes the
    // monitor read the list (ADD); a failure is logged. Any thread.
    void FlushBeforeMonitor();
    // True while a change of the list is unwritten; FolderPending: one of a folder item.
    bool ListPending() const { return m_listWriter->Pending(); }
    bool FolderListPending() const { return m_listWriter->FolderPending(); }
    ListWriteBehind& ListWriter() override { return *m_listWriter; }

    // The calls onto the host's main thread, and their stop flags. Any thread.
    MainThreadCalls& MainThread() override { return m_mainThread; }

    // Copies record into the block's ItemRecord and posts message msg (wParam, lParam 0)
    // to the monitor window, on the main thread (queued when called elsewhere, so block
    // writes never race). Nothing without a block. Any thread.
    void PostToMonitor(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam = 0) override;

    // Where PostToMonitor hands its reports on the main thread instead of writing the
    // block itself: the agent sends them one record at a time, so that a burst of reports
    // never overwrites a record the monitor has not read yet. Set on the main thread
    // before LoadAll; it must stay valid while the collection lives.
    using ReportPoster =
        std::function<void(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam)>;
    void SetReportPoster(ReportPoster poster)
    {
        m_reportPoster = std::make_shared<ReportPoster>(std::move(poster));
    }
    // True when reports go through a poster, which then owns AddHandshake. Any thread.
    bool HasReportPoster() const { return m_reportPoster != nullptr; }

    // Stops and joins every folder's watch thread, and the search for items that were
    // missing at load; watches LoadAll left are not started any more. Main thread.
    void StopAllWatches();

    // Expires when the collection goes away: work queued onto the main thread looks at it
    // first, so a late call never reaches a collection (or block) that is gone.
    std::weak_ptr<void> AliveToken() const override { return m_alive; }

private:
    friend class TRKMonFolder;
    friend class ListWriteBehind;

    // Listed items by path; normally one per path. Holds exactly the items of its array.
    using PathIndex = std::unordered_multimap<std::string, TRKMonItem*>;

    // Checks a path for Add and Reassign (see Add); throws std::invalid_argument.
    static void CheckPath(const std::string& path);
    // While LoadAll runs on this thread, takes item (found missing) to be looked for
    // later, off the main thread, and returns true; false otherwise.
    bool DeferPresence(TRKMonItem& item) override;
    // TRKMonItem::Reassign, on the lists: checks newPath (see Reassign there), then moves
    // the item and, for a folder, its members and its watch.
    void ReassignItem(TRKMonItem& item, const std::string& newPath) override;
    void ReassignFolder(TRKMonFolder& folder, const std::string& newPath);
    void ReassignFile(TRKMonItem& item, const std::string& newPath);
    // Main thread: the verdicts on the items looked for, then one save of the list.
    void SettlePresence(const std::vector<std::weak_ptr<TRKMonItem>>& items, const std::vector<bool>& found);
    // Makes the folder item for folderPath (from the list, or new: monitored, saved when
    // active), appends it and, when active and monitored, starts its watch. firstMember,
    // when given, becomes its member before it is switched on (Add); without one the folder
    // is a plain one (Reassign). A folder another thread appended meanwhile is used instead.
    std::shared_ptr<TRKMonFolder> MakeParentFolder(const std::string& folderPath,
                                                   const std::shared_ptr<TRKMonItem>& firstMember);
    // Starts the folder's watch; on the thread running LoadAll, only once the load is over
    // (the folder counts as monitored meanwhile).
    void StartWatchAfterLoad(const std::shared_ptr<TRKMonFolder>& folder);
    // A FileID that neither a backup folder nor an item in memory or in the list uses.
    std::string MakeFileId() const;
    // Before the items of the list are made: of the sections that share a FileID, the
    // one the backup index names for it keeps it (else the first); each other one gets a
    // fresh FileID, written to the list. Then every FileID of the list gets its key in the
    // backup index, with the section's path; keys of no listed item stay. Returns the
    // sections that moved, with their new FileID. A write that fails is logged.
    std::vector<std::pair<std::string, std::string>> MendFileIds(const std::vector<std::string>& sections);
    // Erases the item's section and, when its FileID is set, its backup-index key; marks
    // it removed so no later save brings the section back.
    void EraseStored(TRKMonItem& item, bool eraseSection);
    void EraseSection(const std::string& section);
    // Serialises this process's writes of the list file and the backup index.
    std::mutex& ListFileMutex() const { return m_listFileMutex; }

    // Array operations that keep the path indexes and the items' slots right; m_mutex held.
    // ListItem appends item, filed under the path it has now. UnlistAt hands the item
    // back, so the caller can let go of it once the lock is released.
    template <typename Item>
    void ListItem(std::vector<std::shared_ptr<Item>>& items, PathIndex& index,
                  const std::shared_ptr<Item>& item);
    template <typename Item>
    std::shared_ptr<Item> UnlistAt(std::vector<std::shared_ptr<Item>>& items, PathIndex& index,
                                   std::size_t slot);
    // Whether item stands in items at its slot; m_mutex held.
    template <typename Item>
    static bool Holds(const std::vector<std::shared_ptr<Item>>& items, const TRKMonItem& item);
    // The item at index, nullptr when there is none; m_mutex held.
    template <typename Item>
    static std::shared_ptr<Item> At(const std::vector<std::shared_ptr<Item>>& items, int index);
    // Slot of the first listed item with that path, or -1; m_mutex held.
    static int SlotOf(const PathIndex& index, const std::string& path);
    // Called by an item after its Path or FileID changed: moves it in its indexes and,
    // for a new path, makes every folder check its members' paths again. Takes m_mutex.
    void KeysChanged(TRKMonItem& item) override;
    // Whether a listed item other than except has that FileID. Any thread.
    bool FileIdInUse(const std::string& id, const TRKMonItem* except) const;
    // Bumped (under m_mutex) whenever the Path of an item any list holds changes.
    std::uint64_t PathGeneration() const { return m_pathGeneration; }

    SharedBlock* m_block;
    EngineHost* m_host;
    MainThreadCalls m_mainThread{m_host};
    std::string m_home;
    std::string m_listFile;
    std::atomic<bool> m_active{false};
    WatchThreadFactory m_factory;
    std::shared_ptr<ReportPoster> m_reportPoster;

    mutable std::mutex m_mutex; // guards m_files, m_folders and every folder's member list
    std::vector<std::shared_ptr<TRKMonItem>> m_files;
    std::vector<std::shared_ptr<TRKMonFolder>> m_folders;
    PathIndex m_fileIndex;   // m_files by path
    PathIndex m_folderIndex; // m_folders by path
    PathIndex m_idIndex;     // m_files and m_folders by FileID
    std::uint64_t m_pathGeneration = 1;

    // Items missing at load, collected by the thread running LoadAll (only that thread
    // touches it while it loads).
    std::vector<std::shared_ptr<TRKMonItem>> m_missingAtLoad;
    std::thread::id m_loadingThread;
    // The thread running LoadAll, its reader of the list and the backup root it uses.
    std::atomic<std::thread::id> m_readerThread;
    IniFile* m_loadReader = nullptr;
    std::uint64_t m_loads = 0;
    // The names in the backup root when the load began; only while it runs, when read.
    std::optional<std::unordered_set<std::string>> m_loadBackupNames;
    // The section being loaded and what the load found there (loading thread only).
    const std::string* m_lookPath = nullptr;
    const std::optional<FileStamp>* m_look = nullptr;
    const PackedItemRecord* m_readAhead = nullptr;
    std::string m_loadRoot;
    std::string m_loadMoveTo;
    // Folders whose watch starts when LoadAll has made every item (loading thread only).
    std::vector<std::weak_ptr<TRKMonFolder>> m_watchesAfterLoad;
    bool m_deferLoadWatches = false;
    // Watches the last load left to StartLoadedWatches, the next to start first.
    std::deque<std::weak_ptr<TRKMonFolder>> m_loadedWatches;
    bool m_heldStarts = false;                      // WatchThread::HoldStarts is in force for them
    std::unique_ptr<PresenceRetry> m_presenceRetry; // main thread only

    mutable std::mutex m_listFileMutex;
    // Made last and ended first: its thread uses the members above.
    std::unique_ptr<ListWriteBehind> m_listWriter = std::make_unique<ListWriteBehind>(*this);
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace morvane
