#pragma once

#include <QStringList>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

struct QMetaObject;

namespace morvane {

// Keyboard and mouse-button state handed to the component library's mouse events.
enum ShiftFlag : unsigned
{
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
    ssDouble = 1u << 6,
};
using ShiftState = unsigned;

enum class MouseButton
{
    mbLeft,
    mbRight,
    mbMiddle
};

// Balloons and long tips are always available on this platform.
inline constexpr bool IsWinNT = true;
inline constexpr bool IsNT5OrLater = true;

// ssShift, ssCtrl and ssAlt for the modifier keys held now; never button states.
// Without a GUI application there is no keyboard to ask and the state is empty.
// Main thread.
ShiftState GetShiftState();

// Text routines over byte strings with 1-based positions; 0 means "not found".

// First occurrence of sub in s at or after start (start is raised to 1); 0 when either
// text is empty, s is shorter than sub, or nothing matches.
std::size_t PosFrom(const std::string& sub, const std::string& s, std::size_t start);
// Rightmost occurrence of sub beginning at or before min(last, s.size()) - sub.size() + 1.
std::size_t BackPosFrom(const std::string& sub, const std::string& s, std::size_t last);
std::size_t BackPos(const std::string& sub, const std::string& s);
// Deletes oldText.size() bytes at pos and inserts newText there (pos beyond the end appends).
void ReplaceAt(std::string& s, std::size_t pos, const std::string& oldText, const std::string& newText);
// Replaces every occurrence; the scan resumes behind each inserted text, so inserted
// text is never searched again.
void ReplaceAll(std::string& s, const std::string& oldText, const std::string& newText);
void ReplaceChar(std::string& s, char oldChar, char newChar);
// Splits text at the separator and at line breaks (CR, LF, CRLF) and appends the
// pieces to lines; lines already there stay. An empty separator splits at line breaks only.
void SplitToLines(const std::string& text, const std::string& separator, std::vector<std::string>& lines);

// Path routines; the separator is kPathSep.

// False for an empty name; true when the file exists; otherwise tries to create it
// (never replacing anything) and removes it again.
bool CanCreateFile(const std::string& fileName);
// The path with a trailing separator (an empty path stays empty).
std::string AddBackslash(const std::string& path);
// Two separators in a row become one; a run of n becomes n/2 rounded up.
std::string CollapseBackslashes(const std::string& path);
// The text behind the last separator, or the whole path when there is none.
std::string ExtractNamePart(const std::string& path);
// The text up to and including the last separator, or "" when there is none.
std::string ExtractFolderPart(const std::string& path);
// ExtractNamePart without its extension: the text from the name's last "." on, unless
// that "." begins the name (".profile" is a name, not an extension).
std::string ExtractNameNoExt(const std::string& path);
// Folder, base name and extension from target, each falling back to source's when
// the target's is empty (or, for name and extension, holds "*" or "?"); source alone
// when target is blank.
std::string ComposeDestName(const std::string& source, const std::string& target);
// path itself when absolute, else base + "/" + path with doubled separators collapsed.
std::string MakeAbsolutePath(const std::string& base, const std::string& path);

// Process-wide registry of component class names. Registering a class whose name is
// already there does nothing; a null class is ignored; never throws. Any thread.
void RegisterClassSafe(const QMetaObject* cls);
void RegisterClassesSafe(std::initializer_list<const QMetaObject*> classes);
QStringList RegisteredClassNames();

} // namespace morvane
