#include "EngineFixture.h"
#include "platform/IniFile.h"

#include <filesystem>

using namespace morvane;
using morvane::test::EngineFixture;
using morvane::test::WaitUntil;
using morvane::test::WriteFile;
namespace fs = std::filesystem;

namespace {

class ListWriteTest : public EngineFixture
{
protected:
    std::string Stored(const std::string& section, const std::string& key) const
    {
        IniFile::ClearCache();
        return IniFile(items->ListFile()).ReadString(section, key, "<none>");
    }
    std::string IndexKey(const std::string& id) const
    {
        IniFile::ClearCache();
        return IniFile(BackupRoot() + "files.lst").ReadString("Files", id, "<none>");
    }
    std::shared_ptr<TRKMonItem> NewFile(const std::string& name)
    {
        WriteFile(Work(name), name);
        auto item = AddFile(Work(name));
        item->Save();
        return item;
    }
    ListWriteBehind& Writer() { return items->ListWriter(); }
};

} // namespace

TEST_F(ListWriteTest, SavesOutsideAScanReachTheFileByTheTimerInOneWrite)
{
    std::vector<std::shared_ptr<TRKMonItem>> files;
    for (int i = 0; i < 20; ++i)
        files.push_back(NewFile("f" + std::to_string(i) + ".txt"));
    items->FlushList();
    const auto writes = Writer().ListWrites();

    for (const auto& f : files) {
        f->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 7; });
        f->Save();
    }
    // Nobody flushes: the timer writes what is pending.
    ASSERT_TRUE(WaitUntil([&] { return !items->ListPending(); }, std::chrono::seconds(10)));
    EXPECT_EQ(Writer().ListWrites() - writes, 1u) << "twenty saves, one write";
    for (const auto& f : files)
        EXPECT_EQ(Stored(f->Path(), "MonModeNumber"), "7") << f->Path();
}

// The backup index maps FileIDs to paths: it is written when a key comes, goes or names
// another path, never for a save that changes neither.
TEST_F(ListWriteTest, TheBackupIndexIsWrittenOnlyWhenAKeyComesGoesOrMoves)
{
    struct Case
    {
        const char* Name;
        std::function<std::string(std::shared_ptr<TRKMonItem>&)> Change; // the path expected
        bool IndexWritten;
    };
    const Case cases[] = {
        {"options changed",
         [](std::shared_ptr<TRKMonItem>& a) {
             a->UpdateData([](TMonItemRecord& r) { r.MonMode = mmInterval; });
             a->Save();
             return a->Path();
         },
         false},
        {"a version recorded",
         [](std::shared_ptr<TRKMonItem>& a) {
             a->UpdateData([](TMonItemRecord& r) {
                 r.VersionNum = 5;
                 r.LastTime = 46000.5;
             });
             a->Save();
             return a->Path();
         },
         false},
        {"item added",
         [this](std::shared_ptr<TRKMonItem>& a) {
             a = NewFile("added.txt");
             return a->Path();
         },
         true},
        {"item removed",
         [this](std::shared_ptr<TRKMonItem>& a) {
             items->RemoveFileItem(a);
             return std::string("<none>");
         },
         true},
        {"item moved",
         [this](std::shared_ptr<TRKMonItem>& a) {
             a->Reassign(Work("moved.txt"));
             a->Save();
             return Work("moved.txt");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::shared_ptr<TRKMonItem> a = NewFile(std::string("a-") + c.Name + ".txt");
        items->FlushList();
        ASSERT_EQ(IndexKey(a->FileID()), a->Path());
        const auto listWrites = Writer().ListWrites();
        const auto indexWrites = Writer().IndexWrites();
        const std::string expected = c.Change(a);
        items->FlushList();
        EXPECT_EQ(Writer().ListWrites() - listWrites, 1u);
        EXPECT_EQ(Writer().IndexWrites() - indexWrites, c.IndexWritten ? 1u : 0u);
        EXPECT_EQ(IndexKey(a->FileID()), expected);
    }
}

TEST_F(ListWriteTest, ASectionErasedAfterAPendingSaveStaysWithTheItemThatOwnsItAtTheWrite)
{
    // An item saved, moved away and moved back before the list is written: the erase of
    // its second name comes after its first save, and must not take the item with it.
    auto a = NewFile("a.txt");
    const std::string home = a->Path();
    items->FlushList();
    a->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 4; });
    a->Save();
    a->Reassign(Work("b.txt"));
    a->Save();
    a->Reassign(home);
    a->Save();
    items->FlushList();
    EXPECT_EQ(Stored(home, "MonModeNumber"), "4");
    EXPECT_EQ(Stored(home, "FileID"), a->FileID());
    EXPECT_EQ(Stored(Work("b.txt"), "FileID"), "<none>");
}

