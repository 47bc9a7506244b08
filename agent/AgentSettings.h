#pragma once

#include "engine/SharedBlock.h"

#include <string>

namespace morvane {

// The agent's settings: kelvrim.ini and the language file in the home folder, read into
// the shared block. Main thread.
class AgentSettings
{
public:
    explicit AgentSettings(std::string homeDir);

    // Reads every key of kelvrim.ini into the block (a missing file or key, or a value
    // that does not parse, gives the key's default), creates a missing backup folder
    // (compressed where the volume supports it), applies the language rule and fills the
    // text slots from the language file's SystemMessages (texts cut at 255 bytes on a
    // character boundary). Clears AgentBusy, and AddHandshake unless keepHandshake (a
    // report is still on its way to the monitor). Never throws: what cannot
    // be done (a backup folder that cannot be created, compression refused, a backup
    // path longer than 255 bytes) is said on stderr and left so.
    void LoadSettings(SharedBlock& block, bool keepHandshake = false);

    // The backup root in use, ending with "/", whatever its length (the block holds it
    // only when it fits).
    const std::string& BackupRoot() const { return m_backupRoot; }
    // The language chosen by the last LoadSettings.
    const std::string& Language() const { return m_language; }

    // The language rule: Language of section Basic; when empty, the user's language when
    // it has texts (a user's or a shipped file), else "English".
    std::string ChooseLanguage() const;
    // Full path of the language file of name in the home folder's Langs/ (found without
    // regard to case; the plain name when no file exists; "" for a name that cannot be a
    // file name).
    std::string LanguageFile(const std::string& name) const;
    // A text of section SystemMessages of the chosen language (the user's file, else the
    // shipped one).
    std::string ReadMessage(const std::string& key, const std::string& def) const;

    std::string SettingsFile() const { return m_home + "kelvrim.ini"; }

    // The locale's short date and short time formats joined by one blank, in the format
    // codes DateFormat uses.
    static std::string LocaleDateTimeFormat();

private:
    void MakeBackupFolder(const std::string& root) const;

    std::string m_home;
    std::string m_backupRoot;
    std::string m_language;
};

} // namespace morvane
