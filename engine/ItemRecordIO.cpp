#include "engine/ItemRecordIO.h"

#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace morvane {

namespace {

// Enumerations are stored as integers; a value outside the enumeration is treated like
// any other value that does not parse and takes the key's default.
template <typename Enum>
Enum ReadEnum(const IniFile& ini, const std::string& section, const char* key, int last)
{
    const int value = ini.ReadInteger(section, key, 0);
    return static_cast<Enum>(value >= 0 && value <= last ? value : 0);
}

// Counts, numbers and waits are never negative: a negative value (also one written in
// hexadecimal) is no value and takes the key's default, like a text that is no number.
int ReadCount(const IniFile& ini, const std::string& section, const char* key, int def)
{
    const int value = ini.ReadInteger(section, key, def);
    return value < 0 ? def : value;
}

std::string PadNumber(int value)
{
    return ZeroPadded(value, 3);
}

std::string TodayStamp()
{
    const DateParts today = DecodeOleDate(Now());
    return ZeroPadded(today.Year % 100, 2) + ZeroPadded(today.Month, 2) + ZeroPadded(today.Day, 2);
}

using IdSet = std::unordered_set<std::string>;

// The FileIDs the list file uses. Kept for the last state of the last list read, so that
// making many items without writing the list in between (a load) reads it once.
std::shared_ptr<const IdSet> FileIdsInList(const std::string& listFile)
{
    static std::mutex mutex;
    static std::string lastFile;
    static std::weak_ptr<const void> lastState;
    static std::shared_ptr<const IdSet> lastIds;

    if (listFile.empty())
        return std::make_shared<const IdSet>();
    IniFile list(listFile);
    const IniFile::ReadScope oneState(list);
    const std::shared_ptr<const void> state = list.FileState();
    {
        std::lock_guard lock(mutex);
        if (lastFile == listFile && lastState.lock() == state)
            return lastIds;
    }
    auto ids = std::make_shared<IdSet>();
    for (const std::string& section : list.ReadSections()) {
        std::string id = list.ReadString(section, "FileID", "");
        if (!id.empty())
            ids->insert(std::move(id));
    }
    std::lock_guard lock(mutex);
    lastFile = listFile;
    lastState = state;
    lastIds = ids;
    return ids;
}

bool HasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// The text for a log line: control characters shown as "?".
std::string Printable(std::string text)
{
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return text;
}

} // namespace

void SetRecordPath(TMonItemRecord& record, const std::string& path)
{
    if (!FitsShortText(path))
        throw std::length_error("The path is longer than 255 bytes and cannot be monitored: " + path);
    record.Path.Set(path);
}

bool IsPlainFolderName(const std::string& id)
{
    return !id.empty() && id != "." && id != ".." && id.find(kPathSep) == std::string::npos &&
           id.find('\0') == std::string::npos;
}

std::string VersionFolderName(int versionNum)
{
    return PadNumber(versionNum);
}

std::string ItemBackupFolder(const std::string& backupRoot, const std::string& fileId)
{
    return WithTrailingSep(backupRoot) + fileId + kPathSep;
}

std::string ReadBackupRoot(const std::string& settingsFile, const std::string& home)
{
    IniFile settings(settingsFile);
    std::string root = settings.ReadString("Basic", "BackupPath", "");
    // A zero byte ends the path at the system's door, so a path holding one names another
    // folder than it says; no folder of ours has a control character in its name.
    if (HasControlCharacter(root)) {
        Log("the backup folder in " + settingsFile + " holds a control character (\"" + Printable(root) +
            "\"): the default one is used");
        root.clear();
    }
    // A relative folder lies in the home folder, whatever folder the program was started in.
    if (root.empty())
        root = WithTrailingSep(home) + kDefaultBackupDir;
    else if (root.front() != kPathSep)
        root = WithTrailingSep(home) + root;
    return WithTrailingSep(root);
}

std::string ReadMoveTarget(const std::string& settingsFile)
{
    const std::string root = IniFile(settingsFile).ReadString("Basic", kMoveToKey, "");
    return root.empty() || root.front() != kPathSep ? std::string() : WithTrailingSep(root);
}

