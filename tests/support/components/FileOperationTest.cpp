#include "common/TestSupport.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "support/components/MessageBoxes.h"
#include "support/components/TkitFileOperation.h"

#include <QDir>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

void SetTime(const std::string& path, std::int64_t seconds)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

timespec TimeOf(const std::string& path)
{
    struct stat st = {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

// A folder on another file system than the test's work folder, or "" where none is.
std::string OtherFileSystem(const std::string& work)
{
    if (DirectoryExists("/dev/shm") && !SameFileSystem("/dev/shm", work) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm/";
    return {};
}

class FileOperationTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string src = env.Work() + "src/";
    std::string dst = env.Work() + "dst/";
    std::vector<std::string> errors;
    TkitFileOperation op;

    void SetUp() override
    {
        MessageBoxes::Reset();
        fs::create_directories(src);
        op.Options = FileOpFlag(fofNoErrorUI) | FileOpFlag(fofSilent) | FileOpFlag(fofNoConfirmation);
        op.OnError = [this](QObject*, const std::string& text, bool&) {
            errors.push_back(text);
        };
    }
    void TearDown() override
    {
        TkitFileOperation::SetForceCopy(false);
        MessageBoxes::Reset();
    }

    // An item folder with two version folders, dated.
    void MakeItem(const std::string& folder)
    {
        test::WriteFile(folder + "001/a.txt", "first");
        test::WriteFile(folder + "002/a.txt", "second version");
        SetTime(folder + "001/a.txt", 1600000000);
        SetTime(folder + "002/a.txt", 1600000100);
        SetTime(folder + "001", 1600000001);
        SetTime(folder + "002", 1600000101);
    }
    void ExpectItem(const std::string& folder)
    {
        EXPECT_EQ(test::ReadFile(folder + "001/a.txt"), "first");
        EXPECT_EQ(test::ReadFile(folder + "002/a.txt"), "second version");
        EXPECT_EQ(TimeOf(folder + "002/a.txt").tv_sec, 1600000100);
        EXPECT_EQ(TimeOf(folder + "002/a.txt").tv_nsec, 250000000);
        EXPECT_EQ(TimeOf(folder + "001").tv_sec, 1600000001);
    }
};

} // namespace

// The three roads of a move: one rename, the forced copy-then-delete, and a real move to
// another file system where the machine has one.
class MoveRoadTest : public FileOperationTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(MoveRoadTest, MovesFoldersWithBytesAndDates)
{
    std::string target = dst;
    if (GetParam() == 1)
        TkitFileOperation::SetForceCopy(true);
    if (GetParam() == 2) {
        const std::string other = OtherFileSystem(env.Work());
        if (other.empty())
            GTEST_SKIP() << "no second file system";
        target = other + "mvt-op-" + std::to_string(::getpid()) + "/";
    }
    MakeItem(src + "111/");
    MakeItem(src + "222/");
    op.FileList() = {src + "111", src + "222/", ""};
    op.DestFolder = target;
    EXPECT_TRUE(op.Move());
    EXPECT_EQ(op.LastOutcome().Kind, TkitFileOperation::Result::Done);
    EXPECT_EQ(op.LastOutcome().Moved.size(), 2u);
    ExpectItem(target + "111/");
    ExpectItem(target + "222/");
    EXPECT_FALSE(fs::exists(src + "111"));
    EXPECT_FALSE(fs::exists(src + "222"));
    // No temporary file is left behind.
    for (const auto& entry : fs::recursive_directory_iterator(target))
        EXPECT_FALSE(IsCopyLeftover(entry.path().parent_path().string(), entry.path().filename().string()))
            << entry.path();
    EXPECT_TRUE(errors.empty());
    if (GetParam() == 2)
        fs::remove_all(target);
}

INSTANTIATE_TEST_SUITE_P(Roads, MoveRoadTest, ::testing::Values(0, 1, 2),
                         test::RowNames({"Rename", "CopyThenDelete", "OtherFileSystem"}));

TEST_F(FileOperationTest, EmptyListSucceedsWithoutWork)
{
    op.DestFolder = dst;
    EXPECT_TRUE(op.Execute());
    EXPECT_FALSE(fs::exists(dst));
}

TEST_F(FileOperationTest, MappingLinesComposeTargets)
{
    test::WriteFile(src + "x.txt", "x");
    test::WriteFile(src + "y.txt", "y");
    op.FileList() = {src + "x.txt=sub/*.bak", src + "y.txt"};
    op.DestFolder = dst;
    op.Operation = fotCopy;
    ASSERT_TRUE(op.Execute());
    EXPECT_EQ(test::ReadFile(dst + "sub/x.bak"), "x");
    EXPECT_EQ(test::ReadFile(dst + "y.txt"), "y");
    EXPECT_TRUE(fs::exists(src + "x.txt")); // a copy leaves the source
}

// What a move finds at its target decides what happens; nothing there is ever replaced.
struct CollisionCase
{
    const char* Name;
    bool ForceCopy;
    bool SameBytes;       // the target file holds the source's bytes and date
    bool RenameCollision; // the option that picks a free name instead
    bool Succeeds;
};

class CollisionTest : public FileOperationTest, public ::testing::WithParamInterface<CollisionCase>
{
};

TEST_P(CollisionTest, NeverOverwrites)
{
    const CollisionCase& c = GetParam();
    TkitFileOperation::SetForceCopy(c.ForceCopy);
    test::WriteFile(src + "v/001/a.txt", "mine");
    SetTime(src + "v/001/a.txt", 1600000000);
    test::WriteFile(dst + "v/001/a.txt", c.SameBytes ? "mine" : "theirs");
    SetTime(dst + "v/001/a.txt", 1600000000);
    test::WriteFile(src + "v/002/a.txt", "more");
    if (c.RenameCollision)
        op.Options |= FileOpFlag(fofRenameCollision);
    op.FileList() = {src + "v"};
    op.DestFolder = dst;
    EXPECT_EQ(op.Move(), c.Succeeds);
    if (c.RenameCollision) {
        EXPECT_EQ(test::ReadFile(dst + "Copy of v/001/a.txt"), "mine");
        EXPECT_EQ(test::ReadFile(dst + "v/001/a.txt"), "theirs");
        return;
    }
    EXPECT_EQ(test::ReadFile(dst + "v/001/a.txt"), c.SameBytes ? "mine" : "theirs");
    if (c.Succeeds) {
        EXPECT_EQ(test::ReadFile(dst + "v/002/a.txt"), "more");
        EXPECT_FALSE(fs::exists(src + "v"));
        EXPECT_TRUE(errors.empty());
    } else {
        EXPECT_EQ(test::ReadFile(src + "v/001/a.txt"), "mine"); // the source stays
        EXPECT_EQ(op.LastOutcome().Kind, TkitFileOperation::Result::Failed);
        EXPECT_EQ(op.LastOutcome().Error, EEXIST);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], op.GetErrorText(EEXIST));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CollisionTest,
                         ::testing::Values(CollisionCase{"MergeSameCopy", false, true, false, true},
                                           CollisionCase{"MergeSameCopyForced", true, true, false, true},
                                           CollisionCase{"OtherFileStops", false, false, false, false},
                                           CollisionCase{"OtherFileStopsForced", true, false, false, false},
                                           CollisionCase{"FreeName", false, false, true, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileOperationTest, CancelPartWayLeavesEveryFileInOnePlace)
{
    TkitFileOperation::SetForceCopy(true);
    for (int i = 0; i < 10; ++i)
        test::WriteFile(src + "item/" + std::to_string(100 + i) + "/f.bin", std::string(1000 + i, 'x'));
    op.FileList() = {src + "item"};
    op.DestFolder = dst;
    op.SetAfterFileHook([this](int done) {
        if (done == 4)
            op.Cancel();
    });
    EXPECT_FALSE(op.Move());
    EXPECT_EQ(op.LastOutcome().Kind, TkitFileOperation::Result::Cancelled);
    EXPECT_TRUE(op.LastOutcome().Moved.empty());
    EXPECT_TRUE(errors.empty()); // a cancel is no error
    int moved = 0;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "item/" + std::to_string(100 + i) + "/f.bin";
        const bool there = fs::exists(dst + name), here = fs::exists(src + name);
        EXPECT_NE(there, here) << name;
        moved += there;
    }
    EXPECT_EQ(moved, 4);
    // Running it again finishes the move.
    op.SetAfterFileHook({});
    EXPECT_TRUE(op.Move());
    EXPECT_EQ(TreeBytes(dst + "item"), 10 * 1000 + 45);
    EXPECT_FALSE(fs::exists(src + "item"));
}

TEST_F(FileOperationTest, DeleteGoesToTheTrashOrAway)
{
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    fs::create_directories(env.Work() + "data");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(env.Work() + "data"));
    test::WriteFile(src + "keep.txt", "k");
    test::WriteFile(src + "gone/x.txt", "g");
    test::WriteFile(src + "trashed.txt", "t");

    // Declined at the question: nothing happens.
    op.Options = FileOpFlag(fofSilent) | FileOpFlag(fofAllowUndo);
    MessageBoxes::PushAnswer(BoxAnswer::No);
    op.FileList() = {src + "keep.txt"};
    EXPECT_FALSE(op.ExecuteOperation(fotDelete));
    EXPECT_EQ(op.LastOutcome().Kind, TkitFileOperation::Result::Cancelled);
    EXPECT_TRUE(fs::exists(src + "keep.txt"));

    op.Options |= FileOpFlag(fofNoConfirmation);
    op.FileList() = {src + "trashed.txt"};
    EXPECT_TRUE(op.ExecuteOperation(fotDelete));
    EXPECT_FALSE(fs::exists(src + "trashed.txt"));
    EXPECT_EQ(test::ReadFile(env.Work() + "data/Trash/files/trashed.txt"), "t");

    op.Options = FileOpFlag(fofSilent) | FileOpFlag(fofNoConfirmation) | FileOpFlag(fofNoErrorUI);
    op.FileList() = {src + "gone", src + "missing"};
    EXPECT_FALSE(op.ExecuteOperation(fotDelete));
    EXPECT_FALSE(fs::exists(src + "gone"));
    EXPECT_EQ(op.LastOutcome().Error, ENOENT);
    if (oldData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldData);
}

