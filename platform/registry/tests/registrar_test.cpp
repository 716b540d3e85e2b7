// The registrar: registration scripts carried out and undone.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/resource.h>
#include <winplat/winbase.h>
#include <winplat/winreg.h>

#include "reg_helpers.h"
#include "testkit.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kClassScript[] = R"(HKCR
{
	Sample.Thing.1 = s 'Thing Class'
	{
		CLSID = s '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'
	}
	Sample.Thing = s 'Thing Class'
	{
		CLSID = s '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'
		CurVer = s 'Sample.Thing.1'
	}
	NoRemove CLSID
	{
		ForceRemove {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} = s 'Thing Class'
		{
			ProgID = s 'Sample.Thing.1'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{11111111-2222-3333-4444-555555555555}'
		}
	}
}
)";

constexpr char kClassKey[] = "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

HRESULT Script(const char* script, bool reg, const std::string& module = "Z:\\opt\\thing.so") {
    WINPLAT_REGMAP_ENTRY map[] = {{"MODULE", module.c_str()}};
    return WinplatRegistrarScriptRegister(script, reg ? TRUE : FALSE, map, 1);
}

std::string RegistrarError() {
    char text[512] = {};
    WinplatGetRegistrarError(text, sizeof text);
    return text;
}

class Registrar : public ::testing::Test {
protected:
    testkit::ScopedRegistry registry;
};

TEST_F(Registrar, RegistersTheClassEntries) {
    ASSERT_EQ(Script(kClassScript, true), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""),
              (Lines{
                  "CLSID",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}|@=sz:Thing Class",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\InprocServer32",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\InprocServer32|@=sz:Z:\\opt\\"
                  "thing.so",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\InprocServer32|ThreadingModel="
                  "sz:Apartment",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\ProgID",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\ProgID|@=sz:Sample.Thing.1",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\Programmable",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\TypeLib",
                  "CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\TypeLib|@=sz:{11111111-2222-"
                  "3333-4444-555555555555}",
                  "Sample.Thing",
                  "Sample.Thing|@=sz:Thing Class",
                  "Sample.Thing\\CLSID",
                  "Sample.Thing\\CLSID|@=sz:{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
                  "Sample.Thing\\CurVer",
                  "Sample.Thing\\CurVer|@=sz:Sample.Thing.1",
                  "Sample.Thing.1",
                  "Sample.Thing.1|@=sz:Thing Class",
                  "Sample.Thing.1\\CLSID",
                  "Sample.Thing.1\\CLSID|@=sz:{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
              }));
}

TEST_F(Registrar, ForceRemoveRebuildsTheKeyAndUnregisterKeepsNoRemoveKeys) {
    regtest::SetText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale\\Deep", nullptr, "old");
    regtest::SetText(HKEY_CLASSES_ROOT, std::string(kClassKey), "Leftover", "old");
    regtest::SetText(HKEY_CLASSES_ROOT, "CLSID\\{OtherClass}", nullptr, "someone else's");
    regtest::SetText(HKEY_CLASSES_ROOT, "Sample.Thing\\Extra", nullptr, "not in the script");
    ASSERT_EQ(Script(kClassScript, true), S_OK);
    EXPECT_FALSE(regtest::KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale"));
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, kClassKey, "Leftover"), "<missing>");
    // Registering twice gives the same entries.
    Lines once = regtest::Dump(HKEY_CLASSES_ROOT, "");
    ASSERT_EQ(Script(kClassScript, true), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""), once);

    ASSERT_EQ(Script(kClassScript, false), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""),
              (Lines{"CLSID", "CLSID\\{OtherClass}", "CLSID\\{OtherClass}|@=sz:someone else's"}));
}