bool RemoveEndedMoveNote(const std::string& folder)
{
    const std::string note = WithTrailingSep(folder) + kMoveNoteName;
    IniFile::RemoveLeftovers(note);
    return RemoveFile(note);
}

namespace {

// A number of the day's ID range, at random. One generator for the process: a generator
// per thread would be kept at the top of every thread's stack, and an agent may run
// thousands of (mostly sleeping) threads.
int RandomIdNumber()
{
    static std::mutex lock;
    static std::mt19937 rng{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 9999);
    std::lock_guard guard(lock);
    return pick(rng);
}

} // namespace

std::string NewFileId(const std::string& backupRoot, const std::string& listFile)
{
    // The system would look at a shorter path, where every name may seem taken.
    if (backupRoot.find('\0') != std::string::npos)
        return {};
    const std::shared_ptr<const IdSet> used = FileIdsInList(listFile);
    const std::string stamp = TodayStamp();
    const std::string root = WithTrailingSep(backupRoot);
    auto isFree = [&](const std::string& id) {
        return !used->count(id) && !DirectoryExists(root + id);
    };

    for (int attempt = 0; attempt < 200; ++attempt) {
        std::string id = stamp + PadNumber(RandomIdNumber());
        if (isFree(id))
            return id;
    }
    // A crowded day: walk every number of the day, then go on past its 10,000 names, as
    // far as a day can hold items; a folder where nothing is free gives up there.
    for (int n = 0; n < kFileIdsPerDay; ++n) {
        std::string id = stamp + PadNumber(n);
        if (isFree(id))
            return id;
    }
    return {};
}

std::string TextProblem(const TMonItemRecord& record)
{
    static constexpr std::string_view kBreaks("\r\n\0", 3);
    const std::string path = record.Path.Get();
    if (path.empty())
        return "the record has no path";
    // Brackets are fine: a section name runs to the last "]" of its line.
    if (path.find_first_of(kBreaks) != std::string::npos)
        return "the path holds a line break or a zero byte";
    const std::pair<const char*, const ShortText*> texts[] = {
        {"FileID", &record.FileID}, {"Executer", &record.Executer}, {"Templates", &record.Templates}};
    for (const auto& [name, text] : texts) {
        if (text->Get().find_first_of(kBreaks) != std::string::npos)
            return std::string(name) + " holds a line break or a zero byte";
    }
    return {};
}

std::string RecordProblem(const TMonItemRecord& record)
{
    if (std::string problem = TextProblem(record); !problem.empty())
        return problem;
    const std::string path = record.Path.Get();
    if (path.front() != kPathSep || path == kDefaultSection)
        return "the path is not absolute";
    if (record.IsFolder != (path.back() == kPathSep))
        return record.IsFolder ? "a folder's path must end with \"/\""
                               : "a file's path must not end with \"/\"";
    const std::pair<const char*, bool> ranges[] = {
        {"MonMode", record.MonMode <= mmNumber},
        {"MonStatus", record.MonStatus <= msBroken},
        {"DelMode", record.DelMode <= dmInterval},
        {"NameMode", record.NameMode <= nmVersionNumber},
        {"ExecuterMode", record.ExecuterMode <= emCustom},
        {"MonModeNumber", record.MonModeNumber >= 0},
        {"MonModeNumberCount", record.MonModeNumberCount >= 0},
        {"DelModeNumber", record.DelModeNumber >= 0},
        {"VersionNum", record.VersionNum >= 0},
        {"NameModeNumberCount", record.NameModeNumberCount >= 0},
        {"FolderWait", record.FolderWait >= 0},
        {"MonModeInterval", std::isfinite(record.MonModeInterval)},
        {"DelModeInterval", std::isfinite(record.DelModeInterval)},
        {"LastTime", std::isfinite(record.LastTime)},
    };
    for (const auto& [name, fits] : ranges) {
        if (!fits)
            return std::string(name) + " is out of its range";
    }
    return {};
}

