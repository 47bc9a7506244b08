#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane {

// Command lines of desktop entries (the Exec= key) and the autostart entries that hold
// them. Any thread.

// arg as one argument of an Exec= line, as the file holds it: quoted when it holds a blank
// or a character the desktop's rules reserve, with "\"", "`", "$" and "\\" escaped inside
// the quotes, every "%" doubled (so no field code is read into it), and the file's own
// escapes applied on top. Nothing when arg holds a line break or a NUL (no line can hold it).
std::optional<std::string> EncodeExecArgument(const std::string& arg);

// The arguments of an Exec= value as the file holds it: the file's escapes undone, quotes
// and their escapes resolved, "%%" read as "%" and other field codes dropped. Nothing
// when a quote is left open.
std::optional<std::vector<std::string>> DecodeExecLine(const std::string& fileValue);

// One desktop entry "<folder><name>.desktop" that starts a program when the user logs in.
class AutostartEntry
{
public:
    enum class Outcome
    {
        Done,
        Missing,  // the entry (or its folder) is not there
        NoRights, // the folder or file may not be read or changed by this user
        Failed,   // anything else; errno-style code in the result's error
    };

    AutostartEntry(std::string folder, std::string name);

    std::string Path() const { return m_folder + m_name + ".desktop"; }
    const std::string& Folder() const { return m_folder; }

    // Whether the folder exists: Done, Missing, or NoRights when it cannot be looked at.
    Outcome FolderState() const;
    // The Exec= value of the entry's [Desktop Entry] group, as the file holds it. Missing
    // when the file is absent; Done with "" when it has no Exec= line.
    Outcome ReadExec(std::string& fileValue) const;
    // Writes the entry whole through a temporary file (creating the folder when create is
    // set); fileValue goes on the Exec= line as it stands. Failed for a value with a line break.
    Outcome WriteExec(const std::string& fileValue, const std::string& displayName, bool createFolder) const;
    // Removes the entry; Done also when it was not there.
    Outcome Remove() const;

    // The errno of the last failure.
    int Error() const { return m_error; }

private:
    Outcome Fail(int err) const;

    std::string m_folder;
    std::string m_name;
    mutable int m_error = 0;
};

} // namespace morvane
