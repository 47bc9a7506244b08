#include "agent/AgentCommands.h"

#include "agent/OpenCommand.h"
#include "agent/ReportQueue.h"
#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/NamedMapping.h"
#include "platform/Paths.h"
#include "support/PellaryDefs.h"
#include "support/RunProgram.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace morvane {

namespace {

bool IsFolderPath(const std::string& path)
{
    return !path.empty() && path.back() == kPathSep;
}

// Sets AgentBusy for the whole of one request, whatever way it ends.
class BusyScope
{
public:
    explicit BusyScope(SharedBlock* block) : m_block(block) { m_block->AgentBusy = true; }
    ~BusyScope() { m_block->AgentBusy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    SharedBlock* m_block;
};

} // namespace

AgentCommands::AgentCommands(Context context) : m_ctx(std::move(context)) {}

bool AgentCommands::AppMessage(const WindowMessage& msg)
{
    if (!m_ctx.Block)
        return false;
    BusyScope busy(m_ctx.Block);
    // The numbers are read afresh for every message, in the order requests are tested.
    static constexpr MessageIndex kOrder[] = {MsgAdd,  MsgOpen,  MsgDelete, MsgStart, MsgMake,
                                              MsgStop, MsgClear, MsgUpdate, MsgReinit};
    for (const MessageIndex index : kOrder) {
        if (m_ctx.Block->MessageIds[index] != 0 && msg.Msg == m_ctx.Block->MessageIds[index]) {
            if (m_held && index != MsgReinit) {
                // Versions are moving to another folder: nothing may make or touch one now.
                Log(std::string(kMessageNames[index]) + " refused: the backup folder is being moved");
                return true;
            }
            try {
                Dispatch(index, msg.WParam);
                // A request's changes of the list are written when it ends.
                if (m_ctx.Items)
                    m_ctx.Items->FlushList();
            } catch (const IniWriteError& e) {
                Log(std::string(kMessageNames[index]) + ": " + e.what());
                m_ctx.Host->ShowMessage(BoxKind::Error, e.what(), BoxButtons::Ok);
            } catch (const std::exception& e) {
                ReportFailure(index, e.what());
            } catch (...) {
                ReportFailure(index, "unknown error");
            }
            return true;
        }
    }
    return false;
}

void AgentCommands::ReportFailure(int index, const std::string& what)
{
    Log(std::string(kMessageNames[index]) + " failed: " + what);
    // Once per cause: a client that repeats a failing request must not bury the user in
    // balloons, but a failure of another kind is news.
    std::string told = std::string(kMessageNames[index]) + '\n' + what;
    if (told == m_failureTold)
        return;
    m_failureTold = std::move(told);
    m_ctx.Host->SetBalloonTitle("A request failed");
    m_ctx.Host->SetBalloonText(what);
    m_ctx.Host->ShowBalloon();
}

void AgentCommands::Dispatch(int index, std::uint32_t wParam)
{
    switch (index) {
    case MsgAdd:
        if (wParam == 1)
            AddBulk();
        else
            AddSingle();
        break;
    case MsgOpen:
        Open();
        break;
    case MsgDelete:
        Delete();
        break;
    case MsgStart:
        StartStop(true);
        break;
    case MsgMake:
        Make();
        break;
    case MsgStop:
        StartStop(false);
        break;
    case MsgClear:
        Clear();
        break;
    case MsgUpdate:
        Update(wParam);
        break;
    case MsgReinit:
        if (wParam == kReinitHold) {
            Hold();
            break;
        }
        if (m_ctx.Reinit)
            m_ctx.Reinit();
        ReleaseHold();
        break;
    default:
        break;
    }
}

void AgentCommands::Hold()
{
    if (!m_held) {
        m_held = true;
        m_heldFolders.clear();
        // A watch not started yet after the start of the agent is held as well: the hold
        // drops it, and the release starts it.
        std::unordered_set<const TRKMonFolder*> waiting;
        for (const auto& folder : m_ctx.Items->LoadedWatchesLeft())
            waiting.insert(folder.get());
        for (const auto& folder : m_ctx.Items->Folders()) {
            if (folder->WatchThread() || (waiting.count(folder.get()) && folder->Monitored()))
                m_heldFolders.push_back(folder->Path());
        }
        // Joined: a version a thread was making is whole before the hold is confirmed.
        m_ctx.Items->StopAllWatches();
        Log("making versions is on hold while the backup folder moves");
        if (m_ctx.HoldChanged)
            m_ctx.HoldChanged(true);
    }
    // The confirmation the monitor waits for.
    m_ctx.Block->PathArg[0] = '\0';
}

void AgentCommands::ReleaseHold()
{
    if (!m_held)
        return;
    m_held = false;
    for (const std::string& path : m_heldFolders) {
        if (const auto folder = m_ctx.Items->FolderByPath(path); folder && folder->Monitored())
            folder->StartWatch();
    }
    m_heldFolders.clear();
    // A monitor that died as its move ended left the move's note in what is now the
    // backup folder in use.
    if (m_ctx.BackupRoot && RemoveEndedMoveNote(m_ctx.BackupRoot()))
        Log("removed the note of a backup move that had ended");
    Log("making versions goes on");
    if (m_ctx.HoldChanged)
        m_ctx.HoldChanged(false);
}

std::optional<std::string> AgentCommands::TakePathArg() const
{
    char* arg = m_ctx.Block->PathArg;
    const bool ended = std::memchr(arg, '\0', sizeof m_ctx.Block->PathArg) != nullptr;
    std::string text = ended ? m_ctx.Block->PathArgText() : std::string();
    // Emptied once read: a client that waits for this before it writes its next request
    // never has one request carried out with the next one's argument.
    arg[0] = '\0';
    if (!ended) {
        Log("request ignored: the path argument has no terminating NUL byte");
        return std::nullopt;
    }
    return text;
}

bool AgentCommands::PathArgument(std::string& path) const
{
    const std::optional<std::string> arg = TakePathArg();
    if (!arg)
        return false;
    path = *arg;
    const PathProblem problem = CheckPathForm(path);
    if (problem != PathProblem::None) {
        Log(std::string("request ignored: ") + PathProblemText(problem));
        return false;
    }
    return true;
}

std::shared_ptr<TRKMonItem> AgentCommands::FileArgument() const
{
    std::string path;
    if (!PathArgument(path) || IsFolderPath(path))
        return nullptr;
    return m_ctx.Items->FileByPath(path);
}

bool AgentCommands::Refused(const std::string& path)
{
    const PathProblem problem = CheckAddPath(path, m_ctx.HomeDir(), m_ctx.BackupRoot());
    if (problem == PathProblem::None)
        return false;
    Log("refused to add " + path + ": " + PathProblemText(problem));
    if (IsRefusalShownToUser(problem)) {
        EngineHost& host = *m_ctx.Host;
        host.ShowMainWindow();
        host.BringMainWindowToFront();
        host.ShowMessage(BoxKind::Warning, m_ctx.Block->Text(TxtMesSystemFolder), BoxButtons::Ok);
        host.HideMainWindow();
    }
    return true;
}

std::string AgentCommands::Described(const TRKMonItem& item) const
{
    const std::size_t versions = CountItemVersions(m_ctx.Block->Settings, item.Data());
    return item.Path() + " (history " + item.FileID() + ", " + std::to_string(versions) +
           (versions == 1 ? " version" : " versions") + ")";
}

bool AgentCommands::EchoCondition() const
{
    // The monitor's own requests are answered too: it changes its views only on the
    // answer, so a request that never arrived leaves them in agreement with this list.
    return m_ctx.Block->MonitorRunning;
}

void AgentCommands::Echo(MessageIndex msg, const TRKMonItem& item)
{
    if (msg == MsgAdd)
        m_ctx.Items->FlushBeforeMonitor();
    m_ctx.Reports->Post(msg, item.Data());
}

void AgentCommands::AddItem(const TMonItemRecord& record)
{
    bool made = false;
    const std::shared_ptr<TRKMonItem> item =
        m_ctx.Items->Add(record, "", TRKMonItems::AddedBy::Request, &made);
    if (!item)
        return;
    item->Start();
    // A file its folder's scan has just found is announced by that scan.
    const bool announced = !made && item->TakeScanAnnouncement();
    if (m_ctx.Block->MonitorRunning && !announced)
        Echo(MsgAdd, *item);
    item->Save();
}

void AgentCommands::AddSingle()
{
    // The monitor's record: it may hold an over-long or unfinished path only if the
    // writer was not ours, so its path goes through the same tests as any other.
    TMonItemRecord record = m_ctx.Block->ItemRecord;
    m_ctx.Block->ReleaseRequestRecord();
    const std::string path = record.Path.Get();
    if (path.empty())
        return;
    if (Refused(path))
        return;
    record.IsFolder = IsFolderPath(path);
    AddItem(record);
}

std::vector<std::string> AgentCommands::SplitPathList(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            if (end < text.size())
                Log("path list line " + std::to_string(number) + " is empty: skipped");
        } else if (!FitsShortText(line)) {
            Log("path list line " + std::to_string(number) + " is longer than 255 bytes: skipped");
        } else {
            lines.push_back(line);
        }
        if (end == text.size())
            break;
        start = end + 1;
    }
    return lines;
}