namespace {

// Every key but the FileID, from section.
void ReadRecordKeys(TMonItemRecord& record, IniFile& list, const std::string& section)
{
    record.MonMode = ReadEnum<TMonMode>(list, section, "MonMode", mmNumber);
    record.MonModeInterval = list.ReadDate(section, "MonModeInterval", kZeroDuration);
    record.MonModeNumber = ReadCount(list, section, "MonModeNumber", 10);
    record.MonModeNumberCount = ReadCount(list, section, "MonModeNumberCount", 0);
    record.MonStatus = ReadEnum<TMonStatus>(list, section, "MonStatus", msBroken);
    record.DelMode = ReadEnum<TDelMode>(list, section, "DelMode", dmInterval);
    record.DelModeInterval = list.ReadDate(section, "DelModeInterval", kZeroDuration);
    record.DelModeNumber = ReadCount(list, section, "DelModeNumber", 0);
    record.VersionNum = ReadCount(list, section, "VersionNum", 0);
    record.LastTime = list.ReadDate(section, "LastTime", 0.0);
    record.Monitored = list.ReadBool(section, "Monitored", false);
    record.NameMode = ReadEnum<TNameMode>(list, section, "NameMode", nmVersionNumber);
    record.NameModeNumberCount = ReadCount(list, section, "NameModeNumberCount", 0);
    record.ExecuterMode = ReadEnum<TExecuterMode>(list, section, "ExecuterMode", emCustom);
    const std::string executer = list.ReadString(section, "Executer", "");
    // A program path cut short would name another program: drop it instead.
    record.Executer.Set(FitsShortText(executer) ? executer : std::string());
    record.MonModeConfirmation = list.ReadBool(section, "MonModeConfirmation", false);
    record.MonModeCompare = list.ReadBool(section, "MonModeCompare", false);
    record.MonModeSize = list.ReadBool(section, "MonModeSize", false);
    record.IsFolder = list.ReadBool(section, "IsFolder", record.IsFolder);
    record.IsWholeFolder = list.ReadBool(section, "IsWholeFolder", false);
    record.FolderMonHidden = list.ReadBool(section, "FolderMonHidden", false);
    record.FolderMonSystem = list.ReadBool(section, "FolderMonSystem", false);
    record.AddNewFiles = list.ReadBool(section, "AddNewFiles", false);
    record.UseTemplates = list.ReadBool(section, "UseTemplates", false);
    record.Templates.Set(list.ReadString(section, "Templates", ""));
    record.FolderWait = ReadCount(list, section, "FolderWait", 3);
    record.IsSaved = list.ReadBool(section, "IsSaved", false);
}

bool UsableFileId(const std::string& fileId)
{
    return IsPlainFolderName(fileId) && FitsShortText(fileId);
}

} // namespace

void ReadItemRecord(TMonItemRecord& record, IniFile& list, const std::string& backupRoot)
{
    const std::string realPath = record.Path.Get();
    // One state of the file for the whole record, looked at once.
    const IniFile::ReadScope oneState(list);
    std::string fileId = list.ReadString(realPath, "FileID", "");
    const bool isNew = fileId.empty();
    // An item never saved takes every value from the defaults section.
    ReadRecordKeys(record, list, isNew ? std::string(kDefaultSection) : realPath);

    record.Path.Set(realPath);
    if (isNew) {
        record.FileID.Set(NewFileId(backupRoot, list.Path()));
        record.IsSaved = false;
        record.VersionNum = 0;
        return;
    }
    // A section with a FileID of its own holds the item's own record, whether or not its
    // IsSaved line made it to the file: taken for new, it would stay off and make no
    // version while the list still shows it monitored.
    record.IsSaved = true;
    if (!UsableFileId(fileId)) {
        // A FileID that is not a plain folder name would send versions, and deletions,
        // outside the item's backup folder: give the item a folder of its own instead.
        Log("item " + realPath + " has an unusable FileID \"" + fileId + "\"; a new one is used");
        record.FileID.Set(NewFileId(backupRoot, list.Path()));
    } else {
        record.FileID.Set(fileId);
    }
}

