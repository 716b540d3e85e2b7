// CPlugin's settings in the host's profile file, its names and its COM surface.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "check_fixture.h"
#include "testkit.h"

using namespace prowlet_test;

namespace {

constexpr char kClsidLine[] = "CLSID={87B0F902-CF8A-11D2-9CC8-0040053DDA73}\r\n";

class PluginConfig : public ::testing::Test {
protected:
    std::string Profile() const { return (m_dir / "host.ini").string(); }
    std::string Saved() const { return (m_dir / "saved.ini").string(); }
    prowlet::CPlugin* Object(ISentrelSvcObj* plugin) {
        return static_cast<prowlet::CPlugin*>(plugin);
    }
    // Writes the object's settings into a fresh file and returns the file's text.
    std::string Written(ISentrelSvcObj* plugin) {
        std::filesystem::remove(Saved());
        EXPECT_EQ(Object(plugin)->WriteConfig(Saved().c_str()), S_OK);
        return testkit::ReadFile(Saved());
    }

    testkit::TempDir m_dir;
};

TEST_F(PluginConfig, LoadsTheInstanceSectionAndWritesClsidServiceNameRestartInOrder) {
    testkit::WriteFile(Profile(), "[Other]\r\nSERVICENAME=wrong\r\nRESTART=1\r\n"
                                  "[router\\spooler]\r\nRestart = 2\r\nServiceName = Spooler \r\n");
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    Configure(plugin.Get(), "Router\\Spooler", Profile());
    // "2" enables the restart; it is written back as "1".
    EXPECT_EQ(Written(plugin.Get()), std::string("[Router\\Spooler]\r\n") + kClsidLine +
                                         "SERVICENAME=Spooler\r\nRESTART=1\r\n");
}

TEST_F(PluginConfig, MissingFileSectionOrKeysGiveEmptyNameAndNoRestart) {
    for (const char* text : {(const char*)nullptr, "[Other]\r\nSERVICENAME=x\r\n",
                             "[S]\r\nRESTART=abc\r\n", "[S]\r\n"}) {
        SCOPED_TRACE(text ? text : "(no file)");
        std::filesystem::remove(Profile());
        if (text)
            testkit::WriteFile(Profile(), text);
        winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
        Configure(plugin.Get(), "S", Profile());
        EXPECT_EQ(Written(plugin.Get()),
                  std::string("[S]\r\n") + kClsidLine + "SERVICENAME=\r\nRESTART=0\r\n");
    }
}

TEST_F(PluginConfig, ServiceNamesRoundTripThroughTheProfile) {
    const std::string names[] = {"100% & 50+50 <svc>", "Caf\xE9 na\xEFve", "with \"quotes\" in",
                                 "web:api", std::string(511, 'n')};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 30));
        testkit::WriteFile(Profile(), "[S]\r\nSERVICENAME=" + name + "\r\n");
        winplat::ComPtr<ISentrelSvcObj> first = NewPlugin();
        Configure(first.Get(), "S", Profile());
        std::string saved = Written(first.Get());
        winplat::ComPtr<ISentrelSvcObj> second = NewPlugin();
        Configure(second.Get(), "S", Saved());
        EXPECT_EQ(Written(second.Get()), saved);
        EXPECT_NE(saved.find("SERVICENAME=" + name + "\r\n"), std::string::npos);
    }
}

TEST_F(PluginConfig, SaveConfigWithoutAPageWritesNothing) {
    const std::string text = "[S]\r\nSERVICENAME=Spooler\r\nRESTART=1\r\n";
    testkit::WriteFile(Profile(), text);
    struct stat before;
    ASSERT_EQ(stat(Profile().c_str(), &before), 0);
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    Configure(plugin.Get(), "S", Profile());
    winplat::Bstr path(Wide(Profile()));
    EXPECT_EQ(plugin->SaveConfig(path.Get()), S_FALSE);
    // The page cannot be shown yet: still no page, still nothing written.
    LogWindow parent;
    EXPECT_EQ(plugin->CreatePropertyPage(parent.Get()), S_FALSE);
    EXPECT_EQ(plugin->TransferData(TRUE), S_OK);
    EXPECT_EQ(plugin->SaveConfig(path.Get()), S_FALSE);
    EXPECT_EQ(plugin->DestroyPropertyPage(), S_OK);
    EXPECT_EQ(testkit::ReadFile(Profile()), text);
    struct stat after;
    ASSERT_EQ(stat(Profile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(testkit::Listing(m_dir.path()), std::vector<std::string>{"host.ini"});
}

TEST_F(PluginConfig, AClsidThatCannotBeWrittenStopsTheSave) {
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    std::string missingFolder = (m_dir / "no" / "such" / "host.ini").string();
    EXPECT_EQ(Object(plugin.Get())->WriteConfig(missingFolder.c_str()), S_FALSE);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "no"));
}

