#include "support/PellaryDefs.h"

#include "engine/ItemRecordIO.h"
#include "engine/VersionStore.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <algorithm>
#include <exception>

namespace morvane {

namespace {

// U+FF1D FULLWIDTH EQUALS SIGN: reads like "=" but is not the line's separator.
constexpr const char* kEqualsLookAlike = "\xEF\xBC\x9D";

} // namespace

std::optional<SharedBlockMapping> IsAgentRunning()
{
    return SharedBlockMapping::OpenExisting();
}

std::string SafeVersionLabel(const std::string& label)
{
    std::string out;
    out.reserve(label.size());
    for (char c : label) {
        if (c == '=')
            out += kEqualsLookAlike;
        else
            out += c;
    }
    return out;
}

bool ListItemVersions(const SharedSettings& settings, const TMonItemRecord& item,
                      std::vector<std::string>& lines)
{
    lines.clear();
    const std::string fileId = item.FileID.Get();
    // A FileID from a stored record names a folder inside the backup root, nothing else.
    if (!IsPlainFolderName(fileId) || settings.BackupPath.Empty())
        return false;
    const std::string folder =
        WithTrailingSep(settings.BackupPath.Get()) + fileId + std::string(kPathSepText);
    const std::string dateFormat = settings.DateFormat.Get();
    const std::string program = item.ExecuterMode == emCustom ? item.Executer.Get() + " " : std::string();

    try {
        // Version folders in numeric order (999 before 1000), whatever the directory order.
        for (const VersionEntry& v : ListVersionFolders(folder)) {
            const std::string versionFolder = folder + v.Name + std::string(kPathSepText);
            std::vector<DirEntry> files = ListDir(versionFolder);
            std::sort(files.begin(), files.end(),
                      [](const DirEntry& a, const DirEntry& b) { return a.Name < b.Name; });
            for (const DirEntry& f : files) {
                // Only regular files are versions; a version still being written sits
                // in a staging folder and is not one yet.
                if (!f.IsRegular)
                    continue;
                std::string label;
                if (settings.ShowDate)
                    label = FormatDateTime(dateFormat, f.ModTime);
                if (settings.ShowDate && settings.ShowFileName)
                    label += " | ";
                if (settings.ShowFileName)
                    label += f.Name;
                lines.push_back(SafeVersionLabel(label) + "=" + program + "\"" + versionFolder + f.Name +
                                "\"");
            }
        }
    } catch (const std::exception&) {
        // A failing step ends the listing; the lines so far stay.
        return false;
    }
    return !lines.empty();
}

std::size_t CountItemVersions(const SharedSettings& settings, const TMonItemRecord& item)
{
    std::vector<std::string> lines;
    ListItemVersions(settings, item, lines);
    return lines.size();
}

} // namespace morvane
