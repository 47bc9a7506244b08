// Takes in a folder watched whole through the real agent: N files are in the folder when
// the agent starts, and the time runs until every file is an item with its first version
// and the list file holds them all. Compared, in the same run, with the same number of
// durable copies made by the engine's own copy into fresh version folders plus one write
// of a list of N items (aim: at most 1.3 times that). The intake figure holds the agent's
// start too.
//   bench_intake [COUNTS...] (default 1000 5000); MORVANE_BENCH_ROUNDS rounds each (3)
#include "AgentProcess.h"
#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
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
#include <vector>

using namespace morvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string FileText(int i)
{
    return "file " + std::to_string(i) + "\n" + std::string(2000 + i % 500, 'x');
}

void MakeFiles(const std::string& folder, int count)
{
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        std::ofstream(folder + "f" + std::to_string(i) + ".txt", std::ios::binary) << FileText(i);
}

// Item folders under the backup root that hold a version file.
int VersionedItems(const std::string& root)
{
    int n = 0;
    for (const DirEntry& item : ListDir(root)) {
        if (!item.IsDir)
            continue;
        for (const DirEntry& v : ListDir(root + item.Name + "/")) {
            bool found = false;
            for (const DirEntry& f : ListDir(root + item.Name + "/" + v.Name + "/"))
                found = found || f.IsRegular;
            if (found) {
                ++n;
                break;
            }
        }
    }
    return n;
}

// File items in the list that have a version, by the list's own count.
int ListedWithVersion(const std::string& list)
{
    IniFile::ClearCache();
    IniFile ini(list);
    const IniFile::ReadScope oneState(ini);
    int n = 0;
    for (const std::string& s : ini.ReadSections())
        n += !s.empty() && s.back() != '/' && s != kDefaultSection && ini.ReadInteger(s, "VersionNum", 0) > 0;
    return n;
}

// Seconds from the agent's start until count files are items with a version in the list.
double RunAgent(const std::string& program, int count)
{
    char tmpl[] = "/tmp/mvi-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const std::string home = (root / "home/").string();
    const std::string folder = (root / "watched/").string();
    const std::string runtime = (root / "r/").string();
    fs::create_directories(home);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    MakeFiles(folder, count);
    std::ofstream(home + kListFileName)
        << "[_Default settings]\nMonMode=0\nDelModeNumber=3\nFolderWait=0\n"
        << "[" << folder << "]\nFileID=1\nIsFolder=1\nIsSaved=1\nMonitored=1\nMonStatus=1\n"
        << "IsWholeFolder=1\nFolderWait=0\n";

    QProcess agent;
    bench::SetUpAgentProcess(agent, home, runtime, (root / "config/").string());

    const std::string backup = home + kDefaultBackupDir;
    const std::string list = home + kListFileName;
    const auto start = Clock::now();
    agent.start(QString::fromStdString(program), {});
    const auto deadline = start + std::chrono::minutes(20);
    double seconds = -1;
    // The list is looked at often and the backup tree only once the list is complete:
    // walking thousands of version folders at every look would slow the agent it times.
    while (Clock::now() < deadline && agent.state() != QProcess::NotRunning) {
        if (ListedWithVersion(list) >= count && VersionedItems(backup) >= count) {
            seconds = Seconds(Clock::now() - start);
            break;
        }
        QThread::msleep(count > 100 ? 50 : 2);
    }
    agent.terminate();
    agent.waitForFinished(60000);
    fs::remove_all(root);
    return seconds;
}

// count durable copies into fresh version folders, plus one write of a list of count
// items: what the intake cannot do without.
double Reference(int count)
{
    char tmpl[] = "/tmp/mvr-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const std::string folder = (root / "watched/").string();
    const std::string backup = (root / "backup/").string();
    MakeFiles(folder, count);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string versionFolder = backup + std::to_string(100000 + i) + "/001/";
        MakeDirs(versionFolder);
        const std::string name = "f" + std::to_string(i) + ".txt";
        if (CopyFileSafely(folder + name, versionFolder + name).Status != CopyStatus::Ok)
            std::fprintf(stderr, "reference copy of %s failed\n", name.c_str());
    }
    IniFile list((root / "mvlist.srv").string());
    for (int i = 0; i < count; ++i) {
        TMonItemRecord r = EmptyItemRecord();
        r.Path.Set(folder + "f" + std::to_string(i) + ".txt");
        r.FileID.Set(std::to_string(100000 + i));
        r.VersionNum = 1;
        r.LastTime = Now();
        WriteItemRecord(r, list, nullptr);
    }
    list.Flush();
    const double seconds = Seconds(Clock::now() - start);
    fs::remove_all(root);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string program = (QCoreApplication::applicationDirPath() + "/../bin/quennet").toStdString();
    if (!fs::exists(program)) {
        std::fprintf(stderr, "no agent program at %s\n", program.c_str());
        return 1;
    }
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 5000};

    // Both sides are mostly fsync, whose cost swings with whatever else the disk does:
    // each size runs a few rounds, the two sides taking turns, and the medians compare.
    const int rounds = std::max(1, qEnvironmentVariableIntValue("MORVANE_BENCH_ROUNDS") > 0
                                       ? qEnvironmentVariableIntValue("MORVANE_BENCH_ROUNDS")
                                       : 3);
    int rc = 0;
    for (const int count : counts) {
        std::vector<double> agent, reference;
        for (int r = 0; r < rounds; ++r) {
            agent.push_back(RunAgent(program, count));
            reference.push_back(Reference(count));
            std::printf("  %d files, round %d: agent %.2f s, reference %.2f s\n", count, r + 1, agent.back(),
                        reference.back());
            rc |= agent.back() < 0;
        }
        const double a = Median(agent), ref = Median(reference);
        std::printf(
            "intake of %d files (median of %d): agent %.2f s; reference (%d durable copies + one list "
            "write) %.2f s; ratio %.2f (aim <= 1.3)\n",
            count, rounds, a, count, ref, ref > 0 ? a / ref : 0);
        std::fflush(stdout);
    }
    return rc;
}
