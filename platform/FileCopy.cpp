#include "platform/FileCopy.h"

#include "platform/AtomicFile.h"
#include "platform/DirListing.h"
#include "platform/OwnedFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane {

namespace {

constexpr std::size_t kChunk = 1024 * 1024;
// Two pieces of this size stay in the processor's cache while they are compared and written.
constexpr std::size_t kCompareChunk = 256 * 1024;

struct Outcome
{
    CopyStatus Status = CopyStatus::Ok;
    int Error = 0;
};

Outcome Failure(CopyStatus status, int err)
{
    return {status, err};
}

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Reads up to buffer's size, stopping early only at the end of the file; -1 leaves errno.
ssize_t Fill(int fd, std::vector<char>& buffer)
{
    std::size_t have = 0;
    while (have < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + have, buffer.size() - have);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(have);
}

// Portable byte copy from the current offsets up to limit bytes in all; tells which side
// failed.
Outcome CopyByReading(int in, AtomicFile& out, std::int64_t limit, std::int64_t& copied)
{
    std::vector<char> buffer(kChunk);
    while (copied < limit) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(limit - copied, kChunk));
        const ssize_t got = ::read(in, buffer.data(), want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Failure(CopyStatus::SourceUnreadable, errno);
        }
        if (got == 0)
            return {};
        if (const int err = out.Write({buffer.data(), static_cast<std::size_t>(got)}))
            return Failure(CopyStatus::WriteFailed, err);
        copied += got;
    }
    return {};
}

// Copies the rest of in, from its offset, to out, up to expected bytes in all: in the
// kernel where it can, else by plain reads and writes from where the copy began. A file
// that never stops growing would otherwise keep the copy going for ever; the check after
// the copy sees that it grew.
Outcome CopyRest(int in, AtomicFile& out, std::int64_t expected, std::int64_t& copied)
{
    const std::int64_t start = copied;
    bool kernelCopy = true;
    while (kernelCopy && copied < expected) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(expected - copied, 1 << 30));
        const ssize_t n = ::copy_file_range(in, nullptr, out.Fd(), nullptr, want, 0);
        if (n > 0) {
            copied += n;
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            kernelCopy = false;
        }
    }
    // Some file systems refuse the in-kernel copy or report an early end: the plain copy
    // then starts again from the same place and tells which side failed.
    if (!kernelCopy || copied < expected) {
        if (::lseek(in, start, SEEK_SET) != start || ::lseek(out.Fd(), start, SEEK_SET) != start ||
            ::ftruncate(out.Fd(), start) != 0)
            return Failure(CopyStatus::WriteFailed, errno);
        copied = start;
        return CopyByReading(in, out, expected, copied);
    }
    return {};
}

// Copies the whole of in to out: a shared-extent clone where the file system offers one,
// else an in-kernel copy, else plain reads and writes.
Outcome CopyBytes(int in, AtomicFile& out, std::int64_t expected, std::int64_t& copied)
{
    copied = 0;
    if (::ioctl(out.Fd(), FICLONE, in) == 0) {
        struct stat st = {};
        if (::fstat(out.Fd(), &st) != 0)
            return Failure(CopyStatus::WriteFailed, errno);
        copied = st.st_size;
        return {};
    }
    return CopyRest(in, out, expected, copied);
}

enum class Comparison
{
    Equal,
    Differ,
    SourceError,   // the source could not be read (err tells why)
    ReferenceError // the reference could not be read
};

