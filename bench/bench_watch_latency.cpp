// A watched folder of 10,000 files, all known items: the time from a save to the finished
// version, less the folder's wait (FolderWait 0 here, so nothing to take off), and the
// time of each rescan (busy image to idle image), over several saves. The same in a folder
// of 10 files. The reference, measured in the same run on a folder as full, one save
// after each of the agent's, is a wait on
// inotify for the save, then a copy of the file written and fsync'd (aim: at most 1.3 times
// that, for both sizes). Printed beside it, the least a version that survives a crash
// costs: that copy also renamed into place and its folder fsync'd, as every version is;
// and the same in a new version folder made for it, as the backup layout asks of every
// version, which tells how much of the gap is the layout's and how much is ours.
// Also printed are the folder's first scan and a plain listing of it.
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

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::bench;
namespace fs = std::filesystem;

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The rest before every timed save.
constexpr std::chrono::milliseconds kRest{20};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Figures
{
    double Latency = 0;   // median, ms
    double Rescan = 0;    // median, ms
    double Reference = 0; // median, ms
    double Durable = 0;   // median, ms
    double Layout = 0;    // median, ms
};

// Sleeps in the event loop for d, running what the engine posts meanwhile. Every timed save
// follows such a rest, the agent's and each reference's alike: a save timed right after
// another finished would find the disk's journal and the CPUs warm, and look cheaper.
void Rest(std::chrono::milliseconds d)
{
    QEventLoop loop;
    QTimer::singleShot(d, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the main thread's queue until pred holds or timeout passes, sleeping in the event
// loop as the agent does (a polling pump would add its own delay to every main-thread
// step of a version).
bool Wait(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    QTimer tick;
    tick.start(std::chrono::milliseconds(100)); // only so that the deadline is seen
    while (!pred()) {
        if (Clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Save(const std::string& staged, const std::string& path, int s)
{
    WriteText(staged, "saved again " + std::to_string(s));
    fs::last_write_time(staged, fs::last_write_time(path) + std::chrono::seconds(10 + s));
}

// How the reference stores each copy.
enum class Kind
{
    Plain,   // the copy written and fsync'd under its name
    Durable, // written under a temporary name, fsync'd, renamed, its folder fsync'd
    Layout   // the same in a new version folder (item folder/NNN/name) made for it, as
             // the backup layout asks of every version (the item folder too, at its first)
};

bool Copy(const std::string& from, int storeFd, const std::string& name, Kind kind)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const std::string temp = kind == Kind::Plain ? name : "." + name + ".tmp";
    const int out = ::openat(storeFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400);
    bool ok = out >= 0;
    char buffer[64 * 1024];
    for (ssize_t n; ok && (n = ::read(in, buffer, sizeof buffer)) > 0;)
        ok = ::write(out, buffer, static_cast<std::size_t>(n)) == n;
    ok = ok && ::fsync(out) == 0;
    ::close(in);
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    if (kind != Kind::Plain)
        ok = ok && ::renameat(storeFd, temp.c_str(), storeFd, name.c_str()) == 0 && ::fsync(storeFd) == 0;
    return ok;
}

// Makes the version folder the layout asks for (and the item's folder at its first
// version) and copies into it; false when a step fails.
bool CopyInLayout(const std::string& from, const fs::path& store, const std::string& item, int number,
                  const std::string& name)
{
    const std::string itemFolder = (store / item).string();
    if (number == 1 && ::mkdir(itemFolder.c_str(), 0700) != 0)
        return false;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", number);
    const std::string versionFolder = itemFolder + "/" + digits;
    if (::mkdir(versionFolder.c_str(), 0700) != 0)
        return false;
    const int folderFd = ::open(versionFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return false;
    const bool ok = Copy(from, folderFd, name, Kind::Durable);
    ::close(folderFd);
    return ok;
}

// The references watch a folder of their own, as full as the watched one, and each save
// of the agent's is followed by one save for each of them: on a shared machine all
// figures then see the same load. Each save is waited for on inotify and copied.
class References
{
public:
    References(const fs::path& dir, int count) : m_dir(dir), m_folder((dir / "reference/").string())
    {
        fs::create_directories(m_folder);
        for (int i = 0; i < count; ++i)
            WriteText(m_folder + "file-" + std::to_string(i) + ".txt", "content " + std::to_string(i));
        for (const char* store : {"store", "durable", "layout"})
            fs::create_directories(dir / store);
        m_inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        m_ok = m_inotify >= 0 && inotify_add_watch(m_inotify, m_folder.c_str(),
                                                   IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY) >= 0;
    }
    ~References()
    {
        if (m_inotify >= 0)
            ::close(m_inotify);
    }

    // One save of file index for each kind, each after a rest; false when one failed.
    bool Save(int s, int index, std::chrono::milliseconds rest)
    {
        const std::string name = "file-" + std::to_string(index) + ".txt";
        const std::string staged = (m_dir / "reference-staged.txt").string();
        ++m_versions[index];
        for (const Kind kind : {Kind::Plain, Kind::Durable, Kind::Layout}) {
            Rest(rest);
            Drain();
            ::Save(staged, m_folder + name, 1000 + s * 3 + static_cast<int>(kind));
            const auto t0 = Clock::now();
            fs::rename(staged, m_folder + name);
            if (!WaitForEvent() || !Store(kind, s, index, name))
                return false;
            m_times[static_cast<int>(kind)].push_back(Ms(Clock::now() - t0));
        }
        return m_ok;
    }
    double MedianOf(Kind kind) const { return Median(m_times[static_cast<int>(kind)]); }

private:
    void Drain()
    {
        alignas(inotify_event) char events[4096];
        while (::read(m_inotify, events, sizeof events) > 0) {
        }
    }
    bool WaitForEvent()
    {
        pollfd p{m_inotify, POLLIN, 0};
        alignas(inotify_event) char events[4096];
        return m_ok && ::poll(&p, 1, 10000) == 1 && ::read(m_inotify, events, sizeof events) > 0;
    }
    bool Store(Kind kind, int s, int index, const std::string& name)
    {
        if (kind == Kind::Layout)
            return CopyInLayout(m_folder + name, m_dir / "layout", std::to_string(index), m_versions[index],
                                name);
        const fs::path store = m_dir / (kind == Kind::Plain ? "store" : "durable");
        const int storeFd = ::open(store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool ok = storeFd >= 0 && Copy(m_folder + name, storeFd, std::to_string(s) + "-" + name, kind);
        if (storeFd >= 0)
            ::close(storeFd);
        return ok;
    }

    fs::path m_dir;
    std::string m_folder;
    int m_inotify = -1;
    bool m_ok = false;
    std::map<int, int> m_versions; // per file saved: the versions made of it
    std::vector<double> m_times[3];
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
    References references(dir, count);
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
        Rest(kRest);
        Save(staged, path, s);
        const auto t0 = Clock::now();
        fs::rename(staged, path);
        if (!Wait([&] { return balloons() > before; }, std::chrono::minutes(2))) {
            std::printf("save %d: no version\n", s);
            return std::nullopt;
        }
        latency.push_back(Ms(host.Locked<Clock::time_point>([&] { return host.Balloons.back(); }) - t0));
        Wait([&] { return idles() > idleBefore; }, std::chrono::minutes(2));
        rescan.push_back(host.Locked<double>([&] { return Ms(host.IdleAt.back() - host.BusyAt.back()); }));
        // Let a trailing event of the save and the list's write settle before the
        // references' turn.
        Rest(std::chrono::milliseconds(50));
        if (!references.Save(s, (s * 997) % count, kRest)) {
            std::printf("save %d: a reference failed\n", s);
            return std::nullopt;
        }
    }
    items.StopAllWatches();
    const double reference = references.MedianOf(Kind::Plain);
    const double durable = references.MedianOf(Kind::Durable);
    const double layout = references.MedianOf(Kind::Layout);

    std::printf("watched folder of %d files (%zu listed), FolderWait 0, %d saves\n", count, listed, saves);
    std::printf("  setup (files and list): %.0f ms; LoadAll: %.0f ms; first scan: %.0f ms; "
                "versions made at rest: %zu\n",
                setupMs, loadMs, firstScanMs, versionsAtRest);
    std::printf("  save -> finished version, less FolderWait (0 s): median %.1f ms, max %.1f ms\n",
                Median(latency), *std::max_element(latency.begin(), latency.end()));
    std::printf("  rescan per change (busy -> idle):               median %.1f ms, max %.1f ms\n",
                Median(rescan), *std::max_element(rescan.begin(), rescan.end()));
    std::printf("  compared with: one listing of the folder %.1f ms; inotify wait + fsync'd copy %.2f ms, "
                "+ rename and folder fsync %.2f ms, + in a new version folder %.2f ms\n",
                listMs, reference, durable, layout);
    fs::remove_all(dir);
    return Figures{Median(latency), Median(rescan), reference, durable, layout};
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
    for (const auto& [files, f] : {std::pair{10, *small}, std::pair{count, *large}})
        std::printf(
            "save -> finished version, %d files: median %.2f ms; inotify wait + fsync'd copy %.2f ms: "
            "ratio %.2f (aim <= 1.3); with rename and folder fsync %.2f ms: ratio %.2f\n",
            files, f.Latency, f.Reference, f.Reference > 0 ? f.Latency / f.Reference : 0, f.Durable,
            f.Durable > 0 ? f.Latency / f.Durable : 0);
    // The layout's own cost: the time a version needs at the least, folder and all; what
    // is left of the ratio above it is ours.
    for (const auto& [files, f] : {std::pair{10, *small}, std::pair{count, *large}})
        std::printf(
            "save -> finished version, %d files: median %.2f ms; what the layout asks of a version "
            "(new version folder + create + write + fsync + rename + folder fsync) %.2f ms: ratio %.2f; "
            "the layout alone costs %.2f times the fsync'd copy\n",
            files, f.Latency, f.Layout, f.Layout > 0 ? f.Latency / f.Layout : 0,
            f.Reference > 0 ? f.Layout / f.Reference : 0);
    std::printf("rescan per change, median: %d files %.1f ms; 10 files %.1f ms\n", count, large->Rescan,
                small->Rescan);
    return 0;
}
