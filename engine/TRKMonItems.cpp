#include "engine/TRKMonItems.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/PackedItemRecord.h"
#include "engine/PresenceRetry.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/VersionStore.h"
#include "engine/WatchThread.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <unordered_set>
#include <utility>

namespace morvane {

namespace {

// Takes item's entry under key out of index; empty when it has none.
template <typename Index>
typename Index::node_type ExtractEntry(Index& index, const std::string& key, const TRKMonItem* item)
{
    const auto [first, last] = index.equal_range(key);
    for (auto it = first; it != last; ++it) {
        if (it->second == item)
            return index.extract(it);
    }
    return {};
}

} // namespace

template <typename Item>
void TRKMonItems::ListItem(std::vector<std::shared_ptr<Item>>& items, PathIndex& index,
                           const std::shared_ptr<Item>& item)
{
    std::string path = item->Path();
    std::string id = item->FileID();
    items.push_back(item);
    try {
        const auto byPath = index.emplace(path, item.get());
        try {
            m_idIndex.emplace(id, item.get());
        } catch (...) {
            index.erase(byPath);
            throw;
        }
    } catch (...) {
        items.pop_back();
        throw;
    }
    item->m_slot = static_cast<std::ptrdiff_t>(items.size() - 1);
    item->m_indexedPath = std::move(path);
    item->m_indexedId = std::move(id);
    item->m_tracked = true;
}

template <typename Item>
std::shared_ptr<Item> TRKMonItems::UnlistAt(std::vector<std::shared_ptr<Item>>& items, PathIndex& index,
                                            std::size_t slot)
{
    std::shared_ptr<Item> item = std::move(items[slot]);
    ExtractEntry(index, item->m_indexedPath, item.get());
    ExtractEntry(m_idIndex, item->m_indexedId, item.get());
    item->m_slot = -1;
    item->m_indexedPath.clear();
    item->m_indexedId.clear();
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(slot));
    for (std::size_t i = slot; i < items.size(); ++i)
        items[i]->m_slot = static_cast<std::ptrdiff_t>(i);
    return item;
}

template <typename Item>
bool TRKMonItems::Holds(const std::vector<std::shared_ptr<Item>>& items, const TRKMonItem& item)
{
    const auto slot = static_cast<std::size_t>(item.m_slot);
    return item.m_slot >= 0 && slot < items.size() && items[slot].get() == &item;
}

template <typename Item>
std::shared_ptr<Item> TRKMonItems::At(const std::vector<std::shared_ptr<Item>>& items, int index)
{
    if (index < 0 || index >= static_cast<int>(items.size()))
        return nullptr;
    return items[static_cast<std::size_t>(index)];
}

int TRKMonItems::SlotOf(const PathIndex& index, const std::string& path)
{
    // Two listed items share a path only after unusual record changes; the first in the
    // array wins, as a search from index 0 would have it.
    const auto [first, last] = index.equal_range(path);
    std::ptrdiff_t slot = -1;
    for (auto it = first; it != last; ++it) {
        if (slot < 0 || it->second->m_slot < slot)
            slot = it->second->m_slot;
    }
    return static_cast<int>(slot);
}

void TRKMonItems::KeysChanged(TRKMonItem& item)
{
    std::lock_guard lock(m_mutex);
    if (!item.m_tracked)
        return; // not in any list yet (an item being made)
    PathIndex* index = nullptr;
    if (Holds(m_files, item))
        index = &m_fileIndex;
    else if (Holds(m_folders, item))
        index = &m_folderIndex;
    // The keys are read again here: of two changes whose reports arrive out of order, the
    // later report still files the item under the keys it has now.
    const TMonItemRecord now = item.Data();
    std::string path = now.Path.Get();
    std::string id = now.FileID.Get();
    if (path != item.m_indexedPath) {
        ++m_pathGeneration;
        if (!index)
            return;
        auto entry = ExtractEntry(*index, item.m_indexedPath, &item);
        if (entry) {
            entry.key() = path;
            index->insert(std::move(entry));
        } else {
            index->emplace(path, &item);
        }
        item.m_indexedPath = std::move(path);
    }
    if (index && id != item.m_indexedId) {
        auto entry = ExtractEntry(m_idIndex, item.m_indexedId, &item);
        if (entry) {
            entry.key() = id;
            m_idIndex.insert(std::move(entry));
        } else {
            m_idIndex.emplace(id, &item);
        }
        item.m_indexedId = std::move(id);
    }
}

