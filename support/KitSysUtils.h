#pragma once

#include "platform/RegistryChangeNotification.h"
#include "platform/RegistryStore.h"

#include <QStringList>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
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

// The desktop's shared data folder (icons, types), with a trailing separator.
std::string GetSystemFolder();

// Registry routines over the user's registry store (RegistryStore::DefaultPath()).

using TkitRegRootKey = RegistryRoot;
inline constexpr TkitRegRootKey rrkClassesRoot = RegistryRoot::ClassesRoot;
inline constexpr TkitRegRootKey rrkCurrentUser = RegistryRoot::CurrentUser;
inline constexpr TkitRegRootKey rrkLocalMachine = RegistryRoot::LocalMachine;
inline constexpr TkitRegRootKey rrkUsers = RegistryRoot::Users;
inline constexpr TkitRegRootKey rrkCurrentConfig = RegistryRoot::CurrentConfig;
inline constexpr TkitRegRootKey rrkDynData = RegistryRoot::DynData;

// Raised by the registry routines: "Unable to open the <key> key", or the store's own
// failure to write.
class ERegistryException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Writes text as the value name of key (created when missing). Throws ERegistryException.
void RegWriteStringValue(TkitRegRootKey root, const std::string& key, const std::string& name,
                         const std::string& text);

// Autorun entries. The user's and the machine's Run kinds are the desktop's autostart
// entries (UserAutostartDir(), SystemAutostartDir()); an entry is named after the program's
// file name and starts the program path. The desktop has nothing like the RunOnce and
// service kinds: they are refused with aeoUnsupported.
enum TkitAutoExecKind
{
    aekMachineRun,
    aekMachineRunOnce,
    aekUserRun,
    aekUserRunOnce,
    aekServiceRun,
    aekServiceRunOnce
};

enum TkitAutoExecOutcome
{
    aeoDone,
    aeoUnsupported, // a kind the desktop does not have
    aeoNoRights,    // the folder or entry may not be changed by this user
    aeoMissing,     // the autostart folder does not exist
    aeoFailed,      // a path that no entry can hold, or a failed write
};

// The key each kind names on the other desktops, for components that show it.
void GetAutoExecKey(TkitAutoExecKind kind, TkitRegRootKey& root, std::string& key);
// The folder of the kind's autostart entries; "" for the kinds the desktop does not have.
std::string GetAutoExecFolder(TkitAutoExecKind kind);

// Creates or replaces the kind's entry for programPath. False on any failure; outcome
// (when given) says which. Never throws. Any thread.
bool AutoExecRegister(TkitAutoExecKind kind, const std::string& programPath,
                      TkitAutoExecOutcome* outcome = nullptr);
// Removes the kind's entry for programPath: true when it is gone afterwards (also when it
// never existed), false when the folder is missing or may not be changed. Never throws.
bool AutoExecUnregister(TkitAutoExecKind kind, const std::string& programPath,
                        TkitAutoExecOutcome* outcome = nullptr);
// The arguments of the kind's entry for the program named name (its file name); nothing
// when there is no entry or it cannot be read.
std::optional<std::vector<std::string>> AutoExecCommand(TkitAutoExecKind kind, const std::string& name);

// Change notification on a key of the user's registry store.
struct RegChangeInfo
{
    TkitRegRootKey Root = rrkCurrentUser;
    std::string Key;
    bool WatchSubtree = false;
    unsigned NotifyFilter = 0;
};
// Null stands for the invalid handle.
using RegChangeHandle = std::shared_ptr<RegistryChangeNotification>;

// Arms a notification on the key and fills info; wait for it with the handle's Wait.
// Null with errno set when the store's folder cannot be watched. Never throws.
RegChangeHandle RegCreateChangeNotification(TkitRegRootKey root, const std::string& key, bool watchSubtree,
                                            unsigned notifyFilter, RegChangeInfo& info);
// Re-arms on the key's present state; false (errno EINVAL) for the invalid handle.
bool RegNextChangeNotification(const RegChangeHandle& handle, const RegChangeInfo& info);
// Stops a waiter and releases the handle (null afterwards).
void RegCloseChangeNotification(RegChangeHandle& handle);

// Process-wide registry of component class names. Registering a class whose name is
// already there does nothing; a null class is ignored; never throws. Any thread.
void RegisterClassSafe(const QMetaObject* cls);
void RegisterClassesSafe(std::initializer_list<const QMetaObject*> classes);
QStringList RegisteredClassNames();

} // namespace morvane
