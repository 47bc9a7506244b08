#include "EngineFixture.h"
#include "platform/FileCopy.h"
#include "platform/Log.h"

#include <QProcess>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>

namespace morvane::test {
namespace {

class VersionSafetyTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        file = Work("docs/a.txt");
        Save("one", 100);
        item = AddFile(file, [](TMonItemRecord& r) {
            r.NameMode = nmVersionNumber;
            r.DelMode = dmNumber;
            r.DelModeNumber = 100;
            r.Monitored = true;
            r.MonStatus = msActive;
        });
        previousSink = SetLogSink([this](const std::string& line) { logLines.push_back(line); });
    }
    void TearDown() override { SetLogSink(previousSink); }

    // Writes the file and gives it a time within one fixed second: ms milliseconds into it.
    void Save(const std::string& text, int ms)
    {
        WriteFile(file, text);
        const timespec times[2] = {{0, UTIME_OMIT}, {1'796'000'000, ms * 1'000'000L}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    VersionOutcome MakeAndReport(bool force = false)
    {
        const VersionResult result = item->MakeVersion(force);
        if (result || force)
            item->AfterVersion(force);
        return result.Outcome;
    }
    void Restart()
    {
        items.reset();
        IniFile::ClearCache();
        items = std::make_unique<TRKMonItems>(block.get(), &host, env.Home());
        items->SetActive(true);
        items->LoadAll();
        item = items->FileByPath(file);
        ASSERT_TRUE(item);
    }
    std::string StoredKey(const std::string& key) const
    {
        IniFile::ClearCache();
        return IniFile(items->ListFile()).ReadString(file, key, "<none>");
    }

    std::string file;
    std::shared_ptr<TRKMonItem> item;
    std::vector<std::string> logLines;
    LogSink previousSink;
};

TEST_F(VersionSafetyTest, EverySaveWithinOneSecondIsAVersionAlsoAfterARestartAndWhenForced)
{
    using O = VersionOutcome;
    EXPECT_EQ(MakeAndReport(), O::Made);
    Save("two", 400);
    EXPECT_EQ(MakeAndReport(), O::Made) << "a second save in the same second";
    EXPECT_EQ(MakeAndReport(), O::Unchanged);
    Save("three", 600);
    EXPECT_EQ(MakeAndReport(true), O::Made) << "Make version in the same second";
    EXPECT_EQ(MakeAndReport(true), O::Unchanged);

    Restart();
    EXPECT_EQ(item->MakeVersion(false).Outcome, O::Unchanged) << "the last version is found on disk";
    Save("four", 800);
    EXPECT_EQ(MakeAndReport(), O::Made) << "after a restart, in the same second";
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002", "003", "004"}));
    EXPECT_EQ(ReadFile(ItemFolder(*item) + "004/a(v 4).txt"), "four");
}

// Copies source to target in a child that ends before the copy gets its name, as a copy
// killed part way does: what it leaves is a real leftover of our own copy.
void LeaveKilledCopy(const std::string& source, const std::string& target)
{
    ASSERT_TRUE(MakeDirs(FolderPart(target)));
    ASSERT_EQ(QProcess::execute(QString::fromStdString(HelperPath("copy_child")),
                                {QString::fromStdString(source), QString::fromStdString(target), "crash"}),
              0);
    ASSERT_FALSE(std::filesystem::exists(target));
}

TEST_F(VersionSafetyTest, LeftoversOfKilledCopiesAreNoVersionsAndGoAtTheNextPruneAndStart)
{
    const std::string base = ItemFolder(*item);
    for (const char* n : {"001", "002", "003"})
        WriteFile(base + n + "/a.txt", n);
    for (const char* n : {"004", "005"})
        LeaveKilledCopy(file, base + n + "/a(v 4).txt");
    item->UpdateData([](TMonItemRecord& r) {
        r.VersionNum = 5;
        r.DelModeNumber = 3;
    });
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002", "003"})) << "never counted";

    Save("new", 500);
    ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"002", "003", "006"}));
    EXPECT_FALSE(std::filesystem::exists(base + "004")) << "removed at the item's prune";
    EXPECT_FALSE(std::filesystem::exists(base + "005"));

    // Another item's folder, never pruned: its leftovers go when the agent starts.
    const std::string other = BackupRoot() + "261208042/";
    WriteFile(other + "001/b.txt", "a version");
    LeaveKilledCopy(file, other + "001/b(2).txt");
    LeaveKilledCopy(file, other + "002/b.txt");
    WriteFile(other + "003/.hidden.Ab12Cd.part/x", "a folder of that form holding a folder is not ours");
    std::filesystem::create_directory(other + "003/.hidden.Ab12Cd.part/inner");
    Restart();
    EXPECT_EQ(ReadFile(other + "001/b.txt"), "a version");
    EXPECT_EQ(ListDir(other + "001/").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(other + "002"));
    EXPECT_TRUE(std::filesystem::exists(other + "003/.hidden.Ab12Cd.part/x"));
}

