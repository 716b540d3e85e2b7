// init, register, unregister, types.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <winplat/htmlhelp.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>
#include <winplat/winreg.h>

#include "host.h"

namespace host {

namespace {

// The installation directory by default: where the build put the plug-ins and their help
// files (plugins/ beside the bin/ that holds this program), else the folder above bin/.
std::string DefaultInstallDir() {
    std::string path = winplat::ModuleFileName(nullptr);
    for (int up = 0; up < 2; ++up) {
        size_t cut = path.find_last_of('\\');
        if (cut == std::string::npos || cut <= 2)
            break;
        path.resize(cut);
    }
    std::string plugins = path + "\\plugins";
    DWORD attributes = GetFileAttributesA(plugins.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return plugins;
    return path;
}

LONG SetText(HKEY hKey, const char* name, const std::string& value) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

std::string QueryText(HKEY hKey, const char* name) {
    DWORD cb = 0;
    DWORD type = 0;
    if (RegQueryValueExA(hKey, name, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::string value(cb, '\0');
    if (RegQueryValueExA(hKey, name, nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &cb) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::min<size_t>(cb, value.size()));
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
}

// An absolute POSIX path in the platform's form and the ANSI code page, as the platform's
// functions take it.
std::string AnsiPlatformPath(const std::string& posix, const std::string& what) {
    char platform[PATH_MAX + 3];
    if (!WinplatFromPosixPath(posix.c_str(), platform, sizeof platform))
        throw UsageError(
            what + ": " +
            (GetLastError() == ERROR_NO_UNICODE_TRANSLATION
                 ? "the path cannot be written in code page " + std::to_string(GetACP())
                 : std::string("path too long")));
    return platform;
}

// A module path as LoadLibraryA takes it: absolute, in the platform's form.
std::string ModulePathArgument(const std::string& arg) {
    if (arg.find('\\') != std::string::npos)
        return arg;
    char resolved[PATH_MAX];
    if (!realpath(arg.c_str(), resolved))
        throw UsageError("cannot load module " + arg + ": no such file");
    return AnsiPlatformPath(resolved, "cannot load module " + arg);
}

bool HostKeysPresent() {
    HKEY hList = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNotificationKey, 0, KEY_READ, &hList) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hList);
    return true;
}

// The module a class is served by, as its InprocServer32 key names it.
std::string ServerOf(const std::string& clsid) {
    HKEY hServer = nullptr;
    std::string key = "CLSID\\" + clsid + "\\InprocServer32";
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hServer) != ERROR_SUCCESS)
        return {};
    std::string server = QueryText(hServer, nullptr);
    RegCloseKey(hServer);
    return server;
}

// Says on standard error which notification types the module added or took away.
void ReportRegistered(const std::string& shown, const std::string& modulePath,
                      const std::vector<NotificationType>& before, bool bRegister) {
    std::vector<NotificationType> after = ListNotificationTypes();
    const std::vector<NotificationType>& listed = bRegister ? after : before;
    const std::vector<NotificationType>& other = bRegister ? before : after;
    int count = 0;
    for (const NotificationType& t : listed) {
        bool inOther = std::any_of(other.begin(), other.end(),
                                   [&](const NotificationType& o) { return o.subkey == t.subkey; });
        bool ours = ServerOf(t.clsid) == modulePath;
        if (bRegister ? (ours || !inOther) : !inOther) {
            std::fprintf(stderr, "sentrel: %s notification type %s (%s) %s %s\n",
                         bRegister ? "registered" : "unregistered", t.subkey.c_str(),
                         t.displayName.c_str(), bRegister ? "from" : "of", shown.c_str());
            ++count;
        }
    }
    if (count == 0)
        std::fprintf(stderr, "sentrel: %s %s; it %s no notification type\n",
                     bRegister ? "registered" : "unregistered", shown.c_str(),
                     bRegister ? "adds" : "removed");
}

} // namespace

void RequireReadableRegistry() {
    char detail[1024] = {};
    if (WinplatGetRegistryError(detail, sizeof detail) > 0)
        throw UsageError(std::string("registry file cannot be read: ") + detail);
}

std::string RegistryProblem(LONG code) {
    char path[MAX_PATH * 4] = {};
    WinplatGetRegistryPath(path, sizeof path);
    char detail[1024] = {};
    if (code == ERROR_BADDB && WinplatGetRegistryError(detail, sizeof detail) > 0)
        return std::string("registry file cannot be read: ") + detail;
    return std::string("registry ") + path + ": " + SystemErrorText(static_cast<DWORD>(code));
}

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string why = text ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
        why.pop_back();
    return why;
}

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

