// Versions a large file (default 256 MB) through the engine and copies the same file with
// `cp` in the same run, three rounds each, and prints the medians and their ratio (aim:
// the version within 1.2 times a plain `cp`). A version is durable (flushed to disk before
// it is named), a plain `cp` is not, so `cp` followed by `sync` of the copy is shown as
// well. Whether the file system shared the blocks (a reflink) is read from the free space.
//   bench_version_copy [FOLDER [MEGABYTES]]
#include "BenchHost.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"

#include <QStorageInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace morvane;
using namespace morvane::bench;
namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeShell(const std::string& command)
{
    const auto t = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Ms(Clock::now() - t);
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const fs::path dir =
        fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "morvane-bench-copy";
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 256;
    fs::remove_all(dir);
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "data");
    setenv("MORVANE_HOME", (dir / "home/").c_str(), 1);
    const std::string source = (dir / "data" / "big.bin").string();
    const std::string copy = (dir / "data" / "copy.bin").string();

    {
        std::ofstream out(source, std::ios::binary);
        std::vector<std::uint64_t> block((1 << 20) / 8);
        std::uint64_t x = 88172645463325252ull;
        for (long mb = 0; mb < megabytes; ++mb) {
            for (auto& w : block) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                w = x;
            }
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
    }
    const auto bytes = static_cast<double>(fs::file_size(source));

    SharedBlock block;
    InitBlock(block);
    BenchHost host;
    TRKMonItems items(&block, &host, (dir / "home/").string());
    block.Settings.BackupPath.Set(items.BackupRoot());
    items.SetActive(true);

    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set(source);
    const auto tFirst = Clock::now();
    std::shared_ptr<TRKMonItem> item = items.Add(record, "");
    const double firstMs = Ms(Clock::now() - tFirst);
    item->Start();

    std::vector<double> cpMs, cpSyncMs, versionMs;
    bool reflink = false;
    for (int round = 1; round <= 3; ++round) {
        fs::remove(copy);
        cpMs.push_back(TimeShell("cp " + Quote(source) + " " + Quote(copy)));
        fs::remove(copy);
        cpSyncMs.push_back(TimeShell("cp " + Quote(source) + " " + Quote(copy) + " && sync " + Quote(copy)));
        fs::remove(copy);

        // A save: a new date, so the version is due.
        fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(round * 10));
        const auto freeBefore = QStorageInfo(QString::fromStdString(dir.string())).bytesFree();
        const auto t = Clock::now();
        const bool made = static_cast<bool>(item->MakeVersion(true));
        versionMs.push_back(Ms(Clock::now() - t));
        const auto freeAfter = QStorageInfo(QString::fromStdString(dir.string())).bytesFree();
        if (!made)
            std::fprintf(stderr, "round %d: no version was made\n", round);
        item->AfterVersion(false);
        reflink = reflink || (freeBefore - freeAfter) < static_cast<qint64>(bytes / 10);
    }

    const double cp = Median(cpMs), cpSync = Median(cpSyncMs), version = Median(versionMs);
    std::printf("version copy: %.0f MB file on %s\n", bytes / 1048576.0,
                QStorageInfo(QString::fromStdString(dir.string())).fileSystemType().toStdString().c_str());
    std::printf("  adding the item (list, folder item):   %8.1f ms\n", firstMs);
    std::printf("  engine version (median of 3):          %8.1f ms  %6.0f MB/s\n", version,
                bytes / 1048576.0 / (version / 1000));
    std::printf("  cp (median of 3):                      %8.1f ms\n", cp);
    std::printf("  cp + sync of the copy (median of 3):   %8.1f ms\n", cpSync);
    std::printf("  ratio version / cp:        %.2f (aim <= 1.2)\n", version / cp);
    std::printf("  ratio version / cp + sync: %.2f\n", version / cpSync);
    std::printf("  reflink used: %s\n", reflink ? "yes" : "no (the file system copied the bytes)");
    fs::remove_all(dir);
    return 0;
}
