#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// Every entry of folder except "." and "..", in directory order; symbolic links are
// followed for the type and time. An unreadable or missing folder gives an empty list.
std::vector<DirEntry> ListDir(const std::string& folder);

// The entry of one name in folder (ends with "/"), as ListDir would give it; nothing when
// no such entry exists (or it is "." or "..").
std::optional<DirEntry> StatEntry(const std::string& folder, const std::string& name);

// Mask match: "*" and "?" wildcards, ignoring case; "*.*" matches every name.
bool MatchesMask(const std::string& name, const std::string& mask);

bool FileExists(const std::string& path);      // a regular file (after symlinks)
bool DirectoryExists(const std::string& path); // a folder (after symlinks)

} // namespace morvane
