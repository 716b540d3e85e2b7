// Prowlet as an in-process server: its registry entries, its class object and exports.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/service_check.h>
#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "registry_probe.h"
#include "testkit.h"

using winplat::ComPtr;

namespace {

constexpr CLSID kClsid = {
    0x87B0F902, 0xCF8A, 0x11D2, {0x9C, 0xC8, 0x00, 0x40, 0x05, 0x3D, 0xDA, 0x73}};
constexpr char kClsidText[] = "{87B0F902-CF8A-11D2-9CC8-0040053DDA73}";

// Every key under a root, with its values, one line each: "KEY" or "KEY\t@=VALUE" /
// "KEY\tNAME=VALUE" (REG_SZ; other types as "NAME:type").
void Dump(HKEY root, const std::string& path, std::vector<std::string>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    if (!path.empty())
        out.push_back(path);
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cchName = sizeof name;
        BYTE data[1024] = {};
        DWORD cbData = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &cchName, nullptr, &type, data, &cbData) != ERROR_SUCCESS)
            break;
        std::string shown = cchName ? name : "@";
        if (type == REG_SZ)
            out.push_back(path + "\t" + shown + "=" + reinterpret_cast<const char*>(data));
        else
            out.push_back(path + "\t" + shown + ":" + std::to_string(type));
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cchName = sizeof name;
        if (RegEnumKeyExA(key, i, name, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Dump(root, path.empty() ? name : path + "\\" + name, out);
    }
    RegCloseKey(key);
}

std::vector<std::string> Dump(HKEY root) {
    std::vector<std::string> out;
    Dump(root, "", out);
    return out;
}

class ProwletModule : public testkit::PluginModuleTest {
protected:
    ProwletModule() : PluginModuleTest("prowlet") {}

    std::string ModulePath() {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(m_module, path, sizeof path);
        return path;
    }
    std::vector<std::string> ExpectedClasses() {
        const std::string cls = std::string("CLSID\\") + kClsidText;
        const std::string app = std::string("AppID\\") + kClsidText;
        return {"AppID",
                app,
                app + "\t@=Sentrel NT Service Monitor",
                "CLSID",
                cls,
                cls + "\t@=Sentrel NT Service Monitor",
                cls + "\\InprocServer32",
                cls + "\\InprocServer32\t@=" + ModulePath(),
                cls + "\\ProgID",
                cls + "\\ProgID\t@=Prowlet.1",
                cls + "\\VersionIndependentProgID",
                cls + "\\VersionIndependentProgID\t@=Prowlet",
                "Prowlet",
                "Prowlet\t@=Sentrel NT Service Monitor",
                "Prowlet\\CLSID",
                std::string("Prowlet\\CLSID\t@=") + kClsidText,
                "Prowlet\\CurVer",
                "Prowlet\\CurVer\t@=Prowlet.1",
                "Prowlet.1",
                "Prowlet.1\t@=Sentrel NT Service Monitor",
                "Prowlet.1\\CLSID",
                std::string("Prowlet.1\\CLSID\t@=") + kClsidText};
    }
};

const std::vector<std::string> kHostKeys = {
    "Software", "Software\\Calvaro", "Software\\Calvaro\\Sentrel",
    "Software\\Calvaro\\Sentrel\\Notification", "Software\\Calvaro\\Sentrel\\plugins"};

TEST_F(ProwletModule, RegistersExactlyItsElevenEntriesAndNoThreadingModel) {
    ASSERT_TRUE(testkit::CreateHostKeys());
    for (int round = 0; round < 2; ++round) { // registering again changes nothing
        SCOPED_TRACE(round);
        ASSERT_EQ(Call("DllRegisterServer"), S_OK);
        EXPECT_EQ(Dump(HKEY_CLASSES_ROOT), ExpectedClasses());
        std::vector<std::string> machine = kHostKeys;
        machine.push_back(std::string("Software\\Calvaro\\Sentrel\\plugins\tProwlet.1=") +
                          kClsidText);
        EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), machine);
    }
}

TEST_F(ProwletModule, RegisteringCreatesThePluginListWhenTheHostHasNone) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(
        testkit::RegText(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\plugins", "Prowlet.1"),
        kClsidText);
}

TEST_F(ProwletModule, UnregisteringKeepsThePluginListAndReportsAMissingValue) {
    ASSERT_TRUE(testkit::CreateHostKeys());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT), (std::vector<std::string>{"AppID", "CLSID"}));
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), kHostKeys);
    // A second time the class trees are passed over; the value is missing: a failure.
    EXPECT_EQ(Call("DllUnregisterServer"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), kHostKeys);
}

TEST_F(ProwletModule, RegistryFailuresAreFailureResults) {
    // Without the host's plug-in list there is nothing to unregister from.
    HRESULT hr = Call("DllUnregisterServer");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(FAILED(hr));
    // A registry that cannot be read cannot take the plug-in list.
    testkit::WriteFile(registry.path(), "not a registry file\n");
    hr = Call("DllRegisterServer");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(testkit::ReadFile(registry.path()), "not a registry file\n");
}

TEST_F(ProwletModule, ClassObjectCreatesCheckObjects) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())),
              S_OK);
    ComPtr<ISentrelSvcObj> plugin;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISentrelSvcObj,
                                      reinterpret_cast<void**>(plugin.Put())),
              S_OK);
    // The factory's query and release leave exactly the caller's reference.
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);

    void* object = reinterpret_cast<void*>(1);
    IUnknown* outer = plugin.Get();
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.Put())), S_OK);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->QueryInterface(IID_ISentrelSvcObj, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ProwletModule, OnlyItsOwnClassAndItStaysLoaded) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(IID_ISentrelSvcObj, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(kClsid, IID_ISentrelSvcObj, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
}

TEST_F(ProwletModule, CarriesItsStringsAndVersion) {
    char text[64] = {};
    EXPECT_EQ(LoadStringA(m_module, 1, text, sizeof text), 4);
    EXPECT_STREQ(text, "Name");
    EXPECT_EQ(LoadStringA(m_module, 2, text, sizeof text), 7);
    EXPECT_STREQ(text, "Service");
    HRSRC version = FindResourceA(m_module, MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_NE(version, nullptr);
    std::string bytes(static_cast<const char*>(LockResource(LoadResource(m_module, version))),
                      SizeofResource(m_module, version));
    EXPECT_NE(bytes.find("FileDescription=Sentrel Plugin for NT Service Checking\n"),
              std::string::npos);
}

} // namespace
