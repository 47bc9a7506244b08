#include "monitor/BackupMove.h"

#include "engine/ItemRecordIO.h"
#include "engine/VersionStore.h"
#include "platform/AtomicFile.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"
#include "support/KitSysUtils.h"
#include "support/LanguageFiles.h"
#include "support/components/TkitFileOperation.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace morvane::monitor {

namespace {

constexpr const char* kNoteMove = "Move";
constexpr const char* kNoteItems = "Items";
constexpr std::int64_t kSpareBytes = 1024 * 1024;
// A batch of copies is made durable at once: few flushes, and few open files meanwhile.
constexpr std::size_t kBatchFiles = 128;
constexpr std::int64_t kBatchBytes = 256 * 1024 * 1024;
constexpr int kProgressSteps = 1000;
constexpr int kFinishFrom = 900;      // where the last phase starts on the bar
constexpr int kProgressRefresh = 100; // ms

std::string Megabytes(std::int64_t bytes)
{
    return std::to_string((bytes + 1024 * 1024 - 1) / (1024 * 1024)) + " MB";
}

std::string ErrorText(int err)
{
    return std::system_category().message(err);
}

// Quoted, as every path of a move's text is.
std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// Calls the plan's Release once, however Run ends after the hold.
class HoldScope
{
public:
    explicit HoldScope(const std::function<void()>& release) : m_release(release) {}
    ~HoldScope()
    {
        if (m_release)
            m_release();
    }
    HoldScope(const HoldScope&) = delete;
    HoldScope& operator=(const HoldScope&) = delete;

private:
    const std::function<void()>& m_release;
};

// A free name beside path for a file that must be kept but not used.
std::string KeepAsideName(const std::string& path)
{
    std::string candidate = path + ".damaged";
    for (int n = 2; FileExists(candidate) || DirectoryExists(candidate); ++n)
        candidate = path + ".damaged-" + std::to_string(n);
    return candidate;
}

// Moves the backup index to the destination and makes it list every item. "" when done,
// else what went wrong (the versions have all moved by then).
std::string MoveIndex(const BackupMovePlan& plan, const std::string& dest, IniFile& note)
{
    const std::string& lang = plan.LanguageFile;
    const std::string oldIndex = plan.OldRoot + kBackupIndexName;
    const std::string newIndex = dest + kBackupIndexName;
    if (FileExists(newIndex) || DirectoryExists(newIndex)) {
        // Only our own copy from an interrupted run may give way, and only to the index the
        // agent kept using meanwhile.
        if (!note.ReadBool(kNoteMove, "Index", false))
            return MoveText(lang, "MesMoveIndexForeign",
                            "%1 exists already and was not made by this move; it was left alone.",
                            {Quoted(newIndex)});
        if (FileExists(oldIndex) && !RemoveFile(newIndex))
            return MoveText(lang, "MesMoveCannotReplace", "%1 cannot be replaced: %2",
                            {Quoted(newIndex), ErrorText(errno)});
    }
    if (FileExists(oldIndex)) {
        note.WriteBool(kNoteMove, "Index", true);
        note.Flush();
        TreeResult moved = TkitFileOperation::ForceCopy() ? TreeResult{TreeStatus::Failed, EXDEV, oldIndex}
                                                          : RenameNoReplace(oldIndex, newIndex);
        if (moved.Status == TreeStatus::Failed && moved.Error == EXDEV)
            moved = CopyTree(oldIndex, newIndex, true, nullptr, {});
        if (moved.Status != TreeStatus::Ok)
            return MoveText(lang, "MesMoveIndexNotMoved", "The backup index %1 could not be moved: %2",
                            {Quoted(oldIndex), ErrorText(moved.Error)});
    }

    std::string said;
    {
        IniFile index(newIndex);
        if (FileExists(newIndex) && !index.SectionExists(kBackupIndexSection) && TreeBytes(newIndex) > 0) {
            // An index that cannot be read is kept for whoever wants to look at it.
            const std::string aside = KeepAsideName(newIndex);
            const TreeResult r = RenameNoReplace(newIndex, aside);
            if (r.Status != TreeStatus::Ok)
                return MoveText(lang, "MesMoveIndexUnreadable",
                                "The backup index %1 cannot be read and cannot be set aside: %2",
                                {Quoted(newIndex), ErrorText(r.Error)});
            said =
                MoveText(lang, "MesMoveIndexKeptAside",
                         "The backup index could not be read; it was kept as %1 and a new one was written.",
                         {Quoted(aside)});
        }
    }
    IniFile::ClearCache();
    IniFile index(newIndex);
    for (const BackupItem& item : plan.Items) {
        if (IsPlainFolderName(item.FileID) && index.ReadString(kBackupIndexSection, item.FileID, "").empty())
            index.WriteString(kBackupIndexSection, item.FileID, item.Path);
    }
    index.Flush();
    return said.empty() ? std::string() : "\n" + said;
}

// Whether a file can be made in folder. The probe is a file without a name where the file
// system has them, so a monitor killed during the check leaves nothing in the new backup
// folder; elsewhere it is a named file, made and removed at once.
bool CanWriteIn(const std::string& folder)
{
    const OwnedFd probe(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (probe.Valid())
        return true;
    // Any other failure (no right to write, a read-only or full file system) is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
    return CanCreateFile(folder + ".morvane-write-test");
}

std::string Trailer(const BackupMovePlan& plan, const std::string& dest, int moved, int remaining)
{
    return "\n\n" +
           MoveText(plan.LanguageFile, "MesMovePartly",
                    "%1 item(s) were moved to %2; %3 are still in %4, which stays the backup folder in "
                    "use. No version was lost. Move to the same folder again to finish.",
                    {std::to_string(moved), Quoted(dest), std::to_string(remaining), Quoted(plan.OldRoot)});
}

} // namespace

std::string MoveText(const std::string& languageFile, const char* key, const char* english,
                     std::initializer_list<std::string> args)
{
    const std::string pattern = languageFile.empty()
                                    ? std::string(english)
                                    : ReadLanguageText(languageFile, kMoveTextSection, key, english);
    // One pass, so a path holding "%2" stays as it is.
    std::string text;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const char next = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
        const std::size_t n = next >= '1' && next <= '9' ? static_cast<std::size_t>(next - '1') : args.size();
        if (pattern[at] == '%' && n < args.size()) {
            text += *(args.begin() + n);
            ++at;
        } else {
            text += pattern[at];
        }
    }
    return text;
}

