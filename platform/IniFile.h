#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

// Raised when an INI file cannot be written: "Unable to write to <path>". Error() is the
// errno of the step that failed (ENOSPC for a full disk ...), 0 when there was none.
class IniWriteError : public std::runtime_error
{
public:
    explicit IniWriteError(const std::string& path, int error = 0);
    const std::string& Path() const { return m_path; }
    int Error() const { return m_error; }

private:
    std::string m_path;
    int m_error;
};

// One INI file with private-profile behaviour: section names compare case-sensitively
// (they are paths), keys case-insensitively; keys and values are trimmed and one pair of
// surrounding quotes is stripped on read (a value with leading or trailing blanks is
// written quoted); values are read up to 2047 characters; CR and LF are refused in
// values and section names (std::invalid_argument); a section name is read up to the last
// "]" of its line, so names holding "[" or "]" round-trip.
//
// Reads come from a per-process cache of the parsed file, reused while the file on disk
// is unchanged, so loading many items parses the file once. Writes are kept in this
// object until Flush(), which, under an exclusive flock, re-reads the file when another
// writer changed it, applies this object's changes in order, writes a temporary file,
// flushes it and renames it over the old one: a reader never sees half a file and a crash
// never loses one. The destructor flushes what is pending and swallows errors; call
// Flush() to see them. Not shared between threads: one object per thread and use.
class IniFile
{
public:
    explicit IniFile(std::string path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& Path() const { return m_path; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Decimal, or hexadecimal after 0x/0X; a text that is no number gives def.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // Date text (see FormatIniDate); a text that does not parse gives def.
    double ReadDate(const std::string& section, const std::string& key, double def) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value); // "1"/"0"
    void WriteDate(const std::string& section, const std::string& key, double value);

    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

    // Section names in file order; keys of one section in file order.
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadKeys(const std::string& section) const;
    bool SectionExists(const std::string& section) const;

    // The state of the file as a read now finds it (this object's pending changes play no
    // part): another object after any change of the file, normally the same one while it
    // is unchanged. Holding it keeps its identity from being reused, so a caller can key
    // what it derived from the file on it.
    std::shared_ptr<const void> FileState() const;

    // Writes pending changes (see above). Throws IniWriteError.
    void Flush();

    // Drops every cached parse (tests, and after another program rewrote files).
    static void ClearCache();

    // Removes the temporary files that interrupted writes of path left in its folder (only
    // names this module makes for path), under the folder's lock, so no write in progress
    // loses its file. Returns how many went. Any thread; never throws.
    static int RemoveLeftovers(const std::string& path);

    // While a ReadScope of this object lives, its reads come from one state of the file:
    // the one the first read in the scope found, with this object's own changes on top
    // (a Flush in the scope moves on to the state it wrote). A record read key by key is
    // then never a mix of two writers' versions, and the file is looked at once instead of
    // at every read. Outside a scope every read looks at the file again, so a change
    // another process made before the read is seen. Scopes nest; same thread as the object.
    class ReadScope
    {
    public:
        explicit ReadScope(const IniFile& file);
        ~ReadScope();
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;

    private:
        const IniFile& m_file;
    };

private:
    struct Impl;
    std::string m_path;
    std::unique_ptr<Impl> m_impl;
};

} // namespace morvane
