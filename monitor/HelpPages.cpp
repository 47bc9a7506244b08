#include "monitor/HelpPages.h"

#include "platform/DirListing.h"
#include "platform/Paths.h"

namespace morvane::monitor {

std::string ProgramHelpFolder()
{
    return ProgramDir() + kHelpFolderName + std::string(kPathSepText);
}

std::string InstalledHelpFolder()
{
    return ShareDir() + kHelpFolderName + std::string(kPathSepText);
}

std::string HelpPagePath()
{
    for (const std::string& folder : {ProgramHelpFolder(), InstalledHelpFolder()}) {
        if (FileExists(folder + kHelpPage))
            return folder + kHelpPage;
    }
    return {};
}

} // namespace morvane::monitor
