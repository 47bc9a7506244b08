#include "engine/TRKMonItem.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/ListWriteBehind.h"
#include "engine/MainThreadCalls.h"
#include "engine/PresenceRetry.h"
#include "engine/SharedBlock.h"
#include "engine/VersionStore.h"
#include "platform/DirListing.h"
#include "platform/FileStamp.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

namespace morvane {

namespace {

constexpr auto kRetryWait = std::chrono::milliseconds(100);

bool SamePath(const ShortText& a, const ShortText& b)
{
    return a.Len == b.Len && std::memcmp(a.Chars, b.Chars, a.Len) == 0;
}

// Packed once: every item starts from it.
const PackedItemRecord& PackedEmptyRecord()
{
    static const PackedItemRecord empty(EmptyItemRecord());
    return empty;
}

} // namespace

TRKMonItem::TRKMonItem(ItemOwner& owner) : m_owner(&owner), m_data(PackedEmptyRecord()) {}

TRKMonItem::TRKMonItem(ItemOwner& owner, const TMonItemRecord& record) : m_owner(&owner), m_data(record) {}

TRKMonItem::~TRKMonItem() = default;

std::shared_ptr<TRKMonItem> TRKMonItem::Create(const std::string& path, ItemOwner& owner)
{
    TMonItemRecord start = EmptyItemRecord();
    SetRecordPath(start, path);
    start.IsFolder = false;
    std::shared_ptr<TRKMonItem> item(new TRKMonItem(owner, start));
    item->Load(owner.ReadAtLoad(path));
    item->UpdateData([](TMonItemRecord& r) {
        if (r.IsSaved)
            return;
        // A new item starts switched off, with its counters at zero.
        r.Monitored = false;
        r.MonStatus = msDisabled;
        r.VersionNum = 0;
        if (r.DelModeNumber == 0)
            r.DelModeNumber = 3;
        r.MonModeNumberCount = 0;
        r.NameModeNumberCount = 0;
        if (r.MonModeInterval == 0)
            r.MonModeInterval = kZeroDuration;
        if (r.DelModeInterval == 0)
            r.DelModeInterval = kZeroDuration;
    });
    return item;
}

TMonItemRecord TRKMonItem::Data() const
{
    std::lock_guard lock(m_mutex);
    return m_data;
}

void TRKMonItem::SetData(const TMonItemRecord& record)
{
    bool moved = false;
    {
        std::lock_guard lock(m_mutex);
        moved = !SamePath(m_data.Path(), record.Path) || !SamePath(m_data.FileID(), record.FileID);
        m_data = record;
    }
    if (moved)
        m_owner->KeysChanged(*this);
}

void TRKMonItem::UpdateData(const std::function<void(TMonItemRecord&)>& change)
{
    bool moved = false;
    {
        std::lock_guard lock(m_mutex);
        const TMonItemRecord before = m_data;
        TMonItemRecord record = before;
        change(record);
        moved = !SamePath(before.Path, record.Path) || !SamePath(before.FileID, record.FileID);
        m_data.Update(before, record);
    }
    // The owner's lock is taken after the item's is released: the owner reads item keys
    // under its own lock.
    if (moved)
        m_owner->KeysChanged(*this);
}

std::string TRKMonItem::Path() const
{
    std::lock_guard lock(m_mutex);
    return m_data.Path().Get();
}

std::string TRKMonItem::FileID() const
{
    std::lock_guard lock(m_mutex);
    return m_data.FileID().Get();
}

bool TRKMonItem::IsFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_data.IsFolder();
}

bool TRKMonItem::Monitored() const
{
    std::lock_guard lock(m_mutex);
    return m_data.Monitored();
}

bool TRKMonItem::IsSaved() const
{
    std::lock_guard lock(m_mutex);
    return m_data.IsSaved();
}

TMonStatus TRKMonItem::MonStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_data.MonStatus();
}

double TRKMonItem::LastTime() const
{
    std::lock_guard lock(m_mutex);
    return m_data.LastTime();
}

