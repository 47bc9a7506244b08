#pragma once

#include "platform/FileTree.h"

#include <string>
#include <string_view>

namespace morvane {

// Why a path that reached the agent from the shared block or "MV_Temp" is not used.
enum class PathProblem
{
    None,
    Empty,
    TooLong,      // more than 255 bytes: never stored cut
    ControlChar,  // a byte below 0x20 or 0x7F
    NotAbsolute,  // items are named by full paths only
    Bracket,      // "[" or "]": such a path cannot be a section of the list file
    InsideHome,   // inside the agent's home folder (settings, list, language files)
    InsideBackup, // inside the backup root: versions must never version themselves
};

// A short English description of a problem, for log lines.
const char* PathProblemText(PathProblem problem);

// The form test of a path argument: not empty, at most 255 bytes, no control characters,
// absolute. Any thread.
PathProblem CheckPathForm(std::string_view path);

// The refusal test of a path to be added as an item: the form test, then "[" and "]",
// then the home folder and the backup root. Any thread.
PathProblem CheckAddPath(const std::string& path, const std::string& homeDir, const std::string& backupRoot);

// True for the problems the user is told about with the refusal box; the others are
// malformed input, logged only.
bool IsRefusalShownToUser(PathProblem problem);

} // namespace morvane
