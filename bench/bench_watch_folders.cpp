// Starts the real agent on an item list of many watched (empty) folders, 10,000 unless
// told, and prints: the time until it answers its first request, the time until it is
// at rest (no CPU used for a second), its threads, its resident memory, and its wake-ups
// (context switches of all its threads) and CPU time over 10 s at rest. Aim: under 150 MB
// and no wake-up. The same figures for one folder are printed beside them.
//
// Usage: bench_watch_folders [folders] [seconds at rest] [path of quennet]
#include "AgentProcess.h"
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace morvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

struct Figures
{
    double AnswerSeconds = -1;
    double RestSeconds = -1;
    long Threads = -1;
    long RssKb = -1;
    long long WakeUps = -1;
    double CpuMs = -1;
};

// A field of /proc/<pid>/status (or of a task's), -1 when it cannot be read.
long StatusField(const QString& path, const QByteArray& field)
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

// Context switches of every thread of pid, voluntary and not: each is a wake-up.
long long ContextSwitches(qint64 pid)
{
    long long sum = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString status = tasks + "/" + task + "/status";
        sum += std::max(0L, StatusField(status, "voluntary_ctxt_switches:")) +
               std::max(0L, StatusField(status, "nonvoluntary_ctxt_switches:"));
    }
    return sum;
}

// User and system CPU time of pid in clock ticks, -1 when it cannot be read.
long long CpuTicks(qint64 pid)
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

// A home folder whose list holds count watched folders; the first holds the one file
// item, whose path is returned (it is asked about to learn that the agent answers).
std::string MakeHome(const fs::path& root, int count)
{
    const std::string home = (root / "home/").string();
    const std::string files = (root / "folders/").string();
    fs::create_directories(home);
    IniFile list(home + kListFileName);
    list.WriteString(kDefaultSection, "MonMode", "0");
    list.WriteString(kDefaultSection, "FolderWait", "3");
    const std::string first = files + "d0/first.txt";
    for (int i = 0; i < count; ++i) {
        const std::string folder = files + "d" + std::to_string(i) + "/";
        fs::create_directories(folder);
        TMonItemRecord f = EmptyItemRecord();
        f.Path.Set(folder);
        f.IsFolder = true;
        f.IsWholeFolder = true;
        f.FileID.Set("benchdir" + std::to_string(i));
        f.Monitored = true;
        f.MonStatus = msActive;
        f.FolderWait = 3;
        WriteItemRecord(f, list, nullptr);
    }
    std::ofstream(first) << "content";
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(first);
    r.FileID.Set("benchfile");
    r.Monitored = true;
    r.MonStatus = msActive;
    r.MonModeInterval = kZeroDuration;
    r.DelModeInterval = kZeroDuration;
    r.DelModeNumber = 10;
    r.LastTime = FileDate(first).value_or(0);
    r.VersionNum = 1;
    r.FolderWait = 3;
    WriteItemRecord(r, list, nullptr);
    list.Flush();
    return first;
}

