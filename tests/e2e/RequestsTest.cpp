#include "AgentFixture.h"
#include "common/TestSupport.h"
#include "platform/NamedMapping.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

bool Listed(const test::TestEnv& env, const std::string& path)
{
    const auto sections = ListSections(env);
    return std::find(sections.begin(), sections.end(), path) != sections.end();
}

// Version files below an item's backup folder.
std::vector<std::string> VersionFiles(const test::TestEnv& env, const std::string& fileId)
{
    std::vector<std::string> files;
    const fs::path root = env.Home() + "backup/" + fileId;
    if (!fs::exists(root))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// True when a line of a program's output tells of a box whose text holds both parts.
bool BoxNaming(const std::string& output, const std::string& part, const std::string& other)
{
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        if (line.find("BOX ") != std::string::npos && line.find(part) != std::string::npos &&
            line.find(other) != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

class Requests : public AgentTest
{
protected:
    // The first version comes from the folder's watch thread after the ADD answer; a test
    // that saves again before it is made finds the second save in the first version.
    TMonItemRecord AddWithFirstVersion(const std::string& name, const std::string& text)
    {
        const TMonItemRecord rec = Add(MakeFile(name, text));
        EXPECT_TRUE(test::WaitUntil([&] { return ListValue(env, rec.Path.Get(), "VersionNum") == "1"; }));
        return rec;
    }
};

// Watched folders scan as soon as they change.
class RequestsWithScans : public Requests
{
protected:
    RequestsWithScans() { folderWait = 0; }
};

} // namespace

TEST_F(Requests, AddFileIsStoredStartedAndEchoed)
{
    const std::string file = MakeFile("docs/a.txt");
    const TMonItemRecord echoed = Add(file);
    EXPECT_EQ(echoed.Path.Get(), file);
    EXPECT_TRUE(echoed.Monitored);
    EXPECT_FALSE(echoed.FileID.Empty());
    Sync();
    EXPECT_TRUE(Listed(env, file));
    EXPECT_TRUE(Listed(env, env.Work() + "docs/")) << "the file's folder item is made";
    EXPECT_EQ(VersionFiles(env, echoed.FileID.Get()).size(), 1u) << "a first version on adding";
}

TEST_F(Requests, AddFolderIsStoredAsFolder)
{
    fs::create_directories(env.Work() + "tree");
    const TMonItemRecord echoed = Add(env.Work() + "tree/");
    EXPECT_TRUE(echoed.IsFolder);
    Sync();
    EXPECT_EQ(ListValue(env, env.Work() + "tree/", "IsFolder"), "1");
}

// A name with brackets is a path like any other now; only the home and backup folders are refused.
TEST_F(Requests, AddOfHomeOrBackupPathIsRefusedWithTheBox)
{
    const std::string refused[] = {env.Home() + "mvlist.srv", env.Home() + "backup/x.txt",
                                   env.Home() + "backup/", env.Home() + "odd[1].txt"};
    for (const std::string& path : refused)
        mon.RequestRecord(MsgAdd, ItemRecordFor(path));
    const auto reports = Sync();
    EXPECT_TRUE(mon.ReportsOf(MsgAdd).empty());
    for (const std::string& path : refused)
        EXPECT_FALSE(Listed(env, path)) << path;
    const std::string out = agent->Output();
    std::size_t boxes = 0;
    for (std::size_t at = out.find("BOX warning: The folders that hold Morvane's own data");
         at != std::string::npos;
         at = out.find("BOX warning: The folders that hold Morvane's own data", at + 1))
        ++boxes;
    EXPECT_EQ(boxes, 4u) << out;
}

TEST_F(Requests, RefusalComparesWholeFolderNames)
{
    test::WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nBackupPath=" + env.Work() + "backup/\n");
    mon.Post(MsgReinit);
    const std::string beside = MakeFile("backupx/a.txt");
    const std::string inside = MakeFile("backup/a.txt");
    EXPECT_EQ(Add(beside).Path.Get(), beside);
    mon.RequestRecord(MsgAdd, ItemRecordFor(inside));
    Sync();
    EXPECT_TRUE(Listed(env, beside));
    EXPECT_FALSE(Listed(env, inside));
}

TEST_F(Requests, AddWithEmptyPathDoesNothing)
{
    mon.RequestRecord(MsgAdd, ItemRecordFor(""));
    EXPECT_TRUE(Sync().empty());
}

TEST_F(Requests, BulkAddTakesEveryUsableLineOfTheList)
{
    const std::string a = MakeFile("bulk/a.txt");
    const std::string b = MakeFile("bulk/b.txt");
    fs::create_directories(env.Work() + "bulk/sub");
    const std::string text = a + "\r\n\r\n" + env.Work() + "bulk/sub\r\n/" + std::string(300, 'q') + "\n" +
                             env.Home() + "kelvrim.ini\n" + b + "\n";
    {
        NamedMapping list = NamedMapping::Create("MV_Temp", text.size() + 1);
        std::memcpy(list.Data(), text.c_str(), text.size() + 1);
        mon.Post(MsgAdd, 1);
        Sync();
    }
    const auto adds = mon.ReportsOf(MsgAdd);
    std::vector<std::string> paths;
    for (const auto& r : adds)
        paths.push_back(r.Record.Path.Get());
    EXPECT_EQ(paths, (std::vector<std::string>{a, env.Work() + "bulk/sub/", b}));
    EXPECT_TRUE(adds[1].Record.IsFolder);
    EXPECT_TRUE(adds[1].Record.IsWholeFolder);
    EXPECT_FALSE(Listed(env, env.Home() + "kelvrim.ini"));
    const std::string out = agent->Output();
    EXPECT_NE(out.find("longer than 255 bytes: skipped"), std::string::npos) << out;
    EXPECT_NE(out.find("BOX warning: The folders that hold Morvane's own data"), std::string::npos);
}

TEST_F(Requests, BulkAddWithoutListSaysFailedAndAddsNothing)
{
    mon.Post(MsgAdd, 1);
    EXPECT_TRUE(Sync().empty());
    EXPECT_TRUE(agent->WaitOutput("BOX information: Failed"));
}

TEST_F(Requests, RepeatedBulkAddWithoutListIsLoggedNotBoxedEachTime)
{
    for (int i = 0; i < 3; ++i)
        mon.Post(MsgAdd, 1);
    Sync();
    const std::string out = agent->Output();
    auto count = [&out](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("BOX information: Failed"), 1u) << out;
    EXPECT_EQ(count("list exists"), 3u) << out;
}

TEST_F(Requests, DeleteFileRemovesItsItemAndVersions)
{
    const TMonItemRecord rec = Add(MakeFile("del/a.txt"));
    Sync();
    ASSERT_FALSE(VersionFiles(env, rec.FileID.Get()).empty());
    mon.RequestPath(MsgDelete, rec.Path.Get());
    Sync();
    EXPECT_FALSE(Listed(env, rec.Path.Get()));
    EXPECT_TRUE(VersionFiles(env, rec.FileID.Get()).empty());
    EXPECT_TRUE(fs::exists(rec.Path.Get())) << "the monitored file itself stays";
}

TEST_F(Requests, DeleteFolderEchoesFirstThenRemovesItsMembers)
{
    const std::string a = MakeFile("gone/a.txt");
    Add(a);
    mon.ClearReports();
    mon.RequestPath(MsgDelete, env.Work() + "gone/");
    const auto reports = Sync();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Index, MsgDelete);
    EXPECT_EQ(reports[0].Record.Path.Get(), env.Work() + "gone/");
    EXPECT_FALSE(Listed(env, a));
    EXPECT_FALSE(Listed(env, env.Work() + "gone/"));
}

TEST_F(Requests, StopAndStartSwitchMonitoring)
{
    const std::string file = MakeFile("sw/a.txt");
    Add(file);
    mon.RequestPath(MsgStop, file);
    Sync();
    EXPECT_EQ(ListValue(env, file, "Monitored"), "0");
    EXPECT_EQ(ListValue(env, file, "MonStatus"), "0");
    mon.RequestPath(MsgStart, file);
    Sync();
    EXPECT_EQ(ListValue(env, file, "Monitored"), "1");
    EXPECT_EQ(ListValue(env, file, "MonStatus"), "1");
    mon.RequestPath(MsgStop, env.Work() + "sw/");
    Sync();
    EXPECT_EQ(ListValue(env, env.Work() + "sw/", "Monitored"), "0");
}

TEST_F(Requests, MakeForcesAVersionUnlessTheDateIsUnchanged)
{
    const TMonItemRecord rec = Add(MakeFile("mk/a.txt"));
    Sync();
    mon.ClearReports();
    ReplaceFile(rec.Path.Get(), "two", 5);
    mon.RequestPath(MsgMake, rec.Path.Get());
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1));
    EXPECT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 2u);
    // Same date again: nothing is written, yet the monitor still hears of it.
    mon.RequestPath(MsgMake, rec.Path.Get());
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 2));
    EXPECT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 2u);
    // A path the list does not hold does nothing.
    mon.RequestPath(MsgMake, env.Work() + "mk/unknown.txt");
    const auto reports = Sync();
    EXPECT_EQ(
        std::count_if(reports.begin(), reports.end(), [](const auto& r) { return r.Index == MsgVersion; }),
        2);
}

