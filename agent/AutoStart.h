#pragma once

#include <optional>
#include <string>

namespace morvane {

// The agent's entry in the desktop's autostart folder: the file
// $XDG_CONFIG_HOME/autostart/<name>.desktop (default ~/.config/autostart/), whose Exec=
// line holds the value: the agent's full path in double quotes, in the escaped form the
// desktop reads. Made from the same template as the installed menu entry. Any thread.
class AutoStart
{
public:
    explicit AutoStart(std::string valueName);

    // Full path of the entry file; "" when the user has no home folder.
    std::string EntryPath() const;

    // The Exec= value of the entry as the file holds it; empty when the file or the line
    // is missing, or when the desktop was told not to start the entry (the user switched
    // it off in the desktop's settings). Nothing when the file exists but cannot be read.
    std::optional<std::string> ReadValue() const;

    // Writes the entry that starts programPath (creating the folder), replacing the file
    // whole through a temporary file; false when it cannot be written.
    bool WriteProgram(const std::string& programPath) const;

    // The Exec= value that starts programPath: the path in double quotes, escaped.
    static std::string QuotedProgram(const std::string& programPath);

    // True when value starts programPath: equal to its quoted form, ignoring letter case.
    static bool Matches(const std::string& value, const std::string& programPath);

private:
    std::string m_name;
};

} // namespace morvane
