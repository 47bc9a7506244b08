#include "monitor/MonitorLanguage.h"

#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "support/LanguageFiles.h"

namespace morvane::monitor {

const std::array<MonitorTextInfo, static_cast<std::size_t>(MonitorText::Count)> kMonitorTexts = {{
    {"MesPathTooLong", "The path is longer than 255 bytes and cannot be monitored: %1"},
    {"MesReassignRefused", "The file cannot be reassigned: %1: %2"},
    {"MesReassignNotAbsolute", "not the absolute path of a file"},
    {"MesReassignTooLong", "the path is longer than 255 bytes"},
    {"MesReassignLineBreak", "the item list cannot hold a line break in a name"},
    {"MesReassignReplacesFile",
     "The file %1 is monitored already, with %2. Reassigning to it removes that item and its versions. "
     "Reassign anyway?"},
    {"MesReassignReplacesFolder",
     "The folder %1 is monitored already, with %2 and %3. Reassigning to it removes that folder, its files "
     "and their versions. Reassign anyway?"},
    {"MesVersionCountOne", "%1 version"},
    {"MesVersionCountMany", "%1 versions"},
    {"MesFileCountOne", "%1 file"},
    {"MesFileCountMany", "%1 files"},
    {"MesTrashFailed", "The version cannot be moved to the trash. Delete it for good?"},
    {"MesVersionNotDeleted", "The version was not deleted."},
    {"MesAgentNotRunning",
     "The agent is not running, so nothing was changed. Start the agent and try again."},
    {"MesRequestNotSent", "The request could not be sent to the agent. Is it still running?"},
    {"MesFolderOptionsCaption", "%1 settings"},
    {"MesRequestNotTaken", "The agent has not taken an earlier request, so this was not done:"},
    {"MesTryAgain", "Try again in a moment."},
    {"MesNothingOpens", "Nothing could open %1"},
    {"MesNothingOpensWith", "Nothing could open %1 with %2"},
    {"MesListEntriesSkipped", "Some entries of the item list %1 cannot be shown:"},
    {"MesFolderListedAlready", "The folder %1 is monitored already, with these options."},
    {"MesFolderDescriptionNotFound", "Folder description not found"},
    {"MesFolderDefinitionNotFound", "Folder definition not found"},
    {"MesAgentGone", "Agent not running"},
    {"MesReportNotHandled", "A report of the agent could not be handled: %1"},
    {"MesHelpMissing",
     "The help pages were not found. They belong in \"%1\" or \"%2\"; installing the program again puts them "
     "back."},
}};

std::string ChooseLanguage(const std::string& home)
{
    IniFile settings(home + kSettingsFileName);
    const std::string language = settings.ReadString("Basic", "Language", "");
    if (!language.empty())
        return language;
    const std::string user = UserLanguageName();
    if (!user.empty() && LanguageFileExists(user))
        return user;
    return "English";
}

std::string MonitorTextPattern(const std::string& languageFile, MonitorText text)
{
    const MonitorTextInfo& info = kMonitorTexts[static_cast<std::size_t>(text)];
    try {
        if (!languageFile.empty())
            return ReadLanguageText(languageFile, kMonitorTextSection, info.Key, info.Default);
    } catch (const std::exception&) {
        // An unreadable language file leaves the English text.
    }
    return info.Default;
}

std::string FillPlaceholders(const std::string& pattern, const std::vector<std::string>& args)
{
    // One pass: a "%2" inside a file name put in for %1 stays as it is.
    std::string result;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9') {
            const std::size_t arg = static_cast<std::size_t>(next - '1');
            if (arg < args.size())
                result += args[arg];
            ++i;
            continue;
        }
        result += pattern[i];
    }
    return result;
}

std::string MonitorMessage(const std::string& languageFile, MonitorText text,
                           const std::vector<std::string>& args)
{
    return FillPlaceholders(MonitorTextPattern(languageFile, text), args);
}

std::string CountText(const std::string& languageFile, std::size_t count, MonitorText one, MonitorText many)
{
    return MonitorMessage(languageFile, count == 1 ? one : many, {std::to_string(count)});
}

} // namespace morvane::monitor
