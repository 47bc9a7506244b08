#include "support/components/AppInstances.h"

#include "common/TestSupport.h"
#include "platform/MessageAtoms.h"
#include "platform/MessageWindow.h"
#include "support/components/TkitStartButtonProperties.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

TEST(AppInstances, ActivatesAnotherLiveInstanceOnly)
{
    test::TestEnv env;
    PublishApplicationWindow();
    EXPECT_FALSE(ActivateOtherInstance());

    // A file left by an instance that died names a window nobody reads.
    const std::string prefix =
        env.Runtime() + "app-" + QCoreApplication::applicationName().toStdString() + ".";
    test::WriteFile(prefix + "1.wnd", "12345678");
    EXPECT_EQ(FindOtherInstanceWindow(), 0u);

    // Another instance: its window gets the activation.
    MessageWindow other;
    std::vector<std::uint32_t> received;
    other.SetHandler([&](const WindowMessage& m) { received.push_back(m.Msg); });
    char handle[16];
    std::snprintf(handle, sizeof handle, "%x", other.Handle());
    test::WriteFile(prefix + "2.wnd", handle);
    EXPECT_EQ(FindOtherInstanceWindow(), other.Handle());
    EXPECT_TRUE(ActivateOtherInstance());
    const std::uint32_t activate = RegisterWindowMessage("MorvaneActivateApplication");
    EXPECT_TRUE(test::WaitUntil(
        [&] { return std::find(received.begin(), received.end(), activate) != received.end(); }));
    WithdrawApplicationWindow();
}

TEST(AppInstances, StockIconsAlwaysGiveAnIcon)
{
    for (int index : {0, 2, 3, 999}) {
        QIcon large, small;
        ExtractShell32Icon(index, &large, nullptr);
        ExtractShell32Icon(index, nullptr, &small);
        EXPECT_FALSE(large.isNull()) << index;
        EXPECT_FALSE(small.isNull()) << index;
    }
}

TEST(StartButton, WithoutATaskbarReadsNothingAndChangesNothing)
{
    TkitStartButtonProperties button;
    EXPECT_FALSE(button.HasStartButton());
    button.SetButtonLeft(10);
    button.SetButtonWidth(200);
    button.SetVisible(true);
    button.SetEnabled(true);
    EXPECT_EQ(button.ButtonLeft(), 0);
    EXPECT_EQ(button.ButtonTop(), 0);
    EXPECT_EQ(button.ButtonWidth(), 0);
    EXPECT_EQ(button.ButtonHeight(), 0);
    EXPECT_FALSE(button.Visible());
    EXPECT_FALSE(button.Enabled());
}

} // namespace
