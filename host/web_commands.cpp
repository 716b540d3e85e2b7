// page and apply: one web configuration call from the command line. Standard output holds
// nothing but the page; the plug-in's log lines go to standard error.
#include <climits>
#include <cstdio>
#include <functional>

#include <winplat/winbase.h>

#include "diagnose.h"
#include "host.h"
#include "notify_host.h"
#include "web_form.h"
#include "web_plugin.h"

namespace host {

namespace {

// The value of "--name VALUE" in args (removed from args); empty when absent.
std::string TakeOption(Args& args, const std::string& name, const char* command) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name)
            continue;
        if (i + 1 >= args.size())
            throw UsageError(std::string(command) + ": " + name + " needs a value");
        std::string value = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return value;
    }
    return {};
}

void RefuseOptions(const Args& args, const char* command) {
    for (const std::string& arg : args)
        if (arg.rfind("--", 0) == 0)
            throw UsageError(std::string(command) + ": unknown option " + arg);
}

// The result on standard error; then what the host found out about it.
int Finish(HRESULT hr, const std::function<void()>& report) {
    std::fflush(stdout);
    if (hr != S_OK)
        std::fprintf(stderr, "%s\n", HresultText(hr).c_str());
    report();
    return hr == S_OK ? 0 : 1;
}

ISentrelNotificationWeb* RequireWeb(const WebPlugin& plugin, const NotificationType& type) {
    if (!plugin.Web())
        throw UsageError("notification type " + type.subkey + " has no web configuration");
    return plugin.Web();
}

} // namespace

int CommandPage(const Args& argsIn) {
    Args args = argsIn;
    std::string dir = TakeOption(args, "--dir", "page");
    RefuseOptions(args, "page");
    bool bNew = args.size() == 2 && args[0] == "new" && !dir.empty();
    bool bEdit = args.size() == 3 && args[0] == "edit" && dir.empty();
    if (!bNew && !bEdit)
        throw UsageError("usage: page new TYPE --dir DIR | page edit TYPE PATH");

    NotificationType type = FindNotificationType(args[1]);
    std::string target = bNew ? PluginDirectory(dir) : PluginPath(args[2]);
    winplat::Bstr argument(Utf16(target));
    NotifyHost hostObject(stderr);
    HRESULT hr;
    {
        WebPlugin plugin(type, &hostObject);
        ISentrelNotificationWeb* web = RequireWeb(plugin, type);
        winplat::Bstr html;
        hr = bNew ? web->GetNewPage(argument.Get(), html.Put())
                  : web->GetEditPage(argument.Get(), html.Put());
        if (hr == S_OK) {
            std::string page = Utf8FromBstr(html.Get());
            std::fwrite(page.data(), 1, page.size(), stdout);
        }
    }
    return Finish(hr, [&] {
        if (bNew)
            ReportDirectory(type, target, "", hr);
        else
            ReportPage(type, target, hr);
    });
}

int CommandApply(const Args& argsIn) {
    Args args = argsIn;
    std::string dir = TakeOption(args, "--dir", "apply");
    bool bForm = false;
    for (const std::string& arg : args)
        bForm = bForm || arg == "--form";
    std::string form = TakeOption(args, "--form", "apply");
    RefuseOptions(args, "apply");
    if (args.size() != 1 || dir.empty() || !bForm)
        throw UsageError("usage: apply TYPE --dir DIR --form TEXT");

    NotificationType type = FindNotificationType(args[0]);
    std::string pluginDirectory = PluginDirectory(dir);
    char posixDir[PATH_MAX];
    if (!WinplatToPosixPath(pluginDirectory.c_str(), posixDir, sizeof posixDir))
        throw UsageError("not a directory: " + dir);
    RefuseOtherType(posixDir, TargetOfForm(form), type);
    winplat::Bstr directory(Utf16(pluginDirectory));
    winplat::Bstr formData(Utf16(form));
    NotifyHost hostObject(stderr);
    HRESULT hr;
    {
        WebPlugin plugin(type, &hostObject);
        hr = RequireWeb(plugin, type)->ApplyPostedForm(directory.Get(), formData.Get());
    }
    return Finish(hr, [&] { ReportDirectory(type, pluginDirectory, form, hr); });
}

} // namespace host
