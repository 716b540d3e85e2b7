// Reading and preparing registry entries in tests, and a fixture that loads one plug-in
// module for its exports.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <winplat/objbase.h>
#include <winplat/winreg.h>

#include "testkit.h"

namespace testkit {

bool KeyExists(HKEY root, const std::string& path);
// A REG_SZ value's text, "<no key>" or "<no value>".
std::string RegText(HKEY root, const std::string& path, const char* name);
// The key's value names in the order the registry lists them.
std::vector<std::string> RegValueNames(HKEY root, const std::string& path);
// The host's notification list key, as "sentrel init" leaves it.
bool CreateHostKeys();

// Loads build/plugins/<name>.so into a registry of its own, on an initialised thread.
class PluginModuleTest : public ::testing::Test {
protected:
    explicit PluginModuleTest(std::string name) : m_name(std::move(name)) {}
    void SetUp() override;
    void TearDown() override;
    // Calls DllRegisterServer, DllUnregisterServer or DllCanUnloadNow.
    HRESULT Call(const char* exportName);
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv);

    ScopedRegistry registry;
    HMODULE m_module = nullptr;

private:
    std::string m_name;
};

} // namespace testkit
