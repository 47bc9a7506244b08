#include "monitor/BackupMove.h"

#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "support/components/MessageBoxes.h"
#include "support/components/TkitFileOperation.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace morvane;
using namespace morvane::monitor;
namespace fs = std::filesystem;

namespace {

class BackupMoveTest : public ::testing::Test
{
public:
    test::TestEnv env;
    std::string oldRoot = env.Home() + "backup/";
    std::string newRoot = env.Work() + "newbackup/";
    std::string settings = env.Home() + "kelvrim.ini";
    BackupMoveControl op;
    BackupMovePlan plan;
    int holds = 0, releases = 0;

    void SetUp() override
    {
        MessageBoxes::Reset();
        plan.OldRoot = oldRoot;
        plan.NewRoot = newRoot;
        plan.SettingsFile = settings;
        plan.Hold = [this] {
            ++holds;
            return true;
        };
        plan.Release = [this] {
            ++releases;
        };
        // Three items with versions, one without any yet.
        for (const char* id : {"2401011", "2401012", "2401013"}) {
            test::WriteFile(oldRoot + id + "/001/a.txt", std::string("v1 of ") + id);
            test::WriteFile(oldRoot + id + "/002/a.txt", std::string("v2 of ") + id);
            plan.Items.push_back({id, env.Work() + "files/" + id + ".txt"});
        }
        plan.Items.push_back({"2401014", env.Work() + "files/new.txt"});
        test::WriteFile(oldRoot + "files.lst", "[Files]\n2401011=" + plan.Items[0].Path + "\n");
        plan.WatchedFolders.push_back(env.Work() + "files/");
    }
    void TearDown() override
    {
        TkitFileOperation::SetForceCopy(false);
        MessageBoxes::Reset();
    }
    std::string SettingNow()
    {
        IniFile::ClearCache();
        return IniFile(settings).ReadString("Basic", "BackupPath", "");
    }
    // Every version is in exactly one of the two folders.
    void ExpectEachVersionOnce()
    {
        for (const char* id : {"2401011", "2401012", "2401013"}) {
            for (const char* v : {"/001/a.txt", "/002/a.txt"}) {
                const bool inOld = fs::exists(oldRoot + id + v), inNew = fs::exists(newRoot + id + v);
                EXPECT_NE(inOld, inNew) << id << v;
            }
        }
    }
};

} // namespace

TEST_F(BackupMoveTest, MovesEveryItemAndTheIndexThenNamesTheNewFolder)
{
    TkitFileOperation::SetForceCopy(true);
    const BackupMoveResult r = BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, BackupMoveResult::Done) << r.Text;
    EXPECT_EQ(r.Moved, 3);
    EXPECT_EQ(r.WithoutVersions, 1);
    EXPECT_EQ(test::ReadFile(newRoot + "2401013/002/a.txt"), "v2 of 2401013");
    EXPECT_FALSE(fs::exists(oldRoot + "2401011"));
    EXPECT_FALSE(fs::exists(oldRoot + "files.lst"));
    IniFile index(newRoot + "files.lst");
    for (const BackupItem& item : plan.Items)
        EXPECT_EQ(index.ReadString("Files", item.FileID, ""), item.Path);
    EXPECT_EQ(SettingNow(), newRoot);
    EXPECT_FALSE(fs::exists(newRoot + BackupMove::kNoteName));
    EXPECT_EQ(holds, 1);
    EXPECT_EQ(releases, 1);
}

// A destination that cannot take the versions is refused before anything changes: the
// agent is not even held.
struct RefusalCase
{
    const char* Name;
    const char* Destination; // relative to the test's work folder unless absolute, "@old" for the old root
    const char* Expect;      // part of the reason
};

