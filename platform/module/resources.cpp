// Resources: each module attaches the table its resource script was compiled into
// when it is loaded, and detaches it when it is unloaded.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <winplat/resource.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>

namespace {

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}

std::map<HMODULE, std::vector<const WINPLAT_RESOURCE_DIRECTORY*>>& Tables() {
    static std::map<HMODULE, std::vector<const WINPLAT_RESOURCE_DIRECTORY*>> tables;
    return tables;
}

bool SameId(LPCSTR a, LPCSTR b) {
    if (IS_INTRESOURCE(a) || IS_INTRESOURCE(b))
        return a == b;
    // "#101" names resource 101, as on Windows.
    return strcasecmp(a, b) == 0;
}

LPCSTR Normalise(LPCSTR id) {
    if (!IS_INTRESOURCE(id) && id[0] == '#')
        return MAKEINTRESOURCEA(std::strtoul(id + 1, nullptr, 10));
    return id;
}

} // namespace

WINPLAT_API void WinplatAttachResources(const WINPLAT_RESOURCE_DIRECTORY* pDirectory) {
    HMODULE hModule = WinplatModuleFromAddress(pDirectory);
    std::lock_guard lock(Mutex());
    Tables()[hModule].push_back(pDirectory);
}

WINPLAT_API void WinplatDetachResources(const WINPLAT_RESOURCE_DIRECTORY* pDirectory) {
    std::lock_guard lock(Mutex());
    for (auto it = Tables().begin(); it != Tables().end(); ++it) {
        auto& list = it->second;
        for (auto d = list.begin(); d != list.end(); ++d) {
            if (*d == pDirectory) {
                list.erase(d);
                if (list.empty())
                    Tables().erase(it);
                return;
            }
        }
    }
}

WINPLAT_API HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    if (!hModule)
        hModule = GetModuleHandleA(nullptr);
    if (!lpName || !lpType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    lpName = Normalise(lpName);
    lpType = Normalise(lpType);
    std::lock_guard lock(Mutex());
    auto it = Tables().find(hModule);
    if (it == Tables().end()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    bool typeSeen = false;
    for (const WINPLAT_RESOURCE_DIRECTORY* directory : it->second) {
        for (DWORD i = 0; i < directory->nEntries; ++i) {
            const WINPLAT_RESOURCE& entry = directory->pEntries[i];
            if (!entry.lpType || !SameId(entry.lpType, lpType))
                continue;
            typeSeen = true;
            if (SameId(entry.lpName, lpName))
                return const_cast<WINPLAT_RESOURCE*>(&entry);
        }
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

WINPLAT_API HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(static_cast<const WINPLAT_RESOURCE*>(hResInfo)->pData);
}

WINPLAT_API LPVOID LockResource(HGLOBAL hResData) { return hResData; }

WINPLAT_API DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
    return hResInfo ? static_cast<const WINPLAT_RESOURCE*>(hResInfo)->cbData : 0;
}

// String resources are UTF-8 in the script; callers get them in the ANSI code page.
WINPLAT_API int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = '\0';
    HRSRC hRes = FindResourceA(hInstance, MAKEINTRESOURCEA(uID), RT_STRING);
    if (!hRes)
        return 0;
    auto* text = static_cast<const char*>(LockResource(LoadResource(hInstance, hRes)));
    int cb = static_cast<int>(SizeofResource(hInstance, hRes));
    if (cb == 0)
        return 0;
    int cch = MultiByteToWideChar(CP_UTF8, 0, text, cb, nullptr, 0);
    std::u16string wide(static_cast<size_t>(cch), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, cb, wide.data(), cch);
    int need = WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(need), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, ansi.data(), need, nullptr, nullptr);
    int copied = std::min<int>(need, cchBufferMax - 1);
    std::memcpy(lpBuffer, ansi.data(), static_cast<size_t>(copied));
    lpBuffer[copied] = '\0';
    return copied;
}
