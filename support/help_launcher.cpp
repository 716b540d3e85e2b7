#include "help_launcher.h"

#include <cstdio>
#include <cstring>

#include <winplat/crt.h>
#include <winplat/htmlhelp.h>
#include <winplat/winreg.h>

namespace {

constexpr char kHostKey[] = "Software\\Calvaro\\Sentrel";
constexpr char kHelpControlKey[] = "CLSID\\" HH_CONTROL_CLSID_TEXT;

// The host's installation folder, when its key and value can be read.
bool ReadInstallDir(char* pszDir, DWORD cbDir) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHostKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD cb = cbDir - 1;
    LONG rc =
        RegQueryValueExA(hKey, "INSTALLDIR", nullptr, &type, reinterpret_cast<LPBYTE>(pszDir), &cb);
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS)
        return false;
    pszDir[cb < cbDir ? cb : cbDir - 1] = '\0';
    return true;
}

bool HelpViewerInstalled() {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHelpControlKey, 0, KEY_QUERY_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

} // namespace

void LaunchHelp(HWND hWndOwner, const char* pszHelpFile, UINT nHelpId) {
    if (!pszHelpFile || !*pszHelpFile)
        return;

    if (GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) < 0) {
        char szText[128] = {};
        std::snprintf(szText, sizeof szText, "Help system is being called with ID: %u", nHelpId);
        MessageBoxA(hWndOwner, szText, "", MB_OK);
    }

    char szPath[787] = {};
    std::snprintf(szPath, sizeof szPath, "%s", pszHelpFile);
    char szDrive[_MAX_DRIVE], szDir[_MAX_DIR], szName[_MAX_FNAME], szExt[_MAX_EXT];
    _splitpath(pszHelpFile, szDrive, szDir, szName, szExt);
    if (szDir[0] == '\0') {
        char szInstallDir[256] = {};
        if (ReadInstallDir(szInstallDir, sizeof szInstallDir))
            std::snprintf(szPath, sizeof szPath, "%s\\%s", szInstallDir, pszHelpFile);
    }

    if (HelpViewerInstalled()) {
        UINT command = nHelpId ? HH_HELP_CONTEXT : HH_DISPLAY_TOC;
        if (HtmlHelpA(hWndOwner, szPath, command, nHelpId))
            return;
        if (command == HH_HELP_CONTEXT && HtmlHelpA(hWndOwner, szPath, HH_DISPLAY_TOC, 0))
            return;
    }

    char szError[1284] = {};
    std::snprintf(szError, sizeof szError,
                  "ERROR: Could not load the help file %s.\r\n\r\nProbable causes are that the "
                  "file does not exists or the HTML Help support system is not installed on the "
                  "computer.  (The HTML Help support system is available with IE4 and above.)",
                  szPath);
    MessageBoxA(hWndOwner, szError, "Help File Load Error", MB_OK);
}
