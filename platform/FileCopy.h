#pragma once

#include "platform/AtomicFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace morvane {

enum class CopyStatus
{
    Ok,
    SourceMissing,    // the source does not exist (any more)
    SourceUnreadable, // it exists but cannot be opened or read
    NotRegular,       // a folder, FIFO, socket or device, or behind another user's link:
                      // never opened for reading
    TargetExists,     // something already has the target's name; it is left alone
    WriteFailed,      // the copy could not be written (disk full, folder missing ...)
    Changed,          // the source kept changing during every attempt
    Same              // the source holds the bytes of the compared file: nothing was written
};

struct CopyResult
{
    CopyStatus Status = CopyStatus::Ok;
    int Error = 0;              // errno of the failure, 0 for Ok, TargetExists and Changed
    std::int64_t Size = 0;      // bytes written (Ok only)
    std::int64_t ModTimeNs = 0; // the copy's modification time, ns since 1970 (Ok only)
};

// Copies source to target so that target either does not appear or appears whole, with
// the source's modification time: the bytes go to an AtomicFile (a file in a staging
// folder beside target), are flushed to disk and then given target's name, never
// replacing an existing target. The copy is the owner's alone: it
// gets the source's owner bits (and read and write), never group's or others'. A source whose size,
// modification time or identity changed while it was copied is copied again, at most maxAttempts times in
// all. The temporary file is removed on every failure; after a crash one may be left behind, in a staging
// folder that IsCopyLeftover recognises. afterCopy (may be empty) runs after the
// bytes of each attempt (1, 2, ...) were written, before the source is checked again. Any thread; blocks for
// the duration of the copy.
CopyResult CopyFileSafely(const std::string& source, const std::string& target, int maxAttempts = 3,
                          const std::function<void(int attempt)>& afterCopy = {});

struct CopyOptions
{
    int MaxAttempts = 3;
    // Runs after the bytes of each attempt (1, 2, ...) were written, before the source is
    // checked again (may be empty).
    std::function<void(int attempt)> AfterCopy;
    // When not empty: the source is first compared with this file, writing nothing.
    // When every byte matches, nothing is placed and the result is Same (the decision is
    // on the state compared: a source that changed meanwhile is compared again); else the
    // source is copied from its start. A file that is missing, unreadable or of another
    // size differs.
    // The state copied is checked as well, once the copy is steady: a copy that holds the
    // bytes of CompareWith is thrown away and the result is Same, so a file seen halfway
    // through a rewrite is never stored equal to the file compared.
    std::string CompareWith;
    // With CompareWith: a source (and a copy) of CompareWith's size counts as Same,
    // whatever its bytes.
    bool SizeOnly = false;
    // An existing target is replaced (keeping its mode) instead of refused.
    bool Replace = false;
    // The copy's mode when not 0 (a version is 0400: opening one never changes it); else
    // the source's owner bits with read and write, or with Replace the replaced file's.
    mode_t Mode = 0;
    // Where the bytes wait until the copy is whole: an unnamed file leaves nothing behind
    // after a crash and costs no folder of its own.
    AtomicFile::Staging Staging = AtomicFile::Staging::Folder;
    // When set, a copy that is Ok stays in this file, whole and steady but not named: the
    // caller commits it (to make many copies durable at once before they get their names).
    AtomicFile* Uncommitted = nullptr;
};
CopyResult CopyFileSafely(const std::string& source, const std::string& target, const CopyOptions& options);

// Whether two regular files hold the same bytes (sizes first, then the contents piece by
// piece); nothing when either cannot be opened or read, or is not a regular file.
std::optional<bool> FilesEqual(const std::string& a, const std::string& b);

// Thin wrappers without exceptions; false leaves errno set.
bool RemoveFile(const std::string& path);     // unlink: true when it was removed
bool RemoveEmptyDir(const std::string& path); // rmdir: true when it was removed
bool MakeDirs(const std::string& path);       // true when the folder exists afterwards
// Folders of the user's data (home, backup tree) are private: each folder these make gets
// mode 0700 exactly, whatever the umask; folders that exist are left as they are.
bool MakePrivateDirs(const std::string& path); // true when the folder exists afterwards
bool MakePrivateDir(const std::string& path);  // true when it was made (EEXIST when it was there)
// Takes group's and others' rights from a file or folder of the current user; a symbolic
// link is left alone, or with followOwnLink what it leads to when the link may be followed
// (DirListing.h). True when it is private afterwards.
bool RestrictToOwner(const std::string& path, bool followOwnLink = false);

} // namespace morvane