TEST_F(Registrar, ValValuesAreRemovedAndTheirKeysKept) {
    const char* script = "HKLM { NoRemove Software { NoRemove Vendor { val Installed = d '1' "
                         "val Path = s 'Z:\\opt' } } }";
    regtest::SetText(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Other", "kept");
    ASSERT_EQ(Script(script, true), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_LOCAL_MACHINE, "Software\\Vendor"),
              (Lines{"Software\\Vendor|Other=sz:kept", "Software\\Vendor|Installed=dword:1",
                     "Software\\Vendor|Path=sz:Z:\\opt"}));
    ASSERT_EQ(Script(script, false), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_LOCAL_MACHINE, "Software\\Vendor"),
              (Lines{"Software\\Vendor|Other=sz:kept"}));
}

TEST_F(Registrar, DeleteRemovesAKeyWhenRegistering) {
    regtest::SetText(HKEY_CURRENT_USER, "Old\\Child", nullptr, "x");
    regtest::SetText(HKEY_CURRENT_USER, "Stays", nullptr, "x");
    const char* script = "HKEY_CURRENT_USER { Delete Old Stays }";
    ASSERT_EQ(Script(script, true), S_OK);
    EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, "Old"));
    regtest::SetText(HKEY_CURRENT_USER, "Old", nullptr, "x");
    ASSERT_EQ(Script(script, false), S_OK);
    EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, "Old")) << "Delete does nothing when undone";
    EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, "Stays"));
}

TEST_F(Registrar, NormalKeyAboveANoRemoveKeyStaysWhileThatOneDoes) {
    const char* script = "HKCU { Vendor { NoRemove Shared { Mine = s 'x' } Own = s 'y' } }";
    ASSERT_EQ(Script(script, true), S_OK);
    ASSERT_EQ(Script(script, false), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, ""), (Lines{"Vendor", "Vendor\\Shared"}));
}

TEST_F(Registrar, ReplacementsAndQuoting) {
    // A path with a quote, a brace and a percent sign stays one value.
    std::string module = "Z:\\it's {odd}\\100%\\m.so";
    WINPLAT_REGMAP_ENTRY map[] = {{"MODULE", module.c_str()}, {"Company", "Calvaro"}};
    const char* script = "HKCU {\n"
                         "  'Key With Spaces' = s 'it''s %module% at 100%%'\n"
                         "  %COMPANY%\\{GUID-LIKE} = s '{0}'\n"
                         "  Numbers { val Dec = d 4294967295 val Hex = d '0x1F' val Bin = b "
                         "'00ff10' val Empty = s '' }\n"
                         "}";
    ASSERT_EQ(WinplatRegistrarScriptRegister(script, TRUE, map, 2), S_OK) << RegistrarError();
    EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, ""),
              (Lines{
                  "Calvaro",
                  "Calvaro\\{GUID-LIKE}",
                  "Calvaro\\{GUID-LIKE}|@=sz:{0}",
                  "Key With Spaces",
                  "Key With Spaces|@=sz:it's Z:\\it's {odd}\\100%\\m.so at 100%",
                  "Numbers",
                  "Numbers|Dec=dword:4294967295",
                  "Numbers|Hex=dword:31",
                  "Numbers|Bin=hex(3):00ff10",
                  "Numbers|Empty=sz:",
              }));
}

struct BadScript {
    const char* script;
    const char* what;
};

class BadRegistrarScript : public ::testing::TestWithParam<BadScript> {
protected:
    testkit::ScopedRegistry registry;
};

