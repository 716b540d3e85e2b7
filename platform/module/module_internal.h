#pragma once

#include <string>

#include <winplat/windef.h>

namespace winplat {
// The POSIX path of a loaded module (the program itself for null).
std::string ModulePosixPath(HMODULE hModule);
} // namespace winplat
