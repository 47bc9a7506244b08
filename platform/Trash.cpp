#include "platform/Trash.h"

#include "platform/FileCopy.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"
#include "platform/XdgDirs.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// One trash folder and how its info files name the original place.
struct TrashFolder
{
    std::string Root;         // ends with "/"
    std::string RelativeBase; // "" for absolute paths, else the top folder the paths start from
};

bool SameDevice(const std::string& path, dev_t device)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == device;
}

// The folder's files/ and info/ folders exist (made private when missing).
bool MakeTrashFolders(const std::string& root)
{
    return MakePrivateDirs(root + "files") && MakePrivateDirs(root + "info");
}

// A folder we may use as a trash: a real folder of ours, not a link someone planted.
bool IsOwnFolder(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The mount point the path lies under: the last parent on the same device.
std::string TopFolder(const std::string& folder, dev_t device)
{
    std::string top = folder;
    while (top != "/") {
        const std::string parent = FolderPart(WithoutTrailingSep(top));
        if (parent.empty() || !SameDevice(parent, device))
            break;
        top = WithoutTrailingSep(parent);
        if (top.empty())
            top = "/";
    }
    return WithTrailingSep(top);
}

bool HomeTrash(dev_t device, TrashFolder& out)
{
    const std::string data = DataHome();
    const std::string root = data + "Trash/";
    if (!MakePrivateDirs(WithoutTrailingSep(data)) || !SameDevice(data, device))
        return false;
    if (!MakeTrashFolders(root))
        return false;
    // Folders an earlier program made open to others are closed again: they hold the
    // user's deleted files.
    for (const std::string& f : {root, root + "files", root + "info"})
        RestrictToOwner(WithoutTrailingSep(f));
    out = {root, ""};
    return true;
}

bool TopTrash(const std::string& top, TrashFolder& out)
{
    const std::string uid = std::to_string(::geteuid());
    // A shared trash the administrator made: a real folder with the sticky bit, so users
    // cannot remove each other's entries.
    const std::string shared = top + ".Trash";
    struct stat st = {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string mine = shared + "/" + uid;
        if ((MakePrivateDir(mine) || errno == EEXIST) && IsOwnFolder(mine) && MakeTrashFolders(mine + "/")) {
            out = {mine + "/", top};
            return true;
        }
    }
    const std::string own = top + ".Trash-" + uid;
    if ((MakePrivateDir(own) || errno == EEXIST) && IsOwnFolder(own) && MakeTrashFolders(own + "/")) {
        out = {own + "/", top};
        return true;
    }
    return false;
}

// The path with "." and ".." of its folder resolved, the last component as it is (a link
// is trashed itself, never what it leads to).
bool AbsolutePath(const std::string& path, std::string& out)
{
    std::string full = path;
    if (full.empty())
        return false;
    if (full.front() != kPathSep) {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return false;
        full = WithTrailingSep(cwd) + full;
    }
    full = WithoutTrailingSep(full);
    const std::string name = NamePart(full);
    if (name.empty() || name == "." || name == "..")
        return false;
    char folder[PATH_MAX];
    if (!::realpath(FolderPart(full).c_str(), folder))
        return false;
    out = WithTrailingSep(folder) + name;
    return true;
}

std::string DeletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// "name", "name.2.ext", "name.3.ext" ...: the n-th candidate for an entry's name.
std::string Candidate(const std::string& name, int n)
{
    if (n == 1)
        return name;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + "." + std::to_string(n);
    return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

bool MoveInto(const TrashFolder& trash, const std::string& source)
{
    const std::string& base = trash.RelativeBase;
    const std::string original =
        base.empty() || source.compare(0, base.size(), base) != 0 ? source : source.substr(base.size());
    const std::string info =
        "[Trash Info]\nPath=" + EncodeTrashPath(original) + "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string name = NamePart(source);
    for (int n = 1; n < 10000; ++n) {
        const std::string entry = Candidate(name, n);
        const std::string infoPath = trash.Root + "info/" + entry + ".trashinfo";
        // The info file is made first and exclusively: it claims the name against every
        // other program trashing at the same time.
        OwnedFd fd(::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
        if (!fd.Valid()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const std::string target = trash.Root + "files/" + entry;
        struct stat st = {};
        if (::lstat(target.c_str(), &st) == 0) {
            // An entry whose info file went missing keeps its name.
            fd = OwnedFd();
            ::unlink(infoPath.c_str());
            continue;
        }
        if (!WriteAll(fd.Get(), info) || ::fsync(fd.Get()) != 0 ||
            ::rename(source.c_str(), target.c_str()) != 0) {
            fd = OwnedFd();
            ::unlink(infoPath.c_str());
            return false;
        }
        return true;
    }
    return false;
}

} // namespace

std::string EncodeTrashPath(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~' || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool DecodeTrashPath(const std::string& text, std::string& path)
{
    auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    path.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int hi = hex(text[i + 1]);
        const int lo = hex(text[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        path += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool MoveToTrash(const std::string& path)
{
    try {
        std::string source;
        if (!AbsolutePath(path, source))
            return false;
        struct stat st = {};
        if (::lstat(source.c_str(), &st) != 0)
            return false;
        TrashFolder trash;
        if (!HomeTrash(st.st_dev, trash) && !TopTrash(TopFolder(FolderPart(source), st.st_dev), trash))
            return false;
        // Trashing the trash, or a folder holding it, would move it into itself.
        const std::string root = WithoutTrailingSep(trash.Root);
        if (root == source || root.compare(0, source.size() + 1, source + "/") == 0 ||
            source.compare(0, trash.Root.size(), trash.Root) == 0)
            return false;
        return MoveInto(trash, source);
    } catch (const std::exception&) {
        return false; // no home folder: no home trash either
    }
}

} // namespace morvane