std::string TRKMonItem::LastVersionPath() const
{
    std::lock_guard lock(m_mutex);
    return m_data.LastVersionPath().Get();
}

void TRKMonItem::Load(const PackedItemRecord* readAhead)
{
    TMonItemRecord record = Data();
    if (readAhead)
        record = readAhead->Unpack();
    else if (IniFile* list = m_owner->LoadReader())
        ReadItemRecord(record, *list, m_owner->BackupRoot());
    else
        ReadItemRecord(record, m_owner->ListFile(), m_owner->BackupRoot());
    SetData(record);
    const bool present = record.Path.Get() == kDefaultSection || CheckExists(false);
    // Restarted on the presence test just made (a missing item is stopped by it); an item
    // still looked for is restarted when it is found.
    if (Monitored() && m_owner->Active() && !PresencePending()) {
        UpdateData([present](TMonItemRecord& r) {
            r.Monitored = present;
            if (present)
                r.MonStatus = msActive;
        });
    }
}

void TRKMonItem::Save()
{
    // A removed item must not bring its section back (a scan may still hold it).
    if (Removed())
        return;
    // The active engine writes the list behind; the passive one writes at once.
    const bool active = m_owner->Active();
    m_owner->ListWriter().Save(shared_from_this(), active);
    if (!active)
        m_owner->FlushList();
}

std::optional<bool> TRKMonItem::AskOnMainThread(const std::string& text)
{
    EngineHost* host = m_owner->Host();
    if (!host)
        return std::nullopt;
    auto answer = std::make_shared<std::optional<bool>>();
    const bool ran = m_owner->MainThread().Synchronize([host, text, answer] {
        const BoxAnswer pressed = host->ShowMessage(BoxKind::Confirmation, text, BoxButtons::YesNo);
        host->HideMainWindow();
        *answer = pressed == BoxAnswer::Yes;
    });
    if (!ran)
        return std::nullopt;
    return *answer;
}

bool TRKMonItem::WaitRetry()
{
    if (MainThreadCalls::StopRequested())
        return false;
    std::this_thread::sleep_for(kRetryWait);
    return !MainThreadCalls::StopRequested();
}

void TRKMonItem::ReportWriteFailure(int error)
{
    EngineHost* host = m_owner->Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), error, alive = m_owner->AliveToken()] {
            if (!alive.expired())
                self->ReportWriteFailure(error);
        });
        return;
    }
    if (Removed())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_writeFailure == error)
            return; // told already
        m_writeFailure = error;
        TMonItemRecord r = m_data;
        r.MonStatus = msBroken;
        m_data = r;
    }
    const std::string path = Path();
    const std::string reason = error ? std::system_category().message(error) : std::string("unknown error");
    Log("no version of " + path + " could be written: " + reason);
    if (host) {
        host->SetBalloonTitle("No version made");
        host->SetBalloonText(NamePart(path) + ": " + reason);
        host->ShowBalloon();
    }
    SharedBlock* block = m_owner->Block();
    if (block && block->MonitorRunning)
        m_owner->PostToMonitor(MsgVersion, Data(), 0);
}

void TRKMonItem::ReportChanging()
{
    EngineHost* host = m_owner->Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), alive = m_owner->AliveToken()] {
            if (!alive.expired())
                self->ReportChanging();
        });
        return;
    }
    if (Removed())
        return;
    const std::string path = Path();
    Log("no version of " + path + " was made: it kept changing while it was copied");
    if (host) {
        host->SetBalloonTitle("No version made");
        host->SetBalloonText(NamePart(path) +
                             ": it kept changing while it was copied. Try again once it is saved.");
        host->ShowBalloon();
    }
    SharedBlock* block = m_owner->Block();
    if (block && block->MonitorRunning)
        m_owner->PostToMonitor(MsgVersion, Data(), 0);
}

int TRKMonItem::WriteFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_writeFailure;
}

