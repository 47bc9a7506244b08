#include "engine/TRKMonFolder.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItems.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <algorithm>
#include <exception>

namespace morvane {

namespace {

bool OnMainThread(const TRKMonItems& owner)
{
    return !owner.Host() || owner.Host()->IsMainThread();
}

} // namespace

TRKMonFolder::TRKMonFolder(TRKMonItems& owner) : TRKMonItem(owner) {}

TRKMonFolder::~TRKMonFolder()
{
    EndWatch(true);
}

std::shared_ptr<TRKMonFolder> TRKMonFolder::Create(const std::string& path, TRKMonItems& owner)
{
    std::shared_ptr<TRKMonFolder> folder(new TRKMonFolder(owner));
    folder->UpdateData([&](TMonItemRecord& r) {
        SetRecordPath(r, path);
        r.IsFolder = true;
    });
    folder->Load();
    folder->UpdateData([](TMonItemRecord& r) { r.IsFolder = true; });
    return folder;
}

std::shared_ptr<TRKMonFolder> TRKMonFolder::CreateFromRecord(const TMonItemRecord& record, TRKMonItems& owner)
{
    std::shared_ptr<TRKMonFolder> folder(new TRKMonFolder(owner));
    TMonItemRecord given = record;
    given.IsFolder = true;
    folder->SetData(given);
    folder->Load();
    // A folder the list does not hold yet keeps the caller's options.
    if (!folder->Data().IsSaved)
        folder->SetData(given);
    folder->CheckExists(false);
    return folder;
}

int TRKMonFolder::IndexOfFile(const std::string& path) const
{
    std::lock_guard lock(Owner().m_mutex);
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->Path() == path)
            return static_cast<int>(i);
    }
    return -1;
}

void TRKMonFolder::RemoveFile(const std::string& path)
{
    std::shared_ptr<TRKMonItem> dropped; // released after the lock
    std::lock_guard lock(Owner().m_mutex);
    auto it = std::find_if(m_files.begin(), m_files.end(), [&](const auto& m) { return m->Path() == path; });
    if (it == m_files.end())
        return;
    dropped = std::move(*it);
    m_files.erase(it);
    ForgetMember(*dropped);
}

void TRKMonFolder::RemoveMember(const TRKMonItem* item)
{
    std::vector<std::shared_ptr<TRKMonItem>> dropped; // released after the lock
    std::lock_guard lock(Owner().m_mutex);
    if (!m_memberSet.count(item))
        return;
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (it->get() == item) {
            dropped.push_back(std::move(*it));
            it = m_files.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& member : dropped)
        ForgetMember(*member);
}

void TRKMonFolder::ForgetMember(const TRKMonItem& member)
{
    m_memberSet.erase(&member);
    // With the counts up to date the member's path now is the one it was counted under; a
    // change of it not reported yet will make the next use rebuild them anyway.
    if (m_memberPathsGeneration != Owner().PathGeneration())
        return;
    const auto it = m_memberPaths.find(member.Path());
    if (it != m_memberPaths.end() && --it->second <= 0)
        m_memberPaths.erase(it);
}

void TRKMonFolder::RefreshMemberPaths()
{
    const std::uint64_t now = Owner().PathGeneration();
    if (m_memberPathsGeneration == now)
        return;
    m_memberPaths.clear();
    for (const auto& member : m_files)
        ++m_memberPaths[member->Path()];
    m_memberPathsGeneration = now;
}

bool TRKMonFolder::AddFile(const std::shared_ptr<TRKMonItem>& item, bool version)
{
    if (FolderPart(item->Path()) != Path())
        return false;
    {
        std::lock_guard lock(Owner().m_mutex);
        if (m_memberSet.count(item.get()))
            return true;
        RefreshMemberPaths();
        std::string path = item->Path();
        if (m_memberPaths.count(path))
            return true;
        m_files.push_back(item);
        try {
            m_memberSet.insert(item.get());
            ++m_memberPaths[std::move(path)];
        } catch (...) {
            m_files.pop_back();
            m_memberSet.erase(item.get());
            throw;
        }
        item->m_tracked = true;
    }
    if (version && Owner().Active() && Monitored()) {
        const VersionResult result = item->MakeVersion(false);
        if (result)
            item->AfterVersion(false);
        else if (result.Outcome == VersionOutcome::WriteFailed)
            item->ReportWriteFailure(result.Error);
    }
    return true;
}

int TRKMonFolder::FileCount() const
{
    std::lock_guard lock(Owner().m_mutex);
    return static_cast<int>(m_files.size());
}

std::shared_ptr<TRKMonItem> TRKMonFolder::GetFile(int index) const
{
    std::lock_guard lock(Owner().m_mutex);
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return nullptr;
    return m_files[static_cast<std::size_t>(index)];
}

std::vector<std::shared_ptr<TRKMonItem>> TRKMonFolder::Files() const
{
    std::lock_guard lock(Owner().m_mutex);
    return m_files;
}

void TRKMonFolder::StartWatch()
{
    // One watch per folder: an earlier thread ends before the new one starts.
    EndWatch(OnMainThread(Owner()));
    UpdateData([](TMonItemRecord& r) { r.Monitored = true; });
    if (!Owner().Active() || !Owner().WatchFactory())
        return;
    std::unique_ptr<morvane::WatchThread> thread;
    try {
        thread = Owner().WatchFactory()(*this);
    } catch (const std::exception& e) {
        // The factory tells the user of a thread it could not start; nothing else may end
        // the program from here (a request or a batch of starts on the main thread).
        Log("not watched: " + Path() + ": " + e.what());
        return;
    }
    std::lock_guard lock(m_watchMutex);
    m_watch = std::move(thread);
}

void TRKMonFolder::StopWatch()
{
    EndWatch(OnMainThread(Owner()));
    UpdateData([](TMonItemRecord& r) { r.Monitored = false; });
}

void TRKMonFolder::DropWatch()
{
    EndWatch(OnMainThread(Owner()));
}

void TRKMonFolder::EndWatch(bool join)
{
    std::vector<std::unique_ptr<morvane::WatchThread>> ending;
    if (!join) {
        std::lock_guard lock(m_watchMutex);
        if (m_watch) {
            m_watch->RequestStop();
            m_retired.push_back(std::move(m_watch));
        }
        return;
    }
    TakeWatches(ending);
    if (ending.empty())
        return;
    // A thread waiting for the main thread looks at its stop flag again and gives up.
    Owner().MainThread().WakeAll();
    for (auto& thread : ending)
        thread->Join();
}

void TRKMonFolder::TakeWatches(std::vector<std::unique_ptr<morvane::WatchThread>>& ending, bool ask)
{
    std::lock_guard lock(m_watchMutex);
    if (m_watch) {
        if (ask)
            m_watch->RequestStop();
        ending.push_back(std::move(m_watch));
    }
    for (auto& thread : m_retired)
        ending.push_back(std::move(thread));
    m_retired.clear();
}

morvane::WatchThread* TRKMonFolder::WatchThread() const
{
    std::lock_guard lock(m_watchMutex);
    return m_watch.get();
}

bool TRKMonFolder::WatchRunning() const
{
    std::lock_guard lock(m_watchMutex);
    return m_watch && !m_watch->Finished();
}

} // namespace morvane
