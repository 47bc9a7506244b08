#pragma once

#include "engine/MonItemRecord.h"
#include "platform/DirListing.h"
#include "platform/OwnedFd.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace morvane {

// A version file is read-only, even for its owner: an editor that opens one cannot change
// history. Its folder stays writable by the owner, so pruning, clearing, moving and the
// trash still take it.
inline constexpr mode_t kVersionFileMode = 0400;

// The version folders of one item's backup folder (base, ending with "/"): names made of
// digits only, taken in numeric order (999 before 1000), never in directory order. A
// symbolic link is never a version folder, so nothing reached through one is touched.
// Any thread; failures of the file system are silent (pruning goes on without a word).

// True for a name of one or more digits and nothing else.
bool IsVersionFolderName(const std::string& name);
// Numeric order of version folder names ("999" < "1000", "007" == "7" sorts by text).
bool VersionNameLess(const std::string& a, const std::string& b);

struct VersionEntry
{
    std::string Name; // the folder's name, e.g. "042"
    double Time = 0;  // its modification time as an OLE date
    // Its version files (anything that is not a folder; a link is a file here, so a link
    // is deleted, never what it points to) and the staging folders of interrupted copies
    // (full paths), which are never versions.
    std::vector<DirEntry> Files;
    std::vector<std::string> Leftovers;
};
// The versions: the version folders that hold a version file. A folder holding nothing
// but the leftovers of a killed copy is no version: never counted, never listed.
std::vector<VersionEntry> ListVersionFolders(const std::string& base);
// Every version folder, versions or not.
std::vector<VersionEntry> ListStoredFolders(const std::string& base);
// Deletes the leftovers of interrupted copies in every item folder of backupRoot and
// removes the version folders they leave empty; returns how many went. Only run
// while no copy is under way (the agent's start).
int RemoveCopyLeftovers(const std::string& backupRoot);
// The highest version number among the folders (0 when there is none).
int HighestVersionNumber(const std::string& base);

struct VersionFolder
{
    int Number = 0;
    std::string Path; // base + the padded number, without a trailing "/"
    // The names of digits in base, this folder's among them: never fewer than the
    // version folders there are.
    int Stored = 0;
};
// Creates base and the version folder after versionNum, moving past any number that
// exists already (as a folder or a file) or that a higher folder has used. Nothing when
// a folder cannot be created; error (when given) then holds the errno, EOVERFLOW when
// the numbers are used up.
std::optional<VersionFolder> CreateNextVersionFolder(const std::string& base, int versionNum,
                                                     int* error = nullptr);

// Flushes of whole file systems, for writes that many files share: a descriptor of each
// file system that Add was given a file of is kept, so Flush works on after those files
// are closed. One thread at a time.
class FileSystemFlush
{
public:
    // Notes the file system of the open file fd; 0 or the errno.
    int Add(int fd);
    // Makes every write to those file systems so far durable (syncfs of each); 0 or the
    // errno of the first that failed.
    int Flush() const;

private:
    std::vector<std::pair<dev_t, OwnedFd>> m_systems;
};

// The name of a version file: the file's own name (nmOriginal); base + "(yy-mm-dd)" or
// "(yy-mm-dd hh-mm-ss)" + extension (nmDateTime, the time left out at midnight); base +
// "(v N)" + extension (nmVersionNumber). The extension runs from the last "." on; a name
// without a dot is all extension, so the insertion comes first.
std::string VersionFileName(const std::string& fileName, TNameMode mode, int count, double date);

// What a pruning deletes: files first, then folders (each removed only when empty).
struct PrunePlan
{
    std::vector<std::string> Files;
    std::vector<std::string> Leftovers; // staging folders of interrupted copies, deleted for good
    std::vector<std::string> Folders;
    // The newest surviving version file written at or after lastTime ("" when none).
    std::string Newest;
};
// Version folders older than threshold lose their files; a folder with no file of
// lastTime or later is removed, and base itself when no version stays. keepName (if not
// empty) names a version folder that is left whole. With cleanLeftovers the leftovers of
// interrupted copies go too (only when no copy of the item can be under way); without
// it a folder holding only leftovers is not touched.
PrunePlan PlanPruneBefore(const std::string& base, double threshold, double lastTime,
                          const std::string& keepName, bool cleanLeftovers = false);
// All but the n highest-numbered versions (n <= 0: all) lose their files and folders;
// keepName is left whole; folders that are no versions are not counted (and, with
// cleanLeftovers, removed with their leftovers).
PrunePlan PlanKeepLast(const std::string& base, int n, const std::string& keepName,
                       bool cleanLeftovers = false);
// What happens to the files of a plan: pruning deletes them for good; history that a
// user's command removes goes to the desktop trash, and is deleted only where there is none.
enum class Disposal
{
    Delete,
    Trash
};
void ApplyPrunePlan(const PrunePlan& plan, Disposal how = Disposal::Delete);

} // namespace morvane
