// Versions a large file (default 256 MB) through the engine and, in the same run, makes
// the same durable copy with `cp` followed by `sync` of the copy (which flushes that file
// to disk), and prints the medians and their ratio. The version with the content
// comparison on is timed too (aim: within 1.05 times a plain version): on a file whose
// first byte changed (the comparison stops there), on one whose last byte changed (the
// whole file and its last version are read before the version is made) and on an equal
// file (no version). The equal file is also timed against `cmp -s` of the file and its
// last version (aim: within 1.2 times cmp). The disk settles before every step, and the
// steps run forward in one round and backward in the next (six rounds, or
// MORVANE_BENCH_ROUNDS), so no step is charged with the write-back of the one before.
// Whether the file system shared the blocks (a reflink) is read from the free space at
// the first version, before any pruning.
//   bench_version_copy [FOLDER [MEGABYTES]]
#include "BenchHost.h"
#include "BenchRounds.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"

#include <QStorageInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace morvane;
using namespace morvane::bench;
namespace fs = std::filesystem;

namespace {

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
    // No pruning: a version and a cp + sync do the same work (about 5 GB stay until the end).
    record.DelMode = dmNumber;
    record.DelModeNumber = 100;
    const auto tFirst = Clock::now();
    std::shared_ptr<TRKMonItem> item = items.Add(record, "");
    const double firstMs = Ms(Clock::now() - tFirst);
    item->Start();

    // A save: a new date, and the byte at (from the start, or from the end when negative)
    // changed; no byte changed when at is 0.
    int saves = 0;
    auto save = [&](long at) {
        if (at != 0) {
            std::fstream f(source, std::ios::in | std::ios::out | std::ios::binary);
            const auto where = at > 0 ? std::ios::beg : std::ios::end;
            const long offset = at > 0 ? at - 1 : at;
            f.seekg(offset, where);
            const char c = static_cast<char>(f.get() ^ 1);
            f.seekp(offset, where);
            f.put(c);
        }
        fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(++saves * 10));
    };
    auto version = [&](bool compare, VersionOutcome expected) {
        item->UpdateData([compare](TMonItemRecord& r) { r.MonModeCompare = compare; });
        const auto t = Clock::now();
        const VersionResult result = item->MakeVersion(false);
        const double ms = Ms(Clock::now() - t);
        if (result.Outcome != expected)
            std::fprintf(stderr, "expected %s, got %s\n", OutcomeName(expected), OutcomeName(result.Outcome));
        if (result)
            item->AfterVersion(false);
        return ms;
    };

    // The first version has no last version to compare with.
    save(-1);
    const auto freeBefore = QStorageInfo(QString::fromStdString(dir.string())).bytesFree();
    version(false, VersionOutcome::Made);
    const auto freeAfter = QStorageInfo(QString::fromStdString(dir.string())).bytesFree();
    const bool reflink = (freeBefore - freeAfter) < static_cast<qint64>(bytes / 10);

    // Every step leaves dirty pages and a journal to write back; a step timed right after
    // another would pay for them. So the disk settles before each step (the file system
    // flushed, then a rest), and the order of the steps alternates from round to round, so
    // that whatever is left falls on each step alike.
    auto settle = [&] {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
        QThread::msleep(200);
    };
    enum Step
    {
        Cp,
        CpSync,
        Plain,
        First,
        Last,
        Equal,
        Cmp,
        kSteps
    };
    std::vector<double> times[kSteps];
    auto run = [&](Step step) {
        fs::remove(copy);
        // Each save is followed at once by its version: between steps the file always
        // holds the bytes of its last version.
        if (step == Plain || step == Last)
            save(-1);
        else if (step == First)
            save(1);
        else if (step == Equal)
            save(0);
        settle();
        double ms = 0;
        switch (step) {
        case Cp:
            ms = TimeShell("cp " + Quote(source) + " " + Quote(copy));
            break;
        case CpSync:
            ms = TimeShell("cp " + Quote(source) + " " + Quote(copy) + " && sync " + Quote(copy));
            break;
        case Plain:
            ms = version(false, VersionOutcome::Made);
            break;
        case First:
        case Last:
            ms = version(true, VersionOutcome::Made);
            break;
        case Equal:
            ms = version(true, VersionOutcome::Unchanged);
            break;
        case Cmp:
            ms = TimeShell("cmp -s " + Quote(source) + " " + Quote(item->LastVersionPath()));
            break;
        default:
            break;
        }
        times[step].push_back(ms);
    };
    const int rounds = Rounds(6);
    PrintLoad("before");
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < kSteps; ++i)
            run(static_cast<Step>(round % 2 == 0 ? i : kSteps - 1 - i));
        std::printf(
            "  round %d (%s): cp %.0f, cp + sync %.0f, version %.0f, first %.0f, last %.0f, equal %.0f, "
            "cmp %.0f ms\n",
            round + 1, round % 2 == 0 ? "forward" : "reversed", times[Cp].back(), times[CpSync].back(),
            times[Plain].back(), times[First].back(), times[Last].back(), times[Equal].back(),
            times[Cmp].back());
        std::fflush(stdout);
    }
    PrintLoad("after");
    fs::remove(copy);
    items.FlushList();

    const double cp = Median(times[Cp]), cpSync = Median(times[CpSync]), plain = Median(times[Plain]),
                 first = Median(times[First]), last = Median(times[Last]), equal = Median(times[Equal]),
                 cmp = Median(times[Cmp]);
    auto rate = [&](double ms) {
        return bytes / 1048576.0 / (ms / 1000);
    };
    std::printf("version copy: %.0f MB file on %s, medians of %d rounds\n", bytes / 1048576.0,
                QStorageInfo(QString::fromStdString(dir.string())).fileSystemType().toStdString().c_str(),
                rounds);
    std::printf("  adding the item (list, folder item):       %8.1f ms\n", firstMs);
    std::printf("  cp + sync of the copy (reference):         %8.1f ms  %6.0f MB/s\n", cpSync, rate(cpSync));
    std::printf("  engine version:                            %8.1f ms  %6.0f MB/s\n", plain, rate(plain));
    std::printf("  compared, first byte differs (version):    %8.1f ms\n", first);
    std::printf("  compared, last byte differs (version):     %8.1f ms\n", last);
    std::printf("  compared, equal (no version made):         %8.1f ms\n", equal);
    std::printf("  cmp -s of the file and its last version:   %8.1f ms  %6.2f s/GB\n", cmp,
                cmp / 1000 / (bytes / 1073741824.0));
    std::printf("  compared, equal, per GB:                              %6.2f s/GB\n",
                equal / 1000 / (bytes / 1073741824.0));
    std::printf("  cp alone, not durable (for reference):     %8.1f ms\n", cp);
    std::printf("  ratio version / (cp + sync):          %.2f\n", plain / cpSync);
    std::printf("  ratio compared / version, first byte: %.2f (aim <= 1.05)\n", first / plain);
    std::printf("  ratio compared / version, last byte:  %.2f (aim <= 1.05)\n", last / plain);
    std::printf("  ratio compared / version, equal:      %.2f (aim <= 1.05)\n", equal / plain);
    std::printf("  ratio compared, equal / cmp -s:       %.2f (aim <= 1.2)\n", equal / cmp);
    std::printf("  reflink used: %s\n", reflink ? "yes" : "no (the file system copied the bytes)");
    fs::remove_all(dir);
    return 0;
}