// Reads in and reference from their starts side by side and compares them, writing
// nothing: a file equal to its last version costs two reads and no copy.
// differAt (when given) gets the offset of the piece where a difference was found.
Comparison CompareContents(int in, int reference, int& err, std::int64_t* differAt = nullptr)
{
    if (::lseek(in, 0, SEEK_SET) != 0) {
        err = errno;
        return Comparison::SourceError;
    }
    if (::lseek(reference, 0, SEEK_SET) != 0)
        return Comparison::ReferenceError;
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(reference, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> a(kCompareChunk), b(kCompareChunk);
    for (std::int64_t offset = 0;; offset += static_cast<std::int64_t>(kCompareChunk)) {
        const ssize_t got = Fill(in, a);
        if (got < 0) {
            err = errno;
            return Comparison::SourceError;
        }
        const ssize_t ref = Fill(reference, b);
        if (ref < 0)
            return Comparison::ReferenceError;
        if (ref != got || std::memcmp(a.data(), b.data(), static_cast<std::size_t>(got)) != 0) {
            if (differAt)
                *differAt = offset;
            return Comparison::Differ;
        }
        if (got == 0)
            return Comparison::Equal;
    }
}

// Whether the pieces of a and b at offset differ (or cannot be read).
bool PiecesDiffer(int a, int b, std::int64_t offset)
{
    std::vector<char> x(kCompareChunk), y(kCompareChunk);
    const ssize_t gotA = ::pread(a, x.data(), x.size(), static_cast<off_t>(offset));
    const ssize_t gotB = ::pread(b, y.data(), y.size(), static_cast<off_t>(offset));
    return gotA < 0 || gotA != gotB || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(gotA)) != 0;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A regular file, reached through allowed links only, and the very one looked at.
OwnedFd OpenSource(const std::string& path)
{
    OwnedFd fd;
    struct stat st = {};
    OpenRegularFile(path, fd, st);
    return fd;
}

// The reference of a comparison, when it is a regular file of size bytes: a file of
// another size (or none) differs without reading a byte.
OwnedFd OpenReference(const std::string& path, off_t size)
{
    if (path.empty())
        return {};
    OwnedFd fd = OpenSource(path);
    struct stat st = {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || st.st_size != size)
        return {};
    return fd;
}

// Whether the copy just written holds what the reference holds (its size alone when
// sizeOnly): the decision is on the state that was copied, not on one seen before.
// differedAt (-1: none) is where the file differed from the reference before it was
// copied: most copies differ there too, which two pieces tell.
bool CopyMatches(const AtomicFile& copy, std::int64_t size, const std::string& reference, bool sizeOnly,
                 std::int64_t differedAt)
{
    const OwnedFd ref = OpenReference(reference, static_cast<off_t>(size));
    if (!ref.Valid())
        return false;
    if (sizeOnly)
        return true;
    // The copy is open for writing only: read it through a descriptor of its own.
    const OwnedFd written(
        ::open(("/proc/self/fd/" + std::to_string(copy.Fd())).c_str(), O_RDONLY | O_CLOEXEC));
    if (!written.Valid())
        return false;
    if (differedAt >= 0 && PiecesDiffer(written.Get(), ref.Get(), differedAt))
        return false;
    int err = 0;
    return CompareContents(written.Get(), ref.Get(), err) == Comparison::Equal;
}

} // namespace

CopyResult CopyFileSafely(const std::string& source, const std::string& target, int maxAttempts,
                          const std::function<void(int attempt)>& afterCopy)
{
    CopyOptions options;
    options.MaxAttempts = maxAttempts;
    options.AfterCopy = afterCopy;
    return CopyFileSafely(source, target, options);
}

