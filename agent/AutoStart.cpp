#include "agent/AutoStart.h"

#include "platform/AutostartEntry.h"
#include "platform/XdgDirs.h"

#include <QString>
#include <exception>

namespace morvane {

namespace {

// Started after the desktop's panel, so the tray icon finds its tray.
constexpr const char* kAutostartDelaySeconds = "3";

} // namespace

AutoStart::AutoStart(std::string valueName) : m_name(std::move(valueName)) {}

std::string AutoStart::EntryPath() const
{
    try {
        return AutostartEntry(UserAutostartDir(), m_name).Path();
    } catch (const std::exception&) {
        return {};
    }
}

std::optional<std::string> AutoStart::ReadValue() const
{
    try {
        const AutostartEntry entry(UserAutostartDir(), m_name);
        std::string value;
        bool switchedOff = false;
        switch (entry.ReadExec(value, &switchedOff)) {
        case AutostartEntry::Outcome::Done:
            return switchedOff ? std::string() : value;
        case AutostartEntry::Outcome::Missing:
            return std::string();
        case AutostartEntry::Outcome::NoRights:
        case AutostartEntry::Outcome::Failed:
            break;
        }
    } catch (const std::exception&) {
        // No home folder: nothing can be read.
    }
    return std::nullopt;
}

bool AutoStart::WriteProgram(const std::string& programPath) const
{
    const std::optional<std::string> exec = EncodeExecArgument(programPath, true);
    if (!exec)
        return false;
    DesktopEntryFields fields;
    fields.Name = "Morvane Agent";
    fields.Comment = "Keeps earlier versions of your files";
    fields.Icon = MORVANE_APP_ID;
    fields.TryExec = programPath;
    fields.Exec = *exec;
    fields.Extra = {{"X-GNOME-Autostart-enabled", "true"},
                    {"X-GNOME-Autostart-Delay", kAutostartDelaySeconds},
                    {"X-KDE-autostart-after", "panel"}};
    try {
        return AutostartEntry(UserAutostartDir(), m_name).WriteEntry(fields, true) ==
               AutostartEntry::Outcome::Done;
    } catch (const std::exception&) {
        return false;
    }
}

std::string AutoStart::QuotedProgram(const std::string& programPath)
{
    return EncodeExecArgument(programPath, true).value_or(std::string());
}

bool AutoStart::Matches(const std::string& value, const std::string& programPath)
{
    const std::string quoted = QuotedProgram(programPath);
    return !quoted.empty() &&
           QString::fromStdString(value).toUpper() == QString::fromStdString(quoted).toUpper();
}

} // namespace morvane
