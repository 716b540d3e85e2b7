// What the code-page facility shares with the rest of the platform library.
#pragma once

#include <cstddef>
#include <string_view>

#include <winplat/windef.h>

namespace winplat::codepage {

// The process's ANSI code page, 1252 or 932.
UINT Current();

// Lead bytes of the double-byte code page 932.
constexpr bool IsLead932(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True when c starts a double-byte character under the current ANSI code page.
inline bool IsLead(unsigned char c) {
    return Current() == 932 && IsLead932(c);
}

// Length in bytes of the character at p (1 or 2; a lead byte before NUL counts as 1).
inline size_t CharLength(const unsigned char* p, bool dbcs) {
    return dbcs && IsLead932(p[0]) && p[1] != 0 ? 2 : 1;
}

// Offset of the last "\" or "/" in text outside double-byte characters, or npos.
size_t LastSeparator(std::string_view text);

// Rewrites every "\" that is a character of its own (not a trail byte) as "/".
void BackslashesToSlashes(char* text, size_t length);

// Code page 932: the UTF-16 unit of a single byte (code < 0x100) or of a double-byte
// character (lead << 8 | trail), kNoUnit when it has none.
constexpr char16_t kNoUnit = 0xFFFF;
char16_t Cp932ToUnicode(unsigned code);
// The byte or double-byte code for a UTF-16 unit, kNoCode when it has none. Without
// bestFit only codes that convert back to the same unit are given.
constexpr unsigned kNoCode = 0xFFFFFFFF;
unsigned UnicodeToCp932(char16_t unit, bool bestFit);

} // namespace winplat::codepage
