#include "common/TestSupport.h"
#include "support/components/TkitCustomFolderMonitor.h"

#include <QDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using std::chrono::milliseconds;

namespace {

void Pump(milliseconds duration)
{
    test::WaitUntil([] { return false; }, duration);
}

class FolderMonitorTest : public ::testing::Test
{
protected:
    void Watch(const std::string& folder, TFolderMonitorFilters filters, bool subTree)
    {
        m_monitor.SetFolder(folder);
        m_monitor.SetNotifyFilters(filters);
        m_monitor.SetWatchSubTree(subTree);
        m_monitor.SetOnChange([this] { ++m_reports; });
        m_monitor.SetActive(true);
        // The worker sets its watch up on its own thread, after SetActive has returned.
        ASSERT_TRUE(test::WaitUntil([&] {
            return m_monitor.Thread() && (m_monitor.Thread()->Watching() || !m_monitor.LastError().empty());
        }));
    }

    test::TestEnv m_env;
    TkitFolderMonitor m_monitor;
    int m_reports = 0;
};

TEST_F(FolderMonitorTest, BurstOfHundredChangesGivesOneReport)
{
    Watch(m_env.Work(), fmfFileNameChange | fmfWriteChange, false);
    for (int i = 0; i < 100; ++i)
        test::WriteFile(m_env.Work() + "f" + std::to_string(i) + ".txt", "x");
    ASSERT_TRUE(test::WaitUntil([&] { return m_reports >= 1; }));
    // A settle lasts a second at most; by then every report of the burst is in.
    Pump(milliseconds(1200));
    // A loaded machine may pause the burst long enough to split it once or twice; a
    // report per change is the fault.
    EXPECT_LE(m_reports, 3);
    // A later change is a new report.
    const int before = m_reports;
    std::filesystem::remove(m_env.Work() + "f0.txt");
    EXPECT_TRUE(test::WaitUntil([&] { return m_reports == before + 1; }));
}

struct FilterCase
{
    const char* Name;
    TFolderMonitorFilters Filters;
    bool SubTree;
    std::function<void(const std::string& work)> Change;
    bool Reported;
};

class FolderFilterTest : public FolderMonitorTest, public ::testing::WithParamInterface<FilterCase>
{
};

TEST_P(FolderFilterTest, ReportsWhatTheFiltersSelect)
{
    const FilterCase& c = GetParam();
    test::WriteFile(m_env.Work() + "existing.txt", "x");
    test::WriteFile(m_env.Work() + "sub/deeper/inner.txt", "x");
    Watch(m_env.Work(), c.Filters, c.SubTree);
    c.Change(m_env.Work());
    if (c.Reported) {
        EXPECT_TRUE(test::WaitUntil([&] { return m_reports >= 1; }));
    } else {
        Pump(milliseconds(300));
        EXPECT_EQ(m_reports, 0);
    }
}

void CreateFile(const std::string& work)
{
    test::WriteFile(work + "new.txt", "x");
}
void CreateFolder(const std::string& work)
{
    std::filesystem::create_directory(work + "newdir");
}
void AppendToFile(const std::string& work)
{
    test::WriteFile(work + "existing.txt", "longer");
}
void ChangeMode(const std::string& work)
{
    std::filesystem::permissions(work + "existing.txt", std::filesystem::perms::owner_read);
}
void CreateDeepFile(const std::string& work)
{
    test::WriteFile(work + "sub/deeper/new.txt", "x");
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FolderFilterTest,
    ::testing::Values(
        FilterCase{"FileNameSeesNewFile", fmfFileNameChange, false, CreateFile, true},
        FilterCase{"DirNameIgnoresNewFile", fmfDirNameChange, false, CreateFile, false},
        FilterCase{"DirNameSeesNewFolder", fmfDirNameChange, false, CreateFolder, true},
        FilterCase{"FileNameIgnoresNewFolder", fmfFileNameChange, false, CreateFolder, false},
        FilterCase{"WriteSeesContent", fmfWriteChange, false, AppendToFile, true},
        FilterCase{"NamesIgnoreContent", fmfFileNameChange | fmfDirNameChange, false, AppendToFile, false},
        FilterCase{"AttributeSeesMode", fmfAttributeChange, false, ChangeMode, true},
        FilterCase{"SubTreeSeesDeepFile", fmfFileNameChange, true, CreateDeepFile, true},
        FilterCase{"NoSubTreeIgnoresDeepFile", fmfFileNameChange, false, CreateDeepFile, false}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.Name); });

TEST_F(FolderMonitorTest, SubTreeSeesFoldersMadeAfterTheStart)
{
    Watch(m_env.Work(), fmfFileNameChange | fmfDirNameChange, true);
    std::filesystem::create_directory(m_env.Work() + "later");
    ASSERT_TRUE(test::WaitUntil([&] { return m_reports == 1; }));
    Pump(milliseconds(100));
    test::WriteFile(m_env.Work() + "later/inside.txt", "x");
    EXPECT_TRUE(test::WaitUntil([&] { return m_reports == 2; }));
}

TEST_F(FolderMonitorTest, SettersReplaceTheWorkerOnlyWhenSomethingChanges)
{
    EXPECT_EQ(m_monitor.Folder(), "/");
    m_monitor.SetActive(true);
    EXPECT_EQ(m_monitor.Thread(), nullptr); // no handler, no worker
    Watch(m_env.Work(), fmfFileNameChange, false);
    ASSERT_NE(m_monitor.Thread(), nullptr);
    const auto first = m_monitor.Thread()->Id();
    m_monitor.SetFolder(m_env.Work());
    EXPECT_EQ(m_monitor.Thread()->Id(), first);
    m_monitor.SetActive(true);
    EXPECT_NE(m_monitor.Thread()->Id(), first);
    m_monitor.SetActive(false);
    EXPECT_EQ(m_monitor.Thread(), nullptr);
}

TEST_F(FolderMonitorTest, BlankFolderWatchesTheCurrentDirectory)
{
    const QString old = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(m_env.Work()));
    Watch("  ", fmfFileNameChange, false);
    QDir::setCurrent(old);
    EXPECT_EQ(std::filesystem::path(m_monitor.Thread()->Folder()),
              std::filesystem::path(m_env.Work()).parent_path());
    test::WriteFile(m_env.Work() + "here.txt", "x");
    EXPECT_TRUE(test::WaitUntil([&] { return m_reports >= 1; }));
}

TEST_F(FolderMonitorTest, MissingFolderIsReportedAndLaterFolderIsWatched)
{
    Watch(m_env.Work() + "notyet/", fmfFileNameChange, false);
    EXPECT_TRUE(test::WaitUntil([&] { return !m_monitor.LastError().empty(); }));
    std::filesystem::create_directory(m_env.Work() + "notyet");
    m_monitor.SetFolder(m_env.Work() + "notyet");
    ASSERT_TRUE(test::WaitUntil([&] { return m_monitor.LastError().empty(); }));
    Pump(milliseconds(50));
    test::WriteFile(m_env.Work() + "notyet/a.txt", "x");
    EXPECT_TRUE(test::WaitUntil([&] { return m_reports >= 1; }));
}

} // namespace
