#pragma once

#include <string>

namespace morvane {

// Whether the file system holding path compresses files marked with FS_COMPR_FL. A path
// that does not exist yet is judged by its nearest existing parent folder; a volume that
// cannot be queried gives false. Any thread.
bool DriveSupportsCompression(const std::string& path);

// Switches compression on for the file or folder at path (format 0 switches it off; every
// other format means the file system's default). A folder passes it on to what is created
// in it later. Throws std::system_error with errno when the path cannot be opened or the
// file system refuses (EOPNOTSUPP where it has no compression). Any thread.
void SetFileCompression(const std::string& path, short format);

} // namespace morvane
