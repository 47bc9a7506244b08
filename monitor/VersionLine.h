#pragma once

#include <optional>
#include <string>

namespace morvane::monitor {

// One line of the stored-version listing taken apart: label "=" value, the value being
// an optional program and a blank, then the version file's full path in double quotes.
struct VersionLine
{
    std::string Label;
    std::string Program; // with its trailing blank, or empty
    std::string Path;    // the version file
    std::string Folder;  // its folder, ending with "/"
};

// Splits a line at its first "=" (labels never hold one). When programPrefix (the item's
// custom program and a blank) opens the value, the path is everything after it, so a
// quote in the program or in the file name does not move the split; otherwise the value
// must be the quoted path alone. Nothing for any other line, so text that is not the
// item's program is never started.
std::optional<VersionLine> ParseVersionLine(const std::string& line, const std::string& programPrefix);

} // namespace morvane::monitor
