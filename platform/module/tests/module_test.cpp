// Modules and their resources, on a real module: Tellumo's.
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <winplat/resource.h>
#include <winplat/winbase.h>

#include "testkit.h"

namespace {

class TellumoLoaded : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryA(testkit::ZPath(testkit::PluginPath("tellumo")).c_str());
        ASSERT_NE(m_module, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(FreeLibrary(m_module)); }
    HMODULE m_module = nullptr;
};

TEST_F(TellumoLoaded, HandleIsStableAndNamesItsFile) {
    HMODULE again = LoadLibraryA(testkit::PluginPath("tellumo").c_str());
    EXPECT_EQ(again, m_module);
    FreeLibrary(again);
    EXPECT_EQ(GetModuleHandleA("tellumo.so"), m_module);
    void* proc = GetProcAddress(m_module, "DllGetClassObject");
    ASSERT_NE(proc, nullptr);
    EXPECT_EQ(WinplatModuleFromAddress(proc), m_module);

    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(m_module, path, sizeof path);
    std::string full = testkit::ZPath(std::filesystem::canonical(testkit::PluginPath("tellumo")));
    EXPECT_EQ(std::string(path, n), full);
    char tiny[6];
    EXPECT_EQ(GetModuleFileNameA(m_module, tiny, sizeof tiny), 6u);
    EXPECT_EQ(std::string(tiny), full.substr(0, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(TellumoLoaded, UnknownExportsAndModules) {
    EXPECT_EQ(GetProcAddress(m_module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    // Only the four standard exports are visible.
    EXPECT_EQ(GetProcAddress(m_module, "g_notifierModule"), nullptr);
    EXPECT_EQ(LoadLibraryA("Z:\\no\\such.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    char why[256] = {};
    EXPECT_GT(WinplatGetLoaderError(why, sizeof why), 0u);
}

TEST_F(TellumoLoaded, StringsAreCopiedAndCut) {
    char text[64];
    ASSERT_EQ(LoadStringA(m_module, 104, text, sizeof text), 11);
    EXPECT_STREQ(text, "*:?<>\"|/\\[]");
    EXPECT_EQ(LoadStringA(m_module, 104, text, 5), 4);
    EXPECT_STREQ(text, "*:?<");
    EXPECT_EQ(LoadStringA(m_module, 9999, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(TellumoLoaded, TypedResourcesByNumberOrName) {
    HRSRC script = FindResourceA(m_module, MAKEINTRESOURCEA(101), "REGISTRY");
    ASSERT_NE(script, nullptr);
    auto* text = static_cast<const char*>(LockResource(LoadResource(m_module, script)));
    std::string body(text, SizeofResource(m_module, script));
    EXPECT_NE(body.find("%MODULE%"), std::string::npos);
    EXPECT_EQ(FindResourceA(m_module, "#101", "registry"), script);
    EXPECT_EQ(FindResourceA(m_module, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(m_module, MAKEINTRESOURCEA(1), "NOSUCHTYPE"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    HRSRC icon = FindResourceA(m_module, MAKEINTRESOURCEA(201), RT_GROUP_ICON);
    ASSERT_NE(icon, nullptr);
    auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(m_module, icon)));
    EXPECT_EQ(bytes[2], 1); // an icon file: reserved 0, type 1
}

TEST(Modules, ProgramItselfIsAModule) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    static int anchor;
    EXPECT_EQ(WinplatModuleFromAddress(&anchor), self);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path).substr(0, 3), "Z:\\");
}

} // namespace
