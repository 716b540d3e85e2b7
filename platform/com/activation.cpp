// Apartments and in-process activation. A class is served by the platform itself
// (built-in classes) or by the module named in HKCR\CLSID\{...}\InprocServer32.
#include <atomic>
#include <cstring>
#include <map>
#include <new>
#include <mutex>
#include <string>
#include <vector>

#include <winplat/objbase.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "com/unknown_object.h"

namespace {

thread_local int t_initCount = 0;

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

std::mutex& BuiltinMutex() {
    static std::mutex m;
    return m;
}

std::map<GUID, WINPLAT_CLASS_CREATOR, GuidLess>& Builtins() {
    static std::map<GUID, WINPLAT_CLASS_CREATOR, GuidLess> classes;
    return classes;
}

// Modules loaded for activation, kept until CoFreeUnusedLibraries finds them idle.
struct LoadedServer {
    std::string path;
    HMODULE hModule;
};
std::mutex g_serversMutex;
std::vector<LoadedServer> g_servers;

// The class object creator for built-in classes: a tiny class factory.
class BuiltinFactory final : public winplat::UnknownObject<IClassFactory, IID_IClassFactory> {
public:
    explicit BuiltinFactory(WINPLAT_CLASS_CREATOR pfn) : m_pfn(pfn) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
        return m_pfn(pOuter, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    WINPLAT_CLASS_CREATOR m_pfn;
};

WINPLAT_CLASS_CREATOR FindBuiltin(REFCLSID rclsid) {
    std::lock_guard lock(BuiltinMutex());
    auto it = Builtins().find(rclsid);
    return it == Builtins().end() ? nullptr : it->second;
}

// The module path registered for the class, or an HRESULT explaining why there is none.
HRESULT RegisteredServerPath(REFCLSID rclsid, std::string* pPath) {
    OLECHAR wide[GUID_STRING_CHARS + 1];
    StringFromGUID2(rclsid, wide, GUID_STRING_CHARS + 1);
    std::string key = "CLSID\\";
    for (int i = 0; i < GUID_STRING_CHARS; ++i)
        key += static_cast<char>(wide[i]);
    key += "\\InprocServer32";
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    DWORD cb = 0;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(hKey, nullptr, nullptr, &type, nullptr, &cb);
    std::string value(cb, '\0');
    if (rc == ERROR_SUCCESS && cb > 0)
        rc = RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(value.data()),
                              &cb);
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return REGDB_E_CLASSNOTREG;
    value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    if (value.empty())
        return REGDB_E_CLASSNOTREG;
    *pPath = value;
    return S_OK;
}

HMODULE LoadServer(const std::string& path) {
    std::lock_guard lock(g_serversMutex);
    for (const LoadedServer& s : g_servers)
        if (s.path == path)
            return s.hModule;
    HMODULE hModule = LoadLibraryA(path.c_str());
    if (hModule)
        g_servers.push_back({path, hModule});
    return hModule;
}

} // namespace

WINPLAT_API HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

WINPLAT_API HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

WINPLAT_API void CoUninitialize(void) {
    if (t_initCount > 0)
        --t_initCount;
}

WINPLAT_API void WinplatRegisterBuiltinClass(REFCLSID rclsid, WINPLAT_CLASS_CREATOR pfnCreate) {
    std::lock_guard lock(BuiltinMutex());
    if (pfnCreate)
        Builtins()[rclsid] = pfnCreate;
    else
        Builtins().erase(rclsid);
}

WINPLAT_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid,
                                     LPVOID* ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (t_initCount == 0)
        return CO_E_NOTINITIALIZED;
    if (WINPLAT_CLASS_CREATOR pfn = FindBuiltin(rclsid)) {
        auto* factory = new (std::nothrow) BuiltinFactory(pfn);
        if (!factory)
            return E_OUTOFMEMORY;
        factory->AddRef();
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    }
    if (!(dwClsContext & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    std::string path;
    HRESULT hr = RegisteredServerPath(rclsid, &path);
    if (FAILED(hr))
        return hr;
    HMODULE hModule = LoadServer(path);
    if (!hModule)
        return CO_E_DLLNOTFOUND;
    auto pfnGetClassObject =
        reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(hModule, "DllGetClassObject"));
    if (!pfnGetClassObject)
        return CO_E_ERRORINDLL;
    return pfnGetClassObject(rclsid, riid, ppv);
}

WINPLAT_API HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                     REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* pFactory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr))
        return hr;
    hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
    pFactory->Release();
    return hr;
}

WINPLAT_API void CoFreeUnusedLibraries(void) {
    std::lock_guard lock(g_serversMutex);
    for (auto it = g_servers.begin(); it != g_servers.end();) {
        auto pfnCanUnload =
            reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(it->hModule, "DllCanUnloadNow"));
        if (pfnCanUnload && pfnCanUnload() == S_OK) {
            FreeLibrary(it->hModule);
            it = g_servers.erase(it);
        } else {
            ++it;
        }
    }
}
