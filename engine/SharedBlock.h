#pragma once

#include "engine/MonItemRecord.h"
#include "platform/ByteBool.h"
#include "platform/NamedMapping.h"
#include "platform/NamedMutex.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// Names of the named objects both programs use.
inline constexpr const char* kSharedBlockName = "MVMem";
inline constexpr const char* kBulkPathsName = "MV_Temp";
inline constexpr const char* kAgentMutexName = "QuennetMutex";
inline constexpr const char* kMonitorMutexName = "KelvrimMutex";

// The value the monitor writes into RequestOrigin before its ADD, DELETE, START, STOP
// and MAKE requests.
inline constexpr std::uint8_t kOriginMonitor = 2;

// REINIT's wParam that asks for a hold instead of a reload: the backup folder is about to
// move, so no version may be made until the next plain REINIT (wParam 0), which reloads
// the settings and ends the hold. The agent ends every folder watch (joining the threads,
// so no version is half made), refuses every other request meanwhile, and then empties
// PathArg to confirm that the hold is in place.
inline constexpr std::uint32_t kReinitHold = 1;

// The twelve registered messages, in the order their numbers sit in the block.
enum MessageIndex : int
{
    MsgAdd = 0,
    MsgDelete,
    MsgStart,
    MsgStop,
    MsgOpen,
    MsgClear,
    MsgUpdate,
    MsgClose,
    MsgReinit,
    MsgVersion,
    MsgMake,
    MsgActivate,
    kMessageCount
};
extern const std::array<const char*, kMessageCount> kMessageNames;

// The 29 text slots (two reserved ones have no key).
enum TextSlot : int
{
    TxtCaptionProperties = 0,
    TxtItemStatusActive,
    TxtItemStatusDisabled,
    TxtItemStatusBroken,
    TxtMakeAlways,
    TxtMakeInterval,
    TxtMakeNumber,
    TxtMenuVersioning,
    TxtMenuNoVersions,
    TxtMenuAdd,
    TxtMenuClearHistory,
    TxtMenuDelete,
    TxtMenuStart,
    TxtMenuStop,
    TxtMenuMake,
    TxtMesAgentNotFound,
    TxtMesSystemFolder,
    TxtMesConfirmation,
    TxtMesNewVersion,
    TxtMesExistsVersion,
    TxtMesFolderNotExists,
    TxtMesDriveNotCompression,
    TxtMesNotStartup,
    TxtMesBrokenFile,
    TxtReserved24,
    TxtReserved25,
    TxtMesAgentExists,
    TxtStatusBarNoFiles,
    TxtStatusBarFiles,
    kTextSlotCount
};
struct TextSlotInfo
{
    const char* Key;     // key in section SystemMessages; nullptr for a reserved slot
    const char* Default; // English default
};
extern const std::array<TextSlotInfo, kTextSlotCount> kTextSlots;

// The agent's settings as one record (block offsets 8..787), handed whole to the version
// listing.
#pragma pack(push, 1)
struct SharedSettings
{
    ShortText BackupPath;
    ShortText Language;
    ByteBool ShowDate;
    ShortText DateFormat;
    ByteBool ShowFileName;
    ByteBool LimitShow;
    std::uint8_t Gap779[1];
    std::int32_t LimitShowNumber;
    ByteBool ShowBaloon;
    std::uint8_t Gap785[3];
};

// The record in the named mapping "MVMem", shared by the agent, the monitor and outside
// clients. No lock: each side fills the argument fields first, then posts a message.
struct SharedBlock
{
    std::uint8_t RequestOrigin;
    ByteBool MonitorRunning;
    std::uint8_t Reserved2[2];
    std::uint32_t MonitorWnd;
    SharedSettings Settings;
    ShortText AgentDir;
    std::uint32_t MessageIds[kMessageCount];
    std::uint32_t AgentWnd;
    TMonItemRecord ItemRecord;
    ShortText Texts[kTextSlotCount];
    ByteBool AgentBusy;
    ByteBool AddHandshake;
    char PathArg[1024];
    // Set with AddHandshake when the record slot holds a monitor's ADD or UPDATE that the
    // agent has not read yet.
    ByteBool RecordRequest;
    std::uint8_t Unused[15];

