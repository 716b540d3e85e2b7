// Type libraries: loaded from a module's TYPELIB resource and entered in HKEY_CLASSES_ROOT.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/comptr.h>
#include <winplat/oleauto.h>
#include <winplat/winbase.h>

#include "reg_helpers.h"
#include "testkit.h"

namespace {

using Lines = std::vector<std::string>;
using winplat::Bstr;
using winplat::ComPtr;

constexpr GUID kLibId = {
    0x2B3C4D5E, 0x6F70, 0x4182, {0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9, 0x01}};
constexpr char kLib[] = "{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F901}";
constexpr char kWidget[] = "{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F903}";
constexpr char kGadget[] = "{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F904}";
constexpr char kProxy[] = "{00020424-0000-0000-C000-000000000046}";

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string ModulePath() {
    return testkit::ZPath(testkit::BuildDir() / "tests" / "reg_test_module.so");
}

std::string Narrow(const Bstr& b) {
    std::string out;
    for (char16_t c : b.Str())
        out.push_back(static_cast<char>(c));
    return out;
}

Lines InterfaceEntries(const std::string& iid, const std::string& name, const std::string& lib,
                       const std::string& version) {
    std::string key = "Interface\\" + iid;
    return {key,
            key + "|@=sz:" + name,
            key + "\\ProxyStubClsid",
            key + "\\ProxyStubClsid|@=sz:" + kProxy,
            key + "\\ProxyStubClsid32",
            key + "\\ProxyStubClsid32|@=sz:" + kProxy,
            key + "\\TypeLib",
            key + "\\TypeLib|@=sz:" + lib,
            key + "\\TypeLib|Version=sz:" + version};
}

class TypeLibrary : public ::testing::Test {
protected:
    testkit::ScopedRegistry registry;
};

TEST_F(TypeLibrary, LoadsFromAModuleFileAndDescribesItself) {
    for (const std::string& path :
         {ModulePath(), (testkit::BuildDir() / "tests" / "reg_test_module.so").string()}) {
        ComPtr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_NONE, lib.Put()), S_OK) << path;
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
        EXPECT_EQ(attr->guid, kLibId);
        EXPECT_EQ(attr->lcid, 1033u);
        EXPECT_EQ(attr->syskind, SYS_WIN32);
        EXPECT_EQ(attr->wMajorVerNum, 1);
        EXPECT_EQ(attr->wMinorVerNum, 10);
        EXPECT_EQ(attr->wLibFlags, 0);
        lib->ReleaseTLibAttr(attr);

        struct Doc {
            INT index;
            const char* name;
            const char* doc;
        };
        for (const Doc& d :
             {Doc{-1, "REGTESTLib", "Registry Test 1.10 Type Library"},
              Doc{0, "Widget", "Widget Class"}, Doc{1, "IWidget", ""}, Doc{2, "IGadget", ""}}) {
            Bstr name, doc;
            DWORD context = 99;
            ASSERT_EQ(lib->GetDocumentation(d.index, name.Put(), doc.Put(), &context, nullptr),
                      S_OK);
            EXPECT_EQ(Narrow(name), d.name);
            EXPECT_EQ(Narrow(doc), d.doc);
            EXPECT_EQ(context, 0u);
        }
        Bstr name;
        EXPECT_EQ(lib->GetDocumentation(3, name.Put(), nullptr, nullptr, nullptr),
                  TYPE_E_ELEMENTNOTFOUND);
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(lib->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    }
    // The module was loaded only to be read.
    EXPECT_EQ(GetModuleHandleA("reg_test_module.so"), nullptr);
}

TEST_F(TypeLibrary, RegistersTheLibraryAndItsInterfaces) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(Wide(ModulePath()).c_str(), REGKIND_NONE, lib.Put()), S_OK);
    std::string helpDir = testkit::ZPath(testkit::BuildDir() / "tests");
    ASSERT_EQ(RegisterTypeLib(lib.Get(), Wide(ModulePath()).c_str(), Wide(helpDir).c_str()), S_OK);

    std::string v = std::string("TypeLib\\") + kLib + "\\1.a"; // versions are written in hex
    Lines expected = {"Interface"};
    for (const Lines& more : {InterfaceEntries(kWidget, "IWidget", kLib, "1.a"),
                              InterfaceEntries(kGadget, "IGadget", kLib, "1.a")})
        expected.insert(expected.end(), more.begin(), more.end());
    Lines library = {"TypeLib",
                     std::string("TypeLib\\") + kLib,
                     v,
                     v + "|@=sz:Registry Test 1.10 Type Library",
                     v + "\\409", // the library's locale, 1033
                     v + "\\409\\win32",
                     v + "\\409\\win32|@=sz:" + ModulePath(),
                     v + "\\FLAGS",
                     v + "\\FLAGS|@=sz:0",
                     v + "\\HELPDIR",
                     v + "\\HELPDIR|@=sz:" + helpDir};
    expected.insert(expected.end(), library.begin(), library.end());
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""), expected);

    // Registering again changes nothing.
    std::string file = testkit::ReadFile(registry.path());
    ASSERT_EQ(RegisterTypeLib(lib.Get(), Wide(ModulePath()).c_str(), Wide(helpDir).c_str()), S_OK);
    EXPECT_EQ(testkit::ReadFile(registry.path()), file);
}

