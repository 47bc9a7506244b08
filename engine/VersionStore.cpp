#include "engine/VersionStore.h"

#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "platform/Trash.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

bool IsSymlink(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
}

std::string StripZeros(const std::string& digits)
{
    const auto first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string() : digits.substr(first);
}

// The number of a version folder name, or -1 when it is too large to continue from.
long long NumberOf(const std::string& name)
{
    const std::string digits = StripZeros(name);
    if (digits.size() > 10)
        return -1;
    const long long value = digits.empty() ? 0 : std::stoll(digits);
    return value < INT_MAX ? value : -1;
}

// Splits the entries of one version folder into version files and copy leftovers. A
// version is never a folder, so only a folder can be a leftover.
void ReadVersionFolder(const std::string& folder, VersionEntry& version)
{
    for (DirEntry& entry : ListDir(folder)) {
        const bool link = IsSymlink(folder + kPathSep + entry.Name);
        if (entry.IsDir && !link) {
            if (IsStagingName(entry.Name))
                version.Leftovers.push_back(folder + kPathSep + entry.Name);
            continue;
        }
        version.Files.push_back(std::move(entry));
    }
}

// A folder that is no version: its leftovers go when cleaning, and then the folder too.
void PlanNonVersion(const std::string& folder, const VersionEntry& version, bool clean, PrunePlan& plan)
{
    if (!clean && !version.Leftovers.empty())
        return;
    plan.Leftovers.insert(plan.Leftovers.end(), version.Leftovers.begin(), version.Leftovers.end());
    plan.Folders.push_back(folder);
}

struct VersionNames
{
    int Highest = 0; // the highest number (0 when there is none)
    int Count = 0;   // names of digits, whatever they are
};

// The numbers used in base, from the names alone: no entry is looked at. A folder that
// cannot be read has none (making a folder in it then tells why).
VersionNames ScanVersionNames(const std::string& base)
{
    VersionNames names;
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return names;
    long long highest = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsVersionFolderName(name))
            continue;
        ++names.Count;
        highest = std::max(highest, NumberOf(name));
    }
    ::closedir(dir);
    names.Highest = static_cast<int>(highest);
    return names;
}

} // namespace

bool IsVersionFolderName(const std::string& name)
{
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool VersionNameLess(const std::string& a, const std::string& b)
{
    const std::string x = StripZeros(a);
    const std::string y = StripZeros(b);
    if (x.size() != y.size())
        return x.size() < y.size();
    if (x != y)
        return x < y;
    return a < b;
}

std::vector<VersionEntry> ListStoredFolders(const std::string& base)
{
    std::vector<VersionEntry> versions;
    const std::string root = WithTrailingSep(base);
    for (const DirEntry& entry : ListDir(root)) {
        if (!entry.IsDir || !IsVersionFolderName(entry.Name) || IsSymlink(root + entry.Name))
            continue;
        VersionEntry version{entry.Name, entry.ModTime, {}, {}};
        ReadVersionFolder(root + entry.Name, version);
        versions.push_back(std::move(version));
    }
    std::sort(versions.begin(), versions.end(),
              [](const VersionEntry& a, const VersionEntry& b) { return VersionNameLess(a.Name, b.Name); });
    return versions;
}

std::vector<VersionEntry> ListVersionFolders(const std::string& base)
{
    std::vector<VersionEntry> versions = ListStoredFolders(base);
    std::erase_if(versions, [](const VersionEntry& v) { return v.Files.empty(); });
    return versions;
}

int RemoveCopyLeftovers(const std::string& backupRoot)
{
    int removed = 0;
    const std::string root = WithTrailingSep(backupRoot);
    for (const DirEntry& item : ListDir(root)) {
        if (!item.IsDir || !IsPlainFolderName(item.Name) || IsSymlink(root + item.Name))
            continue;
        const std::string base = root + item.Name + kPathSep;
        for (const VersionEntry& version : ListStoredFolders(base)) {
            for (const std::string& leftover : version.Leftovers)
                removed += RemoveCopyLeftover(leftover) ? 1 : 0;
            if (version.Files.empty() && !version.Leftovers.empty())
                RemoveEmptyDir(base + version.Name);
        }
    }
    return removed;
}

int HighestVersionNumber(const std::string& base)
{
    return ScanVersionNames(base).Highest;
}

std::optional<VersionFolder> CreateNextVersionFolder(const std::string& base, int versionNum, int* error)
{
    auto fail = [error](int err) -> std::optional<VersionFolder> {
        if (error)
            *error = err;
        return std::nullopt;
    };
    // The item's folder is there for every version but its first: one mkdir tells, and
    // only a first version of a first item walks up to make the parents.
    const std::string folder = WithoutTrailingSep(base);
    bool madeHere = MakePrivateDir(folder);
    if (!madeHere && errno == ENOENT) {
        if (!MakePrivateDirs(folder))
            return fail(errno);
    } else if (!madeHere && errno != EEXIST) {
        return fail(errno);
    }
    // A folder made just now is empty: nothing to look past. (Versions of one item are
    // made by one thread at a time; the EEXIST below covers anyone else.)
    const VersionNames stored = madeHere ? VersionNames{} : ScanVersionNames(folder);
    const int highest = stored.Highest;
    int next = std::max(std::max(versionNum, 0), highest);
    // A counter at its limit goes on past the highest folder there is.
    if (next >= INT_MAX)
        next = highest;
    // Another writer may take a number between our look and our mkdir: move on then.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (next >= INT_MAX)
            return fail(EOVERFLOW);
        ++next;
        const std::string path = WithTrailingSep(base) + VersionFolderName(next);
        if (MakePrivateDir(path))
            return VersionFolder{next, path, stored.Count + 1};
        if (errno != EEXIST)
            return fail(errno);
    }
    return fail(EEXIST);
}