    // The record slot is claimed before it is written, by the agent for a report (the
    // monitor frees it once it has read the report) and by the monitor for a request (the
    // agent frees it once it has read the request). Without the claim, one side's record
    // could replace the other's between its writing and the reader's look.
    bool ClaimRecord(bool request);
    // The agent has read the request in the slot: the slot is free again.
    void ReleaseRequestRecord();
    bool RequestInRecord() const;

    // The path argument up to its first NUL, bounded by the field's size.
    std::string PathArgText() const;
    // Stores text NUL-ended; returns false (and stores nothing) when it does not fit.
    bool SetPathArg(std::string_view text);
    std::string Text(TextSlot slot) const { return Texts[slot].Get(); }
};
#pragma pack(pop)

static_assert(sizeof(SharedSettings) == 780);
static_assert(offsetof(SharedSettings, BackupPath) == 0);
static_assert(offsetof(SharedSettings, ShowDate) == 512);
static_assert(offsetof(SharedSettings, DateFormat) == 513);
static_assert(offsetof(SharedSettings, ShowFileName) == 769);
static_assert(std::is_trivially_copyable_v<SharedBlock>);
static_assert(sizeof(SharedBlock) == 11186);
static_assert(offsetof(SharedBlock, RequestOrigin) == 0);
static_assert(offsetof(SharedBlock, MonitorRunning) == 1);
static_assert(offsetof(SharedBlock, MonitorWnd) == 4);
static_assert(offsetof(SharedBlock, Settings) == 8);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, Language) == 264);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, ShowDate) == 520);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, DateFormat) == 521);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, ShowFileName) == 777);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, LimitShow) == 778);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, LimitShowNumber) == 780);
static_assert(offsetof(SharedBlock, Settings) + offsetof(SharedSettings, ShowBaloon) == 784);
static_assert(offsetof(SharedBlock, AgentDir) == 788);
static_assert(offsetof(SharedBlock, MessageIds) == 1044);
static_assert(offsetof(SharedBlock, AgentWnd) == 1092);
static_assert(offsetof(SharedBlock, ItemRecord) == 1096);
static_assert(offsetof(SharedBlock, Texts) == 2720);
static_assert(offsetof(SharedBlock, AgentBusy) == 10144);
static_assert(offsetof(SharedBlock, AddHandshake) == 10145);
static_assert(offsetof(SharedBlock, PathArg) == 10146);
static_assert(offsetof(SharedBlock, RecordRequest) == 11170);
static_assert(offsetof(SharedBlock, Unused) == 11171);

// Owner of the mapped "MVMem" block.
class SharedBlockMapping
{
public:
    // Agent side: creates the block (or joins one a live process still holds). A block
    // nobody held comes zero-filled. Throws std::system_error.
    static SharedBlockMapping Create(bool* existed = nullptr);
    // The agent's start: takes the agent's mutex (into instance) and the block as one step
    // to every client, and clears the window a dead agent left in a block a client still
    // held, so nobody who finds the new agent posts to the old window. Empty, with nothing
    // taken, when another agent holds the mutex. Throws std::system_error.
    static std::optional<SharedBlockMapping> CreateForAgent(std::optional<NamedMutex>& instance);
    // Monitor side: maps the block only while a live agent holds it and its mutex;
    // creates nothing.
    static std::optional<SharedBlockMapping> OpenExisting();

    SharedBlock* operator->() const { return Block(); }
    SharedBlock* Block() const { return static_cast<SharedBlock*>(m_mapping.Data()); }

private:
    explicit SharedBlockMapping(NamedMapping mapping) : m_mapping(std::move(mapping)) {}
    NamedMapping m_mapping;
};

} // namespace morvane
