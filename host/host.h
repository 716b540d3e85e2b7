// The host's commands and what they share.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <winplat/objbase.h>

namespace host {

// Bad usage, an unknown type, a module that cannot be loaded: one line, exit 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Args = std::vector<std::string>;

// The host's keys under HKEY_LOCAL_MACHINE.
inline constexpr const char kHostKey[] = "Software\\Calvaro\\Sentrel";
inline constexpr const char kNotificationKey[] = "Software\\Calvaro\\Sentrel\\Notification";

int CommandInit(const Args& args);
int CommandRegister(const Args& args, bool bRegister);
int CommandTypes(const Args& args);
int CommandNotify(const Args& args);
int CommandWeb(const Args& args);
int CommandPage(const Args& args);
int CommandApply(const Args& args);
int CommandDialog(const Args& args);
int CommandPlugins(const Args& args);
int CommandCheck(const Args& args);

// A notification type as the host's list records it.
struct NotificationType {
    std::string subkey;
    std::string displayName;
    std::string clsid;
    std::string description;
};
std::vector<NotificationType> ListNotificationTypes();
// The entry whose subkey matches without regard to case; UsageError when there is none.
NotificationType FindNotificationType(const std::string& type);
// Creates the plug-in object of a type and asks it for an interface; UsageError when the
// class cannot be created.
IUnknown* CreatePlugin(const NotificationType& type, REFIID riid);

// A path as a plug-in receives it, in UTF-8 (the host hands it over as a BSTR): verbatim
// when it holds a backslash, an absolute POSIX path in its Z:\ form. UsageError when the
// ANSI code page cannot spell it.
std::string PluginPath(const std::string& path);
// Whether every character of the UTF-8 text has a form in the ANSI code page (no stand-in).
bool FitsCodePage(const std::string& utf8);

// The names of a key's subkeys, in the registry's order.
std::vector<std::string> SubkeyNames(HKEY hKey);

// The registry failure explained (the file and line when it does not parse).
std::string RegistryProblem(LONG code);
// UsageError naming the file and line when the registry file cannot be read.
void RequireReadableRegistry();

int CommandMachine(const Args& args);

// Prints the lines of usage that describe command, as "usage: sentrel ..."; all of usage
// when it has none.
void PrintCommandUsage(const char* usage, const std::string& command);
// Whether args ask for help (--help or -h where an option's value cannot stand).
bool WantsHelp(const Args& args);

// The platform's text for a Win32 error, without its line end and full stop.
std::string SystemErrorText(DWORD code);

// "0x%08X".
std::string HresultText(HRESULT hr);

} // namespace host
