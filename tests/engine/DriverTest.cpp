#include "common/TestSupport.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"

#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace morvane;
using morvane::test::ReadFile;
using morvane::test::WaitUntil;
using morvane::test::WriteFile;
namespace fs = std::filesystem;

namespace {

// Runs the engine's console driver as a child process and reads its output lines.
class DriverTest : public ::testing::Test
{
protected:
    ~DriverTest() override
    {
        if (driver.state() != QProcess::NotRunning) {
            driver.kill();
            driver.waitForFinished(10000);
        }
    }

    void WriteList(const std::string& text) { WriteFile(list, text); }

    // A monitored folder watched whole, settling at once.
    std::string WatchedFolderSection(const std::string& folder)
    {
        return "[" + folder +
               "]\nFileID=100\nIsFolder=1\nIsSaved=1\nMonitored=1\nMonStatus=1\nIsWholeFolder=1\nFolderWait="
               "0\n";
    }

    void StartActive()
    {
        driver.setProcessChannelMode(QProcess::SeparateChannels);
        driver.start(QString::fromStdString(std::string(MORVANE_BIN) + "/mvdriver"),
                     {"--active", "--home", QString::fromStdString(env.Home()), "--list",
                      QString::fromStdString(list), "--exit-after", "120"});
        ASSERT_TRUE(driver.waitForStarted(10000));
        ASSERT_TRUE(WaitForLine("READY").has_value()) << driver.readAllStandardError().toStdString();
    }

    // Passive run to its end; its standard output.
    std::string RunPassive(int* exitCode)
    {
        QProcess p;
        p.start(QString::fromStdString(std::string(MORVANE_BIN) + "/mvdriver"),
                {"--passive", "--home", QString::fromStdString(env.Home()), "--list",
                 QString::fromStdString(list)});
        EXPECT_TRUE(p.waitForFinished(30000));
        *exitCode = p.exitCode();
        return p.readAllStandardOutput().toStdString();
    }

    // The first output line starting with prefix (the rest of it), reading as needed.
    std::optional<std::string> WaitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::optional<std::string> found;
        WaitUntil(
            [&] {
                while (driver.canReadLine()) {
                    const std::string line = driver.readLine().trimmed().toStdString();
                    if (line.rfind(prefix, 0) == 0) {
                        found = line.substr(std::min(line.size(), prefix.size() + 1));
                        return true;
                    }
                }
                return driver.state() == QProcess::NotRunning;
            },
            timeout);
        return found;
    }

    // Every version file under the backup root, temporary leftovers left out.
    std::vector<std::string> VersionFiles()
    {
        std::vector<std::string> out;
        const std::string root = env.Home() + "backup/";
        for (const DirEntry& item : ListDir(root)) {
            if (!item.IsDir)
                continue;
            for (const DirEntry& v : ListDir(root + item.Name + "/"))
                for (const DirEntry& f : ListDir(root + item.Name + "/" + v.Name + "/"))
                    if (f.IsRegular)
                        out.push_back(root + item.Name + "/" + v.Name + "/" + f.Name);
        }
        return out;
    }

    // A copy under way: a staging folder being written, or a version folder still
    // without its file (the copy's bytes go to an unnamed file there).
    bool AnyLeftoverBeingWritten()
    {
        const std::string root = env.Home() + "backup/";
        for (const DirEntry& item : ListDir(root))
            for (const DirEntry& v : ListDir(root + item.Name + "/")) {
                const std::vector<DirEntry> inside = ListDir(root + item.Name + "/" + v.Name + "/");
                if (v.IsDir && inside.empty())
                    return true;
                for (const DirEntry& f : inside)
                    if (IsCopyLeftover(root + item.Name + "/" + v.Name, f.Name))
                        return true;
            }
        return false;
    }

    test::TestEnv env;
    std::string list = env.Home() + "mvlist.srv";
    std::string folder = env.Work() + "docs/";
    QProcess driver;
};

} // namespace

TEST_F(DriverTest, PassivePrintsTheItemsAndWritesNothing)
{
    fs::create_directories(folder);
    WriteList("[_Default settings]\nFolderWait=5\n" + WatchedFolderSection(folder) + "[" + folder +
              "a.txt]\nFileID=200\nIsSaved=1\nMonitored=1\nMonStatus=1\nVersionNum=7\n"
              "[relative/path.txt]\nFileID=300\nIsSaved=1\n");
    const std::string before = ReadFile(list);
    int rc = -1;
    const std::string out = RunPassive(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find(folder + "a.txt\t200\tActive\t7\n"), std::string::npos) << out;
    EXPECT_NE(out.find(folder + "\t100\t"), std::string::npos) << out;
    EXPECT_EQ(out.find("relative/path.txt"), std::string::npos) << "a section that is no path is skipped";
    EXPECT_EQ(ReadFile(list), before) << "the passive engine writes no list";
}

TEST_F(DriverTest, ActivePrintsEveryVersionItMakes)
{
    fs::create_directories(folder);
    WriteList(WatchedFolderSection(folder));
    StartActive();
    WriteFile(env.Work() + "staged.txt", "saved text");
    fs::rename(env.Work() + "staged.txt", folder + "letter.txt");
    const auto path = WaitForLine("VERSION");
    ASSERT_TRUE(path.has_value()) << driver.readAllStandardError().toStdString();
    EXPECT_EQ(ReadFile(*path), "saved text") << *path;
    EXPECT_EQ(fs::path(*path).filename(), "letter.txt");
}