std::string BackupMove::UnfinishedText(const std::string& languageFile, const std::string& target,
                                       const std::string& oldRoot)
{
    return MoveText(
        languageFile, "MesMoveUnfinished",
        "A move of the versions to %1 is unfinished: some of them are there, the others still in %2, "
        "which stays the backup folder in use, and the lists show only the versions kept there.",
        {Quoted(WithTrailingSep(target)), Quoted(oldRoot)});
}

std::string BackupMove::CheckDestination(const BackupMovePlan& plan)
{
    const std::string& lang = plan.LanguageFile;
    if (plan.NewRoot.empty())
        return MoveText(lang, "MesMoveNoFolder", "No folder was chosen.");
    if (plan.OldRoot.empty() || plan.OldRoot.front() != kPathSep)
        return MoveText(lang, "MesMoveRootUnknown",
                        "The backup folder in use is not known (is the agent running?).");
    const std::string dest = WithTrailingSep(plan.NewRoot);
    if (dest.front() != kPathSep)
        return MoveText(lang, "MesMoveNotFullPath", "%1 is not a full path.", {Quoted(dest)});
    if (FileExists(WithoutTrailingSep(dest)))
        return MoveText(lang, "MesMoveIsFile", "%1 is a file, not a folder.",
                        {Quoted(WithoutTrailingSep(dest))});
    if (IsInsideFolder(dest, plan.OldRoot) && IsInsideFolder(plan.OldRoot, dest))
        return MoveText(lang, "MesMoveSameFolder", "%1 is the backup folder in use already.", {Quoted(dest)});
    if (IsInsideFolder(dest, plan.OldRoot))
        return MoveText(lang, "MesMoveInsideRoot", "%1 lies inside the backup folder in use (%2).",
                        {Quoted(dest), Quoted(plan.OldRoot)});
    for (const std::string& folder : plan.WatchedFolders) {
        if (IsInsideFolder(dest, folder))
            return MoveText(lang, "MesMoveInsideWatched",
                            "%1 lies inside the watched folder %2: the versions kept there would be taken as "
                            "changes of it.",
                            {Quoted(dest), Quoted(folder)});
    }
    const bool made = !DirectoryExists(dest);
    if (made && !MakeDirs(WithoutTrailingSep(dest)))
        return MoveText(lang, "MesMoveCannotCreate", "%1 cannot be created: %2",
                        {Quoted(dest), ErrorText(errno)});
    std::string refusal;
    if (!CanWriteIn(dest)) {
        refusal = MoveText(lang, "MesMoveNotWritable", "%1 cannot be written to.", {Quoted(dest)});
    } else if (!SameFileSystem(plan.OldRoot, dest)) {
        std::int64_t needed = TreeBytes(plan.OldRoot + kBackupIndexName);
        for (const BackupItem& item : plan.Items) {
            if (IsPlainFolderName(item.FileID))
                needed += TreeBytes(plan.OldRoot + item.FileID);
        }
        const auto free = FreeBytes(dest);
        if (free && *free < needed + kSpareBytes)
            refusal = MoveText(lang, "MesMoveNoRoom", "%1 has %2 free, but the versions need %3.",
                               {Quoted(dest), Megabytes(*free), Megabytes(needed)});
    }
    if (!refusal.empty() && made)
        RemoveEmptyDir(WithoutTrailingSep(dest));
    return refusal;
}