TEST_F(Requests, AForcedVersionThatCannotReadTheFileSaysWhyAndAnswers)
{
    const struct
    {
        const char* name;
        std::function<void(const std::string&)> spoil;
        std::string box;
        MessageIndex answer;
        std::uint32_t answerWParam;
    } cases[] = {
        {"mv/gone.txt", [](const std::string& p) { fs::remove(p); }, "can not be found", MsgStop, 1},
        {"mv/locked.txt", [](const std::string& p) { fs::permissions(p, fs::perms::none); },
         " was made: Permission denied.", MsgVersion, 0},
    };
    for (const auto& c : cases) {
        if (c.answer == MsgVersion && geteuid() == 0)
            continue; // permissions do not bind the superuser
        const TMonItemRecord rec = AddWithFirstVersion(c.name, "v1");
        const std::string path = rec.Path.Get();
        Sync();
        mon.ClearReports();
        TouchFile(path, 5); // a change since the last version: a version is due
        c.spoil(path);
        mon.RequestPath(MsgMake, path);
        const auto reports = Sync();
        const auto answered = std::find_if(reports.begin(), reports.end(), [&](const auto& r) {
            return r.Index == c.answer && r.WParam == c.answerWParam && r.Record.Path.Get() == path;
        });
        EXPECT_NE(answered, reports.end()) << c.name;
        EXPECT_TRUE(test::WaitUntil([&] { return BoxNaming(agent->Output(), path, c.box); }))
            << c.name << "\n"
            << agent->Output();
        EXPECT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 1u) << c.name;
    }
}

