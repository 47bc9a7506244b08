// A watched folder of 10,000 files, all known items: the time from a save to the finished
// version, less the folder's wait (FolderWait 0 here, so nothing to take off), and the
// time of each rescan (busy image to idle image), over several saves. The reference, in
// the same run, is the same in a folder of 10 files (aim: at most 2 times that); also
// printed are the folder's first scan and a plain listing of it.
//   bench_watch_latency [FILES [SAVES]]
#include "BenchHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace morvane;
using namespace morvane::bench;
namespace fs = std::filesystem;

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Figures
{
    double Latency = 0; // median, ms
    double Rescan = 0;  // median, ms
};

// One folder of count files watched by an active engine, saved saves times; nullopt when
// a save gave no version.
std::optional<Figures> Run(int count, int saves)
{
    const fs::path dir = fs::temp_directory_path() / "morvane-bench-watch";
    fs::remove_all(dir);
    const std::string home = (dir / "home/").string();
    const std::string folder = (dir / "watched/").string();
    fs::create_directories(home);
    fs::create_directories(folder);
    setenv("MORVANE_HOME", home.c_str(), 1);
    // The folder and every file are items already, each with its file date recorded, as
    // after the agent has run for a while: a scan finds nothing to do but the changed file.
    const auto tSetup = Clock::now();
    {
        std::ofstream list(home + kListFileName);
        list << "[" << folder << "]\nFileID=1\nIsFolder=1\nIsSaved=1\nMonitored=1\nMonStatus=1\n"
             << "IsWholeFolder=1\nFolderWait=0\n";
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "file-" + std::to_string(i) + ".txt";
            WriteText(path, "content " + std::to_string(i));
            list << "[" << path << "]\nFileID=" << (100000 + i) << "\nIsSaved=1\nMonitored=1\nMonStatus=1\n"
                 << "DelModeNumber=3\nLastTime=" << FormatIniDate(*FileDate(path)) << "\n";
        }
    }
    const double setupMs = Ms(Clock::now() - tSetup);

    ActiveEngine engine(home);
    BenchHost& host = engine.Host;
    TRKMonItems& items = engine.Items;

    auto idles = [&] {
        return host.Locked<std::size_t>([&] { return host.IdleAt.size(); });
    };
    auto balloons = [&] {
        return host.Locked<std::size_t>([&] { return host.Balloons.size(); });
    };

    const auto tLoad = Clock::now();
    items.LoadAll();
    const double loadMs = Ms(Clock::now() - tLoad);
    // The thread's start shows idle once; its first scan ends with the second.
    const auto tFirst = Clock::now();
    if (!Pump([&] { return idles() >= 2; }, std::chrono::minutes(10))) {
        std::printf("the first scan did not finish\n");
        return std::nullopt;
    }
    const double firstScanMs = Ms(Clock::now() - tFirst);
    const std::size_t versionsAtRest = balloons();

    const auto tList = Clock::now();
    const std::size_t listed = ListDir(folder).size();
    const double listMs = Ms(Clock::now() - tList);

    std::vector<double> latency, rescan;
    for (int s = 0; s < saves; ++s) {
        const std::string path = folder + "file-" + std::to_string((s * 997) % count) + ".txt";
        const std::size_t before = balloons();
        const std::size_t idleBefore = idles();
        const std::string staged = (dir / "staged.txt").string();
        WriteText(staged, "saved again " + std::to_string(s));
        fs::last_write_time(staged, fs::last_write_time(path) + std::chrono::seconds(10 + s));
        const auto t0 = Clock::now();
        fs::rename(staged, path);
        if (!Pump([&] { return balloons() > before; }, std::chrono::minutes(2))) {
            std::printf("save %d: no version\n", s);
            return std::nullopt;
        }
        latency.push_back(Ms(host.Locked<Clock::time_point>([&] { return host.Balloons.back(); }) - t0));
        Pump([&] { return idles() > idleBefore; }, std::chrono::minutes(2));
        rescan.push_back(host.Locked<double>([&] { return Ms(host.IdleAt.back() - host.BusyAt.back()); }));
        // Let a trailing event of the save settle before the next one.
        Pump([] { return false; }, std::chrono::milliseconds(50));
    }

    std::printf("watched folder of %d files (%zu listed), FolderWait 0, %d saves\n", count, listed, saves);
    std::printf("  setup (files and list): %.0f ms; LoadAll: %.0f ms; first scan: %.0f ms; "
                "versions made at rest: %zu\n",
                setupMs, loadMs, firstScanMs, versionsAtRest);
    std::printf("  save -> finished version, less FolderWait (0 s): median %.1f ms, max %.1f ms\n",
                Median(latency), *std::max_element(latency.begin(), latency.end()));
    std::printf("  rescan per change (busy -> idle):               median %.1f ms, max %.1f ms\n",
                Median(rescan), *std::max_element(rescan.begin(), rescan.end()));
    std::printf("  compared with: one listing of the folder %.1f ms\n", listMs);
    items.StopAllWatches();
    fs::remove_all(dir);
    return Figures{Median(latency), Median(rescan)};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int saves = argc > 2 ? std::atoi(argv[2]) : 20;
    const std::optional<Figures> small = Run(10, saves);
    const std::optional<Figures> large = Run(count, saves);
    if (!small || !large)
        return 1;
    std::printf("save -> finished version, median: %d files %.1f ms; 10 files %.1f ms; ratio %.2f\n", count,
                large->Latency, small->Latency, small->Latency > 0 ? large->Latency / small->Latency : 0);
    std::printf("rescan per change, median: %d files %.1f ms; 10 files %.1f ms\n", count, large->Rescan,
                small->Rescan);
    return 0;
}
