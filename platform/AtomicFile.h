#pragma once

#include "platform/OwnedFd.h"

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace morvane {

// One file written whole or not at all. The bytes go to a file inside a staging folder
// of its own beside the target; Commit flushes it to disk, moves it to the target's name
// and makes that durable with a flush of the target's folder, then removes the staging
// folder. Until then the target is untouched; a failure or a Discard removes the file
// and its staging folder, so nothing but a crash leaves one behind.
//
// Or, where the file system has them, the bytes go to a file without a name in the
// target's folder, which Commit links under the target's name: nothing to make or remove
// beside the target, and a crash leaves nothing at all.
//
// Every temporary file of a copy, a version or a list write that has a name lives in such
// a staging folder, and
// that is the one rule by which a leftover is told apart: what we keep is always a file
// (versions, lists, settings) or a folder of digits (version folders), never a folder of
// the staging form, so a user's file of any name keeps all its versions.
//
// Owns the temporary file, its descriptors and the staging folder; one thread at a time.
// Failures are errno values (0: done), never thrown.
class AtomicFile
{
public:
    enum class Placement
    {
        Replace,  // an existing target is replaced in one step
        NoReplace // an existing target stays as it is and Commit fails with EEXIST
    };

    AtomicFile() = default;
    ~AtomicFile() { Discard(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    enum class Staging
    {
        Folder, // always a staging folder
        Unnamed // an unnamed file where the file system has them, else a staging folder
    };

    // Makes the staging folder (mode 0700) beside target and the temporary file (mode
    // 0600, write only) in it, or the unnamed file in target's folder; a file begun
    // before is discarded first.
    int Begin(const std::string& target, Staging staging = Staging::Folder);
    int Fd() const { return m_fd.Get(); }
    const std::string& Target() const { return m_target; }
    // Writes all of bytes at the current offset (retrying short writes).
    int Write(std::string_view bytes);
    // Empties the temporary file and moves back to its start, for another attempt.
    int Rewind();
    // When the flushes happen: at Commit, or later by the caller, who makes many files
    // durable at once (one flush of their whole file system) before anything relies on them.
    enum class Durability
    {
        AtCommit,
        Deferred
    };

    // Gives the file mode, flushes it, names it Target() and flushes the folder (neither
    // flush when deferred). The file is closed afterwards whatever the outcome; on
    // failure the temporary file is gone.
    int Commit(Placement placement, mode_t mode, Durability durability = Durability::AtCommit);
    // The written file as it was named (valid after a Commit that succeeded).
    const struct stat& Written() const { return m_written; }
    // Removes the temporary file and its staging folder (nothing after a Commit).
    void Discard();

private:
    int MakeStage();
    int NameUnnamed(Placement placement);
    int PlaceStaged(Placement placement);

    OwnedFd m_fd;
    OwnedFd m_folder; // the target's folder
    OwnedFd m_stage;  // the staging folder
    std::string m_target;
    std::string m_name;       // the target's name, also the temporary file's
    std::string m_stageName;  // empty once the staging folder is gone
    bool m_tempThere = false; // the temporary file has a name in the staging folder
    bool m_unnamed = false;   // m_fd is an unnamed file in m_folder
    struct stat m_written = {};
};

// Whether entry has the form of a staging folder's name: "." + a name (cut to fit) + "."
// + 6 letters or digits + ".part". Only the form: IsCopyLeftover also looks at the type.
bool IsStagingName(std::string_view entry);
// Whether entry has that form for a target called name.
bool IsStagingNameFor(std::string_view entry, std::string_view name);

// Whether name in folder is what an interrupted write or copy left: a folder (never a
// symbolic link) with a staging name. A file is never a leftover, whatever its name.
bool IsCopyLeftover(const std::string& folder, const std::string& name);
// Removes such a leftover: the files directly inside it, then the folder. A folder that
// holds anything else (a folder, which no write of ours makes) is left as it is. True
// when it is gone; the folder it lay in keeps its modification time. Only for a folder no
// write is using (at start, or after the copies into its folder ended).
bool RemoveCopyLeftover(const std::string& path);

// The mode a replacement of path should carry: the existing file's own permission bits,
// or newMode when there is none.
mode_t ModeForReplacing(const std::string& path, mode_t newMode = 0600);

// Writes bytes to path through an AtomicFile that replaces the old file, keeping its mode
// (newMode for a new file). 0 or the errno of the failed step; on failure the old file is
// whole and no temporary file stays.
int WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newMode = 0600);

} // namespace morvane
