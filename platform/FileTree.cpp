#include "platform/FileTree.h"

#include "platform/FileCopy.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace morvane {

bool ReadNames(const std::string& folder, std::vector<std::string>& names)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return true;
}

namespace {

TreeResult Fail(TreeStatus status, int error, const std::string& path)
{
    return {status, error, path};
}

bool Cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load();
}

// The nearest existing path at or above path.
std::string ExistingPart(std::string path)
{
    struct stat st = {};
    while (!path.empty() && ::stat(path.c_str(), &st) != 0) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::size_t cut = path.find_last_of('/');
        if (cut == std::string::npos)
            return {};
        path = cut == 0 ? "/" : path.substr(0, cut);
    }
    return path;
}

// A file at target with the source's bytes and date is the copy an earlier, interrupted
// run made: it counts as done.
bool AlreadyCopied(const std::string& source, const std::string& target, const struct stat& src)
{
    struct stat dst = {};
    if (::lstat(target.c_str(), &dst) != 0 || !S_ISREG(dst.st_mode))
        return false;
    if (dst.st_mtim.tv_sec != src.st_mtim.tv_sec || dst.st_mtim.tv_nsec != src.st_mtim.tv_nsec)
        return false;
    return FilesEqual(source, target).value_or(false);
}

TreeResult CopyFileEntry(const std::string& source, const std::string& target, const struct stat& st,
                         bool removeSource, const TreeStep& step)
{
    if (!AlreadyCopied(source, target, st)) {
        CopyOptions options;
        // A file its owner cannot write (a stored version) stays so where it goes.
        if (!(st.st_mode & S_IWUSR))
            options.Mode = (st.st_mode & S_IRWXU) | S_IRUSR;
        const CopyResult copy = CopyFileSafely(source, target, options);
        switch (copy.Status) {
        case CopyStatus::Ok:
            break;
        case CopyStatus::TargetExists:
            return Fail(TreeStatus::TargetExists, EEXIST, target);
        case CopyStatus::SourceMissing:
            return Fail(TreeStatus::SourceMissing, copy.Error, source);
        case CopyStatus::WriteFailed:
            return Fail(TreeStatus::Failed, copy.Error, target);
        case CopyStatus::Changed:
            return Fail(TreeStatus::Failed, EBUSY, source);
        default:
            return Fail(TreeStatus::Failed, copy.Error ? copy.Error : EIO, source);
        }
    }
    if (removeSource && ::unlink(source.c_str()) != 0 && errno != ENOENT)
        return Fail(TreeStatus::Failed, errno, source);
    if (step)
        step(source, st.st_size);
    return {};
}

TreeResult CopyLink(const std::string& source, const std::string& target, bool removeSource)
{
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink(source.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0)
        return Fail(TreeStatus::Failed, errno, source);
    const std::string text(buffer.data(), static_cast<std::size_t>(n));
    if (::symlink(text.c_str(), target.c_str()) != 0) {
        if (errno != EEXIST)
            return Fail(TreeStatus::Failed, errno, target);
        const ssize_t m = ::readlink(target.c_str(), buffer.data(), buffer.size() - 1);
        if (m < 0 || std::string(buffer.data(), static_cast<std::size_t>(m)) != text)
            return Fail(TreeStatus::TargetExists, EEXIST, target);
    }
    if (removeSource && ::unlink(source.c_str()) != 0 && errno != ENOENT)
        return Fail(TreeStatus::Failed, errno, source);
    return {};
}

TreeResult CopyEntry(const std::string& source, const std::string& target, bool removeSource,
                     const std::atomic<bool>* cancel, const TreeStep& step)
{
    if (Cancelled(cancel))
        return Fail(TreeStatus::Cancelled, ECANCELED, source);
    struct stat st = {};
    if (::lstat(source.c_str(), &st) != 0)
        return Fail(errno == ENOENT ? TreeStatus::SourceMissing : TreeStatus::Failed, errno, source);
    if (S_ISREG(st.st_mode))
        return CopyFileEntry(source, target, st, removeSource, step);
    if (S_ISLNK(st.st_mode))
        return CopyLink(source, target, removeSource);
    if (!S_ISDIR(st.st_mode))
        return Fail(TreeStatus::Failed, EINVAL, source);

    if (::mkdir(target.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0) {
        struct stat existing = {};
        // A folder of that name is merged into (an earlier run's part); anything else
        // with that name is left alone.
        if (errno != EEXIST || ::lstat(target.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode))
            return Fail(errno == EEXIST ? TreeStatus::TargetExists : TreeStatus::Failed, errno, target);
    }
    std::vector<std::string> names;
    if (!ReadNames(source, names))
        return Fail(TreeStatus::Failed, errno, source);
    for (const std::string& name : names) {
        TreeResult r = CopyEntry(source + "/" + name, target + "/" + name, removeSource, cancel, step);
        // A file that went away after the folder was read has nothing left to move.
        if (r.Status != TreeStatus::Ok &&
            !(r.Status == TreeStatus::SourceMissing && r.Path == source + "/" + name))
            return r;
    }
    // Filling the folder changed its date; the date of a version folder tells its age.
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, target.c_str(), times, 0);
    ::chmod(target.c_str(), st.st_mode & 07777);
    if (removeSource && ::rmdir(source.c_str()) != 0)
        return Fail(TreeStatus::Failed, errno, source);
    return {};
}

