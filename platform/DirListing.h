#pragma once

#include "platform/OwnedFd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace morvane {

struct DirEntry
{
    std::string Name;
    bool IsDir = false;
    bool IsRegular = false; // only regular files are ever opened
    bool IsHidden = false;  // the name begins with "."
    double ModTime = 0;     // local modification time as an OLE date, whole seconds
};

// Symbolic links are followed only when they belong to the user or to root, each link of
// a chain: in a folder another user can write, that user's link would otherwise choose
// what is read, listed and stored. A link refused is neither folder nor regular file, and
// is logged once. Links in the folders above the last name are the kernel's to follow.

// Every entry of folder except "." and "..", in directory order; symbolic links are
// followed for the type and time as above. An unreadable or missing folder (or one
// reached through a refused link) gives an empty list.
std::vector<DirEntry> ListDir(const std::string& folder);

// The entry of one name in folder (ends with "/"), as ListDir would give it; nothing when
// no such entry exists (or it is "." or "..").
std::optional<DirEntry> StatEntry(const std::string& folder, const std::string& name);

// Mask match: "*" and "?" wildcards, ignoring case; "*.*" matches every name.
bool MatchesMask(const std::string& name, const std::string& mask);

bool FileExists(const std::string& path);      // a regular file (after allowed links)
bool DirectoryExists(const std::string& path); // a folder (after allowed links)

// The status of what path names, through allowed links only: 0, or the errno of the
// failure, ELOOP for a refused link (or too long a chain). Any thread.
int StatFollowingOwnLinks(const std::string& path, struct stat& st);

// Opens path for reading when it is a regular file reached as StatFollowingOwnLinks reaches
// it, and only when what opened is the file looked at (same device and inode), so a swap
// in between never gets read. A FIFO or device is never opened. 0 with fd and st set, or
// ELOOP (refused link), EINVAL (not a regular file), EAGAIN (swapped while opened) or the
// errno of the failure. Any thread.
int OpenRegularFile(const std::string& path, OwnedFd& fd, struct stat& st);

// Whose links are followed besides root's: the effective user unless set. Tests set
// another user, so that links they make stand for another user's. Returns the one before.
uid_t FollowLinksOf(uid_t user);

} // namespace morvane
