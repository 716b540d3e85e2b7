// notify: one alert through one plug-in object, from creation to release.
#include <cstdio>

#include <winplat/comptr.h>
#include <winplat/sapi.h>

#include "diagnose.h"
#include "host.h"
#include "notify_host.h"

namespace host {

HRESULT DeliverAlert(const NotificationType& type, const std::string& instancePath,
                     NotifyHost& hostObject, DWORD dwSpeechWait) {
    winplat::ComPtr<ISentrelNotification> plugin;
    plugin.Attach(static_cast<ISentrelNotification*>(CreatePlugin(type, IID_ISentrelNotification)));
    HRESULT hr = plugin->Initialize(static_cast<ISentrelNotifyHost*>(&hostObject));
    if (SUCCEEDED(hr)) {
        winplat::Bstr path(Utf16(instancePath));
        hr = plugin->Notify(path.Get());
        // What the plug-in queued on the platform's voice is spoken to the end before the
        // plug-in lets go of the voice.
        WinplatWaitForSpeech(dwSpeechWait);
        plugin->UnInitialize();
    }
    return hr;
}

int CommandNotify(const Args& args) {
    std::vector<std::string> positional;
    NotifyHost hostObject(stdout);
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--var") {
            if (i + 1 >= args.size())
                throw UsageError("--var needs NAME=VALUE");
            const std::string& pair = args[++i];
            size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("--var needs NAME=VALUE, got " + pair);
            hostObject.AddVariable(Utf16(pair.substr(0, eq)), Utf16(pair.substr(eq + 1)));
        } else if (args[i] == "--expand-fails") {
            hostObject.SetExpandFails(true);
        } else if (args[i].rfind("--", 0) == 0) {
            throw UsageError("notify: unknown option " + args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2)
        throw UsageError("notify needs TYPE and PATH");

    NotificationType type = FindNotificationType(positional[0]);
    std::string pluginPath = PluginPath(positional[1]);
    HRESULT hr = DeliverAlert(type, pluginPath, hostObject, INFINITE);
    std::fflush(stdout);
    if (hr != S_OK)
        std::fprintf(stderr, "%s\n", HresultText(hr).c_str());
    ReportNotify(type, pluginPath, hr, hostObject);
    return hr == S_OK ? 0 : 1;
}

} // namespace host