TEST_P(BadRegistrarScript, FailsWithoutTouchingTheRegistry) {
    regtest::SetText(HKEY_CURRENT_USER, "Before", nullptr, "x");
    std::string before = testkit::ReadFile(registry.path());
    for (bool reg : {true, false}) {
        EXPECT_EQ(Script(GetParam().script, reg), DISP_E_EXCEPTION) << GetParam().script;
        EXPECT_NE(RegistrarError().find(GetParam().what), std::string::npos) << RegistrarError();
        EXPECT_EQ(testkit::ReadFile(registry.path()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadRegistrarScript,
    ::testing::Values(BadScript{"HKCU { A = s 'x' }\nHKCU { B", "line 2: missing \"}\""},
                      BadScript{"HKCU { A = s 'unterminated }", "missing closing quote"},
                      BadScript{"HKXX { A }", "expected a root key"},
                      BadScript{"HKCU A { }", "expected \"{\""},
                      BadScript{"HKCU {A = s 'x' }", "expected \"{\""},
                      BadScript{"HKCU { A = q 'x' }", "unknown value type"},
                      BadScript{"HKCU { A = d '12x' }", "d takes a number"},
                      BadScript{"HKCU { A = d 4294967296 }", "d takes a number"},
                      BadScript{"HKCU { A = b '123' }", "pairs of hex digits"},
                      BadScript{"HKCU { val A }", "needs \"= type value\""},
                      BadScript{"HKCU { val A = s 'x' { } }", "cannot open a block"},
                      BadScript{"HKCU { A = s '%NOSUCH%' }", "no replacement for %NOSUCH%"},
                      BadScript{"HKCU { A = s '50% off' }", "without its closing %"},
                      BadScript{"HKCU { = }", "expected a name"},
                      BadScript{"HKCU { A = }", "expected a type"}),
    [](const auto& info) { return testkit::ParamName(info.index, info.param.what); });

TEST_F(Registrar, FailedRegistrationLeavesTheRegistryAsItWas) {
    regtest::SetText(HKEY_CURRENT_USER, "Existing", nullptr, "before");
    std::string before = testkit::ReadFile(registry.path());
    // The script is sound, but its third key cannot be stored (a name over 255 characters).
    std::string script = "HKCU { Existing = s 'changed' First { Second } ForceRemove Existing2 "
                         "{ " +
                         std::string(256, 'n') + " } }";
    EXPECT_EQ(Script(script.c_str(), true), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(testkit::ReadFile(registry.path()), before);
    EXPECT_EQ(regtest::Dump(HKEY_CURRENT_USER, ""), (Lines{"Existing", "Existing|@=sz:before"}));
}

// The test program carries a registration script of its own, as a module would.
const char kModuleScript[] = "HKCR { NoRemove CLSID { ForceRemove {ABCDEF01-0000-0000-0000-"
                             "000000000001} = s 'Resource Class' { InprocServer32 = s "
                             "'%MODULE%' } } }";
const WINPLAT_RESOURCE kResources[] = {
    {"REGISTRY", MAKEINTRESOURCEA(301), kModuleScript, sizeof kModuleScript},
};
const WINPLAT_RESOURCE_DIRECTORY kDirectory = {kResources, 1};

TEST_F(Registrar, ResourceScriptGetsTheModulePath) {
    WinplatAttachResources(&kDirectory);
    HMODULE hSelf = GetModuleHandleA(nullptr);
    char self[4096] = {};
    ASSERT_GT(GetModuleFileNameA(hSelf, self, sizeof self), 0u);
    ASSERT_EQ(WinplatRegistrarResourceRegister(hSelf, 301, TRUE, nullptr, 0), S_OK)
        << RegistrarError();
    const std::string key = "CLSID\\{ABCDEF01-0000-0000-0000-000000000001}\\InprocServer32";
    EXPECT_EQ(regtest::Text(HKEY_CLASSES_ROOT, key, nullptr), self);
    EXPECT_EQ(std::string(self).substr(0, 3), "Z:\\");

    EXPECT_TRUE(FAILED(WinplatRegistrarResourceRegister(hSelf, 302, TRUE, nullptr, 0)));
    ASSERT_EQ(WinplatRegistrarResourceRegister(hSelf, 301, FALSE, nullptr, 0), S_OK);
    EXPECT_EQ(regtest::Dump(HKEY_CLASSES_ROOT, ""), (Lines{"CLSID"}));
    WinplatDetachResources(&kDirectory);
}

} // namespace