Figures Run(const std::string& program, int count, std::chrono::seconds rest)
{
    Figures figures;
    char tmpl[] = "/tmp/mvb-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const std::string runtime = (root / "r/").string();
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    qputenv("MORVANE_RUNTIME_DIR", QByteArray::fromStdString(runtime));
    const std::string first = MakeHome(root, count);

    QProcess agent;
    bench::SetUpAgentProcess(agent, (root / "home/").string(), runtime, (root / "config/").string());

    bool answered = false;
    MessageWindow monitor;
    std::optional<SharedBlockMapping> block;
    monitor.SetHandler([&](const WindowMessage& msg) {
        if (block && msg.Msg == (*block)->MessageIds[MsgVersion])
            answered = true;
    });

    const auto start = Clock::now();
    agent.start(QString::fromStdString(program), {});
    const auto deadline = start + std::chrono::minutes(10);
    while (Clock::now() < deadline && agent.state() != QProcess::NotRunning) {
        block = SharedBlockMapping::OpenExisting();
        if (block && (*block)->AgentWnd != 0)
            break;
        block.reset();
        QThread::msleep(1);
    }
    if (block) {
        (*block)->MonitorWnd = monitor.Handle();
        (*block)->MonitorRunning = true;
        // CLEAR is always answered; it is handled once the list is loaded.
        (*block)->SetPathArg(first);
        PostMessage((*block)->AgentWnd, (*block)->MessageIds[MsgClear], 0, 0);
        while (!answered && Clock::now() < deadline && agent.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (answered)
            figures.AnswerSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        (*block)->MonitorRunning = false;
        // At rest once it has used no CPU for a second (every first scan is over).
        long long last = -1;
        auto quietSince = Clock::now();
        while (answered && Clock::now() < deadline && agent.state() != QProcess::NotRunning) {
            QThread::msleep(100);
            const long long ticks = CpuTicks(agent.processId());
            if (ticks != last) {
                last = ticks;
                quietSince = Clock::now();
            } else if (Clock::now() - quietSince >= std::chrono::seconds(1)) {
                figures.RestSeconds = std::chrono::duration<double>(quietSince - start).count();
                break;
            }
        }
        if (figures.RestSeconds >= 0) {
            const QString status = QString("/proc/%1/status").arg(agent.processId());
            figures.Threads = StatusField(status, "Threads:");
            figures.RssKb = StatusField(status, "VmRSS:");
            const long long switches = ContextSwitches(agent.processId());
            const long long ticks = CpuTicks(agent.processId());
            QThread::sleep(static_cast<unsigned long>(rest.count()));
            figures.WakeUps = ContextSwitches(agent.processId()) - switches;
            figures.CpuMs = (CpuTicks(agent.processId()) - ticks) * 1000.0 / sysconf(_SC_CLK_TCK);
        }
        block.reset();
    }
    agent.terminate();
    if (!agent.waitForFinished(120000)) {
        agent.kill();
        agent.waitForFinished(30000);
    }
    fs::remove_all(root);
    return figures;
}

void Print(int count, const Figures& f, std::chrono::seconds rest)
{
    std::printf("%6d folders: first answer %.3f s, at rest %.3f s, %ld threads, VmRSS %.1f MB, "
                "over %lld s at rest %lld wake-ups and %.0f ms CPU\n",
                count, f.AnswerSeconds, f.RestSeconds, f.Threads, f.RssKb / 1024.0,
                static_cast<long long>(rest.count()), f.WakeUps, f.CpuMs);
}

std::string Setting(const char* path)
{
    std::ifstream in(path);
    std::string s;
    in >> s;
    return s.empty() ? "?" : s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const auto rest = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 10);
    const std::string program =
        argc > 3 ? argv[3] : (QCoreApplication::applicationDirPath() + "/../bin/quennet").toStdString();
    if (!fs::exists(program)) {
        std::fprintf(stderr, "no agent program at %s\n", program.c_str());
        return 1;
    }
    std::printf("fs.inotify.max_user_watches=%s, max_user_instances=%s\n",
                Setting("/proc/sys/fs/inotify/max_user_watches").c_str(),
                Setting("/proc/sys/fs/inotify/max_user_instances").c_str());
    const Figures one = Run(program, 1, rest);
    const Figures full = Run(program, count, rest);
    Print(1, one, rest);
    Print(count, full, rest);
    std::printf("%d folders: VmRSS %.1f MB (aim under 150 MB), wake-ups at rest %lld (aim 0), "
                "%.1f kB and %.2f threads per folder\n",
                count, full.RssKb / 1024.0, full.WakeUps,
                count > 1 ? (full.RssKb - one.RssKb) / static_cast<double>(count - 1) : 0.0,
                count > 1 ? (full.Threads - one.Threads) / static_cast<double>(count - 1) : 0.0);
    return full.RestSeconds < 0 ? 1 : 0;
}
