#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

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

    // Kinds of change a notification may be limited to; a combination of these bits.
    enum ChangeKind : unsigned
    {
        kFileNameChange = 0x1,   // a file created, deleted or renamed
        kDirNameChange = 0x2,    // a folder created, deleted or renamed
        kAttributeChange = 0x4,  // attributes, permissions, owner
        kSizeChange = 0x8,       // content written
        kLastWriteChange = 0x10, // content written or a writer closed the file
        kSecurityChange = 0x100, // permissions, owner
        kAllChanges = 0x11F,
    };

    // Throws std::system_error when the watch cannot be set up (missing folder, out of
    // inotify watches): the caller reports it, never a silent stop. The message names
    // the folder.
    explicit ChangeNotification(const std::string& folder);
    // One notification over several folders: folders[0] is the watched root, whose loss
    // fails the wait; the others (its subfolders) may vanish and only count as changes.
    // A subfolder that is gone before its watch is set is skipped. Only the kinds in
    // filter wake a waiter; a queue overflow always does.
    ChangeNotification(const std::vector<std::string>& folders, unsigned filter);
    // The notification for root and, when subTree, every folder below it (symlinks are
    // not followed). Throws as the constructor does.
    static ChangeNotification ForTree(const std::string& root, bool subTree, unsigned filter);
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

    // What changed since the last call: the names the kernel reported, or All when they
    // are not known (a queue overflow, an event on the folder itself, more names than are
    // kept). A watch starts with All, so the first rescan looks at everything. Waiting
    // thread.
    struct Changes
    {
        bool All = false;
        std::vector<std::string> Names; // each once, in the order first reported
    };
    Changes TakeChanges();
    // Names kept before the changes count as All.
    static constexpr std::size_t kMaxNames = 4096;

    // Ends the current or next Wait with Stopped. Any thread.
    void RequestStop();

    // The failure of the process's inotify reader (its wait on the kernel broke): the
    // error, 0 while it works. From then on every wait ends Failed with that error and no
    // watch can be set up, so every watcher sees it instead of sleeping for good. Any
    // thread.
    static int ReaderFailure();
    // True once per failure of the reader: whoever gets it tells the user. Any thread.
    static bool TakeReaderFailureReport();
    // Wakes the reader through its stop descriptor and joins it; it also clears a failure.
    // Call at program exit, after every watch has gone; a later watch starts a new
    // reader. Any thread but the reader.
    static void StopReader();
    // Makes the reader fail as a broken wait with err would (tests). Any thread.
    static void FailReaderForTest(int err);
    // Makes every new watch fail with err, as the kernel's would (ENOSPC: the user's
    // watch limit is reached); 0 ends that (tests). Any thread.
    static void FailWatchesForTest(int err);

    // Shared with the process's inotify reader; declared here so it can reach it.
    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace morvane
