#include "engine/TRKMonItem.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/PresenceRetry.h"
#include "engine/SharedBlock.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItems.h"
#include "engine/VersionStore.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace morvane {

namespace {

// One millisecond as a fraction of a day: dates closer than this count as equal.
constexpr double kOneMs = 1.0 / (24.0 * 60 * 60 * 1000);
// A file that cannot be read is tried this often, kRetryWait apart (about five seconds).
constexpr int kReadAttempts = 50;
// A file that keeps changing while it is copied: copies per call, and calls.
constexpr int kCopiesPerCall = 3;
constexpr int kChangedCalls = 2;
constexpr auto kRetryWait = std::chrono::milliseconds(100);

// Resets the busy flag on every way out of MakeVersion, exceptions included.
class BusyReset
{
public:
    explicit BusyReset(std::atomic<bool>& busy) : m_busy(busy) {}
    ~BusyReset() { m_busy.store(false); }
    BusyReset(const BusyReset&) = delete;
    BusyReset& operator=(const BusyReset&) = delete;

private:
    std::atomic<bool>& m_busy;
};

bool SamePath(const ShortText& a, const ShortText& b)
{
    return a.Len == b.Len && std::memcmp(a.Chars, b.Chars, a.Len) == 0;
}

// Sleeps one retry step unless the calling thread is asked to stop; false then.
bool WaitRetry()
{
    if (MainThreadCalls::StopRequested())
        return false;
    std::this_thread::sleep_for(kRetryWait);
    return !MainThreadCalls::StopRequested();
}

} // namespace

TRKMonItem::TRKMonItem(TRKMonItems& owner) : m_owner(&owner), m_data(EmptyItemRecord()) {}

TRKMonItem::~TRKMonItem() = default;

std::shared_ptr<TRKMonItem> TRKMonItem::Create(const std::string& path, TRKMonItems& owner)
{
    std::shared_ptr<TRKMonItem> item(new TRKMonItem(owner));
    item->UpdateData([&](TMonItemRecord& r) {
        SetRecordPath(r, path);
        r.IsFolder = false;
    });
    item->Load();
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
        moved = !SamePath(m_data.Path, record.Path);
        m_data = record;
    }
    if (moved)
        m_owner->PathChanged(*this);
}

void TRKMonItem::UpdateData(const std::function<void(TMonItemRecord&)>& change)
{
    bool moved = false;
    {
        std::lock_guard lock(m_mutex);
        const ShortText before = m_data.Path;
        change(m_data);
        moved = !SamePath(before, m_data.Path);
    }
    // The owner's lock is taken after the item's is released: the owner reads item paths
    // under its own lock.
    if (moved)
        m_owner->PathChanged(*this);
}

std::string TRKMonItem::Path() const
{
    std::lock_guard lock(m_mutex);
    return m_data.Path.Get();
}

std::string TRKMonItem::FileID() const
{
    std::lock_guard lock(m_mutex);
    return m_data.FileID.Get();
}

bool TRKMonItem::IsFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_data.IsFolder;
}

bool TRKMonItem::Monitored() const
{
    std::lock_guard lock(m_mutex);
    return m_data.Monitored;
}

TMonStatus TRKMonItem::MonStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_data.MonStatus;
}

double TRKMonItem::LastTime() const
{
    std::lock_guard lock(m_mutex);
    return m_data.LastTime;
}

std::string TRKMonItem::LastVersionPath() const
{
    std::lock_guard lock(m_mutex);
    return m_data.LastVersionPath.Get();
}

void TRKMonItem::Load()
{
    TMonItemRecord record = Data();
    ReadItemRecord(record, Owner().ListFile(), Owner().BackupRoot());
    SetData(record);
    if (record.Path.Get() != kDefaultSection)
        CheckExists(false);
    // An item still looked for is restarted when it is found.
    if (Monitored() && Owner().Active() && !PresencePending()) {
        UpdateData([](TMonItemRecord& r) { r.Monitored = false; });
        Start();
    }
}

