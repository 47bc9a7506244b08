#pragma once

#include "engine/WatchThread.h"
#include "platform/ChangeNotification.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

namespace morvane {

class TRKMonFolder;
class TRKMonItem;
class TRKMonItems;

// The agent's watch thread of one monitored folder. It waits for the folder to change
// (nothing polls: the wait has no timeout and a stop request wakes it at once), lets the
// folder settle for the folder's FolderWait seconds, and rescans it: a folder watched
// with masks takes every new matching file as a monitored item and announces it to a
// running monitor; every known file is offered to MakeVersion, and each version made is
// reported on the main thread. The tray shows the busy image while a scan runs.
//
// Ownership: made and started by the folder's StartWatch through the factory that
// Install puts on the collection; the folder holds it and joins it on the main thread.
// It refers to its folder by reference (the folder outlives it) and holds the items it
// works on by shared_ptr. Everything it hands to the main thread holds values only.
//
// Failures are never silent: a watch that cannot be set up (after the first scan), a
// failed wait (the folder deleted or moved away) or a failed scan is written to stderr
// and shown in a box on the main thread. A failed scan leaves the watch running; the
// other two end the thread, which Finished() then tells. Folders that a limit of the
// system keeps from being watched (no inotify watch, no thread to start) share one box
// that says how to raise it, once per episode: until one of them is watched again.
class TMonDirThread : public WatchThread
{
public:
    // Makes the change notification for folder's path, then starts the thread. Any
    // thread (normally the main one).
    explicit TMonDirThread(TRKMonFolder& folder);
    // Asks the thread to end and joins it.
    ~TMonDirThread() override;

    // Makes folder watches of items start this thread. Main thread, before LoadAll.
    static void Install(TRKMonItems& items);

    // How many times any folder began to settle after a change, in this process (so a
    // test can tell that a thread has taken an event). Any thread.
    static int SettlesBegun();

    // How long the new-file handshake with the monitor may last, in steps.
    static constexpr int kHandshakeSteps = 20;
    static constexpr std::chrono::milliseconds kHandshakeStep{100};

    // True when a watch failed because a limit of the system is reached, not because of
    // the folder.
    static bool IsWatchLimit(int err);
    // The one box for the folders a limit kept from being watched: which limit, its
    // value, the folders, and how to raise it.
    static std::string WatchLimitText(int err, const std::vector<std::string>& folders);
    // The one box for the folders whose thread the system would not start.
    static std::string ThreadLimitText(int err, const std::vector<std::string>& folders);

private:
    void Execute() override;
    void Failed(const std::string& why) override;
    void WakeWaits() override;
    // Waits FolderWait seconds after a change; false when the thread must end.
    bool Settle();
    // One scan: of every entry when names is null, else only of those names (the ones
    // the kernel reported since the last scan).
    void ScanFolder(const std::vector<std::string>* names = nullptr);
    void ScanWithMasks(const std::string& folderPath, bool hidden, bool wholeFolder, bool useTemplates,
                       const std::string& templates, const std::vector<std::string>* names);
    void ScanMembers(const std::vector<std::string>* names);
    // Takes a new file as a monitored item; nullptr when it is gone again or refused.
    // made tells whether this scan listed it: it is saved and announced once its first
    // version is decided (TakeNewFile).
    std::shared_ptr<TRKMonItem> AddNewFile(const std::string& path, bool& made);
    // A new item whose first attempt is over: saved and announced, or, when its file was
    // gone again by then, out of the list and never announced (false).
    bool TakeNewFile(const std::shared_ptr<TRKMonItem>& item);
    void AnnounceNewFile(const std::shared_ptr<TRKMonItem>& item);
    // A file of the folder that cannot be an item: said on stderr and in a balloon, once
    // per path.
    void Refuse(const std::string& path, const std::string& why);
    // Files of a scan wait here to be offered to MakeVersion together, so that they share
    // their flushes; a version made is reported at once. A new item is taken (TakeNewFile)
    // once its attempt is over.
    void QueueVersion(std::shared_ptr<TRKMonItem> item, bool isNew);
    void VersionQueued();

    // Steps run on the main thread, queued there in their order and not waited for.
    void ShowBusyIcon();
    void ShowIdleIcon();
    void NotifyVersion();
    // A folder a limit kept from being watched: named in the log and gathered with the
    // others for one box (constructor); a running monitor shows it stopped (thread).
    void QueueWatchLimitBox();
    void ReportNotWatched();
    // A folder whose thread could not start: named in the log, gathered for one box, and
    // shown stopped in a running monitor. Main thread.
    static void ReportNotStarted(TRKMonFolder& folder, const std::system_error& e);
    // A failed wait: this folder's watch is gone, or the change reader of the process.
    void ReportWaitFailure(int err);
    // Writes text to stderr and shows it in a box on the main thread.
    void Report(const std::string& text);

    TRKMonFolder& Folder;
    TRKMonItems& m_items;
    const std::string WatchPath;
    std::shared_ptr<TRKMonItem> CurrentItem;

    // Made before the thread starts and never replaced, so RequestStop may use it from
    // any thread; empty when the watch could not be set up (m_setupError says why).
    std::optional<ChangeNotification> m_notify;
    std::string m_setupError;
    int m_setupErrno = 0;
    // Paths already reported as refused, so a scan after every change does not repeat it.
    std::set<std::string> m_refused;
    // The files queued for versions, and which of them this scan listed.
    std::vector<std::shared_ptr<TRKMonItem>> m_queued;
    std::unordered_set<const TRKMonItem*> m_queuedNew;
};

} // namespace morvane
