#include "platform/Compression.h"

#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace morvane {

namespace {

// The file system that honours FS_COMPR_FL. Others (ext4 among them) may accept the flag
// and then ignore it, so asking the kernel for the flags proves nothing.
constexpr long kBtrfsMagic = 0x9123683E;

std::string NearestExisting(std::string path)
{
    struct stat st = {};
    while (!path.empty() && ::stat(path.c_str(), &st) != 0) {
        path = WithoutTrailingSep(std::move(path));
        const std::size_t cut = path.rfind(kPathSep);
        if (cut == std::string::npos)
            return ".";
        path.erase(cut == 0 ? 1 : cut);
    }
    return path.empty() ? "." : path;
}

[[noreturn]] void Refuse(int err, const std::string& path)
{
    // "Inappropriate ioctl for device" and the like would puzzle a user: a file system
    // without the flag is simply one that does not compress.
    if (err == ENOTTY || err == EINVAL || err == ENOSYS)
        err = EOPNOTSUPP;
    throw std::system_error(err, std::generic_category(), "Cannot switch on compression for " + path);
}

} // namespace

bool DriveSupportsCompression(const std::string& path)
{
    struct statfs fs = {};
    if (::statfs(NearestExisting(path).c_str(), &fs) != 0)
        return false;
    return static_cast<long>(fs.f_type) == kBtrfsMagic;
}

void SetFileCompression(const std::string& path, short format)
{
    // O_NONBLOCK so that a FIFO given by mistake cannot hang the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        Refuse(errno, path);
    const bool want = format != 0;
    // ext4 and others store the flag without compressing anything: refuse there rather
    // than report a compression that does not happen.
    struct statfs fs = {};
    if (want && (::fstatfs(fd, &fs) != 0 || static_cast<long>(fs.f_type) != kBtrfsMagic)) {
        ::close(fd);
        Refuse(EOPNOTSUPP, path);
    }
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        const int err = errno;
        ::close(fd);
        Refuse(err, path);
    }
    const int wanted = want ? (flags | FS_COMPR_FL) : (flags & ~FS_COMPR_FL);
    if (wanted != flags && ::ioctl(fd, FS_IOC_SETFLAGS, &wanted) != 0) {
        const int err = errno;
        ::close(fd);
        Refuse(err, path);
    }
    // Some file systems take the flag without error and drop it: read it back.
    int now = 0;
    const bool readBack = ::ioctl(fd, FS_IOC_GETFLAGS, &now) == 0;
    ::close(fd);
    if (want && (!readBack || !(now & FS_COMPR_FL)))
        Refuse(EOPNOTSUPP, path);
}

} // namespace morvane