TEST_F(DriverTest, KilledWhileCopyingLeavesNoPartialVersionAndAReadableList)
{
    // A file large enough that its copy takes a while; each megabyte differs.
    const std::string staged = env.Work() + "big.bin";
    {
        std::ofstream out(staged, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int mb = 0; mb < 160; ++mb) {
            for (std::size_t i = 0; i < block.size(); i += 4096)
                block[i] = static_cast<char>(mb + i / 4096);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    fs::create_directories(folder);
    WriteList(WatchedFolderSection(folder));
    StartActive();
    const std::string source = folder + "big.bin";
    fs::rename(staged, source);

    // Kill the agent the moment a copy is under way (or once the version is there, on a
    // file system that copies by reference in no time).
    const bool sawCopy = WaitUntil([&] { return AnyLeftoverBeingWritten() || !VersionFiles().empty(); },
                                   std::chrono::seconds(60)) &&
                         VersionFiles().empty();
    driver.kill();
    ASSERT_TRUE(driver.waitForFinished(10000));
    if (!sawCopy)
        std::cerr << "note: the copy finished before it could be interrupted" << std::endl;

    for (const std::string& version : VersionFiles())
        EXPECT_EQ(FilesEqual(version, source), std::optional<bool>(true)) << version << " is not whole";

    // The list survived: a passive run reads it, and a new active run versions the file
    // whole despite what the killed one left behind.
    int rc = -1;
    const std::string out = RunPassive(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find(folder + "\t100\t"), std::string::npos) << out;

    StartActive();
    if (VersionFiles().empty()) {
        const auto path = WaitForLine("VERSION", std::chrono::seconds(120));
        ASSERT_TRUE(path.has_value()) << driver.readAllStandardError().toStdString();
    }
    ASSERT_FALSE(VersionFiles().empty());
    for (const std::string& version : VersionFiles())
        EXPECT_EQ(FilesEqual(version, source), std::optional<bool>(true)) << version;
}

TEST_F(DriverTest, KilledAfterABurstKeepsTheListAndEveryVersion)
{
    constexpr int kFiles = 30;
    constexpr int kSaved = 10;
    fs::create_directories(folder);
    auto path = [&](int i) {
        return folder + "f" + std::to_string(i) + ".txt";
    };
    for (int i = 0; i < kFiles; ++i)
        WriteFile(path(i), "first " + std::to_string(i));
    WriteList("[_Default settings]\nFolderWait=0\nDelModeNumber=100\n" + WatchedFolderSection(folder));
    StartActive();
    ASSERT_TRUE(WaitUntil([&] { return VersionFiles().size() == kFiles; }, std::chrono::seconds(60)))
        << VersionFiles().size();

    // A burst of saves, then a crash once the list has had its second to catch up.
    for (int i = 0; i < kSaved; ++i) {
        const std::string staged = env.Work() + "staged.txt";
        WriteFile(staged, "second " + std::to_string(i));
        fs::last_write_time(staged, fs::last_write_time(path(i)) + std::chrono::seconds(10));
        fs::rename(staged, path(i));
    }
    ASSERT_TRUE(
        WaitUntil([&] { return VersionFiles().size() == kFiles + kSaved; }, std::chrono::seconds(60)));
    const bool listCaughtUp = WaitUntil(
        [&] {
            IniFile::ClearCache();
            IniFile stored(list);
            for (int i = 0; i < kSaved; ++i)
                if (stored.ReadInteger(path(i), "VersionNum", 0) != 2)
                    return false;
            return true;
        },
        std::chrono::seconds(5));
    driver.kill();
    ASSERT_TRUE(driver.waitForFinished(10000));
    EXPECT_TRUE(listCaughtUp) << "the list holds the burst soon after it";

    int rc = -1;
    const std::string out = RunPassive(&rc);
    EXPECT_EQ(rc, 0);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_NE(out.find(path(i) + "\t"), std::string::npos) << path(i) << " is missing from the list";
    for (int i = 0; i < kSaved; ++i) {
        const std::size_t at = out.find(path(i) + "\t");
        ASSERT_NE(at, std::string::npos);
        const std::string line = out.substr(at, out.find('\n', at) - at);
        EXPECT_EQ(line.substr(line.rfind('\t') + 1), "2") << line;
    }
    EXPECT_EQ(VersionFiles().size(), static_cast<std::size_t>(kFiles + kSaved));

    // A restart goes on from there: a new save is a new version, and none is overwritten.
    StartActive();
    const std::string staged = env.Work() + "staged.txt";
    WriteFile(staged, "third");
    fs::last_write_time(staged, fs::last_write_time(path(0)) + std::chrono::seconds(10));
    fs::rename(staged, path(0));
    ASSERT_TRUE(
        WaitUntil([&] { return VersionFiles().size() == kFiles + kSaved + 1; }, std::chrono::seconds(60)));
    std::vector<std::string> texts;
    for (const std::string& v : VersionFiles())
        if (fs::path(v).filename() == "f0.txt")
            texts.push_back(ReadFile(v));
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"first 0", "second 0", "third"}));
}
