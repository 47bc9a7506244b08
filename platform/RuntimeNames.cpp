#include "platform/RuntimeNames.h"

#include "platform/OwnedFd.h"
#include "platform/Paths.h"

namespace morvane {

std::string RuntimeObjectPath(const std::string& name, std::string_view suffix)
{
    if (name.empty() || name == "." || name == ".." || name.find(kPathSep) != std::string::npos ||
        name.find('\0') != std::string::npos)
        ThrowSystemError(EINVAL, "invalid name for a named object: \"" + name + "\"");
    return RuntimeDir() + name + std::string(suffix);
}

} // namespace morvane
