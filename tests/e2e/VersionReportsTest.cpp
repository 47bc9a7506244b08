#include "AgentFixture.h"
#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

class VersionReports : public AgentTest
{
protected:
    VersionReports() { folderWait = 0; }
};

} // namespace

TEST_F(VersionReports, SavingAMonitoredFileReportsItsVersion)
{
    const TMonItemRecord rec = Add(MakeFile("save/a.txt", "first"));
    Sync();
    mon.ClearReports();
    ReplaceFile(rec.Path.Get(), "second", 5);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1));
    const TMonItemRecord got = mon.ReportsOf(MsgVersion)[0].Record;
    EXPECT_EQ(got.Path.Get(), rec.Path.Get());
    EXPECT_EQ(got.FileID.Get(), rec.FileID.Get());
    EXPECT_EQ(got.VersionNum, 2);
    EXPECT_EQ(test::ReadFile(got.LastVersionPath.Get()), "second");
}

TEST_F(VersionReports, TwentyFilesSavedAtOnceGiveTwentyReportsEachWithItsOwnRecord)
{
    constexpr int kFiles = 20;
    const std::string folder = env.Work() + "many/";
    for (int i = 0; i < kFiles; ++i)
        test::WriteFile(folder + "f" + std::to_string(i) + ".txt", "start " + std::to_string(i));
    // A folder watched whole takes every file in it as a monitored item.
    Add(folder);
    ASSERT_TRUE(test::WaitUntil([&] { return mon.ReportsOf(MsgAdd).size() >= kFiles + 1; }))
        << mon.ReportsOf(MsgAdd).size() << " items announced";
    ASSERT_TRUE(mon.WaitReports(MsgVersion, kFiles));
    Sync();
    mon.ClearReports();

    for (int i = 0; i < kFiles; ++i) {
        const std::string path = folder + "f" + std::to_string(i) + ".txt";
        ReplaceFile(path, "saved " + std::to_string(i), 10);
    }
    ASSERT_TRUE(mon.WaitReports(MsgVersion, kFiles)) << mon.ReportsOf(MsgVersion).size() << " reports";
    std::map<std::string, TMonItemRecord> byPath;
    for (const auto& report : mon.ReportsOf(MsgVersion))
        byPath[report.Record.Path.Get()] = report.Record;
    ASSERT_EQ(byPath.size(), static_cast<std::size_t>(kFiles)) << "one report per file, none repeated";
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = folder + "f" + std::to_string(i) + ".txt";
        ASSERT_TRUE(byPath.count(path)) << path;
        const TMonItemRecord& r = byPath[path];
        EXPECT_EQ(r.VersionNum, 2) << path;
        EXPECT_EQ(test::ReadFile(r.LastVersionPath.Get()), "saved " + std::to_string(i)) << path;
    }
}
