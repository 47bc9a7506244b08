#include "monitor/MonitorLanguage.h"

#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "support/LanguageFiles.h"

namespace morvane::monitor {

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

} // namespace morvane::monitor
