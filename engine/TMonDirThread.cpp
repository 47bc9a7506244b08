#include "engine/TMonDirThread.h"

#include "engine/EngineHost.h"
#include "engine/SharedBlock.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "engine/Useful.h"
#include "platform/DirListing.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace morvane {

namespace {

// How many files of a scan are offered to MakeVersion together at most.
constexpr std::size_t kQueuedFiles = 256;

// The block lives in memory another process writes (the monitor clears the handshake),
// so every read must really load it.
bool HandshakePending(SharedBlock* block)
{
    return block->AddHandshake.AtomicLoad();
}

void SetHandshake(SharedBlock* block, bool value)
{
    block->AddHandshake.AtomicStore(value);
}

void EndEpisodes(const std::string& folder);

} // namespace

TMonDirThread::TMonDirThread(TRKMonFolder& folder)
    : WatchThread(folder.Owner().MainThread()), Folder(folder), m_items(folder.Owner()),
      WatchPath(folder.Path())
{
    // The watch is set up before the first scan, so a file saved while that scan runs
    // still wakes the thread afterwards.
    try {
        m_notify.emplace(WatchPath);
    } catch (const std::system_error& e) {
        m_setupError = e.what();
        m_setupErrno = e.code().value();
    } catch (const std::exception& e) {
        m_setupError = e.what();
    }
    // Taken down here, on the thread that starts every folder of a load one after the
    // other, so the box shown later names them all.
    if (IsWatchLimit(m_setupErrno))
        QueueWatchLimitBox();
    // Busy then idle at once: the tray is left idle whatever it showed.
    if (EngineHost* host = m_items.Host()) {
        m_items.MainThread().Synchronize([host] { host->SetTrayImage(1); });
        m_items.MainThread().Synchronize([host] { host->SetTrayImage(0); });
    }
    Start();
    if (m_notify)
        EndEpisodes(WatchPath);
}

TMonDirThread::~TMonDirThread()
{
    StopAndJoin();
}

void TMonDirThread::WakeWaits()
{
    if (m_notify)
        m_notify->RequestStop();
}

void TMonDirThread::Install(TRKMonItems& items)
{
    items.SetWatchThreadFactory([](TRKMonFolder& folder) -> std::unique_ptr<WatchThread> {
        try {
            return std::make_unique<TMonDirThread>(folder);
        } catch (const std::system_error& e) {
            // The system would start no more threads: this folder is not watched, the
            // program and every other folder go on.
            ReportNotStarted(folder, e);
            return nullptr;
        }
    });
}

void TMonDirThread::Execute()
{
    // The first scan looks at everything: what was reported so far is in it.
    if (m_notify)
        m_notify->TakeChanges();
    // The main thread finishes what it is doing first: the request that made this folder
    // (a bulk add, say) lists its files before the scan looks for new ones, so they are
    // not taken twice.
    if (m_items.Host())
        m_items.MainThread().Synchronize([] {}, StopFlag());
    ScanFolder();
    if (!m_notify) {
        if (ChangeNotification::ReaderFailure())
            ReportWaitFailure(ChangeNotification::ReaderFailure());
        else if (IsWatchLimit(m_setupErrno))
            ReportNotWatched();
        else
            Report(m_setupError);
    } else {
        while (!StopRequested()) {
            Rest();
            const ChangeNotification::WaitResult r = m_notify->Wait();
            if (r == ChangeNotification::WaitResult::Stopped)
                break;
            if (r == ChangeNotification::WaitResult::Failed) {
                ReportWaitFailure(errno);
                break;
            }
            if (r != ChangeNotification::WaitResult::Changed)
                continue;
            if (!Settle())
                break;
            // Only the names reported are looked at again; after a queue overflow
            // (names lost) the whole folder is.
            const ChangeNotification::Changes changes = m_notify->TakeChanges();
            ScanFolder(changes.All ? nullptr : &changes.Names);
        }
    }
    CurrentItem.reset();
}

