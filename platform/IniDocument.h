#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
//
// Memory: the item list is held parsed for as long as the program runs, so the text lives
// in one buffer and a line costs 16 bytes beside it. Replaced values are appended to the
// buffer, which is compacted once more than half of it is dead.
class IniDocument
{
public:
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value text as it stands in the file (trimmed, quotes kept), or nothing. The view
    // lasts until the document changes.
    std::optional<std::string_view> RawValue(const std::string& section, std::string_view key) const;
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
    static std::string DecodeValue(std::string_view rawValue);
    static std::string CutValue(std::string value);

    static constexpr std::size_t kMaxValueLength = 2047;

private:
    // A piece of m_text.
    struct Span
    {
        std::uint32_t Off = 0;
        std::uint32_t Len = 0;
    };
    struct Line
    {
        Span Key;  // empty: not a pair, Text is the whole line
        Span Text; // the value of a pair
    };
    // Open addressing over indexes (of sections, or of a section's lines); kFree marks a
    // free slot. Linear probing; the table is at most half full.
    using Slots = std::vector<std::uint32_t>;
    static constexpr std::uint32_t kFree = 0xFFFFFFFFu;

    struct Section
    {
        Span Name;
        bool Live = true;
        std::uint32_t Pairs = 0; // lines that are pairs
        std::vector<Line> Lines;
        Slots Keys; // built only for sections with many pairs; others are searched in order
    };

    std::string_view View(Span span) const { return {m_text.data() + span.Off, span.Len}; }
    Span Store(std::string_view text);
    void Drop(Span span) { m_dead += span.Len; }
    // Rewrites m_text with only what is still in use, once more than half of it is dead.
    void MaybeCompact();
    void Compact();

    std::ptrdiff_t FindSection(std::string_view name) const;
    void IndexSection(std::uint32_t index);
    void RebuildSectionIndex();
    // The first line of key in s, or -1.
    std::ptrdiff_t FindKey(const Section& s, std::string_view key) const;
    void IndexKey(Section& s, std::uint32_t line);
    void Reindex(Section& s);

    std::string m_text;              // every name, key, value and kept line
    std::size_t m_dead = 0;          // bytes of m_text no longer used
    std::vector<Span> m_preamble;    // lines before the first header, kept as they are
    std::vector<Section> m_sections; // erased sections stay as dead entries
    Slots m_index;                   // live sections by name
    std::size_t m_indexed = 0;       // entries of m_index, live or dead
};

} // namespace morvane
