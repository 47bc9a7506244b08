#include "platform/RegistryStore.h"

#include "platform/IniDocument.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/XdgDirs.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// The default value has no name; "@" can never be the key of a named value (see EncodeName).
constexpr const char* kDefaultValueKey = "@";
// Written and deleted again in one flush: the section header stays and stands for a key
// without values.
constexpr const char* kEmptyKeyMarker = "%";

bool SameName(std::string_view a, std::string_view b)
{
    return IniKeyEqual()(a, b);
}

// The key path split into names; nothing when a name cannot be a section name.
std::optional<std::vector<std::string>> SplitKey(const std::string& key)
{
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; i <= key.size(); ++i) {
        if (i < key.size() && key[i] != kPathSep) {
            const char c = key[i];
            if (c == '\r' || c == '\n' || c == '\0' || c == ']')
                return std::nullopt;
            name += c;
            continue;
        }
        if (!name.empty())
            names.push_back(std::move(name));
        name.clear();
    }
    return names;
}

std::string Join(RegistryRoot root, const std::vector<std::string>& names, std::size_t count)
{
    std::string path = RegistryRootName(root);
    for (std::size_t i = 0; i < count; ++i) {
        path += kPathSep;
        path += names[i];
    }
    return path;
}

// True when section is path itself (exact) or lies below it (below).
bool IsAt(const std::string& section, const std::string& path)
{
    return SameName(section, path);
}

bool IsBelow(const std::string& section, const std::string& path)
{
    return section.size() > path.size() + 1 && section[path.size()] == kPathSep &&
           SameName(std::string_view(section).substr(0, path.size()), path);
}

// Value names become INI keys: bytes the INI file would lose or misread are written %XX.
std::string EncodeName(const std::string& name)
{
    if (name.empty())
        return kDefaultValueKey;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool edge = i == 0 || i + 1 == name.size();
        const bool escape = c == '%' || c == '=' || c < 0x20 || c == 0x7f ||
                            (edge && (c == ' ' || c == '\t')) ||
                            (i == 0 && (c == '[' || c == ';' || c == '@'));
        if (escape) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string DecodeName(const std::string& key)
{
    if (key == kDefaultValueKey)
        return {};
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size() && HexDigit(key[i + 1]) >= 0 && HexDigit(key[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(key[i + 1]) * 16 + HexDigit(key[i + 2]));
            i += 2;
        } else {
            out += key[i];
        }
    }
    return out;
}

