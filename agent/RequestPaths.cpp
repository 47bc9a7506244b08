#include "agent/RequestPaths.h"

namespace morvane {

const char* PathProblemText(PathProblem problem)
{
    switch (problem) {
    case PathProblem::None:
        return "accepted";
    case PathProblem::Empty:
        return "empty path";
    case PathProblem::TooLong:
        return "path longer than 255 bytes";
    case PathProblem::ControlChar:
        return "path holds a control character";
    case PathProblem::NotAbsolute:
        return "path is not absolute";
    case PathProblem::Bracket:
        return "path holds \"[\" or \"]\"";
    case PathProblem::InsideHome:
        return "path lies inside the agent's home folder";
    case PathProblem::InsideBackup:
        return "path lies inside the backup folder";
    }
    return "unknown problem";
}

PathProblem CheckPathForm(std::string_view path)
{
    if (path.empty())
        return PathProblem::Empty;
    if (path.size() > 255)
        return PathProblem::TooLong;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return PathProblem::ControlChar;
    }
    if (path.front() != '/')
        return PathProblem::NotAbsolute;
    return PathProblem::None;
}

PathProblem CheckAddPath(const std::string& path, const std::string& homeDir, const std::string& backupRoot)
{
    const PathProblem form = CheckPathForm(path);
    if (form != PathProblem::None)
        return form;
    if (IsInsideFolder(path, homeDir))
        return PathProblem::InsideHome;
    if (IsInsideFolder(path, backupRoot))
        return PathProblem::InsideBackup;
    return PathProblem::None;
}

bool IsRefusalShownToUser(PathProblem problem)
{
    return problem == PathProblem::Bracket || problem == PathProblem::InsideHome ||
           problem == PathProblem::InsideBackup;
}

} // namespace morvane
