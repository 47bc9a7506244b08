#pragma once

#include "engine/ItemOwner.h"
#include "engine/MonItemRecord.h"
#include "engine/PackedItemRecord.h"
#include "engine/VersionDecision.h"
#include "engine/VersionStore.h"
#include "platform/AtomicFile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

class TRKMonItems;
class WatchThread;

// One monitored file (a TRKMonFolder for a folder): its record, and the operations that
// make, prune and report versions and switch monitoring.
//
// Ownership: items are held by shared_ptr. The collection (Owner) holds every item; a
// watch thread may hold one while it works on it, so an item removed by the main thread
// stays valid (but marked removed: it is no longer saved) until the thread lets go.
//
// Threads: the record is guarded by the item's own mutex; Data() copies it out and
// SetData()/UpdateData() copy it in, each in one step. No lock is held across file
// copying, a box or a call onto the main thread. Which thread may call what is said at
// each method; "any thread" means the main thread or a watch thread.
class TRKMonItem : public std::enable_shared_from_this<TRKMonItem>
{
public:
    // Makes a file item for path and loads it from the owner's list file (Load). The
    // caller has checked the path. Any thread. Throws IniWriteError when a presence test
    // cannot save the item.
    static std::shared_ptr<TRKMonItem> Create(const std::string& path, ItemOwner& owner);

    virtual ~TRKMonItem();
    TRKMonItem(const TRKMonItem&) = delete;
    TRKMonItem& operator=(const TRKMonItem&) = delete;

    // The collection that holds the item; it outlives the item's use. Any thread.
    TRKMonItems& Owner() const { return m_owner->Collection(); }

    // A copy of the whole record, taken in one step. Any thread.
    TMonItemRecord Data() const;
    // Replaces the whole record in one step. Any thread. A new Path is passed on to the
    // owner's path index (never call these with the owner's lock held).
    void SetData(const TMonItemRecord& record);
    // Runs change on the record under the item's lock; change must be short and must not
    // call back into the engine. Any thread; a new Path is passed on as above.
    void UpdateData(const std::function<void(TMonItemRecord&)>& change);

    // The record as the list stores it: a write failure is shown, never stored. Any thread.
    TMonItemRecord StoredData() const;

    // Single fields, read in one step. Any thread.
    std::string Path() const;
    std::string FileID() const;
    bool IsFolder() const;
    bool Monitored() const;
    bool IsSaved() const;
    TMonStatus MonStatus() const;
    double LastTime() const;
    std::string LastVersionPath() const;

    // True while a MakeVersion of this item runs. Any thread.
    bool Busy() const { return m_busy.load(); }

    // The folder's watch thread, nullptr for file items and folders without one. Main
    // thread only (the pointer is owned by the folder and joined there).
    virtual morvane::WatchThread* WatchThread() const { return nullptr; }

    // Reads the record from the owner's list file (or takes readAhead, the same record
    // read before from the list's current state), tests presence without a message and,
    // when the engine is active and the item is monitored, restarts it (Start). Any
    // thread. Throws IniWriteError when marking it broken cannot be saved.
    void Load(const PackedItemRecord* readAhead = nullptr);

    // Writes the record to the owner's list file and its FileID to the backup index: in
    // the active engine behind (the item is marked dirty, see ListWriteBehind), in the
    // passive one at once. Does nothing for an item the collection has removed. Any
    // thread. Throws IniWriteError when the passive engine cannot write a file.
    void Save();

    // Makes a version of the file when its change deserves one (DecideVersion) and says
    // how the attempt ended. force skips the mode test, the confirmation question and both
    // comparisons, not the change test. A second call while one runs is NotDue at once.
    // The confirmation question is asked on the main thread (waiting for it from a watch
    // thread ends when the thread's stop flag is set: Unanswered). A file that cannot be
    // read after about five seconds marks the item broken (in memory). A failed attempt
    // uses up no version number. Any thread. Throws IniWriteError when the mode counter
    // cannot be saved. A forced attempt (also one taken over from a caller turned away
    // while it ran) that found the file changing during every copy is answered with
    // ReportChanging.
    VersionResult MakeVersion(bool force);
    // Tells the user that no version was made as the file kept changing while it was
    // copied (a balloon and a log line) and answers a running monitor with VERSION. Runs on
    // the main thread; called elsewhere it is queued there and returns at once.
    void ReportChanging();