namespace {

// Flushes every file system write of the file system holding folder; errno or 0.
int FlushFileSystem(const std::string& folder)
{
    const OwnedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid())
        return errno;
    return ::syncfs(fd.Get()) == 0 ? 0 : errno;
}

bool SameContents(const std::string& a, const std::string& b, const struct stat& sa)
{
    struct stat sb = {};
    if (::lstat(b.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode) || sb.st_size != sa.st_size ||
        sb.st_mtim.tv_sec != sa.st_mtim.tv_sec || sb.st_mtim.tv_nsec != sa.st_mtim.tv_nsec)
        return false;
    return FilesEqual(a, b).value_or(false);
}

// Moves the contents of item folders into item folders that may exist already, file by
// file, never replacing anything. On one file system a folder whose target does not exist
// moves with one rename. Between file systems every file is copied into a file without a
// name (the platform's copy), without a flush of its own; a batch is made durable with two
// flushes of the whole target file system (before the copies get their names, and after),
// and only then do their sources go. So a name in the target always holds whole bytes, and a source is
// gone only when its copy is safe. Worker thread; progress counters are atomic.
class Mover
{
public:
    Mover(BackupMoveControl& control, bool copy, std::string targetRoot, bool cancellable)
        : m_control(control), m_copy(copy), m_targetRoot(std::move(targetRoot)), m_cancellable(cancellable)
    {
    }

    TreeResult MoveItem(const std::string& source, const std::string& target)
    {
        struct stat st = {};
        if (::lstat(source.c_str(), &st) != 0)
            return {TreeStatus::SourceMissing, errno, source};
        if (!S_ISDIR(st.st_mode))
            return {TreeStatus::Failed, ENOTDIR, source};
        return MoveFolder(source, target, st);
    }

    // Makes what was copied durable, names it, and removes the sources. Also the last step
    // of a stopped run, so what it did is consistent.
    TreeResult Flush()
    {
        TreeResult result;
        if (!m_staged.empty()) {
            if (const int err = FlushFileSystem(m_targetRoot))
                return {TreeStatus::Failed, err, m_targetRoot};
            for (Staged& staged : m_staged) {
                const int err = staged.File->Commit(AtomicFile::Placement::NoReplace, staged.Mode,
                                                    AtomicFile::Durability::Deferred);
                if (err == 0)
                    m_sources.push_back(staged.Source);
                else if (result.Status == TreeStatus::Ok)
                    result = {err == EEXIST ? TreeStatus::TargetExists : TreeStatus::Failed, err,
                              staged.File->Target()};
            }
            m_staged.clear();
            m_stagedBytes = 0;
        }
        for (const FolderTime& folder : m_folderTimes) {
            const timespec times[2] = {{0, UTIME_OMIT}, folder.Time};
            ::utimensat(AT_FDCWD, folder.Path.c_str(), times, 0);
        }
        m_folderTimes.clear();
        if (!m_sources.empty() || !m_folders.empty()) {
            if (const int err = FlushFileSystem(m_targetRoot))
                return {TreeStatus::Failed, err, m_targetRoot};
        }
        for (const std::string& source : m_sources) {
            if (::unlink(source.c_str()) != 0 && errno != ENOENT && result.Status == TreeStatus::Ok)
                result = {TreeStatus::Failed, errno, source};
        }
        m_sources.clear();
        // Children before their parents: in the order their filling ended.
        for (const std::string& folder : m_folders) {
            if (::rmdir(folder.c_str()) != 0 && errno != ENOENT && result.Status == TreeStatus::Ok)
                result = {TreeStatus::Failed, errno, folder};
        }
        m_folders.clear();
        return result;
    }

