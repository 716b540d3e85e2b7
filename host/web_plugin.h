// A plug-in object held for one web configuration call: created, given the host object
// for its log lines, and uninitialised and released again at the end.
#pragma once

#include <string>

#include <sentrel/notification.h>
#include <winplat/comptr.h>

#include "host.h"

namespace host {

class WebPlugin {
public:
    // UsageError when the class cannot be created. A plug-in whose Initialize fails still
    // serves its pages (the web methods need no initialisation); it only logs nothing.
    WebPlugin(const NotificationType& type, ISentrelNotifyHost* pHost);
    ~WebPlugin();
    WebPlugin(const WebPlugin&) = delete;
    WebPlugin& operator=(const WebPlugin&) = delete;

    // Null when the type has no web configuration.
    ISentrelNotificationWeb* Web() const { return m_web.Get(); }

private:
    winplat::ComPtr<ISentrelNotification> m_plugin;
    winplat::ComPtr<ISentrelNotificationWeb> m_web;
    bool m_bInitialized = false;
};

// Whether the type's object answers ISentrelNotificationWeb (false also when it cannot
// be created).
bool HasWebConfiguration(const NotificationType& type);

// A notification directory as the plug-ins receive it: absolute, in its Z:\ form, with no
// trailing backslash. UsageError when it is not a directory.
std::string PluginDirectory(const std::string& dir);

// A BSTR's text as UTF-8.
std::string Utf8FromBstr(BSTR bstr);

} // namespace host
