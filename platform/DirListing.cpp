#include "platform/DirListing.h"

#include "platform/OleDate.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// Local modification time, cut to whole seconds, as an OLE date.
double LocalOleDate(time_t seconds)
{
    tm local{};
    if (!localtime_r(&seconds, &local))
        return 0;
    return EncodeOleDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec);
}

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length in bytes of the UTF-8 character at text[at], so "?" and "*" step over whole
// characters; stray continuation bytes count as one character each.
std::size_t CharLength(const std::string& text, std::size_t at)
{
    std::size_t end = at + 1;
    if (static_cast<unsigned char>(text[at]) >= 0xC0)
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    return end - at;
}

// The entry of name in the folder open as fd; nothing when the name does not exist.
std::optional<DirEntry> EntryAt(int fd, const char* name)
{
    DirEntry entry;
    entry.Name = name;
    entry.IsHidden = name[0] == '.';
    struct stat st = {};
    // A dangling link is still an entry, as neither folder nor regular file.
    if (::fstatat(fd, name, &st, 0) != 0 && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    entry.IsDir = S_ISDIR(st.st_mode);
    entry.IsRegular = S_ISREG(st.st_mode);
    entry.ModTime = LocalOleDate(st.st_mtim.tv_sec);
    return entry;
}

} // namespace

std::optional<DirEntry> StatEntry(const std::string& folder, const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return std::nullopt;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<DirEntry> entry = EntryAt(fd, name.c_str());
    ::close(fd);
    return entry;
}

std::vector<DirEntry> ListDir(const std::string& folder)
{
    std::vector<DirEntry> entries;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return entries;
    }
    while (const dirent* found = ::readdir(dir)) {
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        entries.push_back(EntryAt(fd, name).value_or(DirEntry{name, false, false, name[0] == '.', 0}));
    }
    ::closedir(dir);
    return entries;
}

bool MatchesMask(const std::string& name, const std::string& mask)
{
    if (mask == "*.*")
        return true;
    // Greedy match with one backtrack point: the most recent "*" takes one more character
    // whenever the rest fails, which is enough because earlier stars never need to grow.
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n += CharLength(name, n);
        } else if (m < mask.size() && FoldAscii(mask[m]) == FoldAscii(name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            starName += CharLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

bool FileExists(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace morvane