    std::atomic<std::int64_t> BytesDone{0};

private:
    struct Staged
    {
        std::unique_ptr<AtomicFile> File;
        std::string Source;
        mode_t Mode = 0600;
    };
    struct FolderTime
    {
        std::string Path;
        timespec Time{};
    };

    bool Cancelled() const { return m_cancellable && m_control.CancelRequested(); }

    void FileDone(std::int64_t bytes)
    {
        BytesDone.fetch_add(bytes);
        ++m_files;
        if (m_control.AfterFileHook())
            m_control.AfterFileHook()(m_files);
    }

    TreeResult MoveFolder(const std::string& source, const std::string& target, const struct stat& st)
    {
        if (Cancelled())
            return {TreeStatus::Cancelled, ECANCELED, source};
        if (!m_copy) {
            const std::int64_t bytes = TreeBytes(source);
            const TreeResult renamed = RenameNoReplace(source, target);
            if (renamed.Status == TreeStatus::Ok) {
                FileDone(bytes);
                return {};
            }
            if (renamed.Status != TreeStatus::TargetExists)
                return renamed;
        }
        // Filled part by part: an earlier run's part, or versions made since, are merged.
        timespec time = st.st_mtim;
        if (::mkdir(target.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0) {
            struct stat existing = {};
            if (errno != EEXIST || ::lstat(target.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode))
                return {errno == EEXIST ? TreeStatus::TargetExists : TreeStatus::Failed, errno, target};
            // A stopped run changed the times of both halves: the source's by the files that
            // left it, the target's by the copies it made there. Each only ever became later,
            // so the earlier one is the folder's own.
            if (std::tie(existing.st_mtim.tv_sec, existing.st_mtim.tv_nsec) <
                std::tie(time.tv_sec, time.tv_nsec))
                time = existing.st_mtim;
        }
        std::vector<std::string> names;
        if (!ReadNames(source, names))
            return {TreeStatus::Failed, errno, source};
        for (const std::string& name : names) {
            const std::string from = source + "/" + name;
            const std::string to = target + "/" + name;
            // What an interrupted copy left is never a version: it does not move.
            if (IsCopyLeftover(source, name)) {
                RemoveCopyLeftover(from);
                continue;
            }
            struct stat entry = {};
            if (::lstat(from.c_str(), &entry) != 0) {
                if (errno == ENOENT)
                    continue;
                return {TreeStatus::Failed, errno, from};
            }
            TreeResult r;
            if (S_ISDIR(entry.st_mode))
                r = MoveFolder(from, to, entry);
            else if (S_ISREG(entry.st_mode))
                r = MoveFile(from, to, entry);
            else
                r = {TreeStatus::Failed, EINVAL, from}; // no version is anything else
            if (r.Status != TreeStatus::Ok)
                return r;
        }
        // The date of a version folder tells its age; set once its files have their names.
        ::chmod(target.c_str(), st.st_mode & 07777);
        if (m_copy) {
            m_folderTimes.push_back({target, time});
            m_folders.push_back(source);
            return {};
        }
        const timespec times[2] = {{0, UTIME_OMIT}, time};
        ::utimensat(AT_FDCWD, target.c_str(), times, 0);
        if (::rmdir(source.c_str()) != 0)
            return {TreeStatus::Failed, errno, source};
        return {};
    }

    TreeResult MoveFile(const std::string& source, const std::string& target, const struct stat& st)
    {
        if (Cancelled())
            return {TreeStatus::Cancelled, ECANCELED, source};
        struct stat existing = {};
        if (::lstat(target.c_str(), &existing) == 0) {
            // The same bytes and date: the copy of a run stopped before its source went.
            if (!SameContents(source, target, st))
                return {TreeStatus::TargetExists, EEXIST, target};
            if (m_copy)
                m_sources.push_back(source);
            else if (::unlink(source.c_str()) != 0)
                return {TreeStatus::Failed, errno, source};
            FileDone(st.st_size);
            return {};
        }
        if (!m_copy) {
            const TreeResult renamed = RenameNoReplace(source, target);
            if (renamed.Status == TreeStatus::Ok)
                FileDone(st.st_size);
            return renamed;
        }
        TreeResult r = Copy(source, target, st);
        if (r.Status != TreeStatus::Ok)
            return r;
        ++m_files;
        if (m_control.AfterFileHook())
            m_control.AfterFileHook()(m_files);
        if (m_staged.size() >= kBatchFiles || m_stagedBytes >= kBatchBytes)
            return Flush();
        return {};
    }

    // The bytes and date of source in a file without a name yet, not yet durable: a kill
    // leaves nothing of it behind.
    TreeResult Copy(const std::string& source, const std::string& target, const struct stat& st)
    {
        auto out = std::make_unique<AtomicFile>();
        CopyOptions options;
        options.MaxAttempts = 1; // a version never changes: one that does is no version to trust
        options.Staging = AtomicFile::Staging::Unnamed;
        options.Uncommitted = out.get();
        const CopyResult r = CopyFileSafely(source, target, options);
        switch (r.Status) {
        case CopyStatus::Ok:
            break;
        case CopyStatus::SourceMissing:
            return {TreeStatus::SourceMissing, r.Error, source};
        case CopyStatus::TargetExists:
            return {TreeStatus::TargetExists, EEXIST, target};
        case CopyStatus::SourceUnreadable:
        case CopyStatus::NotRegular:
        case CopyStatus::Changed:
            return {TreeStatus::Failed, r.Error ? r.Error : EIO, source};
        default:
            return {TreeStatus::Failed, r.Error ? r.Error : EIO, target};
        }
        BytesDone.fetch_add(r.Size);
        m_stagedBytes += r.Size;
        m_staged.push_back({std::move(out), source, static_cast<mode_t>(st.st_mode & 07777)});
        return {};
    }

    BackupMoveControl& m_control;
    const bool m_copy;
    const std::string m_targetRoot;
    const bool m_cancellable;
    int m_files = 0;
    std::vector<Staged> m_staged;
    std::int64_t m_stagedBytes = 0;
    std::vector<std::string> m_sources; // files whose copies are in place and durable
    std::vector<std::string> m_folders; // emptied source folders, children first
    std::vector<FolderTime> m_folderTimes;
};

// The progress window of one move, kept over all its phases so the bar never starts
// again: the files take the bar up to kFinishFrom, the last phase (flushes, the index,
// leftovers) the rest. Main thread; the work of each phase runs on a worker.
class ProgressWindow
{
public:
    explicit ProgressWindow(BackupMoveControl& control) : m_control(control) {}

