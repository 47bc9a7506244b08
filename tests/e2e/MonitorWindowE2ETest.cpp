// The monitor's main window with the real agent: what the window shows follows every
// report of the agent, however busy the window was when it came.
#include "MonitorE2EFixture.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/Paths.h"

#include <QThread>
#include <QTreeWidget>
#include <filesystem>

namespace morvane::e2e {
namespace {

using test::WaitUntil;
using test::WriteFile;
using namespace std::chrono_literals;

// Waits without handling any event of this thread, as a window busy with other work.
bool WaitBusy(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class MonitorWindowE2E : public MonitorE2E
{
protected:
    // Files the agent monitors, added through a client before any monitor runs.
    void AgentMonitors(const std::vector<std::string>& paths)
    {
        MonitorClient client;
        ASSERT_TRUE(client.Attach());
        for (const std::string& path : paths) {
            WriteFile(path, "x");
            ASSERT_TRUE(client.RequestRecord(MsgAdd, ItemRecordFor(path)));
            ASSERT_TRUE(WaitUntil([&] { return !ListValue(env, path, "FileID").empty(); }, 20s)) << path;
        }
    }

    std::string Status(const std::string& path)
    {
        Select(path);
        const int row = Form().RowOfPath(path);
        return row < 0 ? std::string() : Form().FileList()->SubItem(row, 0).toStdString();
    }
};

TEST_F(MonitorWindowE2E, ReportsThatComeWhileTheListLoadsAreAllShown)
{
    // Files added one by one: their folder watches them only, so a file that goes is
    // reported missing.
    WriteFile(env.Home() + "mvlist.srv", "[_Default settings]\nMonitored=1\nMonMode=0\nIsWholeFolder=0\n"
                                         "FolderWait=0\n");
    StartAgent(false);
    const std::string first = env.Work() + "first.txt";
    const std::string second = env.Work() + "second.txt";
    AgentMonitors({first, second});

    program = std::make_unique<monitor::MonitorProgram>();
    // The list is loaded with both files present; before the window takes the agent's
    // reports, both go missing, one after the other, and the window stays busy past the
    // time the agent would once wait for it.
    program->SetOnListLoaded([&] {
        for (const std::string& path : {first, second}) {
            std::filesystem::remove(path);
            EXPECT_TRUE(WaitBusy([&] { return ListValue(env, path, "MonStatus") == "2"; }, 20s)) << path;
        }
        QThread::msleep(2500);
    });
    ASSERT_TRUE(program->Start());
    EXPECT_TRUE(WaitUntil([&] { return Status(first) == "Broken"; }, 10s)) << Status(first);
    EXPECT_TRUE(WaitUntil([&] { return Status(second) == "Broken"; }, 10s)) << Status(second);
}

} // namespace
} // namespace morvane::e2e