    // MakeVersion(false) of each item in turn, with the flushes shared: a group of copies
    // is written, made durable with one flush of their file system, named, and named
    // durably with a second one, where one version alone takes two flushes of its own. A
    // version is recorded only once it is on disk, and a crash leaves none half written.
    // A group is kept small (in files, bytes and time), so the first versions are not held
    // back by the last; a group of one is made as MakeVersion makes it. done is called for
    // every item, in order, with how its attempt ended, once that is final. Any thread.
    // Throws IniWriteError as MakeVersion does, after the versions made so far are done.
    using VersionDone = std::function<void(const std::shared_ptr<TRKMonItem>&, const VersionResult&)>;
    static void MakeVersions(const std::vector<std::shared_ptr<TRKMonItem>>& items, const VersionDone& done);

    // Tells the user, once per cause until a version is made again, that a version could
    // not be written (a balloon and a log line), and shows the item as broken in the
    // monitor meanwhile, without stopping it: the next save tries again. Runs on the main
    // thread; called elsewhere it is queued there and returns at once.
    void ReportWriteFailure(int error);
    // The cause of the write failure the item shows now, 0 when none. Any thread.
    int WriteFailure() const;

    // Reports a version made by MakeVersion (tray balloon, VERSION to a running monitor)
    // and records its file date as LastTime, then saves. With force and no change of the
    // file date it reports that the version already exists. A version that was not made
    // is never reported and leaves LastTime alone. Runs on the main thread; called on
    // another thread it is queued there and returns at once.
    void AfterVersion(bool force);

    // Deletes the version files whose version folder is older than threshold, removes
    // emptied version folders, and makes the newest version written after LastTime the
    // LastVersionPath. Only all-digit folder names count as versions, taken in numeric
    // order; nothing outside the item's backup folder is touched, and nothing at all
    // when the FileID is not a plain folder name. Failures are silent. Any thread.
    void DeleteVersionsBefore(double threshold);
    // Keeps the n highest-numbered version folders and deletes the others (n <= 0: all).
    // Same safety as above. Any thread.
    void KeepLastVersions(int n);

    // True when the item may be considered present. Only when the engine is active: a
    // missing file or folder (tested for about one second) stops the item, marks it
    // broken, saves it and tells a running monitor (STOP, wParam 1) unless the current
    // request came from the monitor; with show, the user is told in a warning box on the
    // main thread. While the collection loads its list, a missing item is not waited for:
    // it becomes PresencePending and false is returned with nothing changed. Passive
    // engine: false, no effect. Any thread. Throws IniWriteError.
    bool CheckExists(bool show);

    // True while the list's load found the item missing and its presence is still being
    // looked for off the main thread: it is neither started nor marked broken meanwhile.
    // Any thread.
    bool PresencePending() const { return m_presencePending.load(); }

    // True once for an item a folder's scan found and listed, and so announces itself:
    // a request that adds the same file meanwhile finds it listed and must not announce
    // it a second time. Any thread.
    bool TakeScanAnnouncement() { return m_scanAnnounces.exchange(false); }

    // Switches monitoring on when the item is present. Any thread.
    void Start();
    // Switches monitoring off (a broken item stays broken). A folder's watch thread is
    // asked to end; on the main thread it is also joined. Any thread.
    void Stop();

    // Gives the item a new path, moving it between folder items; its FileID, and so its
    // history, stays. Main thread only. Throws std::invalid_argument for a path that is
    // empty, not absolute, longer than 255 bytes, or of the wrong kind (a folder's ends
    // with "/", a file's does not); IniWriteError when the list cannot be written.
    void Reassign(const std::string& newPath);

protected:
    explicit TRKMonItem(ItemOwner& owner);
    // Starts from record: an item being made, in no list yet.
    TRKMonItem(ItemOwner& owner, const TMonItemRecord& record);

    // Stop's part for a folder's watch thread.
    virtual void DropWatch() {}
    // A folder's part of a restart after a late presence verdict: its watch starts.
    virtual void ResumeWatch() {}

private:
    friend class TRKMonItems;
    friend class TRKMonFolder;
    friend class ListWriteBehind;

