#include "agent/AgentSettings.h"

#include "engine/ItemRecordIO.h"
#include "platform/Compression.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"

#include <QDir>
#include <QString>
#include <cstdio>
#include <exception>
#include <memory>

namespace morvane {

namespace {

constexpr const char* kBasic = "Basic";
constexpr const char* kExplorerMenu = "ExplorerMenu";
constexpr const char* kSystemMessages = "SystemMessages";

} // namespace

AgentSettings::AgentSettings(std::string homeDir) : m_home(WithTrailingSep(std::move(homeDir))) {}

std::string AgentSettings::LocaleDateTimeFormat()
{
    const DateFormatSettings& locale = SystemDateFormatSettings();
    return locale.ShortDateFormat + " " + locale.ShortTimeFormat;
}

std::string AgentSettings::LanguageFile(const std::string& name) const
{
    return FindLanguageFile(m_home + "Langs/", name);
}

std::string AgentSettings::ChooseLanguage() const
{
    IniFile settings(SettingsFile());
    std::string name = settings.ReadString(kBasic, "Language", "");
    if (!name.empty())
        return name;
    const std::string user = UserLanguageName();
    if (!user.empty() && LanguageHasTexts(LanguageFile(user)))
        return user;
    return "English";
}

std::string AgentSettings::ReadMessage(const std::string& key, const std::string& def) const
{
    const std::string file = LanguageFile(ChooseLanguage());
    if (file.empty())
        return def;
    return ReadLanguageText(file, kSystemMessages, key, def);
}

void AgentSettings::MakeBackupFolder(const std::string& root) const
{
    if (root.empty() || DirectoryExists(root))
        return;
    if (!MakePrivateDirs(WithoutTrailingSep(root))) {
        Log("cannot create the backup folder " + root);
        return;
    }
    try {
        if (DriveSupportsCompression(root))
            SetFileCompression(root, 1);
    } catch (const std::exception& e) {
        // The folder works uncompressed; say why it is not compressed.
        Log("cannot compress the backup folder " + root + ": " + e.what());
    }
}

void AgentSettings::LoadSettings(SharedBlock& block, bool keepHandshake)
{
    SharedSettings& s = block.Settings;
    try {
        IniFile settings(SettingsFile());
        s.ShowDate = settings.ReadBool(kExplorerMenu, "ShowDate", true);

        m_backupRoot = ReadBackupRoot(SettingsFile(), m_home);
        if (FitsShortText(m_backupRoot)) {
            s.BackupPath.Set(m_backupRoot);
        } else {
            // A cut path would name another folder; the monitor gets none rather than a
            // wrong one.
            Log("the backup path is longer than 255 bytes and is not shared: " + m_backupRoot);
            s.BackupPath.Set("");
        }
        MakeBackupFolder(m_backupRoot);

        s.DateFormat.Set(settings.ReadString(kExplorerMenu, "DateFormat", LocaleDateTimeFormat()));
        s.ShowFileName = settings.ReadBool(kExplorerMenu, "ShowFileName", true);
        s.LimitShow = settings.ReadBool(kExplorerMenu, "LimitShow", true);
        s.LimitShowNumber = settings.ReadInteger(kExplorerMenu, "LimitShowNumber", 10);
        m_language = ChooseLanguage();
        s.Language.Set(m_language);
        s.ShowBaloon = settings.ReadBool(kBasic, "ShowBaloon", true);
    } catch (const std::exception& e) {
        Log(std::string("cannot read the settings: ") + e.what());
    }

    try {
        // A name that cannot be a file name has no file: every text keeps its default.
        const std::string file = LanguageFile(m_language.empty() ? "English" : m_language);
        const std::string shipped = file.empty() ? std::string() : ShippedCounterpart(file);
        std::unique_ptr<IniFile> language = file.empty() ? nullptr : std::make_unique<IniFile>(file);
        std::unique_ptr<IniFile> shippedLanguage =
            shipped.empty() ? nullptr : std::make_unique<IniFile>(shipped);
        for (int slot = 0; slot < kTextSlotCount; ++slot) {
            const TextSlotInfo& info = kTextSlots[static_cast<std::size_t>(slot)];
            if (!info.Key)
                continue;
            // The user's own text wins over the shipped one, which wins over the built-in.
            std::string text(info.Default);
            if (shippedLanguage)
                text = shippedLanguage->ReadString(kSystemMessages, info.Key, text);
            if (language)
                text = language->ReadString(kSystemMessages, info.Key, text);
            block.Texts[slot].Set(text);
        }
    } catch (const std::exception& e) {
        Log(std::string("cannot read the language file: ") + e.what());
    }
    block.AgentBusy = false;
    if (!keepHandshake) {
        block.AddHandshake = false;
        block.RecordRequest = false;
    }
}

} // namespace morvane
