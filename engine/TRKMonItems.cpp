#include "engine/TRKMonItems.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

namespace morvane {

namespace {

thread_local const std::atomic<bool>* t_stopFlag = nullptr;

// How often a wait for the main thread looks at its stop flag even without a wake-up.
constexpr auto kSyncPoll = std::chrono::milliseconds(200);

template <typename Item>
int IndexByPath(const std::vector<std::shared_ptr<Item>>& items, const std::string& path)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i]->Path() == path)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

TRKMonItems::TRKMonItems(SharedBlock* block, EngineHost* host, std::string home)
    : m_block(block), m_host(host), m_home(WithTrailingSep(std::move(home))),
      m_listFile(m_home + kListFileName)
{
}

TRKMonItems::~TRKMonItems()
{
    m_alive.reset();
    StopAllWatches();
}

std::string TRKMonItems::SettingsFile() const
{
    return m_home + kSettingsFileName;
}

std::string TRKMonItems::BackupRoot() const
{
    return ReadBackupRoot(SettingsFile(), m_home);
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
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return nullptr;
    return m_files[static_cast<std::size_t>(index)];
}

std::shared_ptr<TRKMonFolder> TRKMonItems::GetFolder(int index) const
{
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_folders.size()))
        return nullptr;
    return m_folders[static_cast<std::size_t>(index)];
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
    if (path.find_first_of("[]\r\n") != std::string::npos || path.find('\0') != std::string::npos)
        throw std::invalid_argument("The path holds characters the item list cannot store: " + path);
}

std::string TRKMonItems::MakeFileId() const
{
    std::string id;
    for (int attempt = 0; attempt < 100; ++attempt) {
        id = NewFileId(BackupRoot(), m_listFile);
        // Items not saved yet are in memory only.
        if (FindByFileID(id) < 0) {
            std::lock_guard lock(m_mutex);
            if (std::none_of(m_folders.begin(), m_folders.end(),
                             [&](const auto& f) { return f->FileID() == id; }))
                return id;
        }
    }
    return id;
}

std::shared_ptr<TRKMonItem> TRKMonItems::Add(const TMonItemRecord& record, const std::string& fileId)
{
    const std::string path = record.Path.Get();
    CheckPath(path);
    if (path.back() != kPathSep) {
        if (auto existing = FileByPath(path))
            return existing;
        std::shared_ptr<TRKMonItem> item = TRKMonItem::Create(path, *this);
        if (!item->Data().IsSaved) {
            const std::string id = IsPlainFolderName(fileId) ? fileId : MakeFileId();
            item->UpdateData([&id](TMonItemRecord& r) { r.FileID.Set(id); });
        }
        {
            // Another thread may have added the same path while this one was loading.
            std::lock_guard lock(m_mutex);
            const int other = IndexByPath(m_files, path);
            if (other >= 0)
                return m_files[static_cast<std::size_t>(other)];
            m_files.push_back(item);
        }
        bool taken = false;
        for (const auto& folder : Folders()) {
            if (folder->AddFile(item)) {
                taken = true;
                break;
            }
        }
        if (!taken)
            MakeParentFolder(FolderPart(path), item);
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
        const int other = IndexByPath(m_folders, path);
        if (other >= 0)
            return m_folders[static_cast<std::size_t>(other)];
        m_folders.push_back(folder);
    }
    if (!folder->Data().IsSaved) {
        folder->UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
        if (Active())
            folder->Save();
    }
    if (Active() && folder->Monitored())
        folder->StartWatch();
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
        const int other = IndexByPath(m_folders, folderPath);
        if (other >= 0)
            folder = nullptr;
        else
            m_folders.push_back(folder);
    }
    if (!folder) {
        std::shared_ptr<TRKMonFolder> existing = FolderByPath(folderPath);
        if (existing && firstMember)
            existing->AddFile(firstMember);
        return existing;
    }
    if (firstMember)
        folder->AddFile(firstMember);
    if (!folder->Data().IsSaved) {
        folder->UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
        if (Active())
            folder->Save();
    }
    if (Active() && folder->Monitored())
        folder->StartWatch();
    return folder;
}

void TRKMonItems::DeleteFileEntry(int index)
{
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return;
    m_files.erase(m_files.begin() + index);
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
    // Every version goes, in the passive engine too; also one written after the last
    // report and one made in the same second, which an age test would keep.
    item->DeleteAllVersions();
    const std::string path = item->Path();
    if (std::shared_ptr<TRKMonFolder> folder = FolderByPath(FolderPart(path)))
        folder->RemoveMember(item.get());
    EraseStored(*item, Active());
    std::lock_guard lock(m_mutex);
    std::erase(m_files, item);
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
    std::erase(m_folders, folder);
}

