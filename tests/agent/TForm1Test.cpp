#include "agent/TForm1.h"

#include "common/TestSupport.h"
#include "support/IconList.h"
#include "support/TkitTrayIcon.h"

#include <QAction>
#include <QByteArray>
#include <QMenu>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace morvane;
using morvane::test::WaitUntil;

namespace {

// The agent's form made in this process, with a message window standing in for the
// monitor.
class TForm1Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(env.Work() + "config"));
        monitor.SetHandler([this](const WindowMessage& msg) { received.push_back(msg.Msg); });
    }
    void TearDown() override
    {
        form.reset();
        if (m_oldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }

    TForm1& Create()
    {
        form = std::make_unique<TForm1>(env.Home());
        form->FormCreate();
        return *form;
    }
    void BecomeMonitor()
    {
        form->Block()->MonitorWnd = monitor.Handle();
        form->Block()->MonitorRunning = true;
    }
    bool Received(MessageIndex msg)
    {
        const std::uint32_t number = ids[msg];
        return WaitUntil([&] {
            for (std::uint32_t m : received)
                if (m == number)
                    return true;
            return false;
        });
    }
    void KeepIds()
    {
        std::copy(std::begin(form->Block()->MessageIds), std::end(form->Block()->MessageIds), ids);
    }

    test::TestEnv env;
    MessageWindow monitor;
    std::unique_ptr<TForm1> form;
    std::vector<std::uint32_t> received;
    std::uint32_t ids[kMessageCount] = {};

private:
    QByteArray m_oldConfig;
};

} // namespace

TEST_F(TForm1Test, ComponentsCarryTheirNamesAndSettings)
{
    TForm1& f = Create();
    EXPECT_EQ(f.objectName(), "Form1");
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.kitTrayIcon1->objectName(), "kitTrayIcon1");
    EXPECT_EQ(f.kitTrayIcon1->Hint(), "Morvane Agent");
    EXPECT_EQ(f.kitTrayIcon1->InfoTimeout(), 0) << "the desktop's own time";
    EXPECT_EQ(f.kitTrayIcon1->InfoType(), tiiInfo);
    EXPECT_EQ(f.ImageList1->objectName(), "ImageList1");
    ASSERT_EQ(f.ImageList1->Count(), 2);
    EXPECT_FALSE(f.ImageList1->GetIcon(0).isNull());
    EXPECT_NE(f.ImageList1->GetIcon(0).cacheKey(), f.ImageList1->GetIcon(1).cacheKey());
    EXPECT_EQ(f.TrayPopup->objectName(), "TrayPopup");
    ASSERT_EQ(f.TrayPopup->actions().size(), 2);
    EXPECT_EQ(f.TrayPopup->actions()[0], f.ShowPellary1);
    EXPECT_EQ(f.TrayPopup->actions()[1], f.Shutdown1);
    EXPECT_EQ(f.TrayPopup->defaultAction(), f.ShowPellary1);
    EXPECT_EQ(f.ShowPellary1->text(), "Show Monitor");
    EXPECT_EQ(f.Shutdown1->text(), "Shut down");
}

TEST_F(TForm1Test, MenuTextsComeFromTheLanguageFile)
{
    test::WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nLanguage=German\n");
    test::WriteFile(env.Home() + "Langs/German.ini", "[Form1]\nShowPellary1.Caption=Monitor zeigen\n"
                                                     "kitTrayIcon1.Hint=Morvane-Agent\n");
    TForm1& f = Create();
    EXPECT_EQ(f.ShowPellary1->text(), "Monitor zeigen");
    EXPECT_EQ(f.kitTrayIcon1->Hint(), "Morvane-Agent");
    // Texts the file lacked are written back into it.
    EXPECT_NE(test::ReadFile(env.Home() + "Langs/German.ini").find("Shutdown1.Caption=Shut down"),
              std::string::npos);
}

TEST_F(TForm1Test, HostCallsReachTheTrayIcon)
{
    TForm1& f = Create();
    f.SetTrayImage(1);
    EXPECT_EQ(f.kitTrayIcon1->ImageIndex(), 1);
    f.SetTrayImage(0);
    EXPECT_EQ(f.kitTrayIcon1->ImageIndex(), 0);
    f.SetBalloonTitle("New version");
    f.SetBalloonText("a(v 3).txt");
    f.ShowBalloon();
    EXPECT_EQ(f.kitTrayIcon1->InfoTitle(), "New version");
    EXPECT_EQ(f.kitTrayIcon1->InfoText(), "a(v 3).txt");
    EXPECT_TRUE(f.IsMainThread());
    bool ran = false;
    f.PostToMainThread([&] { ran = true; });
    EXPECT_FALSE(ran) << "queued, not run at once";
    EXPECT_TRUE(WaitUntil([&] { return ran; }));
}

TEST_F(TForm1Test, ShowMonitorActivatesARunningMonitor)
{
    Create();
    KeepIds();
    BecomeMonitor();
    form->ShowPellary1->trigger();
    EXPECT_TRUE(Received(MsgActivate));
}