TRKMonItems::TRKMonItems(SharedBlock* block, EngineHost* host, std::string home)
    : m_block(block), m_host(host), m_home(WithTrailingSep(std::move(home))),
      m_listFile(m_home + kListFileName)
{
}

TRKMonItems::~TRKMonItems()
{
    m_alive.reset();
    StopAllWatches();
    // The last changes of the list are written at exit.
    m_listWriter->Stop();
    try {
        m_listWriter->Flush();
    } catch (const std::exception& e) {
        Log(std::string("the item list was not written at exit: ") + e.what());
    }
}

std::string TRKMonItems::SettingsFile() const
{
    return m_home + kSettingsFileName;
}

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

int TRKMonItems::FileCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_files.size());
}

int TRKMonItems::FolderCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_folders.size());
}

std::shared_ptr<TRKMonItem> TRKMonItems::GetFile(int index) const
{
    std::lock_guard lock(m_mutex);
    return At(m_files, index);
}

std::shared_ptr<TRKMonFolder> TRKMonItems::GetFolder(int index) const
{
    std::lock_guard lock(m_mutex);
    return At(m_folders, index);
}

std::vector<std::shared_ptr<TRKMonItem>> TRKMonItems::Files() const
{
    std::lock_guard lock(m_mutex);
    return m_files;
}

std::vector<std::shared_ptr<TRKMonFolder>> TRKMonItems::Folders() const
{
    std::lock_guard lock(m_mutex);
    return m_folders;
}

void TRKMonItems::CheckPath(const std::string& path)
{
    if (path.empty())
        throw std::invalid_argument("An item needs a path");
    if (path == kDefaultSection || path.front() != kPathSep)
        throw std::invalid_argument("Not an absolute path: " + path);
    if (!FitsShortText(path))
        throw std::invalid_argument("The path is longer than 255 bytes and cannot be monitored: " + path);
    // The path names a section of the list file, which cannot hold these.
    if (path.find_first_of("\r\n") != std::string::npos || path.find('\0') != std::string::npos)
        throw std::invalid_argument("The path holds characters the item list cannot store: " + path);
}

std::string TRKMonItems::MakeFileId() const
{
    std::string id;
    for (int attempt = 0; attempt < 100; ++attempt) {
        id = NewFileId(BackupRoot(), m_listFile);
        if (id.empty())
            break; // no name is free: asking again finds none either
        // Items not saved yet are in memory only.
        if (!FileIdInUse(id, nullptr))
            return id;
    }
    return id;
}

