#include "EngineFixture.h"
#include "platform/DirListing.h"
#include "platform/Paths.h"

#include <atomic>
#include <fstream>
#include <thread>

namespace morvane::test {
namespace {

class MakeVersionTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        file = Work("docs/report.doc");
        Change("one", 14, 5, 9);
        item = AddFile(file, [](TMonItemRecord& r) {
            r.NameMode = nmVersionNumber;
            r.DelMode = dmNumber;
            r.DelModeNumber = 100;
        });
    }

    // Writes the file anew and stamps it 2026-12-08 at the given time.
    void Change(const std::string& text, int hour, int minute, int second = 0)
    {
        WriteFile(file, text);
        SetModTime(file, 2026, 12, 8, hour, minute, second);
    }
    // As a scan would: make the version and report it.
    bool MakeAndReport()
    {
        const bool made = static_cast<bool>(item->MakeVersion(false));
        if (made)
            item->AfterVersion(false);
        return made;
    }
    std::string StoredKey(const std::string& key) const
    {
        items->FlushList();
        IniFile::ClearCache();
        return IniFile(items->ListFile()).ReadString(file, key, "<none>");
    }

    std::string file;
    std::shared_ptr<TRKMonItem> item;
};

TEST_F(MakeVersionTest, EveryChangeMakesTheNextVersionAndTheReportRecordsTheFileDate)
{
    ASSERT_TRUE(item->MakeVersion(false));
    const std::string first = ItemFolder(*item) + "001/report(v 1).doc";
    EXPECT_EQ(ReadFile(first), "one");
    EXPECT_EQ(item->LastVersionPath(), first);
    EXPECT_EQ(item->LastTime(), 0.0) << "only the report moves LastTime";

    item->AfterVersion(false);
    EXPECT_EQ(host.BalloonTitle(), "New version");
    EXPECT_EQ(host.BalloonText(), "report(v 1).doc");
    EXPECT_EQ(host.CountOf("ShowBalloon"), 1);
    EXPECT_EQ(item->LastTime(), *FileDate(file));
    EXPECT_EQ(StoredKey("VersionNum"), "1");

    EXPECT_FALSE(MakeAndReport()) << "an unchanged date makes no version";
    Change("two", 14, 6);
    EXPECT_TRUE(MakeAndReport());
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002"}));
    EXPECT_EQ(ReadFile(ItemFolder(*item) + "002/report(v 2).doc"), "two");
}

// A watch thread reports its version later, on the main thread: a rescan before that
// report must not store the same state of the file a second time.
TEST_F(MakeVersionTest, AVersionNotYetReportedCountsAsTheLastOne)
{
    ASSERT_TRUE(item->MakeVersion(false));
    EXPECT_FALSE(item->MakeVersion(false)) << "same file state, report still pending";
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"001"});
    Change("two", 14, 6);
    EXPECT_TRUE(item->MakeVersion(false)) << "a newer state is stored";
    item->AfterVersion(false);
    EXPECT_EQ(item->LastTime(), *FileDate(file));
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002"}));
}

struct IntervalCase
{
    int Minutes;
    bool Made;
};
void PrintTo(const IntervalCase& c, std::ostream* os)
{
    *os << c.Minutes << " min";
}
class IntervalModeTest : public MakeVersionTest, public ::testing::WithParamInterface<IntervalCase>
{
};

TEST_P(IntervalModeTest, AVersionNeedsTheWholeIntervalSinceTheLastReport)
{
    item->UpdateData([&](TMonItemRecord& r) {
        r.MonMode = mmInterval;
        r.MonModeInterval = EncodeOleDate(1900, 1, 1, 2, 0, 0);
        r.LastTime = EncodeOleDate(2026, 12, 8, 10, 0, 0);
    });
    Change("later", 10 + GetParam().Minutes / 60, GetParam().Minutes % 60);
    EXPECT_EQ(static_cast<bool>(item->MakeVersion(false)), GetParam().Made);
    EXPECT_EQ(Versions(*item).size(), GetParam().Made ? 1u : 0u);
}
INSTANTIATE_TEST_SUITE_P(Boundary, IntervalModeTest,
                         ::testing::Values(IntervalCase{119, false}, IntervalCase{120, true},
                                           IntervalCase{121, true}),
                         [](const auto& i) { return test::RowName(i.index, i.param.Minutes); });