    // Runs work on a worker while the bar shows done against total between from and to
    // (of kProgressSteps), and the window's cancel is taken when cancellable.
    void Run(const std::string& label, const std::atomic<std::int64_t>& done,
             const std::atomic<std::int64_t>& total, int from, int to, bool cancellable,
             const std::function<void()>& work)
    {
        std::atomic<bool> finished{false};
        QEventLoop loop;
        std::thread worker([&] {
            work();
            finished.store(true);
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        if (!m_control.Silent && !m_dialog)
            m_dialog.reset(
                TkitFileOperation::MakeProgressDialog(QString::fromStdString(label), m_control.Parent));
        if (m_dialog) {
            m_dialog->setLabelText(QString::fromStdString(label));
            if (!cancellable)
                m_dialog->setCancelButton(nullptr);
        }
        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
            if (!m_dialog)
                return;
            if (cancellable && m_dialog->wasCanceled())
                m_control.Cancel();
            const std::int64_t all = total.load();
            const std::int64_t part =
                all > 0 ? std::clamp<std::int64_t>(done.load(), 0, all) * (to - from) / all : 0;
            m_dialog->setValue(std::clamp(from + static_cast<int>(part), 0, kProgressSteps - 1));
        });
        refresh.start(kProgressRefresh);
        if (!finished.load())
            loop.exec();
        worker.join();
    }
    // Work on the main thread meanwhile: the bar stands at value.
    void Show(int value)
    {
        if (m_dialog)
            m_dialog->setValue(std::clamp(value, 0, kProgressSteps - 1));
    }
    // What the move waits for before its work begins (the window shows after its delay,
    // as events are handled meanwhile).
    void Wait(const std::string& label)
    {
        if (!m_control.Silent && !m_dialog)
            m_dialog.reset(
                TkitFileOperation::MakeProgressDialog(QString::fromStdString(label), m_control.Parent));
        if (m_dialog) {
            m_dialog->setLabelText(QString::fromStdString(label));
            m_dialog->setValue(0);
        }
    }

private:
    BackupMoveControl& m_control;
    std::unique_ptr<QProgressDialog> m_dialog;
};

std::string Describe(const BackupMovePlan& plan, const TreeResult& r)
{
    if (r.Status == TreeStatus::TargetExists)
        return MoveText(plan.LanguageFile, "MesMoveTargetDiffers",
                        "%1 exists already with other contents; it was left alone.", {Quoted(r.Path)});
    return MoveText(plan.LanguageFile, "MesMoveStoppedAt", "Moving the versions stopped at %1: %2",
                    {Quoted(r.Path), ErrorText(r.Error)});
}

void WriteSettings(const std::string& file, const std::string& backupPath, const std::string& moveTo)
{
    IniFile settings(file);
    if (!backupPath.empty())
        settings.WriteString("Basic", "BackupPath", backupPath);
    if (moveTo.empty())
        settings.DeleteKey("Basic", kMoveToKey);
    else
        settings.WriteString("Basic", kMoveToKey, moveTo);
    settings.Flush();
}

} // namespace

