#include "support/PellaryDefs.h"

#include "common/TestSupport.h"
#include "platform/OleDate.h"

#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

using namespace morvane;
using morvane::test::WriteFile;

namespace {

class VersionListing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings = SharedSettings{};
        settings.BackupPath.Set(backup);
        settings.DateFormat.Set("yyyy-mm-dd hh:nn:ss");
        item = EmptyItemRecord();
        item.FileID.Set("261208042");
    }

    // A version file dated 8 December 2026 14:05:09 local time.
    std::string AddVersion(const std::string& folder, const std::string& name)
    {
        const std::string path = backup + "261208042/" + folder + "/" + name;
        WriteFile(path, "content of " + name);
        struct tm t = {};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 11;
        t.tm_mday = 8;
        t.tm_hour = 14;
        t.tm_min = 5;
        t.tm_sec = 9;
        t.tm_isdst = -1;
        const time_t when = mktime(&t);
        struct utimbuf times = {when, when};
        utime(path.c_str(), &times);
        return path;
    }

    static std::string Value(const std::string& line) { return line.substr(line.find('=') + 1); }
    static std::string Label(const std::string& line) { return line.substr(0, line.find('=')); }

    test::TestEnv env;
    std::string backup = env.Work() + "backup/";
    SharedSettings settings;
    TMonItemRecord item;
};

} // namespace

TEST_F(VersionListing, VersionFoldersComeInNumericOrderAndOnlyAllDigitNamesCount)
{
    const std::string v1000 = AddVersion("1000", "a.txt");
    const std::string v999 = AddVersion("999", "a.txt");
    const std::string v001 = AddVersion("001", "a.txt");
    AddVersion("old", "a.txt");
    AddVersion("12a", "a.txt");
    WriteFile(backup + "261208042/5", "a plain file where a version folder would be");

    std::vector<std::string> lines{"stale line"};
    ASSERT_TRUE(ListItemVersions(settings, item, lines));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "=\"" + v001 + "\"");
    EXPECT_EQ(lines[1], "=\"" + v999 + "\"");
    EXPECT_EQ(lines[2], "=\"" + v1000 + "\"");
}

