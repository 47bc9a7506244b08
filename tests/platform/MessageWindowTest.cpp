#include "platform/MessageWindow.h"

#include "ChildProcess.h"
#include "platform/Log.h"
#include "platform/OwnedFd.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <vector>

namespace morvane {
namespace {

using test::ChildProcess;
using test::WaitUntil;

constexpr std::uint32_t kMsg = 0xC123;

// Records what the handler saw: order, thread, and whether it was ever entered twice.
struct Recorder
{
    std::vector<WindowMessage> received;
    int depth = 0;
    int maxDepth = 0;
    bool offMainThread = false;

    void Enter(const WindowMessage& m)
    {
        maxDepth = std::max(maxDepth, ++depth);
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        received.push_back(m);
    }
    void Leave() { --depth; }
};

std::string HandleText(std::uint32_t handle)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(handle));
    return text;
}

class MessageWindows : public ::testing::Test
{
protected:
    test::TestEnv m_env;
};

TEST_F(MessageWindows, ABurstFromAnotherProcessArrivesWholeInOrderOneAtATime)
{
    constexpr std::uint32_t kCount = 1000;
    MessageWindow window;
    Recorder recorder;
    window.SetHandler([&](const WindowMessage& m) {
        recorder.Enter(m);
        recorder.Leave();
    });
    EXPECT_NE(window.Handle(), 0u);

    ChildProcess poster({"post-burst", QString::fromStdString(HandleText(window.Handle())),
                         QString::number(kMsg), QString::number(kCount)});
    ASSERT_TRUE(WaitUntil([&] { return recorder.received.size() >= kCount; }, std::chrono::seconds(60)));
    EXPECT_EQ(poster.ReadLine(), "failed=0");

    ASSERT_EQ(recorder.received.size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        const WindowMessage& m = recorder.received[i];
        ASSERT_EQ(m.WParam, i) << "out of order";
        EXPECT_EQ(m.Msg, kMsg);
        EXPECT_EQ(m.LParam, kCount - i);
    }
    EXPECT_EQ(recorder.maxDepth, 1);
    EXPECT_FALSE(recorder.offMainThread);
}

TEST_F(MessageWindows, MessagesWaitWhileTheHandlerRunsANestedEventLoop)
{
    MessageWindow window;
    Recorder recorder;
    std::size_t seenDuringNestedLoop = 0;
    window.SetHandler([&](const WindowMessage& m) {
        recorder.Enter(m);
        if (m.WParam == 0) {
            // As a modal box would: spin events until both later messages are queued.
            EXPECT_TRUE(PostMessage(window.Handle(), kMsg, 1, 0));
            EXPECT_TRUE(PostMessage(window.Handle(), kMsg, 2, 0));
            EXPECT_TRUE(WaitUntil([&] { return window.Pending() >= 2; }));
            QCoreApplication::processEvents();
            seenDuringNestedLoop = recorder.received.size();
        }
        recorder.Leave();
    });

    ASSERT_TRUE(PostMessage(window.Handle(), kMsg, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return recorder.received.size() >= 3; }));
    EXPECT_EQ(seenDuringNestedLoop, 1u);
    EXPECT_EQ(recorder.maxDepth, 1);
    ASSERT_EQ(recorder.received.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(recorder.received[i].WParam, i);
}

TEST_F(MessageWindows, MessagesBeforeTheHandlerIsInstalledAreKept)
{
    MessageWindow window;
    ASSERT_TRUE(PostMessage(window.Handle(), kMsg, 7, 8));
    ASSERT_TRUE(WaitUntil([&] { return window.Pending() == 1; }));
    std::vector<WindowMessage> received;
    window.SetHandler([&](const WindowMessage& m) { received.push_back(m); });
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0].WParam, 7u);
    EXPECT_EQ(received[0].LParam, 8u);
}

TEST_F(MessageWindows, AHandlerMayDestroyItsWindow)
{
    auto* doomed = new MessageWindow;
    int handled = 0;
    doomed->SetHandler([&](const WindowMessage&) {
        ++handled;
        delete doomed;
        doomed = nullptr;
    });
    const std::uint32_t handle = doomed->Handle();
    for (std::uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(PostMessage(handle, kMsg, i, 0));
    ASSERT_TRUE(WaitUntil([&] { return doomed == nullptr; }));

    // Let any dispatch still queued run out, then check the rest went nowhere.
    MessageWindow probe;
    bool probed = false;
    probe.SetHandler([&](const WindowMessage&) { probed = true; });
    ASSERT_TRUE(PostMessage(probe.Handle(), kMsg, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return probed; }));
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(PostMessage(handle, kMsg, 0, 0));
}

