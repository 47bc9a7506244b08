#pragma once

#include "engine/ItemRecordIO.h"

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class QWidget;

namespace morvane::monitor {

// The section of a language file that holds the texts of backup moves.
inline constexpr const char* kMoveTextSection = "MoveMessages";

// A text of the move in the chosen language: key of kMoveTextSection in languageFile (or in
// the shipped file of its language), else english; "%1" to "%9" take args in order.
std::string MoveText(const std::string& languageFile, const char* key, const char* english,
                     std::initializer_list<std::string> args = {});

// One file item whose stored versions move: its backup folder name and its path (for the
// backup index).
struct BackupItem
{
    std::string FileID;
    std::string Path;
};

struct BackupMovePlan
{
    std::string OldRoot; // the backup folder in use, ending with "/"
    std::string NewRoot; // the chosen destination
    std::vector<BackupItem> Items;
    std::vector<std::string> WatchedFolders; // folder items' paths: no backup may lie there
    std::string SettingsFile;                // where BackupPath is written at the end
    std::string LanguageFile;                // the user's file of the chosen language ("": English)
    // Asks the agent to make no version until Release; false when it did not confirm.
    std::function<bool()> Hold;
    // Lets the agent go on (it reloads its settings, so takes up a new BackupPath).
    std::function<void()> Release;
};

struct BackupMoveResult
{
    enum Kind
    {
        Done,      // every version is in the new folder and the setting names it
        Refused,   // nothing was changed
        Cancelled, // stopped by the user part-way; the setting names the old folder
        Failed     // stopped by an error part-way; the setting names the old folder
    };
    Kind Outcome = Refused;
    int Moved = 0;           // item folders moved by this run (and not brought back)
    int Remaining = 0;       // item folders still in the old folder
    int BroughtBack = 0;     // item folders a cancel moved back to the old folder
    int WithoutVersions = 0; // items with nothing stored (or moved by an earlier run)
    std::string Text;        // what the user is told
};

// What the user and tests have of a running move: its cancel, where its progress window
// belongs, and a hook after every file. Cancel may be called from any thread.
class BackupMoveControl
{
public:
    void Cancel() { m_cancel.store(true); }
    bool CancelRequested() const { return m_cancel.load(); }
    void Reset() { m_cancel.store(false); }
    // Test hook: called on the worker thread after each file (or folder renamed whole)
    // with the number handled so far.
    void SetAfterFileHook(std::function<void(int filesDone)> hook) { m_afterFile = std::move(hook); }
    const std::function<void(int)>& AfterFileHook() const { return m_afterFile; }

    QWidget* Parent = nullptr; // the progress window's owner
    bool Silent = false;       // no progress window

private:
    std::atomic<bool> m_cancel{false};
    std::function<void(int)> m_afterFile;
};

// Moves every item's stored versions, and the backup index, from the backup folder in use
// to another one, then names the new folder in the settings. Item by item, file by file
// into item folders that may exist already (versions made while an earlier run was
// stopped): a stop part-way by an error or a crash leaves every version whole in exactly
// one of the two folders, the setting naming the old one and the unfinished move recorded
// in the settings (so new version numbers pass both folders); running the move again to
// the same folder finishes it. A cancel moves back what this run had moved. Nothing that
// exists is ever replaced: a folder named like an item's that this move did not make
// stops that item. Between file systems, copies become durable a batch at a time, before
// their sources go. A note file in the destination records the move while it is
// unfinished. Main thread; the file work runs on a worker behind a progress window.
class BackupMove
{
public:
    // The name of the note of an unfinished move, in the destination.
    static constexpr const char* kNoteName = kMoveNoteName;

    // "" when the destination can take the versions, else why not. The destination must
    // be a folder or creatable, writable, outside the old backup folder and outside every
    // watched folder, with room for what has to be copied. A folder made here is removed
    // again when the check refuses.
    static std::string CheckDestination(const BackupMovePlan& plan);

    // What the monitor says of a move to target that was left unfinished (at its start and
    // in its dialogs); oldRoot is the backup folder in use.
    static std::string UnfinishedText(const std::string& languageFile, const std::string& target,
                                      const std::string& oldRoot);

    // Checks, holds the agent, moves, writes the setting, releases the agent.
    static BackupMoveResult Run(const BackupMovePlan& plan, BackupMoveControl& control);
};

} // namespace morvane::monitor
