#pragma once

#include "platform/ByteBool.h"
#include "platform/ShortText.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace morvane {

// When a version is made.
enum TMonMode : std::uint8_t
{
    mmAlways = 0,
    mmInterval = 1,
    mmNumber = 2
};
// State shown to the user.
enum TMonStatus : std::uint8_t
{
    msDisabled = 0,
    msActive = 1,
    msBroken = 2
};
// How old versions are pruned.
enum TDelMode : std::uint8_t
{
    dmNumber = 0,
    dmInterval = 1
};
// How a version file is named.
enum TNameMode : std::uint8_t
{
    nmOriginal = 0,
    nmDateTime = 1,
    nmVersionNumber = 2
};
// How the monitor opens a version.
enum TExecuterMode : std::uint8_t
{
    emDefault = 0,
    emCustom = 1
};

// The settings and running state of one monitored file or folder. Its byte layout is
// shared by both programs through the shared block, so every offset is fixed: Booleans
// and enumerations are one byte, integers 32-bit and dates 64-bit little-endian IEEE
// doubles (OLE dates), texts are ShortText. Booleans are ByteBool: any byte but 0 reads
// as true. Gap bytes are zero in records we build.
#pragma pack(push, 1)
struct TMonItemRecord
{
    ByteBool Monitored;
    ShortText Path;
    ShortText LastVersionPath;
    ShortText FileID;
    TMonMode MonMode;
    std::uint8_t Gap770[6];
    double MonModeInterval;
    std::int32_t MonModeNumber;
    std::int32_t MonModeNumberCount;
    ByteBool MonModeConfirmation;
    ByteBool MonModeCompare;
    ByteBool MonModeSize;
    TMonStatus MonStatus;
    TDelMode DelMode;
    std::uint8_t Gap797[3];
    double DelModeInterval;
    std::int32_t DelModeNumber;
    TNameMode NameMode;
    std::uint8_t Gap813[3];
    std::int32_t NameModeNumberCount;
    TExecuterMode ExecuterMode;
    ShortText Executer;
    std::uint8_t Gap1077[3];
    std::int32_t VersionNum;
    std::uint8_t Gap1084[4];
    double LastTime;
    ByteBool IsFolder;
    ByteBool AddNewFiles;
    ByteBool UseTemplates;
    ShortText Templates;
    ByteBool IsWholeFolder;
    ByteBool IsSaved;
    std::uint8_t Reserved[256];
    ByteBool FolderMonHidden;
    ByteBool FolderMonSystem;
    std::uint8_t Gap1615[1];
    std::int32_t FolderWait;
    std::uint8_t Gap1620[4];
};
#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<TMonItemRecord>);
static_assert(std::is_standard_layout_v<TMonItemRecord>);
static_assert(sizeof(TMonItemRecord) == 1624);
static_assert(offsetof(TMonItemRecord, Monitored) == 0);
static_assert(offsetof(TMonItemRecord, Path) == 1);
static_assert(offsetof(TMonItemRecord, LastVersionPath) == 257);
static_assert(offsetof(TMonItemRecord, FileID) == 513);
static_assert(offsetof(TMonItemRecord, MonMode) == 769);
static_assert(offsetof(TMonItemRecord, MonModeInterval) == 776);
static_assert(offsetof(TMonItemRecord, MonModeNumber) == 784);
static_assert(offsetof(TMonItemRecord, MonModeNumberCount) == 788);
static_assert(offsetof(TMonItemRecord, MonModeConfirmation) == 792);
static_assert(offsetof(TMonItemRecord, MonModeCompare) == 793);
static_assert(offsetof(TMonItemRecord, MonModeSize) == 794);
static_assert(offsetof(TMonItemRecord, MonStatus) == 795);
static_assert(offsetof(TMonItemRecord, DelMode) == 796);
static_assert(offsetof(TMonItemRecord, DelModeInterval) == 800);
static_assert(offsetof(TMonItemRecord, DelModeNumber) == 808);
static_assert(offsetof(TMonItemRecord, NameMode) == 812);
static_assert(offsetof(TMonItemRecord, NameModeNumberCount) == 816);
static_assert(offsetof(TMonItemRecord, ExecuterMode) == 820);
static_assert(offsetof(TMonItemRecord, Executer) == 821);
static_assert(offsetof(TMonItemRecord, VersionNum) == 1080);
static_assert(offsetof(TMonItemRecord, LastTime) == 1088);
static_assert(offsetof(TMonItemRecord, IsFolder) == 1096);
static_assert(offsetof(TMonItemRecord, AddNewFiles) == 1097);
static_assert(offsetof(TMonItemRecord, UseTemplates) == 1098);
static_assert(offsetof(TMonItemRecord, Templates) == 1099);
static_assert(offsetof(TMonItemRecord, IsWholeFolder) == 1355);
static_assert(offsetof(TMonItemRecord, IsSaved) == 1356);
static_assert(offsetof(TMonItemRecord, Reserved) == 1357);
static_assert(offsetof(TMonItemRecord, FolderMonHidden) == 1613);
static_assert(offsetof(TMonItemRecord, FolderMonSystem) == 1614);
static_assert(offsetof(TMonItemRecord, FolderWait) == 1616);

// An all-zero record (every gap zero), the starting point of every record we build.
TMonItemRecord EmptyItemRecord();

} // namespace morvane