// Names that do not fit their buffers are refused, never cut into another name.
TEST_F(PluginConfig, OverlongNamesAreRefused) {
    testkit::WriteFile(Profile(), "[S]\r\nSERVICENAME=Spooler\r\n");
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    Configure(plugin.Get(), "S", Profile());

    EXPECT_EQ(plugin->SetInstanceName(nullptr), E_INVALIDARG);
    std::u16string longName(1024, u'x'); // 1024 bytes and the terminator: no room
    winplat::Bstr tooLong(longName);
    EXPECT_EQ(plugin->SetInstanceName(tooLong.Get()), E_INVALIDARG);
    // The name it had still holds.
    EXPECT_EQ(Written(plugin.Get()),
              std::string("[S]\r\n") + kClsidLine + "SERVICENAME=Spooler\r\nRESTART=0\r\n");
    winplat::Bstr fits(std::u16string(1023, u'x'));
    EXPECT_EQ(plugin->SetInstanceName(fits.Get()), S_OK);

    // A profile path over 259 bytes would be cut into another file's name.
    std::string longPath = (m_dir / std::string(300, 'p')).string();
    winplat::Bstr bstrLongPath(Wide(longPath));
    winplat::ComPtr<ISentrelSvcObj> other = NewPlugin();
    winplat::Bstr name(u"S");
    ASSERT_EQ(other->SetInstanceName(name.Get()), S_OK);
    winplat::Bstr path(Wide(Profile()));
    ASSERT_EQ(other->LoadConfig(path.Get()), S_OK);
    EXPECT_EQ(other->LoadConfig(bstrLongPath.Get()), E_INVALIDARG);
    EXPECT_EQ(other->SaveConfig(bstrLongPath.Get()), E_INVALIDARG);
    EXPECT_EQ(other->LoadConfig(nullptr), E_INVALIDARG);
    EXPECT_EQ(Written(other.Get()),
              std::string("[S]\r\n") + kClsidLine + "SERVICENAME=Spooler\r\nRESTART=0\r\n");
}

TEST_F(PluginConfig, DoubleByteInstanceNamesAreRefusedWhenTheyDoNotFit) {
    WinplatSetACP(932);
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    winplat::Bstr fits(std::u16string(511, u'\u3042'));    // 1022 bytes
    winplat::Bstr tooLong(std::u16string(512, u'\u3042')); // 1024 bytes
    HRESULT fitting = plugin->SetInstanceName(fits.Get());
    HRESULT overlong = plugin->SetInstanceName(tooLong.Get());
    WinplatSetACP(1252);
    EXPECT_EQ(fitting, S_OK);
    EXPECT_EQ(overlong, E_INVALIDARG);
}

TEST_F(PluginConfig, TypeNameIsANewStringEveryTime) {
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    BSTR first = nullptr, second = nullptr;
    ASSERT_EQ(plugin->GetTypeName(&first), S_OK);
    ASSERT_EQ(plugin->GetTypeName(&second), S_OK);
    EXPECT_EQ(std::u16string(first, SysStringLen(first)), u"NT Service");
    EXPECT_EQ(std::u16string(second, SysStringLen(second)), u"NT Service");
    EXPECT_NE(first, second);
    SysFreeString(first);
    SysFreeString(second);
    EXPECT_EQ(plugin->GetTypeName(nullptr), E_INVALIDARG);
}

TEST_F(PluginConfig, AnswersItsTwoInterfacesAndCountsReferences) {
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(plugin.Get()));
    EXPECT_EQ(unknown->Release(), 1u);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(plugin->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
}

// The host calls through the table: LoadConfig is the fourth entry, GetTypeName the sixth,
// SetLogWindow the thirteenth.
TEST_F(PluginConfig, MethodTableOrder) {
    winplat::ComPtr<ISentrelSvcObj> plugin = NewPlugin();
    void** table = *reinterpret_cast<void***>(plugin.Get());
    using GetTypeNameFn = HRESULT (*)(void*, BSTR*);
    using LoadConfigFn = HRESULT (*)(void*, BSTR);
    using SetLogWindowFn = HRESULT (*)(void*, HWND);
    BSTR name = nullptr;
    EXPECT_EQ(reinterpret_cast<GetTypeNameFn>(table[5])(plugin.Get(), &name), S_OK);
    EXPECT_EQ(std::u16string(name, SysStringLen(name)), u"NT Service");
    SysFreeString(name);
    EXPECT_EQ(reinterpret_cast<LoadConfigFn>(table[3])(plugin.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(reinterpret_cast<SetLogWindowFn>(table[12])(plugin.Get(), nullptr), S_OK);
}

} // namespace
