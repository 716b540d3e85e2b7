// Revocet as an in-process server: its registry entries, type library and class object.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/notification.h>
#include <winplat/comptr.h>
#include <winplat/oleauto.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "registry_probe.h"
#include "testkit.h"

using winplat::ComPtr;

namespace {

constexpr CLSID kClsid = {
    0xF28C09E9, 0xD135, 0x4E93, {0xAD, 0x37, 0x73, 0xCC, 0xA4, 0x1E, 0x8D, 0x2A}};
constexpr char kClassKey[] = "CLSID\\{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}";
constexpr char kLibKey[] = "TypeLib\\{5FFCE885-51F3-4CC5-8A93-521A9842BBA4}";
constexpr char kInterfaceKey[] = "Interface\\{5512E7A0-8B31-11D4-803D-0001025EB176}";
constexpr char kEntryKey[] = "Software\\Calvaro\\Sentrel\\Notification\\ServiceRestart";

class RevocetModule : public testkit::PluginModuleTest {
protected:
    RevocetModule() : PluginModuleTest("revocet") {}
};

TEST_F(RevocetModule, RegistersClassProgrammableTypeLibraryAndNotificationEntry) {
    ASSERT_TRUE(testkit::CreateHostKeys());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);

    char modulePath[MAX_PATH] = {};
    GetModuleFileNameA(m_module, modulePath, sizeof modulePath);
    const std::string cls = kClassKey;
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Revocet.SvcRestart.1", nullptr),
              "SvcRestart Class");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Revocet.SvcRestart.1\\CLSID", nullptr),
              "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Revocet.SvcRestart", nullptr),
              "SvcRestart Class");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Revocet.SvcRestart\\CLSID", nullptr),
              "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, "Revocet.SvcRestart\\CurVer", nullptr),
              "Revocet.SvcRestart.1");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls, nullptr), "SvcRestart Class");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls + "\\ProgID", nullptr),
              "Revocet.SvcRestart.1");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls + "\\VersionIndependentProgID", nullptr),
              "Revocet.SvcRestart");
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, cls + "\\Programmable"));
    EXPECT_TRUE(testkit::RegValueNames(HKEY_CLASSES_ROOT, cls + "\\Programmable").empty());
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls + "\\InprocServer32", nullptr), modulePath);
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls + "\\InprocServer32", "ThreadingModel"),
              "Apartment");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, cls + "\\TypeLib", nullptr),
              "{5FFCE885-51F3-4CC5-8A93-521A9842BBA4}");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, std::string(kLibKey) + "\\1.0", nullptr),
              "Revocet 1.0 Type Library");
    EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, kInterfaceKey, nullptr), "ISentrelNotification");

    EXPECT_EQ(testkit::RegValueNames(HKEY_LOCAL_MACHINE, kEntryKey),
              (std::vector<std::string>{"CLSID", "Description", "DisplayName", "Manufacturer"}));
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "CLSID"),
              "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Description"),
              "Start or Stop an NT Service on a Remote Host.");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayName"), "Service Restart");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Manufacturer"), "Calvaro, Inc.");

    // The type library describes the class and the notification interface with its methods.
    ComPtr<ITypeLib> lib;
    std::u16string path;
    for (char c : std::string(modulePath))
        path += static_cast<char16_t>(c);
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 1033u);
    lib->ReleaseTLibAttr(attr);

    // A second registration rebuilds the same entries.
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, cls + "\\Programmable"));

    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    for (const std::string& gone : {cls, std::string("Revocet.SvcRestart.1"),
                                    std::string("Revocet.SvcRestart"), std::string(kLibKey)})
        EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_FALSE(testkit::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(testkit::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\Notification"));
}

TEST_F(RevocetModule, WithoutTheHostOnlyTheClassIsRegistered) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(
        testkit::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Calvaro\\Sentrel\\Notification"));
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
}

TEST_F(RevocetModule, CreatedByClassIdAndByProgId) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    ComPtr<ISentrelNotification> object;
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISentrelNotification,
                               object.PutVoid()),
              S_OK);
    CLSID fromProgId{};
    ASSERT_EQ(CLSIDFromString(u"Revocet.SvcRestart.1", &fromProgId), S_OK);
    EXPECT_EQ(fromProgId, kClsid);
    auto pfn = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    const CLSID tellumo = {
        0xC89F80D2, 0xB3F1, 0x11D4, {0x80, 0x4A, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
    EXPECT_EQ(pfn(tellumo, IID_IClassFactory, factory.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    object.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

} // namespace
