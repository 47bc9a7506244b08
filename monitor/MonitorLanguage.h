#pragma once

#include <array>
#include <string>
#include <vector>

namespace morvane::monitor {

// The language rule of the monitor, the same as the agent's: Language of section Basic
// of home + "kelvrim.ini"; when empty, the user's language when its file exists in
// Langs/, else "English".
std::string ChooseLanguage(const std::string& home);

// Texts the monitor's own code writes into its boxes and status bar. Each has a key in
// section kMonitorTextSection of a language file and an English default; "%1", "%2", ...
// in a text stand for the names and numbers filled in (a line break, which a language
// file cannot hold, is added by the code around the text).
enum class MonitorText
{
    PathTooLong,
    ReassignRefused,
    ReassignNotAbsolute,
    ReassignTooLong,
    ReassignLineBreak,
    ReassignReplacesFile,
    ReassignReplacesFolder,
    VersionCountOne,
    VersionCountMany,
    FileCountOne,
    FileCountMany,
    TrashFailed,
    VersionNotDeleted,
    AgentNotRunning,
    RequestNotSent,
    FolderOptionsCaption,
    RequestNotTaken,
    TryAgain,
    NothingOpens,
    NothingOpensWith,
    ListEntriesSkipped,
    FolderListedAlready,
    FolderDescriptionNotFound,
    FolderDefinitionNotFound,
    AgentGone,
    ReportNotHandled,
    HelpMissing,
    Count
};

struct MonitorTextInfo
{
    const char* Key;
    const char* Default;
};

inline constexpr const char* kMonitorTextSection = "MonitorMessages";
extern const std::array<MonitorTextInfo, static_cast<std::size_t>(MonitorText::Count)> kMonitorTexts;

// The text as the language of languageFile gives it (the user's file, then the shipped
// one, then the English default), placeholders and all. Never throws. Main thread.
std::string MonitorTextPattern(const std::string& languageFile, MonitorText text);
// pattern with %1 to %9 replaced by args in order; what an argument holds is never read
// as a placeholder.
std::string FillPlaceholders(const std::string& pattern, const std::vector<std::string>& args);
// FillPlaceholders of MonitorTextPattern.
std::string MonitorMessage(const std::string& languageFile, MonitorText text,
                           const std::vector<std::string>& args = {});
// "1 version" or "n versions" (files: "1 file", "n files") in that language.
std::string CountText(const std::string& languageFile, std::size_t count, MonitorText one, MonitorText many);

} // namespace morvane::monitor