void TRKMonItem::Save()
{
    // A removed item must not bring its section back (a scan may still hold it).
    if (Removed())
        return;
    // The active engine writes the list behind; the passive one writes at once.
    const bool active = Owner().Active();
    Owner().ListWriter().Save(shared_from_this(), active);
    if (!active)
        Owner().FlushList();
}

std::optional<bool> TRKMonItem::AskOnMainThread(const std::string& text)
{
    EngineHost* host = Owner().Host();
    if (!host)
        return std::nullopt;
    auto answer = std::make_shared<std::optional<bool>>();
    const bool ran = Owner().MainThread().Synchronize([host, text, answer] {
        const BoxAnswer pressed = host->ShowMessage(BoxKind::Confirmation, text, BoxButtons::YesNo);
        host->HideMainWindow();
        *answer = pressed == BoxAnswer::Yes;
    });
    if (!ran)
        return std::nullopt;
    return *answer;
}

bool TRKMonItem::MakeVersion(bool force)
{
    if (IsFolder())
        return false;
    if (m_busy.exchange(true))
        return false;
    BusyReset busyReset(m_busy);
    if (Removed())
        return false;

    const TMonItemRecord rec = Data();
    const std::string path = rec.Path.Get();
    if (!FileExists(path))
        return false;
    const std::optional<double> fileDate = FileDate(path);
    if (!fileDate)
        return false;
    const double d = *fileDate;
    // A version made from a watch thread is reported later, on the main thread, which is
    // when LastTime moves; until then the date of that version stands for it, or a rescan
    // in between would store the same state of the file twice.
    // Both are read in one step: a report running meanwhile moves the date from one to
    // the other, and a LastTime read before it would look like no version was made.
    double lastTime = 0;
    {
        std::lock_guard lock(m_mutex);
        lastTime = m_madeDate ? *m_madeDate : m_data.LastTime;
    }
    if (d == lastTime)
        return false;

    if (rec.MonMode == mmInterval && !force) {
        const double elapsed = d - lastTime;
        const double interval = rec.MonModeInterval - kZeroDuration;
        if (interval - elapsed > kOneMs)
            return false;
    }

    if (rec.MonMode == mmNumber) {
        int count = 0;
        UpdateData([&count](TMonItemRecord& r) {
            ++r.MonModeNumberCount;
            if (r.MonModeNumberCount >= r.MonModeNumber)
                r.MonModeNumberCount = 0;
            count = r.MonModeNumberCount;
        });
        Save();
        if (count > 0 && !force)
            return false;
    }

    if (rec.MonModeConfirmation && !force) {
        SharedBlock* block = Owner().Block();
        const std::string question =
            (block ? block->Text(TxtMesConfirmation) : std::string()) + " '" + NamePart(path) + "' ?";
        const std::optional<bool> yes = AskOnMainThread(question);
        if (!yes)
            return false; // nobody answered (the thread is ending): ask again next time
        if (!*yes) {
            // The same state of the file is not asked about again.
            UpdateData([d](TMonItemRecord& r) { r.LastTime = d; });
            return false;
        }
    }

    const std::string fileId = rec.FileID.Get();
    if (!IsPlainFolderName(fileId))
        return false;
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);

    const std::string last = LastVersionPath();
    if (!force && !last.empty()) {
        // A last version that has gone (or cannot be read) counts as different.
        if (rec.MonModeCompare) {
            const std::optional<bool> equal = FilesEqual(path, last);
            if (equal && *equal)
                return false;
        }
        if (rec.MonModeSize) {
            std::error_code ec1;
            std::error_code ec2;
            const auto lastSize = std::filesystem::file_size(last, ec1);
            const auto size = std::filesystem::file_size(path, ec2);
            if (!ec1 && !ec2 && lastSize == size)
                return false;
        }
    }

    int nameCount = 0;
    int versionNum = 0;
    UpdateData([&](TMonItemRecord& r) {
        nameCount = ++r.NameModeNumberCount;
        versionNum = r.VersionNum;
    });
    // Numbering moves past every version folder that exists, so nothing is overwritten
    // and the newest version is always the highest-numbered one.
    const std::optional<VersionFolder> made = CreateNextVersionFolder(base, versionNum);
    const int usedNum = made ? made->Number : versionNum + 1;
    UpdateData([usedNum](TMonItemRecord& r) { r.VersionNum = std::max(r.VersionNum, usedNum); });
    if (!made)
        return false;

    const std::string target =
        made->Path + kPathSep + VersionFileName(NamePart(path), rec.NameMode, nameCount, d);
    CopyStatus status = CopyStatus::SourceUnreadable;
    int changedCopies = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        status = CopyFileSafely(path, target, kCopiesPerCall).Status;
        if (status == CopyStatus::Changed && ++changedCopies >= kChangedCalls)
            break;
        if (status != CopyStatus::SourceUnreadable && status != CopyStatus::Changed)
            break;
        if (!WaitRetry())
            break;
    }
    if (status != CopyStatus::Ok) {
        std::error_code ec;
        std::filesystem::remove(made->Path, ec); // only when empty: never a version
        const bool unreadable = status == CopyStatus::SourceMissing || status == CopyStatus::NotRegular ||
                                (status == CopyStatus::SourceUnreadable && !MainThreadCalls::StopRequested());
        if (unreadable)
            UpdateData([](TMonItemRecord& r) { r.MonStatus = msBroken; });
        return false;
    }

    const double versionDate = FileDate(target).value_or(d);
    if (Removed()) {
        // Removed while it was copied: its history is gone, so is this version.
        std::error_code ec;
        std::filesystem::remove(target, ec);
        std::filesystem::remove(made->Path, ec);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_data.LastVersionPath.Set(target);
        m_madeDate = versionDate;
    }

    const std::string keep = VersionFolderName(made->Number);
    if (rec.DelMode == dmInterval)
        PruneVersions(Now() - (rec.DelModeInterval - kZeroDuration), keep);
    else if (rec.DelMode == dmNumber)
        KeepVersions(rec.DelModeNumber, keep);
    return true;
}

