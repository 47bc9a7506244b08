// Loading an item list of 10,000 file items in 100 folders (every file and folder there,
// nothing monitored): the time of LoadAll in the passive engine (the monitor) and in the
// active one (the agent, which also tests every item's presence). Then the same list
// without its folder sections, in the passive engine: each folder item is made on load
// and draws a new FileID. Compared against reading the same records straight from the
// file with ReadItemRecord.
//   bench_loadall [FILES [FOLDERS]]
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItems.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace morvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

TMonItemRecord Record(const std::string& path, int id, bool folder)
{
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(path);
    r.FileID.Set(std::to_string(100000 + id));
    r.IsFolder = folder;
    r.IsWholeFolder = folder;
    r.Monitored = false;
    r.MonStatus = msDisabled;
    r.MonModeInterval = kZeroDuration;
    r.DelModeInterval = EncodeOleDate(1900, 1, 3);
    r.DelModeNumber = 3;
    r.FolderWait = 3;
    return r;
}

// One LoadAll from a cold parse cache; the items are dropped afterwards.
double TimeLoadAll(const std::string& home, bool active, int& files, int& folders)
{
    IniFile::ClearCache();
    TRKMonItems items(nullptr, nullptr, home);
    items.SetActive(active);
    const auto t0 = Clock::now();
    const auto refused = items.LoadAll();
    const double ms = Ms(Clock::now() - t0);
    files = items.FileCount();
    folders = items.FolderCount();
    if (!refused.empty())
        std::printf("  refused: %zu, first: %s\n", refused.size(), refused.front().c_str());
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int folderCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    const fs::path dir = fs::temp_directory_path() / "morvane-bench-loadall";
    fs::remove_all(dir);
    const std::string home = (dir / "home/").string();
    fs::create_directories(home);
    const std::string backup = home + kDefaultBackupDir;
    fs::create_directories(backup);

    // Folders first, then their files, as the agent's list holds them.
    const auto tSetup = Clock::now();
    {
        IniFile list(home + kListFileName);
        IniFile index(backup + kBackupIndexName);
        for (int f = 0; f < folderCount; ++f) {
            const std::string folder = (dir / ("folder-" + std::to_string(f))).string() + "/";
            fs::create_directories(folder);
            WriteItemRecord(Record(folder, count + f, true), list, &index);
        }
        for (int i = 0; i < count; ++i) {
            const std::string path =
                (dir / ("folder-" + std::to_string(i % folderCount)) / ("file-" + std::to_string(i) + ".txt"))
                    .string();
            std::ofstream(path) << i;
            WriteItemRecord(Record(path, i, false), list, &index);
        }
        list.Flush();
        index.Flush();
    }
    const double setupMs = Ms(Clock::now() - tSetup);

    IniFile::ClearCache();
    const auto tRead = Clock::now();
    {
        IniFile list(home + kListFileName);
        for (const std::string& section : list.ReadSections()) {
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set(section);
            ReadItemRecord(r, list, backup);
        }
    }
    const double readMs = Ms(Clock::now() - tRead);

    int files = 0;
    int folders = 0;
    std::printf("item list of %d files in %d folders (setup %.0f ms)\n", count, folderCount, setupMs);
    for (int round = 0; round < 2; ++round) {
        const double passiveMs = TimeLoadAll(home, false, files, folders);
        std::printf("  LoadAll, passive: %.0f ms (%d files, %d folders)\n", passiveMs, files, folders);
        const double activeMs = TimeLoadAll(home, true, files, folders);
        std::printf("  LoadAll, active, nothing monitored: %.0f ms (%d files, %d folders)\n", activeMs, files,
                    folders);
    }
    {
        // The folder sections go; the files stay as they are.
        IniFile list(home + kListFileName);
        for (int f = 0; f < folderCount; ++f)
            list.EraseSection((dir / ("folder-" + std::to_string(f))).string() + "/");
        list.Flush();
    }
    const double bareMs = TimeLoadAll(home, false, files, folders);
    std::printf("  LoadAll, passive, list without folder sections: %.0f ms (%d files, %d folders)\n", bareMs,
                files, folders);
    std::printf("  compared with: ReadItemRecord of every section through one IniFile: %.0f ms\n", readMs);
    fs::remove_all(dir);
    return 0;
}