std::string WithoutSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

TreeResult RenameNoReplace(const std::string& source, const std::string& target)
{
    const std::string from = WithoutSlash(source);
    const std::string to = WithoutSlash(target);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    const int err = errno;
    if (err == EEXIST)
        return Fail(TreeStatus::TargetExists, err, to);
    if (err == ENOENT && ::access(from.c_str(), F_OK) != 0)
        return Fail(TreeStatus::SourceMissing, err, from);
    return Fail(TreeStatus::Failed, err, from);
}

TreeResult CopyTree(const std::string& source, const std::string& target, bool removeSource,
                    const std::atomic<bool>* cancel, const TreeStep& step)
{
    return CopyEntry(WithoutSlash(source), WithoutSlash(target), removeSource, cancel, step);
}

TreeResult RemoveTree(const std::string& path, const std::atomic<bool>* cancel, const TreeStep& step)
{
    const std::string at = WithoutSlash(path);
    if (Cancelled(cancel))
        return Fail(TreeStatus::Cancelled, ECANCELED, at);
    struct stat st = {};
    if (::lstat(at.c_str(), &st) != 0)
        return Fail(errno == ENOENT ? TreeStatus::SourceMissing : TreeStatus::Failed, errno, at);
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        if (!ReadNames(at, names))
            return Fail(TreeStatus::Failed, errno, at);
        for (const std::string& name : names) {
            TreeResult r = RemoveTree(at + "/" + name, cancel, step);
            if (r.Status != TreeStatus::Ok && r.Status != TreeStatus::SourceMissing)
                return r;
        }
        if (::rmdir(at.c_str()) != 0)
            return Fail(TreeStatus::Failed, errno, at);
        return {};
    }
    if (::unlink(at.c_str()) != 0)
        return Fail(TreeStatus::Failed, errno, at);
    if (step && S_ISREG(st.st_mode))
        step(at, st.st_size);
    return {};
}

std::int64_t TreeBytes(const std::string& path)
{
    const std::string at = WithoutSlash(path);
    struct stat st = {};
    if (::lstat(at.c_str(), &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return st.st_size;
    if (!S_ISDIR(st.st_mode))
        return 0;
    std::vector<std::string> names;
    ReadNames(at, names);
    std::int64_t total = 0;
    for (const std::string& name : names)
        total += TreeBytes(at + "/" + name);
    return total;
}

bool SameFileSystem(const std::string& a, const std::string& b)
{
    struct stat sa = {}, sb = {};
    const std::string pa = ExistingPart(a), pb = ExistingPart(b);
    return !pa.empty() && !pb.empty() && ::stat(pa.c_str(), &sa) == 0 && ::stat(pb.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev;
}

std::optional<std::int64_t> FreeBytes(const std::string& path)
{
    const std::string at = ExistingPart(path);
    struct statvfs vfs = {};
    if (at.empty() || ::statvfs(at.c_str(), &vfs) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa = {}, sb = {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

namespace {

// Components of the canonical form of path; the empty element a trailing "/" leaves is
// dropped, so a folder with and without its separator compare equal.
std::vector<std::string> CanonicalComponents(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec)
        canonical = std::filesystem::path(path);
    canonical = canonical.lexically_normal();
    std::vector<std::string> parts;
    for (const auto& part : canonical) {
        if (!part.empty())
            parts.push_back(part.string());
    }
    return parts;
}

} // namespace

bool IsInsideFolder(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.empty())
        return false;
    const std::vector<std::string> inner = CanonicalComponents(path);
    const std::vector<std::string> outer = CanonicalComponents(folder);
    if (outer.empty() || outer.size() > inner.size())
        return false;
    for (std::size_t i = 0; i < outer.size(); ++i) {
        if (inner[i] != outer[i])
            return false;
    }
    return true;
}

} // namespace morvane
