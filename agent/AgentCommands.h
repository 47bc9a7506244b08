#pragma once

#include "agent/RequestPaths.h"
#include "engine/SharedBlock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

class EngineHost;
class ReportQueue;
class TRKMonItem;
class TRKMonItems;
struct WindowMessage;

// The agent's handling of every request the monitor and outside clients post to its
// window: add, delete, start, stop, open, clear, update, re-initialise and make. Each
// request runs to its end before the next one is taken; answers go out through the
// report queue. Main thread only.
class AgentCommands
{
public:
    struct Context
    {
        SharedBlock* Block = nullptr;
        TRKMonItems* Items = nullptr;
        EngineHost* Host = nullptr;
        ReportQueue* Reports = nullptr;
        // The folders no item may lie in: the home folder and the backup root in use.
        std::function<std::string()> HomeDir;
        std::function<std::string()> BackupRoot;
        // Re-runs the block set-up (REINIT).
        std::function<void()> Reinit;
        // Told when the hold on making versions begins (true) and ends (false).
        std::function<void(bool held)> HoldChanged;
    };

    explicit AgentCommands(Context context);

    // Handles msg when it is one of the requests; true when it was recognised. AgentBusy
    // is 1 while it runs. Never throws: a failure is logged (and a write failure shown).
    bool AppMessage(const WindowMessage& msg);

    // The lines of a bulk path list: split at LF, a CR before it dropped. Empty lines and
    // lines longer than 255 bytes are left out, each with a log line.
    static std::vector<std::string> SplitPathList(const std::string& text);

    bool Held() const { return m_held; }
    // Ends a hold: the watches that ran before it start again (each first scans its
    // folder, so a file saved meanwhile gets its version now). Nothing when not held.
    void ReleaseHold();

private:
    void Hold();
    // Logs a request that failed; a failure is also shown to the user unless the one
    // shown last had the same request and cause.
    void ReportFailure(int index, const std::string& what);
    void Dispatch(int index, std::uint32_t wParam);
    void AddSingle();
    void AddBulk();
    // Adds one item for path (a folder's ends with "/"), as an ADD request does.
    void AddItem(const TMonItemRecord& record);
    void Open();
    void Delete();
    void StartStop(bool start);
    void Make();
    // Tells why a forced version could not read the item's file: a missing file is shown
    // missing, an unreadable one gets a box with the reason and an answer.
    void ReportUnreadable(TRKMonItem& item, int error);
    void Clear();
    void Update(std::uint32_t wParam);
    void UpdateFolder(const TMonItemRecord& record, std::uint32_t wParam);
    void SaveDefaults(const TMonItemRecord& record);

    // The text of PathArg up to its NUL, which is then emptied; nothing (logged) when it
    // has no NUL.
    std::optional<std::string> TakePathArg() const;
    // The path argument taken, or false (logged) when it is malformed.
    bool PathArgument(std::string& path) const;
    // The file item the path argument names; nullptr for a folder, a malformed path or
    // a path no item has.
    std::shared_ptr<TRKMonItem> FileArgument() const;
    // The refusal test; a refusal the user should know of shows the box.
    bool Refused(const std::string& path);
    bool EchoCondition() const;
    // An item's path, history and number of versions, for the log.
    std::string Described(const TRKMonItem& item) const;
    void Echo(MessageIndex msg, const TRKMonItem& item);

    Context m_ctx;
    bool m_held = false;
    std::vector<std::string> m_heldFolders; // folders whose watch the hold ended
    // A bulk add without its list is answered with a box once; after that only logged,
    // so a client that keeps sending it cannot bury the user in boxes.
    bool m_bulkFailureShown = false;
    std::string m_failureTold; // request and cause of the failure shown last
};

} // namespace morvane
