#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/objbase.h>
#include <winplat/winreg.h>

#include "testkit.h"

namespace {

constexpr CLSID kSample = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

TEST(Bstr, LengthPrefixAndTerminator) {
    winplat::Bstr b(u"abc");
    ASSERT_NE(b.Get(), nullptr);
    EXPECT_EQ(SysStringLen(b.Get()), 3u);
    EXPECT_EQ(SysStringByteLen(b.Get()), 6u);
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char*>(b.Get()) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(b.Get()[3], u'\0');
}

TEST(Bstr, EmbeddedNulsCountAndNullIsEmpty) {
    const char16_t text[] = {u'a', u'\0', u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], u'b');
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(Bstr, ByteLengthAndReallocation) {
    BSTR b = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    EXPECT_TRUE(SysReAllocString(&b, u"longer text"));
    EXPECT_EQ(std::u16string(b), u"longer text");
    EXPECT_TRUE(SysReAllocStringLen(&b, u"xy", 1));
    EXPECT_EQ(std::u16string(b), u"x");
    SysFreeString(b);
}

TEST(Guid, TextFormRoundTrip) {
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
    winplat::CoTaskMem<OLECHAR> allocated;
    ASSERT_EQ(StringFromCLSID(kSample, allocated.Put()), S_OK);
    EXPECT_EQ(std::u16string(allocated.Get()), u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &back), S_OK);
    EXPECT_EQ(back, kSample);
}

TEST(Guid, MalformedTextIsRefused) {
    for (const char16_t* bad : {u"", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}", u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
                                u"{0A1B2C3D_4E5F-6071-8293-A4B5C6D7E8F9}", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}"}) {
        IID iid{};
        EXPECT_EQ(IIDFromString(bad, &iid), E_INVALIDARG);
    }
}

TEST(Activation, NeedsAnInitialisedThread) {
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

class ActivationTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    void RegisterServer(const std::string& path) {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT,
                                  "CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\InprocServer32", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(h);
    }
    testkit::ScopedRegistry registry;
};

TEST_F(ActivationTest, UnregisteredAndMissingServersAreReported) {
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG);
    RegisterServer("Z:\\no\\such\\module.so");
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CO_E_DLLNOTFOUND);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ActivationTest, ServerWithoutTheClassSaysSo) {
    // Tellumo's module serves one class only.
    RegisterServer(testkit::ZPath(testkit::PluginPath("tellumo")));
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_CLASSNOTAVAILABLE);
}

// A built-in class served by the platform itself.
class Thing final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 0;
};
Thing g_thing;

TEST_F(ActivationTest, BuiltinClassesComeFirst) {
    WinplatRegisterBuiltinClass(kSample, [](IUnknown* outer, REFIID riid, void** ppv) -> HRESULT {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return g_thing.QueryInterface(riid, ppv);
    });
    RegisterServer("Z:\\no\\such\\module.so");
    winplat::ComPtr<IUnknown> p;
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, p.PutVoid()), S_OK);
    EXPECT_EQ(p.Get(), &g_thing);
    p.Reset();
    EXPECT_EQ(g_thing.refs, 0u);
    WinplatRegisterBuiltinClass(kSample, nullptr);
    EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, p.PutVoid()),
              CO_E_DLLNOTFOUND);
}

} // namespace
