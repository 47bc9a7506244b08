#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

// Whole-tree operations on files and folders, for moving and copying lists of them. None
// of them ever replaces something that exists at a target: a folder that exists is merged
// into, a file that exists stops the work with TargetExists, unless it holds the same
// bytes with the same modification time (then it counts as already copied). Any thread.

enum class TreeStatus
{
    Ok,
    Cancelled,     // the cancel flag was set; what was done so far stays done
    SourceMissing, // the source does not exist
    TargetExists,  // another file already has a target's name; left alone
    Failed         // a system call failed; Error holds errno
};

struct TreeResult
{
    TreeStatus Status = TreeStatus::Ok;
    int Error = 0;
    std::string Path; // the entry the work stopped at (empty for Ok)
};

// Called after every regular file handled, with its path and size. Any thread (the one
// doing the work).
using TreeStep = std::function<void(const std::string& path, std::int64_t bytes)>;

// Moves source to target with one no-replace rename. Failed with EXDEV when the two lie
// on different file systems (the caller then copies and deletes), TargetExists when the
// target's name is taken.
TreeResult RenameNoReplace(const std::string& source, const std::string& target);

// Copies source (a file, a symbolic link or a folder with everything below it) to target.
// Every file goes through a temporary name and keeps its modification time; folders keep
// their modes and, once filled, their modification times. With removeSource each file is
// deleted as soon as its copy is in place and each folder once it is empty, so a stop
// part-way leaves every file in exactly one of the two trees (or, between a copy and the
// deletion, the same bytes in both). cancel (may be nullptr) is looked at before each file.
TreeResult CopyTree(const std::string& source, const std::string& target, bool removeSource,
                    const std::atomic<bool>* cancel, const TreeStep& step);

// Deletes path and everything below it for good.
TreeResult RemoveTree(const std::string& path, const std::atomic<bool>* cancel, const TreeStep& step);

// Total size of the regular files at or below path (0 when it does not exist).
std::int64_t TreeBytes(const std::string& path);

// True when both paths (or, for one that does not exist yet, its nearest existing parent)
// lie on one file system.
bool SameFileSystem(const std::string& a, const std::string& b);

// Bytes an ordinary user may still write on the file system of path (or of its nearest
// existing parent); nothing when it cannot be asked.
std::optional<std::int64_t> FreeBytes(const std::string& path);

// True when path lies inside folder or is folder itself, comparing canonical paths on
// whole components ("/home/u/backupx" is not inside "/home/u/backup/"). Symbolic links
// of the existing part of either path are resolved; "." and ".." are folded. An empty
// folder contains nothing.
bool IsInsideFolder(const std::string& path, const std::string& folder);

// True for the same file system object (device and inode); false when either is missing.
bool SameFile(const std::string& a, const std::string& b);

// Appends the names in folder other than "." and "..", read in one pass before anything
// changes; false when the folder cannot be opened.
bool ReadNames(const std::string& folder, std::vector<std::string>& names);

} // namespace morvane
