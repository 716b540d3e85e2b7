// Finding a notification type and creating its plug-in object.
#include <strings.h>

#include <climits>
#include <cstdlib>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

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

bool FitsCodePage(const std::string& utf8) {
    std::u16string wide = Utf16(utf8);
    if (wide.empty())
        return true;
    BOOL bUsedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                static_cast<int>(wide.size()), nullptr, 0, nullptr, &bUsedDefault);
    return n > 0 && !bUsedDefault && Utf8(wide) == utf8;
}

std::string PluginPath(const std::string& path) {
    std::string platform = path;
    if (path.find('\\') == std::string::npos && !path.empty() && path.front() == '/') {
        platform = "Z:" + path;
        for (char& c : platform)
            if (c == '/')
                c = '\\';
    }
    // The plug-ins work in the code page: a name it cannot spell would reach them as
    // another name ("?" for each such character).
    if (!FitsCodePage(platform))
        throw UsageError("the path " + path + " cannot be written in code page " +
                         std::to_string(GetACP()) + ", which the plug-ins use");
    return platform;
}

} // namespace host
