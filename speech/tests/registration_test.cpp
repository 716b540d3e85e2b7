// Parlanza as an in-process server: its exports, class object, type library and registry
// entries.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sentrel/notification.h>
#include <winplat/comptr.h>
#include <winplat/oleauto.h>
#include <winplat/sapi.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "recording_host.h"
#include "registry_probe.h"
#include "testkit.h"
#include "wav.h"

using winplat::Bstr;
using winplat::ComPtr;

namespace {

constexpr CLSID kClsid = {
    0x44440FAF, 0x3359, 0x11D5, {0x80, 0x75, 0x00, 0xE0, 0x29, 0x5E, 0x92, 0x83}};
constexpr CLSID kSysLogClsid = {
    0xC89F80D2, 0xB3F1, 0x11D4, {0x80, 0x4A, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
constexpr char kClassKey[] = "CLSID\\{44440FAF-3359-11D5-8075-00E0295E9283}";
constexpr char kLibKey[] = "TypeLib\\{44440FA1-3359-11D5-8075-00E0295E9283}";
constexpr char kListKey[] = "Software\\Calvaro\\Sentrel\\Notification";
constexpr char kEntryKey[] = "Software\\Calvaro\\Sentrel\\Notification\\TextSpeech";

class ParlanzaModule : public testkit::PluginModuleTest {
protected:
    ParlanzaModule() : PluginModuleTest("parlanza") {}

    testkit::SpeechSpool spool;
};

TEST_F(ParlanzaModule, RegistersClassProgIdsTypeLibraryAndNotificationEntry) {
    ASSERT_TRUE(testkit::CreateHostKeys());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);

    char modulePath[MAX_PATH] = {};
    GetModuleFileNameA(m_module, modulePath, sizeof modulePath);
    const std::string cls = kClassKey;
    const struct {
        std::string key;
        const char* name;
        std::string value;
    } entries[] = {
        {"Parlanza.TTSNotification.1", nullptr, "TTSNotification Class"},
        {"Parlanza.TTSNotification.1\\CLSID", nullptr, "{44440FAF-3359-11D5-8075-00E0295E9283}"},
        {"Parlanza.TTSNotification", nullptr, "TTSNotification Class"},
        {"Parlanza.TTSNotification\\CLSID", nullptr, "{44440FAF-3359-11D5-8075-00E0295E9283}"},
        {"Parlanza.TTSNotification\\CurVer", nullptr, "Parlanza.TTSNotification.1"},
        {cls, nullptr, "TTSNotification Class"},
        {cls + "\\ProgID", nullptr, "Parlanza.TTSNotification.1"},
        {cls + "\\VersionIndependentProgID", nullptr, "Parlanza.TTSNotification"},
        {cls + "\\InprocServer32", nullptr, modulePath},
        {cls + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {cls + "\\TypeLib", nullptr, "{44440FA1-3359-11D5-8075-00E0295E9283}"},
        {std::string(kLibKey) + "\\1.0", nullptr, "Parlanza 1.0 Type Library"},
    };
    for (const auto& e : entries)
        EXPECT_EQ(testkit::RegText(HKEY_CLASSES_ROOT, e.key, e.name), e.value) << e.key;
    EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, cls + "\\Programmable"));

    EXPECT_EQ(testkit::RegValueNames(HKEY_LOCAL_MACHINE, kEntryKey),
              (std::vector<std::string>{"CLSID", "Description", "DisplayName", "Manufacturer"}));
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "CLSID"),
              "{44440FAF-3359-11D5-8075-00E0295E9283}");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Description"), "Text To Speech Notification");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayName"), "TextSpeech");
    EXPECT_EQ(testkit::RegText(HKEY_LOCAL_MACHINE, kEntryKey, "Manufacturer"), "Calvaro, Inc"); // no stop

    // Registering again yields the same entries.
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(testkit::RegValueNames(HKEY_LOCAL_MACHINE, kEntryKey).size(), 4u);

    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(testkit::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(testkit::KeyExists(HKEY_LOCAL_MACHINE, kListKey));
    for (const char* gone :
         {kClassKey, "Parlanza.TTSNotification.1", "Parlanza.TTSNotification", kLibKey})
        EXPECT_FALSE(testkit::KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

TEST_F(ParlanzaModule, TheEmbeddedTypeLibraryIsPARLANZALib) {
    char modulePath[MAX_PATH] = {};
    GetModuleFileNameA(m_module, modulePath, sizeof modulePath);
    ComPtr<ITypeLib> typeLib;
    ASSERT_EQ(LoadTypeLibEx(testkit::Utf16(modulePath).c_str(), REGKIND_NONE, typeLib.Put()), S_OK);
    Bstr name, doc;
    ASSERT_EQ(typeLib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Str(), u"PARLANZALib");
    EXPECT_EQ(doc.Str(), u"Parlanza 1.0 Type Library");
    TLIBATTR* pAttr = nullptr;
    ASSERT_EQ(typeLib->GetLibAttr(&pAttr), S_OK);
    EXPECT_EQ(pAttr->lcid, 1033u);
    EXPECT_EQ(pAttr->wMajorVerNum, 1);
    EXPECT_EQ(pAttr->wMinorVerNum, 0);
    typeLib->ReleaseTLibAttr(pAttr);
}

TEST_F(ParlanzaModule, WithoutTheHostOnlyTheClassIsRegistered) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_TRUE(testkit::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(testkit::KeyExists(HKEY_LOCAL_MACHINE, kListKey));
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
}

TEST_F(ParlanzaModule, ServesOnlyItsOwnClass) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IClassFactory> other;
    EXPECT_EQ(GetClassObject(kSysLogClsid, IID_IClassFactory, other.PutVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(other);
}

TEST_F(ParlanzaModule, CanUnloadOnlyWhenNoObjectIsAlive) {
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<ISentrelNotification> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISentrelNotification, object.PutVoid()), S_OK);
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    object.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(ParlanzaModule, CreatedByClassIdItSpeaksThroughThePlatformVoice) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    ComPtr<ISentrelNotification> object;
    ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISentrelNotification,
                               object.PutVoid()),
              S_OK);
    CLSID fromProgId{};
    ASSERT_EQ(CLSIDFromString(u"Parlanza.TTSNotification.1", &fromProgId), S_OK);
    EXPECT_EQ(fromProgId, kClsid);

    // An empty path makes the module create the voice; the blank it speaks leaves no file.
    EXPECT_EQ(object->Notify(nullptr), S_OK);
    EXPECT_TRUE(WinplatWaitForSpeech(INFINITE));
    EXPECT_TRUE(spool.Files().empty());
    object.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

} // namespace
