#include "platform/MessageAtoms.h"

#include "platform/IniDocument.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

constexpr std::uint32_t kFirstAtom = 0xC000;
constexpr std::uint32_t kLastAtom = 0xFFFF;

// Message names match as INI keys do: equal but for ASCII case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b)
{
    return IniKeyEqual{}(a, b);
}

std::string ReadAll(int fd, const std::string& path)
{
    std::string text;
    char buf[4096];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystemError(errno, "cannot read " + path);
        }
        if (n == 0)
            return text;
        text.append(buf, static_cast<std::size_t>(n));
        offset += n;
    }
}

void WriteAll(int fd, const std::string& text, off_t offset, const std::string& path)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pwrite(fd, text.data() + done, text.size() - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            // Leave no half line behind: it would take a number of its own.
            (void)::ftruncate(fd, offset);
            ThrowSystemError(err, "cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

std::uint32_t RegisterWindowMessage(const std::string& name)
{
    if (name.empty() || name.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos)
        ThrowSystemError(EINVAL, "invalid message name \"" + name + "\"");

    const std::string path = RuntimeDir() + "atoms";
    OwnedFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid())
        ThrowSystemError(errno, "cannot open " + path);
    while (::flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            ThrowSystemError(errno, "cannot lock " + path);
    }

    // One name a line; a last line without its line break still counts, the same way in
    // every process, so the numbers stay in step.
    const std::string text = ReadAll(fd.Get(), path);
    std::uint32_t index = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (SameNameIgnoringCase(std::string_view(text).substr(start, end - start), name))
            return kFirstAtom + index;
        ++index;
        start = end + 1;
    }
    if (kFirstAtom + index > kLastAtom)
        ThrowSystemError(ENOSPC, "no message number left for \"" + name + "\" in " + path);

    std::string line = name + '\n';
    if (!text.empty() && text.back() != '\n')
        line.insert(line.begin(), '\n');
    WriteAll(fd.Get(), line, static_cast<off_t>(text.size()), path);
    return kFirstAtom + index;
}

} // namespace morvane
