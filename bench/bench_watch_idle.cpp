// 1,000 watched (empty) folders at rest: the process's CPU time and context switches over 10 s
// (getrusage), after every watch has made its first scan. Aim: no CPU time and no
// wake-ups at all, since nothing polls. Compared against the same process idle with no
// folder watched, measured first. Then the time it takes to stop every watch.
//   bench_watch_idle [FOLDERS [SECONDS]]
#include "AgentProcess.h"
#include "BenchHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItems.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>

using namespace morvane;
using namespace morvane::bench;
namespace fs = std::filesystem;

namespace {

struct Usage
{
    double CpuMs = 0;
    long Voluntary = 0;
    long Involuntary = 0;
};

Usage Now()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) {
        return t.tv_sec * 1000.0 + t.tv_usec / 1000.0;
    };
    return {ms(u.ru_utime) + ms(u.ru_stime), u.ru_nvcsw, u.ru_nivcsw};
}

Usage Over(std::chrono::seconds span)
{
    const Usage a = Now();
    std::this_thread::sleep_for(span);
    const Usage b = Now();
    // The sleep itself is one voluntary switch of the measuring thread.
    return {b.CpuMs - a.CpuMs, b.Voluntary - a.Voluntary - 1, b.Involuntary - a.Involuntary};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const auto span = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 10);
    const fs::path dir = fs::temp_directory_path() / "morvane-bench-idle";
    fs::remove_all(dir);
    const std::string home = (dir / "home/").string();
    fs::create_directories(home);
    setenv("MORVANE_HOME", home.c_str(), 1);
    {
        std::ofstream list(home + kListFileName);
        for (int i = 0; i < count; ++i) {
            const std::string folder = (dir / ("f" + std::to_string(i))).string() + "/";
            fs::create_directories(folder);
            list << "[" << folder << "]\nFileID=" << (1000 + i) << "\nIsFolder=1\nIsSaved=1\nMonitored=1\n"
                 << "MonStatus=1\nIsWholeFolder=1\nFolderWait=3\n";
        }
    }

    const Usage baseline = Over(span);

    ActiveEngine engine(home);
    BenchHost& host = engine.Host;
    TRKMonItems& items = engine.Items;
    const auto tLoad = Clock::now();
    items.LoadAll();
    const double loadAllMs = Ms(Clock::now() - tLoad);
    // Each thread shows idle when it starts and when its first scan ends.
    auto idles = [&] {
        return host.Locked<std::size_t>([&] { return host.IdleAt.size(); });
    };
    // Each watch either runs or has reported why it could not be set up (its box shown):
    // only then is every thread at rest.
    int running = 0;
    Pump(
        [&] {
            if (idles() < static_cast<std::size_t>(2 * count))
                return false;
            running = 0;
            for (const auto& f : items.Folders())
                running += f->WatchRunning();
            return running + host.BoxCount.load() >= count;
        },
        std::chrono::minutes(5));
    // A thread whose box is being shown still counts as running: let the last ones end.
    Pump([] { return false; }, std::chrono::seconds(1));
    running = 0;
    for (const auto& f : items.Folders())
        running += f->WatchRunning();
    const double startMs = Ms(Clock::now() - tLoad);

    const Usage atRest = Over(span);
    std::printf("%d watched folders (%d watches running, %d failures reported; %s)\n", count, running,
                host.BoxCount.load(), InotifyLimits().c_str());
    std::printf("  LoadAll: %.0f ms; until every first scan is done: %.0f ms\n", loadAllMs, startMs);
    std::printf("  at rest for %lld s: CPU %.2f ms, voluntary wake-ups %ld, involuntary %ld (aim: 0)\n",
                static_cast<long long>(span.count()), atRest.CpuMs, atRest.Voluntary, atRest.Involuntary);
    std::printf("  compared with the idle process before any watch: CPU %.2f ms, wake-ups %ld, %ld\n",
                baseline.CpuMs, baseline.Voluntary, baseline.Involuntary);
    const auto tStop = Clock::now();
    items.StopAllWatches();
    std::printf("  stopping every watch: %.0f ms (aim: 10,000 folders within 1 s)\n",
                Ms(Clock::now() - tStop));
    fs::remove_all(dir);
    return 0;
}
