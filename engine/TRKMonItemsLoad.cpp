// The load of the item list: the files looked at side by side, the FileIDs mended
// against the backup index, the items missing at load, and the watches started after it.
#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/PackedItemRecord.h"
#include "engine/PresenceRetry.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "engine/VersionStore.h"
#include "engine/WatchThread.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

namespace morvane {

std::string TRKMonItems::BackupRoot() const
{
    if (m_readerThread.load() == std::this_thread::get_id())
        return m_loadRoot;
    return ReadBackupRoot(SettingsFile(), m_home);
}

std::string TRKMonItems::MoveTarget() const
{
    if (m_readerThread.load() == std::this_thread::get_id())
        return m_loadMoveTo;
    const std::string moveTo = ReadMoveTarget(SettingsFile());
    return moveTo == BackupRoot() ? std::string() : moveTo;
}

IniFile* TRKMonItems::LoadReader() const
{
    return m_readerThread.load() == std::this_thread::get_id() ? m_loadReader : nullptr;
}

std::uint64_t TRKMonItems::LoadNumber() const
{
    return m_readerThread.load() == std::this_thread::get_id() ? m_loads : 0;
}

const std::optional<FileStamp>* TRKMonItems::LookedAtLoad(const std::string& path) const
{
    return LoadNumber() != 0 && m_lookPath && *m_lookPath == path ? m_look : nullptr;
}

const PackedItemRecord* TRKMonItems::ReadAtLoad(const std::string& path) const
{
    return LoadNumber() != 0 && m_lookPath && *m_lookPath == path ? m_readAhead : nullptr;
}

bool TRKMonItems::MayHoldVersions(const std::string& fileId) const
{
    return LoadNumber() == 0 || !m_loadBackupNames || m_loadBackupNames->count(fileId) != 0;
}

bool TRKMonItems::DeferPresence(TRKMonItem& item)
{
    if (m_loadingThread != std::this_thread::get_id())
        return false;
    if (!item.m_presencePending.exchange(true))
        m_missingAtLoad.push_back(item.shared_from_this());
    return true;
}

void TRKMonItems::SettlePresence(const std::vector<std::weak_ptr<TRKMonItem>>& items,
                                 const std::vector<bool>& found)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (const std::shared_ptr<TRKMonItem> item = items[i].lock())
            item->SettlePresence(found[i]);
    }
    try {
        SaveAll();
    } catch (const std::exception& e) {
        Log(std::string("the items missing at start were not saved: ") + e.what());
    }
}

void TRKMonItems::StartWatchAfterLoad(const std::shared_ptr<TRKMonFolder>& folder)
{
    if (m_readerThread.load() != std::this_thread::get_id()) {
        folder->StartWatch();
        return;
    }
    folder->UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
    m_watchesAfterLoad.push_back(folder);
}

namespace {

// Looks at every listed file at once, on a few threads, and reads its record: at a start
// with thousands of items the system calls and the record reads, not the items, take the
// time. Each thread reads the list as it is when the thread starts. For the agent's
// engine only (wanted): the monitor's looks at no file, and the records read ahead there
// only cost memory.
class FileLooks
{
public:
    FileLooks(const std::vector<std::string>& sections, const std::string& listFile, bool wanted)
        : m_stamps(sections.size()), m_records(sections.size())
    {
        constexpr std::size_t kFewest = 256; // below this, threads cost more than they save
        constexpr unsigned kThreads = 4;
        if (!wanted || sections.size() < kFewest)
            return;
        m_states.resize(kThreads);
        m_complete.resize(kThreads);
        for (unsigned t = 0; t < kThreads; ++t) {
            try {
                m_threads.emplace_back([this, &sections, &listFile, t] {
                    // A thread that fails leaves its items to look for themselves.
                    try {
                        IniFile list(listFile);
                        const IniFile::ReadScope oneState(list);
                        m_states[t] = list.FileState();
                        for (std::size_t i = t; i < sections.size(); i += kThreads) {
                            const std::string& path = sections[i];
                            if (path.empty() || path.back() == kPathSep || path == kDefaultSection ||
                                !FitsShortText(path))
                                continue;
                            m_stamps[i] = StampOf(path);
                            TMonItemRecord record = EmptyItemRecord();
                            record.Path.Set(path);
                            record.IsFolder = false;
                            if (ReadListedItemRecord(record, list))
                                m_records[i].emplace(record);
                        }
                        m_complete[t] = true;
                    } catch (...) {
                    }
                });
            } catch (const std::system_error&) {
                Join(); // no thread to spare: each item looks for itself
                m_threads.clear();
                return;
            }
        }
    }
    FileLooks(const FileLooks&) = delete;
    FileLooks& operator=(const FileLooks&) = delete;
    ~FileLooks() { Join(); }

