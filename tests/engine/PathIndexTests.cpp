// Lookups by path after every change the arrays or an item's path can go through.
#include "EngineFixture.h"

namespace morvane::test {
namespace {

class PathIndexTest : public EngineFixture
{
protected:
    std::shared_ptr<TRKMonItem> Make(const std::string& name)
    {
        WriteFile(Work(name), name);
        return AddFile(Work(name));
    }
    static void Move(TRKMonItem& item, const std::string& path)
    {
        TMonItemRecord r = item.Data();
        r.Path.Set(path);
        item.SetData(r);
    }
    // Every listed item is found by its path now, at its own index.
    void ExpectAllFound() const
    {
        for (int i = 0; i < items->FileCount(); ++i) {
            const auto item = items->GetFile(i);
            EXPECT_EQ(items->FindByPath(item->Path()), i) << item->Path();
            EXPECT_EQ(items->FileByPath(item->Path()), item) << item->Path();
        }
        for (int i = 0; i < items->FolderCount(); ++i) {
            const auto folder = items->GetFolder(i);
            EXPECT_EQ(items->FindFolder(folder->Path()), i) << folder->Path();
            EXPECT_EQ(items->FolderByPath(folder->Path()), folder) << folder->Path();
        }
    }
};

TEST_F(PathIndexTest, RemovalsDropThePathAndRenumberTheRest)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "sub/e.txt"})
        Make(name);
    items->DeleteFileEntry(1);
    EXPECT_EQ(items->FindByPath(Work("b.txt")), -1);
    EXPECT_EQ(items->FindByPath(Work("c.txt")), 1);
    items->RemoveFile(items->FindByPath(Work("c.txt")));
    EXPECT_EQ(items->FileByPath(Work("c.txt")), nullptr);
    EXPECT_EQ(items->FindByPath(Work("d.txt")), 1);
    items->RemoveFolderItem(items->FolderByPath(env.Work()));
    EXPECT_EQ(items->FindFolder(env.Work()), -1);
    EXPECT_EQ(items->FindFolder(Work("sub/")), 0);
    EXPECT_EQ(items->FindByPath(Work("sub/e.txt")), 0);
    EXPECT_EQ(items->FileCount(), 1);
    ExpectAllFound();
}

TEST_F(PathIndexTest, EveryChangeOfAPathMovesItsLookup)
{
    auto a = Make("a.txt");
    auto b = Make("b.txt");
    Make("f/c.txt");

    Move(*b, Work("renamed.txt"));
    EXPECT_EQ(items->FindByPath(Work("b.txt")), -1);
    EXPECT_EQ(items->FileByPath(Work("renamed.txt")), b);

    a->Reassign(Work("a2.txt"));
    EXPECT_EQ(items->FileByPath(Work("a.txt")), nullptr);
    std::filesystem::create_directories(Work("g/"));
    a->Reassign(Work("g/a.txt"));
    EXPECT_EQ(items->FindFolder(Work("g/")), 2);

    items->FolderByPath(Work("f/"))->Reassign(Work("h/"));
    EXPECT_EQ(items->FindFolder(Work("f/")), -1);
    EXPECT_EQ(items->FindByPath(Work("f/c.txt")), -1);
    EXPECT_EQ(items->FindByPath(Work("h/c.txt")), 2);

    auto g = items->FolderByPath(Work("g/"));
    g->UpdateData([&](TMonItemRecord& r) { r.Path.Set(Work("k/")); });
    EXPECT_EQ(items->FolderByPath(Work("k/")), g);
    EXPECT_EQ(items->FolderByPath(Work("g/")), nullptr);
    ExpectAllFound();
}

TEST_F(PathIndexTest, ItemsSharingAPathFindTheFirstWhicheverCameThereFirst)
{
    auto a = Make("a.txt");
    auto b = Make("b.txt");
    auto c = Make("c.txt");
    Make("d.txt");
    // The first in the array is neither the first nor the last to take the path.
    Move(*b, Work("same.txt"));
    Move(*a, Work("same.txt"));
    Move(*c, Work("same.txt"));
    EXPECT_EQ(items->FindByPath(Work("same.txt")), 0);
    EXPECT_EQ(items->FileByPath(Work("same.txt")), a);
    items->DeleteFileEntry(0);
    EXPECT_EQ(items->FileByPath(Work("same.txt")), b);
    Move(*b, Work("b.txt"));
    EXPECT_EQ(items->FindByPath(Work("same.txt")), 1);
    Move(*c, Work("c.txt"));
    EXPECT_EQ(items->FindByPath(Work("same.txt")), -1);
    ExpectAllFound();
}

TEST_F(PathIndexTest, AnItemNoLongerListedLeavesTheLookupsAlone)
{
    auto a = Make("a.txt");
    auto b = Make("b.txt");
    auto c = Make("c.txt");
    items->RemoveFileItem(a);
    items->DeleteFileEntry(items->FindByPath(Work("b.txt")));
    Move(*a, Work("c.txt"));
    Move(*b, Work("c.txt"));
    EXPECT_EQ(items->FindByPath(Work("c.txt")), 0);
    EXPECT_EQ(items->FileByPath(Work("c.txt")), c);
    EXPECT_EQ(items->FileByPath(Work("a.txt")), nullptr);
    EXPECT_EQ(items->FileCount(), 1);
}

TEST_F(PathIndexTest, AFolderTakesANewFileAtAPathNoMemberHolds)
{
    auto a = Make("a.txt");
    Make("b.txt");
    auto folder = items->FolderByPath(env.Work());
    ASSERT_EQ(folder->FileCount(), 2);

    // The member moves on within the folder: its old name is free for a new item.
    a->Reassign(Work("moved.txt"));
    auto fresh = Make("a.txt");
    EXPECT_NE(fresh, a);
    EXPECT_EQ(folder->FileCount(), 3);
    EXPECT_EQ(folder->IndexOfFile(Work("a.txt")), 2);

    // A removed member frees its name too.
    items->RemoveFileItem(fresh);
    EXPECT_EQ(folder->FileCount(), 2);
    Make("a.txt");
    EXPECT_EQ(folder->FileCount(), 3);

    // An entry dropped from the list alone stays a member: its path is still taken.
    items->DeleteFileEntry(items->FindByPath(Work("b.txt")));
    auto again = Make("b.txt");
    EXPECT_EQ(folder->FileCount(), 3);
    EXPECT_NE(folder->GetFile(folder->IndexOfFile(Work("b.txt"))), again);
}

} // namespace
} // namespace morvane::test
