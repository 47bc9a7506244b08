#include "platform/Paths.h"

#include "platform/Log.h"
#include "platform/OwnedFd.h"
#include "platform/XdgDirs.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/file.h>
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

namespace {

struct FolderProblem
{
    int Error = 0; // 0: none
    std::string Text;
};

// Why dir (ending with "/") cannot hold our locks, blocks and sockets. Someone else's
// folder (for example one planted in /tmp) could be used to spoof or block them, and so
// could a symbolic link, whoever owns it, since what it leads to may change under us.
FolderProblem RuntimeFolderProblem(const std::string& dir, bool fixMode)
{
    struct stat st
    {
    };
    if (lstat(WithoutTrailingSep(dir).c_str(), &st) != 0)
        return {errno, std::string("cannot be inspected: ") + std::strerror(errno)};
    if (S_ISLNK(st.st_mode))
        return {EPERM, "is a symbolic link"};
    if (!S_ISDIR(st.st_mode))
        return {ENOTDIR, "is not a folder"};
    if (st.st_uid != geteuid())
        return {EPERM, "belongs to another user"};
    if ((st.st_mode & 0777) == 0700)
        return {};
    // Open to others, so files may have been put in it meanwhile.
    if (!fixMode)
        return {EPERM, "is open to other users"};
    if (chmod(dir.c_str(), 0700) != 0)
        return {errno, std::string("cannot be restricted to its owner: ") + std::strerror(errno)};
    return {};
}

// The folder a record names when it is fit for use; empty otherwise.
std::string RecordedFolder(int fd, const std::string& prefix)
{
    char buf[PATH_MAX + 1];
    const ssize_t n = pread(fd, buf, PATH_MAX, 0);
    if (n <= 0)
        return {};
    std::string dir(buf, static_cast<std::size_t>(n));
    if (const auto nl = dir.find('\n'); nl != std::string::npos)
        dir.resize(nl);
    // Only a folder made here for this purpose is taken: a record that names anything
    // else (edited, or left by another setup) is made anew.
    if (dir.compare(0, prefix.size(), prefix) != 0 || dir.find('\0') != std::string::npos ||
        dir.back() != kPathSep || RuntimeFolderProblem(dir, false).Error != 0)
        return {};
    return dir;
}

} // namespace

std::string PrivateRuntimeDir(const std::string& preferred, const std::string& recordFile)
{
    const std::string dir = WithTrailingSep(preferred);
    if (mkdir(WithoutTrailingSep(dir).c_str(), 0700) == 0) {
        // The umask may have narrowed the mode: a folder we make has it exactly.
        if (chmod(dir.c_str(), 0700) != 0)
            ThrowSystemError(errno, "cannot set the mode of runtime folder " + dir);
        return dir;
    }
    if (errno != EEXIST)
        ThrowSystemError(errno, "cannot create runtime folder " + dir);
    const FolderProblem problem = RuntimeFolderProblem(dir, false);
    if (problem.Error == 0)
        return dir;

    // A name nobody can guess, made by us alone, and written where only we can write, so
    // every program of ours finds the same one. The record is locked while it is decided.
    const std::string prefix = WithoutTrailingSep(dir) + "-";
    OwnedFd fd(open(recordFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid())
        ThrowSystemError(errno, "cannot open " + recordFile);
    while (flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            ThrowSystemError(errno, "cannot lock " + recordFile);
    }
    std::string chosen = RecordedFolder(fd.Get(), prefix);
    if (chosen.empty()) {
        std::string pattern = prefix + "XXXXXX";
        if (!mkdtemp(pattern.data()))
            ThrowSystemError(errno, "cannot create a private runtime folder beside " + dir);
        chosen = pattern + kPathSep;
        const std::string line = chosen + "\n";
        if (ftruncate(fd.Get(), 0) != 0 ||
            pwrite(fd.Get(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
            ThrowSystemError(errno, "cannot write " + recordFile);
    }
    Log("runtime folder " + dir + " " + problem.Text + ": using " + chosen + " instead");
    return chosen;
}

std::string RuntimeDir()
{
    std::string dir = EnvText("MORVANE_RUNTIME_DIR");
    if (dir.empty()) {
        const std::string runtime = EnvText("XDG_RUNTIME_DIR");
        if (!runtime.empty() && runtime.front() == kPathSep)
            dir = WithTrailingSep(runtime) + "morvane";
    }
    if (dir.empty()) {
        // The shared temporary folder: anyone may have made our name there first.
        static std::mutex mutex;
        static std::string resolved;
        std::lock_guard lock(mutex);
        if (resolved.empty() || RuntimeFolderProblem(resolved, false).Error != 0)
            resolved = PrivateRuntimeDir("/tmp/morvane-" + std::to_string(geteuid()),
                                         HomeDir() + kRuntimeRecordName);
        return resolved;
    }
    dir = WithTrailingSep(dir);
    // Every post and every lock asks for the folder: once it is made and checked, a call
    // only looks that it is still a private folder of ours (one lstat), and makes it
    // again when not.
    static std::mutex mutex;
    static std::string resolved;
    {
        std::lock_guard lock(mutex);
        if (resolved == dir && RuntimeFolderProblem(dir, false).Error == 0)
            return dir;
    }
    MakeFolders(dir, 0700);
    // A folder named by the user is used or refused, never replaced.
    if (const FolderProblem problem = RuntimeFolderProblem(dir, true); problem.Error != 0)
        ThrowSystemError(problem.Error, "runtime folder " + dir + " " + problem.Text);
    std::lock_guard lock(mutex);
    resolved = dir;
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