TEST_F(FileOperationTest, FailureIsShownUnlessAskedNotTo)
{
    op.Options = FileOpFlag(fofSilent);
    op.FileList() = {src + "nothing-here"};
    op.DestFolder = dst;
    fs::create_directories(dst);
    EXPECT_FALSE(op.Move());
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("nothing-here"), std::string::npos);
    EXPECT_EQ(op.GetErrorText(0), "");
}

// How list lines are read: a line naming an entry is a path whatever "=" it holds; a pair
// takes the longest beginning that names something; wildcard names stand for their matches.
struct LineCase
{
    const char* Name;
    std::vector<std::string> Entries; // made below src ("/" at the end: a folder)
    std::string Line;                 // below src
    bool FilesOnly;
    bool Succeeds;
    std::vector<std::string> InDest; // below dst afterwards
    std::vector<std::string> InSrc;  // still below src afterwards
};

class LineTest : public FileOperationTest, public ::testing::WithParamInterface<LineCase>
{
};

TEST_P(LineTest, MovesWhatTheLineNames)
{
    const LineCase& c = GetParam();
    for (const std::string& entry : c.Entries) {
        if (entry.back() == '/')
            fs::create_directories(src + entry);
        else
            test::WriteFile(src + entry, entry);
    }
    fs::create_directories(dst);
    op.FileList() = {src + c.Line};
    op.DestFolder = dst;
    op.Options |= c.FilesOnly ? FileOpFlag(fofFilesOnly) : 0;
    EXPECT_EQ(op.Move(), c.Succeeds);
    for (const std::string& entry : c.InDest)
        EXPECT_TRUE(fs::exists(dst + entry)) << entry;
    for (const std::string& entry : c.InSrc)
        EXPECT_TRUE(fs::exists(src + entry)) << entry;
    std::size_t inDest = 0;
    for (auto it = fs::recursive_directory_iterator(dst); it != fs::recursive_directory_iterator(); ++it)
        inDest += it->is_regular_file() ? 1 : 0;
    std::size_t expected = 0;
    for (const std::string& entry : c.InDest)
        expected += entry.back() == '/' ? 0 : 1;
    EXPECT_EQ(inDest, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineTest,
    ::testing::Values(
        LineCase{"PathWithEqualsBesideItsBeginning",
                 {"back/mine.txt", "back=up/123/v.txt"},
                 "back=up/123",
                 false,
                 true,
                 {"123/v.txt"},
                 {"back/mine.txt"}},
        LineCase{"MissingPathWithEqualsMovesNothing",
                 {"back/mine.txt"},
                 "gone=up/123",
                 false,
                 false,
                 {},
                 {"back/mine.txt"}},
        LineCase{"PairWhoseSourceHoldsEquals",
                 {"a/mine.txt", "a=b.txt"},
                 "a=b.txt=c.txt",
                 false,
                 true,
                 {"c.txt"},
                 {"a/mine.txt"}},
        LineCase{
            "PairIntoSubfolderWithExtension", {"x.txt"}, "x.txt=sub/*.bak", false, true, {"sub/x.bak"}, {}},
        LineCase{"WildcardFilesOnly",
                 {"a.txt", "b.txt", "c.log", "d.txt/in.log"},
                 "*.txt",
                 true,
                 true,
                 {"a.txt", "b.txt"},
                 {"c.log", "d.txt/in.log"}},
        LineCase{"WildcardWithFolders",
                 {"a.txt", "c.log", "d.txt/in.log"},
                 "*.txt",
                 false,
                 true,
                 {"a.txt", "d.txt/in.log"},
                 {"c.log"}},
        LineCase{
            "WildcardPair", {"a.txt", "b.log"}, "*.txt=old/*.bak", false, true, {"old/a.bak"}, {"b.log"}},
        LineCase{"WildcardMatchingNothing", {"a.log"}, "*.txt", true, true, {}, {"a.log"}},
        LineCase{"WildcardInMissingFolder", {"a.txt"}, "none/*.txt", true, false, {}, {"a.txt"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A folder never goes into itself, by any road; the refusal comes before any work.
struct IntoItselfCase
{
    const char* Name;
    TkitFileOperationType Operation;
    bool ForceCopy;
    std::string Line; // below src
    std::string Dest; // below src
    bool Refused;
};

class IntoItselfTest : public FileOperationTest, public ::testing::WithParamInterface<IntoItselfCase>
{
};

TEST_P(IntoItselfTest, RefusedAtOnce)
{
    const IntoItselfCase& c = GetParam();
    TkitFileOperation::SetForceCopy(c.ForceCopy);
    test::WriteFile(src + "f/a.txt", "a");
    test::WriteFile(src + "f/sub/b.txt", "b");
    op.FileList() = {src + c.Line};
    op.DestFolder = src + c.Dest;
    int files = 0;
    op.SetAfterFileHook([&files](int done) { files = done; });
    EXPECT_EQ(op.ExecuteOperation(c.Operation), !c.Refused);
    if (!c.Refused)
        return;
    EXPECT_EQ(op.LastOutcome().Error, EINVAL);
    EXPECT_EQ(files, 0);
    EXPECT_EQ(errors.size(), 1u);
    // Everything is as it was: nothing made, nothing moved.
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(src))
        left.push_back(entry.path().string().substr(src.size()));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"f", "f/a.txt", "f/sub", "f/sub/b.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntoItselfTest,
    ::testing::Values(IntoItselfCase{"CopyIntoSubfolder", fotCopy, false, "f", "f/sub", true},
                      IntoItselfCase{"CopyIntoNewSubfolder", fotCopy, false, "f", "f/new/deeper", true},
                      IntoItselfCase{"MoveIntoSubfolderForced", fotMove, true, "f", "f/sub", true},
                      IntoItselfCase{"MoveIntoSubfolder", fotMove, false, "f/", "f/sub", true},
                      IntoItselfCase{"PairIntoItself", fotCopy, false, "f=f/sub/f", "", true},
                      IntoItselfCase{"CopyBesideWithLongerName", fotCopy, false, "f", "f2", false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileOperationTest, DeleteThatCannotReachTheTrashKeepsEverything)
{
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    // The trash lies inside the folder to delete: it cannot take that folder in.
    test::WriteFile(src + "gone/x.txt", "x");
    fs::create_directories(src + "gone/data");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(src + "gone/data"));
    const bool filesBefore = fs::exists("files"), infoBefore = fs::exists("info");
    op.Options = FileOpFlag(fofSilent) | FileOpFlag(fofNoConfirmation) | FileOpFlag(fofAllowUndo);
    op.FileList() = {src + "gone"};
    EXPECT_FALSE(op.ExecuteOperation(fotDelete));
    EXPECT_EQ(op.LastOutcome().Kind, TkitFileOperation::Result::Failed);
    EXPECT_EQ(test::ReadFile(src + "gone/x.txt"), "x");
    EXPECT_EQ(errors.size(), 1u);
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("trash"), std::string::npos) << shown[0];
    // Nothing of a trash appears in the working folder.
    EXPECT_EQ(fs::exists("files"), filesBefore);
    EXPECT_EQ(fs::exists("info"), infoBefore);
    if (oldData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldData);
}
