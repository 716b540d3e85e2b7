// The four exports of an in-process server, shared by every notifier module.
#include <mutex>
#include <string>

#include <winplat/comptr.h>
#include <winplat/oleauto.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>
#include <winplat/winreg.h>

#include "notifier_module.h"

#define DLL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using sentrel::g_notifierModule;

// The class object: created on the first request and kept until the module unloads.
class CachedFactory {
public:
    ~CachedFactory() {
        if (m_pFactory)
            m_pFactory->Release(); // the module's own reference
    }
    sentrel::ClassFactory* Get() {
        std::lock_guard lock(m_mutex);
        if (!m_pFactory)
            m_pFactory = new (std::nothrow) sentrel::ClassFactory(g_notifierModule.pfnCreate);
        return m_pFactory;
    }

private:
    std::mutex m_mutex;
    sentrel::ClassFactory* m_pFactory = nullptr;
};
CachedFactory g_factory;

// The same whole path that the registrar writes for the class, however long.
std::string ModulePath() {
    return winplat::ModuleFileName(sentrel::ComponentModule::GetModuleInstance());
}

std::u16string Wide(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(n > 0 ? n : 1), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

// Enters the module in the host's list, when the host is installed. Nothing here is
// reported: the result of registration does not depend on it.
void WriteNotificationEntry() {
    const sentrel::NotificationEntry& e = g_notifierModule.entry;
    HKEY hList = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sentrel::kNotificationKey, 0, KEY_WRITE, &hList) !=
        ERROR_SUCCESS)
        return;
    HKEY hEntry = nullptr;
    if (RegCreateKeyExA(hList, e.szSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &hEntry, nullptr) == ERROR_SUCCESS) {
        const char* const values[][2] = {{"CLSID", e.szClsid},
                                         {"Description", e.szDescription},
                                         {"DisplayName", e.szDisplayName},
                                         {"Manufacturer", e.szManufacturer}};
        for (const auto& v : values)
            RegSetValueExA(hEntry, v[0], 0, REG_SZ, reinterpret_cast<const BYTE*>(v[1]),
                           static_cast<DWORD>(std::char_traits<char>::length(v[1]) + 1));
        RegCloseKey(hEntry);
    }
    RegCloseKey(hList);
}

void RemoveNotificationEntry() {
    HKEY hList = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sentrel::kNotificationKey, 0, KEY_WRITE, &hList) !=
        ERROR_SUCCESS)
        return;
    RegDeleteKeyA(hList, g_notifierModule.entry.szSubkey);
    RegCloseKey(hList);
}

} // namespace

DLL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != *g_notifierModule.pClsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    sentrel::ClassFactory* pFactory = g_factory.Get();
    if (!pFactory)
        return E_OUTOFMEMORY;
    return pFactory->QueryInterface(riid, ppv);
}

DLL_EXPORT HRESULT DllCanUnloadNow(void) {
    return sentrel::ComponentModule::GetLockCount() == 0 ? S_OK : S_FALSE;
}

DLL_EXPORT HRESULT DllRegisterServer(void) {
    WriteNotificationEntry();

    HRESULT hr =
        WinplatRegistrarResourceRegister(sentrel::ComponentModule::GetModuleInstance(),
                                         g_notifierModule.nRegistryScript, TRUE, nullptr, 0);
    if (FAILED(hr))
        return hr;

    std::string path = ModulePath();
    std::string helpDir = path.substr(0, path.find_last_of('\\'));
    winplat::ComPtr<ITypeLib> typeLib;
    std::u16string widePath = Wide(path);
    hr = LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, typeLib.Put());
    if (FAILED(hr))
        return hr;
    return RegisterTypeLib(typeLib.Get(), widePath.c_str(), Wide(helpDir).c_str());
}

DLL_EXPORT HRESULT DllUnregisterServer(void) {
    if (g_notifierModule.entry.bRemoveOnUnregister)
        RemoveNotificationEntry();

    WinplatRegistrarResourceRegister(sentrel::ComponentModule::GetModuleInstance(),
                                     g_notifierModule.nRegistryScript, FALSE, nullptr, 0);

    winplat::ComPtr<ITypeLib> typeLib;
    if (SUCCEEDED(LoadTypeLibEx(Wide(ModulePath()).c_str(), REGKIND_NONE, typeLib.Put()))) {
        TLIBATTR* pAttr = nullptr;
        if (SUCCEEDED(typeLib->GetLibAttr(&pAttr)) && pAttr) {
            UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid,
                              pAttr->syskind);
            typeLib->ReleaseTLibAttr(pAttr);
        }
    }
    return S_OK;
}
