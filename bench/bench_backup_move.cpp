// Moves a backup folder of 1,000 versions of 1 MB (100 items of 10 versions) to another
// file system, the way the move dialog does (item by item, each file through a temporary
// name, dates kept), and moves the same tree with `cp -a` followed by `rm -r` in the same
// run; three rounds each, medians and their ratio printed (aim: at most 1.3). The other
// file system is /dev/shm where it is one; elsewhere the copy road is forced on one.
//   bench_backup_move [FOLDER [VERSIONS]]
#include "monitor/BackupMove.h"
#include "platform/FileTree.h"
#include "support/components/TkitFileOperation.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

using namespace morvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVersionsPerItem = 10;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// items folders of kVersionsPerItem version folders, each with one 1 MB file.
std::vector<std::string> MakeTree(const fs::path& root, int versions)
{
    std::vector<std::string> ids;
    std::vector<std::uint64_t> block((1 << 20) / 8);
    std::uint64_t x = 88172645463325252ull;
    for (int v = 0; v < versions; ++v) {
        const int item = v / kVersionsPerItem;
        const std::string id = "2412" + std::to_string(1000 + item);
        if (v % kVersionsPerItem == 0)
            ids.push_back(id);
        char folder[16];
        std::snprintf(folder, sizeof folder, "%03d", v % kVersionsPerItem + 1);
        fs::create_directories(root / id / folder);
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        std::ofstream out(root / id / folder / "report.doc", std::ios::binary);
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 8));
    }
    std::ofstream(root / "files.lst") << "[Files]\n";
    return ids;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const fs::path dir =
        fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "morvane-bench-move";
    const int versions = argc > 2 ? std::atoi(argv[2]) : 1000;
    fs::path other = "/dev/shm/morvane-bench-move-" + std::to_string(::getpid());
    const bool shm = fs::is_directory("/dev/shm") && !SameFileSystem("/dev/shm", dir.parent_path().string());
    if (!shm) {
        other = dir / "other";
        TkitFileOperation::SetForceCopy(true);
    }
    fs::remove_all(dir);
    fs::remove_all(other);
    fs::create_directories(dir / "home");

    std::vector<double> moveMs, cpMs;
    for (int round = 1; round <= 3; ++round) {
        // cp -a and rm -r of the same tree.
        fs::remove_all(other);
        fs::create_directories(other);
        MakeTree(dir / "backup", versions);
        const std::string cmd = "cp -a '" + (dir / "backup").string() + "' '" + (other / "backup").string() +
                                "' && rm -r '" + (dir / "backup").string() + "'";
        auto t = Clock::now();
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        cpMs.push_back(Ms(Clock::now() - t));

        fs::remove_all(other);
        fs::create_directories(other);
        monitor::BackupMovePlan plan;
        plan.OldRoot = (dir / "backup").string() + "/";
        plan.NewRoot = (other / "backup").string() + "/";
        plan.SettingsFile = (dir / "home" / "kelvrim.ini").string();
        for (const std::string& id : MakeTree(dir / "backup", versions))
            plan.Items.push_back({id, "/data/" + id + ".doc"});
        monitor::BackupMoveControl op;
        op.Silent = true;
        t = Clock::now();
        const monitor::BackupMoveResult r = monitor::BackupMove::Run(plan, op);
        moveMs.push_back(Ms(Clock::now() - t));
        if (r.Outcome != monitor::BackupMoveResult::Done)
            std::fprintf(stderr, "round %d: %s\n", round, r.Text.c_str());
        fs::remove_all(dir / "backup");
    }
    const double move = Median(moveMs), cp = Median(cpMs);
    std::printf("backup folder move: %d versions of 1 MB, %s\n", versions,
                shm ? "disk to /dev/shm (another file system)" : "copy road forced on one file system");
    std::printf("  move (median of 3):          %8.1f ms  %6.0f MB/s\n", move, versions / (move / 1000));
    std::printf("  cp -a + rm -r (median of 3): %8.1f ms\n", cp);
    std::printf("  ratio move / (cp -a + rm -r): %.2f (aim <= 1.3)\n", move / cp);
    fs::remove_all(dir);
    fs::remove_all(other);
    return 0;
}
