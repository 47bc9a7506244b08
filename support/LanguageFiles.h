#pragma once

#include <QLocale>
#include <string>

namespace morvane {

// Language files live in the folder Langs/ of the home folder, one "<Language>.ini" per
// language. A language name finds its file without regard to case ("ENGLISH" finds
// English.ini). On first use a missing Langs/ folder is filled from the shipped files.

// The upper-case English name of the user's language ("ENGLISH", "GERMAN", ...), or ""
// for a language without a name in the table. Any thread.
std::string UserLanguageName();
// The same for one language; "" for languages outside the table.
std::string LanguageNameFor(QLocale::Language language);

// The folder of the shipped language files: <program folder>/Langs/ in the build tree,
// else the installed share folder's Langs/; "" when neither exists. Ends with "/".
std::string ShippedLanguageFolder();

// When folder does not exist, fills it with the .ini files of shipped (made writable for
// the user) and returns true; a folder that exists is left as it is. The folder appears
// whole or not at all, so two programs starting at once never see half of it. An empty
// or missing shipped folder gives an empty folder. False when the folder cannot be made.
bool FillLanguageFolder(const std::string& folder, const std::string& shipped);

// H/Langs/, filled from the shipped files when missing. Throws std::system_error when the
// home folder cannot be created. Main thread.
std::string LanguageFolder();

// The file of language in folder: the exact name when it exists, else the first name
// (in sorted order) equal to language + ".ini" without regard to case, else
// folder + language + ".ini" (so that writing creates it). "" for a name that cannot be
// a file name (empty, ".", "..", or holding "/" or a NUL).
std::string FindLanguageFile(const std::string& folder, const std::string& language);

// FindLanguageFile in LanguageFolder().
std::string LanguageFilePath(const std::string& language);
// True when the language's file exists.
bool LanguageFileExists(const std::string& language);

} // namespace morvane
