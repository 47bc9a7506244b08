#include "engine/SharedBlock.h"

#include <atomic>
#include <cstring>

namespace morvane {

const std::array<const char*, kMessageCount> kMessageNames = {
    "PELLARY_MESSAGE_ADD",    "PELLARY_MESSAGE_DELETE",  "PELLARY_MESSAGE_START",  "PELLARY_MESSAGE_STOP",
    "PELLARY_MESSAGE_OPEN",   "PELLARY_MESSAGE_CLEAR",   "PELLARY_MESSAGE_UPDATE", "PELLARY_MESSAGE_CLOSE",
    "PELLARY_MESSAGE_REINIT", "PELLARY_MESSAGE_VERSION", "PELLARY_MESSAGE_MAKE",   "PELLARY_MESSAGE_ACTIVATE",
};

const std::array<TextSlotInfo, kTextSlotCount> kTextSlots = {{
    {"CaptionProperties", "Properties of"},
    {"ItemStatusActive", "Active"},
    {"ItemStatusDisabled", "Disabled"},
    {"ItemStatusBroken", "Broken"},
    {"MakeAlways", "Always"},
    {"MakeInterval", "Interval"},
    {"MakeNumber", "Number"},
    {"MenuVersioning", "Versioning"},
    {"MenuNoVersions", "No versions found"},
    {"MenuAdd", "Add versioning"},
    {"MenuClearHistory", "Clear history"},
    {"MenuDelete", "Delete"},
    {"MenuStart", "Start"},
    {"MenuStop", "Stop"},
    {"MenuMake", "Make version"},
    {"MesAgentNotFound", "Cannot find the agent. Do you want to start it?"},
    {"MesSystemFolder", "You can't monitor application directory"},
    {"MesConfirmation", "Do you want create new version for"},
    {"MesNewVersion", "New version"},
    {"MesExistsVersion", "Version already exists"},
    {"MesFolderNotExists", "The selected folder does not exist"},
    {"MesDriveNotCompression", "Selected drive doesn't support compression"},
    {"MesNotStartup", "Morvane Agent is not set to start at login. Do you want to set it now?"},
    {"MesBrokenFile",
     " can not be found. Please, remove it from Morvane or reassign this one to another file."},
    {nullptr, ""},
    {nullptr, ""},
    {"MesAgentExists", "Morvane Agent already started"},
    {"StatusBarNoFiles", "  No files monitored now"},
    {"StatusBarFiles", "  Number of monitored files:"},
}};

std::string SharedBlock::PathArgText() const
{
    return std::string(PathArg, strnlen(PathArg, sizeof PathArg));
}

bool SharedBlock::SetPathArg(std::string_view text)
{
    // The reader stops at the first NUL, so a text holding one would arrive cut.
    if (text.size() >= sizeof PathArg || text.find('\0') != std::string_view::npos)
        return false;
    std::memcpy(PathArg, text.data(), text.size());
    std::memset(PathArg + text.size(), 0, sizeof PathArg - text.size());
    return true;
}

bool SharedBlock::ClaimRecord(bool request)
{
    if (!AddHandshake.AtomicSetIfClear())
        return false;
    RecordRequest.AtomicStore(request);
    return true;
}

void SharedBlock::ReleaseRequestRecord()
{
    if (RecordRequest.AtomicClear())
        AddHandshake.AtomicStore(false);
}

bool SharedBlock::RequestInRecord() const
{
    return RecordRequest.AtomicLoad();
}

SharedBlockMapping SharedBlockMapping::Create(bool* existed)
{
    return SharedBlockMapping(NamedMapping::Create(kSharedBlockName, sizeof(SharedBlock), existed));
}

std::optional<SharedBlockMapping> SharedBlockMapping::CreateForAgent(std::optional<NamedMutex>& instance)
{
    auto claim = [&instance](void* data, std::size_t size, bool joined) {
        instance = NamedMutex::TryAcquire(kAgentMutexName);
        if (!instance)
            return false;
        // A client kept the block of an agent that died: its window is dead.
        if (joined && size >= sizeof(SharedBlock))
            static_cast<SharedBlock*>(data)->AgentWnd = 0;
        return true;
    };
    std::optional<NamedMapping> mapping =
        NamedMapping::CreateClaimed(kSharedBlockName, sizeof(SharedBlock), claim);
    if (!mapping)
        return std::nullopt;
    return SharedBlockMapping(std::move(*mapping));
}

std::optional<SharedBlockMapping> SharedBlockMapping::OpenExisting()
{
    std::optional<NamedMapping> mapping = NamedMapping::OpenExisting(kSharedBlockName, kAgentMutexName);
    // Every access reaches into the whole block; a smaller one is not the agent's.
    if (!mapping || mapping->Size() < sizeof(SharedBlock))
        return std::nullopt;
    return SharedBlockMapping(std::move(*mapping));
}

} // namespace morvane
