#include "platform/IniDocument.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <unordered_map>

namespace morvane {

namespace {

char Fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::string_view TrimIniBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::size_t IniKeyHash::operator()(std::string_view key) const
{
    // FNV-1a over the folded bytes.
    std::size_t h = 1469598103934665603ull;
    for (char c : key) {
        h ^= static_cast<unsigned char>(Fold(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool IniKeyEqual::operator()(std::string_view a, std::string_view b) const
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    }
    return true;
}

namespace {

// Sections with more pairs than this get a hash index of their keys; an item's record has
// about thirty, which are found faster in order than through a table.
constexpr std::uint32_t kIndexedPairs = 48;

std::size_t NameHash(std::string_view name)
{
    return std::hash<std::string_view>()(name);
}

// Slots for at least n entries at most half full.
std::size_t TableSize(std::size_t n)
{
    std::size_t size = 16;
    while (size < 2 * n)
        size *= 2;
    return size;
}

} // namespace

IniDocument::Span IniDocument::Store(std::string_view text)
{
    if (text.empty())
        return {};
    if (m_text.size() + text.size() > 0xFFFFFFFFu)
        throw std::length_error("INI document too large");
    const Span span{static_cast<std::uint32_t>(m_text.size()), static_cast<std::uint32_t>(text.size())};
    m_text.append(text);
    return span;
}

void IniDocument::MaybeCompact()
{
    if (m_dead > (std::size_t(1) << 20) && m_dead > m_text.size() / 2)
        Compact();
}

void IniDocument::Compact()
{
    std::string text;
    text.reserve(m_text.size() - m_dead);
    const auto move = [&](Span& span) {
        const std::string_view old = View(span);
        span.Off = static_cast<std::uint32_t>(text.size());
        text.append(old);
    };
    // Keys shared by many lines stay shared.
    std::unordered_map<std::uint64_t, Span> keys;
    const auto moveKey = [&](Span& span) {
        const std::uint64_t old = (std::uint64_t(span.Off) << 32) | span.Len;
        const auto [it, added] = keys.try_emplace(old);
        if (added) {
            move(span);
            it->second = span;
        } else {
            span = it->second;
        }
    };
    for (Span& line : m_preamble)
        move(line);
    for (Section& s : m_sections) {
        move(s.Name);
        for (Line& line : s.Lines) {
            moveKey(line.Key);
            move(line.Text);
        }
    }
    m_text = std::move(text);
    m_dead = 0;
}

std::ptrdiff_t IniDocument::FindSection(std::string_view name) const
{
    if (m_index.empty())
        return -1;
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t i = NameHash(name) & mask;; i = (i + 1) & mask) {
        const std::uint32_t at = m_index[i];
        if (at == kFree)
            return -1;
        // An erased section keeps its slot, so that the probe goes on past it.
        const Section& s = m_sections[at];
        if (s.Live && View(s.Name) == name)
            return at;
    }
}

void IniDocument::IndexSection(std::uint32_t index)
{
    // The new section is live already: a rebuild files it with the others.
    if (2 * (m_indexed + 1) > m_index.size()) {
        RebuildSectionIndex();
        return;
    }
    const std::size_t mask = m_index.size() - 1;
    std::size_t i = NameHash(View(m_sections[index].Name)) & mask;
    while (m_index[i] != kFree)
        i = (i + 1) & mask;
    m_index[i] = index;
    ++m_indexed;
}

void IniDocument::RebuildSectionIndex()
{
    std::size_t live = 0;
    for (const Section& s : m_sections)
        live += s.Live ? 1 : 0;
    m_index.assign(TableSize(2 * live + 1), kFree);
    m_indexed = 0;
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t n = 0; n < m_sections.size(); ++n) {
        if (!m_sections[n].Live)
            continue;
        std::size_t i = NameHash(View(m_sections[n].Name)) & mask;
        while (m_index[i] != kFree)
            i = (i + 1) & mask;
        m_index[i] = static_cast<std::uint32_t>(n);
        ++m_indexed;
    }
}

std::ptrdiff_t IniDocument::FindKey(const Section& s, std::string_view key) const
{
    const IniKeyEqual equal;
    if (s.Keys.empty()) {
        for (std::size_t n = 0; n < s.Lines.size(); ++n) {
            const Span k = s.Lines[n].Key;
            if (k.Len == key.size() && k.Len != 0 && equal(View(k), key))
                return static_cast<std::ptrdiff_t>(n);
        }
        return -1;
    }
    const std::size_t mask = s.Keys.size() - 1;
    for (std::size_t i = IniKeyHash()(key) & mask;; i = (i + 1) & mask) {
        const std::uint32_t at = s.Keys[i];
        if (at == kFree)
            return -1;
        if (equal(View(s.Lines[at].Key), key))
            return at;
    }
}

void IniDocument::IndexKey(Section& s, std::uint32_t line)
{
    if (s.Keys.empty() && s.Pairs <= kIndexedPairs)
        return;
    if (2 * s.Pairs > s.Keys.size()) {
        Reindex(s);
        return;
    }
    const std::size_t mask = s.Keys.size() - 1;
    std::size_t i = IniKeyHash()(View(s.Lines[line].Key)) & mask;
    while (s.Keys[i] != kFree)
        i = (i + 1) & mask;
    s.Keys[i] = line;
}

void IniDocument::Reindex(Section& s)
{
    s.Keys.clear();
    s.Pairs = 0;
    for (const Line& line : s.Lines)
        s.Pairs += line.Key.Len != 0 ? 1 : 0;
    if (s.Pairs <= kIndexedPairs) {
        s.Keys.shrink_to_fit();
        return;
    }
    s.Keys.assign(TableSize(2 * s.Pairs), kFree);
    const std::size_t mask = s.Keys.size() - 1;
    const IniKeyEqual equal;
    for (std::size_t n = 0; n < s.Lines.size(); ++n) {
        const Span key = s.Lines[n].Key;
        if (key.Len == 0)
            continue;
        std::size_t i = IniKeyHash()(View(key)) & mask;
        bool shadowed = false; // the first line of a key wins
        for (; s.Keys[i] != kFree; i = (i + 1) & mask) {
            if (equal(View(s.Lines[s.Keys[i]].Key), View(key))) {
                shadowed = true;
                break;
            }
        }
        if (!shadowed)
            s.Keys[i] = static_cast<std::uint32_t>(n);
    }
}

IniDocument IniDocument::Parse(std::string_view text)
{
    IniDocument doc;
    doc.m_text.reserve(text.size());
    // A list holds thousands of sections: the room for them, and their index, is made
    // once rather than grown step by step (a header with blanks before it is not
    // counted, and only costs a step of growth).
    std::size_t headers = !text.empty() && text.front() == '[' ? 1 : 0;
    for (std::size_t at = text.find("\n["); at != std::string_view::npos; at = text.find("\n[", at + 2))
        ++headers;
    doc.m_sections.reserve(headers);
    doc.m_index.assign(TableSize(2 * (headers + 1)), kFree);
    // Every record repeats the same key names: each is stored once.
    std::unordered_map<std::string_view, Span> keys;
    std::ptrdiff_t current = -1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // CR, LF and CR LF all end a line, so no value read back ever holds either.
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view raw = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r')
            ++pos;
        if (pos < text.size() && text[pos] == '\n' && (pos == end || text[end] == '\r'))
            ++pos;

        const std::string_view line = TrimIniBlanks(raw);
        if (!line.empty() && line.front() == '[') {
            // Up to the last "]": a path such as "draft [1].txt" is a whole section name.
            const std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                const std::string_view name = line.substr(1, close - 1);
                current = doc.FindSection(name);
                if (current < 0) {
                    current = static_cast<std::ptrdiff_t>(doc.m_sections.size());
                    doc.m_sections.push_back(Section{doc.Store(name), true, 0, {}, {}});
                    doc.IndexSection(static_cast<std::uint32_t>(current));
                }
                continue;
            }
        }
        if (current < 0) {
            doc.m_preamble.push_back(doc.Store(raw));
            continue;
        }
        Section& s = doc.m_sections[static_cast<std::size_t>(current)];
        const std::size_t eq = line.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : TrimIniBlanks(line.substr(0, eq));
        if (key.empty() || line.front() == ';') {
            s.Lines.push_back(Line{{}, doc.Store(raw)});
            continue;
        }
        // Keyed by the parsed text itself, which outlives the map.
        const auto known = keys.find(key);
        const Span k = known != keys.end() ? known->second : keys.emplace(key, doc.Store(key)).first->second;
        s.Lines.push_back(Line{k, doc.Store(TrimIniBlanks(line.substr(eq + 1)))});
        ++s.Pairs;
    }
    for (Section& s : doc.m_sections) {
        s.Lines.shrink_to_fit();
        if (s.Pairs > kIndexedPairs)
            doc.Reindex(s);
    }
    return doc;
}