// Show Monitor by the state the last monitor left: only a monitor that still receives is
// activated; otherwise a new one is started, also after one that died without closing.
TEST_F(TForm1Test, ShowMonitorStartsOneUnlessAMonitorReceives)
{
    struct Case
    {
        const char* Name;
        bool Flag;     // MonitorRunning as the last monitor left it
        bool Receives; // its window still takes messages
        bool Activated;
        bool Started;
    };
    const Case cases[] = {
        {"running", true, true, true, false},
        {"died without closing", true, false, false, true},
        {"closed", false, false, false, true},
    };
    Create();
    KeepIds();
    int started = 0;
    form->SetMonitorStarter([&] {
        ++started;
        return true;
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        started = 0;
        received.clear();
        auto dying = std::make_unique<MessageWindow>();
        form->Block()->MonitorWnd = c.Receives ? monitor.Handle() : dying->Handle();
        form->Block()->MonitorRunning = c.Flag;
        if (!c.Receives)
            dying.reset();
        form->ShowPellary1->trigger();
        EXPECT_EQ(started, c.Started ? 1 : 0);
        // Only a receiving monitor's window is this test's, so only there can ACTIVATE land.
        if (c.Activated) {
            EXPECT_TRUE(Received(MsgActivate));
        }
        if (c.Started) {
            EXPECT_FALSE(form->Block()->MonitorRunning) << "the dead monitor's flag is cleared";
        }
        if (c.Flag && !c.Receives) {
            EXPECT_EQ(form->Block()->MonitorWnd, 0u);
        }
    }
}

TEST_F(TForm1Test, ShutDownClosesTheMonitorAndReleasesTheBlock)
{
    Create();
    KeepIds();
    BecomeMonitor();
    int closed = 0;
    QObject::connect(form.get(), &TForm1::FormClosed, form.get(), [&] { ++closed; });
    form->Shutdown1->trigger();
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(form->Closed());
    EXPECT_EQ(form->Block(), nullptr);
    EXPECT_EQ(form->Items(), nullptr);
    EXPECT_TRUE(Received(MsgClose));
    form->RequestClose();
    EXPECT_EQ(closed, 1) << "closing twice does nothing more";
}

TEST_F(TForm1Test, ClosingWithoutMonitorPostsNothing)
{
    Create();
    KeepIds();
    form->Block()->MonitorWnd = monitor.Handle();
    form->Block()->MonitorRunning = false;
    form->RequestClose();
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(WaitUntil([&] { return !received.empty(); }, std::chrono::milliseconds(100)));
}

TEST_F(TForm1Test, ABlockFileCutByAnotherProgramIsGrownBackAndSetUpAgain)
{
    const struct
    {
        const char* name;
        off_t cutTo;
        bool grownBackByAnother; // another holder met the cut first and grew the file
    } cases[] = {
        {"cut to nothing", 0, false},
        {"one page left", 4096, false},
        {"all but the last page left", 8192, false},
        {"cut and grown back by another holder", 0, true},
    };
    Create();
    KeepIds();
    BecomeMonitor();
    form->Block()->PathArg[0] = 'x'; // a request from the monitor: the agent has seen it
    ASSERT_TRUE(PostMessage(form->Block()->AgentWnd, ids[MsgStart], 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return form->Block()->PathArg[0] == '\0'; }));
    const std::uint64_t window = form->Block()->AgentWnd;
    const std::string file = env.Runtime() + kSharedBlockName + ".shm";
    auto fileSize = [&] {
        struct stat st
        {
        };
        return ::stat(file.c_str(), &st) == 0 ? st.st_size : -1;
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::truncate(file.c_str(), c.cutTo), 0) << c.name;
        if (c.grownBackByAnother) {
            ASSERT_EQ(::truncate(file.c_str(), sizeof(SharedBlock)), 0) << c.name;
        }
        // The file is looked at before the block is read here, which would grow it itself.
        ASSERT_TRUE(WaitUntil([&] { return fileSize() == static_cast<off_t>(sizeof(SharedBlock)); }))
            << c.name;
        EXPECT_TRUE(WaitUntil([&] {
            return form->Block()->AgentWnd == window && form->Block()->MessageIds[MsgClear] == ids[MsgClear];
        })) << c.name;
        EXPECT_TRUE(form->Block()->MonitorRunning && form->Block()->MonitorWnd == monitor.Handle()) << c.name;
    }
}

TEST_F(TForm1Test, StartRemovesWhatACrashLeftAndKeepsTheListsPrivate)
{
    test::WriteFile(env.Home() + "mvlist.srv", "[/x/a.txt]\nFileID=1\n");
    ::chmod((env.Home() + "mvlist.srv").c_str(), 0644);
    test::WriteFile(env.Home() + "backup/files.lst", "[Files]\n1=/x/a.txt\n");
    ::chmod((env.Home() + "backup/files.lst").c_str(), 0644);
    ::chmod((env.Home() + "backup").c_str(), 0755);
    // A backup move's note in the folder in use is one whose move ended.
    const std::string leftovers[] = {env.Home() + "mvlist.srv.tmp.77.0000abcd",
                                     env.Home() + "backup/files.lst.tmp.78.ffff0000",
                                     env.Home() + "backup/.morvane-move"};
    for (const std::string& path : leftovers)
        test::WriteFile(path, "half");
    test::WriteFile(env.Home() + "mvlist.srv.bak", "the user's own");

    Create();
    for (const std::string& path : leftovers)
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(std::filesystem::exists(env.Home() + "mvlist.srv.bak"));
    auto mode = [](const std::string& path) {
        struct stat st
        {
        };
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0777u;
    };
    EXPECT_EQ(mode(env.Home() + "mvlist.srv"), 0600u);
    EXPECT_EQ(mode(env.Home() + "backup/files.lst"), 0600u);
    EXPECT_EQ(mode(env.Home() + "backup"), 0700u);
}

TEST_F(TForm1Test, AnOpenBackupFolderBehindTheUsersLinkIsClosedAtStart)
{
    const std::string store = env.Work() + "store";
    std::filesystem::create_directory(store);
    ::chmod(store.c_str(), 0755);
    std::filesystem::create_symlink(store, env.Home() + "backup");
    Create();
    EXPECT_EQ(std::filesystem::status(store).permissions(), std::filesystem::perms::owner_all);
}
