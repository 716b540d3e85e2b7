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
} // namespace sentrel