namespace {

// Folders a limit of the system kept from being watched, gathered for one box: when the
// limit is reached at start every later folder fails too, and the user needs to hear it
// once, not once per folder. An episode lasts from the first failure until one of its
// folders is watched again (the limit was raised and the folder started); its one box
// names the folders gathered until the box comes, the log every one.
struct NotWatchedFolders
{
    std::mutex Lock;
    std::vector<std::string> Folders;        // for the box still to come
    std::unordered_set<std::string> Episode; // every folder of the episode
    int Error = 0;
    bool BoxQueued = false;
    bool BoxShown = false; // in this episode
};

enum class NotWatchedKind
{
    WatchLimit,  // no inotify watch to be had
    ThreadLimit, // no thread to be started
};

NotWatchedFolders& NotWatched(NotWatchedKind kind)
{
    static NotWatchedFolders folders[2];
    return folders[kind == NotWatchedKind::WatchLimit ? 0 : 1];
}

// A folder of an episode is watched again: the episode is over.
void EndEpisodes(const std::string& folder)
{
    for (const NotWatchedKind kind : {NotWatchedKind::WatchLimit, NotWatchedKind::ThreadLimit}) {
        NotWatchedFolders& g = NotWatched(kind);
        std::lock_guard lock(g.Lock);
        if (g.Episode.erase(folder)) {
            g.Episode.clear();
            g.BoxShown = false;
        }
    }
}

// Gathers folder for the box of its kind and queues that box, unless one is queued or
// was shown in this episode. text makes the box from the error and the folders.
void QueueNotWatchedBox(TRKMonItems& items, NotWatchedKind kind, const std::string& folder, int err,
                        std::string (*text)(int, const std::vector<std::string>&))
{
    EngineHost* host = items.Host();
    if (!host)
        return;
    NotWatchedFolders& gathered = NotWatched(kind);
    {
        std::lock_guard lock(gathered.Lock);
        gathered.Episode.insert(folder);
        if (gathered.BoxShown)
            return;
        gathered.Folders.push_back(folder);
        gathered.Error = err;
        if (std::exchange(gathered.BoxQueued, true))
            return;
    }
    // Queued, never waited for: it runs once the folders started with this one are in.
    // Folders that fail while it is shown (the starts go on meanwhile) are in its episode.
    host->PostToMainThread([host, kind, text, alive = items.AliveToken()] {
        NotWatchedFolders& g = NotWatched(kind);
        std::vector<std::string> folders;
        int error = 0;
        {
            std::lock_guard lock(g.Lock);
            folders.swap(g.Folders);
            error = g.Error;
            g.BoxQueued = false;
            g.BoxShown = !folders.empty();
        }
        if (alive.expired() || folders.empty())
            return;
        host->ShowMessage(BoxKind::Warning, text(error, folders), BoxButtons::Ok);
    });
}

// How many folders a box names; the log names every one.
constexpr std::size_t kNamedFolders = 10;

// The body of a box for folders that are not watched: why (cause), how many, and the
// first kNamedFolders of them.
std::string NotWatchedText(const std::string& cause, const std::vector<std::string>& folders)
{
    std::string text = cause + ". " + std::to_string(folders.size()) +
                       (folders.size() == 1 ? " folder is" : " folders are") +
                       " not watched, and changes there make no versions:";
    for (std::size_t i = 0; i < folders.size() && i < kNamedFolders; ++i)
        text += "\n" + folders[i];
    if (folders.size() > kNamedFolders)
        text +=
            "\n... and " + std::to_string(folders.size() - kNamedFolders) + " more (the log names them all)";
    return text;
}

std::string ReadSetting(const std::string& path)
{
    std::ifstream in(path);
    std::string value;
    in >> value;
    return value;
}

} // namespace

bool TMonDirThread::IsWatchLimit(int err)
{
    // ENOSPC: the user's watches are used up; EMFILE: so are the user's notification
    // instances (the process needs one).
    return err == ENOSPC || err == EMFILE;
}

std::string TMonDirThread::WatchLimitText(int err, const std::vector<std::string>& folders)
{
    const std::string setting =
        std::string("fs.inotify.") + (err == EMFILE ? "max_user_instances" : "max_user_watches");
    const std::string value = ReadSetting("/proc/sys/fs/inotify/" + setting.substr(11));
    long long raised = 524288;
    try {
        raised = std::max(raised, 2 * std::stoll(value));
    } catch (const std::exception&) {
        // unknown: the suggestion stays
    }
    std::string text = NotWatchedText("The system's limit on watched folders is reached (" + setting + " = " +
                                          (value.empty() ? std::string("?") : value) + ")",
                                      folders);
    text += "\n\nTo raise the limit: sudo sysctl " + setting + "=" + std::to_string(raised) +
            "\nTo keep it, put the line " + setting + "=" + std::to_string(raised) +
            " in a file in /etc/sysctl.d/. Then start these folders again, or restart the agent.";
    return text;
}