std::string IniDocument::Serialize() const
{
    std::string out;
    out.reserve(m_text.size() - m_dead + 2 * m_preamble.size() + 4 * m_sections.size());
    for (const Span line : m_preamble) {
        out += View(line);
        out += '\n';
    }
    for (const Section& section : m_sections) {
        if (!section.Live)
            continue;
        out += '[';
        out += View(section.Name);
        out += "]\n";
        for (const Line& line : section.Lines) {
            if (line.Key.Len != 0) {
                out += View(line.Key);
                out += '=';
            }
            out += View(line.Text);
            out += '\n';
        }
    }
    return out;
}

std::optional<std::string_view> IniDocument::RawValue(const std::string& section, std::string_view key) const
{
    const std::ptrdiff_t s = FindSection(section);
    if (s < 0)
        return std::nullopt;
    const Section& sec = m_sections[static_cast<std::size_t>(s)];
    const std::ptrdiff_t line = FindKey(sec, key);
    if (line < 0)
        return std::nullopt;
    return View(sec.Lines[static_cast<std::size_t>(line)].Text);
}

bool IniDocument::HasSection(const std::string& section) const
{
    return FindSection(section) >= 0;
}

std::vector<std::string> IniDocument::SectionNames() const
{
    std::vector<std::string> names;
    names.reserve(m_indexed);
    for (const Section& section : m_sections) {
        if (section.Live)
            names.emplace_back(View(section.Name));
    }
    return names;
}

