#pragma once

#include "engine/MonItemRecord.h"

#include <string>

namespace morvane {

class IniFile;

// Name of the defaults section of the item list file; never an item.
inline constexpr const char* kDefaultSection = "_Default settings";
inline constexpr const char* kListFileName = "mvlist.srv";
inline constexpr const char* kSettingsFileName = "kelvrim.ini";
inline constexpr const char* kBackupIndexName = "files.lst";
inline constexpr const char* kBackupIndexSection = "Files";
// The default backup root below the home folder, one constant wherever it is named.
inline constexpr const char* kDefaultBackupDir = "backup/";

// Fills record from the section named by record.Path (the caller has set Path, and
// IsFolder as the default of key IsFolder). A section without FileID reads every other
// key from "_Default settings" and gets a fresh FileID, IsSaved false and VersionNum 0;
// a section with a FileID is the item's own record, IsSaved true, with or without the key.
// A missing file or section reads as defaults; values that do not parse take defaults.
// backupRoot is where NewFileId looks for existing item folders.
void ReadItemRecord(TMonItemRecord& record, IniFile& list, const std::string& backupRoot);
void ReadItemRecord(TMonItemRecord& record, const std::string& listFile, const std::string& backupRoot);
// The same for a section that names a usable FileID of its own, which is all that needs no
// fresh FileID; false, with record only partly read, for any other. Any thread.
bool ReadListedItemRecord(TMonItemRecord& record, IniFile& list);

// Stores record as the section named by its Path (IsSaved always written as 1,
// LastVersionPath never), then, when FileID is not empty, maps FileID to Path in
// section "Files" of backupRoot + "files.lst". The IniFile form only records the
// changes (the caller flushes, so many records cost one write); the path form flushes
// both files. Throws IniWriteError when the list cannot be written (a failure of the
// index alone is logged); std::invalid_argument for a record whose Path is empty.
void WriteItemRecord(const TMonItemRecord& record, IniFile& list, IniFile* backupIndex);
void WriteItemRecord(const TMonItemRecord& record, const std::string& listFile,
                     const std::string& backupRoot);

// Why the list cannot hold record's texts as they stand, empty when it can: a path that
// cannot name a section, or a text with a line break or a zero byte.
std::string TextProblem(const TMonItemRecord& record);
// TextProblem, and beyond it why record cannot be an item's record as it stands: a path
// that is not absolute or disagrees with IsFolder, an option outside its range, a negative
// count or wait, a date that is no number. A record from another program is checked
// whole before any of it is used.
std::string RecordProblem(const TMonItemRecord& record);

// A fresh FileID: "yymmdd" of today and a random 0..9999 padded to three digits (on a
// crowded day any number below kFileIdsPerDay); never the name of an existing folder in
// backupRoot nor a FileID already used in listFile (listFile may be empty: then only
// folders are looked at). Empty when no name is free, or backupRoot holds a zero byte:
// an item without a FileID makes no version and says so. Any thread; at most
// kFileIdsPerDay + 200 looks at the folder.
inline constexpr int kFileIdsPerDay = 100000;
std::string NewFileId(const std::string& backupRoot, const std::string& listFile);

// Sets record.Path; a path longer than 255 bytes is refused with std::length_error
// naming it, never stored cut.
void SetRecordPath(TMonItemRecord& record, const std::string& path);

// True when id can name an item's backup folder: not empty, no "/", not "." or "..".
// A FileID read from any file is used for deleting only when this holds.
bool IsPlainFolderName(const std::string& id);

// Backup tree names. Item backup folder = root + FileID + "/"; version folder name =
// the number zero-padded to at least three digits (001, 999, 1000).
std::string VersionFolderName(int versionNum);
std::string ItemBackupFolder(const std::string& backupRoot, const std::string& fileId);

// The backup root from the settings file: key BackupPath of section Basic (a relative
// one taken in home), else home + "backup/"; always ends with "/". A BackupPath holding a
// control character (a zero byte among them) is refused with a log line: the default
// folder is used.
std::string ReadBackupRoot(const std::string& settingsFile, const std::string& home);

// Key (section Basic) naming the folder an unfinished backup move goes to. While it is
// set, an item's versions may lie in either folder, so new version numbers pass both.
inline constexpr const char* kMoveToKey = "MoveTo";
// That folder, ending with "/"; "" when no move is unfinished.
std::string ReadMoveTarget(const std::string& settingsFile);
// The note an unfinished backup move keeps in the folder it moves to.
inline constexpr const char* kMoveNoteName = ".morvane-move";
// Removes the move note in folder, with any unfinished write of it; true when a note
// went. Only for a note no move needs: one in the backup folder in use (a move under
// way keeps its note in the folder named by MoveTo, never the one in use), or anywhere
// while no move is unfinished.
bool RemoveEndedMoveNote(const std::string& folder);

} // namespace morvane