void TMonDirThread::QueueWatchLimitBox()
{
    Log("not watched: " + m_setupError);
    QueueNotWatchedBox(m_items, NotWatchedKind::WatchLimit, WatchPath, m_setupErrno, &WatchLimitText);
}

std::string TMonDirThread::ThreadLimitText(int err, const std::vector<std::string>& folders)
{
    std::string text = NotWatchedText("The system starts no more threads for the agent (" +
                                          std::system_category().message(err) + ")",
                                      folders);
    text += "\n\nThe limit on your processes and threads (ulimit -u) is probably reached. End programs you "
            "do not need or raise the limit, then start these folders again, or restart the agent.";
    return text;
}

void TMonDirThread::ReportNotStarted(TRKMonFolder& folder, const std::system_error& e)
{
    TRKMonItems& items = folder.Owner();
    const std::string path = folder.Path();
    Log("not watched: " + path + ": " + e.what());
    QueueNotWatchedBox(items, NotWatchedKind::ThreadLimit, path, e.code().value(), &ThreadLimitText);
    // A running monitor shows it stopped, after the answer of the request that started it.
    EngineHost* host = items.Host();
    if (!host)
        return;
    host->PostToMainThread([&items, path, alive = items.AliveToken()] {
        if (alive.expired())
            return;
        const std::shared_ptr<TRKMonFolder> f = items.FolderByPath(path);
        SharedBlock* block = items.Block();
        if (f && !f->WatchRunning() && block && block->MonitorRunning)
            items.PostToMonitor(MsgStop, f->Data(), 0);
    });
}

void TMonDirThread::ReportNotWatched()
{
    // A running monitor shows the folder stopped, and starting it there tries again. The
    // list keeps it monitored, so the next start after the limit is raised watches it.
    SharedBlock* block = m_items.Block();
    if (block && block->MonitorRunning)
        m_items.PostToMonitor(MsgStop, Folder.Data(), 0);
}

void TMonDirThread::ReportWaitFailure(int err)
{
    const int readerError = ChangeNotification::ReaderFailure();
    if (!readerError) {
        Report("Cannot watch folder " + WatchPath + ": " + std::system_category().message(err));
        return;
    }
    // Every watch ends at once: the user hears of it once, not once per folder.
    const std::string text = "Changes in watched folders are no longer noticed (" +
                             std::system_category().message(readerError) +
                             "): no versions are made until the agent is started again";
    if (ChangeNotification::TakeReaderFailureReport())
        Report(text);
    else
        std::cerr << "quennet: " << WatchPath << ": " << text << std::endl;
}

void TMonDirThread::Failed(const std::string& why)
{
    CurrentItem.reset();
    Report("Watching folder " + WatchPath + " stopped: " + why);
}

namespace {

std::atomic<int> g_settlesBegun{0};

} // namespace

int TMonDirThread::SettlesBegun()
{
    return g_settlesBegun.load();
}

bool TMonDirThread::Settle()
{
    ++g_settlesBegun;
    const int seconds = std::max(0, Folder.Data().FolderWait);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    // Events of the burst are read (and dropped) while it settles; a stop ends it at once.
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const ChangeNotification::WaitResult r = m_notify->Wait(left);
        if (r == ChangeNotification::WaitResult::Stopped)
            return false;
        if (r == ChangeNotification::WaitResult::Failed) {
            ReportWaitFailure(errno);
            return false;
        }
        if (r == ChangeNotification::WaitResult::Timeout)
            break;
    }
    m_notify->Drain();
    return !StopRequested();
}

