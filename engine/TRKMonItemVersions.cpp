// The making of versions: the facts and the decision, the copy, its naming and
// recording, and the copies of several items staged to share their flushes.
#include "engine/ItemOwner.h"
#include "engine/ItemRecordIO.h"
#include "engine/MainThreadCalls.h"
#include "engine/SharedBlock.h"
#include "engine/TRKMonItem.h"
#include "engine/VersionStore.h"
#include "platform/FileCopy.h"
#include "platform/FileStamp.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace morvane {

namespace {

// A file that cannot be read is tried this often, a WaitRetry apart (about five seconds).
constexpr int kReadAttempts = 50;
// A file that keeps changing while it is copied: copies per call, and calls.
constexpr int kCopiesPerCall = 3;
constexpr int kChangedCalls = 2;
// Versions made together share their flushes. A group stays small, so the first versions
// of a burst are not held back by the last, and so are the files it holds open.
constexpr std::size_t kGroupFiles = 128;
constexpr std::int64_t kGroupBytes = 64 << 20;
constexpr auto kGroupTime = std::chrono::milliseconds(250);

// Copies staged by every thread of the process. Each holds two descriptors until its
// group is done; all of them together take at most a quarter of the process's limit, so
// several folders taking in files at once never run out of descriptors.
std::atomic<std::size_t> g_stagedCopies{0};

std::size_t StagedCopiesAllowed()
{
    static const std::size_t allowed = [] {
        rlimit limit = {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return kGroupFiles;
        return std::max<std::size_t>(4, static_cast<std::size_t>(limit.rlim_cur) / 8);
    }();
    return allowed;
}

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

} // namespace

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
        if (m_loadStampLoad != 0 && m_loadStampLoad == m_owner->LoadNumber())
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
        if (m_owner->MayHoldVersions(fileId))
            bases.push_back(ItemBackupFolder(m_owner->BackupRoot(), fileId));
        if (const std::string moveTo = m_owner->MoveTarget(); !moveTo.empty())
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

void TRKMonItem::MakeVersions(const std::vector<std::shared_ptr<TRKMonItem>>& items, const VersionDone& done)
{
    using O = VersionOutcome;
    struct Attempt
    {
        std::shared_ptr<TRKMonItem> Item;
        VersionResult Result{O::NotDue};
        std::unique_ptr<StagedVersion> Staged; // while its version waits for the group's flush
        bool Held = false;                     // this call holds the item's busy flag
    };
    std::vector<Attempt> group;
    std::size_t staged = 0;
    std::int64_t bytes = 0;
    auto firstStaged = std::chrono::steady_clock::now();

    // The group's copies are made durable before any gets its name, and the names before
    // any version is recorded; a copy that cannot be made durable is no version.
    auto finishGroup = [&] {
        std::vector<Attempt*> waiting;
        for (Attempt& a : group) {
            if (a.Staged)
                waiting.push_back(&a);
        }
        // A copy given up on goes with its folder, named or not.
        auto fail = [](Attempt& a, int err, bool named) {
            a.Staged->File.Discard();
            std::error_code ec;
            if (named)
                std::filesystem::remove(a.Staged->Target, ec);
            std::filesystem::remove(a.Staged->Folder.Path, ec); // only when empty
            a.Result = {O::WriteFailed, err};
            a.Staged.reset();
        };
        if (waiting.size() == 1) {
            Attempt& a = *waiting.front();
            if (const int err = a.Item->NameVersion(*a.Staged, true)) {
                a.Result = {O::WriteFailed, err};
                a.Staged.reset();
            }
        } else if (!waiting.empty()) {
            FileSystemFlush systems;
            int err = 0;
            for (Attempt* a : waiting)
                err = err ? err : systems.Add(a->Staged->File.Fd());
            if (err || systems.Flush() != 0) {
                // One by one then, and only the copies that made it are named.
                for (Attempt* a : waiting) {
                    if (::fsync(a->Staged->File.Fd()) != 0)
                        fail(*a, errno, false);
                }
            }
            for (Attempt* a : waiting) {
                if (!a->Staged)
                    continue;
                if (const int named = a->Item->NameVersion(*a->Staged, false)) {
                    a->Result = {O::WriteFailed, named};
                    a->Staged.reset();
                }
            }
            if (err || systems.Flush() != 0) {
                for (Attempt* a : waiting) {
                    if (!a->Staged)
                        continue;
                    const OwnedFd folder(
                        ::open(a->Staged->Folder.Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                    if (!folder.Valid() || ::fsync(folder.Get()) != 0)
                        fail(*a, errno, true);
                }
            }
        }
        for (Attempt* a : waiting) {
            if (a->Staged)
                a->Result = a->Item->RecordVersion(*a->Staged);
            a->Staged.reset();
        }
        std::vector<Attempt> finished;
        finished.swap(group);
        g_stagedCopies -= staged;
        staged = 0;
        bytes = 0;
        for (Attempt& a : finished) {
            if (a.Held)
                a.Item->m_busy.store(false);
        }
        for (Attempt& a : finished) {
            // A forced version asked for meanwhile is made now, as MakeVersion makes it.
            if (std::exchange(a.Held, false) && a.Item->m_forceWanted.load()) {
                const VersionResult again = a.Item->MakeVersion(false);
                if (again || again.Outcome == O::WriteFailed || a.Result.Outcome != O::Made)
                    a.Result = again;
            }
            done(a.Item, a.Result);
        }
    };

    try {
        for (const std::shared_ptr<TRKMonItem>& item : items) {
            group.emplace_back().Item = item;
            // A stop is honoured between files; what is staged is still finished.
            if (MainThreadCalls::StopRequested() || item->IsFolder())
                continue;
            // A question may keep this attempt waiting on the user: the versions staged
            // before it are not.
            if (staged > 0 && item->Data().MonModeConfirmation) {
                group.pop_back();
                finishGroup();
                group.emplace_back().Item = item;
            }
            Attempt& a = group.back();
            if (item->m_busy.exchange(true))
                continue;
            a.Held = true;
            a.Staged = std::make_unique<StagedVersion>();
            try {
                a.Result = item->MakeVersionOnce(item->m_forceWanted.exchange(false), a.Staged.get());
            } catch (...) {
                a.Staged.reset();
                throw;
            }
            if (!a.Result) {
                a.Staged.reset();
                continue;
            }
            if (staged++ == 0)
                firstStaged = std::chrono::steady_clock::now();
            bytes += a.Staged->Bytes;
            const std::size_t everyThread = ++g_stagedCopies;
            if (staged >= kGroupFiles || bytes >= kGroupBytes || everyThread >= StagedCopiesAllowed() ||
                std::chrono::steady_clock::now() - firstStaged >= kGroupTime)
                finishGroup();
        }
    } catch (...) {
        finishGroup();
        throw;
    }
    finishGroup();
}

VersionResult TRKMonItem::MakeVersionOnce(bool force, StagedVersion* staged)
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
        SharedBlock* block = m_owner->Block();
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
                       decision.CompareSize, staged);
}

VersionResult TRKMonItem::CopyVersion(const TMonItemRecord& rec, double d, const std::string& compareWith,
                                      bool sizeOnly, StagedVersion* staged)
{
    using O = VersionOutcome;
    const std::string path = rec.Path.Get();
    const std::string fileId = rec.FileID.Get();
    if (!IsPlainFolderName(fileId))
        return {O::WriteFailed, EINVAL};
    const std::string base = ItemBackupFolder(m_owner->BackupRoot(), fileId);

    // The counters move only when the version is there: a failed attempt uses up no number.
    const TMonItemRecord now = Data();
    const int nameCount =
        now.NameModeNumberCount < 0 || now.NameModeNumberCount == INT_MAX ? 1 : now.NameModeNumberCount + 1;
    // Numbering moves past every version folder that exists, so nothing is overwritten
    // and the newest version is always the highest-numbered one.
    // While a backup move is unfinished the item's older versions may lie in the other
    // folder: a number used there is not used again here.
    int floor = now.VersionNum;
    if (const std::string moveTo = m_owner->MoveTarget(); !moveTo.empty())
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

    StagedVersion local;
    StagedVersion& stage = staged ? *staged : local;
    stage.Rec = rec;
    stage.Base = base;
    stage.Folder = *made;
    stage.Target = made->Path + kPathSep + VersionFileName(NamePart(path), rec.NameMode, nameCount, d);
    stage.NameCount = nameCount;
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
        options.Uncommitted = &stage.File;
        result = CopyFileSafely(path, stage.Target, options);
        if (result.Status == CopyStatus::Changed && ++changedCopies >= kChangedCalls)
            break;
        if (result.Status != CopyStatus::SourceUnreadable && result.Status != CopyStatus::Changed)
            break;
        if (!WaitRetry())
            break;
    }
    if (result.Status != CopyStatus::Ok) {
        stage.File.Discard();
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
    stage.ModTimeNs = result.ModTimeNs;
    stage.Bytes = result.Size;
    if (staged)
        return {O::Made};
    if (const int err = NameVersion(stage, true))
        return {O::WriteFailed, err};
    return RecordVersion(stage);
}

int TRKMonItem::NameVersion(StagedVersion& staged, bool flush)
{
    const int err =
        staged.File.Commit(AtomicFile::Placement::NoReplace, kVersionFileMode,
                           flush ? AtomicFile::Durability::AtCommit : AtomicFile::Durability::Deferred);
    if (err != 0) {
        std::error_code ec;
        std::filesystem::remove(staged.Folder.Path, ec); // only when empty: never a version
    }
    return err;
}

VersionResult TRKMonItem::RecordVersion(const StagedVersion& staged)
{
    using O = VersionOutcome;
    const double versionDate = FileDateOfNs(staged.ModTimeNs);
    if (Removed()) {
        // Removed while it was copied: its history is gone, so is this version.
        std::error_code ec;
        std::filesystem::remove(staged.Target, ec);
        std::filesystem::remove(staged.Folder.Path, ec);
        return {O::NotDue};
    }
    {
        std::lock_guard lock(m_mutex);
        TMonItemRecord r = m_data;
        r.LastVersionPath.Set(staged.Target);
        r.VersionNum = std::max(r.VersionNum, staged.Folder.Number);
        r.NameModeNumberCount = staged.NameCount;
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
    const TMonItemRecord& rec = staged.Rec;
    const std::string keep = VersionFolderName(staged.Folder.Number);
    if (rec.DelMode == dmInterval)
        PruneVersions(Now() - (rec.DelModeInterval - kZeroDuration), keep, true);
    else if (rec.DelMode == dmNumber && staged.Folder.Stored > std::max(rec.DelModeNumber, 1))
        ApplyPrunePlan(PlanKeepLast(staged.Base, std::max(rec.DelModeNumber, 1), keep, true));
    // (No more folders than are kept: none is a version too many, and the leftovers of
    // a killed copy, each in a folder of its own, wait for the next pruning or start.)
    return {O::Made};
}

} // namespace morvane
