// Start-up and close of the monitor program, in this process over a fake agent.
#include "monitor/MonitorProgram.h"

#include "FakeAgent.h"
#include "common/TestSupport.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"
#include "platform/IniFile.h"
#include "platform/NamedMutex.h"
#include "support/components/MessageBoxes.h"

#include <gtest/gtest.h>

namespace morvane::test {
namespace {

class MonitorProgramTest : public ::testing::Test
{
protected:
    MonitorProgramTest()
    {
        MessageBoxes::Reset();
        IniFile::ClearCache();
    }

    void WriteAgentNotFoundText(const std::string& text)
    {
        WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nLanguage=English\n");
        WriteFile(env.Home() + "Langs/English.ini", "[SystemMessages]\nMesAgentNotFound=" + text + "\n");
    }

    TestEnv env;
};

TEST_F(MonitorProgramTest, WithoutAnAgentTheUserIsAskedAndNothingStarts)
{
    WriteAgentNotFoundText("No agent here. Start it?");
    MessageBoxes::PushAnswer(BoxAnswer::No);
    monitor::MonitorProgram program;
    EXPECT_FALSE(program.Start());
    EXPECT_EQ(program.Form(), nullptr);
    EXPECT_EQ(MessageBoxes::TakeShownTexts(), std::vector<std::string>{"No agent here. Start it?"});
}

TEST_F(MonitorProgramTest, AnAgentThatCannotBeStartedIsSaid)
{
    MessageBoxes::PushAnswer(BoxAnswer::Yes);
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    monitor::MonitorProgram program;
    EXPECT_FALSE(program.Start());
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Agent may not be started yet. Do you want to start it?");
    // The test program's folder holds no agent.
    EXPECT_NE(shown[1].find("quennet"), std::string::npos);
}

TEST_F(MonitorProgramTest, StartPublishesTheMonitorAndCloseWithdrawsIt)
{
    FakeAgent agent(env.Home());
    monitor::MonitorProgram program;
    ASSERT_TRUE(program.Start());
    SharedBlock* block = agent.Block();
    EXPECT_EQ(block->MonitorRunning, 1);
    EXPECT_NE(block->MonitorWnd, 0u);
    EXPECT_TRUE(program.Form()->isVisible());
    EXPECT_TRUE(program.Form()->Hooked());
    EXPECT_FALSE(NamedMutex::TryAcquire(kMonitorMutexName).has_value());

    program.Form()->close();
    EXPECT_EQ(block->MonitorRunning, 0);
    IniFile layout(program.LayoutFile());
    for (const char* section : {"Form1", "ToolBar1", "FileList", "VerList", "StatusBar1", "CoolBar1"})
        EXPECT_TRUE(layout.SectionExists(section)) << section;
    EXPECT_EQ(layout.ReadString("Form1", "Form1.Visible", "none"), "none");
}

TEST_F(MonitorProgramTest, TheLayoutComesBackAtTheNextStart)
{
    FakeAgent agent(env.Home());
    {
        monitor::MonitorProgram program;
        ASSERT_TRUE(program.Start());
        program.Form()->Icons1Click();
        program.Form()->List2Click();
        program.Form()->close();
    }
    IniFile::ClearCache();
    monitor::MonitorProgram program;
    ASSERT_TRUE(program.Start());
    EXPECT_EQ(program.Form()->FileList()->ViewStyle(), monitor::ListView::vsIcon);
    EXPECT_FALSE(program.Form()->FileList()->Checkboxes());
    EXPECT_EQ(program.Form()->VerList()->ViewStyle(), monitor::ListView::vsList);
    program.Form()->close();
}

TEST_F(MonitorProgramTest, ASecondStartBringsTheFirstToTheFront)
{
    FakeAgent agent(env.Home());
    monitor::MonitorProgram first;
    ASSERT_TRUE(first.Start());
    first.Form()->hide();
    {
        monitor::MonitorProgram second;
        EXPECT_FALSE(second.Start());
        EXPECT_EQ(second.Form(), nullptr);
    }
    EXPECT_TRUE(WaitUntil([&] { return first.Form()->isVisible(); }));
    first.Form()->close();
}

TEST_F(MonitorProgramTest, AFlagLeftByADeadMonitorDoesNotBlockTheStart)
{
    FakeAgent agent(env.Home());
    agent.Block()->MonitorRunning = 1;
    agent.Block()->MonitorWnd = 0x12345678;
    monitor::MonitorProgram program;
    ASSERT_TRUE(program.Start());
    EXPECT_NE(agent.Block()->MonitorWnd, 0x12345678u);
    EXPECT_EQ(agent.Block()->MonitorRunning, 1);
    program.Form()->close();
}

TEST_F(MonitorProgramTest, TheAgentsCloseEndsTheMonitor)
{
    FakeAgent agent(env.Home());
    monitor::MonitorProgram program;
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(agent.Report(MsgClose));
    EXPECT_TRUE(WaitUntil([&] { return !program.Form()->isVisible(); }));
    EXPECT_EQ(agent.Block()->MonitorRunning, 0);
}

} // namespace
} // namespace morvane::test