void TMonDirThread::ScanFolder(const std::vector<std::string>* names)
{
    ShowBusyIcon();
    try {
        const TMonItemRecord f = Folder.Data();
        if (f.IsWholeFolder || f.UseTemplates)
            ScanWithMasks(f.Path.Get(), f.FolderMonHidden, f.IsWholeFolder, f.UseTemplates, f.Templates.Get(),
                          names);
        else
            ScanMembers(names);
    } catch (const std::exception& e) {
        // One failed scan (a list file that cannot be written, say) does not end the
        // watch: the next change scans again.
        Report("Scanning folder " + WatchPath + " failed: " + e.what());
    }
    // The files it had queued are still offered, so the new ones among them are taken.
    try {
        if (!m_queued.empty())
            VersionQueued();
    } catch (const std::exception& e) {
        Report("Scanning folder " + WatchPath + " failed: " + e.what());
    }
    CurrentItem.reset();
    // Main-thread calls run in order: once this one has run, so have the reports the scan
    // queued, and the list is written once with all of them.
    if (m_items.Host())
        m_items.MainThread().Synchronize([] {}, StopFlag());
    try {
        m_items.FlushList();
    } catch (const std::exception& e) {
        Report("Scanning folder " + WatchPath + " failed: " + e.what());
    }
    ShowIdleIcon();
}

void TMonDirThread::ScanWithMasks(const std::string& folderPath, bool hidden, bool wholeFolder,
                                  bool useTemplates, const std::string& templates,
                                  const std::vector<std::string>* names)
{
    std::vector<std::string> masks;
    if (wholeFolder)
        masks.push_back("*");
    if (useTemplates)
        SplitTextToList(templates, ';', masks);

    std::vector<DirEntry> entries;
    // The folder's members by path, taken once for a scan of every entry; a scan of a few
    // reported names looks them up one by one, so its cost does not grow with the folder.
    std::unordered_map<std::string, std::shared_ptr<TRKMonItem>> known;
    if (names) {
        for (const std::string& name : *names) {
            if (std::optional<DirEntry> entry = StatEntry(WatchPath, name))
                entries.push_back(std::move(*entry)); // a name that is gone again needs nothing
        }
    } else {
        entries = ListDir(WatchPath);
        for (std::shared_ptr<TRKMonItem>& member : Folder.Files()) {
            std::string path = member->Path();
            known.emplace(std::move(path), std::move(member));
        }
    }
    for (const std::string& mask : masks) {
        for (const DirEntry& entry : entries) {
            // A stop is honoured between files: every version is whole or absent, so a
            // scan cut short loses nothing.
            if (StopRequested())
                break;
            // Only regular files: a FIFO, socket or device is never opened; subfolders
            // are not watched.
            if (!entry.IsRegular || (entry.IsHidden && !hidden) || !MatchesMask(entry.Name, mask))
                continue;
            const std::string path = folderPath + entry.Name;
            std::shared_ptr<TRKMonItem> item;
            if (const auto it = known.find(path); it != known.end())
                item = it->second;
            else
                item = m_items.FileByPath(path); // not a member (yet): ask the collection
            bool made = false;
            if (!item) {
                item = AddNewFile(path, made);
                if (!item)
                    continue;
                known.emplace(path, item);
            }
            QueueVersion(std::move(item), made);
        }
    }
    VersionQueued();
}

void TMonDirThread::ScanMembers(const std::vector<std::string>* names)
{
    std::unordered_set<std::string> reported;
    if (names)
        reported.insert(names->begin(), names->end());
    // Members as they are at the start; one removed meanwhile is still held here.
    for (const std::shared_ptr<TRKMonItem>& member : Folder.Files()) {
        if (StopRequested())
            break;
        if (names && !reported.count(NamePart(member->Path())))
            continue;
        // Missing at start and still looked for: its verdict comes from that search.
        if (member->PresencePending())
            continue;
        if (!member->CheckExists(true))
            continue;
        QueueVersion(member, false);
    }
    VersionQueued();
}

std::shared_ptr<TRKMonItem> TMonDirThread::AddNewFile(const std::string& path, bool& made)
{
    made = false;
    if (!FitsShortText(path)) {
        Refuse(path, "The path is longer than 255 bytes: " + path);
        return nullptr;
    }
    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set(path);
    record.Monitored = true;
    record.IsFolder = false;
    record.MonStatus = msActive;
    std::shared_ptr<TRKMonItem> item;
    try {
        // Its first version is left to this scan, which makes it with the others'.
        item = m_items.Add(record, "", TRKMonItems::AddedBy::Scan, &made);
    } catch (const std::invalid_argument& e) {
        Refuse(path, e.what());
        return nullptr;
    }
    // Listed meanwhile by a request, which starts and announces it.
    if (!item || !made)
        return item;
    // Gone again before it could be taken: out of the list, never announced.
    if (item->MonStatus() == msBroken) {
        m_items.RemoveFileItem(item);
        return nullptr;
    }
    item->UpdateData([](TMonItemRecord& r) {
        r.Monitored = true;
        r.MonStatus = msActive;
    });
    return item;
}

