#include "registry_probe.h"

#include <winplat/winbase.h>


namespace testkit {

bool KeyExists(HKEY root, const std::string& path) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

std::string RegText(HKEY root, const std::string& path, const char* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    char value[1024] = {};
    DWORD cb = sizeof value, type = 0;
    LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &cb);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<no value>";
}

std::vector<std::string> RegValueNames(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cch = sizeof name;
        if (RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    RegCloseKey(h);
    return names;
}

bool CreateHostKeys() {
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\Notification", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

void PluginModuleTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    m_module = LoadLibraryA(PluginPath(m_name).c_str());
    ASSERT_NE(m_module, nullptr) << PluginPath(m_name);
}

void PluginModuleTest::TearDown() {
    if (m_module)
        FreeLibrary(m_module);
    CoUninitialize();
}

HRESULT PluginModuleTest::Call(const char* exportName) {
    auto pfn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(m_module, exportName));
    EXPECT_NE(pfn, nullptr) << exportName;
    return pfn ? pfn() : E_FAIL;
}

HRESULT PluginModuleTest::GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    auto pfn = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
    return pfn ? pfn(clsid, iid, ppv) : E_FAIL;
}

} // namespace testkit