int FileSystemFlush::Add(int fd)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return errno;
    for (const auto& system : m_systems) {
        if (system.first == st.st_dev)
            return 0;
    }
    OwnedFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy.Valid())
        return errno;
    m_systems.emplace_back(st.st_dev, std::move(copy));
    return 0;
}

int FileSystemFlush::Flush() const
{
    int failed = 0;
    for (const auto& system : m_systems) {
        if (::syncfs(system.second.Get()) != 0 && failed == 0)
            failed = errno;
    }
    return failed;
}

std::string VersionFileName(const std::string& fileName, TNameMode mode, int count, double date)
{
    const auto dot = fileName.rfind('.');
    const std::string stem = dot == std::string::npos ? std::string() : fileName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? fileName : fileName.substr(dot);
    switch (mode) {
    case nmDateTime: {
        const DateParts p = DecodeOleDate(date);
        std::string stamp = FormatDateTime("yy-mm-dd", date);
        if (p.Hour != 0 || p.Minute != 0 || p.Second != 0)
            stamp += " " + FormatDateTime("hh-nn-ss", date);
        return stem + "(" + stamp + ")" + extension;
    }
    case nmVersionNumber:
        return stem + "(v " + std::to_string(count) + ")" + extension;
    case nmOriginal:
    default:
        return fileName;
    }
}

PrunePlan PlanPruneBefore(const std::string& base, double threshold, double lastTime,
                          const std::string& keepName, bool cleanLeftovers)
{
    PrunePlan plan;
    const std::string root = WithTrailingSep(base);
    bool noneKept = true;
    for (const VersionEntry& version : ListStoredFolders(root)) {
        const std::string folder = root + version.Name;
        const bool keep = !keepName.empty() && version.Name == keepName;
        if (keep)
            noneKept = false;
        if (version.Files.empty() && !keep) {
            PlanNonVersion(folder, version, cleanLeftovers, plan);
            continue;
        }
        if (cleanLeftovers && !keep)
            plan.Leftovers.insert(plan.Leftovers.end(), version.Leftovers.begin(), version.Leftovers.end());
        const bool old = !keep && version.Time < threshold;
        bool removeFolder = !keep;
        for (const DirEntry& file : version.Files) {
            const std::string path = folder + kPathSep + file.Name;
            if (keep || file.ModTime >= lastTime) {
                removeFolder = false;
                noneKept = false;
                if (!old)
                    plan.Newest = path;
            }
            if (old)
                plan.Files.push_back(path);
        }
        if (removeFolder)
            plan.Folders.push_back(folder);
    }
    if (noneKept)
        plan.Folders.push_back(WithoutTrailingSep(root));
    return plan;
}

PrunePlan PlanKeepLast(const std::string& base, int n, const std::string& keepName, bool cleanLeftovers)
{
    PrunePlan plan;
    const std::string root = WithTrailingSep(base);
    std::vector<VersionEntry> versions;
    for (VersionEntry& version : ListStoredFolders(root)) {
        const bool keep = !keepName.empty() && version.Name == keepName;
        if (version.Files.empty() && !keep)
            PlanNonVersion(root + version.Name, version, cleanLeftovers, plan);
        else
            versions.push_back(std::move(version));
    }
    const std::size_t keepCount = static_cast<std::size_t>(std::max(n, 0));
    if (versions.size() <= keepCount)
        return plan;
    for (std::size_t i = 0; i < versions.size() - keepCount; ++i) {
        if (!keepName.empty() && versions[i].Name == keepName)
            continue;
        const std::string folder = root + versions[i].Name;
        for (const DirEntry& file : versions[i].Files)
            plan.Files.push_back(folder + kPathSep + file.Name);
        plan.Leftovers.insert(plan.Leftovers.end(), versions[i].Leftovers.begin(),
                              versions[i].Leftovers.end());
        plan.Folders.push_back(folder);
    }
    return plan;
}

void ApplyPrunePlan(const PrunePlan& plan, Disposal how)
{
    std::error_code ec;
    for (const std::string& file : plan.Files)
        if (how == Disposal::Delete || !MoveToTrash(file))
            std::filesystem::remove(file, ec);
    // Half copies are no history: never worth the trash.
    for (const std::string& leftover : plan.Leftovers)
        RemoveCopyLeftover(leftover);
    // remove() takes a folder only when it is empty: a folder still holding something
    // (a file that could not be deleted, anything not ours) stays.
    for (const std::string& folder : plan.Folders)
        std::filesystem::remove(folder, ec);
}

} // namespace morvane