    // What was found for section index, once every look is done; nullptr without looks.
    const std::optional<FileStamp>* At(std::size_t index)
    {
        Join();
        return Complete(index) ? &m_stamps[index] : nullptr;
    }
    // The record read for section index from the list in state, once every read is done;
    // nullptr when none was read, or from another state of the list.
    const PackedItemRecord* Record(std::size_t index, const std::shared_ptr<const void>& state)
    {
        Join();
        if (!Complete(index) || !m_records[index] ||
            std::any_of(m_states.begin(), m_states.end(), [&state](const auto& s) { return s != state; }))
            return nullptr;
        return &*m_records[index];
    }

private:
    // Whether the thread that took section index went through all of its sections.
    bool Complete(std::size_t index) const
    {
        return !m_threads.empty() && m_complete[index % m_complete.size()];
    }
    void Join()
    {
        for (std::thread& thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

    std::vector<std::optional<FileStamp>> m_stamps;
    // Packed: ten thousand records in full would take 15 MB for a moment.
    std::vector<std::optional<PackedItemRecord>> m_records;
    std::vector<std::shared_ptr<const void>> m_states; // per thread
    std::vector<char> m_complete;                      // per thread
    std::vector<std::thread> m_threads;
};

} // namespace

std::vector<std::string> TRKMonItems::LoadAll()
{
    // No copy runs yet, so every temporary file in a version folder is a killed copy's.
    if (Active()) {
        if (const int removed = RemoveCopyLeftovers(BackupRoot()))
            Log("removed " + std::to_string(removed) + " leftovers of interrupted copies");
        if (RemoveEndedMoveNote(BackupRoot()))
            Log("removed the note of a backup move that had ended");
    }
    std::vector<std::string> refused;
    std::vector<std::string> sections;
    m_loadBackupNames.reset();
    {
        IniFile list(m_listFile);
        sections = list.ReadSections();
    }
    // The files are looked at, and their records read, while the FileIDs are checked.
    FileLooks looks(sections, m_listFile, Active());
    // Two items sharing a backup folder would prune each other's versions.
    const std::vector<std::pair<std::string, std::string>> mended =
        Active() ? MendFileIds(sections) : std::vector<std::pair<std::string, std::string>>();
    // Items missing now are looked for off the main thread: a start with thousands of
    // items on an unplugged disk must not wait a second for each. Without a host there
    // is no main thread to hand the verdicts to, so they are waited for here.
    if (Active() && m_host)
        m_loadingThread = std::this_thread::get_id();
    // Every record is read from one state of the list, under one backup root: the file
    // and the settings are looked at once for the whole load, not once per item.
    IniFile reader(m_listFile);
    const IniFile::ReadScope readerState(reader);
    // A record read ahead counts only when read from this state (the FileIDs mended just
    // now, say, were not).
    const std::shared_ptr<const void> listState = reader.FileState();
    m_loadRoot = BackupRoot();
    m_loadMoveTo = ReadMoveTarget(SettingsFile());
    if (m_loadMoveTo == m_loadRoot)
        m_loadMoveTo.clear();
    m_loadReader = &reader;
    ++m_loads;
    m_readerThread.store(std::this_thread::get_id());
    struct EndLoading
    {
        TRKMonItems& Items;
        ~EndLoading()
        {
            Items.m_watchesAfterLoad.clear();
            Items.m_loadingThread = std::thread::id();
            Items.m_readerThread.store(std::thread::id());
            Items.m_loadReader = nullptr;
            Items.m_loadBackupNames.reset();
            Items.m_lookPath = nullptr;
            Items.m_look = nullptr;
            Items.m_readAhead = nullptr;
        }
    } endLoading{*this};
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::string& name = sections[i];
        if (name == kDefaultSection)
            continue;
        m_lookPath = &name;
        m_look = looks.At(i);
        m_readAhead = looks.Record(i, listState);
        try {
            CheckPath(name);
            TMonItemRecord record = EmptyItemRecord();
            SetRecordPath(record, name);
            record.IsFolder = name.back() == kPathSep;
            // The item was read from the list as it was made; reading it once more would
            // undo a version made meanwhile (a file changed while the agent was off, or a
            // scan of a folder loaded earlier), whose record is not written yet.
            Add(record, std::string());
        } catch (const std::invalid_argument& e) {
            refused.push_back(name + ": " + e.what());
        } catch (const std::length_error& e) {
            refused.push_back(name + ": " + e.what());
        }
    }
    m_loadingThread = std::thread::id();
    m_readerThread.store(std::thread::id());
    m_loadReader = nullptr;
    m_loadBackupNames.reset();
    m_lookPath = nullptr;
    m_look = nullptr;
    m_readAhead = nullptr;
    // The watches start once every item is there: a watch's first scan looks at its whole
    // folder, changes made during the load included, and no scan competes with the load
    // for the items.
    for (std::weak_ptr<TRKMonFolder>& weak : std::exchange(m_watchesAfterLoad, {}))
        m_loadedWatches.push_back(std::move(weak));
    if (!m_deferLoadWatches)
        StartLoadedWatches(m_loadedWatches.size());
    else if (!m_loadedWatches.empty() && !std::exchange(m_heldStarts, true))
        WatchThread::HoldStarts(true); // the heap is given back once, after the last start
    // When the list could not take a new FileID, the item still uses it from memory on.
    for (const auto& [path, id] : mended) {
        std::shared_ptr<TRKMonItem> item = path.back() == kPathSep ? FolderByPath(path) : FileByPath(path);
        if (item && item->FileID() != id) {
            item->UpdateData([&id = id](TMonItemRecord& r) { r.FileID.Set(id); });
            item->Save();
        }
    }
    if (!m_missingAtLoad.empty()) {
        EngineHost* host = m_host;
        m_presenceRetry = std::make_unique<PresenceRetry>(
            std::exchange(m_missingAtLoad, {}),
            [this, host, alive = AliveToken()](std::vector<std::weak_ptr<TRKMonItem>> items,
                                               std::vector<bool> found) {
                host->PostToMainThread([this, alive, items = std::move(items), found = std::move(found)] {
                    if (!alive.expired())
                        SettlePresence(items, found);
                });
            });
    }
    return refused;
}

std::vector<std::pair<std::string, std::string>>
TRKMonItems::MendFileIds(const std::vector<std::string>& sections)
{
    std::vector<std::pair<std::string, std::string>> mended;
    std::lock_guard fileLock(ListFileMutex());
    const std::string root = BackupRoot();
    IniFile list(m_listFile);
    IniFile index(root + kBackupIndexName);
    std::unordered_map<std::string, std::vector<std::string>> sharers; // FileID -> sections
    std::vector<std::string> order;                                    // FileIDs in the order first met
    {
        const IniFile::ReadScope listState(list);
        for (const std::string& name : sections) {
            if (name == kDefaultSection)
                continue;
            try {
                CheckPath(name); // a section that is no item owns nothing
            } catch (const std::invalid_argument&) {
                continue;
            }
            const std::string id = list.ReadString(name, "FileID", "");
            if (!IsPlainFolderName(id) || !FitsShortText(id))
                continue; // given a fresh one when read
            std::vector<std::string>& paths = sharers[id];
            if (paths.empty())
                order.push_back(id);
            paths.push_back(name);
        }
    }
    const IniFile::ReadScope indexState(index);
    // FileID -> the path the backup index must give it.
    std::vector<std::pair<std::string, std::string>> owners;
    owners.reserve(order.size());
    std::unordered_set<std::string> taken;
    for (const std::string& id : order) {
        const std::vector<std::string>& paths = sharers[id];
        if (paths.size() < 2) {
            owners.emplace_back(id, paths.front());
            continue;
        }
        const std::string named = index.ReadString(kBackupIndexSection, id, "");
        const auto ownerIt = std::find(paths.begin(), paths.end(), named);
        const std::string owner = ownerIt != paths.end() ? *ownerIt : paths.front();
        owners.emplace_back(id, owner);
        for (const std::string& path : paths) {
            if (path == owner)
                continue;
            std::string fresh;
            for (int attempt = 0; attempt < 100 && fresh.empty(); ++attempt) {
                fresh = NewFileId(root, m_listFile);
                if (fresh.empty())
                    break;
                if (sharers.count(fresh) || !taken.insert(fresh).second)
                    fresh.clear();
            }
            if (fresh.empty()) {
                Log("items " + owner + " and " + path + " share the backup folder " + id +
                    "; no other folder name is free");
                continue;
            }
            Log("items " + owner + " and " + path + " shared the backup folder " + id + "; " + path +
                " now uses " + fresh);
            list.WriteString(path, "FileID", fresh);
            owners.emplace_back(fresh, path);
            mended.emplace_back(path, fresh);
        }
    }
    // Every history the list names is found from the index, also one whose key a write cut
    // short never stored (the list and the index are two files, written one after the other).
    int keys = 0;
    for (const auto& [id, path] : owners) {
        if (index.ReadString(kBackupIndexSection, id, "\n") != path) {
            index.WriteString(kBackupIndexSection, id, path);
            ++keys;
        }
    }
    // A backup folder neither the list nor the index names holds a history whose file is
    // not known any more: said, and left as it is.
    // Names only: a start looks at each of thousands of backup folders no more than this.
    int unnamed = 0;
    std::vector<std::string> names;
    if (ReadNames(root, names))
        m_loadBackupNames.emplace(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsPlainFolderName(name) || sharers.count(name) ||
            index.ReadString(kBackupIndexSection, name, "\n") != "\n")
            continue;
        if (!ListVersionFolders(root + name + kPathSep).empty())
            ++unnamed;
    }
    if (unnamed)
        Log(std::to_string(unnamed) + " backup folders in " + root +
            " hold versions of files that neither the item list nor the backup index names");
    if (!mended.empty()) {
        try {
            list.Flush();
        } catch (const std::exception& e) {
            Log(std::string("the new FileIDs were not written: ") + e.what());
        }
    }
    if (keys || !mended.empty()) {
        if (keys)
            Log("the backup index lacked " + std::to_string(keys) +
                " of the item list's FileIDs; they are added");
        try {
            MakePrivateDirs(WithoutTrailingSep(root));
            index.Flush();
        } catch (const std::exception& e) {
            Log(std::string("the backup index was not written: ") + e.what());
        }
    }
    return mended;
}

bool TRKMonItems::StartLoadedWatches(std::size_t count)
{
    for (; count > 0 && !m_loadedWatches.empty(); --count) {
        const std::shared_ptr<TRKMonFolder> folder = m_loadedWatches.front().lock();
        m_loadedWatches.pop_front();
        // A request handled meanwhile may have removed, stopped or started it already.
        if (folder && !folder->Removed() && folder->Monitored() && !folder->PresencePending() &&
            !folder->WatchThread())
            folder->StartWatch();
    }
    if (!m_loadedWatches.empty())
        return true;
    if (std::exchange(m_heldStarts, false))
        WatchThread::HoldStarts(false);
    return false;
}

std::vector<std::shared_ptr<TRKMonFolder>> TRKMonItems::LoadedWatchesLeft() const
{
    std::vector<std::shared_ptr<TRKMonFolder>> left;
    for (const std::weak_ptr<TRKMonFolder>& weak : m_loadedWatches) {
        if (std::shared_ptr<TRKMonFolder> folder = weak.lock())
            left.push_back(std::move(folder));
    }
    return left;
}

} // namespace morvane