BackupMoveResult BackupMove::Run(const BackupMovePlan& plan, BackupMoveControl& control)
{
    BackupMoveResult result;
    const std::string& lang = plan.LanguageFile;
    result.Text = CheckDestination(plan);
    if (!result.Text.empty())
        return result;
    const std::string dest = WithTrailingSep(plan.NewRoot);
    // Writes of the index (and below, of the note) that a killed run did not finish; only
    // our own temporary names go.
    IniFile::RemoveLeftovers(dest + kBackupIndexName);
    // Versions left in the folder of another unfinished move would be lost from sight.
    const std::string pending = ReadMoveTarget(plan.SettingsFile);
    if (!pending.empty() && !(IsInsideFolder(pending, dest) && IsInsideFolder(dest, pending))) {
        result.Text = MoveText(lang, "MesMoveOtherUnfinished",
                               "A move to %1 is unfinished; move to that folder again to finish it first.",
                               {Quoted(pending)});
        return result;
    }
    // With no move unfinished, a note here is one a run stopped before it moved anything,
    // or as it ended, left: it marks nothing, and kept it would refuse every later move
    // here from another folder.
    if (pending.empty())
        RemoveEndedMoveNote(dest);
    else
        IniFile::RemoveLeftovers(dest + kNoteName);
    IniFile::ClearCache();
    IniFile note(dest + kNoteName);
    const std::string from = note.ReadString(kNoteMove, "From", "");
    if (!from.empty() && from != plan.OldRoot) {
        result.Text = MoveText(lang, "MesMoveForeignNote",
                               "%1 holds an unfinished move from %2; finish that one first.",
                               {Quoted(dest), Quoted(from)});
        return result;
    }

    control.Reset();
    // The agent ends its watches first, and a box it shows holds its answer back: the user
    // sees what the move waits for.
    ProgressWindow progress(control);
    progress.Wait(MoveText(lang, "MesMoveWaitAgent", "Waiting for the agent to stop making versions..."));
    if (plan.Hold && !plan.Hold()) {
        if (plan.Release)
            plan.Release();
        result.Text =
            MoveText(lang, "MesMoveNoHold",
                     "The agent did not confirm that it stopped making versions, so nothing was moved.");
        return result;
    }
    HoldScope hold(plan.Release);

    // Which item folders move; a folder of an item's name that this move did not make is
    // somebody else's and stops that item.
    std::vector<std::string> ids;     // to move now
    std::vector<std::string> earlier; // in the destination already, wholly or in part
    std::vector<std::string> conflicts;
    std::set<std::string> seen;
    for (const BackupItem& item : plan.Items) {
        if (!IsPlainFolderName(item.FileID) || !seen.insert(item.FileID).second)
            continue;
        const std::string target = dest + item.FileID;
        const bool ours = note.ReadBool(kNoteItems, item.FileID, false);
        if ((DirectoryExists(target) || FileExists(target)) && !ours) {
            conflicts.push_back(target);
            continue;
        }
        if (ours && DirectoryExists(target))
            earlier.push_back(item.FileID); // moved by a run that was stopped
        if (!DirectoryExists(plan.OldRoot + item.FileID)) {
            if (!ours || !DirectoryExists(target))
                ++result.WithoutVersions;
            continue;
        }
        note.WriteBool(kNoteItems, item.FileID, true);
        ids.push_back(item.FileID);
    }
    try {
        note.WriteString(kNoteMove, "From", plan.OldRoot);
        note.Flush();
        // From here on the agent numbers versions past both folders, whatever happens.
        WriteSettings(plan.SettingsFile, "", dest);
    } catch (const std::exception& e) {
        result.Text = MoveText(lang, "MesMoveNothingMoved", "Nothing was moved: %1", {e.what()});
        return result;
    }

    const bool copy = TkitFileOperation::ForceCopy() || !SameFileSystem(plan.OldRoot, dest);
    Mover forward(control, copy, dest, true);
    std::atomic<std::int64_t> total{0};
    TreeResult stop;
    progress.Run(MoveText(lang, "MesMoveProgress", "Moving versions..."), forward.BytesDone, total, 0,
                 kFinishFrom, true, [&] {
                     std::int64_t bytes = 0;
                     for (const std::string& id : ids)
                         bytes += TreeBytes(plan.OldRoot + id);
                     total.store(bytes);
                     for (const std::string& id : ids) {
                         stop = forward.MoveItem(plan.OldRoot + id, dest + id);
                         if (stop.Status == TreeStatus::SourceMissing && stop.Path == plan.OldRoot + id)
                             stop = {};
                         if (stop.Status != TreeStatus::Ok)
                             break;
                     }
                 });
    // The last phase: the last copies made durable, their sources gone, the index moved,
    // leftovers removed, the whole destination flushed. Three steps on the bar.
    const std::string finishing = MoveText(lang, "MesMoveFinishing", "Finishing the move...");
    constexpr int kFinishSteps = 3;
    const std::atomic<std::int64_t> steps{kFinishSteps};
    std::atomic<std::int64_t> step{0};
    const auto stepValue = [](int n) {
        return kFinishFrom + n * (kProgressSteps - kFinishFrom) / kFinishSteps;
    };
    progress.Run(finishing, step, steps, kFinishFrom, stepValue(1), false, [&] {
        const TreeResult flushed = forward.Flush();
        if (stop.Status == TreeStatus::Ok)
            stop = flushed;
    });

    if (stop.Status == TreeStatus::Cancelled) {
        // Back to where they were, so everything is seen where the setting says.
        std::vector<std::string> backIds = earlier;
        for (const std::string& id : ids) {
            if (std::find(backIds.begin(), backIds.end(), id) == backIds.end())
                backIds.push_back(id);
        }
        Mover back(control, copy, plan.OldRoot, false);
        std::atomic<std::int64_t> backTotal{0};
        TreeResult backStop;
        progress.Run(MoveText(lang, "MesMoveBackProgress", "Moving the versions back..."), back.BytesDone,
                     backTotal, 0, kProgressSteps, false, [&] {
                         std::int64_t bytes = 0;
                         for (const std::string& id : backIds)
                             bytes += TreeBytes(dest + id);
                         backTotal.store(bytes);
                         for (const std::string& id : backIds) {
                             if (!DirectoryExists(dest + id))
                                 continue;
                             backStop = back.MoveItem(dest + id, plan.OldRoot + id);
                             if (backStop.Status != TreeStatus::Ok)
                                 break;
                             ++result.BroughtBack;
                         }
                         const TreeResult flushed = back.Flush();
                         if (backStop.Status == TreeStatus::Ok)
                             backStop = flushed;
                         // An index a stopped run had moved goes back too.
                         const std::string oldIndex = plan.OldRoot + kBackupIndexName;
                         const std::string newIndex = dest + kBackupIndexName;
                         if (backStop.Status == TreeStatus::Ok && note.ReadBool(kNoteMove, "Index", false) &&
                             !FileExists(oldIndex) && FileExists(newIndex)) {
                             backStop = RenameNoReplace(newIndex, oldIndex);
                             if (backStop.Status == TreeStatus::Failed && backStop.Error == EXDEV)
                                 backStop = CopyTree(newIndex, oldIndex, true, nullptr, {});
                         }
                     });
        result.Outcome = BackupMoveResult::Cancelled;
        if (backStop.Status == TreeStatus::Ok) {
            try {
                WriteSettings(plan.SettingsFile, "", "");
                RemoveFile(dest + kNoteName);
            } catch (const std::exception&) {
                // The move stays recorded as unfinished: numbering still passes both folders.
            }
            RemoveCopyLeftovers(dest);
            result.Text =
                MoveText(lang, "MesMoveCancelled",
                         "Moving the versions was cancelled. Every version is in %1, which stays the "
                         "backup folder in use.",
                         {Quoted(plan.OldRoot)});
            return result;
        }
        for (const std::string& id : ids)
            result.Moved += DirectoryExists(dest + id) ? 1 : 0;
        result.Remaining = static_cast<int>(ids.size()) - result.Moved + static_cast<int>(conflicts.size());
        result.Text = MoveText(lang, "MesMoveBackStopped",
                               "Moving the versions was cancelled, but moving them back stopped: %1",
                               {Describe(plan, backStop)}) +
                      Trailer(plan, dest, result.Moved, result.Remaining);
        return result;
    }

    for (const std::string& id : ids)
        result.Remaining += DirectoryExists(plan.OldRoot + id) ? 1 : 0;
    result.Moved = static_cast<int>(ids.size()) - result.Remaining;
    result.Remaining += static_cast<int>(conflicts.size());
    if (stop.Status != TreeStatus::Ok) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text = Describe(plan, stop) + Trailer(plan, dest, result.Moved, result.Remaining);
        return result;
    }
    if (!conflicts.empty()) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text =
            MoveText(lang, "MesMoveConflicts",
                     "These folders exist in the destination already and were not made by this move, "
                     "so nothing was written over them:");
        for (const std::string& conflict : conflicts)
            result.Text += "\n" + conflict;
        result.Text += Trailer(plan, dest, result.Moved, result.Remaining);
        return result;
    }

    std::string indexNote;
    progress.Show(stepValue(1));
    try {
        indexNote = MoveIndex(plan, dest, note);
    } catch (const std::exception& e) {
        indexNote = e.what();
    }
    if (!indexNote.empty() && indexNote.front() != '\n') {
        result.Outcome = BackupMoveResult::Failed;
        result.Text = indexNote + Trailer(plan, dest, result.Moved, 0);
        return result;
    }
    // Copies that a killed run left half-made are no versions and do not stay; everything
    // moved is on the disk before the setting sends anyone there.
    int flushError = 0;
    step.store(0);
    progress.Run(finishing, step, steps, stepValue(2), kProgressSteps, false, [&] {
        RemoveCopyLeftovers(dest);
        step.store(1);
        flushError = FlushFileSystem(dest);
        step.store(kFinishSteps);
    });
    if (const int err = flushError) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text = MoveText(lang, "MesMoveNotFlushed",
                               "The moved versions could not be flushed to the disk: %1", {ErrorText(err)}) +
                      Trailer(plan, dest, result.Moved, 0);
        return result;
    }

    try {
        WriteSettings(plan.SettingsFile, dest, "");
    } catch (const std::exception& e) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text =
            std::string(e.what()) + "\n" +
            MoveText(lang, "MesMoveSettingNotWritten",
                     "Every version is in %1, but %2 stays the backup folder in use. Move to the same "
                     "folder again to finish.",
                     {Quoted(dest), Quoted(plan.OldRoot)});
        return result;
    }
    RemoveFile(dest + kNoteName);
    result.Outcome = BackupMoveResult::Done;
    result.Text = MoveText(lang, "MesMoveDone", "Every version was moved to %1.", {Quoted(dest)}) + indexNote;
    return result;
}

} // namespace morvane::monitor
