#pragma once

#include <optional>
#include <string>

namespace morvane {

// The agent's entry in the desktop's autostart folder: the file
// $XDG_CONFIG_HOME/autostart/<name>.desktop (default ~/.config/autostart/), whose Exec=
// line holds the value: the agent's full path in double quotes. Any thread.
class AutoStart
{
public:
    explicit AutoStart(std::string valueName);

    // Full path of the entry file.
    std::string EntryPath() const;

    // The value of the Exec= line of the entry's [Desktop Entry] group; empty when the file
    // or the line is missing. Nothing when the file exists but cannot be read.
    std::optional<std::string> ReadValue() const;

    // Writes the entry (creating the folder), replacing the file whole through a temporary
    // file; false when it cannot be written.
    bool WriteValue(const std::string& value) const;

    // The value that starts programPath: the path in double quotes.
    static std::string QuotedProgram(const std::string& programPath);

    // True when value starts programPath: equal to its quoted form, ignoring letter case.
    static bool Matches(const std::string& value, const std::string& programPath);

private:
    std::string m_name;
};

} // namespace morvane
