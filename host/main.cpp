// sentrel: loads the notification plug-ins and drives them as the monitoring host does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <winplat/objbase.h>
#include <winplat/winreg.h>

#include "host.h"

namespace {

constexpr char kUsage[] =
    "usage: sentrel [--registry FILE] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  init [--install-dir DIR]      create the host's registry keys\n"
    "  register MODULE               load MODULE and call its DllRegisterServer\n"
    "  unregister MODULE             load MODULE and call its DllUnregisterServer\n"
    "  types                         list the registered notification types\n"
    "  notify TYPE PATH [--var NAME=VALUE]... [--expand-fails]\n"
    "                                deliver one alert to the instance file PATH\n"
    "  web --dir DIR [--listen ADDR:PORT] [--password-file FILE]\n"
    "      [--tls-cert FILE --tls-key FILE] [--server-name NAME]...\n"
    "                                serve the web configuration of the notifications\n"
    "                                in DIR (default 127.0.0.1:8080; an address other\n"
    "                                than loopback needs --password-file and TLS)\n"
    "  page new TYPE --dir DIR       print the plug-in's page for a new instance\n"
    "  page edit TYPE PATH           print the plug-in's page for editing PATH\n"
    "  apply TYPE --dir DIR --form TEXT\n"
    "                                apply a posted form TEXT as it is\n"
    "  dialog new TYPE --dir DIR [--script FILE]\n"
    "  dialog edit TYPE --dir DIR --name NAME [--script FILE]\n"
    "                                run the plug-in's settings dialog; with --script\n"
    "                                headless, an operator script playing the person\n"
    "                                (see docs/dialogs.md), the transcript on stdout\n"
    "  machine add NAME [--address A] [--port P] [--user U] [--password-file F]\n"
    "              [--backend supervisord|simulated] [--simulation-file F]\n"
    "                                set the service manager of machine NAME (the\n"
    "                                password is the first line of F, - for stdin)\n"
    "  machine list                  list the configured machines (no passwords)\n"
    "  machine remove NAME           forget machine NAME's settings\n"
    "  machine test NAME             connect to NAME's manager and list its services\n"
    "\n"
    "The registry file is FILE, else $SENTREL_REGISTRY, else\n"
    "$XDG_DATA_HOME/sentrel/registry.reg (~/.local/share/sentrel/registry.reg).\n"
    "Every command answers --help. Exit status: 0 success, 1 the plug-in reported a\n"
    "failure (its HRESULT and the cause the host finds on standard error), 2 bad usage\n"
    "or setup.\n";

} // namespace

int main(int argc, char** argv) {
    host::Args args(argv + 1, argv + argc);
    try {
        while (!args.empty() && args.front().rfind("--", 0) == 0) {
            std::string option = args.front();
            args.erase(args.begin());
            if (option == "--help" || option == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            }
            if (option == "--registry") {
                if (args.empty())
                    throw host::UsageError("--registry needs a file");
                WinplatSetRegistryPath(args.front().c_str());
                args.erase(args.begin());
            } else {
                throw host::UsageError("unknown option " + option);
            }
        }
        if (args.empty())
            throw host::UsageError("no command given (see sentrel --help)");
        std::string command = args.front();
        args.erase(args.begin());

        if (host::WantsHelp(args)) {
            host::PrintCommandUsage(kUsage, command);
            return 0;
        }
        host::RequireReadableRegistry();

        CoInitialize(nullptr);
        int status;
        if (command == "init")
            status = host::CommandInit(args);
        else if (command == "register")
            status = host::CommandRegister(args, true);
        else if (command == "unregister")
            status = host::CommandRegister(args, false);
        else if (command == "types")
            status = host::CommandTypes(args);
        else if (command == "notify")
            status = host::CommandNotify(args);
        else if (command == "web")
            status = host::CommandWeb(args);
        else if (command == "page")
            status = host::CommandPage(args);
        else if (command == "apply")
            status = host::CommandApply(args);
        else if (command == "dialog")
            status = host::CommandDialog(args);
        else if (command == "machine")
            status = host::CommandMachine(args);
        else
            throw host::UsageError("unknown command " + command + " (see sentrel --help)");
        std::fflush(stdout);
        return status;
    } catch (const host::UsageError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "sentrel: %s\n", e.what());
        return 2;
    }
}