TEST_F(MakeVersionTest, IntervalModeIsSkippedByAForcedVersion)
{
    item->UpdateData([&](TMonItemRecord& r) {
        r.MonMode = mmInterval;
        r.MonModeInterval = EncodeOleDate(1900, 1, 1, 2, 0, 0);
        r.LastTime = EncodeOleDate(2026, 12, 8, 14, 0, 0);
    });
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_TRUE(item->MakeVersion(true));
}

TEST_F(MakeVersionTest, NumberModeMakesEveryNthChangeAndSavesTheCounterEachTime)
{
    item->UpdateData([](TMonItemRecord& r) {
        r.MonMode = mmNumber;
        r.MonModeNumber = 3;
    });
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_EQ(StoredKey("MonModeNumberCount"), "1");
    Change("b", 15, 0);
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_EQ(StoredKey("MonModeNumberCount"), "2");
    Change("c", 16, 0);
    EXPECT_TRUE(item->MakeVersion(false));
    EXPECT_EQ(item->Data().MonModeNumberCount, 0);
    EXPECT_EQ(StoredKey("MonModeNumberCount"), "0");
    EXPECT_EQ(Versions(*item).size(), 1u);
}

TEST_F(MakeVersionTest, ConfirmationYesMakesTheVersion)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeConfirmation = true; });
    host.QueueAnswer(BoxAnswer::Yes);
    EXPECT_TRUE(item->MakeVersion(false));
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].Text, "Create a new version of 'report.doc' ?");
    EXPECT_EQ(host.Boxes()[0].Buttons, BoxButtons::YesNo);
    EXPECT_EQ(host.CountOf("HideMainWindow"), 1);
}

TEST_F(MakeVersionTest, ConfirmationNoIsNotAskedAgainForTheSameFileState)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeConfirmation = true; });
    host.QueueAnswer(BoxAnswer::No);
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_TRUE(Versions(*item).empty());
    EXPECT_EQ(item->LastTime(), *FileDate(file));
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.CountOf("HideMainWindow"), 1);
}

TEST_F(MakeVersionTest, ConfirmationFromAnotherThreadIsAskedOnTheMainThread)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeConfirmation = true; });
    host.QueueAnswer(BoxAnswer::Yes);
    std::atomic<int> result{-1};
    std::thread scan([&] { result = item->MakeVersion(false) ? 1 : 0; });
    // While the question waits for the main thread, a second call is turned away.
    while (!item->Busy())
        std::this_thread::yield();
    EXPECT_FALSE(item->MakeVersion(true));
    EXPECT_TRUE(WaitUntil([&] { return result.load() >= 0; }));
    scan.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(host.OffMainThreadCalls(), 0);
    EXPECT_FALSE(item->Busy());
}

TEST_F(MakeVersionTest, AForcedMakeTurnedAwayWhileAnotherThreadAsksIsMadeWhenThatAttemptEnds)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeConfirmation = true; });
    // While the scan's question is open the user saves again and asks for a version.
    host.WhileNextBoxIsShown([&] {
        Change("two", 15, 0);
        EXPECT_FALSE(item->MakeVersion(true)) << "the item is busy with the question";
    });
    host.QueueAnswer(BoxAnswer::No);
    std::atomic<int> result{-1};
    std::thread scan([&] { result = item->MakeVersion(false) ? 1 : 0; });
    EXPECT_TRUE(WaitUntil([&] { return result.load() >= 0; }));
    scan.join();
    EXPECT_EQ(result.load(), 1) << "the forced version was dropped";
    const auto versions = Versions(*item);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(ReadFile(ItemFolder(*item) + "001/report(v 1).doc"), "two");
    EXPECT_EQ(host.Boxes().size(), 1u) << "a forced version is not asked about";
}

