// The HTML Help viewer over help folders: a help "file" is a folder of HTML pages with
// the contents page index.htm and context.map, whose lines map a context number to a
// page. The viewer's window is a hidden window of the platform; the page itself opens in
// the user's browser when a viewer command is configured or a display is in use, and
// the request is always told to the operator interface.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <winplat/htmlhelp.h>
#include <winplat/ui_operator.h>
#include <winplat/winbase.h>
#include <winplat/winerror.h>
#include <winplat/winreg.h>

#include "files/files_internal.h"

extern char** environ;

namespace {

constexpr char kViewerClass[] = "HH Parent";

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A page name from a map or a caller: a plain file name inside the help folder.
bool IsSafePage(const std::string& page) {
    return !page.empty() && page.find('/') == std::string::npos &&
           page.find('\\') == std::string::npos && page != "." && page != "..";
}

// The page of a context number, as context.map lists it.
std::string PageOfContext(const std::string& folder, DWORD_PTR context) {
    std::ifstream map(folder + "/context.map");
    std::string line;
    while (std::getline(map, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        unsigned long long number = 0;
        std::string page;
        if (fields >> number >> page && number == context)
            return page;
    }
    return {};
}

// The POSIX path of the page a request names, or empty when there is none.
std::string ResolvePage(LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
    std::string folder;
    if (!pszFile || !*pszFile || !winplat::files::ToPosix(pszFile, folder))
        return {};
    if (!IsFile(folder + "/index.htm"))
        return {};
    std::string page;
    switch (uCommand) {
    case HH_DISPLAY_TOC:
        page = "index.htm";
        break;
    case HH_HELP_CONTEXT:
        page = PageOfContext(folder, dwData);
        break;
    case HH_DISPLAY_TOPIC:
        page = dwData ? reinterpret_cast<LPCSTR>(dwData) : "index.htm";
        break;
    default:
        return {};
    }
    if (!IsSafePage(page) || !IsFile(folder + "/" + page))
        return {};
    return folder + "/" + page;
}

std::string ConfiguredViewer() {
    if (const char* env = std::getenv("SENTREL_HELP_VIEWER"); env && *env)
        return env;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Calvaro\\Sentrel\\Help", 0, KEY_QUERY_VALUE,
                      &hKey) != ERROR_SUCCESS)
        return {};
    char value[1024] = {};
    DWORD cb = sizeof value - 1;
    DWORD type = 0;
    LONG rc =
        RegQueryValueExA(hKey, "Viewer", nullptr, &type, reinterpret_cast<LPBYTE>(value), &cb);
    RegCloseKey(hKey);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

// Runs the viewer command with the page as its last argument, in the background: the
// help window belongs to the browser and outlives the request.
void Launch(const std::string& command, const std::string& page) {
    std::string script = command + " \"$1\" </dev/null >/dev/null 2>&1 &";
    const char* argv[] = {"sh", "-c", script.c_str(), "sh", page.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

HWND g_viewer = nullptr;

HWND ViewerWindow() {
    if (g_viewer && IsWindow(g_viewer))
        return g_viewer;
    static bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kViewerClass;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    g_viewer = CreateWindowExA(0, kViewerClass, "Help", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               nullptr, nullptr);
    return g_viewer;
}

} // namespace

WINPLAT_API HWND HtmlHelpA(HWND, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
    if (uCommand == HH_CLOSE_ALL) {
        if (g_viewer && IsWindow(g_viewer))
            DestroyWindow(g_viewer);
        g_viewer = nullptr;
        return nullptr;
    }
    std::string page = ResolvePage(pszFile, uCommand, dwData);
    HWND window = nullptr;
    if (!page.empty()) {
        window = ViewerWindow();
        std::string viewer = ConfiguredViewer();
        if (viewer.empty() && winplat::ui::HasDisplay())
            viewer = "xdg-open";
        if (!viewer.empty())
            Launch(viewer, page);
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    if (winplat::ui::Observer* observer = winplat::ui::GetObserver())
        observer->OnHelp(pszFile ? pszFile : "", uCommand, dwData, window != nullptr);
    return window;
}
