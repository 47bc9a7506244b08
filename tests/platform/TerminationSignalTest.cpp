#include "platform/TerminationSignal.h"

#include "common/TestSupport.h"

#include <QProcess>
#include <cctype>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct SignalCase
{
    const char* Mode; // what the child does, see signal_child.cpp
    int Signal;       // 0: none is sent
    int ExitCode;
};
void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.Mode << " " << c.Signal;
}

class TerminationSignalEnds : public ::testing::TestWithParam<SignalCase>
{
};

TEST_P(TerminationSignalEnds, TheProgramWithinTwoSeconds)
{
    const SignalCase& c = GetParam();
    QProcess child;
    child.start(QString::fromStdString(test::HelperPath("signal_child")), {c.Mode});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(test::WaitUntil([&] { return child.canReadLine() || child.state() == QProcess::NotRunning; },
                                std::chrono::seconds(30)));
    ASSERT_EQ(child.readLine().trimmed().toStdString(), "ready");

    const auto sent = std::chrono::steady_clock::now();
    if (c.Signal)
        ::kill(static_cast<pid_t>(child.processId()), c.Signal);
    const bool ended = child.waitForFinished(10000);
    const auto took = std::chrono::steady_clock::now() - sent;
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(ended) << "still running 10 s after the signal";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), c.ExitCode);
    if (c.Signal) {
        EXPECT_LT(took, std::chrono::seconds(2));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TerminationSignalEnds,
                         ::testing::Values(SignalCase{"quit", SIGTERM, 0},
                                           SignalCase{"spin", SIGTERM, 128 + SIGTERM},
                                           SignalCase{"spin", SIGINT, 128 + SIGINT},
                                           SignalCase{"spin", SIGHUP, 128 + SIGHUP},
                                           SignalCase{"hang-at-exit", SIGTERM, 128 + SIGTERM},
                                           // A watchdog never woken never ends a program.
                                           SignalCase{"no-signal", 0, 0}),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param.Mode; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p)))
                                     name += *p;
                             return name + std::to_string(info.param.Signal);
                         });

} // namespace
