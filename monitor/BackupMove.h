#pragma once

#include <functional>
#include <string>
#include <vector>

namespace morvane {
class TkitFileOperation;
}

namespace morvane::monitor {

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
    int Moved = 0;           // item folders moved by this run
    int Remaining = 0;       // item folders still in the old folder
    int WithoutVersions = 0; // items with nothing stored (or moved by an earlier run)
    std::string Text;        // what the user is told
};

// Moves every item's stored versions, and the backup index, from the backup folder in use
// to another one, then names the new folder in the settings. Item by item: a stop part-way
// (cancel, error, crash) leaves every version in exactly one of the two folders and the
// setting naming the old one; running the move again to the same folder finishes it.
// Nothing that exists at the destination is ever replaced: a folder named like an item's
// that this move did not make stops that item. A note file in the destination records
// the move while it is unfinished. Main thread; the file work shows its own progress.
class BackupMove
{
public:
    // The name of the note of an unfinished move, in the destination.
    static constexpr const char* kNoteName = ".morvane-move";

    // "" when the destination can take the versions, else why not. The destination must
    // be a folder or creatable, writable, outside the old backup folder and outside every
    // watched folder, with room for what has to be copied. A folder made here is removed
    // again when the check refuses.
    static std::string CheckDestination(const BackupMovePlan& plan);

    // Checks, holds the agent, moves, writes the setting, releases the agent. op carries
    // the progress dialog and the cancel; its list and destination are set here.
    static BackupMoveResult Run(const BackupMovePlan& plan, TkitFileOperation& op);
};

} // namespace morvane::monitor