// A user's file may have any name, also one that looks like a temporary name of ours:
// each keeps every version through listing, start-up cleaning and pruning, while a real
// leftover of a killed copy beside them still goes.
TEST_F(VersionSafetyTest, AUserFileOfAnyNameKeepsEveryVersionWhileLeftoversGo)
{
    const std::string names[] = {
        ".notes.Ab3xYz.part",              // the form a copy's temporary file once had
        "..notes.Ab3xYz.part.Qw12Er.part", // the form of a copy's staging folder
        ".x.part",
        "..part",
        "report.doc",
    };
    int folder = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 40));
        // A folder each: a file added to a monitored folder is versioned on its way in.
        file = Work("named" + std::to_string(++folder) + "/" + name);
        Save("one", 100);
        item = AddFile(file, [](TMonItemRecord& r) {
            r.NameMode = nmOriginal;
            r.DelMode = dmNumber;
            r.DelModeNumber = 3;
            r.Monitored = true;
        });
        const std::string base = ItemFolder(*item);
        ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
        Save("two", 200);
        ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
        // A killed copy in a folder of its own, and one beside a version.
        LeaveKilledCopy(file, base + "003/" + name);
        LeaveKilledCopy(file, base + "002/" + name.substr(1));
        EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002"}));

        Restart();
        EXPECT_EQ(ReadFile(base + "001/" + name), "one");
        EXPECT_EQ(ReadFile(base + "002/" + name), "two");
        EXPECT_EQ(ListDir(base + "002/").size(), 1u) << "the leftover beside the version went";
        EXPECT_FALSE(std::filesystem::exists(base + "003"));

        for (const char* text : {"three", "four"}) {
            Save(text, text[1] == 'h' ? 300 : 400);
            ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
        }
        EXPECT_EQ(Versions(*item), (std::vector<std::string>{"002", "003", "004"}));
        EXPECT_EQ(ReadFile(base + "004/" + name), "four");
    }
}

struct FailureCase
{
    const char* Name;
    int Cause;
    std::function<void(VersionSafetyTest&)> Break;
    std::function<void(VersionSafetyTest&)> Mend;
};

class WriteFailureTest : public VersionSafetyTest, public ::testing::WithParamInterface<FailureCase>
{
public:
    std::string ItemFolderPath() { return WithoutTrailingSep(ItemFolder(*item)); }
    void SetNameMode(TNameMode mode)
    {
        item->UpdateData([mode](TMonItemRecord& r) { r.NameMode = mode; });
    }
    void UseLongName()
    {
        // A path of 255 bytes fits an item; the date stamp makes its version's name longer
        // than a name may be.
        char dir[] = "/tmp/mvXXXXXX";
        ASSERT_TRUE(::mkdtemp(dir));
        shortDir = dir;
        file = shortDir + "/" + std::string(255 - shortDir.size() - 5, 'n') + ".txt";
        Save("long", 100);
        item = AddFile(file, [](TMonItemRecord& r) {
            r.NameMode = nmDateTime;
            r.Monitored = true;
            r.MonStatus = msActive;
        });
        ASSERT_EQ(item->Path(), file);
    }
    void TearDown() override
    {
        VersionSafetyTest::TearDown();
        if (!shortDir.empty())
            std::filesystem::remove_all(shortDir);
    }
    std::string shortDir;
};

TEST_P(WriteFailureTest, IsToldOncePerCauseShownUntilAVersionIsMadeAndBurnsNoNumber)
{
    GetParam().Break(*this);
    for (int save = 0; save < 2; ++save) {
        Save("state " + std::to_string(save), 200 + save);
        const VersionResult result = item->MakeVersion(false);
        EXPECT_EQ(result.Outcome, VersionOutcome::WriteFailed);
        EXPECT_EQ(result.Error, GetParam().Cause);
        item->ReportWriteFailure(result.Error);
    }
    EXPECT_EQ(host.CountOf("ShowBalloon"), 1) << "told once";
    EXPECT_EQ(logLines.size(), 1u);
    EXPECT_EQ(item->MonStatus(), msBroken) << "shown in the monitor";
    EXPECT_TRUE(item->Monitored());
    EXPECT_TRUE(item->CheckExists(false)) << "still watched";
    item->Save();
    items->FlushList();
    EXPECT_EQ(StoredKey("MonStatus"), "1") << "a failure is shown, never stored";
    EXPECT_EQ(item->Data().VersionNum, 0);
    EXPECT_EQ(item->Data().NameModeNumberCount, 0);

    GetParam().Mend(*this);
    Save("after", 900);
    ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
    EXPECT_EQ(item->MonStatus(), msActive);
    EXPECT_EQ(item->WriteFailure(), 0);
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"001"});
}

