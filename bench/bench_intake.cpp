// Takes in a folder watched whole through the real agent: N files are in the folder when
// the agent starts, and the time runs until every file is an item with its first version
// and the list file holds them all (so the agent's start is in it). Then, for the first
// size, a burst: every file of the folder saved at once, timed until each has its second
// version in the list and on disk.
//
// Two references, written here with plain system calls, do the same work on the same
// files in the same round (the sides take turns, so all see the same load):
//   (a) a copy of each file written and fsync'd, plus one write of a list of N items;
//   (b) what the backup layout asks of each version: its item folder (at the first) and
//       its version folder made, the copy created under a temporary name, written,
//       fsync'd, renamed into place, and its folder fsync'd.
// Aims: at most 0.7 times (b) and at most 1.3 times (a), for both sizes and the burst.
//   bench_intake [COUNTS...] (default 1000 5000); MORVANE_BENCH_ROUNDS rounds (5);
//   MORVANE_BENCH_BURST files saved in the burst (1000; 0: none)
#include "AgentProcess.h"
#include "BenchRounds.h"
#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace morvane;
using namespace morvane::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string FileName(int i)
{
    return "f" + std::to_string(i) + ".txt";
}

std::string FileText(int i, int save)
{
    return "file " + std::to_string(i) + " save " + std::to_string(save) + "\n" +
           std::string(2000 + i % 500, 'x');
}

void MakeFiles(const std::string& folder, int count)
{
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        std::ofstream(folder + FileName(i), std::ios::binary) << FileText(i, 0);
}

// Saves the first count files of folder again, each written beside it and renamed over
// it, as an editor saves: nothing ever sees half a file.
void SaveAgain(const std::string& folder, const std::string& staging, int count, int save)
{
    fs::create_directories(staging);
    for (int i = 0; i < count; ++i) {
        const std::string staged = staging + FileName(i);
        std::ofstream(staged, std::ios::binary) << FileText(i, save);
        fs::rename(staged, folder + FileName(i));
    }
}

// Item folders under the backup root with at least versions version folders that hold
// a file.
int VersionedItems(const std::string& root, int versions)
{
    int n = 0;
    for (const DirEntry& item : ListDir(root)) {
        if (!item.IsDir)
            continue;
        int found = 0;
        for (const DirEntry& v : ListDir(root + item.Name + "/")) {
            for (const DirEntry& f : ListDir(root + item.Name + "/" + v.Name + "/")) {
                if (f.IsRegular) {
                    ++found;
                    break;
                }
            }
        }
        n += found >= versions;
    }
    return n;
}

// File items in the list with at least versions versions, by the list's own count.
int ListedWithVersions(const std::string& list, int versions)
{
    IniFile::ClearCache();
    IniFile ini(list);
    const IniFile::ReadScope oneState(ini);
    int n = 0;
    for (const std::string& s : ini.ReadSections())
        n += !s.empty() && s.back() != '/' && s != kDefaultSection &&
             ini.ReadInteger(s, "VersionNum", 0) >= versions;
    return n;
}

// Waits until count files have versions versions in the list and on disk; the seconds
// since start, -1 when the agent ended or deadline passed first.
double WaitForVersions(QProcess& agent, const std::string& home, int count, int versions,
                       Clock::time_point start)
{
    const std::string backup = home + kDefaultBackupDir;
    const std::string list = home + kListFileName;
    const auto deadline = start + std::chrono::minutes(20);
    // The list is looked at often and the backup tree only once the list is complete:
    // walking thousands of version folders at every look would slow the agent it times.
    while (Clock::now() < deadline && agent.state() != QProcess::NotRunning) {
        if (ListedWithVersions(list, versions) >= count && VersionedItems(backup, versions) >= count)
            return Seconds(Clock::now() - start);
        QThread::msleep(count > 100 ? 20 : 2);
    }
    return -1;
}

struct Figures
{
    double Intake = -1;
    double Burst = -1;
};

// The agent's intake of count files and, when burst > 0, its versions of a burst of
// burst saves.
Figures RunAgent(const std::string& program, int count, int burst)
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
    SetUpAgentProcess(agent, home, runtime, (root / "config/").string());
    Figures figures;
    const auto start = Clock::now();
    agent.start(QString::fromStdString(program), {});
    figures.Intake = WaitForVersions(agent, home, count, 1, start);
    if (figures.Intake >= 0 && burst > 0) {
        // Whatever the intake left to settle (its last list write) is not the burst's.
        QThread::msleep(200);
        const auto saved = Clock::now();
        SaveAgain(folder, (root / "staging/").string(), burst, 1);
        figures.Burst = WaitForVersions(agent, home, burst, 2, saved);
    }
    agent.terminate();
    agent.waitForFinished(60000);
    fs::remove_all(root);
    return figures;
}

