#include "monitor/BackupMove.h"

#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/KitSysUtils.h"
#include "support/components/TkitFileOperation.h"

#include <cerrno>
#include <set>
#include <system_error>

namespace morvane::monitor {

namespace {

constexpr const char* kNoteMove = "Move";
constexpr const char* kNoteItems = "Items";
constexpr std::int64_t kSpareBytes = 1024 * 1024;

std::string Megabytes(std::int64_t bytes)
{
    return std::to_string((bytes + 1024 * 1024 - 1) / (1024 * 1024)) + " MB";
}

std::string ErrorText(int err)
{
    return std::system_category().message(err);
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
    const std::string oldIndex = plan.OldRoot + kBackupIndexName;
    const std::string newIndex = dest + kBackupIndexName;
    if (FileExists(newIndex) || DirectoryExists(newIndex)) {
        // Only our own copy from an interrupted run may give way, and only to the index the
        // agent kept using meanwhile.
        if (!note.ReadBool(kNoteMove, "Index", false))
            return "\"" + newIndex + "\" exists already and was not made by this move; it was left alone.";
        if (FileExists(oldIndex) && !RemoveFile(newIndex))
            return "\"" + newIndex + "\" cannot be replaced: " + ErrorText(errno);
    }
    if (FileExists(oldIndex)) {
        note.WriteBool(kNoteMove, "Index", true);
        note.Flush();
        TreeResult moved = TkitFileOperation::ForceCopy() ? TreeResult{TreeStatus::Failed, EXDEV, oldIndex}
                                                          : RenameNoReplace(oldIndex, newIndex);
        if (moved.Status == TreeStatus::Failed && moved.Error == EXDEV)
            moved = CopyTree(oldIndex, newIndex, true, nullptr, {});
        if (moved.Status != TreeStatus::Ok)
            return "The backup index \"" + oldIndex + "\" could not be moved: " + ErrorText(moved.Error);
    }

    std::string said;
    {
        IniFile index(newIndex);
        if (FileExists(newIndex) && !index.SectionExists(kBackupIndexSection) && TreeBytes(newIndex) > 0) {
            // An index that cannot be read is kept for whoever wants to look at it.
            const std::string aside = KeepAsideName(newIndex);
            const TreeResult r = RenameNoReplace(newIndex, aside);
            if (r.Status != TreeStatus::Ok)
                return "The backup index \"" + newIndex +
                       "\" cannot be read and cannot be set aside: " + ErrorText(r.Error);
            said = "The backup index could not be read; it was kept as \"" + aside +
                   "\" and a new one was written.";
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

std::string Trailer(const BackupMovePlan& plan, const std::string& dest, int moved, int remaining)
{
    return "\n\n" + std::to_string(moved) + " item(s) were moved to \"" + dest + "\"; " +
           std::to_string(remaining) + " are still in \"" + plan.OldRoot +
           "\", which stays the backup folder in use. No version was lost. Move to the same folder "
           "again to finish.";
}

} // namespace

std::string BackupMove::CheckDestination(const BackupMovePlan& plan)
{
    if (plan.NewRoot.empty())
        return "No folder was chosen.";
    if (plan.OldRoot.empty())
        return "The backup folder in use is not known (is the agent running?).";
    const std::string dest = WithTrailingSep(plan.NewRoot);
    if (dest.front() != kPathSep)
        return "\"" + dest + "\" is not a full path.";
    if (FileExists(WithoutTrailingSep(dest)))
        return "\"" + WithoutTrailingSep(dest) + "\" is a file, not a folder.";
    if (IsInsideFolder(dest, plan.OldRoot) && IsInsideFolder(plan.OldRoot, dest))
        return "\"" + dest + "\" is the backup folder in use already.";
    if (IsInsideFolder(dest, plan.OldRoot))
        return "\"" + dest + "\" lies inside the backup folder in use (\"" + plan.OldRoot + "\").";
    for (const std::string& folder : plan.WatchedFolders) {
        if (IsInsideFolder(dest, folder))
            return "\"" + dest + "\" lies inside the watched folder \"" + folder +
                   "\": the versions kept there would be taken as changes of it.";
    }
    const bool made = !DirectoryExists(dest);
    if (made && !MakeDirs(WithoutTrailingSep(dest)))
        return "\"" + dest + "\" cannot be created: " + ErrorText(errno);
    std::string refusal;
    if (!CanCreateFile(dest + ".morvane-write-test")) {
        refusal = "\"" + dest + "\" cannot be written to.";
    } else if (!SameFileSystem(plan.OldRoot, dest)) {
        std::int64_t needed = TreeBytes(plan.OldRoot + kBackupIndexName);
        for (const BackupItem& item : plan.Items) {
            if (IsPlainFolderName(item.FileID))
                needed += TreeBytes(plan.OldRoot + item.FileID);
        }
        const auto free = FreeBytes(dest);
        if (free && *free < needed + kSpareBytes)
            refusal = "\"" + dest + "\" has " + Megabytes(*free) + " free, but the versions need " +
                      Megabytes(needed) + ".";
    }
    if (!refusal.empty() && made)
        RemoveEmptyDir(WithoutTrailingSep(dest));
    return refusal;
}

BackupMoveResult BackupMove::Run(const BackupMovePlan& plan, TkitFileOperation& op)
{
    BackupMoveResult result;
    result.Text = CheckDestination(plan);
    if (!result.Text.empty())
        return result;
    const std::string dest = WithTrailingSep(plan.NewRoot);
    IniFile note(dest + kNoteName);
    const std::string from = note.ReadString(kNoteMove, "From", "");
    if (!from.empty() && from != plan.OldRoot) {
        result.Text =
            "\"" + dest + "\" holds an unfinished move from \"" + from + "\"; finish that one first.";
        return result;
    }

    if (plan.Hold && !plan.Hold()) {
        if (plan.Release)
            plan.Release();
        result.Text = "The agent did not confirm that it stopped making versions, so nothing was moved.";
        return result;
    }
    HoldScope hold(plan.Release);

    // Which item folders move; a folder of an item's name that this move did not make is
    // somebody else's and stops that item.
    std::vector<std::string> sources;
    std::vector<std::string> conflicts;
    std::set<std::string> seen;
    for (const BackupItem& item : plan.Items) {
        if (!IsPlainFolderName(item.FileID) || !seen.insert(item.FileID).second)
            continue;
        const std::string source = plan.OldRoot + item.FileID;
        if (!DirectoryExists(source)) {
            ++result.WithoutVersions;
            continue;
        }
        const std::string target = dest + item.FileID;
        if ((DirectoryExists(target) || FileExists(target)) &&
            !note.ReadBool(kNoteItems, item.FileID, false)) {
            conflicts.push_back(target);
            continue;
        }
        note.WriteBool(kNoteItems, item.FileID, true);
        sources.push_back(source);
    }
    try {
        note.WriteString(kNoteMove, "From", plan.OldRoot);
        note.Flush();
    } catch (const std::exception& e) {
        result.Text = std::string("Nothing was moved: ") + e.what();
        return result;
    }

    bool moved = true;
    if (!sources.empty()) {
        op.FileList() = sources;
        op.DestFolder = dest;
        op.Options = FileOpFlag(fofFilesOnly) | FileOpFlag(fofAllowUndo) | FileOpFlag(fofSimpleProgress) |
                     FileOpFlag(fofNoErrorUI) | FileOpFlag(fofNoConfirmMkDir);
        moved = op.Move();
    }
    for (const std::string& source : sources)
        result.Remaining += DirectoryExists(source) ? 1 : 0;
    result.Moved = static_cast<int>(sources.size()) - result.Remaining;
    result.Remaining += static_cast<int>(conflicts.size());

    if (!moved) {
        const TkitFileOperation::Outcome& outcome = op.LastOutcome();
        result.Outcome = outcome.Kind == TkitFileOperation::Result::Cancelled ? BackupMoveResult::Cancelled
                                                                              : BackupMoveResult::Failed;
        result.Text =
            result.Outcome == BackupMoveResult::Cancelled
                ? std::string("Moving the versions was cancelled.")
                : "Moving the versions stopped at \"" + outcome.Path + "\": " + ErrorText(outcome.Error);
        result.Text += Trailer(plan, dest, result.Moved, result.Remaining);
        return result;
    }
    if (!conflicts.empty()) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text = "These folders exist in the destination already and were not made by this move, so "
                      "nothing was written over them:";
        for (const std::string& conflict : conflicts)
            result.Text += "\n" + conflict;
        result.Text += Trailer(plan, dest, result.Moved, result.Remaining);
        return result;
    }

    std::string indexNote;
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

    try {
        IniFile settings(plan.SettingsFile);
        settings.WriteString("Basic", "BackupPath", dest);
        settings.Flush();
    } catch (const std::exception& e) {
        result.Outcome = BackupMoveResult::Failed;
        result.Text = std::string(e.what()) + "\nEvery version is in \"" + dest + "\", but \"" +
                      plan.OldRoot +
                      "\" stays the backup folder in use. Move to the same folder again to finish.";
        return result;
    }
    RemoveFile(dest + kNoteName);
    result.Outcome = BackupMoveResult::Done;
    result.Text = "Every version was moved to \"" + dest + "\"." + indexNote;
    return result;
}

} // namespace morvane::monitor