    // Pruning with one version folder that must stay whatever the limit (the version
    // just made); empty keepName protects nothing.
    // cleanLeftovers only where no copy of the item can be under way (after its own copy).
    void PruneVersions(double threshold, const std::string& keepName, bool cleanLeftovers,
                       Disposal how = Disposal::Delete);
    void KeepVersions(int n, const std::string& keepName, bool cleanLeftovers);
    // Removal of the item: its whole backup folder goes to the desktop trash; where there
    // is none, every version file and folder, then the emptied backup folder.
    void DeleteAllVersions();
    // Shows text in a box on the main thread (waiting for it, cancellable) and returns
    // the answer; nothing when the wait was given up.
    std::optional<bool> AskOnMainThread(const std::string& text);
    // Stops the item and marks it broken; saves it when save, tells a running monitor,
    // and with show the user.
    void ReportBroken(bool show, bool save = true);
    // The verdict on an item that was missing at load: a found item restarts as Load
    // would have restarted it; one still missing is marked broken (not saved: the caller
    // saves the list once). Main thread.
    void SettlePresence(bool found);
    // Sleeps one retry step unless the calling thread is asked to stop; false then.
    static bool WaitRetry();
    // The facts DecideVersion looks at, read from the record and the disk.
    VersionFacts GatherFacts(const TMonItemRecord& rec, bool force);
    // Brings the record up to the newest of the stored versions (the name and date of its
    // file given) when the record names an older one: after a start whose list was written
    // before its last versions were. True when the record changed. m_mutex held.
    bool CatchUpLocked(const std::vector<VersionEntry>& versions, const std::string& newestName,
                       double newestDate);
    // A version copied into its new folder, not yet named.
    struct StagedVersion
    {
        TMonItemRecord Rec; // as the attempt read it
        std::string Base;   // the item's backup folder
        VersionFolder Folder;
        std::string Target;
        int NameCount = 0;
        std::int64_t ModTimeNs = 0;
        std::int64_t Bytes = 0;
        AtomicFile File; // the bytes, neither flushed nor named
    };
    // One attempt of MakeVersion, run while this thread holds the busy flag. With staged,
    // a version due is only copied there (Made then means staged).
    VersionResult MakeVersionOnce(bool force, StagedVersion* staged = nullptr);
    // The copy step of MakeVersion, from the new version folder on: copies the file, names
    // it and prunes. With compareWith, a copy that matches that file byte for byte is
    // thrown away with its folder (Unchanged). With staged, it stops before the naming.
    VersionResult CopyVersion(const TMonItemRecord& rec, double fileDate, const std::string& compareWith,
                              bool sizeOnly, StagedVersion* staged = nullptr);
    // Names a staged copy, flushing it and its folder unless the caller flushed the copy
    // and will flush the name. 0 or the errno; on failure the copy and its folder are gone.
    int NameVersion(StagedVersion& staged, bool flush);
    // Records a named version as the item's newest and prunes (Made), or takes it back
    // when the item was removed meanwhile.
    VersionResult RecordVersion(const StagedVersion& staged);
    void MarkRemoved() { m_removed.store(true); }
    bool Removed() const { return m_removed.load(); }

    ItemOwner* m_owner;
    // Kept by the owner under its lock: the item's position in its array (-1 when not
    // listed), the path its path index files it under, and whether any list of the owner
    // (an array or a folder's members) has held it, so a path change must be told.
    std::ptrdiff_t m_slot = -1;
    std::string m_indexedPath;
    std::string m_indexedId;
    bool m_tracked = false;
    std::atomic<bool> m_busy{false};
    // A forced version was asked for while an attempt ran.
    std::atomic<bool> m_forceWanted{false};
    std::atomic<bool> m_removed{false};
    std::atomic<bool> m_presencePending{false};
    std::atomic<bool> m_scanAnnounces{false};
    mutable std::mutex m_mutex; // guards m_data and the members below
    // Packed: ten thousand items would otherwise hold 16 MB of mostly empty text fields.
    PackedItemRecord m_data;
    // Date of the version file MakeVersion wrote and AfterVersion has not reported yet.
    std::optional<double> m_madeDate;
    // The file state the user said No to, so it is not asked about again.
    std::optional<FileStamp> m_declined;
    // The newest stored version when LastVersionPath is empty (after a start), found once.
    std::string m_foundVersion;
    // The file as the presence test of the list's load found it, for that load's own look
    // at the file: a start then reads each file once.
    std::optional<FileStamp> m_loadStamp;
    std::uint64_t m_loadStampLoad = 0; // the load that read it
    // errno of the write failure told to the user and shown as broken; 0 when none.
    int m_writeFailure = 0;
};

} // namespace morvane