// The references' plain system calls; each returns false when one fails.
bool ReadWhole(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st = {};
    bool ok = ::fstat(fd, &st) == 0;
    bytes.resize(ok ? static_cast<std::size_t>(st.st_size) : 0);
    ok = ok && ::read(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
}

bool WriteNew(int dirFd, const std::string& name, const std::string& bytes)
{
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = ::fsync(fd) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

// (a): count fsync'd copies, one folder for all, and one list of count items.
bool PlainCopies(const std::string& folder, const std::string& store, int count, int save)
{
    fs::create_directories(store);
    const int storeFd = ::open(store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = storeFd >= 0;
    std::string bytes, list;
    for (int i = 0; ok && i < count; ++i) {
        ok = ReadWhole(folder + FileName(i), bytes) &&
             WriteNew(storeFd, std::to_string(save) + "-" + FileName(i), bytes);
        list += "[" + folder + FileName(i) + "]\nFileID=" + std::to_string(100000 + i) +
                "\nIsSaved=1\nMonitored=1\nMonStatus=1\nVersionNum=" + std::to_string(save + 1) +
                "\nLastTime=12/10/2026 12:00:00\nDelModeNumber=3\n";
    }
    ok = ok && WriteNew(storeFd, "list-" + std::to_string(save), list);
    if (storeFd >= 0)
        ::close(storeFd);
    return ok;
}

// (b): count versions in the backup layout: item folder/NNN/name.
bool LayoutVersions(const std::string& folder, const std::string& backup, int count, int save)
{
    fs::create_directories(backup);
    char number[16];
    std::snprintf(number, sizeof number, "%03d", save + 1);
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        const std::string item = backup + std::to_string(100000 + i);
        const std::string version = item + "/" + number;
        if ((save == 0 && ::mkdir(item.c_str(), 0700) != 0) || ::mkdir(version.c_str(), 0700) != 0)
            return false;
        const int dirFd = ::open(version.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            return false;
        const std::string temp = "." + FileName(i) + ".tmp";
        bool ok = ReadWhole(folder + FileName(i), bytes) && WriteNew(dirFd, temp, bytes) &&
                  ::renameat(dirFd, temp.c_str(), dirFd, FileName(i).c_str()) == 0 && ::fsync(dirFd) == 0;
        ::close(dirFd);
        if (!ok)
            return false;
    }
    return true;
}

enum class Reference
{
    Copies, // (a)
    Layout  // (b)
};

// A reference's intake of count files and, when burst > 0, its burst; on files of its own
// made as the agent's were.
Figures RunReference(Reference kind, int count, int burst)
{
    char tmpl[] = "/tmp/mvr-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const std::string folder = (root / "watched/").string();
    const std::string store = (root / "store/").string();
    MakeFiles(folder, count);
    auto run = [&](int files, int save) {
        const auto start = Clock::now();
        const bool ok = kind == Reference::Copies ? PlainCopies(folder, store, files, save)
                                                  : LayoutVersions(folder, store, files, save);
        if (!ok)
            std::perror("reference");
        return ok ? Seconds(Clock::now() - start) : -1;
    };
    Figures figures;
    figures.Intake = run(count, 0);
    if (burst > 0) {
        QThread::msleep(200);
        SaveAgain(folder, (root / "staging/").string(), burst, 1);
        figures.Burst = run(burst, 1);
    }
    fs::remove_all(root);
    return figures;
}

struct Series
{
    std::vector<double> Agent, Copies, Layout;
};

void PrintFigure(const char* what, const Series& s, int rounds)
{
    const double agent = Median(s.Agent), copies = Median(s.Copies), layout = Median(s.Layout);
    std::printf("%s (medians of %d rounds): agent %.2f s; (a) fsync'd copies + one list write %.2f s, "
                "ratio %.2f (aim <= 1.3); (b) the layout's work %.2f s, ratio %.2f (aim <= 0.7)\n",
                what, rounds, agent, copies, Ratio(agent, copies), layout, Ratio(agent, layout));
    std::fflush(stdout);
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
    const QByteArray burstText = qgetenv("MORVANE_BENCH_BURST");
    const int burstSize = burstText.isEmpty() ? 1000 : burstText.toInt();

    // Every side is mostly flushes, whose cost swings with whatever else the disk does:
    // the sides take turns in each round, in an order that alternates, and the medians
    // compare.
    const int rounds = Rounds();
    int rc = 0;
    for (std::size_t c = 0; c < counts.size(); ++c) {
        const int count = counts[c];
        const int burst = c == 0 ? std::min(burstSize, count) : 0;
        Series intake, saves;
        PrintLoad("before");
        for (int r = 0; r < rounds; ++r) {
            Figures agent, copies, layout;
            auto runAgent = [&] {
                agent = RunAgent(program, count, burst);
            };
            auto runCopies = [&] {
                copies = RunReference(Reference::Copies, count, burst);
            };
            auto runLayout = [&] {
                layout = RunReference(Reference::Layout, count, burst);
            };
            if (r % 2 == 0) {
                runAgent();
                runCopies();
                runLayout();
            } else {
                runLayout();
                runCopies();
                runAgent();
            }
            rc |= agent.Intake < 0 || (burst > 0 && agent.Burst < 0);
            intake.Agent.push_back(agent.Intake);
            intake.Copies.push_back(copies.Intake);
            intake.Layout.push_back(layout.Intake);
            std::printf("  %d files, round %d: intake: agent %.2f s, (a) %.2f s, (b) %.2f s", count, r + 1,
                        agent.Intake, copies.Intake, layout.Intake);
            if (burst > 0) {
                saves.Agent.push_back(agent.Burst);
                saves.Copies.push_back(copies.Burst);
                saves.Layout.push_back(layout.Burst);
                std::printf("; burst of %d saves: agent %.2f s, (a) %.2f s, (b) %.2f s", burst, agent.Burst,
                            copies.Burst, layout.Burst);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        PrintLoad("after");
        PrintFigure(("intake of " + std::to_string(count) + " files").c_str(), intake, rounds);
        if (burst > 0)
            PrintFigure(("burst of " + std::to_string(burst) + " saves in one folder").c_str(), saves,
                        rounds);
    }
    return rc;
}
