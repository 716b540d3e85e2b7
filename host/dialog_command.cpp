// dialog: a plug-in's settings dialog, played by an operator script.
#include <cstdio>

#include <winplat/comptr.h>
#include <winplat/htmlhelp.h>

#include "host.h"
#include "notify_host.h"
#include "operator_script.h"
#include "web_plugin.h"

namespace host {

int CommandDialog(const Args& args) {
    std::string mode, typeName, dir, name, scriptPath;
    bool hasName = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        auto value = [&](const char* option) {
            if (i + 1 >= args.size())
                throw UsageError(std::string("dialog: ") + option + " needs a value");
            return args[++i];
        };
        if (args[i] == "--dir")
            dir = value("--dir");
        else if (args[i] == "--name") {
            name = value("--name");
            hasName = true;
        } else if (args[i] == "--script")
            scriptPath = value("--script");
        else if (args[i].rfind("--", 0) == 0)
            throw UsageError("dialog: unknown option " + args[i]);
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2 || (positional[0] != "new" && positional[0] != "edit"))
        throw UsageError("dialog needs new|edit and TYPE");
    mode = positional[0];
    typeName = positional[1];
    if (dir.empty())
        throw UsageError("dialog needs --dir DIR");
    if (mode == "edit" && !hasName)
        throw UsageError("dialog edit needs --name NAME");
    if (mode == "new" && hasName)
        throw UsageError("dialog new takes no --name");
    std::string platformDir = PluginDirectory(dir);
    if (scriptPath.empty())
        throw UsageError("dialog: no display back-end is available here; give --script FILE "
                         "to run the dialog headless");
    std::vector<std::string> lines;
    if (!OperatorScript::ReadFile(scriptPath, lines))
        throw UsageError("dialog: cannot read script " + scriptPath);

    NotificationType type = FindNotificationType(typeName);
    auto write = [](const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    OperatorScript script(lines, write);
    NotifyHost hostObject(stdout);
    hostObject.SetLogSink([&](const std::string& text) { script.Log(text); });

    winplat::ComPtr<ISentrelNotification> plugin;
    plugin.Attach(static_cast<ISentrelNotification*>(CreatePlugin(type, IID_ISentrelNotification)));
    winplat::ComPtr<ISentrelNotificationConfig> config;
    if (FAILED(plugin->QueryInterface(IID_ISentrelNotificationConfig, config.PutVoid())))
        throw UsageError("type " + type.subkey + " has no settings dialog");
    HRESULT hrInit = plugin->Initialize(static_cast<ISentrelNotifyHost*>(&hostObject));

    winplat::Bstr directory(Utf16(platformDir));
    BSTR bstrName = hasName ? SysAllocString(Utf16(name).c_str()) : nullptr;
    HRESULT hr = mode == "new" ? config->NewInstanceDialog(directory.Get(), &bstrName)
                               : config->EditInstanceDialog(directory.Get(), &bstrName);
    std::string line = "result " + HresultText(hr);
    if (hr == S_OK && bstrName)
        line += " name " + OperatorScript::Quote(Utf8(bstrName));
    SysFreeString(bstrName);
    write(line);

    if (SUCCEEDED(hrInit))
        plugin->UnInitialize();
    config.Reset();
    plugin.Reset();
    HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0);
    if (!script.Error().empty()) {
        std::fprintf(stderr, "sentrel: %s\n", script.Error().c_str());
        return 2;
    }
    return hr == S_OK ? 0 : 1;
}

} // namespace host