TEST_F(MakeVersionTest, AQuestionWaitingForTheMainThreadGivesUpWhenTheThreadIsStopped)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeConfirmation = true; });
    std::atomic<bool> stop{false};
    std::atomic<int> result{-1};
    std::thread scan([&] {
        MainThreadCalls::SetThreadStopFlag(&stop);
        result = item->MakeVersion(false) ? 1 : 0;
    });
    while (!item->Busy())
        std::this_thread::yield();
    // The main thread joins without running its event loop: the wait must end anyway.
    stop = true;
    items->MainThread().WakeAll();
    scan.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(item->LastTime(), 0.0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.Boxes().empty()) << "an abandoned question is never shown";
}

TEST_F(MakeVersionTest, CompareSkipsAnIdenticalFileButNotOneDifferingByAByte)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeCompare = true; });
    ASSERT_TRUE(MakeAndReport());
    Change("one", 15, 0);
    EXPECT_FALSE(MakeAndReport());
    Change("onf", 15, 1);
    EXPECT_TRUE(MakeAndReport());
}

// Bytes this process has read (rchar: read calls and in-kernel copies alike) or written
// (wchar) so far; -1 without accounting.
long long IoCount(const std::string& which)
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == which + ":")
            return value;
    }
    return -1;
}

TEST_F(MakeVersionTest, CompareWritesNothingForAnEqualFileAndLeavesNothingBehind)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeCompare = true; });
    std::string content(6 * 1024 * 1024 + 3, 'a');
    for (std::size_t i = 0; i < content.size(); i += 4093)
        content[i] = static_cast<char>(i);
    Change(content, 15, 0);
    ASSERT_TRUE(MakeAndReport());
    if (IoCount("rchar") < 0 || IoCount("wchar") < 0)
        GTEST_SKIP() << "no I/O accounting here";
    const auto size = static_cast<long long>(content.size());

    // An equal file: it and its last version are read once each, and nothing is written.
    Change(content, 15, 1);
    long long read = IoCount("rchar"), written = IoCount("wchar");
    EXPECT_EQ(item->MakeVersion(false).Outcome, VersionOutcome::Unchanged);
    EXPECT_LE(IoCount("rchar") - read, 2 * size + size / 4);
    EXPECT_LE(IoCount("wchar") - written, size / 64);
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"001"});
    EXPECT_EQ(ListDir(ItemFolder(*item)).size(), 1u) << "no folder or temporary file stays";
    EXPECT_EQ(item->Data().VersionNum, 1);

    // Its last byte differs: compared to the end, then copied whole.
    content.back() = 'b';
    Change(content, 15, 2);
    read = IoCount("rchar");
    ASSERT_TRUE(MakeAndReport());
    EXPECT_LE(IoCount("rchar") - read, 3 * size + size / 4);
    EXPECT_EQ(ReadFile(item->LastVersionPath()), content);
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"001", "002"}));
}

TEST_F(MakeVersionTest, SizeSkipsAFileOfTheSameSize)
{
    item->UpdateData([](TMonItemRecord& r) { r.MonModeSize = true; });
    ASSERT_TRUE(MakeAndReport());
    Change("xyz", 15, 0);
    EXPECT_FALSE(MakeAndReport());
    Change("four", 15, 1);
    EXPECT_TRUE(MakeAndReport());
}

TEST_F(MakeVersionTest, ALastVersionThatHasGoneCountsAsDifferent)
{
    item->UpdateData([](TMonItemRecord& r) {
        r.MonModeCompare = true;
        r.MonModeSize = true;
    });
    ASSERT_TRUE(MakeAndReport());
    std::filesystem::remove(item->LastVersionPath());
    Change("one", 15, 0);
    EXPECT_TRUE(MakeAndReport());
}

