// Tellumo as an in-process server: its exports, class object and registry entries.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/notification.h>
#include <winplat/comptr.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "registry_probe.h"
#include "testkit.h"

using winplat::ComPtr;

namespace {

constexpr CLSID kClsid = {0xC89F80D2, 0xB3F1, 0x11D4, {0x80, 0x4A, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
constexpr char kClassKey[] = "CLSID\\{C89F80D2-B3F1-11D4-804A-0001025EB176}";
constexpr char kLibKey[] = "TypeLib\\{C89F80C3-B3F1-11D4-804A-0001025EB176}";
constexpr char kEntryKey[] = "Software\\Calvaro\\Sentrel\\Notification\\SysLog";

class TellumoModule : public testkit::PluginModuleTest {
protected:
    TellumoModule() : PluginModuleTest("tellumo") {}
};

TEST_F(TellumoModule, RegistersClassProgIdsTypeLibraryAndNotificationEntry) {
    ASSERT_TRUE(testkit::CreateHostKeys());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);

    char modulePath[MAX_PATH] = {};
    GetModuleFileNameA(m_module, modulePath, sizeof modulePath);
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Tellumo.SysLog.1", nullptr), "SysLog Class");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Tellumo.SysLog.1\\CLSID", nullptr),
              "{C89F80D2-B3F1-11D4-804A-0001025EB176}");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Tellumo.SysLog\\CurVer", nullptr), "Tellumo.SysLog.1");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Tellumo.SysLog\\CLSID", nullptr),
              "{C89F80D2-B3F1-11D4-804A-0001025EB176}");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, kClassKey, nullptr), "SysLog Class");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\ProgID", nullptr),
              "Tellumo.SysLog.1");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\VersionIndependentProgID", nullptr),
              "Tellumo.SysLog");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", nullptr),
              modulePath);
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"),
              "Apartment");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\TypeLib", nullptr),
              "{C89F80C3-B3F1-11D4-804A-0001025EB176}");
    EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Programmable"));
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kLibKey) + "\\1.0", nullptr),
              "Tellumo 1.0 Type Library");

    EXPECT_EQ(testkit::RegValueNames(HKEY_LOCAL_MACHINE, kEntryKey),
              (std::vector<std::string>{"CLSID", "Description", "DisplayName", "Manufacturer"}));
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "CLSID"), "{C89F80D2-B3F1-11D4-804A-0001025EB176}");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Description"), "Send a Syslog message");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayName"), "Syslog");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Manufacturer"), "Calvaro, Inc.");

    // Registering again yields the same entries.
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(testkit::RegValueNames(HKEY_LOCAL_MACHINE, kEntryKey).size(), 4u);

    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(testkit::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(testkit::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\Notification"));
    for (const char* gone : {kClassKey, "Tellumo.SysLog.1", "Tellumo.SysLog", kLibKey})
        EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

TEST_F(TellumoModule, WithoutTheHostOnlyTheClassIsRegistered) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(testkit::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\Notification"));
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
}

TEST_F(TellumoModule, ClassObjectIsCachedAndServesOnlyItsClass) {
    ComPtr<IClassFactory> first, second;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, first.PutVoid()), S_OK);
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, second.PutVoid()), S_OK);
    EXPECT_EQ(first.Get(), second.Get());
    ComPtr<IClassFactory> other;
    EXPECT_EQ(GetClassObject(IID_ISentrelNotification, IID_IClassFactory, other.PutVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(TellumoModule, CanUnloadOnlyWhenNothingIsOutstanding) {
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE); // a reference beyond the module's own
    ComPtr<ISentrelNotification> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISentrelNotification, object.PutVoid()), S_OK);
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE); // the object is alive
    object.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);

    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

// An outer object that only forwards; enough to aggregate the plug-in.
class Outer final : public IUnknown {
public:
    ComPtr<IUnknown> inner;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

TEST_F(TellumoModule, AggregatesOnlyThroughIUnknown) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    Outer outer;
    ComPtr<ISentrelNotification> refused;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ISentrelNotification, refused.PutVoid()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.PutVoid()), S_OK);
    ISentrelNotification* pNotify = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_ISentrelNotification, reinterpret_cast<void**>(&pNotify)),
              S_OK);
    EXPECT_EQ(outer.refs, 2u); // the inner interface counts on the outer object
    IUnknown* pBack = nullptr;
    ASSERT_EQ(pNotify->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pBack)), S_OK);
    EXPECT_EQ(pBack, &outer);
    pBack->Release();
    pNotify->Release();
    outer.inner.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE); // the factory is still held
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(TellumoModule, CreatedThroughTheRegistryByClassId) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    ComPtr<ISentrelNotification> object;
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISentrelNotification,
                               object.PutVoid()),
              S_OK);
    ComPtr<ISentrelNotification> byProgId;
    CLSID fromProgId{};
    ASSERT_EQ(CLSIDFromString(u"Tellumo.SysLog", &fromProgId), S_OK);
    EXPECT_EQ(fromProgId, kClsid);
}

// A folder may take a module's path past MAX_PATH: the class and the type library are both
// registered with the whole path, never a cut one.
TEST(TellumoRegistration, ModuleInADeepFolderRegistersItsWholePath) {
    testkit::ScopedRegistry registry;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    testkit::TempDir dir;
    std::filesystem::path deep = dir.path();
    while (deep.string().size() < 300)
        deep /= std::string(60, 'd');
    std::filesystem::create_directories(deep);
    std::filesystem::copy_file(testkit::PluginPath("tellumo"), deep / "tellumo.so");
    const std::string full = testkit::ZPath(deep / "tellumo.so");
    ASSERT_GT(full.size(), static_cast<size_t>(MAX_PATH));

    HMODULE hModule = LoadLibraryA(full.c_str());
    ASSERT_NE(hModule, nullptr);
    auto call = [&](const char* name) {
        auto pfn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(hModule, name));
        return pfn ? pfn() : E_FAIL;
    };
    EXPECT_EQ(call("DllRegisterServer"), S_OK);
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", nullptr),
              full);
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kLibKey) + "\\1.0\\409\\win32", nullptr),
              full);
    EXPECT_EQ(call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, kLibKey));
    FreeLibrary(hModule);
    CoUninitialize();
}

TEST(TellumoRegistration, ConcurrentRegistrationsFromSeveralProcessesLoseNoEntry) {
    testkit::TempDir dir;
    std::string registry = (dir / "registry.reg").string();
    std::string sentrel = testkit::HostPath().string() + " --registry " + testkit::ShellQuote(registry);
    ASSERT_EQ(testkit::RunCommand(sentrel + " init").status, 0);
    // Several processes register at once, while others add keys of their own.
    std::string script;
    for (int i = 0; i < 6; ++i) {
        script += sentrel + " register " + testkit::ShellQuote(testkit::PluginPath("tellumo").string()) +
                  " >/dev/null & ";
        script += sentrel + " init --install-dir /opt/sentrel" + std::to_string(i) + " & ";
    }
    script += "wait";
    ASSERT_EQ(testkit::RunCommand(script).status, 0);
    auto types = testkit::RunCommand(sentrel + " types");
    ASSERT_EQ(types.status, 0) << types.err;
    EXPECT_EQ(types.out, "SysLog\tSyslog\t{C89F80D2-B3F1-11D4-804A-0001025EB176}\tSend a Syslog "
                         "message\n");
    testkit::ScopedRegistry unused; // leaves the process's registry path alone afterwards
    WinplatSetRegistryPath(registry.c_str());
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, std::string(kLibKey) + "\\1.0"));
    EXPECT_TRUE(testkit::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\plugins"));
}

} // namespace
