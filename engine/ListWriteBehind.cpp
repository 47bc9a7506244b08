#include "engine/ListWriteBehind.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace morvane {

namespace {

// No stored value can hold a line break, so this default tells "no key" from any value.
const std::string kNoKey = "\n";

} // namespace

ListWriteBehind::ListWriteBehind(TRKMonItems& owner) : m_owner(owner) {}

ListWriteBehind::~ListWriteBehind()
{
    Stop();
}

void ListWriteBehind::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void ListWriteBehind::Save(const std::shared_ptr<TRKMonItem>& item, bool arm)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_saved.find(item.get());
    if (it == m_saved.end() || static_cast<std::ptrdiff_t>(it->second) < m_lastErase) {
        m_saved[item.get()] = m_ops.size();
        m_ops.push_back(Op{item, {}, {}});
    }
    if (arm)
        ArmLocked();
}

void ListWriteBehind::Erase(const std::string& section, const std::string& fileId)
{
    std::lock_guard lock(m_mutex);
    m_lastErase = static_cast<std::ptrdiff_t>(m_ops.size());
    m_ops.push_back(Op{nullptr, section, fileId});
    ArmLocked();
}

void ListWriteBehind::ArmLocked()
{
    if (m_due || m_stop)
        return;
    m_due = std::chrono::steady_clock::now() + m_delay;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
    m_wake.notify_all();
}

void ListWriteBehind::Reindex()
{
    m_saved.clear();
    m_lastErase = -1;
    for (std::size_t i = 0; i < m_ops.size(); ++i) {
        if (m_ops[i].Item)
            m_saved[m_ops[i].Item.get()] = i;
        else
            m_lastErase = static_cast<std::ptrdiff_t>(i);
    }
}

bool ListWriteBehind::Pending() const
{
    std::lock_guard lock(m_mutex);
    return !m_ops.empty() || m_writing;
}

bool ListWriteBehind::FolderPending() const
{
    std::lock_guard lock(m_mutex);
    for (const Op& op : m_ops) {
        if (op.Item && op.Item->IsFolder())
            return true;
    }
    return false;
}

std::chrono::milliseconds ListWriteBehind::Delay() const
{
    std::lock_guard lock(m_mutex);
    return m_delay;
}

void ListWriteBehind::SetDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mutex);
    m_delay = delay;
    if (m_due)
        m_due = std::chrono::steady_clock::now() + delay;
    m_wake.notify_all();
}

void ListWriteBehind::Flush()
{
    std::lock_guard fileLock(m_owner.ListFileMutex());
    std::vector<Op> ops;
    {
        std::lock_guard lock(m_mutex);
        if (m_ops.empty())
            return;
        ops.swap(m_ops);
        m_saved.clear();
        m_lastErase = -1;
        m_due.reset();
        m_writing = true;
    }
    // Pending until the write is over, whichever way it ends.
    struct WriteEnd
    {
        ListWriteBehind& Writer;
        ~WriteEnd()
        {
            std::lock_guard lock(Writer.m_mutex);
            Writer.m_writing = false;
        }
    } writeEnd{*this};

    const std::string root = m_owner.BackupRoot();
    IniFile list(m_owner.ListFile());
    IniFile index(root + kBackupIndexName);
    bool indexChanged = false;
    try {
        // One state of each file for the whole write: each is looked at once.
        const IniFile::ReadScope listState(list);
        const IniFile::ReadScope indexState(index);
        for (const Op& op : ops) {
            if (!op.Item) {
                list.EraseSection(op.Section);
                if (!op.FileId.empty() &&
                    index.ReadString(kBackupIndexSection, op.FileId, kNoKey) != kNoKey) {
                    index.DeleteKey(kBackupIndexSection, op.FileId);
                    indexChanged = true;
                }
                continue;
            }
            // A removed item must not bring its section back (a scan may still hold it).
            if (op.Item->Removed())
                continue;
            const TMonItemRecord record = op.Item->StoredData();
            try {
                WriteItemRecord(record, list, nullptr);
            } catch (const std::invalid_argument& e) {
                // One record the list cannot hold does not stop the others.
                Log(std::string("item not saved: ") + e.what());
                continue;
            }
            const std::string id = record.FileID.Get();
            const std::string path = record.Path.Get();
            if (!id.empty() && index.ReadString(kBackupIndexSection, id, kNoKey) != path) {
                index.WriteString(kBackupIndexSection, id, path);
                indexChanged = true;
            }
        }
        list.Flush();
        ++m_listWrites;
    } catch (...) {
        // Kept for the next write, ahead of what came meanwhile.
        std::lock_guard lock(m_mutex);
        ops.insert(ops.end(), std::make_move_iterator(m_ops.begin()), std::make_move_iterator(m_ops.end()));
        m_ops.swap(ops);
        Reindex();
        ArmLocked();
        throw;
    }
    m_failureLogged.store(false);
    if (!indexChanged)
        return;
    // The index only maps backup folders back to their files; failing to update it must
    // not fail the save of the list itself.
    try {
        MakePrivateDirs(WithoutTrailingSep(root));
        index.Flush();
        ++m_indexWrites;
    } catch (const std::exception& e) {
        Log(e.what());
    }
}

void ListWriteBehind::ReportFailure(const std::string& reason)
{
    Log("the item list was not written: " + reason);
    // Told as a version that could not be written is: what the list does not hold is
    // forgotten if the agent ends before a write succeeds.
    EngineHost* host = m_owner.Host();
    if (!host)
        return;
    host->PostToMainThread([host, reason, alive = m_owner.AliveToken()] {
        if (alive.expired())
            return;
        host->SetBalloonTitle("Item list not saved");
        host->SetBalloonText(reason);
        host->ShowBalloon();
    });
}

void ListWriteBehind::Run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_due) {
            m_wake.wait(lock);
            continue;
        }
        const auto due = *m_due;
        if (m_wake.wait_until(lock, due, [&] { return m_stop || !m_due || *m_due != due; }))
            continue;
        lock.unlock();
        try {
            Flush();
        } catch (const std::exception& e) {
            // Said once until a write succeeds again; the changes stay pending and are
            // tried again after the next delay.
            if (!m_failureLogged.exchange(true))
                ReportFailure(e.what());
        }
        lock.lock();
    }
}

} // namespace morvane