class RefusalTest : public BackupMoveTest, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(RefusalTest, ChangesNothing)
{
    const RefusalCase& c = GetParam();
    test::WriteFile(env.Work() + "a-file", "x");
    const std::string d = c.Destination;
    plan.NewRoot = d.rfind("@old", 0) == 0 ? oldRoot + d.substr(4) : d.front() == '/' ? d : env.Work() + d;
    const BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Refused);
    EXPECT_NE(r.Text.find(c.Expect), std::string::npos) << r.Text;
    EXPECT_EQ(holds, 0);
    EXPECT_EQ(SettingNow(), "");
    EXPECT_EQ(test::ReadFile(oldRoot + "2401012/001/a.txt"), "v1 of 2401012");
    EXPECT_FALSE(fs::exists(env.Work() + "files/sub"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalTest,
    ::testing::Values(RefusalCase{"AFile", "a-file", "is a file"},
                      RefusalCase{"TheOldFolder", "@old", "in use already"},
                      RefusalCase{"InsideTheOldFolder", "@oldinner/", "inside the backup"},
                      RefusalCase{"InsideAWatchedFolder", "files/sub/", "watched folder"},
                      // No file can be made there, not even by root; nor a file without a name.
                      RefusalCase{"NotWritable", "/proc/", "cannot be written to"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BackupMoveTest, AFolderOfAnItemsNameThatTheMoveDidNotMakeIsLeftAlone)
{
    test::WriteFile(newRoot + "2401012/001/a.txt", "somebody else's");
    const BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Failed);
    EXPECT_NE(r.Text.find(newRoot + "2401012"), std::string::npos) << r.Text;
    EXPECT_EQ(test::ReadFile(newRoot + "2401012/001/a.txt"), "somebody else's");
    EXPECT_EQ(test::ReadFile(oldRoot + "2401012/001/a.txt"), "v1 of 2401012");
    EXPECT_EQ(SettingNow(), "");
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(r.Moved, 2); // the others moved
    EXPECT_EQ(test::ReadFile(newRoot + "2401013/002/a.txt"), "v2 of 2401013");
}

TEST_F(BackupMoveTest, CancelThenRunAgainFinishes)
{
    TkitFileOperation::SetForceCopy(true);
    op.SetAfterFileHook([this](int done) {
        if (done == 3)
            op.Cancel();
    });
    BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Cancelled);
    EXPECT_GT(r.BroughtBack, 0) << r.Text;
    EXPECT_EQ(SettingNow(), "");
    EXPECT_TRUE(fs::exists(oldRoot + "files.lst"));
    ExpectEachVersionOnce();
    // The cancel moved back what had moved: the old folder holds everything again.
    for (const char* id : {"2401011", "2401012", "2401013"})
        EXPECT_FALSE(fs::exists(newRoot + id)) << id;
    EXPECT_EQ(releases, 1);

    // Meanwhile the agent made another version of a half-moved item in the old folder.
    test::WriteFile(oldRoot + "2401012/003/a.txt", "v3 of 2401012");
    op.SetAfterFileHook({});
    r = BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, BackupMoveResult::Done) << r.Text;
    EXPECT_EQ(test::ReadFile(newRoot + "2401012/003/a.txt"), "v3 of 2401012");
    EXPECT_EQ(SettingNow(), newRoot);
    for (const char* id : {"2401011", "2401012", "2401013"})
        EXPECT_FALSE(fs::exists(oldRoot + id)) << id;
}

TEST_F(BackupMoveTest, AVersionFileThatVanishesDuringTheMoveDoesNotStopIt)
{
    TkitFileOperation::SetForceCopy(true);
    op.SetAfterFileHook([this](int done) {
        if (done == 1)
            fs::remove(oldRoot + "2401013/002/a.txt");
    });
    const BackupMoveResult r = BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, BackupMoveResult::Done) << r.Text;
    EXPECT_EQ(test::ReadFile(newRoot + "2401013/001/a.txt"), "v1 of 2401013");
}

// The backup index at either end: a damaged one is kept aside, another program's is
// never written over.
TEST_F(BackupMoveTest, BackupIndexIsKeptAndCompleted)
{
    test::WriteFile(oldRoot + "files.lst", std::string("\x01\x02garbage without sections\n", 27));
    BackupMoveResult r = BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, BackupMoveResult::Done) << r.Text;
    EXPECT_NE(r.Text.find("could not be read"), std::string::npos) << r.Text;
    EXPECT_EQ(test::ReadFile(newRoot + "files.lst.damaged").substr(2, 7), "garbage");
    EXPECT_EQ(IniFile(newRoot + "files.lst").ReadString("Files", "2401013", ""), plan.Items[2].Path);
}