struct NameCase
{
    const char* File;
    TNameMode Mode;
    int Hour;
    const char* Expected;
};
void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.Expected;
}
class NamingTest : public EngineFixture, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(NamingTest, TheVersionFileIsNamedByTheItemsNameMode)
{
    const std::string path = Work(GetParam().File);
    WriteFile(path, "x");
    SetModTime(path, 2026, 12, 8, GetParam().Hour, GetParam().Hour ? 5 : 0, GetParam().Hour ? 9 : 0);
    const TNameMode mode = GetParam().Mode;
    auto item = AddFile(path, [mode](TMonItemRecord& r) { r.NameMode = mode; });
    ASSERT_TRUE(item->MakeVersion(false));
    EXPECT_EQ(item->LastVersionPath(), ItemFolder(*item) + "001/" + GetParam().Expected);
    EXPECT_EQ(ReadFile(item->LastVersionPath()), "x");
}
INSTANTIATE_TEST_SUITE_P(Modes, NamingTest,
                         ::testing::Values(NameCase{"Makefile", nmVersionNumber, 12, "(v 1)Makefile"},
                                           NameCase{"a.txt", nmDateTime, 0, "a(26-12-08).txt"},
                                           NameCase{"report.doc", nmDateTime, 14,
                                                    "report(26-12-08 14-05-09).doc"},
                                           NameCase{"report.doc", nmOriginal, 14, "report.doc"},
                                           NameCase{"a.tar.gz", nmVersionNumber, 14, "a.tar(v 1).gz"}),
                         [](const auto& i) { return test::RowName(i.index, i.param.Expected); });

TEST_F(MakeVersionTest, AForcedVersionOfAnUnchangedFileWritesNothingAndSaysItExists)
{
    ASSERT_TRUE(MakeAndReport());
    const double lastTime = item->LastTime();
    EXPECT_FALSE(item->MakeVersion(true));
    item->AfterVersion(true);
    EXPECT_EQ(Versions(*item).size(), 1u);
    EXPECT_EQ(host.BalloonTitle(), "Version already exists");
    EXPECT_EQ(host.BalloonText(), "report(v 1).doc");
    EXPECT_EQ(item->LastTime(), lastTime);
}

TEST_F(MakeVersionTest, NumbersRunFrom999To1000AndTheNewestIsTheHighest)
{
    item->UpdateData([](TMonItemRecord& r) { r.VersionNum = 998; });
    ASSERT_TRUE(MakeAndReport());
    Change("two", 15, 0);
    ASSERT_TRUE(MakeAndReport());
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"999", "1000"}));
    EXPECT_EQ(item->LastVersionPath(), ItemFolder(*item) + "1000/report(v 2).doc");
    EXPECT_EQ(item->Data().VersionNum, 1000);
}

TEST_F(MakeVersionTest, NumberingMovesPastWhatExistsAndNeverOverwrites)
{
    const std::string base = ItemFolder(*item);
    WriteFile(base + "001/report(v 1).doc", "someone else's");
    WriteFile(base + "003", "a plain file");
    ASSERT_TRUE(item->MakeVersion(false));
    EXPECT_EQ(ReadFile(base + "001/report(v 1).doc"), "someone else's");
    EXPECT_EQ(ReadFile(base + "003"), "a plain file");
    // The stored "(v 1)" counts as a version the record did not know of: the name goes on.
    EXPECT_EQ(item->LastVersionPath(), base + "004/report(v 2).doc");
    EXPECT_EQ(item->Data().VersionNum, 4);
}

TEST_F(MakeVersionTest, AVersionThatCannotBeMadeIsNeitherReportedNorRecorded)
{
    // A file stands where the item's backup folder belongs, so no version folder can be made.
    std::string itemFolder = ItemFolder(*item);
    itemFolder.pop_back();
    WriteFile(itemFolder, "in the way");
    EXPECT_FALSE(item->MakeVersion(false));
    item->AfterVersion(false);
    item->AfterVersion(true);
    EXPECT_EQ(item->LastTime(), 0.0);
    EXPECT_EQ(host.CountOf("ShowBalloon"), 0);
    EXPECT_NE(item->MonStatus(), msBroken);
    EXPECT_FALSE(item->Busy());
}

