#include "AgentFixture.h"

#include <algorithm>
#include <filesystem>

namespace morvane::e2e {

void AgentTest::SetUp()
{
    WriteQuickDefaults(env, folderWait);
    agent = std::make_unique<AgentProcess>(env, autoAnswer);
    agent->Start();
    ASSERT_TRUE(agent->WaitReady()) << agent->Output();
    ASSERT_TRUE(mon.Attach());
    mon.BecomeMonitor(true);

    sentinel = env.Work() + "sentinel/mark.txt";
    test::WriteFile(sentinel, "mark");
    Add(sentinel);
    ASSERT_FALSE(HasFailure()) << agent->Output();
    Sync();
    mon.ClearReports();
}

void AgentTest::TearDown()
{
    if (HasFailure() && agent)
        std::fprintf(stderr, "--- agent output ---\n%s\n", agent->Output().c_str());
}

TMonItemRecord AgentTest::Add(const std::string& path)
{
    const std::size_t before = mon.ReportsOf(MsgAdd).size();
    EXPECT_TRUE(mon.RequestRecord(MsgAdd, ItemRecordFor(path)));
    EXPECT_TRUE(mon.WaitReports(MsgAdd, before + 1)) << "no ADD echo for " << path;
    const auto adds = mon.ReportsOf(MsgAdd);
    for (auto it = adds.rbegin(); it != adds.rend(); ++it) {
        if (it->Record.Path.Get() == path)
            return it->Record;
    }
    ADD_FAILURE() << "the ADD echo does not carry " << path;
    return EmptyItemRecord();
}

std::string AgentTest::MakeFile(const std::string& name, const std::string& text)
{
    const std::string path = env.Work() + name;
    test::WriteFile(path, text);
    return path;
}

std::vector<MonitorClient::Report> AgentTest::Sync()
{
    auto isMark = [&](const MonitorClient::Report& r) {
        return r.Index == MsgVersion && r.Record.Path.Get() == sentinel;
    };
    auto marks = [&] {
        return std::count_if(mon.Reports().begin(), mon.Reports().end(), isMark);
    };
    const auto before = marks();
    EXPECT_TRUE(mon.RequestPath(MsgClear, sentinel, mon.Block()->RequestOrigin));
    EXPECT_TRUE(test::WaitUntil([&] { return marks() > before; })) << "the agent did not answer CLEAR";
    std::vector<MonitorClient::Report> others;
    for (const auto& r : mon.Reports()) {
        if (!isMark(r))
            others.push_back(r);
    }
    return others;
}

} // namespace morvane::e2e
