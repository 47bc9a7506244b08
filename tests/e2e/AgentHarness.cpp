#include "AgentHarness.h"

#include "platform/IniFile.h"

#include <QCoreApplication>
#include <filesystem>
#include <stdexcept>

namespace morvane::e2e {

namespace {

std::string Sibling(const std::string& home, const std::string& name)
{
    // The test's root holds home/, r/ and work/; the config home sits beside them.
    std::string root = home;
    if (!root.empty() && root.back() == '/')
        root.pop_back();
    return root.substr(0, root.rfind('/') + 1) + name + "/";
}

} // namespace

AgentProcess::AgentProcess(const test::TestEnv& env, const std::string& autoAnswer)
    : m_process(std::make_unique<QProcess>()), m_env(QProcessEnvironment::systemEnvironment()),
      m_config(Sibling(env.Home(), "config"))
{
    std::filesystem::create_directories(m_config);
    m_env.insert("MORVANE_HOME", QString::fromStdString(env.Home()));
    m_env.insert("MORVANE_RUNTIME_DIR", QString::fromStdString(env.Runtime()));
    m_env.insert("XDG_CONFIG_HOME", QString::fromStdString(m_config));
    m_env.insert("MORVANE_AUTO_ANSWER", QString::fromStdString(autoAnswer));
    m_env.insert("QT_QPA_PLATFORM", "offscreen");
    m_process->setProcessChannelMode(QProcess::MergedChannels);
}

AgentProcess::~AgentProcess()
{
    if (Running()) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

std::string AgentProcess::ProgramPath()
{
    return std::string(MORVANE_BIN) + "/quennet";
}

void AgentProcess::SetEnv(const std::string& name, const std::string& value)
{
    m_env.insert(QString::fromStdString(name), QString::fromStdString(value));
}

void AgentProcess::Start()
{
    m_process->setProcessEnvironment(m_env);
    m_process->start(QString::fromStdString(ProgramPath()), {});
    if (!m_process->waitForStarted(10000))
        throw std::runtime_error("cannot start " + ProgramPath());
}

bool AgentProcess::WaitReady(std::chrono::milliseconds timeout)
{
    return test::WaitUntil(
        [&] {
            if (!Running())
                return false;
            std::optional<SharedBlockMapping> block = SharedBlockMapping::OpenExisting();
            // The window must be one that receives: a block a client kept may still name
            // the window of an agent killed before this one.
            return block && (*block)->MessageIds[MsgActivate] != 0 && WindowExists((*block)->AgentWnd);
        },
        timeout);
}

bool AgentProcess::WaitExit(std::chrono::milliseconds timeout)
{
    return test::WaitUntil([&] { return !Running(); }, timeout);
}

bool AgentProcess::Running() const
{
    return m_process->state() != QProcess::NotRunning;
}

int AgentProcess::ExitCode() const
{
    return m_process->exitCode();
}

bool AgentProcess::Crashed() const
{
    return m_process->exitStatus() == QProcess::CrashExit;
}

void AgentProcess::Terminate()
{
    m_process->terminate();
}

void AgentProcess::Kill()
{
    m_process->kill();
}

qint64 AgentProcess::Pid() const
{
    return m_process->processId();
}

std::string AgentProcess::Output()
{
    m_output += m_process->readAll().toStdString();
    return m_output;
}

bool AgentProcess::WaitOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    return test::WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeout);
}

MonitorClient::MonitorClient() : m_window(std::make_unique<MessageWindow>())
{
    m_window->SetHandler([this](const WindowMessage& msg) {
        SharedBlock* block = Block();
        if (!block)
            return;
        Report report;
        for (int i = 0; i < kMessageCount; ++i) {
            if (block->MessageIds[i] == msg.Msg)
                report.Index = i;
        }
        report.WParam = msg.WParam;
        report.Record = block->ItemRecord;
        m_reports.push_back(report);
        if (Acknowledge)
            block->AddHandshake = false;
    });
}

