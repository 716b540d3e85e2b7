// The class factory and self-registration: the class, its ProgIDs and application key
// under HKEY_CLASSES_ROOT, and the entry in the host's plug-in list.
#include "module.h"

#include <cstring>
#include <new>
#include <string>

#include "plugin.h"

namespace prowlet {

namespace {

constexpr char kDescription[] = "Sentrel NT Service Monitor";
constexpr char kProgId[] = "Prowlet.1";
constexpr char kVersionIndependentProgId[] = "Prowlet";
constexpr char kPluginListKey[] = "Software\\Calvaro\\Sentrel\\plugins";

// The class identifier in registry form, "{87B0F902-...}", in ANSI.
void ClassIdText(char (&szClsid)[255]) {
    szClsid[0] = '\0';
    LPOLESTR pszClsid = nullptr;
    if (SUCCEEDED(StringFromCLSID(CLSID_Prowlet, &pszClsid))) {
        WideCharToMultiByte(CP_ACP, 0, pszClsid, -1, szClsid, sizeof szClsid, nullptr, nullptr);
        CoTaskMemFree(pszClsid);
    }
}

// Creates (or opens) the key and sets its default value when one is given. Failures are
// not reported: the class entries are written on a best-effort basis.
void WriteEntry(HKEY hRoot, const std::string& key, const char* pszValue) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return;
    if (pszValue)
        RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                       static_cast<DWORD>(std::strlen(pszValue) + 1));
    RegCloseKey(hKey);
}

// Deletes a key with everything below it: subkeys one by one (always the first), then
// the key itself.
LONG DeleteKeyTree(HKEY hParent, const char* pszKey) {
    HKEY hKey = nullptr;
    LONG rc = RegOpenKeyExA(hParent, pszKey, 0, KEY_ALL_ACCESS, &hKey);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (;;) {
        char szSubkey[256];
        DWORD cchSubkey = sizeof szSubkey;
        if (RegEnumKeyExA(hKey, 0, szSubkey, &cchSubkey, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        rc = DeleteKeyTree(hKey, szSubkey);
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(hKey);
            return rc;
        }
    }
    RegCloseKey(hKey);
    return RegDeleteKeyA(hParent, pszKey);
}

} // namespace

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppvObject = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG CClassFactory::Release() {
    LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef <= 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(cRef);
}

HRESULT CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    CPlugin* pPlugin = new (std::nothrow) CPlugin;
    if (!pPlugin)
        return E_OUTOFMEMORY;
    HRESULT hr = pPlugin->QueryInterface(riid, ppvObject);
    pPlugin->Release(); // the creation reference: a failed query deletes the object
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL fLock) {
    return S_OK; // the module never unloads
}

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_Prowlet)
        return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory* pFactory = new (std::nothrow) CClassFactory;
    if (!pFactory)
        return E_OUTOFMEMORY;
    pFactory->AddRef();
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

HRESULT RegisterServer() {
    char szModule[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(ModuleInstance(), szModule, sizeof szModule) == 0)
        return S_FALSE;
    char szClsid[255];
    ClassIdText(szClsid);
    const std::string classKey = std::string("CLSID\\") + szClsid;
    const std::string appKey = std::string("AppID\\") + szClsid;
    const std::string progIdKey = kVersionIndependentProgId;
    const std::string versionKey = kProgId;

    WriteEntry(HKEY_CLASSES_ROOT, classKey, kDescription);
    WriteEntry(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", szModule);
    WriteEntry(HKEY_CLASSES_ROOT, classKey + "\\ProgID", kProgId);
    WriteEntry(HKEY_CLASSES_ROOT, classKey + "\\VersionIndependentProgID",
               kVersionIndependentProgId);
    WriteEntry(HKEY_CLASSES_ROOT, progIdKey, kDescription);
    WriteEntry(HKEY_CLASSES_ROOT, progIdKey + "\\CLSID", szClsid);
    WriteEntry(HKEY_CLASSES_ROOT, progIdKey + "\\CurVer", kProgId);
    WriteEntry(HKEY_CLASSES_ROOT, versionKey, kDescription);
    WriteEntry(HKEY_CLASSES_ROOT, versionKey + "\\CLSID", szClsid);
    WriteEntry(HKEY_CLASSES_ROOT, appKey, kDescription);

    HKEY hList = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPluginListKey, 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &hList, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc); // a failure, never a positive number read as success
    RegSetValueExA(hList, kProgId, 0, REG_SZ, reinterpret_cast<const BYTE*>(szClsid),
                   static_cast<DWORD>(std::strlen(szClsid) + 1));
    RegCloseKey(hList);
    return S_OK;
}

HRESULT UnregisterServer() {
    char szClsid[255];
    ClassIdText(szClsid);
    DeleteKeyTree(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + szClsid).c_str());
    DeleteKeyTree(HKEY_CLASSES_ROOT, kVersionIndependentProgId);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kProgId);
    DeleteKeyTree(HKEY_CLASSES_ROOT, (std::string("AppID\\") + szClsid).c_str());

    HKEY hList = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPluginListKey, 0, KEY_ALL_ACCESS, &hList);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegDeleteValueA(hList, kProgId);
    RegCloseKey(hList);
    return HRESULT_FROM_WIN32(rc);
}

} // namespace prowlet
