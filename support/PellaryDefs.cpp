#include "support/PellaryDefs.h"

#include "engine/ItemRecordIO.h"
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

bool AllDigits(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numeric order of all-digit names of any length (no overflow): 999 before 1000.
bool NumericLess(const std::string& a, const std::string& b)
{
    auto strip = [](const std::string& s) {
        const auto first = s.find_first_not_of('0');
        return first == std::string::npos ? std::string() : s.substr(first);
    };
    const std::string x = strip(a), y = strip(b);
    if (x.size() != y.size())
        return x.size() < y.size();
    if (x != y)
        return x < y;
    return a < b; // "01" and "001" both stand for 1: keep a stable, total order
}

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
    const std::string folder = WithTrailingSep(settings.BackupPath.Get()) + fileId + std::string(kPathSepText);
    const std::string dateFormat = settings.DateFormat.Get();
    const std::string program = item.ExecuterMode == emCustom ? item.Executer.Get() + " " : std::string();

    try {
        std::vector<std::string> versions;
        for (const DirEntry& e : ListDir(folder)) {
            if (e.IsDir && AllDigits(e.Name))
                versions.push_back(e.Name);
        }
        std::sort(versions.begin(), versions.end(), NumericLess);

        for (const std::string& v : versions) {
            const std::string versionFolder = folder + v + std::string(kPathSepText);
            std::vector<DirEntry> files = ListDir(versionFolder);
            std::sort(files.begin(), files.end(),
                      [](const DirEntry& a, const DirEntry& b) { return a.Name < b.Name; });
            for (const DirEntry& f : files) {
                // Only regular files are versions; a version still being written sits
                // under a temporary dot name and is not one yet.
                if (!f.IsRegular || IsCopyLeftover(f.Name))
                    continue;
                std::string label;
                if (settings.ShowDate)
                    label = FormatDateTime(dateFormat, f.ModTime);
                if (settings.ShowDate && settings.ShowFileName)
                    label += " | ";
                if (settings.ShowFileName)
                    label += f.Name;
                lines.push_back(SafeVersionLabel(label) + "=" + program + "\"" + versionFolder + f.Name + "\"");
            }
        }
    } catch (const std::exception&) {
        // A failing step ends the listing; the lines so far stay.
        return false;
    }
    return !lines.empty();
}

} // namespace morvane
