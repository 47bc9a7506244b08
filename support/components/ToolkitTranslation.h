#pragma once

#include <QLocale>
#include <QString>
#include <string>

namespace morvane {

// The toolkit's own texts (the Yes, No and Cancel of message boxes, the file dialogs)
// follow the language chosen for the program through the translations the toolkit
// ships, where one exists for that language.

// The language named by a language name of the program ("GERMAN", "German"):
// QLocale::AnyLanguage for a name outside the table.
QLocale::Language LanguageOfName(const std::string& name);

// Installs the toolkit's translation for the language name in place of the one
// installed before (none for English, or when the toolkit ships none). Returns whether
// a translation is installed now. Main thread.
bool InstallToolkitTranslation(const std::string& languageName);

} // namespace morvane