TEST_F(MessageWindows, AHandlerThatThrowsIsToldOnceAndTheNextMessagesAreStillHandled)
{
    MessageWindow window;
    std::vector<std::uint32_t> handled;
    std::vector<std::string> told;
    window.SetTroubleHandler([&](const std::string& what) { told.push_back(what); });
    window.SetHandler([&](const WindowMessage& m) {
        handled.push_back(m.WParam);
        if (m.WParam == 1)
            throw std::runtime_error("bad request one");
        if (m.WParam == 2)
            throw 2; // not even an exception class
    });
    for (std::uint32_t i = 1; i <= 4; ++i)
        ASSERT_TRUE(PostMessage(window.Handle(), kMsg, i, 0));
    ASSERT_TRUE(WaitUntil([&] { return handled.size() == 4; }));
    WaitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(handled, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("bad request one"), std::string::npos) << told[0];
}

// Anyone may send anything: malformed datagrams are counted into a line now and then,
// never one line each, and none goes untold.
TEST_F(MessageWindows, MalformedMessagesAreCountedNotLoggedOneByOne)
{
    constexpr int kMalformed = 3000;
    std::vector<std::string> lines;
    SetLogSink([&](const std::string& line) { lines.push_back(line); });
    Recorder recorder;
    {
        MessageWindow window;
        window.SetHandler([&](const WindowMessage& m) { recorder.Enter(m), recorder.Leave(); });
        const OwnedFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr = {AF_UNIX, {}};
        (m_env.Runtime() + "wnd-" + HandleText(window.Handle()))
            .copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        for (int i = 0; i < kMalformed; ++i)
            ASSERT_EQ(::send(fd.Get(), "bad", 1 + i % 3, 0), 1 + i % 3); // waits for room: none is lost
        ASSERT_TRUE(PostMessage(window.Handle(), kMsg, 0, 0));
        ASSERT_TRUE(WaitUntil([&] { return !recorder.received.empty(); }));
    }
    SetLogSink({});
    int told = 0;
    for (const std::string& line : lines)
        told += std::stoi(line.substr(line.find("ignored ") + 8));
    EXPECT_EQ(told, kMalformed);
    EXPECT_LE(lines.size(), 3u);
    EXPECT_NE(lines.back().find("(1 to 3 bytes, a message has 12)"), std::string::npos) << lines.back();
}

TEST_F(MessageWindows, PostsToNoWindowOrADeadOneFail)
{
    EXPECT_FALSE(PostMessage(0, kMsg, 0, 0));
    EXPECT_FALSE(PostMessage(0x12345678, kMsg, 0, 0)) << "no such window";

    ChildProcess child({"hold-window"});
    const std::string line = child.ReadLine();
    ASSERT_EQ(line.rfind("ready ", 0), 0u) << line;
    const auto handle = static_cast<std::uint32_t>(std::stoul(line.substr(6), nullptr, 16));
    EXPECT_TRUE(PostMessage(handle, kMsg, 0, 0));
    EXPECT_TRUE(WindowExists(handle));

    child.Kill(); // its socket file stays behind, with nobody reading it
    EXPECT_FALSE(PostMessage(handle, kMsg, 0, 0));
    EXPECT_FALSE(WindowExists(handle)) << "a dead window's socket is no window";
    EXPECT_FALSE(WindowExists(0));
}

TEST_F(MessageWindows, ARuntimeFolderTooLongForSocketsIsRefusedClearly)
{
    const std::string longDir = m_env.Runtime() + std::string(110, 'r');
    qputenv("MORVANE_RUNTIME_DIR", QByteArray::fromStdString(longDir));
    try {
        MessageWindow window;
        ADD_FAILURE() << "a socket path over the limit was accepted";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::filename_too_long);
        EXPECT_NE(std::string(e.what()).find(longDir), std::string::npos) << e.what();
    }
    EXPECT_FALSE(PostMessage(0x12345678, kMsg, 0, 0));
}

} // namespace
} // namespace morvane
