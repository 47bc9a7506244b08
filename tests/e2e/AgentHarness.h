#pragma once

#include "common/TestSupport.h"
#include "engine/SharedBlock.h"
#include "platform/MessageWindow.h"

#include <QProcess>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::e2e {

// The real agent program, started in the test's own home, runtime and config folders.
// Boxes are answered through MORVANE_AUTO_ANSWER, so nothing ever waits for a user; every
// box still leaves a "BOX <kind>: <text>" line in the agent's output.
class AgentProcess
{
public:
    explicit AgentProcess(const test::TestEnv& env, const std::string& autoAnswer = "no");
    ~AgentProcess(); // kills a program still running

    // Extra environment for the program (before Start).
    void SetEnv(const std::string& name, const std::string& value);
    void Start();
    // Waits until the agent's block exists and names its window, a window that receives.
    bool WaitReady(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool Running() const;
    int ExitCode() const;
    bool Crashed() const;
    void Terminate(); // SIGTERM
    void Kill();      // SIGKILL
    qint64 Pid() const;

    // Everything the program wrote to stdout and stderr so far.
    std::string Output();
    bool WaitOutput(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    const std::string& ConfigHome() const { return m_config; }
    static std::string ProgramPath();

private:
    std::unique_ptr<QProcess> m_process;
    QProcessEnvironment m_env;
    std::string m_config;
    std::string m_output;
};

// A stand-in for the monitor: maps the agent's block, owns a message window, sends
// requests the way the monitor and outside clients do, and keeps every report with the
// record the block held when it arrived (clearing AddHandshake, as a monitor does after
// taking a record).
class MonitorClient
{
public:
    struct Report
    {
        int Index = -1; // MessageIndex, -1 for a number that is none of the twelve
        std::uint32_t WParam = 0;
        TMonItemRecord Record;
    };

    MonitorClient();
    ~MonitorClient();

    // Maps the block of a running agent; false when there is none.
    bool Attach();
    void Detach();
    SharedBlock* Block() const { return m_block ? m_block->Block() : nullptr; }

    // Publishes this window as the monitor's and sets MonitorRunning.
    void BecomeMonitor(bool running = true);
    std::uint32_t Handle() const { return m_window->Handle(); }

    // Requests: the argument goes into the block, then the message is posted. A path
    // request returns once the agent has taken its argument.
    bool Post(MessageIndex msg, std::uint32_t wParam = 0);
    bool PostRaw(std::uint32_t msg, std::uint32_t wParam = 0);
    bool RequestPath(MessageIndex msg, const std::string& path, std::uint8_t origin = kOriginMonitor);
    bool RequestRecord(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam = 0,
                       std::uint8_t origin = kOriginMonitor);

    // Reports received so far.
    const std::vector<Report>& Reports() const { return m_reports; }
    std::vector<Report> ReportsOf(MessageIndex msg) const;
    bool WaitReports(MessageIndex msg, std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void ClearReports() { m_reports.clear(); }

    // Whether reports are acknowledged through AddHandshake.
    bool Acknowledge = true;

private:
    std::optional<SharedBlockMapping> m_block;
    std::unique_ptr<MessageWindow> m_window;
    std::vector<Report> m_reports;
};

// A record for an ADD or UPDATE request.
TMonItemRecord ItemRecordFor(const std::string& path);

// The item list file's value of key in section, or def.
std::string ListValue(const test::TestEnv& env, const std::string& section, const std::string& key,
                      const std::string& def = "");
std::vector<std::string> ListSections(const test::TestEnv& env);

// Writes the defaults of new items: a version on every save, no question, no comparison,
// folderWait seconds of settling after a change.
void WriteQuickDefaults(const test::TestEnv& env, int folderWait = 0);

// Sets a file's modification time to now + offset seconds, so that a rewrite within the
// same second still counts as a change of the file's date.
void TouchFile(const std::string& path, int offsetSeconds);

// Replaces a file in one step with text dated now + offset seconds (written beside it,
// then renamed over it), so a watch never sees it half-written or with its old date.
void ReplaceFile(const std::string& path, const std::string& text, int offsetSeconds);

} // namespace morvane::e2e