TMonItemRecord TRKMonItem::StoredData() const
{
    std::lock_guard lock(m_mutex);
    TMonItemRecord r = m_data;
    if (m_writeFailure && r.MonStatus == msBroken)
        r.MonStatus = r.Monitored ? msActive : msDisabled;
    return r;
}

void TRKMonItem::AfterVersion(bool force)
{
    if (IsFolder())
        return;
    EngineHost* host = m_owner->Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), force, alive = m_owner->AliveToken()] {
            if (alive.expired())
                return;
            try {
                self->AfterVersion(force);
            } catch (const std::exception& e) {
                Log("reporting a version of " + self->Path() + ": " + e.what());
            }
        });
        return;
    }
    if (Removed())
        return;

    std::optional<double> made;
    TMonItemRecord rec;
    {
        std::lock_guard lock(m_mutex);
        made.swap(m_madeDate);
        rec = m_data;
        // The date moves from the made version to LastTime in one step, so a rescan in
        // between never finds neither and makes the same state of the file again.
        if (made) {
            TMonItemRecord r = rec;
            r.LastTime = *made;
            m_data = r;
        }
    }
    double d = 0;
    bool changed = false;
    if (made) {
        // A version made is new even when its date equals LastTime (a second save within
        // the same second).
        d = *made;
        changed = true;
    } else {
        // No version was made: only a forced make of an unchanged file is reported.
        const std::optional<double> now = FileDate(rec.Path.Get());
        if (!now || *now != rec.LastTime)
            return;
        d = *now;
    }
    if (!changed && !force)
        return;

    SharedBlock* block = m_owner->Block();
    if (host) {
        host->SetBalloonTitle(block ? block->Text(changed ? TxtMesNewVersion : TxtMesExistsVersion)
                                    : std::string());
        host->SetBalloonText(NamePart(rec.LastVersionPath.Get()));
    }
    if (block && block->MonitorRunning)
        m_owner->PostToMonitor(MsgVersion, Data(), 0);
    if (host && block && block->Settings.ShowBaloon)
        host->ShowBalloon();
    UpdateData([d](TMonItemRecord& r) { r.LastTime = d; });
    Save();
}

void TRKMonItem::DeleteVersionsBefore(double threshold)
{
    // The user's command: what it removes can be taken back from the trash.
    PruneVersions(threshold, std::string(), false, Disposal::Trash);
}

void TRKMonItem::KeepLastVersions(int n)
{
    KeepVersions(n, std::string(), false);
}

void TRKMonItem::PruneVersions(double threshold, const std::string& keepName, bool cleanLeftovers,
                               Disposal how)
{
    const TMonItemRecord rec = Data();
    const std::string fileId = rec.FileID.Get();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(m_owner->BackupRoot(), fileId);
    const PrunePlan plan = PlanPruneBefore(base, threshold, rec.LastTime, keepName, cleanLeftovers);
    ApplyPrunePlan(plan, how);
    if (!plan.Newest.empty())
        UpdateData([&plan](TMonItemRecord& r) { r.LastVersionPath.Set(plan.Newest); });
}

void TRKMonItem::KeepVersions(int n, const std::string& keepName, bool cleanLeftovers)
{
    const std::string fileId = FileID();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(m_owner->BackupRoot(), fileId);
    ApplyPrunePlan(PlanKeepLast(base, n, keepName, cleanLeftovers));
}

void TRKMonItem::DeleteAllVersions()
{
    const std::string fileId = FileID();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(m_owner->BackupRoot(), fileId);
    std::string folder = base;
    while (folder.size() > 1 && folder.back() == kPathSep)
        folder.pop_back();
    // The whole history in one piece, so the user can take it back as it was. A backup
    // folder that is a link is never followed into the trash.
    std::error_code ec;
    if (!std::filesystem::is_symlink(folder, ec) && DirectoryExists(base) && MoveToTrash(folder))
        return;
    PrunePlan plan = PlanKeepLast(base, 0, std::string());
    plan.Folders.push_back(base);
    ApplyPrunePlan(plan);
}