TEST_F(Requests, ABlockFileCutShortNeitherEndsTheAgentNorItsService)
{
    ASSERT_EQ(::truncate((env.Runtime() + kSharedBlockName + ".shm").c_str(), 0), 0);
    ASSERT_TRUE(agent->WaitOutput("cut short")) << agent->Output();
    ASSERT_TRUE(test::WaitUntil([&] { return mon.Block()->AgentWnd != 0; }));
    EXPECT_TRUE(agent->Running());
    // The monitor does not register again: the agent still knows it, and echoes the ADD.
    const TMonItemRecord rec = Add(MakeFile("cut/a.txt"));
    EXPECT_EQ(ListValue(env, rec.Path.Get(), "FileID"), rec.FileID.Get());
}

TEST_F(Requests, ClearDeletesVersionsOlderThanTheLastChangeAndAnswersVersion)
{
    const TMonItemRecord rec = AddWithFirstVersion("cl/a.txt", "v1");
    ReplaceFile(rec.Path.Get(), "v2", -50);
    mon.RequestPath(MsgMake, rec.Path.Get());
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, rec.Path.Get(), "VersionNum") == "2"; }));
    Sync();
    // The first two versions were made long before the file's next change.
    for (const auto& entry : fs::directory_iterator(env.Home() + "backup/" + rec.FileID.Get()))
        TouchFile(entry.path().string(), -100);
    ReplaceFile(rec.Path.Get(), "v3", -10);
    mon.RequestPath(MsgMake, rec.Path.Get());
    Sync();
    // The folder's watch thread may have taken the change first; its report (which moves
    // LastTime) comes from the main thread a moment later.
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, rec.Path.Get(), "VersionNum") == "3"; }));
    Sync();
    ASSERT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 3u);
    mon.ClearReports();
    mon.BecomeMonitor(false);
    mon.RequestPath(MsgClear, rec.Path.Get());
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1)) << "answered whether or not the monitor runs";
    EXPECT_EQ(mon.ReportsOf(MsgVersion)[0].Record.Path.Get(), rec.Path.Get());
    const auto left = VersionFiles(env, rec.FileID.Get());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(test::ReadFile(left[0]), "v3");
}