TEST_F(VersionListing, OnlyFinishedRegularFilesAreListed)
{
    const std::string good = AddVersion("001", "a.txt");
    // A user's file may be named like a temporary file: its versions are listed.
    const std::string dotted = AddVersion("002", ".notes.Ab3xYz.part");
    WriteFile(backup + "261208042/001/.a.txt.x1y2Z3.part/a.txt", "half a copy left by a crash");
    ASSERT_EQ(mkfifo((backup + "261208042/001/pipe").c_str(), 0600), 0);
    std::filesystem::create_directories(backup + "261208042/001/sub");

    std::vector<std::string> lines;
    ASSERT_TRUE(ListItemVersions(settings, item, lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Value(lines[0]), "\"" + good + "\"");
    EXPECT_EQ(Value(lines[1]), "\"" + dotted + "\"");
}

struct LabelCase
{
    bool ShowDate;
    bool ShowFileName;
    const char* Label;
};
void PrintTo(const LabelCase& c, std::ostream* os)
{
    *os << (c.ShowDate ? "date" : "") << (c.ShowFileName ? "+name" : "");
}

class VersionLabels : public VersionListing, public ::testing::WithParamInterface<LabelCase>
{
};

TEST_P(VersionLabels, LabelFollowsTheDisplaySettings)
{
    const std::string path = AddVersion("001", "report(v 1).doc");
    settings.ShowDate = GetParam().ShowDate;
    settings.ShowFileName = GetParam().ShowFileName;
    std::vector<std::string> lines;
    ASSERT_TRUE(ListItemVersions(settings, item, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(GetParam().Label) + "=\"" + path + "\"");
}

INSTANTIATE_TEST_SUITE_P(All, VersionLabels,
                         ::testing::Values(LabelCase{false, false, ""},
                                           LabelCase{true, false, "2026-12-08 14:05:09"},
                                           LabelCase{false, true, "report(v 1).doc"},
                                           LabelCase{true, true, "2026-12-08 14:05:09 | report(v 1).doc"}),
                         test::RowNamesBy(&LabelCase::ShowDate, &LabelCase::ShowFileName));

TEST_F(VersionListing, CustomProgramStandsBeforeTheQuotedPath)
{
    const std::string path = AddVersion("001", "a.txt");
    item.ExecuterMode = emCustom;
    item.Executer.Set("/usr/bin/my viewer");
    std::vector<std::string> lines;
    ASSERT_TRUE(ListItemVersions(settings, item, lines));
    EXPECT_EQ(Value(lines.at(0)), "/usr/bin/my viewer \"" + path + "\"");
}

TEST_F(VersionListing, EqualsSignInAFileNameDoesNotMoveTheSplit)
{
    const std::string path = AddVersion("001", "x=1;y=2.cfg");
    settings.ShowFileName = true;
    settings.DateFormat.Set("'a=b' yyyy"); // a literal "=" from the date format too
    settings.ShowDate = true;
    std::vector<std::string> lines;
    ASSERT_TRUE(ListItemVersions(settings, item, lines));
    ASSERT_EQ(lines.size(), 1u);
    // Whoever opens the version splits at the first "=" and must get the real file.
    const std::string value = Value(lines[0]);
    ASSERT_EQ(value, "\"" + path + "\"");
    EXPECT_TRUE(std::filesystem::exists(value.substr(1, value.size() - 2)));
    EXPECT_EQ(Label(lines[0]).find('='), std::string::npos);
    EXPECT_NE(Label(lines[0]).find("x\xEF\xBC\x9D"
                                   "1;y"),
              std::string::npos)
        << lines[0];
}

TEST_F(VersionListing, NothingToListGivesFalseAndEmptyLines)
{
    std::vector<std::string> lines{"stale"};
    EXPECT_FALSE(ListItemVersions(settings, item, lines)) << "missing item backup folder";
    EXPECT_TRUE(lines.empty());

    std::filesystem::create_directories(backup + "261208042/001");
    EXPECT_FALSE(ListItemVersions(settings, item, lines)) << "a version folder without files";
    EXPECT_TRUE(lines.empty());
}

TEST_F(VersionListing, FileIdThatIsNoPlainFolderNameListsNothing)
{
    // ".." would list the backup root itself, whose numbered folders are not this item's.
    AddVersion("001", "a.txt");
    std::filesystem::create_directories(backup + "007/001");
    WriteFile(backup + "007/001/other.txt", "x");
    for (const char* id : {"..", "261208042/..", "", "/etc"}) {
        item.FileID.Set(id);
        std::vector<std::string> lines;
        EXPECT_FALSE(ListItemVersions(settings, item, lines)) << id;
        EXPECT_TRUE(lines.empty()) << id;
    }
}

class AgentPresence : public ::testing::Test
{
protected:
    ~AgentPresence() override
    {
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished(5000);
        }
    }
    void StartHolder()
    {
        holder.start(QString::fromStdString(test::HelperPath("FakeAgentHolder")), {});
        ASSERT_TRUE(holder.waitForStarted(5000));
        ASSERT_TRUE(test::WaitUntil([&] { return holder.canReadLine() || holder.waitForReadyRead(10); }));
        ASSERT_EQ(holder.readLine().trimmed(), "ready");
    }

    test::TestEnv env;
    QProcess holder;
};

TEST_F(AgentPresence, NoAgentLeavesNoMappingBehind)
{
    EXPECT_FALSE(IsAgentRunning().has_value());
    EXPECT_FALSE(std::filesystem::exists(env.Runtime() + std::string(kSharedBlockName) + ".shm"));
    EXPECT_FALSE(IsAgentRunning().has_value()) << "asking twice must not find its own leftovers";
}

TEST_F(AgentPresence, LiveAgentIsFoundAndAKilledOneIsNot)
{
    StartHolder();
    {
        auto block = IsAgentRunning();
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ((*block)->AgentWnd, 0x1234u) << "the caller sees the agent's own block";
    }
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_FALSE(IsAgentRunning().has_value()) << "a crashed agent must not look alive";
}

TEST_F(AgentPresence, MonitorsOwnHoldDoesNotKeepADeadAgentAlive)
{
    StartHolder();
    auto block = IsAgentRunning();
    ASSERT_TRUE(block.has_value());
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    // We still hold the mapping ourselves, but nobody holds the agent's mutex.
    EXPECT_FALSE(IsAgentRunning().has_value());
}
