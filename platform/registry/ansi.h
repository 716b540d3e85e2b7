// Conversions between the ANSI code page of the A functions and the registry's own
// UTF-8 names and UTF-16 text.
#pragma once

#include <string>
#include <string_view>

namespace winplat::registry {

std::u16string AnsiToUtf16(std::string_view ansi);
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);
std::string Utf8ToAnsi(std::string_view utf8);

} // namespace winplat::registry
