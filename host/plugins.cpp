// Finding a notification type and creating its plug-in object.
#include <strings.h>

#include <climits>
#include <cstdlib>

#include <winplat/winbase.h>

#include "host.h"
#include "notify_host.h"

namespace host {

NotificationType FindNotificationType(const std::string& type) {
    for (const NotificationType& t : ListNotificationTypes())
        if (strcasecmp(t.subkey.c_str(), type.c_str()) == 0)
            return t;
    throw UsageError("unknown notification type " + type + " (see sentrel types)");
}

IUnknown* CreatePlugin(const NotificationType& type, REFIID riid) {
    CLSID clsid{};
    if (FAILED(CLSIDFromString(Utf16(type.clsid).c_str(), &clsid)))
        throw UsageError("notification type " + type.subkey + " has no valid CLSID (\"" +
                         type.clsid + "\")");
    IUnknown* pObject = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid,
                                  reinterpret_cast<void**>(&pObject));
    if (FAILED(hr)) {
        std::string why = HresultText(hr);
        char* text = nullptr;
        if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&text), 0,
                           nullptr)) {
            why += " ";
            why += text;
            while (why.back() == '\n' || why.back() == '\r')
                why.pop_back();
        }
        LocalFree(text);
        char loader[1024] = {};
        if (WinplatGetLoaderError(loader, sizeof loader) > 0)
            why += std::string(" (") + loader + ")";
        throw UsageError("cannot create the plug-in of type " + type.subkey + " " + type.clsid +
                         ": " + why);
    }
    return pObject;
}

std::string PluginPath(const std::string& path) {
    if (path.find('\\') != std::string::npos || path.empty() || path.front() != '/')
        return path;
    char platform[PATH_MAX + 3];
    if (!WinplatFromPosixPath(path.c_str(), platform, sizeof platform))
        throw UsageError("path too long: " + path);
    return platform;
}

} // namespace host
