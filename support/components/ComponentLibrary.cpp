#include "ComponentLibrary.h"

#include "TkitCustomFolderMonitor.h"
#include "TkitCustomThreadTimer.h"
#include "TkitFileOperation.h"
#include "support/KitSysUtils.h"
#include "support/TkitComponent.h"
#include "support/TkitCustomTimer.h"
#include "support/TkitTrayIcon.h"

namespace morvane {

void ComponentLibraryStartUp()
{
    // The library's order; a class that is not built here has no entry.
    RegisterClassesSafe({
        &TkitComponent::staticMetaObject,
        &TkitCustomThreadComponent::staticMetaObject,
        &TkitCustomTimer::staticMetaObject,
        &TkitCustomThreadTimer::staticMetaObject,
        &TkitTrayIcon::staticMetaObject,
        &TkitThreadComponent::staticMetaObject,
        &TkitThreadTimer::staticMetaObject,
        &TkitFileOperation::staticMetaObject,
        &TkitCustomFolderMonitor::staticMetaObject,
        &TkitFolderMonitor::staticMetaObject,
    });
}

} // namespace morvane