TEST_F(Requests, UpdateWithDefaultsFlagWritesDefaultSettingsAndTheItem)
{
    TMonItemRecord rec = Add(MakeFile("up/a.txt"));
    Sync();
    rec.MonModeNumber = 7;
    rec.FolderWait = 4;
    mon.RequestRecord(MsgUpdate, rec, 1);
    Sync();
    EXPECT_EQ(ListValue(env, "_Default settings", "MonModeNumber"), "7");
    EXPECT_EQ(ListValue(env, rec.Path.Get(), "MonModeNumber"), "7");
    EXPECT_EQ(ListValue(env, rec.Path.Get(), "FolderWait"), "4");
    EXPECT_EQ(ListValue(env, "_Default settings", "FileID"), "") << "the defaults name no item's history";

    rec.MonModeNumber = 9;
    mon.RequestRecord(MsgUpdate, rec, 0);
    Sync();
    EXPECT_EQ(ListValue(env, "_Default settings", "MonModeNumber"), "7");
    EXPECT_EQ(ListValue(env, rec.Path.Get(), "MonModeNumber"), "9");
}

TEST_F(RequestsWithScans, UpdateWithAnOldRecordNeitherMovesNumberingBackNorRepeatsAVersion)
{
    // The record the monitor holds was taken before the second version was made.
    TMonItemRecord rec = AddWithFirstVersion("vn/a.txt", "one");
    ReplaceFile(rec.Path.Get(), "second", 10);
    mon.RequestPath(MsgMake, rec.Path.Get());
    // The folder's watch thread may take the change before the request does.
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, rec.Path.Get(), "VersionNum") == "2"; }));
    Sync();
    rec.VersionNum = 0;
    mon.RequestRecord(MsgUpdate, rec, 0);
    Sync();
    EXPECT_EQ(ListValue(env, rec.Path.Get(), "VersionNum"), "2");
    // The scan a new file starts finds the file as its last version holds it. The new
    // file comes whole, in one step: made and then written, a scan between the two
    // would rightly give it two versions.
    const std::string other = env.Work() + "vn/other.txt";
    fs::rename(MakeFile("other.txt"), other);
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, other, "VersionNum") == "1"; }));
    Sync();
    EXPECT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 2u) << "the same state was versioned again";

    ReplaceFile(rec.Path.Get(), "third", 20);
    mon.RequestPath(MsgMake, rec.Path.Get());
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, rec.Path.Get(), "VersionNum") == "3"; }));
    const auto files = VersionFiles(env, rec.FileID.Get());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(test::ReadFile(files[0]), "one") << "no version was overwritten";
    EXPECT_EQ(test::ReadFile(files[1]), "second");
    EXPECT_EQ(test::ReadFile(files[2]), "third");
}

TEST_F(Requests, UpdateToAnotherPathMovesTheHistory)
{
    TMonItemRecord rec = Add(MakeFile("mv/old.txt"));
    Sync();
    const std::string newPath = env.Work() + "mv2/new.txt";
    fs::create_directories(env.Work() + "mv2");
    fs::rename(rec.Path.Get(), newPath);
    rec.Path.Set(newPath);
    mon.RequestRecord(MsgUpdate, rec, 0);
    Sync();
    EXPECT_FALSE(Listed(env, env.Work() + "mv/old.txt"));
    ASSERT_TRUE(Listed(env, newPath));
    EXPECT_EQ(ListValue(env, newPath, "FileID"), rec.FileID.Get());
    EXPECT_EQ(VersionFiles(env, rec.FileID.Get()).size(), 1u);
}

TEST_F(Requests, UpdateOfFolderKeepsItsOwnFileId)
{
    fs::create_directories(env.Work() + "uf");
    TMonItemRecord rec = Add(env.Work() + "uf/");
    Sync();
    const std::string own = ListValue(env, env.Work() + "uf/", "FileID");
    rec.FileID.Set("999999999");
    rec.FolderWait = 6;
    mon.RequestRecord(MsgUpdate, rec, 0);
    Sync();
    EXPECT_EQ(ListValue(env, env.Work() + "uf/", "FileID"), own);
    EXPECT_EQ(ListValue(env, env.Work() + "uf/", "FolderWait"), "6");
}