std::shared_ptr<TRKMonItem> TRKMonItems::Add(const TMonItemRecord& record, const std::string& fileId,
                                             AddedBy by, bool* made)
{
    const std::string path = record.Path.Get();
    CheckPath(path);
    if (made)
        *made = false;
    if (path.back() != kPathSep) {
        if (auto existing = FileByPath(path))
            return existing;
        std::shared_ptr<TRKMonItem> item = TRKMonItem::Create(path, *this);
        if (!item->IsSaved()) {
            // The FileID read for the item (its section's own, or a fresh one) stays unless
            // another item uses it: a section written without IsSaved may name a history.
            std::string id = fileId;
            if (!IsPlainFolderName(id)) {
                id = item->FileID();
                if (!IsPlainFolderName(id) || FileIdInUse(id, item.get()))
                    id = MakeFileId();
            }
            if (id != item->FileID())
                item->UpdateData([&id](TMonItemRecord& r) { r.FileID.Set(id); });
        }
        {
            // Another thread may have added the same path while this one was loading.
            std::lock_guard lock(m_mutex);
            const int other = SlotOf(m_fileIndex, path);
            if (other >= 0)
                return m_files[static_cast<std::size_t>(other)];
            // Set before the item can be found, so a request that finds it knows.
            item->m_scanAnnounces.store(by == AddedBy::Scan);
            ListItem(m_files, m_fileIndex, item);
        }
        if (made)
            *made = true;
        // Only the folder item of the file's own folder takes it.
        const std::string folderPath = FolderPart(path);
        if (std::shared_ptr<TRKMonFolder> folder = FolderByPath(folderPath); folder && folder->AddFile(item))
            return item;
        MakeParentFolder(folderPath, item);
        return item;
    }

    if (auto existing = FolderByPath(path))
        return existing;
    std::shared_ptr<TRKMonFolder> folder = TRKMonFolder::CreateFromRecord(record, *this);
    if (!IsPlainFolderName(folder->FileID())) {
        const std::string id = MakeFileId();
        folder->UpdateData([&id](TMonItemRecord& r) { r.FileID.Set(id); });
    }
    {
        std::lock_guard lock(m_mutex);
        const int other = SlotOf(m_folderIndex, path);
        if (other >= 0)
            return m_folders[static_cast<std::size_t>(other)];
        ListItem(m_folders, m_folderIndex, folder);
    }
    if (made)
        *made = true;
    if (!folder->IsSaved()) {
        folder->UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
        if (Active())
            folder->Save();
    }
    // A folder still looked for starts its watch when it is found.
    if (Active() && folder->Monitored() && !folder->PresencePending())
        StartWatchAfterLoad(folder);
    return folder;
}

std::shared_ptr<TRKMonFolder> TRKMonItems::MakeParentFolder(const std::string& folderPath,
                                                            const std::shared_ptr<TRKMonItem>& firstMember)
{
    std::shared_ptr<TRKMonFolder> folder = TRKMonFolder::Create(folderPath, *this);
    const std::string id = IsPlainFolderName(folder->FileID()) ? std::string() : MakeFileId();
    folder->UpdateData([&](TMonItemRecord& r) {
        if (!id.empty())
            r.FileID.Set(id);
        if (!firstMember)
            r.IsWholeFolder = false;
    });
    {
        std::lock_guard lock(m_mutex);
        if (SlotOf(m_folderIndex, folderPath) >= 0)
            folder = nullptr;
        else
            ListItem(m_folders, m_folderIndex, folder);
    }
    if (!folder) {
        std::shared_ptr<TRKMonFolder> existing = FolderByPath(folderPath);
        if (existing && firstMember)
            existing->AddFile(firstMember);
        return existing;
    }
    if (firstMember)
        folder->AddFile(firstMember);
    if (!folder->IsSaved()) {
        folder->UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
        if (Active())
            folder->Save();
    }
    // A folder still looked for starts its watch when it is found.
    if (Active() && folder->Monitored() && !folder->PresencePending())
        StartWatchAfterLoad(folder);
    return folder;
}

void TRKMonItems::DeleteFileEntry(int index)
{
    // Released after the lock: the item may go away with it.
    std::shared_ptr<TRKMonItem> dropped;
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return;
    dropped = UnlistAt(m_files, m_fileIndex, static_cast<std::size_t>(index));
}

void TRKMonItems::RemoveFile(int index)
{
    if (std::shared_ptr<TRKMonItem> item = GetFile(index))
        RemoveFileItem(item);
}

void TRKMonItems::RemoveFileItem(const std::shared_ptr<TRKMonItem>& item)
{
    if (!item)
        return;
    item->Stop();
    // Only the agent's engine removes stored versions; a copy that mirrors it never does,
    // or a removal the agent did not take would cost the history of an item it still
    // watches. Every version goes, also one written after the last report and one made
    // in the same second, which an age test would keep.
    if (Active())
        item->DeleteAllVersions();
    const std::string path = item->Path();
    if (std::shared_ptr<TRKMonFolder> folder = FolderByPath(FolderPart(path)))
        folder->RemoveMember(item.get());
    EraseStored(*item, Active());
    std::lock_guard lock(m_mutex);
    if (Holds(m_files, *item))
        UnlistAt(m_files, m_fileIndex, static_cast<std::size_t>(item->m_slot));
}

