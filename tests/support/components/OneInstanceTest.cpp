#include "common/TestSupport.h"
#include "platform/NamedMutex.h"
#include "support/components/TkitOneInstance.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

using namespace morvane;

namespace {

// One run of the helper program: a real second process.
class Instance
{
public:
    Instance(const std::string& title, const std::string& identifier)
    {
        m_process.start(QString::fromStdString(test::HelperPath("one_instance_child")),
                        {QString::fromStdString(title), QString::fromStdString(identifier)});
        m_process.waitForStarted(10000);
    }
    ~Instance() { Kill(); }

    // Waits for a line of output; "" when the process ended or the deadline passed.
    std::string ReadLine()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning &&
               std::chrono::steady_clock::now() < deadline)
            m_process.waitForReadyRead(100);
        return m_process.readLine().trimmed().toStdString();
    }
    int Finish()
    {
        if (!m_process.waitForFinished(30000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void Kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill(); // SIGKILL: nothing is cleaned up
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
};

TEST(OneInstanceProcessTest, SecondStartBringsTheFirstForwardAndEndsAndAKilledFirstBlocksNothing)
{
    test::TestEnv env;
    auto first = std::make_unique<Instance>("Editor", "");
    ASSERT_EQ(first->ReadLine(), "RUNNING");

    struct Start
    {
        const char* Title;
        const char* Identifier;
        bool Runs;
    };
    const Start starts[] = {
        {"Editor", "", false},     // the same program again
        {"Editor", "Other", true}, // another identifier is another instance
        {"Viewer", "", true},      // another title too
        {"Editor", "", false},     // and the first still holds its own
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(std::string(start.Title) + "/" + start.Identifier);
        Instance next(start.Title, start.Identifier);
        if (start.Runs) {
            EXPECT_EQ(next.ReadLine(), "RUNNING");
        } else {
            EXPECT_EQ(next.ReadLine(), "ANOTHER");
            EXPECT_EQ(next.Finish(), 3);
            EXPECT_EQ(first->ReadLine(), "ACTIVATED");
        }
    }

    first->Kill();
    first.reset();
    Instance afterCrash("Editor", "");
    EXPECT_EQ(afterCrash.ReadLine(), "RUNNING");
    Instance secondAfterCrash("Editor", "");
    EXPECT_EQ(secondAfterCrash.ReadLine(), "ANOTHER");
    EXPECT_EQ(afterCrash.ReadLine(), "ACTIVATED");
}

// Records what the component asks of the program.
class FakeShell : public OneInstanceShell
{
public:
    QString Title = "Editor";
    QString Exe = "/opt/Tools/editor";
    bool ShowMain = true;
    bool Terminated = false;
    std::vector<QString> Boxes;
    QString ApplicationTitle() const override { return Title; }
    QString ApplicationExeName() const override { return Exe; }
    bool ShowMainForm() const override { return ShowMain; }
    void SetShowMainForm(bool value) override { ShowMain = value; }
    void ShowMessageBox(const QString& text, const QString&) override { Boxes.push_back(text); }
    void Terminate() override { Terminated = true; }
    void BringToFront() override {}
};

struct ReactionCase
{
    const char* Name;
    bool ShowMessage;
    QString Message;
    bool HandlerKeepsRunning;
    bool HasHandler;
    std::vector<QString> Boxes;
    bool Terminated;
    bool ShowMainAfter;
};

class OneInstanceReactionTest : public ::testing::TestWithParam<ReactionCase>
{
};

TEST_P(OneInstanceReactionTest, AnotherInstanceIsAnsweredAsConfigured)
{
    const ReactionCase& c = GetParam();
    test::TestEnv env;
    auto shell = std::make_unique<FakeShell>();
    FakeShell& fake = *shell;
    TkitOneInstance instance(nullptr, std::move(shell));
    // Another process's hold, as the lock sees it.
    std::optional<NamedMutex> other = NamedMutex::TryAcquire(InstanceLockName(instance.InstanceName()));
    ASSERT_TRUE(other);
    instance.SetShowMessage(c.ShowMessage);
    instance.SetMessage(c.Message);
    int handlerCalls = 0;
    if (c.HasHandler)
        instance.SetOnShowMessage([&](QObject*, bool& terminate) {
            ++handlerCalls;
            terminate = !c.HandlerKeepsRunning;
        });
    instance.Loaded();
    EXPECT_EQ(fake.Boxes, c.Boxes);
    EXPECT_EQ(fake.Terminated, c.Terminated);
    EXPECT_EQ(fake.ShowMain, c.ShowMainAfter);
    EXPECT_EQ(handlerCalls, c.HasHandler && c.ShowMessage ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OneInstanceReactionTest,
    ::testing::Values(
        ReactionCase{"Silent", false, "", false, false, {}, true, false},
        ReactionCase{"DefaultText",
                     true,
                     "",
                     false,
                     false,
                     {"Application \"Editor\" is already running."},
                     true,
                     false},
        ReactionCase{"OwnText", true, "Only one, please", false, false, {"Only one, please"}, true, false},
        ReactionCase{"HandlerLetsItRun", true, "", true, true, {}, false, true},
        ReactionCase{"HandlerEndsIt", true, "", false, true, {}, true, false},
        ReactionCase{"HandlerUnusedWithoutShowMessage", false, "", true, true, {}, true, false}),
    [](const ::testing::TestParamInfo<ReactionCase>& info) { return std::string(info.param.Name); });

TEST(OneInstanceTest, NamesFollowTitleOrProgramFileAndAnyNameMakesALock)
{
    test::TestEnv env;
    auto shell = std::make_unique<FakeShell>();
    TkitOneInstance instance(nullptr, std::move(shell));
    EXPECT_EQ(instance.InstanceName(), "Editor.OneInstance.Default");
    instance.SetExeNameAsIdentifier(true);
    instance.SetIdentifier("x\\y");
    EXPECT_EQ(instance.InstanceName(), "/OPT/TOOLS/EDITORx/y.OneInstance.Default");
    EXPECT_EQ(InstanceLockName(instance.InstanceName()), "%2FOPT%2FTOOLS%2FEDITORx%2Fy.OneInstance.Default");
    const std::string longName = InstanceLockName(std::string(400, 'a'));
    EXPECT_LE(longName.size(), 200u);
    EXPECT_NE(longName, InstanceLockName(std::string(399, 'a') + "b"));
    // The first check takes the lock; this process is then the instance, also when asked
    // again.
    EXPECT_FALSE(instance.IsAnotherInstance());
    EXPECT_FALSE(instance.IsAnotherInstance());
    EXPECT_TRUE(instance.LastError().empty());
}

TEST(OneInstanceTest, WithoutARuntimeFolderTheProgramStartsAndSaysWhy)
{
    test::TestEnv env;
    const QByteArray old = qgetenv("MORVANE_RUNTIME_DIR");
    qputenv("MORVANE_RUNTIME_DIR", "/proc/no-such-place/runtime");
    auto shell = std::make_unique<FakeShell>();
    FakeShell& fake = *shell;
    TkitOneInstance instance(nullptr, std::move(shell));
    instance.SetIdentifier("FailOpen");
    instance.Loaded();
    qputenv("MORVANE_RUNTIME_DIR", old);
    EXPECT_FALSE(fake.Terminated);
    EXPECT_NE(instance.LastError().find("starting anyway"), std::string::npos);
}

} // namespace
