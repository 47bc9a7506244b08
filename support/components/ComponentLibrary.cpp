#include "ComponentLibrary.h"

#include "TkitAutoRun.h"
#include "TkitColorPicker.h"
#include "TkitCustomFileStorage.h"
#include "TkitCustomFolderMonitor.h"
#include "TkitCustomRegistryMonitor.h"
#include "TkitCustomThreadTimer.h"
#include "TkitCustomWndProcHook.h"
#include "TkitFileAssociation.h"
#include "TkitFileOperation.h"
#include "TkitOneInstance.h"
#include "TkitShutdown.h"
#include "TkitStartButtonProperties.h"
#include "TkitWav.h"
#include "support/KitSysUtils.h"
#include "support/TkitComponent.h"
#include "support/TkitCustomTimer.h"
#include "support/TkitTrayIcon.h"

namespace morvane {

void ComponentLibraryStartUp()
{
    // The library's order.
    RegisterClassesSafe({
        &TkitComponent::staticMetaObject,
        &TkitCustomThreadComponent::staticMetaObject,
        &TkitCustomTimer::staticMetaObject,
        &TkitCustomThreadTimer::staticMetaObject,
        &TkitCustomWndProcHook::staticMetaObject,
        &TkitCustomFileStorage::staticMetaObject,
        &TkitAutoRun::staticMetaObject,
        &TkitOneInstance::staticMetaObject,
        &TkitShutdown::staticMetaObject,
        &TkitTrayIcon::staticMetaObject,
        &TkitWndProcHook::staticMetaObject,
        &TkitFileStorage::staticMetaObject,
        &TkitWav::staticMetaObject,
        &TkitThreadComponent::staticMetaObject,
        &TkitThreadTimer::staticMetaObject,
        &TkitFileOperation::staticMetaObject,
        &TkitFileAssociation::staticMetaObject,
        &TkitCustomFolderMonitor::staticMetaObject,
        &TkitFolderMonitor::staticMetaObject,
        &TkitCustomRegistryMonitor::staticMetaObject,
        &TkitRegistryMonitor::staticMetaObject,
        &TkitStartButtonProperties::staticMetaObject,
        &TkitColorPicker::staticMetaObject,
    });
}

} // namespace morvane