void AgentCommands::AddBulk()
{
    std::string text;
    {
        std::optional<NamedMapping> list = NamedMapping::OpenExisting(kBulkPathsName);
        if (!list) {
            Log(std::string("bulk add: no \"") + kBulkPathsName + "\" list exists");
            if (!std::exchange(m_bulkFailureShown, true))
                m_ctx.Host->ShowMessage(BoxKind::Information, "Failed", BoxButtons::Ok);
            return;
        }
        const char* data = static_cast<const char*>(list->Data());
        text.assign(data, strnlen(data, list->Size()));
    }
    for (std::string path : SplitPathList(text)) {
        const bool folder = IsFolderPath(path) || DirectoryExists(path);
        if (folder)
            path = WithTrailingSep(path);
        if (Refused(path))
            continue;
        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set(path);
        record.IsFolder = folder;
        record.IsWholeFolder = true;
        record.UseTemplates = false;
        record.IsSaved = false;
        try {
            AddItem(record);
        } catch (const IniWriteError&) {
            throw;
        } catch (const std::exception& e) {
            Log("bulk add of " + path + " failed: " + e.what());
        }
    }
}

void AgentCommands::Open()
{
    const std::optional<std::string> arg = TakePathArg();
    if (!arg)
        return;
    const OpenCommand command = OpenCommand::Parse(*arg);
    if (command.File.empty())
        return;
    if (!RunProgram(command.File, command.Parameters, command.Directory))
        Log("OPEN could not start " + command.File);
}

