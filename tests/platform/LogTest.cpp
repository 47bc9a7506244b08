#include "platform/Log.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace morvane {
namespace {

namespace fs = std::filesystem;

class LogFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = SetLogSink([this](const std::string& line) { m_stderr.push_back(line); });
        SetLogName("logtest");
    }
    void TearDown() override
    {
        CloseLogFile();
        SetLogSink(m_previous);
        SetLogName("morvane");
    }
    static unsigned Mode(const std::string& path)
    {
        struct stat st = {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
    }

    test::TestEnv m_env;
    std::vector<std::string> m_stderr;
    LogSink m_previous;
};

TEST_F(LogFile, LinesGoToTheStateFolderAndStderrAlike)
{
    ASSERT_EQ(DefaultLogFilePath(), m_env.LogFolder() + "logtest.log");
    ASSERT_TRUE(OpenLogFile());
    Log("cannot create the backup folder /x");
    // A name cannot split its line or pose as a line of its own; UTF-8 stays readable.
    Log("no version of /x/été\nlogtest: forged\t\r\x7f");
    const std::string text = test::ReadFile(m_env.LogFolder() + "logtest.log");
    EXPECT_NE(text.find(" logtest["), std::string::npos) << text;
    EXPECT_NE(text.find("]: cannot create the backup folder /x\n"), std::string::npos) << text;
    EXPECT_NE(text.find("]: no version of /x/été\\x0alogtest: forged\\x09\\x0d\\x7f\n"), std::string::npos)
        << text;
    EXPECT_EQ(m_stderr,
              (std::vector<std::string>{"logtest: cannot create the backup folder /x",
                                        "logtest: no version of /x/été\\x0alogtest: forged\\x09\\x0d\\x7f"}));
    // Lines name the user's files: nobody else may read them.
    EXPECT_EQ(Mode(m_env.LogFolder()), 0700u);
    EXPECT_EQ(Mode(m_env.LogFolder() + "logtest.log"), 0600u);
}

struct RotationCase
{
    const char* label;
    int lines;
    bool previousExpected;
};

class LogRotation : public LogFile, public ::testing::WithParamInterface<RotationCase>
{
};

TEST_P(LogRotation, KeepsTheNewestLinesInAtMostTwoFiles)
{
    const RotationCase& c = GetParam();
    const std::string file = m_env.Work() + "logs/agent.log";
    constexpr std::size_t kLimit = 400;
    ASSERT_TRUE(OpenLogFile(file, kLimit));
    for (int i = 0; i < c.lines; ++i)
        Log("line " + std::to_string(i) + " of the test, padded to some length");
    const std::string current = test::ReadFile(file);
    const std::string previous = test::ReadFile(file + ".1");
    EXPECT_EQ(fs::exists(file + ".1"), c.previousExpected);
    // A file is moved aside at the first line after it reaches the limit.
    EXPECT_LT(current.size(), kLimit + 120);
    EXPECT_LT(previous.size(), kLimit + 120);
    // What is kept is the newest run of lines, in order, without a gap.
    std::vector<int> kept;
    const std::string both = previous + current;
    for (auto pos = both.find("line "); pos != std::string::npos; pos = both.find("line ", pos + 1))
        kept.push_back(std::stoi(both.substr(pos + 5)));
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), c.lines - 1);
    for (std::size_t i = 1; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], kept[i - 1] + 1);
    EXPECT_FALSE(fs::exists(file + ".2"));
}

INSTANTIATE_TEST_SUITE_P(Table, LogRotation,
                         ::testing::Values(RotationCase{"under the limit", 3, false},
                                           RotationCase{"one file full", 8, true},
                                           RotationCase{"many times full", 200, true}),
                         test::RowNamesBy(&RotationCase::label));

TEST_F(LogFile, AFileAnotherProcessMovedAsideIsNotMovedAgain)
{
    const std::string file = m_env.Work() + "agent.log";
    ASSERT_TRUE(OpenLogFile(file, 100));
    Log(std::string(120, 'a'));
    // Another agent, started at the same time, rotated first and began a new file.
    fs::rename(file, file + ".1");
    test::WriteFile(file, "other process\n");
    Log("after");
    EXPECT_NE(test::ReadFile(file + ".1").find(std::string(120, 'a')), std::string::npos)
        << "the other process's previous file is kept";
    const std::string current = test::ReadFile(file);
    EXPECT_EQ(current.find("other process\n"), 0u);
    EXPECT_NE(current.find("after\n"), std::string::npos);
}

TEST_F(LogFile, AFolderThatCannotBeMadeLeavesStderr)
{
    test::WriteFile(m_env.Work() + "blocked", "a file where the folder should be");
    EXPECT_FALSE(OpenLogFile(m_env.Work() + "blocked/q.log"));
    ASSERT_EQ(m_stderr.size(), 1u);
    EXPECT_NE(m_stderr[0].find("no log file"), std::string::npos);
    Log("still said");
    EXPECT_EQ(m_stderr.back(), "logtest: still said");
}

} // namespace
} // namespace morvane