INSTANTIATE_TEST_SUITE_P(Causes, WriteFailureTest,
                         ::testing::Values(FailureCase{"FolderNotCreatable", ENOTDIR,
                                                       [](VersionSafetyTest& t) {
                                                           auto& w = static_cast<WriteFailureTest&>(t);
                                                           WriteFile(w.ItemFolderPath(),
                                                                     "a file where the folder goes");
                                                       },
                                                       [](VersionSafetyTest& t) {
                                                           auto& w = static_cast<WriteFailureTest&>(t);
                                                           std::filesystem::remove(w.ItemFolderPath());
                                                       }},
                                           FailureCase{"NameTooLong", ENAMETOOLONG,
                                                       [](VersionSafetyTest& t) {
                                                           static_cast<WriteFailureTest&>(t).UseLongName();
                                                       },
                                                       [](VersionSafetyTest& t) {
                                                           static_cast<WriteFailureTest&>(t).SetNameMode(
                                                               nmOriginal);
                                                       }}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(VersionSafetyTest, CountersAtTheirLimitGoOnOrStopTheItem)
{
    const std::string base = ItemFolder(*item);
    item->UpdateData([](TMonItemRecord& r) {
        r.NameModeNumberCount = INT_MAX;
        r.VersionNum = INT_MAX;
    });
    WriteFile(base + "001/a.txt", "old");
    Save("next", 300);
    ASSERT_EQ(MakeAndReport(), VersionOutcome::Made);
    EXPECT_EQ(ReadFile(base + "002/a(v 1).txt"), "next") << "past the highest folder, names from 1";

    WriteFile(base + "2147483646/a.txt", "x");
    WriteFile(base + "2147483647/a.txt", "y");
    Save("last", 400);
    const VersionResult result = item->MakeVersion(false);
    EXPECT_EQ(result.Outcome, VersionOutcome::WriteFailed);
    EXPECT_EQ(result.Error, EOVERFLOW);
    EXPECT_FALSE(item->Monitored()) << "no number is left: the item stops";
    ASSERT_EQ(logLines.size(), 1u);
}

// Three items of the list share one backup folder; the index names the owner or not.
struct SharedIdCase
{
    const char* Name;
    const char* IndexNames; // file name the index maps the shared FileID to, "" for no key
    const char* Owner;
};

class SharedFileIdTest : public VersionSafetyTest, public ::testing::WithParamInterface<SharedIdCase>
{
};

TEST_P(SharedFileIdTest, OneOwnerKeepsTheFolderTheOthersGetTheirOwnAndPruneNothingOfIt)
{
    const std::string shared = "261208042";
    const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt"};
    items.reset();
    IniFile::ClearCache();
    {
        IniFile list(env.Home() + kListFileName);
        for (const std::string& name : names) {
            WriteFile(Work("docs/" + name), "text of " + name);
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set(Work("docs/" + name));
            r.FileID.Set(shared);
            r.Monitored = true;
            r.MonStatus = msActive;
            r.DelMode = dmNumber;
            r.DelModeNumber = name == GetParam().Owner ? 10 : 1;
            r.VersionNum = 3;
            WriteItemRecord(r, list, nullptr);
        }
        list.Flush();
        IniFile index(BackupRoot() + kBackupIndexName);
        if (*GetParam().IndexNames)
            index.WriteString(kBackupIndexSection, shared,
                              Work(std::string("docs/") + GetParam().IndexNames));
        index.Flush();
    }
    for (const char* n : {"001", "002", "003"})
        WriteFile(BackupRoot() + shared + "/" + n + "/" + GetParam().Owner, n);

    items = std::make_unique<TRKMonItems>(block.get(), &host, env.Home());
    items->SetActive(true);
    items->LoadAll();
    IniFile::ClearCache();
    const IniFile list(env.Home() + kListFileName);
    const IniFile index(BackupRoot() + kBackupIndexName);
    std::set<std::string> ids;
    for (const std::string& name : names) {
        const std::string path = Work("docs/" + name);
        const std::shared_ptr<TRKMonItem> it = items->FileByPath(path);
        ASSERT_TRUE(it);
        ids.insert(it->FileID());
        EXPECT_EQ(it->FileID() == shared, name == GetParam().Owner) << name;
        EXPECT_EQ(list.ReadString(path, "FileID", ""), it->FileID()) << "saved: " << name;
        EXPECT_EQ(index.ReadString(kBackupIndexSection, it->FileID(), ""), path) << name;
    }
    EXPECT_EQ(ids.size(), 3u);

    // Keep-one pruning of every other item leaves the owner's versions alone.
    for (const std::string& name : names) {
        if (name == GetParam().Owner)
            continue;
        item = items->FileByPath(Work("docs/" + name));
        WriteFile(Work("docs/" + name), "a longer new text of " + name);
        ASSERT_EQ(MakeAndReport(true), VersionOutcome::Made) << name;
        EXPECT_EQ(Versions(*item).size(), 1u) << name;
    }
    item = items->FileByPath(Work(std::string("docs/") + GetParam().Owner));
    std::vector<std::string> kept = Versions(*item);
    kept.resize(3);
    EXPECT_EQ(kept, (std::vector<std::string>{"001", "002", "003"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, SharedFileIdTest,
                         ::testing::Values(SharedIdCase{"IndexNamesTheSecond", "b.txt", "b.txt"},
                                           SharedIdCase{"NoIndexKeyFirstOwns", "", "a.txt"},
                                           SharedIdCase{"IndexNamesAnotherFile", "gone.txt", "a.txt"}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace morvane::test
