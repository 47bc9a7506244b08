#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

// Command lines of desktop entries (the Exec= key) and the autostart entries that hold
// them. Any thread.

// arg as one argument of an Exec= line, as the file holds it: quoted when it holds a blank
// or a character the desktop's rules reserve, with "\"", "`", "$" and "\\" escaped inside
// the quotes, every "%" doubled (so no field code is read into it), and the file's own
// escapes applied on top. Nothing when arg holds a line break or a NUL (no line can hold it).
// With alwaysQuote the argument is quoted whatever it holds.
std::optional<std::string> EncodeExecArgument(const std::string& arg, bool alwaysQuote = false);

// The arguments of an Exec= value as the file holds it: the file's escapes undone, quotes
// and their escapes resolved, "%%" read as "%" and other field codes dropped. Nothing
// when a quote is left open.
std::optional<std::vector<std::string>> DecodeExecLine(const std::string& fileValue);

// What one desktop entry says. Texts are plain (the file's escapes are applied when the
// entry is made); Exec is as the file holds it (see EncodeExecArgument). Empty fields are
// left out of the entry.
struct DesktopEntryFields
{
    std::string Name;
    std::string GenericName;
    std::string Comment;
    std::string Icon;    // a theme icon's name or an absolute file path
    std::string TryExec; // the program, which must exist for the entry to count
    std::string Exec;
    std::vector<std::pair<std::string, std::string>> Extra; // further keys, in order
};

// The entry's text made from the one template the installed menu entry is also made from.
// Nothing when a text holds a NUL, Exec a line break, or a further key is no plain name.
std::optional<std::string> MakeDesktopEntry(const DesktopEntryFields& fields);

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
    // when the file is absent; Done with "" when it has no Exec= line. switchedOff (when
    // given) tells whether the desktop was told not to start it (Hidden=true, or
    // X-GNOME-Autostart-enabled=false, as the desktops' own settings write it).
    Outcome ReadExec(std::string& fileValue, bool* switchedOff = nullptr) const;
    // Writes the entry whole through a temporary file (creating the folder when create is
    // set). Failed (EINVAL) for fields MakeDesktopEntry refuses.
    Outcome WriteEntry(const DesktopEntryFields& fields, bool createFolder) const;
    // WriteEntry with the name and the Exec= value (as it stands) alone.
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
