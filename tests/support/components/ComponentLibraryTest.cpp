#include "support/components/ComponentLibrary.h"

#include "support/KitSysUtils.h"

#include <gtest/gtest.h>

using namespace morvane;

TEST(ComponentLibraryTest, StartUpRegistersTheLibraryClassesOnceInTheirOrder)
{
    ComponentLibraryStartUp();
    ComponentLibraryStartUp();
    const QStringList names = RegisteredClassNames();
    const QStringList expected = {"morvane::TkitComponent", "morvane::TkitCustomThreadComponent",
                                  "morvane::TkitCustomTimer", "morvane::TkitCustomThreadTimer",
                                  "morvane::TkitCustomWndProcHook"};
    ASSERT_GE(names.size(), expected.size());
    EXPECT_EQ(names.mid(0, expected.size()), expected);
    EXPECT_EQ(names.count("morvane::TkitFolderMonitor"), 1);
    EXPECT_TRUE(names.contains("morvane::TkitColorPicker"));
}