TEST_F(Requests, ReinitReloadsSettingsAndKeepsTheMonitor)
{
    test::WriteFile(env.Home() + "kelvrim.ini", "[ExplorerMenu]\nLimitShowNumber=33\nShowDate=0\n");
    mon.Post(MsgReinit);
    Sync();
    EXPECT_EQ(mon.Block()->Settings.LimitShowNumber, 33);
    EXPECT_FALSE(mon.Block()->Settings.ShowDate);
    EXPECT_TRUE(mon.Block()->MonitorRunning);
}

namespace {

struct EchoCase
{
    MessageIndex Request;
    bool Folder;
    std::uint8_t Origin;
    bool Running;
    bool Echoed;
};

class EchoTable : public AgentTest, public ::testing::WithParamInterface<EchoCase>
{
};

} // namespace

TEST_P(EchoTable, EchoFollowsOriginAndMonitorState)
{
    const EchoCase& c = GetParam();
    const std::string file = MakeFile("echo/a.txt");
    Add(file);
    const std::string path = c.Folder ? env.Work() + "echo/" : file;
    if (c.Request == MsgStart)
        mon.RequestPath(MsgStop, path);
    Sync();
    mon.ClearReports();
    mon.BecomeMonitor(c.Running);
    mon.RequestPath(c.Request, path, c.Origin);
    const auto reports = Sync();
    if (c.Echoed) {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].Index, c.Request);
        EXPECT_EQ(reports[0].WParam, 0u);
        EXPECT_EQ(reports[0].Record.Path.Get(), path);
    } else {
        EXPECT_TRUE(reports.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Agent, EchoTable,
    // The monitor's own requests (origin 2) are answered as well: it changes its views
    // only on the answer.
    ::testing::Values(EchoCase{MsgStart, false, 0, true, true}, EchoCase{MsgStart, false, 2, true, true},
                      EchoCase{MsgStart, false, 0, false, false}, EchoCase{MsgStart, true, 0, true, true},
                      EchoCase{MsgStart, true, 2, true, true}, EchoCase{MsgStop, false, 0, true, true},
                      EchoCase{MsgStop, false, 2, true, true}, EchoCase{MsgStop, false, 0, false, false},
                      EchoCase{MsgStop, true, 1, true, true}, EchoCase{MsgDelete, false, 0, true, true},
                      EchoCase{MsgDelete, false, 2, true, true}, EchoCase{MsgDelete, false, 0, false, false},
                      // A folder's DELETE is always answered.
                      EchoCase{MsgDelete, true, 2, true, true}, EchoCase{MsgDelete, true, 0, false, true}),
    [](const auto& info) {
        const EchoCase& c = info.param;
        const char* request = c.Request == MsgStart ? "Start" : c.Request == MsgStop ? "Stop" : "Delete";
        return std::string(request) + (c.Folder ? "Folder" : "File") + "Origin" + std::to_string(c.Origin) +
               (c.Running ? "Running" : "Closed");
    });

TEST_F(Requests, AddEchoDependsOnlyOnTheMonitorRunning)
{
    mon.BecomeMonitor(false);
    mon.RequestRecord(MsgAdd, ItemRecordFor(MakeFile("quiet/a.txt")), 0, 0);
    EXPECT_TRUE(Sync().empty());
    EXPECT_TRUE(Listed(env, env.Work() + "quiet/a.txt"));
    mon.BecomeMonitor(true);
    mon.RequestRecord(MsgAdd, ItemRecordFor(MakeFile("loud/a.txt")), 0, 2);
    Sync();
    EXPECT_EQ(mon.ReportsOf(MsgAdd).size(), 1u);
}

TEST_F(Requests, OpenPassesAFileNameWithQuotesAndShellSyntaxAsOneArgument)
{
    const std::string record = env.Work() + "argv.out";
    // The agent runs the helper; the helper finds where to write in the agent's
    // environment, set before the agent started.
    agent.reset();
    mon.Detach();
    agent = std::make_unique<AgentProcess>(env, autoAnswer);
    agent->SetEnv("MORVANE_ARGV_FILE", record);
    agent->Start();
    ASSERT_TRUE(agent->WaitReady());
    ASSERT_TRUE(mon.Attach());

    const std::string folder = env.Work() + "open dir/";
    const std::string file = folder + "a\"b;$(touch pwned) `touch pwned2` 'c' \\\".txt";
    test::WriteFile(file, "content");
    mon.Block()->SetPathArg(test::HelperPath("argv_recorder") + " \"" + file + "\"");
    ASSERT_TRUE(mon.Post(MsgOpen)) << "the request never reached the agent";
    ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(record); })) << agent->Output();
    const std::string text = test::ReadFile(record);
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    ASSERT_EQ(parts.size(), 2u) << "working folder and exactly one argument";
    EXPECT_EQ(parts[0] + "/", folder);
    EXPECT_EQ(parts[1], file);
    for (const std::string& dir : {folder, env.Work(), env.Home()}) {
        EXPECT_FALSE(fs::exists(dir + "pwned")) << "no shell ever saw the name";
        EXPECT_FALSE(fs::exists(dir + "pwned2"));
    }
}