TEST_F(BackupMoveTest, AnIndexAtTheDestinationIsNeverReplaced)
{
    test::WriteFile(newRoot + "files.lst", "[Files]\nother=/x\n");
    const BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Failed);
    EXPECT_EQ(test::ReadFile(newRoot + "files.lst"), "[Files]\nother=/x\n");
    EXPECT_TRUE(fs::exists(oldRoot + "files.lst"));
    EXPECT_EQ(SettingNow(), "");
}

TEST_F(BackupMoveTest, AnAgentThatDoesNotConfirmTheHoldMovesNothing)
{
    plan.Hold = [] {
        return false;
    };
    const BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Refused);
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(fs::exists(oldRoot + "2401011/001/a.txt"));
}

// A run killed as it ended (or before it moved anything) leaves its note while no move is
// unfinished: a later move into that folder, from another one, goes ahead.
TEST_F(BackupMoveTest, TheNoteOfAMoveThatEndedStopsNoLaterMove)
{
    fs::create_directories(newRoot + "2401011");
    IniFile note(newRoot + BackupMove::kNoteName);
    note.WriteString("Move", "From", env.Work() + "elsewhere/");
    note.WriteBool("Items", "2401011", true);
    note.Flush();
    const BackupMoveResult r = BackupMove::Run(plan, op);
    // Its item marks went with it: a folder of an item's name is still nobody's to fill.
    EXPECT_EQ(r.Outcome, BackupMoveResult::Failed) << r.Text;
    EXPECT_NE(r.Text.find(newRoot + "2401011"), std::string::npos) << r.Text;
    fs::remove(newRoot + "2401011");
    const BackupMoveResult again = BackupMove::Run(plan, op);
    ASSERT_EQ(again.Outcome, BackupMoveResult::Done) << again.Text;
    EXPECT_FALSE(fs::exists(newRoot + BackupMove::kNoteName));
    ExpectEachVersionOnce();
}

// What a run killed part-way can leave in the destination; running the move again ends
// with every version once, whole, and nothing else in the new folder.
struct LeftCase
{
    const char* Name;
    std::function<void(BackupMoveTest&)> Leave;
};

class StoppedRunTest : public BackupMoveTest, public ::testing::WithParamInterface<LeftCase>
{
protected:
    void MarkOurs(const std::vector<std::string>& ids, bool index = false)
    {
        IniFile note(newRoot + BackupMove::kNoteName);
        note.WriteString("Move", "From", oldRoot);
        for (const std::string& id : ids)
            note.WriteBool("Items", id, true);
        note.WriteBool("Move", "Index", index);
        note.Flush();
        IniFile settings(this->settings);
        settings.WriteString("Basic", kMoveToKey, newRoot);
        settings.Flush();
    }

public:
    // A file's copy with its date; for a folder that exists, only the date.
    static void CopyWithDate(const std::string& from, const std::string& to)
    {
        fs::create_directories(fs::path(to).parent_path());
        if (!fs::is_directory(to))
            fs::copy_file(from, to);
        struct stat st = {};
        ::stat(from.c_str(), &st);
        const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    }
};

