#include "platform/FileStamp.h"

#include "platform/DirListing.h"

#include <sys/stat.h>

namespace morvane {

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat st = {};
    if (StatFollowingOwnLinks(path, st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(st.st_size)};
}

} // namespace morvane
