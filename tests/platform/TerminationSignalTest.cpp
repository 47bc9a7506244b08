#include "platform/TerminationSignal.h"

#include "common/TestSupport.h"

#include <QProcess>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct SignalCase
{
    const char* Mode; // what the child does, see signal_child.cpp
    int Signal;       // 0: none is sent
    int ExitCode;
    bool Written; // the last step wrote its file
};
void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.Mode << " " << c.Signal;
}

class TerminationSignalEnds : public ::testing::TestWithParam<SignalCase>
{
};

TEST_P(TerminationSignalEnds, TheProgramWhenItStopsTurning)
{
    const SignalCase& c = GetParam();
    test::TestEnv env;
    const std::string written = env.Work() + "written";
    QProcess child;
    child.start(QString::fromStdString(test::HelperPath("signal_child")),
                {c.Mode, QString::fromStdString(written)});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(test::WaitUntil([&] { return child.canReadLine() || child.state() == QProcess::NotRunning; },
                                std::chrono::seconds(30)));
    ASSERT_EQ(child.readLine().trimmed().toStdString(), "ready");

    if (c.Signal)
        ::kill(static_cast<pid_t>(child.processId()), c.Signal);
    const bool ended = child.waitForFinished(30000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(ended) << "still running 30 s after the signal";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), c.ExitCode);
    EXPECT_EQ(std::filesystem::exists(written), c.Written);
}

INSTANTIATE_TEST_SUITE_P(Cases, TerminationSignalEnds,
                         ::testing::Values(SignalCase{"quit", SIGTERM, 0, false},
                                           // A slow stop whose main thread is not stuck.
                                           SignalCase{"slow-stop", SIGTERM, 0, false},
                                           SignalCase{"spin", SIGTERM, 128 + SIGTERM, true},
                                           SignalCase{"spin", SIGINT, 128 + SIGINT, true},
                                           SignalCase{"spin", SIGHUP, 128 + SIGHUP, true},
                                           // A last step that cannot run does not keep it.
                                           SignalCase{"spin-locked", SIGTERM, 128 + SIGTERM, false},
                                           SignalCase{"hang-at-exit", SIGTERM, 128 + SIGTERM, true},
                                           // A watchdog never woken never ends a program.
                                           SignalCase{"no-signal", 0, 0, false}),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param.Mode; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p)))
                                     name += *p;
                             return name + std::to_string(info.param.Signal);
                         });

} // namespace