std::vector<std::string> IniDocument::KeyNames(const std::string& section) const
{
    std::vector<std::string> names;
    const std::ptrdiff_t at = FindSection(section);
    if (at < 0)
        return names;
    const Section& s = m_sections[static_cast<std::size_t>(at)];
    for (std::size_t i = 0; i < s.Lines.size(); ++i) {
        const Span key = s.Lines[i].Key;
        if (key.Len != 0 && FindKey(s, View(key)) == static_cast<std::ptrdiff_t>(i))
            names.emplace_back(View(key));
    }
    return names;
}

void IniDocument::Set(const std::string& section, const std::string& key, std::string rawValue)
{
    // Only here, before anything is stored: a compaction moves the text of every line.
    MaybeCompact();
    std::ptrdiff_t at = FindSection(section);
    if (at < 0) {
        at = static_cast<std::ptrdiff_t>(m_sections.size());
        m_sections.push_back(Section{Store(section), true, 0, {}, {}});
        IndexSection(static_cast<std::uint32_t>(at));
    }
    Section& s = m_sections[static_cast<std::size_t>(at)];
    const std::ptrdiff_t found = FindKey(s, key);
    if (found >= 0) {
        Span& text = s.Lines[static_cast<std::size_t>(found)].Text;
        // A save rewrites every key of a record; most of them keep their value.
        if (View(text) == rawValue)
            return;
        Drop(text);
        text = Store(rawValue);
        return;
    }
    // A new key goes after the section's last pair, ahead of the comments and blank lines
    // that usually separate it from the next section. Only pairs are indexed, and all of
    // them stay in front of the insertion point.
    const Span k = Store(key);
    const Span v = Store(rawValue);
    std::size_t line = s.Lines.size();
    while (line > 0 && s.Lines[line - 1].Key.Len == 0)
        --line;
    s.Lines.insert(s.Lines.begin() + static_cast<std::ptrdiff_t>(line), Line{k, v});
    ++s.Pairs;
    IndexKey(s, static_cast<std::uint32_t>(line));
}

void IniDocument::DeleteKey(const std::string& section, const std::string& key)
{
    const std::ptrdiff_t at = FindSection(section);
    if (at < 0)
        return;
    Section& s = m_sections[static_cast<std::size_t>(at)];
    if (FindKey(s, key) < 0)
        return;
    const IniKeyEqual equal;
    // Key texts are shared between lines and never counted dead.
    std::erase_if(s.Lines, [&](const Line& line) {
        if (line.Key.Len == 0 || !equal(View(line.Key), key))
            return false;
        Drop(line.Text);
        return true;
    });
    Reindex(s);
}

void IniDocument::EraseSection(const std::string& section)
{
    const std::ptrdiff_t at = FindSection(section);
    if (at < 0)
        return;
    Section& s = m_sections[static_cast<std::size_t>(at)];
    for (const Line& line : s.Lines) {
        Drop(line.Text);
    }
    Drop(s.Name);
    s.Name = {};
    s.Live = false;
    s.Pairs = 0;
    s.Lines = {};
    s.Keys = {};
}

std::string IniDocument::EncodeValue(const std::string& value)
{
    if (value.empty())
        return value;
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (IsBlank(value.front()) || IsBlank(value.back()) || quoted)
        return '"' + value + '"';
    return value;
}

std::string IniDocument::DecodeValue(std::string_view rawValue)
{
    if (rawValue.size() >= 2 && rawValue.front() == '"' && rawValue.back() == '"')
        return CutValue(std::string(rawValue.substr(1, rawValue.size() - 2)));
    return CutValue(std::string(rawValue));
}

std::string IniDocument::CutValue(std::string value)
{
    if (value.size() <= kMaxValueLength)
        return value;
    std::size_t cut = kMaxValueLength;
    // Step back over continuation bytes so the cut lands on a character boundary.
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;
    value.resize(cut);
    return value;
}

} // namespace morvane
