#pragma once

#include <string>

namespace morvane::monitor {

// The help pages are HTML files shipped with the programs: the folder "_Help" beside the
// program in the build tree, else the one in the install's share folder, found from
// where the program lies.
inline constexpr const char* kHelpFolderName = "_Help";
inline constexpr const char* kHelpPage = "PellaryHelp.html";

// The folders looked in, in order, each ending with "/".
std::string ProgramHelpFolder();
std::string InstalledHelpFolder();

// The first page of the help: the first of the two folders that holds it; "" when
// neither does. Any thread.
std::string HelpPagePath();

} // namespace morvane::monitor
