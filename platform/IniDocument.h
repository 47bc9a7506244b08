#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace morvane {

// ASCII case folding for INI key names.
struct IniKeyHash
{
    std::size_t operator()(std::string_view key) const;
};
struct IniKeyEqual
{
    bool operator()(std::string_view a, std::string_view b) const;
};

// text without its leading and trailing spaces and tabs, as keys and values are read.
std::string_view TrimIniBlanks(std::string_view text);

// The parsed text of one INI file, kept line by line so that rewriting it keeps comments,
// blank lines and lines it does not understand. Sections are found by exact name and keys
// ignoring case, each in constant time; names come back in file order. A repeated section
// header adds to the first section of that name; a repeated key is shadowed by its first
// line. Any text parses: what is not a header or a "key=value" line is kept as it stands.
// Not thread-safe; a cached document is shared read-only.
class IniDocument
{
public:
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value text as it stands in the file (trimmed, quotes kept), or null.
    const std::string* RawValue(const std::string& section, const std::string& key) const;
    bool HasSection(const std::string& section) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(const std::string& section) const;

    // rawValue is stored as given (see EncodeValue); the section is added at the end when new.
    void Set(const std::string& section, const std::string& key, std::string rawValue);
    // Removes every line of the key; the section header stays.
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

    // File text of a value: quoted when blanks at either end or surrounding quotes would
    // otherwise be lost on reading.
    static std::string EncodeValue(const std::string& value);
    // The value a reader gets from the file text: one pair of surrounding quotes removed,
    // cut to kMaxValueLength bytes without splitting a UTF-8 character.
    static std::string DecodeValue(const std::string& rawValue);
    static std::string CutValue(std::string value);

    static constexpr std::size_t kMaxValueLength = 2047;

private:
    struct Line
    {
        std::string Key;  // empty: not a pair, Text is the whole line
        std::string Text; // the value of a pair
    };
    struct Section
    {
        std::string Name;
        bool Live = true;
        std::vector<Line> Lines;
        std::unordered_map<std::string, std::size_t, IniKeyHash, IniKeyEqual> Keys;

        void Reindex();
    };

    Section* Find(const std::string& name);
    const Section* Find(const std::string& name) const;

    std::vector<std::string> m_preamble; // lines before the first header, kept as they are
    std::vector<Section> m_sections;     // erased sections stay as dead entries
    std::unordered_map<std::string, std::size_t> m_index;
};

} // namespace morvane
