#include "engine/TRKMonItems.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/PresenceRetry.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/WatchThread.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"
#include "platform/TerminationSignal.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>
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
        // Only the folder item of the file's own folder takes it; a scan makes the first
        // versions of the files it adds itself, together.
        const std::string folderPath = FolderPart(path);
        if (std::shared_ptr<TRKMonFolder> folder = FolderByPath(folderPath);
            folder && folder->AddFile(item, by != AddedBy::Scan))
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

namespace {

// Waking a thread costs the waker a system call and an interrupt of another core (dear in
// a virtual machine): thousands of threads are woken by a few helpers side by side.
void RequestStops(const std::vector<std::unique_ptr<WatchThread>>& threads)
{
    constexpr std::size_t kPerHelper = 1000;
    constexpr std::size_t kMaxHelpers = 3;
    constexpr std::size_t kStep = 64;
    std::atomic<std::size_t> next{0};
    // The main thread beats as it goes: it is not stuck.
    const auto ask = [&threads, &next](bool beat) {
        for (std::size_t i; (i = next.fetch_add(kStep)) < threads.size();) {
            for (std::size_t j = i; j < std::min(i + kStep, threads.size()); ++j)
                threads[j]->RequestStop();
            if (beat)
                TerminationSignal::Beat();
        }
    };
    std::vector<std::thread> helpers;
    try {
        while (helpers.size() < std::min(kMaxHelpers, threads.size() / kPerHelper))
            helpers.emplace_back(ask, false);
    } catch (const std::system_error&) {
        // No thread to spare: fewer hands do it.
    }
    ask(true);
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace

void TRKMonItems::StopAllWatches()
{
    m_loadedWatches.clear();
    if (std::exchange(m_heldStarts, false))
        WatchThread::HoldStarts(false);
    m_presenceRetry.reset();
    // Every thread is asked before any is joined: they end side by side, so the stop lasts
    // as long as the slowest thread, not as long as all of them one after another. The
    // termination watchdog hears all along that the main thread is not stuck.
    const std::vector<std::shared_ptr<TRKMonFolder>> folders = Folders();
    std::vector<std::unique_ptr<WatchThread>> ending;
    for (const auto& folder : folders)
        folder->TakeWatches(ending, false);
    if (ending.empty())
        return;
    RequestStops(ending);
    // A thread waiting for the main thread looks at its stop flag again and gives up.
    MainThread().WakeAll();
    for (auto& thread : ending) {
        thread->Join();
        TerminationSignal::Beat();
    }
}

void TRKMonItems::ReassignItem(TRKMonItem& item, const std::string& newPath)
{
    CheckPath(newPath);
    if (newPath == item.Path())
        return;
    const bool folder = item.IsFolder();
    if (folder != (newPath.back() == kPathSep))
        throw std::invalid_argument(folder ? "A folder's path must end with \"/\": " + newPath
                                           : "A file's path must not end with \"/\": " + newPath);
    if (folder)
        ReassignFolder(static_cast<TRKMonFolder&>(item), newPath);
    else
        ReassignFile(item, newPath);
}

void TRKMonItems::ReassignFolder(TRKMonFolder& self, const std::string& newPath)
{
    const std::vector<std::shared_ptr<TRKMonItem>> members = self.Files();
    // Refuse before anything changes when a member's new path would not fit the record.
    for (const auto& member : members) {
        const std::string memberPath = newPath + NamePart(member->Path());
        if (!FitsShortText(memberPath))
            throw std::invalid_argument("The path is longer than 255 bytes and cannot be monitored: " +
                                        memberPath);
    }

    if (auto other = FolderByPath(newPath); other && other.get() != &self)
        RemoveFolderItem(other);
    const std::string old = self.Path();
    self.UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
    const bool active = Active();
    for (const auto& member : members) {
        if (active)
            EraseSection(member->Path());
        member->UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath + NamePart(r.Path.Get())); });
        if (active)
            member->Save();
    }
    if (active) {
        EraseSection(old);
        // A running watch follows the folder to its new place.
        if (self.WatchThread()) {
            self.EndWatch(true);
            self.StartWatch();
        }
    }
}

void TRKMonItems::ReassignFile(TRKMonItem& item, const std::string& newPath)
{
    const std::string old = item.Path();
    if (auto other = FileByPath(newPath); other && other.get() != &item)
        RemoveFileItem(other);

    const std::string newFolderPath = FolderPart(newPath);
    if (newFolderPath != FolderPart(old)) {
        if (auto oldFolder = FolderByPath(FolderPart(old)))
            oldFolder->RemoveMember(&item);
        std::shared_ptr<TRKMonFolder> folder = FolderByPath(newFolderPath);
        if (!folder)
            folder = MakeParentFolder(newFolderPath, nullptr);
        item.UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
        folder->AddFile(item.shared_from_this());
    }
    item.UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
    if (Active())
        EraseSection(old);
}

} // namespace morvane
