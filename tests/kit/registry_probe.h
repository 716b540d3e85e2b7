// Reading and preparing registry entries in tests.
#pragma once

#include <string>
#include <vector>

#include <winplat/objbase.h>
#include <winplat/winreg.h>

namespace testkit {

bool KeyExists(HKEY root, const std::string& path);
// A REG_SZ value's text, "<no key>" or "<no value>".
std::string RegText(HKEY root, const std::string& path, const char* name);
// The key's value names in the order the registry lists them.
std::vector<std::string> RegValueNames(HKEY root, const std::string& path);
// The host's notification list key, as "sentrel init" leaves it.
bool CreateHostKeys();

} // namespace testkit
