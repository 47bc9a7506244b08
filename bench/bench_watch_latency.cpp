// The time from a save to its VERSION report as a client of the real agent receives it:
// the agent watches a folder (FolderWait 0) whose files are all known items, this process
// stands in for the monitor, and a save is timed from the rename that puts the file in
// place until the report for that file is handled here. So the figure holds the watch
// thread's wait, the copy, the hand-off to the agent's main thread and the report on the
// socket. Done in a folder of 10 files and in one of FILES (10,000) files.
//
// Two references, on a folder of their own as full as the watched one, each wait on
// inotify for a save and then store it:
//   (a) a copy written and fsync'd;
//   (b) what the backup layout asks of a version: its version folder (and the item's
//       folder at its first) made, the copy created under a temporary name, written,
//       fsync'd, renamed into place and its folder fsync'd.
// Each round is one save for each of the three, in an order that alternates; before each
// the disk settles (a flush and a rest, untimed), and the agent's side ends once the agent
// has written its list. Aim: at most 1.3 times (b); the ratio to (a) is printed beside it.
//   bench_watch_latency [FILES [SAVES]] (SAVES rounds, 20 by default, five at least)
#include "AgentProcess.h"
#include "BenchRounds.h"
#include "engine/ItemRecordIO.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
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
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The rest before every timed save: a save timed right after another finished would find
// the disk's journal and the CPUs warm, and look cheaper.
constexpr std::chrono::milliseconds kRest{20};

// Sleeps in the event loop for d, handling what arrives meanwhile.
void Rest(std::chrono::milliseconds d)
{
    QEventLoop loop;
    QTimer::singleShot(d, &loop, &QEventLoop::quit);
    loop.exec();
}

// Before every timed save the disk settles: what the side before left to write back (the
// agent's list, a reference's copies) is flushed, untimed, so no side pays for another's.
void Settle(const fs::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
    Rest(kRest);
}

// The identity of a file, to tell when it was replaced.
ino_t InodeOf(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Runs the event loop until pred holds or timeout passes, sleeping in it: a polling loop
// would add its own delay to the receipt of every report.
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

// Writes the file's next state beside it, with a date of its own, for a rename over it.
void Stage(const std::string& staged, const std::string& path, int s)
{
    WriteText(staged, "saved again " + std::to_string(s));
    fs::last_write_time(staged, fs::last_write_time(path) + std::chrono::seconds(10 + s));
}

// The references' stores: (a) a plain fsync'd copy; (b) the layout's version.
enum class Kind
{
    Plain,
    Layout
};

bool CopyInto(const std::string& from, int dirFd, const std::string& name, bool viaTemp)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const std::string temp = viaTemp ? "." + name + ".tmp" : name;
    const int out = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400);
    bool ok = out >= 0;
    char buffer[64 * 1024];
    for (ssize_t n; ok && (n = ::read(in, buffer, sizeof buffer)) > 0;)
        ok = ::write(out, buffer, static_cast<std::size_t>(n)) == n;
    ok = ok && ::fsync(out) == 0;
    ::close(in);
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    if (viaTemp)
        ok = ok && ::renameat(dirFd, temp.c_str(), dirFd, name.c_str()) == 0 && ::fsync(dirFd) == 0;
    return ok;
}

// A folder as full as the watched one, watched on inotify; each save is waited for there
// and stored as its kind says.
class References
{
public:
    References(const fs::path& dir, int count) : m_dir(dir), m_folder((dir / "reference/").string())
    {
        fs::create_directories(m_folder);
        for (int i = 0; i < count; ++i)
            WriteText(m_folder + "file-" + std::to_string(i) + ".txt", "content " + std::to_string(i));
        fs::create_directories(dir / "plain");
        fs::create_directories(dir / "layout");
        m_inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        m_ok = m_inotify >= 0 && inotify_add_watch(m_inotify, m_folder.c_str(),
                                                   IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY) >= 0;
    }
    ~References()
    {
        if (m_inotify >= 0)
            ::close(m_inotify);
    }
    References(const References&) = delete;
    References& operator=(const References&) = delete;

