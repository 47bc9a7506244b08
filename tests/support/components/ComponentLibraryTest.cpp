#include "support/components/ComponentLibrary.h"

#include "support/KitSysUtils.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

TEST(ComponentLibrary, RegistersItsClassesOnceInTheLibraryOrder)
{
    // The library's fixed order; classes not built here are simply absent.
    const QStringList order{"morvane::TkitComponent",
                            "morvane::TkitCustomThreadComponent",
                            "morvane::TkitCustomTimer",
                            "morvane::TkitCustomThreadTimer",
                            "morvane::TkitCustomWndProcHook",
                            "morvane::TkitCustomFileStorage",
                            "morvane::TkitAutoRun",
                            "morvane::TkitOneInstance",
                            "morvane::TkitShutdown",
                            "morvane::TkitTrayIcon",
                            "morvane::TkitWndProcHook",
                            "morvane::TkitFileStorage",
                            "morvane::TkitWav",
                            "morvane::TkitThreadComponent",
                            "morvane::TkitThreadTimer",
                            "morvane::TkitFileOperation",
                            "morvane::TkitFileAssociation",
                            "morvane::TkitCustomFolderMonitor",
                            "morvane::TkitFolderMonitor",
                            "morvane::TkitCustomRegistryMonitor",
                            "morvane::TkitRegistryMonitor",
                            "morvane::TkitStartButtonProperties",
                            "morvane::TkitColorPicker"};
    ComponentLibraryStartUp();
    const QStringList once = RegisteredClassNames();
    ComponentLibraryStartUp();
    const QStringList names = RegisteredClassNames();
    EXPECT_EQ(names, once);
    for (const QString& name : order)
        EXPECT_TRUE(names.contains(name)) << name.toStdString();
    qsizetype last = -1;
    for (const QString& name : names) {
        const qsizetype at = order.indexOf(name);
        if (at < 0)
            continue; // registered by a test or a program of its own
        EXPECT_GT(at, last) << name.toStdString();
        last = at;
    }
}

} // namespace
