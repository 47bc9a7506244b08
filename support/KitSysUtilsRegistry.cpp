#include "KitSysUtils.h"
#include "platform/AutostartEntry.h"
#include "platform/XdgDirs.h"

#include <cerrno>

namespace morvane {

namespace {

constexpr const char* kAutoExecKeyBase = "Software/Microsoft/Windows/CurrentVersion/";

void SetOutcome(TkitAutoExecOutcome* outcome, TkitAutoExecOutcome value)
{
    if (outcome)
        *outcome = value;
}

TkitAutoExecOutcome FromEntry(AutostartEntry::Outcome o)
{
    switch (o) {
    case AutostartEntry::Outcome::Done:
        return aeoDone;
    case AutostartEntry::Outcome::Missing:
        return aeoMissing;
    case AutostartEntry::Outcome::NoRights:
        return aeoNoRights;
    case AutostartEntry::Outcome::Failed:
        break;
    }
    return aeoFailed;
}

} // namespace

std::string GetSystemFolder()
{
    return SystemDataDir();
}

void RegWriteStringValue(TkitRegRootKey root, const std::string& key, const std::string& name,
                         const std::string& text)
{
    RegistryStore store;
    if (!store.CreateKey(root, key))
        throw ERegistryException("Unable to open the " + key + " key");
    if (!store.WriteValue(root, key, name, text))
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void GetAutoExecKey(TkitAutoExecKind kind, TkitRegRootKey& root, std::string& key)
{
    root = kind == aekUserRun || kind == aekUserRunOnce ? rrkCurrentUser : rrkLocalMachine;
    switch (kind) {
    case aekMachineRun:
    case aekUserRun:
        key = std::string(kAutoExecKeyBase) + "Run";
        break;
    case aekMachineRunOnce:
    case aekUserRunOnce:
        key = std::string(kAutoExecKeyBase) + "RunOnce";
        break;
    case aekServiceRun:
        key = std::string(kAutoExecKeyBase) + "RunServices";
        break;
    case aekServiceRunOnce:
        key = std::string(kAutoExecKeyBase) + "RunServicesOnce";
        break;
    }
}

std::string GetAutoExecFolder(TkitAutoExecKind kind)
{
    switch (kind) {
    case aekUserRun:
        return UserAutostartDir();
    case aekMachineRun:
        return SystemAutostartDir();
    default:
        return {};
    }
}

bool AutoExecRegister(TkitAutoExecKind kind, const std::string& programPath, TkitAutoExecOutcome* outcome)
{
    try {
        const std::string folder = GetAutoExecFolder(kind);
        if (folder.empty()) {
            SetOutcome(outcome, aeoUnsupported);
            return false;
        }
        const std::string name = ExtractNamePart(programPath);
        const auto exec = EncodeExecArgument(programPath);
        if (name.empty() || name == "." || name == ".." || !exec) {
            SetOutcome(outcome, aeoFailed);
            return false;
        }
        const AutostartEntry entry(folder, name);
        // The user's folder may not exist on a fresh account; the machine's is the system's.
        const TkitAutoExecOutcome result = FromEntry(entry.WriteExec(*exec, name, kind == aekUserRun));
        SetOutcome(outcome, result);
        return result == aeoDone;
    } catch (...) {
        SetOutcome(outcome, aeoFailed);
        return false;
    }
}

bool AutoExecUnregister(TkitAutoExecKind kind, const std::string& programPath, TkitAutoExecOutcome* outcome)
{
    try {
        const std::string folder = GetAutoExecFolder(kind);
        if (folder.empty()) {
            SetOutcome(outcome, aeoUnsupported);
            return false;
        }
        const std::string name = ExtractNamePart(programPath);
        if (name.empty() || name == "." || name == "..") {
            SetOutcome(outcome, aeoFailed);
            return false;
        }
        const AutostartEntry entry(folder, name);
        TkitAutoExecOutcome result = FromEntry(entry.FolderState());
        if (result == aeoDone)
            result = FromEntry(entry.Remove());
        SetOutcome(outcome, result);
        return result == aeoDone;
    } catch (...) {
        SetOutcome(outcome, aeoFailed);
        return false;
    }
}

std::optional<std::vector<std::string>> AutoExecCommand(TkitAutoExecKind kind, const std::string& name)
{
    const std::string folder = GetAutoExecFolder(kind);
    if (folder.empty())
        return std::nullopt;
    std::string exec;
    if (AutostartEntry(folder, name).ReadExec(exec) != AutostartEntry::Outcome::Done)
        return std::nullopt;
    return DecodeExecLine(exec);
}

RegChangeHandle RegCreateChangeNotification(TkitRegRootKey root, const std::string& key, bool watchSubtree,
                                            unsigned notifyFilter, RegChangeInfo& info)
{
    info = RegChangeInfo{root, key, watchSubtree, notifyFilter};
    try {
        return std::make_shared<RegistryChangeNotification>(RegistryStore::DefaultPath(), root, key,
                                                            watchSubtree, notifyFilter);
    } catch (const std::system_error& e) {
        errno = e.code().value();
    } catch (...) {
        errno = ENOMEM;
    }
    return nullptr;
}

bool RegNextChangeNotification(const RegChangeHandle& handle, const RegChangeInfo&)
{
    if (!handle) {
        errno = EINVAL;
        return false;
    }
    handle->Rearm();
    return true;
}

void RegCloseChangeNotification(RegChangeHandle& handle)
{
    if (handle)
        handle->RequestStop();
    handle.reset();
}

} // namespace morvane
