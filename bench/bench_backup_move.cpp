// Moves a backup folder of 2,000 versions of 1 MB (200 items of 10 versions) to another
// file system the way the move dialog does, and moves the same tree with the durable
// reference `cp -a`, `sync -f` (a flush of the destination's file system) and `rm -r`;
// five alternating rounds each, medians and their ratio printed next to the aim (1.3).
// The other file system: run as root, an ext4 image the bench makes and loop-mounts (both
// sides on the disk); else /dev/shm where it is one; else the copy road forced on one.
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
#include <string>
#include <unistd.h>
#include <vector>

using namespace morvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVersionsPerItem = 10;
constexpr int kRounds = 5;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

bool Run(const std::string& command)
{
    if (std::system(command.c_str()) == 0)
        return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// Folders of kVersionsPerItem version folders, each with one 1 MB file; flushed, so the
// writing of the tree is not part of what is timed next.
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
    Run("sync -f " + Quoted(root));
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
    const int versions = argc > 2 ? std::atoi(argv[2]) : 2000;
    fs::remove_all(dir);
    fs::create_directories(dir / "home");

    // The other file system.
    fs::path other = dir / "other";
    std::string where;
    bool mounted = false;
    if (::geteuid() == 0) {
        fs::create_directories(other);
        const fs::path image = dir / "other.img";
        const long long megabytes = versions + versions / 4 + 256;
        mounted = Run("truncate -s " + std::to_string(megabytes) + "M " + Quoted(image)) &&
                  Run("mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 " + Quoted(image)) &&
                  Run("mount -o loop " + Quoted(image) + " " + Quoted(other));
        if (mounted)
            where = "disk (ext4) to a loop-mounted ext4 image on the same disk";
    }
    if (!mounted) {
        const fs::path shm = "/dev/shm/morvane-bench-move-" + std::to_string(::getpid());
        if (fs::is_directory("/dev/shm") && !SameFileSystem("/dev/shm", dir.string())) {
            other = shm;
            where = "disk to /dev/shm (tmpfs: flushes cost nothing there)";
        } else {
            TkitFileOperation::SetForceCopy(true);
            where = "copy road forced on one file system";
        }
        fs::create_directories(other);
    }

    std::vector<double> moveMs, cpMs;
    for (int round = 1; round <= kRounds; ++round) {
        // The reference: copy, flush the destination's file system, remove the source.
        fs::remove_all(other / "backup");
        MakeTree(dir / "backup", versions);
        auto t = Clock::now();
        Run("cp -a " + Quoted(dir / "backup") + " " + Quoted(other / "backup") + " && sync -f " +
            Quoted(other / "backup") + " && rm -r " + Quoted(dir / "backup"));
        cpMs.push_back(Ms(Clock::now() - t));

        fs::remove_all(other / "backup");
        monitor::BackupMovePlan plan;
        plan.OldRoot = (dir / "backup").string() + "/";
        plan.NewRoot = (other / "backup").string() + "/";
        plan.SettingsFile = (dir / "home" / "kelvrim.ini").string();
        for (const std::string& id : MakeTree(dir / "backup", versions))
            plan.Items.push_back({id, "/data/" + id + ".doc"});
        monitor::BackupMoveControl control;
        control.Silent = true;
        t = Clock::now();
        const monitor::BackupMoveResult r = monitor::BackupMove::Run(plan, control);
        moveMs.push_back(Ms(Clock::now() - t));
        std::printf("  round %d: move %.0f ms, reference %.0f ms\n", round, moveMs.back(), cpMs.back());
        std::fflush(stdout);
        if (r.Outcome != monitor::BackupMoveResult::Done)
            std::fprintf(stderr, "round %d: %s\n", round, r.Text.c_str());
        fs::remove_all(dir / "backup");
        fs::remove(plan.SettingsFile);
    }
    const double move = Median(moveMs), cp = Median(cpMs);
    std::printf("backup folder move: %d versions of 1 MB, %s\n", versions, where.c_str());
    std::printf("  move (median of %d):                      %8.1f ms  %6.0f MB/s\n", kRounds, move,
                versions / (move / 1000));
    std::printf("  cp -a + sync -f + rm -r (median of %d):   %8.1f ms\n", kRounds, cp);
    std::printf("  ratio move / durable reference: %.2f (aim <= 1.3)\n", move / cp);
    std::fflush(stdout);
    std::error_code ec;
    fs::remove_all(other / "backup", ec);
    if (mounted && !Run("umount " + Quoted(other)))
        Run("umount -l " + Quoted(other));
    fs::remove_all(dir, ec);
    if (!mounted)
        fs::remove_all(other, ec);
    return 0;
}