void AgentCommands::Delete()
{
    std::string path;
    if (!PathArgument(path))
        return;
    TRKMonItems& items = *m_ctx.Items;
    if (IsFolderPath(path)) {
        const std::shared_ptr<TRKMonFolder> folder = items.FolderByPath(path);
        if (!folder)
            return;
        // The monitor removes a folder from its views only on this answer, so it comes once
        // the history is gone.
        items.RemoveFolderItem(folder);
        Echo(MsgDelete, *folder);
        return;
    }
    const std::shared_ptr<TRKMonItem> item = items.FileByPath(path);
    if (!item)
        return;
    const bool echo = EchoCondition();
    items.RemoveFileItem(item);
    if (echo)
        Echo(MsgDelete, *item);
}

void AgentCommands::StartStop(bool start)
{
    std::string path;
    if (!PathArgument(path))
        return;
    TRKMonItems& items = *m_ctx.Items;
    std::shared_ptr<TRKMonItem> item;
    if (IsFolderPath(path)) {
        const std::shared_ptr<TRKMonFolder> folder = items.FolderByPath(path);
        if (!folder)
            return;
        if (start)
            folder->StartWatch();
        else
            folder->StopWatch();
        item = folder;
    } else {
        item = items.FileByPath(path);
        if (!item)
            return;
        if (start)
            item->Start();
        else
            item->Stop();
    }
    item->Save();
    if (EchoCondition())
        Echo(start ? MsgStart : MsgStop, *item);
}

void AgentCommands::Make()
{
    const std::shared_ptr<TRKMonItem> item = FileArgument();
    if (!item)
        return;
    const VersionResult result = item->MakeVersion(true);
    if (result.Outcome == VersionOutcome::WriteFailed)
        item->ReportWriteFailure(result.Error);
    if (result.Outcome == VersionOutcome::SourceGone) {
        ReportUnreadable(*item, result.Error);
        return;
    }
    if (result.Outcome == VersionOutcome::Changing)
        return; // answered by the item
    item->AfterVersion(true);
}

void AgentCommands::ReportUnreadable(TRKMonItem& item, int error)
{
    const std::string path = item.Path();
    // Gone: the item is shown missing, with the box and answer every missing file gets.
    if (!FileExists(path) && item.Data().MonStatus != msBroken && !item.CheckExists(true))
        return;
    // Not readable (or already shown broken): the user asked for this version and hears
    // why there is none; the monitor's row takes the item's state from the answer.
    const std::string reason = std::system_category().message(error ? error : EIO);
    Log("no version of " + path + " was made: " + reason);
    EngineHost& host = *m_ctx.Host;
    host.ShowMainWindow();
    host.BringMainWindowToFront();
    host.ShowMessage(BoxKind::Warning, "No version of " + path + " was made: " + reason + ".",
                     BoxButtons::Ok);
    host.HideMainWindow();
    if (EchoCondition())
        Echo(MsgVersion, item);
}

void AgentCommands::Clear()
{
    const std::shared_ptr<TRKMonItem> item = FileArgument();
    if (!item)
        return;
    item->DeleteVersionsBefore(item->LastTime());
    Echo(MsgVersion, *item);
}

void AgentCommands::SaveDefaults(const TMonItemRecord& record)
{
    // Written beside the item rather than by renaming the item for a moment: a watch
    // thread saving the item meanwhile must never see the defaults' name.
    TMonItemRecord defaults = record;
    defaults.Path.Set(kDefaultSection);
    // The defaults are options only; they must never name an item's history.
    defaults.FileID.Set("");
    IniFile list(m_ctx.Items->ListFile());
    WriteItemRecord(defaults, list, nullptr);
    list.Flush();
}

