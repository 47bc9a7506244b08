#include "platform/Paths.h"

#include "platform/OwnedFd.h"
#include "platform/XdgDirs.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

std::string EnvText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Creates every missing folder of path with mode; existing ones are left as they are.
void MakeFolders(const std::string& path, mode_t mode)
{
    std::string part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != kPathSep) {
            part += path[i];
            continue;
        }
        if (!part.empty()) {
            if (mkdir(part.c_str(), mode) == 0) {
                // The umask may have narrowed the mode: a folder we make has it exactly.
                if (chmod(part.c_str(), mode) != 0)
                    ThrowSystemError(errno, "cannot set the mode of folder " + part);
            } else if (errno != EEXIST) {
                ThrowSystemError(errno, "cannot create folder " + part);
            }
        }
        if (i < path.size())
            part += kPathSep;
    }
    struct stat st
    {
    };
    if (stat(path.c_str(), &st) != 0)
        ThrowSystemError(errno, "cannot create folder " + path);
    if (!S_ISDIR(st.st_mode))
        ThrowSystemError(ENOTDIR, path + " is not a folder");
}

} // namespace

std::string HomeDir()
{
    std::string dir = EnvText("MORVANE_HOME");
    if (dir.empty())
        dir = DataHome() + "morvane";
    dir = WithTrailingSep(dir);
    MakeFolders(dir, 0700);
    // The user's list, settings and versions live here: nobody else may look in, also
    // when an earlier run made the folder open to others.
    struct stat st
    {
    };
    if (stat(dir.c_str(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) != 0)
        chmod(dir.c_str(), st.st_mode & 0700);
    return dir;
}

std::string RuntimeDir()
{
    std::string dir = EnvText("MORVANE_RUNTIME_DIR");
    if (dir.empty()) {
        const std::string runtime = EnvText("XDG_RUNTIME_DIR");
        if (!runtime.empty() && runtime.front() == kPathSep)
            dir = WithTrailingSep(runtime) + "morvane";
        else
            dir = "/tmp/morvane-" + std::to_string(geteuid());
    }
    dir = WithTrailingSep(dir);
    MakeFolders(dir, 0700);

    // Locks, blocks and sockets live here: a folder someone else owns (for example one
    // planted in /tmp) could be used to spoof or block them, and so could a symbolic link,
    // whoever owns it, since what it leads to may change under us.
    struct stat st
    {
    };
    if (lstat(WithoutTrailingSep(dir).c_str(), &st) != 0)
        ThrowSystemError(errno, "cannot inspect runtime folder " + dir);
    if (S_ISLNK(st.st_mode))
        ThrowSystemError(EPERM, "runtime folder " + dir + " is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        ThrowSystemError(ENOTDIR, "runtime folder " + dir + " is not a folder");
    if (st.st_uid != geteuid())
        ThrowSystemError(EPERM, "runtime folder " + dir + " belongs to another user");
    if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0)
        ThrowSystemError(errno, "cannot restrict runtime folder " + dir + " to its owner");
    return dir;
}

std::string ProgramDir()
{
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n < 0)
        ThrowSystemError(errno, "cannot find the running program's file");
    return FolderPart(std::string(buf.data(), static_cast<std::size_t>(n)));
}

std::string ShareDirFor(const std::string& programDir)
{
    const std::string dir = WithTrailingSep(programDir);
    const std::string installed =
        WithTrailingSep(std::filesystem::path(dir + MORVANE_BIN_TO_SHARE).lexically_normal().string());
    struct stat st
    {
    };
    if (stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return installed;
    return dir;
}

std::string ShareDir()
{
    return ShareDirFor(ProgramDir());
}

std::string WithTrailingSep(std::string path)
{
    if (!path.empty() && path.back() != kPathSep)
        path += kPathSep;
    return path;
}

std::string WithoutTrailingSep(std::string path)
{
    while (path.size() > 1 && path.back() == kPathSep)
        path.pop_back();
    return path;
}

std::string FolderPart(const std::string& path)
{
    const auto pos = path.rfind(kPathSep);
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string NamePart(const std::string& path)
{
    const auto pos = path.rfind(kPathSep);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

} // namespace morvane
