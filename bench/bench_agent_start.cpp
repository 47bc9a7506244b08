// Starts the real agent on an item list of 10,000 files (100 monitored folders of 100
// files, every file already versioned at its current date, so the start makes no
// version) and prints how long it takes until the agent answers its first request, and
// its resident memory then. Then starts the real monitor (offscreen) against that agent and
// prints its resident memory once it has loaded the list and gone idle. The same figures
// for a list of one item are printed beside them. The reference of the full start is what
// no start can do without: the start of one item plus reading the same list and looking at
// each file once (aim: at most 3 times that). Medians of five rounds (MORVANE_BENCH_ROUNDS),
// in which the one-item and the full start take turns.
//
// Usage: bench_agent_start [items] [path of quennet] (kelvrim is taken from its folder)
#include "AgentProcess.h"
#include "BenchRounds.h"
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace morvane;
using namespace morvane::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

struct Figures
{
    long RssKb = -1;
    double MonitorSeconds = -1;
    long MonitorRssKb = -1;
};

// Starts the monitor against the running agent of block and measures it once it has used
// no CPU for a second after publishing its window (the list is loaded before that).
void MeasureMonitor(const std::string& program, const QProcessEnvironment& env, SharedBlockMapping& block,
                    Figures& figures)
{
    QProcess monitor;
    monitor.setProcessEnvironment(env);
    monitor.setStandardOutputFile(QProcess::nullDevice());
    monitor.setStandardErrorFile(qEnvironmentVariable("MORVANE_BENCH_LOG", QProcess::nullDevice()));
    block->MonitorWnd = 0;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::minutes(5);
    monitor.start(QString::fromStdString(program), {});
    if (!monitor.waitForStarted(30000))
        return;
    while (block->MonitorWnd == 0 && Clock::now() < deadline && monitor.state() != QProcess::NotRunning)
        QThread::msleep(10);
    if (const auto quietSince = WaitCpuQuiet(monitor, deadline)) {
        figures.MonitorSeconds = std::chrono::duration<double>(*quietSince - start).count();
        figures.MonitorRssKb = ResidentKb(monitor.processId());
    }
    monitor.terminate();
    if (!monitor.waitForFinished(30000)) {
        monitor.kill();
        monitor.waitForFinished(30000);
    }
}

// A home folder whose list holds count file items; returns the sentinel item's path.
std::string MakeHome(const fs::path& root, int count)
{
    const std::string home = (root / "home/").string();
    const std::string files = (root / "files/").string();
    fs::create_directories(home + kDefaultBackupDir);
    IniFile list(home + kListFileName);
    // The backup index as an agent that ran before leaves it, one key per item.
    IniFile index(home + kDefaultBackupDir + kBackupIndexName);
    list.WriteString(kDefaultSection, "MonMode", "0");
    list.WriteString(kDefaultSection, "FolderWait", "3");
    std::string first;
    for (int i = 0; i < count; ++i) {
        const std::string folder = files + "d" + std::to_string(i / 100) + "/";
        const std::string path = folder + "f" + std::to_string(i) + ".txt";
        fs::create_directories(folder);
        std::ofstream(path) << "content " << i;
        TMonItemRecord r = EmptyItemRecord();
        r.Path.Set(path);
        r.FileID.Set("bench" + std::to_string(i));
        r.Monitored = true;
        r.MonStatus = msActive;
        r.MonModeInterval = kZeroDuration;
        r.DelModeInterval = kZeroDuration;
        r.DelModeNumber = 10;
        r.LastTime = FileDate(path).value_or(0);
        r.VersionNum = 1;
        r.FolderWait = 3;
        WriteItemRecord(r, list, &index);
        if (i % 100 == 0) {
            TMonItemRecord f = EmptyItemRecord();
            f.Path.Set(folder);
            f.IsFolder = true;
            f.FileID.Set("benchdir" + std::to_string(i / 100));
            f.Monitored = true;
            f.MonStatus = msActive;
            f.FolderWait = 3;
            WriteItemRecord(f, list, &index);
        }
        if (first.empty())
            first = path;
    }
    list.Flush();
    index.Flush();
    return first;
}