int CommandInit(const Args& args) {
    std::string installDir;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--install-dir" && i + 1 < args.size())
            installDir = args[++i];
        else
            throw UsageError("init: unexpected argument " + args[i]);
    }
    if (installDir.empty())
        installDir = DefaultInstallDir();
    else if (installDir.front() == '/')
        installDir = AnsiPlatformPath(installDir, "init: --install-dir " + installDir);

    HKEY hHost = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kHostKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &hHost, nullptr);
    if (rc != ERROR_SUCCESS)
        throw UsageError(RegistryProblem(rc));
    rc = SetText(hHost, "INSTALLDIR", installDir);
    for (const char* sub : {"Notification", "plugins"}) {
        HKEY hSub = nullptr;
        if (rc == ERROR_SUCCESS)
            rc = RegCreateKeyExA(hHost, sub, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &hSub, nullptr);
        if (hSub)
            RegCloseKey(hSub);
    }
    RegCloseKey(hHost);
    // The help viewer is part of this platform: its control is registered, as the
    // platform's own setup registers it.
    if (rc == ERROR_SUCCESS) {
        HKEY hHelp = nullptr;
        rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\" HH_CONTROL_CLSID_TEXT, 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &hHelp, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = SetText(hHelp, nullptr, "HHCtrl Object");
            RegCloseKey(hHelp);
        }
    }
    if (rc != ERROR_SUCCESS)
        throw UsageError(RegistryProblem(rc));
    return 0;
}

int CommandRegister(const Args& args, bool bRegister) {
    const char* verb = bRegister ? "register" : "unregister";
    if (args.size() != 1)
        throw UsageError(std::string(verb) + " needs exactly one MODULE");
    std::string path = ModulePathArgument(args[0]);
    HMODULE hModule = LoadLibraryA(path.c_str());
    if (!hModule) {
        char why[1024] = {};
        WinplatGetLoaderError(why, sizeof why);
        throw UsageError("cannot load module " + args[0] + ": " + why);
    }
    const char* exportName = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    auto pfn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(hModule, exportName));
    if (!pfn)
        throw UsageError("module " + args[0] + " does not export " + exportName);
    bool bHostKeys = HostKeysPresent();
    std::vector<NotificationType> before =
        bHostKeys ? ListNotificationTypes() : std::vector<NotificationType>{};
    HRESULT hr = pfn();
    std::printf("%s\n", HresultText(hr).c_str());
    std::fflush(stdout);
    if (FAILED(hr)) {
        if (char detail[1024] = {}; WinplatGetRegistryError(detail, sizeof detail) > 0)
            std::fprintf(stderr, "sentrel: registry file cannot be read: %s\n", detail);
        return 1;
    }
    if (!bHostKeys) {
        std::fprintf(stderr,
                     "sentrel: warning: the host's keys (HKEY_LOCAL_MACHINE\\%s) are missing, so "
                     "no notification type is listed; run sentrel init, then register again\n",
                     kNotificationKey);
        return 0;
    }
    ReportRegistered(args[0], path, before, bRegister);
    return 0;
}

std::vector<std::string> SubkeyNames(HKEY hKey) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD cch = sizeof name;
        if (RegEnumKeyExA(hKey, index, name, &cch, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.push_back(name);
    }
}

std::vector<NotificationType> ListNotificationTypes() {
    HKEY hList = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNotificationKey, 0, KEY_READ, &hList);
    if (rc == ERROR_FILE_NOT_FOUND)
        throw UsageError("the host's keys are missing from the registry (run sentrel init)");
    if (rc != ERROR_SUCCESS)
        throw UsageError(RegistryProblem(rc));
    std::vector<NotificationType> types;
    for (const std::string& name : SubkeyNames(hList)) {
        HKEY hType = nullptr;
        if (RegOpenKeyExA(hList, name.c_str(), 0, KEY_READ, &hType) != ERROR_SUCCESS)
            continue;
        types.push_back({name, QueryText(hType, "DisplayName"), QueryText(hType, "CLSID"),
                         QueryText(hType, "Description")});
        RegCloseKey(hType);
    }
    RegCloseKey(hList);
    return types;
}

int CommandTypes(const Args& args) {
    if (!args.empty())
        throw UsageError("types takes no arguments");
    std::vector<NotificationType> types = ListNotificationTypes();
    for (const NotificationType& t : types)
        std::printf("%s\t%s\t%s\t%s\n", t.subkey.c_str(), t.displayName.c_str(), t.clsid.c_str(),
                    t.description.c_str());
    if (types.empty())
        std::fprintf(stderr, "sentrel: no notification type is registered (sentrel register "
                             "MODULE, e.g. build/plugins/tellumo.so)\n");
    return 0;
}

} // namespace host