TEST_F(MakeVersionTest, VersionsMadeTogetherAreEachWholeAndToldInOrderWhateverBecomesOfTheOthers)
{
    auto other = AddFile(Work("docs/other.txt"));
    auto gone = AddFile(Work("docs/gone.txt"));
    auto blocked = AddFile(Work("docs/blocked.txt"));
    WriteFile(other->Path(), "two");
    WriteFile(blocked->Path(), "three");
    std::string blockedFolder = ItemFolder(*blocked);
    blockedFolder.pop_back();
    WriteFile(blockedFolder, "in the way");
    using O = VersionOutcome;
    std::vector<std::pair<std::shared_ptr<TRKMonItem>, O>> told;
    TRKMonItem::MakeVersions({item, gone, blocked, other, item},
                             [&](const auto& i, const VersionResult& r) { told.emplace_back(i, r.Outcome); });
    const decltype(told) expected{{item, O::Made},
                                  {gone, O::SourceGone},
                                  {blocked, O::WriteFailed},
                                  {other, O::Made},
                                  {item, O::NotDue}};
    EXPECT_EQ(told, expected);
    EXPECT_EQ(ReadFile(item->LastVersionPath()), "one");
    EXPECT_EQ(ReadFile(other->LastVersionPath()), "two");
    EXPECT_EQ(std::filesystem::status(other->LastVersionPath()).permissions(),
              std::filesystem::perms::owner_read);
    EXPECT_EQ(other->Data().VersionNum, 1);
    EXPECT_EQ(blocked->Data().VersionNum, 0);
    EXPECT_FALSE(item->Busy() || other->Busy() || blocked->Busy());
}

TEST_F(MakeVersionTest, AMissingFileMakesNoVersionAndLeavesTheStatus)
{
    std::filesystem::remove(file);
    const TMonStatus before = item->MonStatus();
    EXPECT_FALSE(item->MakeVersion(true));
    EXPECT_EQ(item->MonStatus(), before);
    EXPECT_TRUE(Versions(*item).empty());
}

TEST_F(MakeVersionTest, AnUnreadableFileMarksTheItemBrokenInMemory)
{
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (std::ifstream(file).is_open())
        GTEST_SKIP() << "running with rights that read any file";
    EXPECT_FALSE(item->MakeVersion(false));
    EXPECT_EQ(item->MonStatus(), msBroken);
    EXPECT_TRUE(Versions(*item).empty()) << "no empty version folder is left behind";
    EXPECT_EQ(item->Data().VersionNum, 0) << "no version number is used up";
    EXPECT_EQ(item->Data().NameModeNumberCount, 0);
    EXPECT_NE(StoredKey("MonStatus"), "2");
}

TEST_F(MakeVersionTest, PruningAfterAVersionNeverDeletesThatVersion)
{
    item->UpdateData([](TMonItemRecord& r) { r.DelModeNumber = 0; });
    ASSERT_TRUE(MakeAndReport());
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"001"});
    ASSERT_TRUE(std::filesystem::exists(item->LastVersionPath()));

    item->UpdateData([](TMonItemRecord& r) {
        r.DelMode = dmInterval;
        r.DelModeInterval = kZeroDuration;
    });
    const std::string first = item->LastVersionPath();
    SetAge(ItemFolder(*item) + "001", 3);
    Change("two", 15, 0);
    ASSERT_TRUE(MakeAndReport());
    EXPECT_FALSE(std::filesystem::exists(first)) << "the older version is past the age limit";
    EXPECT_EQ(item->LastVersionPath(), ItemFolder(*item) + "002/report(v 2).doc");
    EXPECT_TRUE(std::filesystem::exists(item->LastVersionPath()));
}

TEST_F(MakeVersionTest, AFileRewrittenWhileItIsCopiedGivesAWholeVersion)
{
    const std::size_t size = 8 << 20;
    WriteFile(file, std::string(size, 'A'));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        // Rewritten in place, so every state of the file has its full size.
        for (char c = 'B'; !done && c <= 'Z'; ++c) {
            std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
            out << std::string(size, c);
        }
    });
    const bool made = static_cast<bool>(item->MakeVersion(true));
    done = true;
    writer.join();
    if (made) {
        const std::string copy = ReadFile(item->LastVersionPath());
        ASSERT_EQ(copy.size(), size);
        EXPECT_EQ(copy.find_first_not_of(copy[0]), std::string::npos)
            << "a version mixes two states of the file";
    }
}

} // namespace
} // namespace morvane::test
