#pragma once

// The real agent started by a benchmark in its own folders.
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

namespace morvane::bench {

// Writes count watched folders files + "d<i>/" (made on disk) into list, with FileIDs
// idPrefix + i; a whole folder takes every file in it.
inline void WriteWatchedFolders(IniFile& list, const std::string& files, int count,
                                const std::string& idPrefix, bool wholeFolder)
{
    for (int i = 0; i < count; ++i) {
        const std::string folder = files + "d" + std::to_string(i) + "/";
        std::filesystem::create_directories(folder);
        TMonItemRecord f = EmptyItemRecord();
        f.Path.Set(folder);
        f.IsFolder = true;
        f.IsWholeFolder = wholeFolder;
        f.FileID.Set(idPrefix + std::to_string(i));
        f.Monitored = true;
        f.MonStatus = msActive;
        f.FolderWait = 3;
        WriteItemRecord(f, list, nullptr);
    }
}

// The agent runs in its own home, runtime and config folders, offscreen, its boxes
// answered "no", its output dropped (its log kept where MORVANE_BENCH_LOG names a file).
inline QProcessEnvironment SetUpAgentProcess(QProcess& agent, const std::string& home,
                                             const std::string& runtime, const std::string& configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MORVANE_HOME", QString::fromStdString(home));
    env.insert("MORVANE_RUNTIME_DIR", QString::fromStdString(runtime));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    env.insert("MORVANE_AUTO_ANSWER", "no");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    agent.setProcessEnvironment(env);
    agent.setStandardOutputFile(QProcess::nullDevice());
    agent.setStandardErrorFile(qEnvironmentVariable("MORVANE_BENCH_LOG", QProcess::nullDevice()));
    return env;
}

// A field of a /proc status file (/proc/<pid>/status or a task's), -1 when it cannot be read.
inline long StatusField(const QString& path, const QByteArray& field)
{
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file has no size, so it is read whole rather than line by line.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

inline long ResidentKb(qint64 pid)
{
    return StatusField(QString("/proc/%1/status").arg(pid), "VmRSS:");
}

// User and system CPU time of pid in clock ticks, -1 when it cannot be read.
inline long long CpuTicks(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks and ends with ")".
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

// When process has used no CPU for a second before deadline: the moment its last CPU use
// was seen; nullopt when it ended or the deadline came first.
inline std::optional<std::chrono::steady_clock::time_point>
WaitCpuQuiet(const QProcess& process, std::chrono::steady_clock::time_point deadline)
{
    using SteadyClock = std::chrono::steady_clock;
    long long last = -1;
    auto quietSince = SteadyClock::now();
    while (SteadyClock::now() < deadline && process.state() != QProcess::NotRunning) {
        QThread::msleep(100);
        const long long ticks = CpuTicks(process.processId());
        if (ticks != last) {
            last = ticks;
            quietSince = SteadyClock::now();
        } else if (SteadyClock::now() - quietSince >= std::chrono::seconds(1)) {
            return quietSince;
        }
    }
    return std::nullopt;
}

// The first word of a system setting's file, "?" when it cannot be read.
inline std::string SystemSetting(const char* path)
{
    std::ifstream in(path);
    std::string s;
    in >> s;
    return s.empty() ? "?" : s;
}

// The limits that decide how many folders can be watched, as the benchmarks print them.
inline std::string InotifyLimits()
{
    return "fs.inotify.max_user_watches=" + SystemSetting("/proc/sys/fs/inotify/max_user_watches") +
           ", max_user_instances=" + SystemSetting("/proc/sys/fs/inotify/max_user_instances");
}

// One start of the real agent in a fresh temporary folder: Root()/home/ is its home (the
// caller fills it before Start), Root()/r/ its runtime folder (also this process's, so the
// shared block is found), Root()/config/ its settings. A message window stands in for the
// monitor. The agent is ended, and the folder removed, when this goes away.
class AgentRun
{
public:
    using Clock = std::chrono::steady_clock;

    AgentRun()
    {
        char tmpl[] = "/tmp/mvb-XXXXXX";
        m_root = mkdtemp(tmpl);
        std::filesystem::create_directories(Runtime());
        std::filesystem::permissions(Runtime(), std::filesystem::perms::owner_all);
        std::filesystem::create_directories(Home());
        qputenv("MORVANE_RUNTIME_DIR", QByteArray::fromStdString(Runtime()));
        // Made once the runtime folder is this process's: its socket goes there.
        m_monitor.emplace();
        m_monitor->SetHandler([this](const WindowMessage& msg) {
            if (!Block)
                return;
            if (msg.Msg == (*Block)->MessageIds[MsgVersion])
                m_answered = true;
            if (OnMessage)
                OnMessage(msg);
            // Taken, as a monitor takes a report's record: the agent's next report may go.
            (*Block)->AddHandshake.AtomicStore(false);
        });
    }
    ~AgentRun()
    {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    AgentRun(const AgentRun&) = delete;
    AgentRun& operator=(const AgentRun&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::string Home() const { return (m_root / "home/").string(); }
    std::string Runtime() const { return (m_root / "r/").string(); }

    // Starts program and asks it to CLEAR path, which is always answered once the list is
    // loaded. The seconds from the start until the answer, -1 when none came before
    // deadline (or the agent ended). Block is then the agent's block, with this process
    // as its running monitor.
    double StartAndAsk(const std::string& program, const std::string& path, Clock::time_point deadline)
    {
        Env = SetUpAgentProcess(Agent, Home(), Runtime(), (m_root / "config/").string());
        Started = Clock::now();
        Agent.start(QString::fromStdString(program), {});
        while (Clock::now() < deadline && Agent.state() != QProcess::NotRunning) {
            Block = SharedBlockMapping::OpenExisting();
            if (Block && (*Block)->AgentWnd != 0)
                break;
            Block.reset();
            QThread::msleep(1);
        }
        if (!Block)
            return -1;
        (*Block)->MonitorWnd = m_monitor->Handle();
        (*Block)->MonitorRunning = true;
        (*Block)->SetPathArg(path);
        PostMessage((*Block)->AgentWnd, (*Block)->MessageIds[MsgClear], 0, 0);
        while (!m_answered && Clock::now() < deadline && Agent.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return m_answered ? std::chrono::duration<double>(Clock::now() - Started).count() : -1;
    }

    // Ends the agent as a log-out would (killed when it does not end in time).
    void Stop()
    {
        Block.reset();
        if (Agent.state() == QProcess::NotRunning)
            return;
        Agent.terminate();
        if (!Agent.waitForFinished(120000)) {
            Agent.kill();
            Agent.waitForFinished(30000);
        }
    }

    QProcess Agent;
    QProcessEnvironment Env;
    // Sees every message the agent sends to this process's window, on the main thread,
    // while the block's record is the one the message carries.
    std::function<void(const WindowMessage&)> OnMessage;
    Clock::time_point Started; // when the agent was started
    std::optional<SharedBlockMapping> Block;

private:
    std::filesystem::path m_root;
    std::optional<MessageWindow> m_monitor;
    bool m_answered = false;
};

} // namespace morvane::bench
