#include "ansi.h"

#include <climits>

#include <winplat/winnls.h>

#include "tree.h"

namespace winplat::registry {

namespace {

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsAscii(std::u16string_view s) {
    for (char16_t c : s)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

// Both code pages the platform offers (1252 and 932) map the bytes below 0x80 to ASCII,
// so plain ASCII needs no table.
std::u16string AnsiToUtf16(std::string_view ansi) {
    if (IsAscii(ansi))
        return std::u16string(ansi.begin(), ansi.end());
    if (ansi.size() > INT_MAX)
        return {};
    int n = static_cast<int>(ansi.size());
    int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, nullptr, 0);
    std::u16string out(units > 0 ? units : 0, u'\0');
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, out.data(), units);
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    if (IsAscii(ansi))
        return std::string(ansi);
    return Utf16ToUtf8(AnsiToUtf16(ansi));
}

std::string Utf16ToAnsi(std::u16string_view text) {
    if (IsAscii(text))
        return std::string(text.begin(), text.end());
    if (text.size() > INT_MAX / 2)
        return {};
    int n = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), n, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    std::u16string wide;
    Utf8ToUtf16(utf8, wide);
    return Utf16ToAnsi(wide);
}

} // namespace winplat::registry
