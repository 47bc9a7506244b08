#include "ComponentLibrary.h"

#include "TkitAutoRun.h"
#include "TkitColorPicker.h"
#include "TkitCustomFolderMonitor.h"
#include "TkitCustomThreadTimer.h"
#include "TkitFileAssociation.h"
#include "TkitFileOperation.h"
#include "TkitShutdown.h"
#include "TkitStartButtonProperties.h"
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
        &TkitAutoRun::staticMetaObject,
        &TkitShutdown::staticMetaObject,
        &TkitTrayIcon::staticMetaObject,
        &TkitThreadComponent::staticMetaObject,
        &TkitThreadTimer::staticMetaObject,
        &TkitFileOperation::staticMetaObject,
        &TkitFileAssociation::staticMetaObject,
        &TkitCustomFolderMonitor::staticMetaObject,
        &TkitFolderMonitor::staticMetaObject,
        &TkitStartButtonProperties::staticMetaObject,
        &TkitColorPicker::staticMetaObject,
    });
}

} // namespace morvane