void TRKMonItems::RemoveFolder(int index)
{
    if (std::shared_ptr<TRKMonFolder> folder = GetFolder(index))
        RemoveFolderItem(folder);
}

void TRKMonItems::RemoveFolderItem(const std::shared_ptr<TRKMonFolder>& folder)
{
    if (!folder)
        return;
    folder->StopWatch();
    for (std::shared_ptr<TRKMonItem> member = folder->GetFile(0); member; member = folder->GetFile(0)) {
        member->Stop();
        RemoveFileItem(member);
        // A member whose path no longer names this folder is still dropped here.
        folder->RemoveMember(member.get());
    }
    EraseStored(*folder, Active());
    std::lock_guard lock(m_mutex);
    if (Holds(m_folders, *folder))
        UnlistAt(m_folders, m_folderIndex, static_cast<std::size_t>(folder->m_slot));
}

void TRKMonItems::EraseStored(TRKMonItem& item, bool eraseSection)
{
    item.MarkRemoved();
    if (eraseSection)
        m_listWriter->Erase(item.Path(), item.FileID());
}

void TRKMonItems::EraseSection(const std::string& section)
{
    m_listWriter->Erase(section, std::string());
}

int TRKMonItems::FindByFileID(const std::string& id) const
{
    std::lock_guard lock(m_mutex);
    const auto [first, last] = m_idIndex.equal_range(id);
    std::ptrdiff_t slot = -1;
    for (auto it = first; it != last; ++it) {
        if (Holds(m_files, *it->second) && (slot < 0 || it->second->m_slot < slot))
            slot = it->second->m_slot;
    }
    return static_cast<int>(slot);
}

bool TRKMonItems::FileIdInUse(const std::string& id, const TRKMonItem* except) const
{
    std::lock_guard lock(m_mutex);
    const auto [first, last] = m_idIndex.equal_range(id);
    return std::any_of(first, last, [except](const auto& entry) { return entry.second != except; });
}

int TRKMonItems::FindByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return SlotOf(m_fileIndex, path);
}

int TRKMonItems::FindFolder(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return SlotOf(m_folderIndex, path);
}

std::shared_ptr<TRKMonItem> TRKMonItems::FileByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return At(m_files, SlotOf(m_fileIndex, path));
}

std::shared_ptr<TRKMonFolder> TRKMonItems::FolderByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return At(m_folders, SlotOf(m_folderIndex, path));
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

void TRKMonItems::SaveAll()
{
    for (const auto& item : Files())
        m_listWriter->Save(item, false);
    for (const auto& folder : Folders())
        m_listWriter->Save(folder, false);
    m_listWriter->Flush();
}

void TRKMonItems::FlushList()
{
    m_listWriter->Flush();
}

void TRKMonItems::FlushBeforeMonitor()
{
    // A file's record travels whole in the block; only a folder's is read from the list.
    if (!m_listWriter->FolderPending())
        return;
    try {
        m_listWriter->Flush();
    } catch (const std::exception& e) {
        Log(std::string("the item list was not written: ") + e.what());
    }
}

void TRKMonItems::PostToMonitor(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam)
{
    if (!m_block)
        return;
    auto post = [this, block = m_block, poster = m_reportPoster, msg, record, wParam, alive = AliveToken()] {
        if (alive.expired())
            return;
        // The monitor reads a folder's section from the list when it takes one in.
        if (msg == MsgAdd)
            FlushBeforeMonitor();
        if (poster) {
            (*poster)(msg, record, wParam);
            return;
        }
        block->ItemRecord = record;
        PostMessage(block->MonitorWnd, block->MessageIds[msg], wParam, 0);
    };
    if (!m_host || m_host->IsMainThread())
        post();
    else
        m_host->PostToMainThread(post);
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

void TRKMonItems::StopAllWatches()
{
    m_loadedWatches.clear();
    if (std::exchange(m_heldStarts, false))
        WatchThread::HoldStarts(false);
    m_presenceRetry.reset();
    for (const auto& folder : Folders())
        folder->EndWatch(true);
}

} // namespace morvane