CopyResult CopyFileSafely(const std::string& source, const std::string& target, const CopyOptions& options)
{
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(folder.size());
    if (name.empty())
        return {CopyStatus::WriteFailed, EISDIR, 0};
    for (int attempt = 1;; ++attempt) {
        // The type is decided before anything is opened for reading (opening a device may
        // have side effects), and what is read is the file looked at.
        struct stat before = {};
        OwnedFd in;
        switch (const int err = OpenRegularFile(source, in, before)) {
        case 0:
            break;
        case EAGAIN: // swapped while it was opened: look again
            if (attempt >= options.MaxAttempts)
                return {CopyStatus::Changed, 0, 0};
            continue;
        case EINVAL:
        case ELOOP: // not a regular file, or behind another user's link
            return {CopyStatus::NotRegular, 0, 0};
        case ENOENT:
        case ENOTDIR:
            return {CopyStatus::SourceMissing, err, 0};
        default:
            return {CopyStatus::SourceUnreadable, err, 0};
        }
        struct stat probe = {};
        if (!options.Replace && ::lstat(target.c_str(), &probe) == 0)
            return {CopyStatus::TargetExists, 0, 0};
        const OwnedFd reference = OpenReference(options.CompareWith, before.st_size);

        // The comparison comes first and writes nothing; only a file that differs is
        // copied, from its start.
        bool same = false;
        std::int64_t differedAt = -1;
        if (reference.Valid() && options.SizeOnly) {
            same = true;
        } else if (reference.Valid()) {
            int err = 0;
            const Comparison comparison = CompareContents(in.Get(), reference.Get(), err, &differedAt);
            if (comparison == Comparison::SourceError)
                return {CopyStatus::SourceUnreadable, err, 0};
            // A last version that cannot be read counts as different.
            same = comparison == Comparison::Equal;
            if (!same && ::lseek(in.Get(), 0, SEEK_SET) != 0)
                return {CopyStatus::SourceUnreadable, errno, 0};
        }
        AtomicFile own;
        AtomicFile& temp = options.Uncommitted ? *options.Uncommitted : own;
        std::int64_t copied = 0;
        if (!same) {
            if (const int err = temp.Begin(target, options.Staging))
                return {CopyStatus::WriteFailed, err, 0};
            const Outcome outcome = CopyBytes(in.Get(), temp, before.st_size, copied);
            if (outcome.Status != CopyStatus::Ok)
                return {outcome.Status, outcome.Error, 0};
            // The copy keeps the source's date, so listings of copies show when the file changed.
            const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
            if (::futimens(temp.Fd(), times) != 0)
                return {CopyStatus::WriteFailed, errno, 0};
        }
        if (options.AfterCopy)
            options.AfterCopy(attempt);

        // A writer that was busy during the copy (or the comparison) shows in the size, the
        // date, or (after a save by rename) in the name now leading to another file.
        struct stat after = {}, now = {};
        const bool steady = ::fstat(in.Get(), &after) == 0 && StatFollowingOwnLinks(source, now) == 0 &&
                            after.st_size == before.st_size && SameTime(after.st_mtim, before.st_mtim) &&
                            now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
                            (same || copied == before.st_size);
        if (!steady) {
            if (attempt >= options.MaxAttempts)
                return {CopyStatus::Changed, 0, 0};
            continue;
        }
        // The comparison above saw the file before it was copied; a writer may have changed
        // it in between without moving its date (a rewrite within one clock tick).
        if (same || (!options.CompareWith.empty() &&
                     CopyMatches(temp, copied, options.CompareWith, options.SizeOnly, differedAt)))
            return {CopyStatus::Same, 0, 0};
        if (options.Uncommitted)
            return {CopyStatus::Ok, 0, copied,
                    static_cast<std::int64_t>(before.st_mtim.tv_sec) * 1000000000 + before.st_mtim.tv_nsec};
        // A version is the owner's alone, whoever may read the source where it lies; a
        // copy that replaces an older one keeps that one's mode.
        const mode_t ownMode = (before.st_mode & S_IRWXU) | S_IRUSR | S_IWUSR;
        const mode_t mode = options.Mode      ? options.Mode
                            : options.Replace ? ModeForReplacing(target, ownMode)
                                              : ownMode;
        const int err = temp.Commit(
            options.Replace ? AtomicFile::Placement::Replace : AtomicFile::Placement::NoReplace, mode);
        if (err == EEXIST && !options.Replace)
            return {CopyStatus::TargetExists, 0, 0};
        if (err != 0)
            return {CopyStatus::WriteFailed, err, 0};
        const timespec made = temp.Written().st_mtim;
        return {CopyStatus::Ok, 0, copied,
                static_cast<std::int64_t>(made.tv_sec) * 1000000000 + made.tv_nsec};
    }
}

std::optional<bool> FilesEqual(const std::string& a, const std::string& b)
{
    const OwnedFd first = OpenSource(a);
    const OwnedFd second = OpenSource(b);
    struct stat sa = {}, sb = {};
    if (!first.Valid() || !second.Valid() || ::fstat(first.Get(), &sa) != 0 ||
        ::fstat(second.Get(), &sb) != 0 || !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode))
        return std::nullopt;
    if (sa.st_size != sb.st_size)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return true;
    int err = 0;
    switch (CompareContents(first.Get(), second.Get(), err)) {
    case Comparison::Equal:
        return true;
    case Comparison::Differ:
        return false;
    default:
        return std::nullopt;
    }
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool RemoveEmptyDir(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

bool MakePrivateDir(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0)
        return false;
    // mkdir's mode passes through the umask, which may take the owner's own rights away.
    if (::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

bool RestrictToOwner(const std::string& path, bool followOwnLink)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode) && (!followOwnLink || StatFollowingOwnLinks(path, st) != 0))
        return false;
    if (st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) == 0)
        return true;
    return ::chmod(path.c_str(), st.st_mode & 0700) == 0;
}

bool MakePrivateDirs(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!MakePrivateDir(part) && errno != EEXIST)
            return false;
        if (at == std::string::npos || at + 1 >= path.size())
            break;
    }
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool MakeDirs(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    struct stat st = {};
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos || at + 1 >= path.size())
            break;
    }
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace morvane