// A new store file is private to the user, whatever the umask: it may hold command lines.
void PrepareFile(const std::string& path)
{
    const std::string folder = FolderPart(path);
    std::string part;
    for (std::size_t i = 0; i < folder.size(); ++i) {
        part += folder[i];
        if (folder[i] == kPathSep && part.size() > 1)
            ::mkdir(part.c_str(), 0700);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

std::string RegistryRootName(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case RegistryRoot::CurrentUser:
        return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::Users:
        return "HKEY_USERS";
    case RegistryRoot::CurrentConfig:
        return "HKEY_CURRENT_CONFIG";
    case RegistryRoot::DynData:
        return "HKEY_DYN_DATA";
    }
    return "HKEY_UNKNOWN";
}

std::string RegistryStore::DefaultPath()
{
    return ConfigHome() + "morvane/registry.ini";
}

RegistryStore::RegistryStore(std::string path) : m_path(std::move(path)) {}

struct RegistryStore::Impl
{
    // The section of the key as the file spells it, or nothing when the key has none.
    static std::optional<std::string> FindSection(const IniFile& ini, const std::string& path)
    {
        for (std::string& section : ini.ReadSections())
            if (IsAt(section, path))
                return std::move(section);
        return std::nullopt;
    }

    // The key's path spelled as the file already spells its existing ancestors.
    static std::string Spelled(const IniFile& ini, RegistryRoot root, const std::vector<std::string>& names)
    {
        const std::vector<std::string> sections = ini.ReadSections();
        for (std::size_t count = names.size(); count > 0; --count) {
            const std::string prefix = Join(root, names, count);
            for (const std::string& section : sections) {
                if (IsAt(section, prefix) || IsBelow(section, prefix)) {
                    std::string spelled = section.substr(0, prefix.size());
                    for (std::size_t i = count; i < names.size(); ++i)
                        spelled += kPathSep + names[i];
                    return spelled;
                }
            }
        }
        return Join(root, names, names.size());
    }

    // The section holding the key's values, created when missing; nothing when it cannot be.
    static std::optional<std::string> OpenOrCreate(IniFile& ini, RegistryRoot root, const std::string& key)
    {
        const auto names = SplitKey(key);
        if (!names)
            return std::nullopt;
        const std::string path = Join(root, *names, names->size());
        if (auto found = FindSection(ini, path))
            return found;
        std::string section = Spelled(ini, root, *names);
        ini.WriteString(section, kEmptyKeyMarker, "");
        ini.DeleteKey(section, kEmptyKeyMarker);
        return section;
    }

    static bool Flush(IniFile& ini)
    {
        try {
            PrepareFile(ini.Path());
            ini.Flush();
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    static std::string Fingerprint(const IniFile& ini, RegistryRoot root, const std::string& key,
                                   bool subtree, bool values)
    {
        const auto names = SplitKey(key);
        if (!names)
            return {};
        const std::string path = Join(root, *names, names->size());
        std::vector<std::string> lines;
        bool exists = names->empty();
        for (const std::string& section : ini.ReadSections()) {
            const bool at = IsAt(section, path);
            const bool below = IsBelow(section, path);
            if (!at && !below)
                continue;
            exists = true;
            std::string folded = section;
            std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
                return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            });
            if (values) {
                if (!at && !subtree)
                    continue;
                std::string line = folded + "\n";
                for (const std::string& k : ini.ReadKeys(section))
                    line += k + "=" + ini.ReadString(section, k, "") + "\n";
                lines.push_back(std::move(line));
            } else if (below) {
                if (subtree) {
                    lines.push_back(folded);
                } else {
                    const std::size_t end = folded.find(kPathSep, path.size() + 1);
                    lines.push_back(folded.substr(0, end));
                }
            }
        }
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        // The key's own coming and going counts as a change of names.
        std::string out = values ? "" : (exists ? "+\n" : "-\n");
        for (const std::string& line : lines)
            out += line + "\n";
        return out;
    }
};

bool RegistryStore::KeyExists(RegistryRoot root, const std::string& key) const
{
    const auto names = SplitKey(key);
    if (!names)
        return false;
    if (names->empty())
        return true;
    const std::string path = Join(root, *names, names->size());
    const IniFile ini(m_path);
    for (const std::string& section : ini.ReadSections())
        if (IsAt(section, path) || IsBelow(section, path))
            return true;
    return false;
}

bool RegistryStore::CreateKey(RegistryRoot root, const std::string& key)
{
    try {
        IniFile ini(m_path);
        return Impl::OpenOrCreate(ini, root, key) && Impl::Flush(ini);
    } catch (const std::exception&) {
        return false;
    }
}

bool RegistryStore::DeleteKey(RegistryRoot root, const std::string& key)
{
    const auto names = SplitKey(key);
    if (!names || names->empty())
        return false;
    const std::string path = Join(root, *names, names->size());
    try {
        IniFile ini(m_path);
        for (const std::string& section : ini.ReadSections())
            if (IsAt(section, path) || IsBelow(section, path))
                ini.EraseSection(section);
        return Impl::Flush(ini);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> RegistryStore::SubKeys(RegistryRoot root, const std::string& key) const
{
    std::vector<std::string> result;
    const auto names = SplitKey(key);
    if (!names)
        return result;
    const std::string path = Join(root, *names, names->size());
    const IniFile ini(m_path);
    for (const std::string& section : ini.ReadSections()) {
        if (!IsBelow(section, path))
            continue;
        const std::size_t start = path.size() + 1;
        const std::size_t end = section.find(kPathSep, start);
        std::string child = section.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const bool known = std::any_of(result.begin(), result.end(),
                                       [&](const std::string& n) { return SameName(n, child); });
        if (!known)
            result.push_back(std::move(child));
    }
    return result;
}

std::optional<std::string> RegistryStore::ReadValue(RegistryRoot root, const std::string& key,
                                                    const std::string& name) const
{
    const auto names = SplitKey(key);
    if (!names)
        return std::nullopt;
    const IniFile ini(m_path);
    const IniFile::ReadScope scope(ini);
    const auto section = Impl::FindSection(ini, Join(root, *names, names->size()));
    if (!section)
        return std::nullopt;
    const std::string encoded = EncodeName(name);
    for (const std::string& k : ini.ReadKeys(*section))
        if (SameName(k, encoded))
            return ini.ReadString(*section, k, "");
    return std::nullopt;
}

bool RegistryStore::WriteValue(RegistryRoot root, const std::string& key, const std::string& name,
                               const std::string& text)
{
    if (text.size() > kMaxValueLength ||
        text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return false;
    try {
        IniFile ini(m_path);
        const auto section = Impl::OpenOrCreate(ini, root, key);
        if (!section)
            return false;
        ini.WriteString(*section, EncodeName(name), text);
        return Impl::Flush(ini);
    } catch (const std::exception&) {
        return false;
    }
}

bool RegistryStore::DeleteValue(RegistryRoot root, const std::string& key, const std::string& name)
{
    const auto names = SplitKey(key);
    if (!names)
        return false;
    try {
        IniFile ini(m_path);
        const auto section = Impl::FindSection(ini, Join(root, *names, names->size()));
        if (!section)
            return true;
        ini.DeleteKey(*section, EncodeName(name));
        return Impl::Flush(ini);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> RegistryStore::ValueNames(RegistryRoot root, const std::string& key) const
{
    std::vector<std::string> result;
    const auto names = SplitKey(key);
    if (!names)
        return result;
    const IniFile ini(m_path);
    const auto section = Impl::FindSection(ini, Join(root, *names, names->size()));
    if (!section)
        return result;
    for (const std::string& k : ini.ReadKeys(*section))
        result.push_back(DecodeName(k));
    return result;
}

std::string RegistryStore::ValuesFingerprint(RegistryRoot root, const std::string& key, bool subtree) const
{
    const IniFile ini(m_path);
    const IniFile::ReadScope scope(ini);
    return Impl::Fingerprint(ini, root, key, subtree, true);
}

std::string RegistryStore::NamesFingerprint(RegistryRoot root, const std::string& key, bool subtree) const
{
    const IniFile ini(m_path);
    const IniFile::ReadScope scope(ini);
    return Impl::Fingerprint(ini, root, key, subtree, false);
}

} // namespace morvane
