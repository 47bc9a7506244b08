#include "platform/DirListing.h"

#include "platform/Log.h"
#include "platform/OleDate.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

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

std::string WithTrailingSlash(const std::string& folder)
{
    return folder.empty() || folder.back() == '/' ? folder : folder + '/';
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

// The kernel's own bound on a chain of links.
constexpr int kMaxLinks = 40;
// Refused links are told once each; a folder full of them fills no memory.
constexpr std::size_t kMaxToldLinks = 4096;

std::atomic<uid_t>& LinkUser()
{
    static std::atomic<uid_t> user{::geteuid()};
    return user;
}

bool TrustedOwner(uid_t owner)
{
    return owner == 0 || owner == LinkUser().load();
}

std::string WithoutSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void TellRefused(const std::string& path, uid_t owner)
{
    const std::string shown = WithoutSlashes(path);
    static std::mutex mutex;
    static std::unordered_set<std::string> told;
    {
        std::lock_guard lock(mutex);
        if (told.size() >= kMaxToldLinks || !told.insert(shown).second)
            return;
    }
    Log("not following the link " + shown + ": it belongs to another user (" + std::to_string(owner) +
        "), who could make it lead to any file");
}

// The last object that path names from folder fd, and the folder it lies in, reached
// through allowed links only.
struct Reached
{
    OwnedFd Owned; // the folder, when opened here
    int Folder = AT_FDCWD;
    std::string Name;
    struct stat St = {};
};

int Reach(int folder, std::string path, const std::string& shown, Reached& out)
{
    out.Folder = folder;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        path = WithoutSlashes(path);
        if (path.empty())
            return ENOENT;
        const std::size_t cut = path.find_last_of('/');
        if (cut != std::string::npos && path != "/") {
            const std::string parent = cut == 0 ? std::string("/") : path.substr(0, cut);
            OwnedFd opened(::openat(out.Folder, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!opened.Valid())
                return errno;
            out.Owned = std::move(opened);
            out.Folder = out.Owned.Get();
            path.erase(0, cut + 1);
        }
        out.Name = path;
        if (::fstatat(out.Folder, path.c_str(), &out.St, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        if (!S_ISLNK(out.St.st_mode))
            return 0;
        // The owner and the text are read from one open link, so a link put in its place
        // meanwhile is never the one followed.
        const OwnedFd link(::openat(out.Folder, path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st = {};
        if (!link.Valid() || ::fstat(link.Get(), &st) != 0)
            return errno;
        if (!S_ISLNK(st.st_mode))
            continue; // replaced meanwhile: look again
        if (!TrustedOwner(st.st_uid)) {
            TellRefused(shown, st.st_uid);
            return ELOOP;
        }
        char text[PATH_MAX];
        const ssize_t n = ::readlinkat(link.Get(), "", text, sizeof text);
        if (n < 0)
            return errno;
        if (static_cast<std::size_t>(n) >= sizeof text)
            return ENAMETOOLONG;
        path.assign(text, static_cast<std::size_t>(n));
        if (path.front() == '/') {
            out.Owned.Reset();
            out.Folder = AT_FDCWD;
        }
        // A relative link leads on from the folder it lies in, which stays open.
    }
    return ELOOP;
}

int StatAt(int folder, const std::string& path, const std::string& shown, struct stat& st)
{
    int err = 0;
    // Most names are no links: one look settles them.
    if (::fstatat(folder, WithoutSlashes(path).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        err = errno;
    } else if (S_ISLNK(st.st_mode)) {
        Reached reached;
        err = Reach(folder, path, shown, reached);
        st = reached.St;
    }
    // "name/" names a folder, as it does for the system.
    if (err == 0 && !path.empty() && path.back() == '/' && !S_ISDIR(st.st_mode))
        err = ENOTDIR;
    return err;
}

// Opens what path names from folder, with flags (O_NOFOLLOW is added), when it is of
// type (S_IFREG, S_IFDIR) and is the very object looked at.
int OpenReached(int folder, const std::string& path, mode_t type, int flags, OwnedFd& fd, struct stat& st)
{
    Reached reached;
    if (const int err = Reach(folder, path, path, reached))
        return err;
    if ((reached.St.st_mode & S_IFMT) != type)
        return EINVAL;
    if (type != S_IFDIR && path.back() == '/')
        return ENOTDIR;
    OwnedFd opened(::openat(reached.Folder, reached.Name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!opened.Valid())
        return errno == ELOOP ? EAGAIN : errno; // a link put there meanwhile
    struct stat now = {};
    if (::fstat(opened.Get(), &now) != 0)
        return errno;
    if (now.st_dev != reached.St.st_dev || now.st_ino != reached.St.st_ino)
        return EAGAIN;
    fd = std::move(opened);
    st = now;
    return 0;
}

OwnedFd OpenFolder(const std::string& folder)
{
    OwnedFd fd;
    struct stat st = {};
    OpenReached(AT_FDCWD, folder, S_IFDIR, O_RDONLY | O_DIRECTORY, fd, st);
    return fd;
}

// The entry of name in the folder open as fd; nothing when the name does not exist.
std::optional<DirEntry> EntryAt(int fd, const std::string& folder, const char* name)
{
    DirEntry entry;
    entry.Name = name;
    entry.IsHidden = name[0] == '.';
    struct stat st = {};
    if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    // A dangling or refused link is still an entry, as neither folder nor regular file.
    if (S_ISLNK(st.st_mode)) {
        struct stat target = {};
        if (StatAt(fd, name, folder + name, target) == 0)
            st = target;
    }
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
    const OwnedFd fd = OpenFolder(folder);
    if (!fd.Valid())
        return std::nullopt;
    return EntryAt(fd.Get(), WithTrailingSlash(folder), name.c_str());
}

std::vector<DirEntry> ListDir(const std::string& folder)
{
    std::vector<DirEntry> entries;
    OwnedFd fd = OpenFolder(folder);
    if (!fd.Valid())
        return entries;
    DIR* dir = ::fdopendir(fd.Get());
    if (!dir)
        return entries;
    fd.Release(); // the listing owns it now
    const std::string shown = WithTrailingSlash(folder);
    while (const dirent* found = ::readdir(dir)) {
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        entries.push_back(
            EntryAt(::dirfd(dir), shown, name).value_or(DirEntry{name, false, false, name[0] == '.', 0}));
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
    return StatFollowingOwnLinks(path, st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st = {};
    return StatFollowingOwnLinks(path, st) == 0 && S_ISDIR(st.st_mode);
}

int StatFollowingOwnLinks(const std::string& path, struct stat& st)
{
    return StatAt(AT_FDCWD, path, path, st);
}

int OpenRegularFile(const std::string& path, OwnedFd& fd, struct stat& st)
{
    // O_NONBLOCK: should a FIFO take the file's place after all, the open does not hang.
    const int err = OpenReached(AT_FDCWD, path, S_IFREG, O_RDONLY | O_NONBLOCK | O_NOCTTY, fd, st);
    if (err == 0)
        ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return err;
}

uid_t FollowLinksOf(uid_t user)
{
    return LinkUser().exchange(user);
}

} // namespace morvane
