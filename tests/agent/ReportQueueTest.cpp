#include "agent/ReportQueue.h"

#include "common/TestSupport.h"
#include "platform/MessageWindow.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace morvane;
using morvane::test::WaitUntil;

namespace {

// The monitor's side in one process: takes the record when it handles a report, and
// (when it acknowledges) clears the handshake flag as a monitor does.
class ReportQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        block->MessageIds[MsgVersion] = 0xC001;
        block->MessageIds[MsgAdd] = 0xC002;
        block->MessageIds[MsgActivate] = 0xC003;
        monitor.SetHandler([this](const WindowMessage& msg) {
            Seen seen{msg.Msg, msg.WParam, block->ItemRecord.Path.Get(), block->ItemRecord.VersionNum};
            received.push_back(seen);
            if (acknowledge)
                block->AddHandshake = false;
        });
        block->MonitorWnd = monitor.Handle();
    }

    TMonItemRecord Record(int n)
    {
        TMonItemRecord r = EmptyItemRecord();
        r.Path.Set("/data/file" + std::to_string(n) + ".txt");
        r.VersionNum = n;
        return r;
    }

    struct Seen
    {
        std::uint32_t Msg, WParam;
        std::string Path;
        int VersionNum;
    };

    test::TestEnv env;
    std::unique_ptr<SharedBlock> block = std::make_unique<SharedBlock>();
    MessageWindow monitor;
    ReportQueue queue{block.get()};
    std::vector<Seen> received;
    bool acknowledge = true;
};

} // namespace

TEST_F(ReportQueueTest, BurstOfReportsArrivesEachWithItsOwnRecordInOrder)
{
    for (int n = 1; n <= 20; ++n)
        queue.Post(MsgVersion, Record(n));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 20; }));
    for (int n = 1; n <= 20; ++n) {
        const Seen& seen = received[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(seen.Msg, 0xC001u);
        EXPECT_EQ(seen.Path, "/data/file" + std::to_string(n) + ".txt");
        EXPECT_EQ(seen.VersionNum, n);
    }
    EXPECT_EQ(queue.Waiting(), 0u);
}

TEST_F(ReportQueueTest, MonitorThatNeverAcknowledgesStillGetsIntactRecordsAfterTheDeadline)
{
    acknowledge = false;
    queue.SetDeadline(std::chrono::milliseconds(300));
    for (int n = 1; n <= 5; ++n)
        queue.Post(MsgAdd, Record(n), 0);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 5; }));
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(received[static_cast<std::size_t>(n - 1)].VersionNum, n);
}

TEST_F(ReportQueueTest, ReportsToNoWindowDoNotHoldTheWay)
{
    block->MonitorWnd = 0;
    for (int n = 1; n <= 5; ++n)
        queue.Post(MsgVersion, Record(n));
    EXPECT_EQ(queue.Waiting(), 0u) << "a failed post frees the way at once";
    EXPECT_FALSE(block->AddHandshake);
}

TEST_F(ReportQueueTest, BareReportDoesNotTouchTheRecord)
{
    block->ItemRecord = Record(7);
    EXPECT_TRUE(queue.PostBare(MsgActivate));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0].Msg, 0xC003u);
    EXPECT_EQ(received[0].VersionNum, 7);
}

TEST_F(ReportQueueTest, ClearDropsWaitingReports)
{
    acknowledge = false;
    queue.SetDeadline(std::chrono::hours(1));
    for (int n = 1; n <= 3; ++n)
        queue.Post(MsgVersion, Record(n));
    EXPECT_EQ(queue.Waiting(), 2u);
    queue.Clear();
    EXPECT_EQ(queue.Waiting(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    EXPECT_FALSE(WaitUntil([&] { return received.size() > 1; }, std::chrono::milliseconds(100)));
}

TEST_F(ReportQueueTest, AMonitorsRequestInTheSlotIsNeverWrittenOverBeforeTheAgentReadsIt)
{
    ASSERT_TRUE(block->ClaimRecord(true));
    block->ItemRecord = Record(99);
    queue.SetDeadline(std::chrono::seconds(30));
    queue.Post(MsgVersion, Record(1));
    EXPECT_FALSE(WaitUntil([&] { return !received.empty(); }, std::chrono::milliseconds(200)));
    EXPECT_EQ(block->ItemRecord.VersionNum, 99) << "the request's record was replaced";
    // The agent has read the request: the report goes.
    block->ReleaseRequestRecord();
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0].VersionNum, 1);
    // While a report waits to be taken, the monitor cannot claim the slot.
    acknowledge = false;
    queue.Post(MsgVersion, Record(2));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
    EXPECT_FALSE(block->ClaimRecord(true));
}

namespace {

// A report the monitor has not taken yet holds back the next one for as long as that
// monitor runs and is the one registered; only a monitor that is gone loses the way.
struct HoldCase
{
    const char* Name;
    bool MonitorAlive;
    bool OtherWindowRegistered;
    bool MonitorRunningCleared;
    bool SecondWaits;
};

class ReportHoldTest : public ReportQueueTest, public ::testing::WithParamInterface<HoldCase>
{
};

} // namespace

TEST_P(ReportHoldTest, ABusyMonitorKeepsItsReportPastTheDeadline)
{
    const HoldCase& c = GetParam();
    block->MonitorRunning = 1;
    acknowledge = false;
    queue.SetDeadline(std::chrono::milliseconds(100));
    queue.SetMonitorAlive([&] { return c.MonitorAlive; });
    queue.Post(MsgVersion, Record(1));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    MessageWindow other;
    if (c.OtherWindowRegistered)
        block->MonitorWnd = other.Handle();
    if (c.MonitorRunningCleared)
        block->MonitorRunning = 0;
    queue.Post(MsgVersion, Record(2));
    if (c.SecondWaits) {
        EXPECT_FALSE(WaitUntil([&] { return queue.Waiting() == 0; }, std::chrono::milliseconds(600)));
        EXPECT_EQ(block->ItemRecord.VersionNum, 1) << "the first report's record was written over";
        // The monitor takes the record: the next report goes.
        block->AddHandshake = false;
    }
    EXPECT_TRUE(WaitUntil([&] { return queue.Waiting() == 0; }));
    EXPECT_EQ(block->ItemRecord.VersionNum, 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportHoldTest,
                         ::testing::Values(HoldCase{"MonitorRuns", true, false, false, true},
                                           HoldCase{"MonitorGone", false, false, false, false},
                                           HoldCase{"AnotherMonitorRegistered", true, true, false, false},
                                           HoldCase{"MonitorClosing", true, false, true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });
