// What a notifier module tells the shared exports about its one class.
#pragma once

#include <winplat/objbase.h>

#include "component.h"

namespace sentrel {

// The module's entry in the host's list of notification types.
struct NotificationEntry {
    const char* szSubkey;
    const char* szClsid;
    const char* szDescription;
    const char* szDisplayName;
    const char* szManufacturer;
    bool bRemoveOnUnregister;
};

struct NotifierModule {
    const CLSID* pClsid;
    ComponentCreator pfnCreate;
    UINT nRegistryScript; // resource id of the class registration script
    NotificationEntry entry;
};

// Defined by each module.
extern const NotifierModule g_notifierModule;

// The host's key under HKEY_LOCAL_MACHINE that lists the notification types.
inline constexpr const char kNotificationKey[] = "Software\\Calvaro\\Sentrel\\Notification";

} // namespace sentrel
