// Modules: shared objects loaded with dlopen. A module's HMODULE is the address of
// its first mapped byte, so any address inside it leads back to its handle.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <winplat/resource.h>
#include <winplat/winbase.h>

#include "module_internal.h"

namespace {

// dlopen handles taken by LoadLibraryA, with how many times each module was loaded.
struct Loaded {
    void* dl;
    int count;
};
std::mutex g_mutex;
std::map<HMODULE, Loaded> g_loaded;
thread_local std::string t_loaderError;

HMODULE FromDlHandle(void* dl) {
    link_map* map = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(map->l_ld), &info))
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

std::string PosixPathOf(HMODULE hModule) {
    if (!hModule || hModule == GetModuleHandleA(nullptr)) {
        char buffer[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    Dl_info info{};
    if (!dladdr(hModule, &info) || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

} // namespace

namespace winplat {
std::string ModulePosixPath(HMODULE hModule) {
    return PosixPathOf(hModule);
}
} // namespace winplat

WINPLAT_API HMODULE WinplatModuleFromAddress(LPCVOID pAddress) {
    Dl_info info{};
    if (!pAddress || !dladdr(pAddress, &info))
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

WINPLAT_API DWORD WinplatGetLoaderError(LPSTR lpBuffer, DWORD nSize) {
    if (!lpBuffer || nSize == 0)
        return 0;
    size_t n = std::min<size_t>(t_loaderError.size(), nSize - 1);
    std::memcpy(lpBuffer, t_loaderError.data(), n);
    lpBuffer[n] = '\0';
    return static_cast<DWORD>(n);
}

WINPLAT_API HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    char posix[PATH_MAX];
    if (!WinplatToPosixPath(lpLibFileName, posix, sizeof posix)) {
        t_loaderError = std::string(lpLibFileName) + ": not a path of this system";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* dl = dlopen(posix, RTLD_NOW | RTLD_LOCAL);
    if (!dl) {
        const char* why = dlerror();
        t_loaderError = why ? why : posix;
        SetLastError(access(posix, F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE hModule = FromDlHandle(dl);
    if (!hModule) {
        dlclose(dl);
        t_loaderError = std::string(posix) + ": cannot find where it was loaded";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(g_mutex);
    auto [it, inserted] = g_loaded.try_emplace(hModule, Loaded{dl, 0});
    if (!inserted)
        dlclose(dl); // already held: dlopen only raised its count
    ++it->second.count;
    return hModule;
}

WINPLAT_API BOOL FreeLibrary(HMODULE hLibModule) {
    void* dl = nullptr;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_loaded.find(hLibModule);
        if (it == g_loaded.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--it->second.count == 0) {
            dl = it->second.dl;
            g_loaded.erase(it);
        }
    }
    if (dl)
        dlclose(dl);
    return TRUE;
}

WINPLAT_API void* GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    void* dl = nullptr;
    bool borrowed = false;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_loaded.find(hModule);
        if (it != g_loaded.end())
            dl = it->second.dl;
    }
    if (!dl) {
        std::string path = PosixPathOf(hModule);
        dl = hModule == GetModuleHandleA(nullptr) ? dlopen(nullptr, RTLD_LAZY)
                                                  : dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        borrowed = true;
    }
    if (!dl) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* proc = dlsym(dl, lpProcName);
    if (borrowed)
        dlclose(dl);
    if (!proc)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

WINPLAT_API HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    struct Search {
        const char* name;
        HMODULE found;
    } search{lpModuleName, nullptr};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            const char* name = info->dlpi_name ? info->dlpi_name : "";
            bool match;
            if (!s->name) {
                match = name[0] == '\0'; // the program itself comes first, unnamed
            } else {
                const char* base = std::strrchr(name, '/');
                match = std::strcmp(base ? base + 1 : name, s->name) == 0 ||
                        std::strcmp(name, s->name) == 0;
            }
            if (!match)
                return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type == PT_LOAD) {
                    Dl_info dl{};
                    auto addr =
                        reinterpret_cast<void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                    if (dladdr(addr, &dl))
                        s->found = static_cast<HMODULE>(dl.dli_fbase);
                    return 1;
                }
            }
            return 0;
        },
        &search);
    if (!search.found)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return search.found;
}

WINPLAT_API DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string posix = PosixPathOf(hModule);
    if (posix.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char path[PATH_MAX + 3];
    if (!WinplatFromPosixPath(posix.c_str(), path, sizeof path)) {
        // A folder name the code page cannot spell keeps its ERROR_NO_UNICODE_TRANSLATION.
        if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t length = std::strlen(path);
    if (length >= nSize) {
        std::memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path, length + 1);
    return static_cast<DWORD>(length);
}