TEST_P(StoppedRunTest, RunAgainFinishes)
{
    TkitFileOperation::SetForceCopy(true);
    fs::create_directories(newRoot);
    // Each version made an hour after the one before, its file saved a second earlier.
    std::map<std::string, std::time_t> made;
    std::time_t when = std::time(nullptr) - 86400;
    for (const char* id : {"2401011", "2401012", "2401013"}) {
        for (const char* v : {"/001", "/002"}) {
            when += 3600;
            const timespec file[2] = {{0, UTIME_OMIT}, {when - 1, 0}},
                           folder[2] = {{0, UTIME_OMIT}, {when, 0}};
            ::utimensat(AT_FDCWD, (oldRoot + id + v + "/a.txt").c_str(), file, 0);
            ::utimensat(AT_FDCWD, (oldRoot + id + v).c_str(), folder, 0);
            made[std::string(id) + v] = when;
        }
    }
    GetParam().Leave(*this);
    MarkOurs({"2401011", "2401012", "2401013"}, !fs::exists(oldRoot + "files.lst"));
    const BackupMoveResult r = BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, BackupMoveResult::Done) << r.Text;
    for (const char* id : {"2401011", "2401012", "2401013"}) {
        for (const char* v : {"/001/a.txt", "/002/a.txt"})
            EXPECT_EQ(test::ReadFile(newRoot + id + v), std::string(v[3] == '1' ? "v1 of " : "v2 of ") + id);
        EXPECT_FALSE(fs::exists(oldRoot + id)) << id;
        // Every version folder keeps its age, which pruning and clearing go by.
        for (const char* v : {"/001", "/002"}) {
            struct stat st = {};
            ::stat((newRoot + id + v).c_str(), &st);
            EXPECT_EQ(st.st_mtim.tv_sec, made[std::string(id) + v]) << id << v;
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(newRoot))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    EXPECT_EQ(SettingNow(), newRoot);
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(settings).ReadString("Basic", kMoveToKey, ""), "");
    EXPECT_FALSE(fs::exists(newRoot + BackupMove::kNoteName));
    EXPECT_EQ(IniFile(newRoot + "files.lst").ReadString("Files", "2401012", ""), plan.Items[1].Path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoppedRunTest,
    ::testing::Values(LeftCase{"AHalfCopiedFileInItsStagingFolder",
                               [](BackupMoveTest& t) {
                                   test::WriteFile(t.newRoot + "2401011/001/.a.txt.Ab12Cd.part/a.txt",
                                                   "v1 o");
                               }},
                      LeftCase{"ACopyWhoseSourceWasNotRemovedYet",
                               [](BackupMoveTest& t) {
                                   StoppedRunTest::CopyWithDate(t.oldRoot + "2401012/002/a.txt",
                                                                t.newRoot + "2401012/002/a.txt");
                               }},
                      LeftCase{"ACopyWhoseSourceFolderWasEmptiedButNotRemoved",
                               [](BackupMoveTest& t) {
                                   // The copy and its folder's date were in place before the
                                   // source went.
                                   StoppedRunTest::CopyWithDate(t.oldRoot + "2401012/001/a.txt",
                                                                t.newRoot + "2401012/001/a.txt");
                                   StoppedRunTest::CopyWithDate(t.oldRoot + "2401012/001",
                                                                t.newRoot + "2401012/001");
                                   fs::remove(t.oldRoot + "2401012/001/a.txt");
                               }},
                      LeftCase{"AnItemMovedWholeAndAVersionMadeSince",
                               [](BackupMoveTest& t) {
                                   fs::rename(t.oldRoot + "2401013", t.newRoot + "2401013");
                                   test::WriteFile(t.oldRoot + "2401013/003/a.txt", "v3 of 2401013");
                               }},
                      LeftCase{"HalfWrittenNoteAndIndex",
                               [](BackupMoveTest& t) {
                                   test::WriteFile(t.newRoot + "..morvane-move.Ab12Cd.part/.morvane-move",
                                                   "[Mo");
                                   test::WriteFile(t.newRoot + ".files.lst.Ef34Gh.part/files.lst", "[Fi");
                               }},
                      LeftCase{"TheIndexMovedAlready",
                               [](BackupMoveTest& t) {
                                   fs::rename(t.oldRoot + "2401011", t.newRoot + "2401011");
                                   fs::rename(t.oldRoot + "files.lst", t.newRoot + "files.lst");
                               }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BackupMoveTest, AnotherUnfinishedMoveOrAnUnknownFolderInUseIsRefused)
{
    IniFile settingsFile(settings);
    settingsFile.WriteString("Basic", kMoveToKey, env.Work() + "elsewhere/");
    settingsFile.Flush();
    BackupMoveResult r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Refused);
    EXPECT_NE(r.Text.find("elsewhere"), std::string::npos) << r.Text;
    settingsFile.DeleteKey("Basic", kMoveToKey);
    settingsFile.Flush();
    // A caption that is no folder (the label before it was filled) moves nothing.
    plan.OldRoot = "BackuppathLabel/";
    r = BackupMove::Run(plan, op);
    EXPECT_EQ(r.Outcome, BackupMoveResult::Refused);
    EXPECT_EQ(holds, 0);
    EXPECT_TRUE(fs::exists(oldRoot + "2401011/001/a.txt"));
    EXPECT_EQ(SettingNow(), "");
}
