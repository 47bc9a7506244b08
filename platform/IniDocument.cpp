#include "platform/IniDocument.h"

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

void IniDocument::Section::Reindex()
{
    Keys.clear();
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (!Lines[i].Key.empty())
            Keys.emplace(Lines[i].Key, i); // the first line of a key wins
    }
}

IniDocument IniDocument::Parse(std::string_view text)
{
    IniDocument doc;
    Section* current = nullptr;
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
                std::string name(line.substr(1, close - 1));
                auto it = doc.m_index.find(name);
                if (it == doc.m_index.end()) {
                    it = doc.m_index.emplace(name, doc.m_sections.size()).first;
                    doc.m_sections.push_back(Section{std::move(name), true, {}, {}});
                }
                current = &doc.m_sections[it->second];
                continue;
            }
        }
        if (!current) {
            doc.m_preamble.emplace_back(raw);
            continue;
        }
        const std::size_t eq = line.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : TrimIniBlanks(line.substr(0, eq));
        if (key.empty() || line.front() == ';') {
            current->Lines.push_back(Line{{}, std::string(raw)});
            continue;
        }
        current->Lines.push_back(Line{std::string(key), std::string(TrimIniBlanks(line.substr(eq + 1)))});
        current->Keys.emplace(current->Lines.back().Key, current->Lines.size() - 1);
    }
    return doc;
}

std::string IniDocument::Serialize() const
{
    std::size_t size = 0;
    for (const std::string& line : m_preamble)
        size += line.size() + 1;
    for (const Section& section : m_sections) {
        size += section.Name.size() + 3;
        for (const Line& line : section.Lines)
            size += line.Key.size() + line.Text.size() + 2;
    }
    std::string out;
    out.reserve(size);
    for (const std::string& line : m_preamble) {
        out += line;
        out += '\n';
    }
    for (const Section& section : m_sections) {
        if (!section.Live)
            continue;
        out += '[';
        out += section.Name;
        out += "]\n";
        for (const Line& line : section.Lines) {
            if (!line.Key.empty()) {
                out += line.Key;
                out += '=';
            }
            out += line.Text;
            out += '\n';
        }
    }
    return out;
}

IniDocument::Section* IniDocument::Find(const std::string& name)
{
    const auto it = m_index.find(name);
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

const IniDocument::Section* IniDocument::Find(const std::string& name) const
{
    const auto it = m_index.find(name);
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

const std::string* IniDocument::RawValue(const std::string& section, const std::string& key) const
{
    const Section* s = Find(section);
    if (!s)
        return nullptr;
    const auto it = s->Keys.find(key);
    return it == s->Keys.end() ? nullptr : &s->Lines[it->second].Text;
}

bool IniDocument::HasSection(const std::string& section) const
{
    return Find(section) != nullptr;
}

std::vector<std::string> IniDocument::SectionNames() const
{
    std::vector<std::string> names;
    names.reserve(m_index.size());
    for (const Section& section : m_sections) {
        if (section.Live)
            names.push_back(section.Name);
    }
    return names;
}

std::vector<std::string> IniDocument::KeyNames(const std::string& section) const
{
    std::vector<std::string> names;
    const Section* s = Find(section);
    if (!s)
        return names;
    for (std::size_t i = 0; i < s->Lines.size(); ++i) {
        const std::string& key = s->Lines[i].Key;
        if (!key.empty() && s->Keys.at(key) == i)
            names.push_back(key);
    }
    return names;
}

void IniDocument::Set(const std::string& section, const std::string& key, std::string rawValue)
{
    Section* s = Find(section);
    if (!s) {
        m_index.emplace(section, m_sections.size());
        m_sections.push_back(Section{section, true, {}, {}});
        s = &m_sections.back();
    }
    const auto it = s->Keys.find(key);
    if (it != s->Keys.end()) {
        s->Lines[it->second].Text = std::move(rawValue);
        return;
    }
    // A new key goes after the section's last pair, ahead of the comments and blank lines
    // that usually separate it from the next section. Only pairs are indexed, and all of
    // them stay in front of the insertion point.
    std::size_t at = s->Lines.size();
    while (at > 0 && s->Lines[at - 1].Key.empty())
        --at;
    s->Lines.insert(s->Lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key, std::move(rawValue)});
    s->Keys.emplace(key, at);
}

void IniDocument::DeleteKey(const std::string& section, const std::string& key)
{
    Section* s = Find(section);
    if (!s || !s->Keys.contains(key))
        return;
    const IniKeyEqual equal;
    std::erase_if(s->Lines, [&](const Line& line) { return !line.Key.empty() && equal(line.Key, key); });
    s->Reindex();
}

void IniDocument::EraseSection(const std::string& section)
{
    const auto it = m_index.find(section);
    if (it == m_index.end())
        return;
    Section& s = m_sections[it->second];
    s.Live = false;
    s.Lines.clear();
    s.Keys.clear();
    m_index.erase(it);
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

std::string IniDocument::DecodeValue(const std::string& rawValue)
{
    if (rawValue.size() >= 2 && rawValue.front() == '"' && rawValue.back() == '"')
        return CutValue(rawValue.substr(1, rawValue.size() - 2));
    return CutValue(rawValue);
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
