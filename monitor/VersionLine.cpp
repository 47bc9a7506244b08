#include "monitor/VersionLine.h"

#include "platform/Paths.h"

namespace morvane::monitor {

std::optional<VersionLine> ParseVersionLine(const std::string& line, const std::string& programPrefix)
{
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    VersionLine result;
    result.Label = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);

    std::string quoted;
    if (!programPrefix.empty() && value.size() > programPrefix.size() &&
        value.compare(0, programPrefix.size(), programPrefix) == 0 && value[programPrefix.size()] == '"') {
        result.Program = programPrefix;
        quoted = value.substr(programPrefix.size());
    } else {
        const auto quote = value.find('"');
        if (quote == std::string::npos)
            return std::nullopt;
        // Before the quote stands the item's own program or nothing: any other text
        // (a label that held "=") is never taken for a program to start.
        if (quote != 0)
            return std::nullopt;
        quoted = value;
    }
    if (quoted.size() < 3 || quoted.back() != '"')
        return std::nullopt;
    result.Path = quoted.substr(1, quoted.size() - 2);
    if (result.Path.front() != kPathSep || result.Path.back() == kPathSep)
        return std::nullopt;
    result.Folder = FolderPart(result.Path);
    return result;
}

} // namespace morvane::monitor