// What any start must do: read the list's records and look at each file once. The
// median of three rounds, from a cold parse cache.
double ReferenceSeconds(const std::string& home, int count)
{
    std::vector<double> rounds;
    for (int round = 0; round < 3; ++round) {
        IniFile::ClearCache();
        const auto start = Clock::now();
        IniFile list(home + kListFileName);
        const IniFile::ReadScope oneState(list);
        int present = 0;
        for (const std::string& section : list.ReadSections()) {
            if (section == kDefaultSection)
                continue;
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set(section);
            r.IsFolder = section.back() == '/';
            ReadItemRecord(r, list, home + kDefaultBackupDir);
            struct stat st = {};
            present += ::stat(section.c_str(), &st) == 0;
        }
        rounds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (present < count)
            std::fprintf(stderr, "reference: only %d of %d files found\n", present, count);
    }
    return Median(rounds);
}

// One start of the agent on a home of its own with count items; the monitor is measured
// too when figures is given.
double StartOnce(const std::string& program, const std::string& monitorProgram, int count, Figures* figures,
                 double* reference)
{
    AgentRun run;
    const std::string first = MakeHome(run.Root(), count);
    const double answer = run.StartAndAsk(program, first, Clock::now() + std::chrono::minutes(5));
    if (answer >= 0 && run.Block && figures) {
        figures->RssKb = ResidentKb(run.Agent.processId());
        (*run.Block)->MonitorRunning = false;
        if (!monitorProgram.empty())
            MeasureMonitor(monitorProgram, run.Env, *run.Block, *figures);
    }
    run.Stop();
    if (reference)
        *reference = ReferenceSeconds(run.Home(), count);
    return answer;
}

struct Series
{
    Figures One, Full;
    std::vector<double> OneStarts, FullStarts, References;
};

// Rounds of a one-item start, a full start and the reference, in an order that alternates,
// each on a home of its own: the medians are printed, so one start slowed by the machine
// does not decide the ratio. The monitor is measured in the first round.
bool Run(const std::string& program, const std::string& monitorProgram, int count, int rounds, Series& series)
{
    for (int round = 0; round < rounds; ++round) {
        double one = -1, full = -1, reference = -1;
        auto runOne = [&] {
            one = StartOnce(program, monitorProgram, 1, round == 0 ? &series.One : nullptr, nullptr);
        };
        auto runFull = [&] {
            full = StartOnce(program, monitorProgram, count, round == 0 ? &series.Full : nullptr, &reference);
        };
        if (round % 2 == 0) {
            runOne();
            runFull();
        } else {
            runFull();
            runOne();
        }
        if (one < 0 || full < 0)
            return false;
        series.OneStarts.push_back(one);
        series.FullStarts.push_back(full);
        series.References.push_back(reference);
        std::printf("  round %d: 1 item %.3f s, %d items %.3f s, reference %.3f s\n", round + 1, one, count,
                    full, reference);
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string program =
        argc > 2 ? argv[2] : (QCoreApplication::applicationDirPath() + "/../bin/quennet").toStdString();
    if (!fs::exists(program)) {
        std::fprintf(stderr, "no agent program at %s\n", program.c_str());
        return 1;
    }
    std::string monitor = (fs::path(program).parent_path() / "kelvrim").string();
    if (!fs::exists(monitor)) {
        std::fprintf(stderr, "no monitor program at %s: the monitor is not measured\n", monitor.c_str());
        monitor.clear();
    }
    const int rounds = Rounds();
    PrintLoad("before");
    Series series;
    const bool ok = Run(program, monitor, count, rounds, series);
    PrintLoad("after");
    if (!ok) {
        std::fprintf(stderr, "an agent did not answer\n");
        return 1;
    }
    const double one = Median(series.OneStarts), full = Median(series.FullStarts),
                 reference = Median(series.References);
    std::printf("agent start, 1 item:     first answer after %.3f s (median of %d), VmRSS %ld kB\n", one,
                rounds, series.One.RssKb);
    std::printf("agent start, %d items: first answer after %.3f s (median of %d), VmRSS %ld kB\n", count,
                full, rounds, series.Full.RssKb);
    std::printf("reading the list + one stat per file, %d items (median of %d): %.3f s\n", count, rounds,
                reference);
    std::printf(
        "ratio: %d-item start / (1-item start + reading the list + one stat per file) = %.3f / %.3f = %.2f "
        "(aim <= 3)\n",
        count, full, one + reference, Ratio(full, one + reference));
    if (!monitor.empty()) {
        std::printf("monitor start, 1 item:     idle after %.3f s, VmRSS %ld kB\n", series.One.MonitorSeconds,
                    series.One.MonitorRssKb);
        std::printf("monitor start, %d items: idle after %.3f s, VmRSS %ld kB\n", count,
                    series.Full.MonitorSeconds, series.Full.MonitorRssKb);
    }
    return 0;
}