void AgentCommands::Update(std::uint32_t wParam)
{
    TMonItemRecord record = m_ctx.Block->ItemRecord;
    m_ctx.Block->ReleaseRequestRecord();
    // Checked whole first: a record applied up to a bad value would stay in memory and
    // fail every later save of the item.
    if (const std::string problem = RecordProblem(record); !problem.empty()) {
        std::string id = record.FileID.Get();
        std::replace_if(
            id.begin(), id.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
        Log("UPDATE of item " + id + " refused: " + problem);
        return;
    }
    if (record.IsFolder) {
        UpdateFolder(record, wParam);
        return;
    }
    TRKMonItems& items = *m_ctx.Items;
    const std::shared_ptr<TRKMonItem> item = items.GetFile(items.FindByFileID(record.FileID.Get()));
    if (!item)
        return;
    const std::string newPath = record.Path.Get();
    const bool moved = item->Path() != newPath;
    if (moved) {
        if (Refused(newPath))
            return;
        const std::string oldPath = item->Path();
        const std::shared_ptr<TRKMonItem> other = items.FileByPath(newPath);
        const std::string removed = other && other != item ? Described(*other) : std::string();
        item->Reassign(newPath);
        if (!removed.empty())
            Log("reassigning " + oldPath + " to " + newPath + " removed the item there: " + removed);
    }
    // The monitor's record may predate the last versions made. What only the agent keeps
    // (its numbering, its counters and its last version) stays as the agent has it: a
    // numbering moved back would land on existing version folders, and a stale last
    // version would make the current state of the file a second time. One step, so a
    // version made by a watch thread meanwhile is not undone.
    record.IsFolder = false;
    item->UpdateData([&record](TMonItemRecord& r) {
        TMonItemRecord merged = record;
        merged.VersionNum = std::max(record.VersionNum, r.VersionNum);
        merged.LastTime = r.LastTime;
        merged.LastVersionPath = r.LastVersionPath;
        merged.NameModeNumberCount = r.NameModeNumberCount;
        merged.MonModeNumberCount = r.MonModeNumberCount;
        r = merged;
    });
    if (wParam > 0)
        SaveDefaults(record);
    item->Save();
    // The monitor shows a file at its new place only on this answer: an ADD with the
    // item's FileID, which it knows as the item it already has.
    if (moved && EchoCondition())
        Echo(MsgAdd, *item);
}

void AgentCommands::UpdateFolder(const TMonItemRecord& incoming, std::uint32_t wParam)
{
    TRKMonItems& items = *m_ctx.Items;
    TMonItemRecord record = incoming;
    const std::string fileId = record.FileID.Get();
    const std::string newPath = record.Path.Get();
    std::shared_ptr<TRKMonFolder> folder;
    if (!fileId.empty()) {
        for (const auto& f : items.Folders()) {
            if (f->FileID() == fileId)
                folder = f;
        }
    }
    if (!folder)
        folder = items.FolderByPath(newPath);
    if (!folder)
        return;
    if (folder->Path() != newPath && Refused(newPath))
        return;

    folder->StopWatch();
    const bool moved = folder->Path() != newPath;
    if (moved) {
        const std::string oldPath = folder->Path();
        const std::shared_ptr<TRKMonFolder> other = items.FolderByPath(newPath);
        std::string removed;
        if (other && other != folder) {
            removed = other->Path() + " with " + std::to_string(other->Files().size()) + " files";
            for (const auto& member : other->Files())
                removed += "; " + Described(*member);
        }
        try {
            folder->Reassign(newPath);
        } catch (...) {
            // Refused before anything moved: the folder goes on as it was.
            if (folder->Monitored())
                folder->StartWatch();
            throw;
        }
        if (!removed.empty())
            Log("reassigning " + oldPath + " to " + newPath + " removed the folder there: " + removed);
    }
    const TMonItemRecord current = folder->Data();
    record.FileID = current.FileID;
    record.VersionNum = std::max(record.VersionNum, current.VersionNum);
    record.IsFolder = true;
    if (record.FileID.Empty())
        record.FileID.Set(NewFileId(m_ctx.BackupRoot(), items.ListFile()));
    folder->SetData(record);
    if (wParam > 0)
        SaveDefaults(record);
    // A stopped folder whose options change stays stopped.
    if (record.Monitored)
        folder->StartWatch();
    folder->Save();
    // The monitor moves the folder in its tree, and takes its new options, only on this
    // answer, so a place or options refused above never show there.
    if (m_ctx.Block->MonitorRunning)
        Echo(MsgAdd, *folder);
}

} // namespace morvane
