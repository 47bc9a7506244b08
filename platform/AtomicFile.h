#pragma once

#include "platform/OwnedFd.h"

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace morvane {

// One file written whole or not at all: the bytes go to a temporary file in the target's
// folder, which Commit flushes to disk, gives the target's name and makes durable with a
// flush of the folder. Until then the target is untouched; a failure or a Discard removes
// the temporary file, so nothing but a crash leaves one behind, under a name the folders
// that receive such files recognise as a leftover. Owns the temporary file and its
// descriptor; one thread at a time. Failures are errno values (0: done), never thrown.
class AtomicFile
{
public:
    // How the temporary file is named, so that the cleaning of its folder can tell it apart.
    enum class TempName
    {
        Hidden,  // "." + name + "." + 6 random letters or digits + ".part" (copies, versions)
        Numbered // name + ".tmp." + process id + "." + 8 lower-case hex digits (lists, settings)
    };
    enum class Placement
    {
        Replace,  // an existing target is replaced in one step
        NoReplace // an existing target stays as it is and Commit fails with EEXIST
    };

    AtomicFile() = default;
    ~AtomicFile() { Discard(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file (mode 0600, write only) beside target; a file begun
    // before is discarded first.
    int Begin(const std::string& target, TempName temp);
    int Fd() const { return m_fd.Get(); }
    const std::string& TempPath() const { return m_temp; }
    const std::string& Target() const { return m_target; }
    // Writes all of bytes at the current offset (retrying short writes).
    int Write(std::string_view bytes);
    // Empties the temporary file and moves back to its start, for another attempt.
    int Rewind();
    // Gives the file mode, flushes it, names it Target() and flushes the folder. The file
    // is closed afterwards whatever the outcome; on failure the temporary file is gone.
    int Commit(Placement placement, mode_t mode);
    // The written file as it was named (valid after a Commit that succeeded).
    const struct stat& Written() const { return m_written; }
    // Removes the temporary file (nothing after a Commit).
    void Discard();

private:
    OwnedFd m_fd;
    OwnedFd m_folder;
    std::string m_target;
    std::string m_temp; // empty once it has the target's name or is gone
    struct stat m_written = {};
};

// The mode a replacement of path should carry: the existing file's own permission bits,
// or newMode when there is none.
mode_t ModeForReplacing(const std::string& path, mode_t newMode = 0600);

// Writes bytes to path through an AtomicFile that replaces the old file, keeping its mode
// (newMode for a new file). 0 or the errno of the failed step; on failure the old file is
// whole and no temporary file stays.
int WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newMode = 0600,
                        AtomicFile::TempName temp = AtomicFile::TempName::Numbered);

} // namespace morvane
