// How the real agent stops on SIGTERM, as at a logout. The agent starts on an item list of
// many watched (empty) folders; once it is at rest it is asked to add a new file item, and
// SIGTERM follows right after its answer. Printed: the seconds from the signal to its
// exit, its exit code, whether the new item reached the list file, and whether the
// termination watchdog had to end it ("did not end in time" on its stderr). Two runs: 3,000
// folders on a machine kept busy by 16 spinning processes (aim: exit 0 within 10 s, the
// item listed, no watchdog), and 10,000 folders at rest (aim: exit 0 within 1 s).
//
// Usage: bench_agent_stop [busy folders] [spinning processes] [resting folders] [path of quennet]
#include "AgentProcess.h"
#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace morvane;
using namespace morvane::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

struct Figures
{
    double AddSeconds = -1;  // from the request to its answer
    double StopSeconds = -1; // from SIGTERM to the exit
    int ExitCode = -1;
    bool Listed = false;
    bool Watchdog = false;
};

struct Home
{
    std::string Known; // a file item of the list: asked about to learn that the agent answers
    std::string Added; // a file the list does not hold
};

// A home folder whose list holds count watched folders and one file item.
Home MakeHome(const fs::path& root, int count)
{
    const std::string home = (root / "home/").string();
    const std::string files = (root / "folders/").string();
    fs::create_directories(home);
    IniFile list(home + kListFileName);
    list.WriteString(kDefaultSection, "FolderWait", "3");
    WriteWatchedFolders(list, files, count, "stopdir", false);
    Home made{files + "d0/known.txt", files + "new/added.txt"};
    std::ofstream(made.Known) << "content";
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(made.Known);
    r.FileID.Set("stopfile");
    r.Monitored = true;
    r.MonStatus = msActive;
    r.LastTime = FileDate(made.Known).value_or(0);
    r.VersionNum = 1;
    WriteItemRecord(r, list, nullptr);
    list.Flush();
    fs::create_directories(files + "new");
    std::ofstream(made.Added) << "a new item";
    return made;
}

Figures Run(const std::string& program, int count)
{
    Figures figures;
    AgentRun run;
    const Home home = MakeHome(run.Root(), count);
    const std::string& added = home.Added;
    const std::string log = (run.Root() / "agent.log").string();
    qputenv("MORVANE_BENCH_LOG", QByteArray::fromStdString(log));
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    const double answered = run.StartAndAsk(program, home.Known, deadline);
    qunsetenv("MORVANE_BENCH_LOG");
    if (answered < 0 || !WaitCpuQuiet(run.Agent, deadline)) {
        std::fprintf(stderr, "the agent did not come to rest: %s\n", log.c_str());
        return figures;
    }

    bool addAnswered = false;
    run.OnMessage = [&](const WindowMessage& msg) {
        if (run.Block && msg.Msg == (*run.Block)->MessageIds[MsgAdd])
            addAnswered = true;
    };
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(added);
    r.Monitored = true;
    r.MonStatus = msActive;
    (*run.Block)->ItemRecord = r;
    (*run.Block)->RequestOrigin = kOriginMonitor;
    const auto asked = Clock::now();
    PostMessage((*run.Block)->AgentWnd, (*run.Block)->MessageIds[MsgAdd], 0, 0);
    while (!addAnswered && Clock::now() < deadline && run.Agent.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (!addAnswered) {
        std::fprintf(stderr, "no answer to ADD: %s\n", log.c_str());
        return figures;
    }
    const auto signalled = Clock::now();
    figures.AddSeconds = std::chrono::duration<double>(signalled - asked).count();
    ::kill(static_cast<pid_t>(run.Agent.processId()), SIGTERM);
    if (!run.Agent.waitForFinished(120000))
        return figures;
    figures.StopSeconds = std::chrono::duration<double>(Clock::now() - signalled).count();
    figures.ExitCode = run.Agent.exitStatus() == QProcess::NormalExit ? run.Agent.exitCode() : -1;
    IniFile::ClearCache();
    figures.Listed = !IniFile(run.Home() + kListFileName).ReadString(added, "FileID", "").empty();
    std::ifstream in(log);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    figures.Watchdog = said.find("did not end in time") != std::string::npos;
    return figures;
}

// Processes that only spin, so the agent competes for every core.
class Spinners
{
public:
    explicit Spinners(int count)
    {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long long turns = 0;
                for (;;)
                    turns = turns + 1;
            }
            if (pid > 0)
                m_pids.push_back(pid);
        }
    }
    ~Spinners()
    {
        for (const pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : m_pids)
            waitpid(pid, nullptr, 0);
    }
    Spinners(const Spinners&) = delete;
    Spinners& operator=(const Spinners&) = delete;

private:
    std::vector<pid_t> m_pids;
};

void Print(const char* what, int count, const Figures& f, double aim)
{
    std::printf("%6d folders, %s: ADD answered in %.3f s; SIGTERM to exit %.3f s (aim: within %.0f s), "
                "exit code %d (aim 0), new item in the list: %s, watchdog ended it: %s\n",
                count, what, f.AddSeconds, f.StopSeconds, aim, f.ExitCode, f.Listed ? "yes" : "NO",
                f.Watchdog ? "YES" : "no");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int busyFolders = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int spinning = argc > 2 ? std::atoi(argv[2]) : 16;
    const int restingFolders = argc > 3 ? std::atoi(argv[3]) : 10000;
    const std::string program =
        argc > 4 ? argv[4] : (QCoreApplication::applicationDirPath() + "/../bin/quennet").toStdString();
    if (!fs::exists(program)) {
        std::fprintf(stderr, "no agent program at %s\n", program.c_str());
        return 1;
    }
    std::printf("%s; %ld cores\n", InotifyLimits().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    const Figures rest = Run(program, restingFolders);
    Figures busy;
    {
        Spinners spinners(spinning);
        busy = Run(program, busyFolders);
    }
    char what[64];
    std::snprintf(what, sizeof what, "%d spinning processes", spinning);
    Print(what, busyFolders, busy, 10);
    Print("at rest", restingFolders, rest, 1);
    return busy.ExitCode == 0 && rest.ExitCode == 0 ? 0 : 1;
}