bool TRKMonItem::CheckExists(bool show)
{
    if (!m_owner->Active())
        return false;
    const TMonItemRecord rec = Data();
    // An item that shows a write failure is still watched, so a later save can succeed.
    if (rec.MonStatus == msBroken && !WriteFailure())
        return false;
    const std::string path = rec.Path.Get();
    if (path == kDefaultSection)
        return true;
    const std::uint64_t load = m_owner->LoadNumber();
    // The load looked at every listed file at once; a retry looks again.
    const std::optional<FileStamp>* looked = load != 0 ? m_owner->LookedAtLoad(path) : nullptr;
    auto present = [&] {
        if (rec.IsFolder)
            return DirectoryExists(path);
        if (load == 0)
            return FileExists(path);
        std::optional<FileStamp> stamp = looked ? *std::exchange(looked, nullptr) : StampOf(path);
        const bool file = stamp.has_value();
        std::lock_guard lock(m_mutex);
        m_loadStamp = std::move(stamp);
        m_loadStampLoad = load;
        return file;
    };
    bool found = present();
    // A file on a share or drive that is not there now is not marked broken.
    if (!found && !rec.IsFolder && !DirectoryExists(FolderPart(path)))
        return true;
    if (!found && m_owner->DeferPresence(*this))
        return false; // looked for off the main thread: no verdict yet, nothing changed
    for (int wait = 0; !found && wait < PresenceRetry::kWaits; ++wait) {
        if (!WaitRetry())
            return false; // the thread is ending: no verdict, nothing changed
        found = present();
    }
    // This verdict is the one that counts; a later one from the load's search is dropped.
    m_presencePending.store(false);
    if (found)
        return true;
    ReportBroken(show);
    return false;
}

void TRKMonItem::SettlePresence(bool found)
{
    if (Removed() || !m_presencePending.exchange(false) || !m_owner->Active())
        return;
    if (!found) {
        ReportBroken(false, false);
        return;
    }
    if (!Monitored())
        return; // switched off meanwhile: stays off
    UpdateData([](TMonItemRecord& r) { r.Monitored = false; });
    Start();
    if (IsFolder() && Monitored())
        ResumeWatch();
}

void TRKMonItem::ReportBroken(bool show, bool save)
{
    Stop();
    UpdateData([this](TMonItemRecord& r) {
        r.MonStatus = msBroken;
        m_writeFailure = 0; // broken for good now, not by a write failure
    });
    if (save)
        Save();
    SharedBlock* block = m_owner->Block();
    // A running monitor is told whoever sent the last request: the marker of the
    // monitor's requests stays set for the block's life, so testing it would keep every
    // later "missing" from the monitor, whose row then showed the item active.
    if (block && block->MonitorRunning)
        m_owner->PostToMonitor(MsgStop, Data(), 1);
    EngineHost* host = m_owner->Host();
    if (!show || !host)
        return;
    const std::string text = Path() + " " + (block ? block->Text(TxtMesBrokenFile) : std::string());
    m_owner->MainThread().Synchronize([host, text] {
        host->ShowMainWindow();
        host->BringMainWindowToFront();
        host->ShowMessage(BoxKind::Warning, text, BoxButtons::Ok);
        host->HideMainWindow();
    });
}

void TRKMonItem::Start()
{
    if (!Monitored() && CheckExists(true)) {
        UpdateData([](TMonItemRecord& r) {
            r.Monitored = true;
            r.MonStatus = msActive;
        });
    }
}

void TRKMonItem::Stop()
{
    bool wasMonitored = false;
    UpdateData([&wasMonitored](TMonItemRecord& r) {
        if (!r.Monitored)
            return;
        wasMonitored = true;
        r.Monitored = false;
        r.MonStatus = msDisabled;
    });
    if (wasMonitored)
        DropWatch();
}

void TRKMonItem::Reassign(const std::string& newPath)
{
    m_owner->ReassignItem(*this, newPath);
}

} // namespace morvane
