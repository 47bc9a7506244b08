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
#include "platform/FileStamp.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace morvane {

namespace {

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

// The number of a version folder's all-digit name, INT_MAX for one beyond it.
int VersionNumberOf(const std::string& name)
{
    long long n = 0;
    for (const char c : name) {
        n = n * 10 + (c - '0');
        if (n >= INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(n);
}

// N of a version file named "base(v N).ext" after fileName, 0 for any other name.
int NumberInVersionName(const std::string& fileName, const std::string& versionName)
{
    const std::string frame = VersionFileName(fileName, nmVersionNumber, 0, 0);
    const std::size_t at = frame.rfind("(v 0)");
    if (at == std::string::npos)
        return 0;
    const std::string head = frame.substr(0, at + 3);
    const std::string tail = frame.substr(at + 4);
    if (versionName.size() <= head.size() + tail.size() || versionName.compare(0, head.size(), head) != 0 ||
        versionName.compare(versionName.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    const std::string digits =
        versionName.substr(head.size(), versionName.size() - head.size() - tail.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoi(digits);
}

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

// Packed once: every item starts from it.
const PackedItemRecord& PackedEmptyRecord()
{
    static const PackedItemRecord empty(EmptyItemRecord());
    return empty;
}

} // namespace

TRKMonItem::TRKMonItem(TRKMonItems& owner) : m_owner(&owner), m_data(PackedEmptyRecord()) {}

TRKMonItem::TRKMonItem(TRKMonItems& owner, const TMonItemRecord& record) : m_owner(&owner), m_data(record) {}

TRKMonItem::~TRKMonItem() = default;

std::shared_ptr<TRKMonItem> TRKMonItem::Create(const std::string& path, TRKMonItems& owner)
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
    else if (IniFile* list = Owner().LoadReader())
        ReadItemRecord(record, *list, Owner().BackupRoot());
    else
        ReadItemRecord(record, Owner().ListFile(), Owner().BackupRoot());
    SetData(record);
    const bool present = record.Path.Get() == kDefaultSection || CheckExists(false);
    // Restarted on the presence test just made (a missing item is stopped by it); an item
    // still looked for is restarted when it is found.
    if (Monitored() && Owner().Active() && !PresencePending()) {
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

VersionFacts TRKMonItem::GatherFacts(const TMonItemRecord& rec, bool force)
{
    VersionFacts f;
    f.Mode = rec.MonMode;
    f.ModeInterval = rec.MonModeInterval;
    f.ModeNumber = rec.MonModeNumber;
    f.ModeNumberCount = rec.MonModeNumberCount;
    f.Confirmation = rec.MonModeConfirmation;
    f.SizeOnly = rec.MonModeSize;
    f.ContentCompare = rec.MonModeCompare;
    f.Force = force;
    const std::string path = rec.Path.Get();
    std::optional<FileStamp> loaded;
    {
        std::lock_guard lock(m_mutex);
        if (m_loadStampLoad != 0 && m_loadStampLoad == Owner().LoadNumber())
            loaded = m_loadStamp;
        m_loadStamp.reset();
        m_loadStampLoad = 0;
    }
    f.File = loaded ? loaded : StampOf(path);
    if (f.File)
        f.FileDate = FileDateOfNs(f.File->MtimeNs);
    std::string last;
    std::string found;
    {
        std::lock_guard lock(m_mutex);
        // A version made from a watch thread is reported later, on the main thread, which
        // is when LastTime moves; until then the date of that version stands for it.
        // Both read in one step: a report running meanwhile moves the date from one to
        // the other.
        f.LastTime = m_madeDate ? *m_madeDate : m_data.LastTime();
        f.Declined = m_declined;
        last = m_data.LastVersionPath().Get();
        found = m_foundVersion;
    }
    if (!last.empty())
        f.LastVersion = StampOf(last);
    // The comparisons hold after a start too: a file written with its last version's
    // bytes while the agent was off is no new state.
    f.LastVersionCompared = true;
    if (f.LastVersion) {
        f.LastVersionPath = last;
        return f;
    }
    // After a start, or when the last version was deleted by hand: the newest version
    // stored, looked up once and then kept.
    if (!found.empty())
        f.LastVersion = StampOf(found);
    const std::string fileId = rec.FileID.Get();
    if (!f.LastVersion && IsPlainFolderName(fileId)) {
        // While a backup move is unfinished the item's versions may lie in both folders,
        // the newest in either.
        std::vector<std::string> bases;
        if (Owner().MayHoldVersions(fileId))
            bases.push_back(ItemBackupFolder(Owner().BackupRoot(), fileId));
        if (const std::string moveTo = Owner().MoveTarget(); !moveTo.empty())
            bases.push_back(ItemBackupFolder(moveTo, fileId));
        std::vector<VersionEntry> versions;
        std::string newestName;
        found.clear();
        for (const std::string& base : bases) {
            std::vector<VersionEntry> listed = ListVersionFolders(base);
            if (listed.empty())
                continue;
            const VersionEntry& newest = listed.back();
            if (found.empty() || VersionNameLess(newestName, newest.Name)) {
                newestName = newest.Name;
                found = base + newest.Name + kPathSep + newest.Files.front().Name;
            }
            versions.insert(versions.end(), std::make_move_iterator(listed.begin()),
                            std::make_move_iterator(listed.end()));
        }
        // A version a stopped move copied before its source went is there twice: one version.
        std::sort(versions.begin(), versions.end(), [](const VersionEntry& a, const VersionEntry& b) {
            return VersionNameLess(a.Name, b.Name);
        });
        versions.erase(std::unique(versions.begin(), versions.end(),
                                   [](const VersionEntry& a, const VersionEntry& b) {
                                       return VersionNumberOf(a.Name) == VersionNumberOf(b.Name);
                                   }),
                       versions.end());
        if (!found.empty())
            f.LastVersion = StampOf(found);
        bool caughtUp = false;
        {
            std::lock_guard lock(m_mutex);
            m_foundVersion = f.LastVersion ? found : std::string();
            if (f.LastVersion && !m_madeDate &&
                CatchUpLocked(versions, NamePart(found), FileDateOfNs(f.LastVersion->MtimeNs))) {
                caughtUp = true;
                f.LastTime = m_data.LastTime();
                f.ModeNumberCount = TMonItemRecord(m_data).MonModeNumberCount;
            }
        }
        if (caughtUp) {
            Log("the record of " + rec.Path.Get() + " was behind its stored versions; it now goes on from " +
                found);
            Save();
        }
    }
    if (f.LastVersion)
        f.LastVersionPath = found;
    return f;
}

bool TRKMonItem::CatchUpLocked(const std::vector<VersionEntry>& versions, const std::string& newestName,
                               double newestDate)
{
    TMonItemRecord r = m_data;
    int behind = 0;
    int newest = r.VersionNum;
    for (const VersionEntry& v : versions) {
        const int number = VersionNumberOf(v.Name);
        if (number > r.VersionNum) {
            ++behind;
            newest = std::max(newest, number);
        }
    }
    if (behind == 0)
        return false;
    // The versions the list does not know of were made after its last write: numbering,
    // the change test and the counters go on from the newest of them.
    r.VersionNum = newest;
    const long long counted = static_cast<long long>(std::max(r.NameModeNumberCount, 0)) + behind;
    r.NameModeNumberCount = static_cast<int>(std::min<long long>(counted, INT_MAX - 1));
    const int named = NumberInVersionName(NamePart(r.Path.Get()), newestName);
    r.NameModeNumberCount = std::max(r.NameModeNumberCount, named);
    // A version of the mode "every n-th change" is made when its counter comes round to 0.
    if (r.MonMode == mmNumber)
        r.MonModeNumberCount = 0;
    r.LastTime = std::max(r.LastTime, newestDate);
    m_data = r;
    return true;
}

VersionResult TRKMonItem::MakeVersion(bool force)
{
    using O = VersionOutcome;
    if (IsFolder())
        return {O::NotDue};
    // A forced version asked for while another thread versions this item is made by that
    // thread when its attempt ends, never dropped.
    if (force)
        m_forceWanted.store(true);
    if (m_busy.exchange(true))
        return {O::NotDue};
    VersionResult result{O::NotDue};
    for (bool first = true;; first = false) {
        VersionResult attempt{O::NotDue};
        const bool forced = m_forceWanted.exchange(false);
        {
            BusyReset busyReset(m_busy);
            attempt = MakeVersionOnce(forced);
        }
        // Asked for: whoever asked is answered, also when this thread took the request over.
        if (forced && attempt.Outcome == O::Changing)
            ReportChanging();
        if (first || attempt.Outcome == O::Made || attempt.Outcome == O::WriteFailed)
            result = attempt;
        // A request that came in during the attempt is ours only if no one else took it.
        if (!m_forceWanted.load() || m_busy.exchange(true))
            return result;
    }
}

VersionResult TRKMonItem::MakeVersionOnce(bool force)
{
    using O = VersionOutcome;
    if (Removed())
        return {O::NotDue};

    const TMonItemRecord rec = Data();
    const std::string path = rec.Path.Get();
    const VersionFacts facts = GatherFacts(rec, force);
    const VersionDecision decision = DecideVersion(facts);
    if (decision.ModeNumberCount) {
        UpdateData([&decision](TMonItemRecord& r) { r.MonModeNumberCount = *decision.ModeNumberCount; });
        Save();
    }
    if (decision.Outcome != O::Made)
        return {decision.Outcome, decision.Outcome == O::SourceGone ? ENOENT : 0};

    if (decision.Ask) {
        SharedBlock* block = Owner().Block();
        const std::string question =
            (block ? block->Text(TxtMesConfirmation) : std::string()) + " '" + NamePart(path) + "' ?";
        const std::optional<bool> yes = AskOnMainThread(question);
        if (!yes)
            return {O::Unanswered}; // the thread is ending: ask again next time
        if (!*yes) {
            // The same state of the file is not asked about again.
            std::lock_guard lock(m_mutex);
            m_declined = facts.File;
            TMonItemRecord r = m_data;
            r.LastTime = facts.FileDate;
            m_data = r;
            return {O::Declined};
        }
    }

    // A last version that has gone (or cannot be read) counts as different.
    const bool compare = decision.Compare || decision.CompareSize;
    return CopyVersion(rec, facts.FileDate, compare ? facts.LastVersionPath : std::string(),
                       decision.CompareSize);
}

VersionResult TRKMonItem::CopyVersion(const TMonItemRecord& rec, double d, const std::string& compareWith,
                                      bool sizeOnly)
{
    using O = VersionOutcome;
    const std::string path = rec.Path.Get();
    const std::string fileId = rec.FileID.Get();
    if (!IsPlainFolderName(fileId))
        return {O::WriteFailed, EINVAL};
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);

    // The counters move only when the version is there: a failed attempt uses up no number.
    const TMonItemRecord now = Data();
    const int nameCount =
        now.NameModeNumberCount < 0 || now.NameModeNumberCount == INT_MAX ? 1 : now.NameModeNumberCount + 1;
    // Numbering moves past every version folder that exists, so nothing is overwritten
    // and the newest version is always the highest-numbered one.
    // While a backup move is unfinished the item's older versions may lie in the other
    // folder: a number used there is not used again here.
    int floor = now.VersionNum;
    if (const std::string moveTo = Owner().MoveTarget(); !moveTo.empty())
        floor = std::max(floor, HighestVersionNumber(ItemBackupFolder(moveTo, fileId)));
    int folderError = 0;
    const std::optional<VersionFolder> made = CreateNextVersionFolder(base, floor, &folderError);
    if (!made) {
        if (folderError == EOVERFLOW) {
            // Every number is used: the item cannot be versioned any more.
            Log("no version number is left for " + path + ": monitoring it stops");
            Stop();
        }
        return {O::WriteFailed, folderError};
    }

    const std::string target =
        made->Path + kPathSep + VersionFileName(NamePart(path), rec.NameMode, nameCount, d);
    CopyResult result;
    result.Status = CopyStatus::SourceUnreadable;
    int changedCopies = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        CopyOptions options;
        options.MaxAttempts = kCopiesPerCall;
        options.CompareWith = compareWith;
        options.SizeOnly = sizeOnly;
        options.Mode = kVersionFileMode;
        options.Staging = AtomicFile::Staging::Unnamed;
        result = CopyFileSafely(path, target, options);
        if (result.Status == CopyStatus::Changed && ++changedCopies >= kChangedCalls)
            break;
        if (result.Status != CopyStatus::SourceUnreadable && result.Status != CopyStatus::Changed)
            break;
        if (!WaitRetry())
            break;
    }
    if (result.Status != CopyStatus::Ok) {
        std::error_code ec;
        std::filesystem::remove(made->Path, ec); // only when empty: never a version
        switch (result.Status) {
        case CopyStatus::WriteFailed:
            return {O::WriteFailed, result.Error};
        case CopyStatus::TargetExists:
            return {O::WriteFailed, EEXIST};
        case CopyStatus::Changed:
            return {O::Changing}; // still being written: the next change tries again
        case CopyStatus::Same:
            return {O::Unchanged};
        case CopyStatus::SourceUnreadable:
            if (MainThreadCalls::StopRequested())
                return {O::NotDue};
            [[fallthrough]];
        default:
            UpdateData([](TMonItemRecord& r) { r.MonStatus = msBroken; });
            return {O::SourceGone, result.Error ? result.Error : ENOENT};
        }
    }

    const double versionDate = FileDateOfNs(result.ModTimeNs);
    if (Removed()) {
        // Removed while it was copied: its history is gone, so is this version.
        std::error_code ec;
        std::filesystem::remove(target, ec);
        std::filesystem::remove(made->Path, ec);
        return {O::NotDue};
    }
    {
        std::lock_guard lock(m_mutex);
        TMonItemRecord r = m_data;
        r.LastVersionPath.Set(target);
        r.VersionNum = std::max(r.VersionNum, made->Number);
        r.NameModeNumberCount = nameCount;
        m_madeDate = versionDate;
        m_declined.reset();
        m_foundVersion.clear();
        if (m_writeFailure) {
            // Versions are made again: the item no longer shows the failure.
            m_writeFailure = 0;
            if (r.MonStatus == msBroken)
                r.MonStatus = r.Monitored ? msActive : msDisabled;
        }
        m_data = r;
    }

    // The copy is over, so what else lies in the item's folder under a temporary name is
    // the leftover of an interrupted one.
    const std::string keep = VersionFolderName(made->Number);
    if (rec.DelMode == dmInterval)
        PruneVersions(Now() - (rec.DelModeInterval - kZeroDuration), keep, true);
    else if (rec.DelMode == dmNumber && made->Stored > std::max(rec.DelModeNumber, 1))
        ApplyPrunePlan(PlanKeepLast(base, std::max(rec.DelModeNumber, 1), keep, true));
    // (No more folders than are kept: none is a version too many, and the leftovers of
    // a killed copy, each in a folder of its own, wait for the next pruning or start.)
    return {O::Made};
}

void TRKMonItem::ReportWriteFailure(int error)
{
    EngineHost* host = Owner().Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), error, alive = Owner().AliveToken()] {
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
    SharedBlock* block = Owner().Block();
    if (block && block->MonitorRunning)
        Owner().PostToMonitor(MsgVersion, Data(), 0);
}

void TRKMonItem::ReportChanging()
{
    EngineHost* host = Owner().Host();
    if (host && !host->IsMainThread()) {
        host->PostToMainThread([self = shared_from_this(), alive = Owner().AliveToken()] {
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
    SharedBlock* block = Owner().Block();
    if (block && block->MonitorRunning)
        Owner().PostToMonitor(MsgVersion, Data(), 0);
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
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);
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
    const std::string base = ItemBackupFolder(Owner().BackupRoot(), fileId);
    ApplyPrunePlan(PlanKeepLast(base, n, keepName, cleanLeftovers));
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
    // An item that shows a write failure is still watched, so a later save can succeed.
    if (rec.MonStatus == msBroken && !WriteFailure())
        return false;
    const std::string path = rec.Path.Get();
    if (path == kDefaultSection)
        return true;
    const std::uint64_t load = Owner().LoadNumber();
    // The load looked at every listed file at once; a retry looks again.
    const std::optional<FileStamp>* looked = load != 0 ? Owner().LookedAtLoad(path) : nullptr;
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
    UpdateData([this](TMonItemRecord& r) {
        r.MonStatus = msBroken;
        m_writeFailure = 0; // broken for good now, not by a write failure
    });
    if (save)
        Save();
    SharedBlock* block = Owner().Block();
    // A running monitor is told whoever sent the last request: the marker of the
    // monitor's requests stays set for the block's life, so testing it would keep every
    // later "missing" from the monitor, whose row then showed the item active.
    if (block && block->MonitorRunning)
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