void TRKMonItems::EraseStored(TRKMonItem& item, bool eraseSection)
{
    std::lock_guard lock(m_listFileMutex);
    item.MarkRemoved();
    if (!eraseSection)
        return;
    IniFile list(m_listFile);
    list.EraseSection(item.Path());
    list.Flush();
    const std::string id = item.FileID();
    const std::string index = BackupRoot() + kBackupIndexName;
    if (id.empty() || !FileExists(index))
        return;
    // The index only maps backup folders back to files; a failure here loses nothing.
    try {
        IniFile backupIndex(index);
        backupIndex.DeleteKey(kBackupIndexSection, id);
        backupIndex.Flush();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvane: %s\n", e.what());
    }
}

void TRKMonItems::EraseSection(const std::string& section)
{
    std::lock_guard lock(m_listFileMutex);
    IniFile list(m_listFile);
    list.EraseSection(section);
    list.Flush();
}

int TRKMonItems::FindByFileID(const std::string& id) const
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->FileID() == id)
            return static_cast<int>(i);
    }
    return -1;
}

int TRKMonItems::FindByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return IndexByPath(m_files, path);
}

int TRKMonItems::FindFolder(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return IndexByPath(m_folders, path);
}

std::shared_ptr<TRKMonItem> TRKMonItems::FileByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    const int i = IndexByPath(m_files, path);
    return i < 0 ? nullptr : m_files[static_cast<std::size_t>(i)];
}

std::shared_ptr<TRKMonFolder> TRKMonItems::FolderByPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    const int i = IndexByPath(m_folders, path);
    return i < 0 ? nullptr : m_folders[static_cast<std::size_t>(i)];
}

std::vector<std::string> TRKMonItems::LoadAll()
{
    std::vector<std::string> refused;
    std::vector<std::string> sections;
    {
        IniFile list(m_listFile);
        sections = list.ReadSections();
    }
    for (const std::string& name : sections) {
        if (name == kDefaultSection)
            continue;
        try {
            CheckPath(name);
            TMonItemRecord record = EmptyItemRecord();
            SetRecordPath(record, name);
            record.IsFolder = name.back() == kPathSep;
            Add(record, std::string())->Load();
        } catch (const std::invalid_argument& e) {
            refused.push_back(name + ": " + e.what());
        } catch (const std::length_error& e) {
            refused.push_back(name + ": " + e.what());
        }
    }
    return refused;
}

void TRKMonItems::SaveAll()
{
    const auto files = Files();
    const auto folders = Folders();
    std::lock_guard lock(m_listFileMutex);
    const std::string root = BackupRoot();
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    IniFile list(m_listFile);
    IniFile index(root + kBackupIndexName);
    auto write = [&](const TRKMonItem& item) {
        if (!item.Removed())
            WriteItemRecord(item.Data(), list, &index);
    };
    for (const auto& item : files)
        write(*item);
    for (const auto& folder : folders)
        write(*folder);
    list.Flush();
    // The index only maps backup folders back to files; a failure here loses nothing.
    try {
        index.Flush();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvane: %s\n", e.what());
    }
}

bool TRKMonItems::Synchronize(std::function<void()> fn, const std::atomic<bool>* stop)
{
    if (!m_host || m_host->IsMainThread()) {
        fn();
        return true;
    }
    if (!stop)
        stop = t_stopFlag;

    struct Call
    {
        std::function<void()> Fn;
        bool Started = false;
        bool Done = false;
        bool Abandoned = false;
        std::exception_ptr Error;
    };
    auto call = std::make_shared<Call>();
    call->Fn = std::move(fn);
    std::shared_ptr<SyncHub> hub = m_sync;
    m_host->PostToMainThread([hub, call] {
        {
            std::lock_guard lock(hub->Mutex);
            if (call->Abandoned)
                return;
            call->Started = true;
        }
        try {
            call->Fn();
        } catch (...) {
            call->Error = std::current_exception();
        }
        {
            std::lock_guard lock(hub->Mutex);
            call->Done = true;
        }
        hub->Cv.notify_all();
    });

    std::unique_lock lock(hub->Mutex);
    while (!call->Done) {
        // Giving up even while fn runs: the main thread may be inside fn's box and be
        // asked to join this thread from there.
        if (stop && stop->load()) {
            call->Abandoned = true;
            return false;
        }
        hub->Cv.wait_for(lock, kSyncPoll);
    }
    if (call->Error)
        std::rethrow_exception(call->Error);
    return true;
}

void TRKMonItems::WakeSynchronizers()
{
    {
        std::lock_guard lock(m_sync->Mutex);
    }
    m_sync->Cv.notify_all();
}

void TRKMonItems::SetThreadStopFlag(const std::atomic<bool>* stop)
{
    t_stopFlag = stop;
}

const std::atomic<bool>* TRKMonItems::ThreadStopFlag()
{
    return t_stopFlag;
}

bool TRKMonItems::StopRequested()
{
    return t_stopFlag && t_stopFlag->load();
}

void TRKMonItems::PostToMonitor(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam)
{
    if (!m_block)
        return;
    auto post = [block = m_block, poster = m_reportPoster, msg, record, wParam, alive = AliveToken()] {
        if (alive.expired())
            return;
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

void TRKMonItems::StopAllWatches()
{
    for (const auto& folder : Folders())
        folder->EndWatch(true);
}

} // namespace morvane
