#include "agent/RequestPaths.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace morvane {

namespace {

// Components of the canonical form of path; the empty element a trailing "/" leaves is
// dropped, so a folder with and without its separator compare equal.
std::vector<std::string> CanonicalComponents(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec)
        canonical = std::filesystem::path(path);
    canonical = canonical.lexically_normal();
    std::vector<std::string> parts;
    for (const auto& part : canonical) {
        if (!part.empty())
            parts.push_back(part.string());
    }
    return parts;
}

} // namespace

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

bool IsInsideFolder(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.empty())
        return false;
    const std::vector<std::string> inner = CanonicalComponents(path);
    const std::vector<std::string> outer = CanonicalComponents(folder);
    if (outer.empty() || outer.size() > inner.size())
        return false;
    for (std::size_t i = 0; i < outer.size(); ++i) {
        if (inner[i] != outer[i])
            return false;
    }
    return true;
}

PathProblem CheckAddPath(const std::string& path, const std::string& homeDir, const std::string& backupRoot)
{
    const PathProblem form = CheckPathForm(path);
    if (form != PathProblem::None)
        return form;
    if (path.find_first_of("[]") != std::string::npos)
        return PathProblem::Bracket;
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