    // One timed save of file index, stored as kind; nothing when it failed.
    std::optional<double> Save(Kind kind, int s, int index)
    {
        const std::string name = "file-" + std::to_string(index) + ".txt";
        const std::string staged = (m_dir / "reference-staged.txt").string();
        Stage(staged, m_folder + name, 1000 + 2 * s + static_cast<int>(kind));
        Settle(m_dir);
        Drain();
        const auto t0 = Clock::now();
        fs::rename(staged, m_folder + name);
        if (!WaitForEvent() || !Store(kind, s, index, name))
            return std::nullopt;
        return Ms(Clock::now() - t0);
    }

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
        const std::string from = m_folder + name;
        if (kind == Kind::Plain) {
            const int dirFd = ::open((m_dir / "plain").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const bool ok = dirFd >= 0 && CopyInto(from, dirFd, std::to_string(s) + "-" + name, false);
            if (dirFd >= 0)
                ::close(dirFd);
            return ok;
        }
        const int number = ++m_versions[index];
        const std::string item = (m_dir / "layout" / std::to_string(index)).string();
        if (number == 1 && ::mkdir(item.c_str(), 0700) != 0)
            return false;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%03d", number);
        const std::string version = item + "/" + digits;
        if (::mkdir(version.c_str(), 0700) != 0)
            return false;
        const int dirFd = ::open(version.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool ok = dirFd >= 0 && CopyInto(from, dirFd, name, true);
        if (dirFd >= 0)
            ::close(dirFd);
        return ok;
    }

    fs::path m_dir;
    std::string m_folder;
    int m_inotify = -1;
    bool m_ok = false;
    std::map<int, int> m_versions; // per file saved: the versions made of it
};

struct Figures
{
    std::vector<double> Agent, Plain, Layout; // ms, one per round
    double StartSeconds = 0;                  // until the agent's first answer
    double IdleSeconds = 0;                   // until its first scan was over
};

// Waits until pid has used no CPU for quiet; false when deadline passed first.
bool WaitUntilIdle(qint64 pid, std::chrono::milliseconds quiet, Clock::time_point deadline)
{
    long long last = -1;
    auto since = Clock::now();
    while (Clock::now() < deadline) {
        Rest(std::chrono::milliseconds(50));
        const long long ticks = CpuTicks(pid);
        if (ticks < 0)
            return false;
        if (ticks != last) {
            last = ticks;
            since = Clock::now();
        } else if (Clock::now() - since >= quiet) {
            return true;
        }
    }
    return false;
}

// One folder of count files watched by the real agent, rounds saves; nothing when a save
// gave no report or a reference failed.
std::optional<Figures> Run(const std::string& program, int count, int rounds)
{
    AgentRun run;
    const std::string folder = (run.Root() / "watched/").string();
    fs::create_directories(folder);
    // The folder and every file are items already, each with its file date recorded, as
    // after the agent has run for a while: a scan finds nothing to do but the changed file.
    {
        std::ofstream list(run.Home() + kListFileName);
        list << "[" << folder << "]\nFileID=1\nIsFolder=1\nIsSaved=1\nMonitored=1\nMonStatus=1\n"
             << "IsWholeFolder=1\nFolderWait=0\n";
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "file-" + std::to_string(i) + ".txt";
            WriteText(path, "content " + std::to_string(i));
            list << "[" << path << "]\nFileID=" << (100000 + i) << "\nIsSaved=1\nMonitored=1\nMonStatus=1\n"
                 << "DelModeNumber=3\nLastTime=" << FormatIniDate(*FileDate(path)) << "\n";
        }
    }
    References references(run.Root(), count);

    Figures figures;
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    figures.StartSeconds = run.StartAndAsk(program, folder + "file-0.txt", deadline);
    if (figures.StartSeconds < 0 ||
        !WaitUntilIdle(run.Agent.processId(), std::chrono::milliseconds(1000), deadline)) {
        std::printf("the agent did not start and settle\n");
        return std::nullopt;
    }
    figures.IdleSeconds = std::chrono::duration<double>(Clock::now() - run.Started).count() - 1;

    std::string expected;
    std::optional<Clock::time_point> reported;
    run.OnMessage = [&](const WindowMessage& msg) {
        if (!reported && !expected.empty() && msg.Msg == (*run.Block)->MessageIds[MsgVersion] &&
            (*run.Block)->ItemRecord.Path.Get() == expected)
            reported = Clock::now();
    };
    const std::string staged = (run.Root() / "staged.txt").string();
    auto agentSave = [&](int s, int index) -> bool {
        const std::string path = folder + "file-" + std::to_string(index) + ".txt";
        const std::string list = run.Home() + kListFileName;
        const ino_t listBefore = InodeOf(list);
        Stage(staged, path, s);
        Settle(run.Root());
        expected = path;
        reported.reset();
        const auto t0 = Clock::now();
        fs::rename(staged, path);
        if (!Wait([&] { return reported.has_value(); }, std::chrono::minutes(2)))
            return false;
        figures.Agent.push_back(Ms(*reported - t0));
        expected.clear();
        // The list the agent writes after the version is its own work, not the next
        // side's: that side starts once it is written.
        Wait([&] { return InodeOf(list) != listBefore; }, std::chrono::seconds(5));
        return true;
    };
    auto referenceSave = [&](Kind kind, int s, int index) -> bool {
        const std::optional<double> ms = references.Save(kind, s, index);
        if (ms)
            (kind == Kind::Plain ? figures.Plain : figures.Layout).push_back(*ms);
        return ms.has_value();
    };
    for (int s = 0; s < rounds; ++s) {
        const int index = (s * 997) % count;
        const bool ok = s % 2 == 0 ? agentSave(s, index) && referenceSave(Kind::Plain, s, index) &&
                                         referenceSave(Kind::Layout, s, index)
                                   : referenceSave(Kind::Layout, s, index) &&
                                         referenceSave(Kind::Plain, s, index) && agentSave(s, index);
        if (!ok) {
            std::printf("round %d: a save was not stored or reported\n", s + 1);
            return std::nullopt;
        }
    }
    return figures;
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
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = std::max(5, argc > 2 ? std::atoi(argv[2]) : 20);
    int rc = 0;
    for (const int files : {10, count}) {
        PrintLoad("before");
        const std::optional<Figures> f = Run(program, files, rounds);
        PrintLoad("after");
        if (!f) {
            rc = 1;
            continue;
        }
        const double agent = Median(f->Agent), plain = Median(f->Plain), layout = Median(f->Layout);
        std::printf("watched folder of %d files: agent answered %.2f s after its start, idle after %.2f s\n",
                    files, f->StartSeconds, f->IdleSeconds);
        std::printf(
            "save -> VERSION report received, %d files (medians of %d rounds): agent %.2f ms (max %.2f); "
            "(b) inotify wait + the layout's work %.2f ms, ratio %.2f (aim <= 1.3); "
            "(a) inotify wait + fsync'd copy %.2f ms, ratio %.2f\n",
            files, rounds, agent, *std::max_element(f->Agent.begin(), f->Agent.end()), layout,
            Ratio(agent, layout), plain, Ratio(agent, plain));
        std::fflush(stdout);
    }
    return rc;
}