TEST_F(ListWriteTest, AFailedWriteKeepsEveryChangeForTheNextOne)
{
    auto a = NewFile("a.txt");
    auto gone = NewFile("gone.txt");
    items->FlushList();
    a->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 4; });
    a->Save();
    items->RemoveFileItem(gone);
    // A folder in the list file's place: the write is refused.
    fs::remove(items->ListFile());
    fs::create_directory(items->ListFile());
    IniFile::ClearCache();
    EXPECT_THROW(items->FlushList(), IniWriteError);
    EXPECT_TRUE(items->ListPending());

    fs::remove(items->ListFile());
    items->FlushList();
    EXPECT_EQ(Stored(a->Path(), "MonModeNumber"), "4");
    EXPECT_FALSE(items->ListPending());
}

TEST_F(ListWriteTest, ATimedWriteThatFailsIsToldOnceUntilAWriteSucceeds)
{
    auto a = NewFile("a.txt");
    items->FlushList();
    Writer().SetDelay(std::chrono::milliseconds(20));
    auto blockList = [&] {
        fs::remove(items->ListFile());
        fs::create_directory(items->ListFile());
        IniFile::ClearCache();
    };
    blockList();
    a->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 4; });
    a->Save();
    ASSERT_TRUE(WaitUntil([&] { return host.CountOf("ShowBalloon") == 1; }));
    EXPECT_EQ(host.BalloonTitle(), "Item list not saved");
    EXPECT_NE(host.BalloonText().find(items->ListFile()), std::string::npos) << host.BalloonText();
    // The timer tries again and fails again: not told again.
    a->Save();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(host.CountOf("ShowBalloon"), 1);

    fs::remove(items->ListFile());
    ASSERT_TRUE(WaitUntil([&] { return Stored(a->Path(), "MonModeNumber") == "4"; }));
    // A later failure is news again.
    blockList();
    a->Save();
    EXPECT_TRUE(WaitUntil([&] { return host.CountOf("ShowBalloon") == 2; }));
}

TEST_F(ListWriteTest, TheLastChangesAreWrittenWhenTheEngineEnds)
{
    const std::string path = Work("a.txt");
    WriteFile(path, "a");
    {
        TRKMonItems engine(block.get(), &host, env.Home());
        engine.SetActive(true);
        engine.ListWriter().SetDelay(std::chrono::hours(1));
        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set(path);
        auto a = engine.Add(record, "");
        a->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 6; });
        a->Save();
        EXPECT_EQ(Stored(path, "MonModeNumber"), "<none>");
    }
    EXPECT_EQ(Stored(path, "MonModeNumber"), "6");
}

TEST_F(ListWriteTest, OneRecordTheListCannotHoldIsSkippedWholeAndTheOthersAreWritten)
{
    auto a = NewFile("a.txt");
    auto bad = NewFile("bad.txt");
    auto b = NewFile("b.txt");
    items->FlushList();
    for (const auto& f : {a, bad, b}) {
        f->UpdateData([](TMonItemRecord& r) { r.MonModeNumber = 7; });
        f->Save();
    }
    bad->UpdateData([](TMonItemRecord& r) { r.Templates.Set("*.txt\n*.doc"); });
    EXPECT_NO_THROW(items->FlushList());
    EXPECT_EQ(Stored(a->Path(), "MonModeNumber"), "7");
    EXPECT_EQ(Stored(b->Path(), "MonModeNumber"), "7");
    EXPECT_EQ(Stored(bad->Path(), "MonModeNumber"), "10") << "none of the bad record's keys";
}
