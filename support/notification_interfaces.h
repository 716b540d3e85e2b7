// The host/plug-in interfaces as the component framework names them in interface tables.
#pragma once

#include <sentrel/notification.h>

#include "component.h"

namespace sentrel {
template <> struct InterfaceId<ISentrelNotification> {
    static constexpr const IID& value = IID_ISentrelNotification;
};
template <> struct InterfaceId<ISentrelNotificationConfig> {
    static constexpr const IID& value = IID_ISentrelNotificationConfig;
};
template <> struct InterfaceId<ISentrelNotificationWeb> {
    static constexpr const IID& value = IID_ISentrelNotificationWeb;
};

// What InterfaceSupportsErrorInfo answers for a notifier: S_OK for the alert and the desktop
// configuration interfaces, S_FALSE for every other.
inline HRESULT NotifierSupportsErrorInfo(REFIID riid) {
    return riid == IID_ISentrelNotification || riid == IID_ISentrelNotificationConfig ? S_OK
                                                                                      : S_FALSE;
}

} // namespace sentrel
