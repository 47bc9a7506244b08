// Starts the real agent on an item list of many watched (empty) folders, 10,000 unless
// told, and prints: the time until it answers its first request, the time until it is
// at rest (no CPU used for a second), its threads, its resident memory, and its wake-ups
// (context switches of all its threads) and CPU time over 10 s at rest. Aim: under 150 MB
// and no wake-up. The same figures for one folder are printed beside them.
//
// Usage: bench_watch_folders [folders] [seconds at rest] [path of quennet]
#include "AgentProcess.h"
#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace morvane;
using namespace morvane::bench;
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
    WriteWatchedFolders(list, files, count, "benchdir", true);
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
    bench::AgentRun run;
    const std::string first = MakeHome(run.Root(), count);
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    figures.AnswerSeconds = run.StartAndAsk(program, first, deadline);
    if (figures.AnswerSeconds < 0)
        return figures;
    (*run.Block)->MonitorRunning = false;
    const qint64 pid = run.Agent.processId();
    // At rest once it has used no CPU for a second (every first scan is over).
    if (const auto quietSince = WaitCpuQuiet(run.Agent, deadline))
        figures.RestSeconds = std::chrono::duration<double>(*quietSince - run.Started).count();
    if (figures.RestSeconds >= 0) {
        const QString status = QString("/proc/%1/status").arg(pid);
        figures.Threads = StatusField(status, "Threads:");
        figures.RssKb = StatusField(status, "VmRSS:");
        const long long switches = ContextSwitches(pid);
        const long long ticks = CpuTicks(pid);
        QThread::sleep(static_cast<unsigned long>(rest.count()));
        figures.WakeUps = ContextSwitches(pid) - switches;
        figures.CpuMs = (CpuTicks(pid) - ticks) * 1000.0 / sysconf(_SC_CLK_TCK);
    }
    return figures;
}

void Print(int count, const Figures& f, std::chrono::seconds rest)
{
    std::printf("%6d folders: first answer %.3f s, at rest %.3f s, %ld threads, VmRSS %.1f MB, "
                "over %lld s at rest %lld wake-ups and %.0f ms CPU\n",
                count, f.AnswerSeconds, f.RestSeconds, f.Threads, f.RssKb / 1024.0,
                static_cast<long long>(rest.count()), f.WakeUps, f.CpuMs);
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
    std::printf("%s\n", InotifyLimits().c_str());
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
