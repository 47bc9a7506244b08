#include "platform/RegistryStore.h"

#include "common/TestSupport.h"
#include "platform/IniFile.h"
#include "platform/RegistryChangeNotification.h"

#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace morvane;
using morvane::test::HelperPath;
using morvane::test::ReadFile;
using morvane::test::TestEnv;
using namespace std::chrono_literals;

namespace {

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

class RegistryStoreTest : public ::testing::Test
{
protected:
    TestEnv env;
    std::string path = env.Work() + "config/morvane/registry.ini";
    RegistryStore store{path};
};

// Writes through one spelling, reads through another.
struct CaseRow
{
    std::string writeKey, writeName, readKey, readName;
    bool found;
};

class StoreCaseTest : public RegistryStoreTest, public ::testing::WithParamInterface<CaseRow>
{
};

TEST_P(StoreCaseTest, KeysAndValueNamesIgnoreCase)
{
    const CaseRow& row = GetParam();
    ASSERT_TRUE(store.WriteValue(kUser, row.writeKey, row.writeName, "data"));
    const auto value = store.ReadValue(kUser, row.readKey, row.readName);
    EXPECT_EQ(value.has_value(), row.found);
    if (row.found) {
        EXPECT_EQ(*value, "data");
    }
    EXPECT_EQ(store.KeyExists(kUser, row.readKey), row.found || row.readKey == row.writeKey);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreCaseTest,
    ::testing::Values(CaseRow{"Software/Morvane", "Mode", "SOFTWARE/morvane", "mode", true},
                      CaseRow{"Software/Morvane", "Mode", "/software//MORVANE/", "MODE", true},
                      CaseRow{"Software/Morvane", "", "software/morvane", "", true},
                      CaseRow{"Software/Morvane", "Mode", "Software/Morvan", "Mode", false},
                      CaseRow{"Software/Morvane", "Mode", "Software/Morvane/Sub", "Mode", false}),
    test::RowNamesBy(&CaseRow::readKey, &CaseRow::readName));

// Value names and texts that the INI file could misread if stored as they stand.
struct ValueRow
{
    std::string name, text;
};

class StoreValueTest : public RegistryStoreTest, public ::testing::WithParamInterface<ValueRow>
{
};

TEST_P(StoreValueTest, NamesAndTextsRoundTripAndStayApart)
{
    const ValueRow& row = GetParam();
    ASSERT_TRUE(store.WriteValue(kUser, "k", "", "default"));
    ASSERT_TRUE(store.WriteValue(kUser, "k", row.name, row.text));
    IniFile::ClearCache();
    const RegistryStore again(path);
    EXPECT_EQ(again.ReadValue(kUser, "k", row.name), row.text);
    if (!row.name.empty()) {
        EXPECT_EQ(again.ReadValue(kUser, "k", ""), "default");
    }
    const auto names = again.ValueNames(kUser, "k");
    EXPECT_NE(std::find(names.begin(), names.end(), row.name), names.end());
}

INSTANTIATE_TEST_SUITE_P(Table, StoreValueTest,
                         ::testing::Values(ValueRow{"", "the default value"}, ValueRow{"@", "at sign"},
                                           ValueRow{"a=b", "x=y"}, ValueRow{" padded ", "  lead and trail  "},
                                           ValueRow{"%41", "100%"}, ValueRow{"[section]", "\"quoted\""},
                                           ValueRow{";comment", ""}, ValueRow{"caf\xc3\xa9", "\xe2\x82\xac"}),
                         test::RowNamesBy(&ValueRow::name, &ValueRow::text));

TEST_F(RegistryStoreTest, MissingValuesAndKeysReadAsNothing)
{
    EXPECT_FALSE(store.ReadValue(kUser, "none", "").has_value());
    ASSERT_TRUE(store.CreateKey(kUser, "empty/key"));
    EXPECT_TRUE(store.KeyExists(kUser, "empty/key"));
    EXPECT_TRUE(store.KeyExists(kUser, "EMPTY"));
    EXPECT_FALSE(store.ReadValue(kUser, "empty/key", "").has_value());
    EXPECT_TRUE(store.ValueNames(kUser, "empty/key").empty());
    // Roots are apart from each other.
    EXPECT_FALSE(store.KeyExists(RegistryRoot::LocalMachine, "empty"));
    // The file is private to the user.
    struct stat st = {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryStoreTest, RefusesWhatItCannotKeepAndKeepsTheRest)
{
    ASSERT_TRUE(store.WriteValue(kUser, "k", "v", "old"));
    EXPECT_FALSE(store.WriteValue(kUser, "k", "v", "line\nbreak"));
    EXPECT_FALSE(store.WriteValue(kUser, "k", "v", std::string(RegistryStore::kMaxValueLength + 1, 'x')));
    EXPECT_FALSE(store.WriteValue(kUser, "bad]key", "v", "x"));
    EXPECT_FALSE(store.DeleteKey(kUser, ""));
    EXPECT_EQ(store.ReadValue(kUser, "k", "v"), "old");
    EXPECT_TRUE(store.WriteValue(kUser, "k", "v", std::string(RegistryStore::kMaxValueLength, 'x')));
}

// Recursive delete: which keys are left of a small tree.
struct DeleteRow
{
    std::string deleted;
    std::vector<std::string> left;
};

class StoreDeleteTest : public RegistryStoreTest, public ::testing::WithParamInterface<DeleteRow>
{
};

TEST_P(StoreDeleteTest, DeletesTheKeyAndEverythingBelowIt)
{
    const std::vector<std::string> tree{"a", "a/b", "a/b/c", "a/bc", "ab", "x"};
    for (const std::string& key : tree)
        ASSERT_TRUE(store.WriteValue(kUser, key, "", key));
    ASSERT_TRUE(store.DeleteKey(kUser, GetParam().deleted));
    std::vector<std::string> left;
    for (const std::string& key : tree)
        if (store.ReadValue(kUser, key, "").has_value())
            left.push_back(key);
    EXPECT_EQ(left, GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(Table, StoreDeleteTest,
                         ::testing::Values(DeleteRow{"A/B", {"a", "a/bc", "ab", "x"}},
                                           DeleteRow{"a", {"ab", "x"}},
                                           DeleteRow{"a/b/c/d", {"a", "a/b", "a/b/c", "a/bc", "ab", "x"}},
                                           DeleteRow{"missing", {"a", "a/b", "a/b/c", "a/bc", "ab", "x"}}),
                         test::RowNamesBy(&DeleteRow::deleted));

TEST_F(RegistryStoreTest, SubKeysAreListedOnceInTheirFirstSpelling)
{
    for (const char* key : {"p/One/deep", "p/two", "P/ONE", "p/Two/x"})
        ASSERT_TRUE(store.CreateKey(kUser, key));
    EXPECT_EQ(store.SubKeys(kUser, "p"), (std::vector<std::string>{"One", "two"}));
}

// A change notification on one key: what wakes it and what does not.
struct NoticeRow
{
    std::string watched;
    bool subtree;
    unsigned filter;
    std::string changedKey; // written by another process
    bool reported;
};

class StoreNoticeTest : public RegistryStoreTest, public ::testing::WithParamInterface<NoticeRow>
{
protected:
    bool ChildWrites(const std::string& key, const std::string& name, const std::string& text)
    {
        return QProcess::execute(QString::fromStdString(HelperPath("registry_child")),
                                 {QString::fromStdString(path), QString::number(int(kUser)),
                                  QString::fromStdString(key), QString::fromStdString(name),
                                  QString::fromStdString(text)}) == 0;
    }
};

TEST_P(StoreNoticeTest, ReportsAChangeMadeByAnotherProcessWhenTheFilterSelectsIt)
{
    const NoticeRow& row = GetParam();
    ASSERT_TRUE(store.WriteValue(kUser, "watched/sub", "v", "0"));
    RegistryChangeNotification notice(path, kUser, row.watched, row.subtree, row.filter);
    ASSERT_TRUE(ChildWrites(row.changedKey, "v", "1"));
    const auto expected = row.reported ? RegistryChangeNotification::WaitResult::Changed
                                       : RegistryChangeNotification::WaitResult::Timeout;
    EXPECT_EQ(notice.Wait(row.reported ? 10s : 300ms), expected);
    // Each change is reported once.
    EXPECT_EQ(notice.Wait(50ms), RegistryChangeNotification::WaitResult::Timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreNoticeTest,
    ::testing::Values(NoticeRow{"watched/sub", false, kRegNotifyChangeLastSet, "watched/sub", true},
                      NoticeRow{"WATCHED/SUB", false, kRegNotifyChangeLastSet, "watched/sub", true},
                      NoticeRow{"watched", false, kRegNotifyChangeLastSet, "watched/sub", false},
                      NoticeRow{"watched", true, kRegNotifyChangeLastSet, "watched/sub", true},
                      NoticeRow{"watched", false, kRegNotifyChangeName, "watched/new", true},
                      NoticeRow{"watched/sub", false, kRegNotifyChangeName, "watched/sub", false},
                      NoticeRow{"watched", true, kRegNotifyChangeLastSet, "other", false}),
    test::RowNamesBy(&NoticeRow::watched, &NoticeRow::changedKey));

TEST_F(RegistryStoreTest, AStopEndsAWaitAtOnce)
{
    RegistryChangeNotification notice(path, kUser, "k", true, kRegNotifyChangeLastSet | kRegNotifyChangeName);
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        notice.RequestStop();
    });
    EXPECT_EQ(notice.Wait(), RegistryChangeNotification::WaitResult::Stopped);
    stopper.join();
}

} // namespace