TEST_F(TypeLibrary, UnregisterRemovesOnlyThisVersionAndItsInterfaces) {
    regtest::SetText(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLib + "\\2.0", nullptr,
                     "a later version");
    regtest::SetText(HKEY_CLASSES_ROOT, "Interface\\{FOREIGN}\\TypeLib", nullptr, "{ANOTHER-LIB}");
    regtest::SetText(HKEY_CLASSES_ROOT, "Interface\\{FOREIGN}\\TypeLib", "Version", "1.a");
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(Wide(ModulePath()).c_str(), REGKIND_NONE, lib.Put()), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib.Get(), Wide(ModulePath()).c_str(), nullptr), S_OK);
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLib + "\\1.a\\HELPDIR",
                            nullptr),
              "");

    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 10, 1033, SYS_WIN32), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""),
              (Lines{"Interface", "Interface\\{FOREIGN}", "Interface\\{FOREIGN}\\TypeLib",
                     "Interface\\{FOREIGN}\\TypeLib|@=sz:{ANOTHER-LIB}",
                     "Interface\\{FOREIGN}\\TypeLib|Version=sz:1.a", "TypeLib",
                     std::string("TypeLib\\") + kLib, std::string("TypeLib\\") + kLib + "\\2.0",
                     std::string("TypeLib\\") + kLib + "\\2.0|@=sz:a later version"}));
    EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 10, 1033, SYS_WIN32), TYPE_E_REGISTRYACCESS);

    // With its last version gone the library's key goes too.
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 2, 0, 0, SYS_WIN32), S_OK);
    EXPECT_TRUE(regtest::KeyExists(HKEY_CLASSES_ROOT, "TypeLib"));
    EXPECT_FALSE(regtest::KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLib));
}

TEST_F(TypeLibrary, LoadsAndRegistersALibraryKeptAsText) {
    testkit::TempDir dir;
    testkit::WriteFile(dir / "plain.tlb", "library PlainLib\r\n"
                                          "uuid {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\r\n"
                                          "helpstring Plain\r\n");
    std::string path = dir.ZPath() + "\\plain.tlb";
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_REGISTER, lib.Put()), S_OK);
    const std::string v = "TypeLib\\{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\\1.0";
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, v, nullptr), "Plain");
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, v + "\\0\\win32", nullptr), path);
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, v + "\\HELPDIR", nullptr), dir.ZPath());
}

struct BadLibrary {
    const char* what;
    std::string text; // empty: the path is used as it is
    std::string path;
    HRESULT expected;
};

TEST_F(TypeLibrary, LoadFailures) {
    testkit::TempDir dir;
    const std::vector<BadLibrary> cases = {
        {"missing file", "", (dir / "none.so").string(), TYPE_E_CANTLOADLIBRARY},
        {"module without a type library", "",
         (testkit::BuildDir() / "lib" / "libwinplat.so").string(), TYPE_E_CANTLOADLIBRARY},
        {"unknown directive", "library A\nuuid {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\nmodule x\n",
         "", TYPE_E_INVDATAREAD},
        {"no uuid", "library A\n", "", TYPE_E_INVDATAREAD},
        {"bad uuid", "library A\nuuid {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEE}\n", "",
         TYPE_E_INVDATAREAD},
        {"bad version", "library A\nuuid {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\nversion 1\n", "",
         TYPE_E_INVDATAREAD},
        {"interface without identifier",
         "library A\nuuid {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\ninterface IX\n", "",
         TYPE_E_INVDATAREAD},
    };
    for (const BadLibrary& c : cases) {
        std::string path = c.path;
        if (path.empty()) {
            path = (dir / "bad.tlb").string();
            testkit::WriteFile(path, c.text);
        }
        ITypeLib* lib = reinterpret_cast<ITypeLib*>(0x1);
        EXPECT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_REGISTER, &lib), c.expected) << c.what;
        EXPECT_EQ(lib, nullptr) << c.what;
    }
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""), Lines{});
}

} // namespace
