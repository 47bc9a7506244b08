#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

// What tells one saved state of a file from another without reading it: the modification
// time to the nanosecond and the size. A version copy keeps its source's time, so a file
// and its last version have equal stamps exactly when the file was not saved since.
struct FileStamp
{
    std::int64_t MtimeNs = 0;
    std::int64_t Size = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of a regular file (links followed as StatFollowingOwnLinks allows); nothing
// when it is missing, not a regular file or behind a refused link. Any thread.
std::optional<FileStamp> StampOf(const std::string& path);

} // namespace morvane
