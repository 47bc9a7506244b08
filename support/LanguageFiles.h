#pragma once

#include <QLocale>
#include <string>

namespace morvane {

// A language's texts come from two files of the same name, "<Language>.ini": the shipped
// one in the share folder's Langs/ (read only, replaced by every install) and the user's
// own in the home folder's Langs/, whose keys win. The home folder holds only the user's
// files, so a text a later install adds or corrects reaches every user. A language name
// finds its file without regard to case ("ENGLISH" finds English.ini).

// The upper-case English name of the user's language ("ENGLISH", "GERMAN", ...), or ""
// for a language without a name in the table. Any thread.
std::string UserLanguageName();
// The same for one language; "" for languages outside the table.
std::string LanguageNameFor(QLocale::Language language);

// The folder of the shipped language files: ShareDir()'s Langs/; "" when it does not
// exist. Ends with "/".
std::string ShippedLanguageFolder();

// The shipped file of the same language as the user's file userFile (its name, without
// regard to case, in ShippedLanguageFolder()); "" when none is shipped, or when userFile is
// itself the shipped file.
std::string ShippedCounterpart(const std::string& userFile);

// A text of a language: the user's file userFile when it holds the key, else its
// shipped counterpart, else def. Never throws for a missing file.
std::string ReadLanguageText(const std::string& userFile, const std::string& section, const std::string& key,
                             const std::string& def);

// True when the language of the user's file userFile has texts: the file or its shipped
// counterpart exists.
bool LanguageHasTexts(const std::string& userFile);

// Older versions copied the shipped files into the user's folder (or wrote the built-in
// texts there), which then hid every later correction. In each user file that has a
// shipped counterpart, removes the keys whose text equals the shipped one, and the file
// when nothing is left; a key the user changed stays. Returns how many files changed. A
// file that cannot be rewritten is left as it is. Main thread.
int DropShippedCopies(const std::string& userFolder, const std::string& shippedFolder);

// When folder does not exist, fills it with the .ini files of shipped (made writable for
// the user) and returns true; a folder that exists is left as it is. The folder appears
// whole or not at all, so two programs starting at once never see half of it. An empty
// or missing shipped folder gives an empty folder. False when the folder cannot be made.
bool FillLanguageFolder(const std::string& folder, const std::string& shipped);

// H/Langs/, made (empty) when missing; on the first call in a process, the copies older
// versions left there are dropped (DropShippedCopies). Throws std::system_error when the
// home folder cannot be created. Main thread.
std::string LanguageFolder();

// The file of language in folder: the exact name when it exists, else the first name
// (in sorted order) equal to language + ".ini" without regard to case, else
// folder + language + ".ini" (so that writing creates it). "" for a name that cannot be
// a file name (empty, ".", "..", or holding "/" or a NUL).
std::string FindLanguageFile(const std::string& folder, const std::string& language);

// FindLanguageFile in LanguageFolder(): the user's file of the language (where the user's
// texts are read and saved).
std::string LanguageFilePath(const std::string& language);
// True when the language has texts: the user's file or a shipped one exists.
bool LanguageFileExists(const std::string& language);

} // namespace morvane