namespace {

struct BadUpdateCase
{
    const char* Name;
    bool Folder;
    std::function<void(TMonItemRecord&, const std::string& work)> Spoil;
};

class BadUpdate : public AgentTest, public ::testing::WithParamInterface<BadUpdateCase>
{
};

} // namespace

TEST_P(BadUpdate, IsRefusedWholeLoggedAndVersioningGoesOn)
{
    const TMonItemRecord file = Add(MakeFile("bad/a.txt"));
    fs::create_directories(env.Work() + "tree");
    const TMonItemRecord folder = Add(env.Work() + "tree/");
    Sync();
    TMonItemRecord rec = GetParam().Folder ? folder : file;
    const std::string path = rec.Path.Get();
    const std::string number = ListValue(env, path, "MonModeNumber");
    const std::string defaults = ListValue(env, "_Default settings", "MonModeNumber", "<none>");
    rec.MonModeNumber = 77; // a good change beside the bad value: it must not land either
    GetParam().Spoil(rec, env.Work());
    mon.RequestRecord(MsgUpdate, rec, 1);
    Sync();
    EXPECT_TRUE(agent->WaitOutput("refused: "));
    EXPECT_EQ(ListValue(env, path, "MonModeNumber"), number);
    EXPECT_EQ(ListValue(env, "_Default settings", "MonModeNumber", "<none>"), defaults);

    // The list is still written, from records that were never touched.
    ReplaceFile(file.Path.Get(), "two", 10);
    mon.RequestPath(MsgMake, file.Path.Get());
    ASSERT_TRUE(test::WaitUntil([&] { return ListValue(env, file.Path.Get(), "VersionNum") == "2"; }));
    EXPECT_EQ(ListValue(env, path, "MonModeNumber"), number);
    EXPECT_EQ(ListValue(env, path, "Templates"), "");
    EXPECT_TRUE(Listed(env, path));
}

INSTANTIATE_TEST_SUITE_P(Cases, BadUpdate,
                         ::testing::Values(BadUpdateCase{"TemplatesWithLineBreak", false,
                                                         [](TMonItemRecord& r, const std::string&) {
                                                             r.Templates.Set("*.txt\n*.doc");
                                                         }},
                                           BadUpdateCase{"ExecuterWithReturn", false,
                                                         [](TMonItemRecord& r, const std::string&) {
                                                             r.Executer.Set("/bin/ed\r");
                                                         }},
                                           BadUpdateCase{"PathWithLineBreak", false,
                                                         [](TMonItemRecord& r, const std::string& work) {
                                                             r.Path.Set(work + "bad/x\ny.txt");
                                                         }},
                                           BadUpdateCase{"ModeOutOfRange", false,
                                                         [](TMonItemRecord& r, const std::string&) {
                                                             r.MonMode = static_cast<TMonMode>(9);
                                                         }},
                                           BadUpdateCase{"FolderTemplatesWithZeroByte", true,
                                                         [](TMonItemRecord& r, const std::string&) {
                                                             r.Templates.Set(std::string("a\0b", 3));
                                                         }},
                                           BadUpdateCase{"FolderNegativeWait", true,
                                                         [](TMonItemRecord& r, const std::string&) {
                                                             r.FolderWait = -5;
                                                         }}),
                         [](const auto& info) { return std::string(info.param.Name); });