void TRKMonItem::AfterVersion(bool force)
{
    if (IsFolder())
        return;
    EngineHost* host = Owner().Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), force, alive = Owner().AliveToken()] {
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
        if (made)
            m_data.LastTime = *made;
    }
    double d = 0;
    bool changed = false;
    if (made) {
        d = *made;
        changed = d != rec.LastTime;
    } else {
        // No version was made: only a forced make of an unchanged file is reported.
        const std::optional<double> now = FileDate(rec.Path.Get());
        if (!now || *now != rec.LastTime)
            return;
        d = *now;
    }
    if (!changed && !force)
        return;

    SharedBlock* block = Owner().Block();
    if (host) {
        host->SetBalloonTitle(block ? block->Text(changed ? TxtMesNewVersion : TxtMesExistsVersion)
                                    : std::string());
        host->SetBalloonText(NamePart(rec.LastVersionPath.Get()));
    }
    if (block && block->MonitorRunning)
        Owner().PostToMonitor(MsgVersion, Data(), 0);
    if (host && block && block->Settings.ShowBaloon)
        host->ShowBalloon();
    UpdateData([d](TMonItemRecord& r) { r.LastTime = d; });
    Save();
}

void TRKMonItem::DeleteVersionsBefore(double threshold)
{
    // The user's command: what it removes can be taken back from the trash.
    PruneVersions(threshold, std::string(), Disposal::Trash);
}

void TRKMonItem::KeepLastVersions(int n)
{
    KeepVersions(n, std::string());
}

void TRKMonItem::PruneVersions(double threshold, const std::string& keepName, Disposal how)
{
    const TMonItemRecord rec = Data();
    const std::string fileId = rec.FileID.Get();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);
    const PrunePlan plan = PlanPruneBefore(base, threshold, rec.LastTime, keepName);
    ApplyPrunePlan(plan, how);
    if (!plan.Newest.empty())
        UpdateData([&plan](TMonItemRecord& r) { r.LastVersionPath.Set(plan.Newest); });
}

void TRKMonItem::KeepVersions(int n, const std::string& keepName)
{
    const std::string fileId = FileID();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);
    ApplyPrunePlan(PlanKeepLast(base, n, keepName));
}