bool TMonDirThread::TakeNewFile(const std::shared_ptr<TRKMonItem>& item)
{
    if (item->MonStatus() == msBroken) {
        m_items.RemoveFileItem(item);
        return false;
    }
    item->Save();
    AnnounceNewFile(item);
    return true;
}

void TMonDirThread::AnnounceNewFile(const std::shared_ptr<TRKMonItem>& item)
{
    SharedBlock* block = m_items.Block();
    if (!block || !block->MonitorRunning)
        return;
    // A program that sends its reports one record at a time owns the handshake itself.
    if (m_items.HasReportPoster()) {
        m_items.PostToMonitor(MsgAdd, item->Data());
        return;
    }
    // The monitor clears the handshake once it has taken the record; the scan waits for
    // that a little, so the next announcement does not overwrite the record too soon.
    SetHandshake(block, true);
    m_items.PostToMonitor(MsgAdd, item->Data());
    for (int i = 0; i < kHandshakeSteps && HandshakePending(block); ++i) {
        if (SleepUnlessStopped(kHandshakeStep))
            return;
    }
}

void TMonDirThread::QueueVersion(std::shared_ptr<TRKMonItem> item, bool isNew)
{
    if (!isNew && !item->Monitored())
        return;
    if (isNew)
        m_queuedNew.insert(item.get());
    m_queued.push_back(std::move(item));
    // A burst is taken in parts, so its first versions are made while the rest is listed.
    if (m_queued.size() >= kQueuedFiles)
        VersionQueued();
}

void TMonDirThread::VersionQueued()
{
    std::vector<std::shared_ptr<TRKMonItem>> queued;
    queued.swap(m_queued);
    std::unordered_set<const TRKMonItem*> fresh;
    fresh.swap(m_queuedNew);
    TRKMonItem::MakeVersions(queued,
                             [&](const std::shared_ptr<TRKMonItem>& item, const VersionResult& result) {
                                 if (fresh.erase(item.get()) && !TakeNewFile(item))
                                     return;
                                 if (result) {
                                     CurrentItem = item;
                                     NotifyVersion();
                                 } else if (result.Outcome == VersionOutcome::WriteFailed) {
                                     item->ReportWriteFailure(result.Error); // told once per item and cause
                                 }
                             });
}

// The icon is posted, not waited for: a scan starts at once after a save, and the calls
// keep their order on the main thread.
void TMonDirThread::ShowBusyIcon()
{
    if (EngineHost* host = m_items.Host())
        m_items.MainThread().Post([host] { host->SetTrayImage(1); });
}

void TMonDirThread::ShowIdleIcon()
{
    if (EngineHost* host = m_items.Host())
        m_items.MainThread().Post([host] { host->SetTrayImage(0); });
}

void TMonDirThread::NotifyVersion()
{
    // Queued, not waited for: a burst's versions are reported while the next are made,
    // and the scan's end waits for them all before the list is written. The item holds
    // itself there, so it stays valid when this thread has ended by then.
    CurrentItem->AfterVersion(false);
}

void TMonDirThread::Refuse(const std::string& path, const std::string& why)
{
    if (!m_refused.insert(path).second)
        return;
    Log("not monitored: " + why);
    EngineHost* host = m_items.Host();
    if (!host)
        return;
    // The user expects every file of the folder watched: a balloon says which one is not.
    // It never waits for the main thread, so the scan goes on at once.
    host->PostToMainThread([host, why, alive = m_items.AliveToken()] {
        if (alive.expired())
            return;
        host->SetBalloonTitle("File not monitored");
        host->SetBalloonText(why);
        host->ShowBalloon();
    });
}

void TMonDirThread::Report(const std::string& text)
{
    Log(text);
    if (EngineHost* host = m_items.Host())
        m_items.MainThread().Synchronize(
            [host, text] { host->ShowMessage(BoxKind::Error, text, BoxButtons::Ok); }, StopFlag());
}

} // namespace morvane