void ReadItemRecord(TMonItemRecord& record, const std::string& listFile, const std::string& backupRoot)
{
    IniFile list(listFile);
    ReadItemRecord(record, list, backupRoot);
}

bool ReadListedItemRecord(TMonItemRecord& record, IniFile& list)
{
    const std::string realPath = record.Path.Get();
    const IniFile::ReadScope oneState(list);
    const std::string fileId = list.ReadString(realPath, "FileID", "");
    if (!UsableFileId(fileId))
        return false;
    ReadRecordKeys(record, list, realPath);
    record.Path.Set(realPath);
    record.FileID.Set(fileId);
    record.IsSaved = true; // as ReadItemRecord has it
    return true;
}

void WriteItemRecord(const TMonItemRecord& record, IniFile& list, IniFile* backupIndex)
{
    const std::string s = record.Path.Get();
    if (s.empty())
        throw std::invalid_argument("an item record without a path cannot be stored");
    // Refused whole: a record stored up to its bad key would be half old, half new.
    if (const std::string problem = TextProblem(record); !problem.empty())
        throw std::invalid_argument(s.substr(0, s.find_first_of("\r\n")) + ": " + problem);
    const std::string fileId = record.FileID.Get();
    list.WriteBool(s, "Monitored", record.Monitored);
    list.WriteString(s, "FileID", fileId);
    list.WriteInteger(s, "MonMode", record.MonMode);
    list.WriteDate(s, "MonModeInterval", record.MonModeInterval);
    list.WriteInteger(s, "MonModeNumber", record.MonModeNumber);
    list.WriteInteger(s, "MonModeNumberCount", record.MonModeNumberCount);
    list.WriteInteger(s, "MonStatus", record.MonStatus);
    list.WriteInteger(s, "DelMode", record.DelMode);
    list.WriteInteger(s, "VersionNum", record.VersionNum);
    list.WriteDate(s, "DelModeInterval", record.DelModeInterval);
    list.WriteInteger(s, "DelModeNumber", record.DelModeNumber);
    list.WriteDate(s, "LastTime", record.LastTime);
    list.WriteInteger(s, "NameMode", record.NameMode);
    list.WriteInteger(s, "NameModeNumberCount", record.NameModeNumberCount);
    list.WriteInteger(s, "ExecuterMode", record.ExecuterMode);
    list.WriteInteger(s, "FolderWait", record.FolderWait);
    list.WriteString(s, "Executer", record.Executer.Get());
    list.WriteBool(s, "MonModeConfirmation", record.MonModeConfirmation);
    list.WriteBool(s, "MonModeCompare", record.MonModeCompare);
    list.WriteBool(s, "MonModeSize", record.MonModeSize);
    list.WriteBool(s, "IsFolder", record.IsFolder);
    list.WriteBool(s, "IsWholeFolder", record.IsWholeFolder);
    list.WriteBool(s, "FolderMonHidden", record.FolderMonHidden);
    list.WriteBool(s, "FolderMonSystem", record.FolderMonSystem);
    list.WriteBool(s, "AddNewFiles", record.AddNewFiles);
    list.WriteBool(s, "UseTemplates", record.UseTemplates);
    list.WriteString(s, "Templates", record.Templates.Get());
    list.WriteBool(s, "IsSaved", true);
    if (backupIndex && !fileId.empty())
        backupIndex->WriteString(kBackupIndexSection, fileId, s);
}

void WriteItemRecord(const TMonItemRecord& record, const std::string& listFile, const std::string& backupRoot)
{
    IniFile list(listFile);
    WriteItemRecord(record, list, nullptr);
    list.Flush();
    if (record.FileID.Empty())
        return;
    // The index only maps backup folders back to their files; failing to update it must
    // not fail the save of the list itself.
    try {
        MakePrivateDirs(WithoutTrailingSep(backupRoot));
        IniFile index(WithTrailingSep(backupRoot) + kBackupIndexName);
        index.WriteString(kBackupIndexSection, record.FileID.Get(), record.Path.Get());
        index.Flush();
    } catch (const std::exception& e) {
        Log(e.what());
    }
}

} // namespace morvane
