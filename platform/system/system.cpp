// Local memory, the millisecond counter, the computer name and the user's data folder.
#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <winplat/winbase.h>

#include "system/system_internal.h"

namespace winplat {

std::string UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/sentrel";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        struct passwd pw;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found)
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.local/share/sentrel";
}

} // namespace winplat

WINPLAT_API HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                       : std::malloc(uBytes ? uBytes : 1);
    if (!p)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

WINPLAT_API HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

WINPLAT_API DWORD GetTickCount(void) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms); // wraps as the platform's counter does
}

WINPLAT_API void Sleep(DWORD dwMilliseconds) {
    timespec ts{static_cast<time_t>(dwMilliseconds / 1000),
                static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// The host name up to its first dot, upper-cased, as the platform reports computer names.
WINPLAT_API BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        std::strcpy(host, "LOCALHOST");
    if (char* dot = std::strchr(host, '.'))
        *dot = '\0';
    size_t n = std::strlen(host);
    if (n > MAX_COMPUTERNAME_LENGTH)
        n = MAX_COMPUTERNAME_LENGTH;
    if (!lpBuffer || *nSize <= n) {
        *nSize = static_cast<DWORD>(n + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    for (size_t i = 0; i < n; ++i)
        lpBuffer[i] = (host[i] >= 'a' && host[i] <= 'z') ? char(host[i] - 32) : host[i];
    lpBuffer[n] = '\0';
    *nSize = static_cast<DWORD>(n);
    return TRUE;
}
