#include "web_plugin.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "notify_host.h"

namespace host {

WebPlugin::WebPlugin(const NotificationType& type, ISentrelNotifyHost* pHost) {
    m_plugin.Attach(
        static_cast<ISentrelNotification*>(CreatePlugin(type, IID_ISentrelNotification)));
    if (FAILED(m_plugin->QueryInterface(IID_ISentrelNotificationWeb, m_web.PutVoid())))
        m_web.Reset();
    if (m_web && pHost)
        m_bInitialized = SUCCEEDED(m_plugin->Initialize(pHost));
}

WebPlugin::~WebPlugin() {
    if (m_bInitialized)
        m_plugin->UnInitialize();
}

bool HasWebConfiguration(const NotificationType& type) {
    try {
        return WebPlugin(type, nullptr).Web() != nullptr;
    } catch (const UsageError&) {
        return false;
    }
}

std::string PluginDirectory(const std::string& dir) {
    if (dir.find('\\') != std::string::npos)
        return dir; // already in the platform's form
    char resolved[PATH_MAX];
    struct stat status;
    if (!realpath(dir.c_str(), resolved) || stat(resolved, &status) != 0 ||
        !S_ISDIR(status.st_mode))
        throw UsageError("not a directory: " + dir);
    std::string platform = PluginPath(resolved);
    while (platform.size() > 3 && platform.back() == '\\')
        platform.pop_back();
    return platform;
}

std::string Utf8FromBstr(BSTR bstr) {
    return bstr ? Utf8(std::u16string(bstr, SysStringLen(bstr))) : std::string();
}

} // namespace host
