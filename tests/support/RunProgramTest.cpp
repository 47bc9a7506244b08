#include "support/RunProgram.h"

#include "common/TestSupport.h"

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morvane;
using morvane::test::ReadFile;
using morvane::test::WriteFile;

namespace {

// Stands in for the desktop's handler, so no test opens a real application.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    std::vector<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened.push_back(url); }
};

class RunProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
        // Writes its working folder, then each argument on its own line.
        WriteFile(script, "#!/bin/sh\nout=\"$1\"; shift\npwd > \"$out.tmp\"\n"
                          "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out.tmp\"; done\n"
                          "mv \"$out.tmp\" \"$out\"\n");
        chmod(script.c_str(), 0755);
    }
    void TearDown() override
    {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    test::TestEnv env;
    UrlCatcher catcher;
    std::string script = env.Work() + "echo args.sh";
    std::string out = env.Work() + "out.txt";
};

} // namespace

TEST_F(RunProgramTest, ArgumentsReachTheProgramUntouchedByAnyShell)
{
    std::filesystem::create_directories(env.Work() + "run dir");
    ASSERT_TRUE(RunProgram("\"" + script + "\"",
                           {out, "a b", "$(touch pwned)", "x;y", "\"" + env.Work() + "my file.txt\""},
                           env.Work() + "run dir"));
    ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(out); }));
    EXPECT_EQ(ReadFile(out),
              env.Work() + "run dir\na b\n$(touch pwned)\nx;y\n" + env.Work() + "my file.txt\n");
    EXPECT_FALSE(std::filesystem::exists(env.Work() + "run dir/pwned"));
    EXPECT_TRUE(catcher.Opened.empty());
}

TEST_F(RunProgramTest, DocumentsAndFoldersGoToTheDesktopHandler)
{
    const std::string doc = env.Work() + "notes =1.txt";
    WriteFile(doc, "plain text that carries the execute bit");
    chmod(doc.c_str(), 0755);
    ASSERT_TRUE(RunProgram("\"" + doc + "\"", {}, env.Work()));
    ASSERT_TRUE(RunProgram(env.Work()));
    ASSERT_EQ(catcher.Opened.size(), 2u);
    EXPECT_EQ(catcher.Opened[0], QUrl::fromLocalFile(QString::fromStdString(doc)));
    EXPECT_EQ(catcher.Opened[1].toLocalFile().toStdString() + "/", env.Work());
}

TEST_F(RunProgramTest, AddressesGoToTheDesktopHandler)
{
    ASSERT_TRUE(RunProgram("https://example.invalid/a?b=c"));
    ASSERT_TRUE(RunProgram("mailto:someone@example.invalid"));
    ASSERT_EQ(catcher.Opened.size(), 2u);
    EXPECT_EQ(catcher.Opened[0].toString(), "https://example.invalid/a?b=c");
    EXPECT_EQ(catcher.Opened[1].scheme(), "mailto");
}

TEST_F(RunProgramTest, FailuresAreReportedNotSwallowed)
{
    EXPECT_FALSE(RunProgram(env.Work() + "missing.doc"));
    EXPECT_FALSE(RunProgram(""));
    EXPECT_FALSE(RunProgram("\"\""));
    const std::string broken = env.Work() + "broken.sh";
    WriteFile(broken, "#!/nonexistent/interpreter\n");
    chmod(broken.c_str(), 0755);
    EXPECT_FALSE(RunProgram(broken)) << "a program that cannot start";
    EXPECT_TRUE(catcher.Opened.empty());
}

#include "RunProgramTest.moc"