MonitorClient::~MonitorClient()
{
    if (SharedBlock* block = Block(); block && block->MonitorWnd == m_window->Handle())
        block->MonitorRunning = false;
}

bool MonitorClient::Attach()
{
    m_block = SharedBlockMapping::OpenExisting();
    return m_block.has_value();
}

void MonitorClient::Detach()
{
    m_block.reset();
}

void MonitorClient::BecomeMonitor(bool running)
{
    Block()->MonitorWnd = m_window->Handle();
    Block()->MonitorRunning = running;
}

bool MonitorClient::Post(MessageIndex msg, std::uint32_t wParam)
{
    return PostRaw(Block()->MessageIds[msg], wParam);
}

bool MonitorClient::PostRaw(std::uint32_t msg, std::uint32_t wParam)
{
    return PostMessage(Block()->AgentWnd, msg, wParam, 0);
}

bool MonitorClient::RequestPath(MessageIndex msg, const std::string& path, std::uint8_t origin)
{
    if (!Block()->SetPathArg(path))
        return false;
    Block()->RequestOrigin = origin;
    if (!Post(msg))
        return false;
    // The agent empties the argument once it has read it; only then may the next
    // request's argument be written.
    return test::WaitUntil([&] { return Block()->PathArg[0] == '\0'; });
}

bool MonitorClient::RequestRecord(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam,
                                  std::uint8_t origin)
{
    Block()->ItemRecord = record;
    Block()->RequestOrigin = origin;
    return Post(msg, wParam);
}

std::vector<MonitorClient::Report> MonitorClient::ReportsOf(MessageIndex msg) const
{
    std::vector<Report> found;
    for (const Report& r : m_reports) {
        if (r.Index == msg)
            found.push_back(r);
    }
    return found;
}

bool MonitorClient::WaitReports(MessageIndex msg, std::size_t count, std::chrono::milliseconds timeout)
{
    return test::WaitUntil([&] { return ReportsOf(msg).size() >= count; }, timeout);
}

TMonItemRecord ItemRecordFor(const std::string& path)
{
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(path);
    r.IsFolder = !path.empty() && path.back() == '/';
    r.Monitored = true;
    r.MonStatus = msActive;
    r.IsWholeFolder = r.IsFolder;
    r.DelMode = dmNumber;
    r.DelModeNumber = 100;
    return r;
}

std::string ListValue(const test::TestEnv& env, const std::string& section, const std::string& key,
                      const std::string& def)
{
    IniFile::ClearCache();
    IniFile list(env.Home() + "mvlist.srv");
    return list.ReadString(section, key, def);
}

std::vector<std::string> ListSections(const test::TestEnv& env)
{
    IniFile::ClearCache();
    IniFile list(env.Home() + "mvlist.srv");
    return list.ReadSections();
}

void WriteQuickDefaults(const test::TestEnv& env, int folderWait)
{
    test::WriteFile(env.Home() + "mvlist.srv", "[_Default settings]\nMonitored=1\nMonMode=0\n"
                                               "MonModeConfirmation=0\nMonModeCompare=0\nMonModeSize=0\n"
                                               "DelMode=0\nDelModeNumber=100\nNameMode=0\nMonStatus=1\n"
                                               "IsWholeFolder=1\nFolderWait=" +
                                                   std::to_string(folderWait) + "\n");
}

void TouchFile(const std::string& path, int offsetSeconds)
{
    const auto when = std::filesystem::file_time_type::clock::now() + std::chrono::seconds(offsetSeconds);
    std::filesystem::last_write_time(path, when);
}

void ReplaceFile(const std::string& path, const std::string& text, int offsetSeconds)
{
    const std::filesystem::path target(path);
    const std::filesystem::path staging =
        target.parent_path().parent_path() / (".staging-" + target.filename().string());
    test::WriteFile(staging.string(), text);
    TouchFile(staging.string(), offsetSeconds);
    std::filesystem::rename(staging, target);
}

} // namespace morvane::e2e
