#include "platform/AutostartEntry.h"

#include "platform/AtomicFile.h"
#include "platform/DesktopEntryTemplate.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

bool IsRightsError(int err)
{
    return err == EACCES || err == EPERM || err == EROFS;
}

// The file's own escapes of string values.
std::string EscapeString(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    // Leading blanks would be trimmed away when the value is read.
    if (!out.empty() && out.front() == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

bool IsPlainKey(const std::string& key)
{
    if (key.empty())
        return false;
    for (char c : key)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

std::string UnescapeString(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default: // not an escape of the file's: left for the quoting rules
            out += '\\';
            out += text[i];
            break;
        }
    }
    return out;
}

// "%%" is "%"; an argument that is a field code alone is dropped (nothing).
std::optional<std::string> ResolvePercents(const std::string& arg)
{
    if (arg.size() == 2 && arg[0] == '%' && arg[1] != '%')
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 1 < arg.size()) {
            if (arg[i + 1] == '%')
                out += '%';
            ++i; // any other field code inside an argument is dropped
            continue;
        }
        out += arg[i];
    }
    return out;
}

} // namespace

std::optional<std::string> EncodeExecArgument(const std::string& arg, bool alwaysQuote)
{
    for (char c : arg)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return std::nullopt;
    std::string quoted;
    if (alwaysQuote || arg.empty() || arg.find_first_of(kReserved) != std::string::npos) {
        quoted = "\"";
        for (char c : arg) {
            if (kEscapedInQuotes.find(c) != std::string_view::npos)
                quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = arg;
    }
    std::string percents;
    for (char c : quoted) {
        percents += c;
        if (c == '%')
            percents += '%';
    }
    return EscapeString(percents);
}

std::optional<std::vector<std::string>> DecodeExecLine(const std::string& fileValue)
{
    const std::string text = UnescapeString(fileValue);
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        std::string arg;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
            if (text[i] != '"') {
                arg += text[i++];
                continue;
            }
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < text.size() && kEscapedInQuotes.find(text[i]) != std::string_view::npos)
                    arg += text[i++];
                else
                    arg += c;
            }
            if (!closed)
                return std::nullopt;
        }
        if (auto resolved = ResolvePercents(arg))
            args.push_back(std::move(*resolved));
    }
    return args;
}

std::optional<std::string> MakeDesktopEntry(const DesktopEntryFields& fields)
{
    // A line break would end the Exec= line and let the rest pose as further keys.
    if (fields.Exec.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return std::nullopt;
    // Exec= is already in the file's form; the texts get the file's escapes.
    const std::pair<const char*, std::string> values[] = {
        {"@NAME@", EscapeString(fields.Name)},        {"@GENERIC_NAME@", EscapeString(fields.GenericName)},
        {"@COMMENT@", EscapeString(fields.Comment)},  {"@ICON@", EscapeString(fields.Icon)},
        {"@TRY_EXEC@", EscapeString(fields.TryExec)}, {"@EXEC@", fields.Exec},
    };
    std::string extra;
    for (const auto& [key, value] : fields.Extra) {
        if (!IsPlainKey(key) || value.find('\0') != std::string::npos)
            return std::nullopt;
        extra += key + "=" + EscapeString(value) + "\n";
    }
    for (const auto& [mark, value] : values)
        if (value.find('\0') != std::string::npos)
            return std::nullopt;
    std::string out;
    std::string_view text = kDesktopEntryTemplate;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line == "@EXTRA@") {
            out += extra;
            continue;
        }
        // One mark a line at most; a key without a value says nothing and is left out.
        bool empty = false;
        for (const auto& [mark, value] : values) {
            if (const std::size_t at = line.find(mark); at != std::string::npos) {
                empty = value.empty();
                line.replace(at, std::string_view(mark).size(), value);
                break;
            }
        }
        if (!empty)
            out += line + "\n";
    }
    return out;
}

AutostartEntry::AutostartEntry(std::string folder, std::string name)
    : m_folder(WithTrailingSep(std::move(folder))), m_name(std::move(name))
{
}

AutostartEntry::Outcome AutostartEntry::Fail(int err) const
{
    m_error = err;
    if (err == ENOENT || err == ENOTDIR)
        return Outcome::Missing;
    return IsRightsError(err) ? Outcome::NoRights : Outcome::Failed;
}

AutostartEntry::Outcome AutostartEntry::FolderState() const
{
    struct stat st = {};
    if (::stat(m_folder.c_str(), &st) != 0)
        return Fail(errno);
    if (!S_ISDIR(st.st_mode))
        return Fail(ENOTDIR);
    return Outcome::Done;
}

AutostartEntry::Outcome AutostartEntry::ReadExec(std::string& fileValue, bool* switchedOff) const
{
    fileValue.clear();
    if (switchedOff)
        *switchedOff = false;
    OwnedFd fd(::open(Path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid())
        return Fail(errno);
    struct stat st = {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(EINVAL);
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(errno);
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > (1u << 20))
            return Fail(EFBIG);
    }
    bool inGroup = false;
    bool sawExec = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        line.erase(0, first == std::string::npos ? line.size() : first);
        if (!line.empty() && line.front() == '[') {
            inGroup = line == kGroup;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inGroup || eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        const std::size_t start = line.find_first_not_of(" \t", eq + 1);
        const std::string value = start == std::string::npos ? std::string() : line.substr(start);
        // The first of a repeated key counts, as the desktops read it.
        if (key == "Exec" && !sawExec) {
            fileValue = value;
            sawExec = true;
        } else if (switchedOff && key == "Hidden" && value == "true") {
            *switchedOff = true;
        } else if (switchedOff && key == "X-GNOME-Autostart-enabled" && value == "false") {
            *switchedOff = true;
        }
    }
    return Outcome::Done;
}

AutostartEntry::Outcome AutostartEntry::WriteEntry(const DesktopEntryFields& fields, bool createFolder) const
{
    const std::optional<std::string> text = MakeDesktopEntry(fields);
    if (!text)
        return Fail(EINVAL);
    if (createFolder && ::mkdir(m_folder.c_str(), 0755) != 0 && errno != EEXIST) {
        // The config folder itself may be missing on a fresh account.
        const std::string parent = FolderPart(WithoutTrailingSep(m_folder));
        if (errno != ENOENT || parent.empty() || (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) ||
            (::mkdir(m_folder.c_str(), 0755) != 0 && errno != EEXIST))
            return Fail(errno);
    }
    // Others may read a desktop entry; an entry the user changed keeps its mode.
    if (const int err = WriteFileAtomically(Path(), *text, 0644))
        return Fail(err);
    return Outcome::Done;
}

AutostartEntry::Outcome AutostartEntry::WriteExec(const std::string& fileValue,
                                                  const std::string& displayName, bool createFolder) const
{
    DesktopEntryFields fields;
    fields.Name = displayName;
    fields.Exec = fileValue;
    return WriteEntry(fields, createFolder);
}

AutostartEntry::Outcome AutostartEntry::Remove() const
{
    if (::unlink(Path().c_str()) != 0) {
        if (errno == ENOENT)
            return Outcome::Done;
        return Fail(errno);
    }
    return Outcome::Done;
}

} // namespace morvane