void TRKMonItem::DeleteAllVersions()
{
    const std::string fileId = FileID();
    if (!IsPlainFolderName(fileId))
        return;
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);
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
    if (!Owner().Active())
        return false;
    const TMonItemRecord rec = Data();
    if (rec.MonStatus == msBroken)
        return false;
    const std::string path = rec.Path.Get();
    if (path == kDefaultSection)
        return true;
    // A file on a share or drive that is not there now is not marked broken.
    if (!rec.IsFolder && !DirectoryExists(FolderPart(path)))
        return true;
    auto present = [&] {
        return rec.IsFolder ? DirectoryExists(path) : FileExists(path);
    };
    bool found = present();
    if (!found && Owner().DeferPresence(*this))
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
    if (Removed() || !m_presencePending.exchange(false) || !Owner().Active())
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
        static_cast<TRKMonFolder*>(this)->StartWatch();
}

void TRKMonItem::ReportBroken(bool show, bool save)
{
    Stop();
    UpdateData([](TMonItemRecord& r) { r.MonStatus = msBroken; });
    if (save)
        Save();
    SharedBlock* block = Owner().Block();
    if (block && block->MonitorRunning && block->RequestOrigin != kOriginMonitor)
        Owner().PostToMonitor(MsgStop, Data(), 1);
    EngineHost* host = Owner().Host();
    if (!show || !host)
        return;
    const std::string text = Path() + " " + (block ? block->Text(TxtMesBrokenFile) : std::string());
    Owner().MainThread().Synchronize([host, text] {
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

} // namespace morvane

namespace morvane {

void TRKMonItem::Reassign(const std::string& newPath)
{
    TRKMonItems::CheckPath(newPath);
    if (newPath == Path())
        return;
    const bool folder = IsFolder();
    if (folder != (newPath.back() == kPathSep))
        throw std::invalid_argument(folder ? "A folder's path must end with \"/\": " + newPath
                                           : "A file's path must not end with \"/\": " + newPath);
    if (folder)
        ReassignFolder(newPath);
    else
        ReassignFile(newPath);
}

void TRKMonItem::ReassignFolder(const std::string& newPath)
{
    TRKMonItems& owner = Owner();
    auto* self = static_cast<TRKMonFolder*>(this);
    const std::vector<std::shared_ptr<TRKMonItem>> members = self->Files();
    // Refuse before anything changes when a member's new path would not fit the record.
    for (const auto& member : members) {
        const std::string memberPath = newPath + NamePart(member->Path());
        if (!FitsShortText(memberPath))
            throw std::invalid_argument("The path is longer than 255 bytes and cannot be monitored: " +
                                        memberPath);
    }

    if (auto other = owner.FolderByPath(newPath); other && other.get() != this)
        owner.RemoveFolderItem(other);
    const std::string old = Path();
    UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
    const bool active = owner.Active();
    for (const auto& member : members) {
        if (active)
            owner.EraseSection(member->Path());
        member->UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath + NamePart(r.Path.Get())); });
        if (active)
            member->Save();
    }
    if (active) {
        owner.EraseSection(old);
        // A running watch follows the folder to its new place.
        if (self->WatchThread()) {
            self->EndWatch(true);
            self->StartWatch();
        }
    }
}

void TRKMonItem::ReassignFile(const std::string& newPath)
{
    TRKMonItems& owner = Owner();
    const std::string old = Path();
    if (auto other = owner.FileByPath(newPath); other && other.get() != this)
        owner.RemoveFileItem(other);

    const std::string newFolderPath = FolderPart(newPath);
    if (newFolderPath != FolderPart(old)) {
        if (auto oldFolder = owner.FolderByPath(FolderPart(old)))
            oldFolder->RemoveMember(this);
        std::shared_ptr<TRKMonFolder> folder = owner.FolderByPath(newFolderPath);
        if (!folder)
            folder = owner.MakeParentFolder(newFolderPath, nullptr);
        UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
        folder->AddFile(shared_from_this());
    }
    UpdateData([&](TMonItemRecord& r) { r.Path.Set(newPath); });
    if (owner.Active())
        owner.EraseSection(old);
}

} // namespace morvane
