// UTF-8 <-> UTF-16 for C++ callers, over MultiByteToWideChar / WideCharToMultiByte.
// Invalid input becomes U+FFFD, as those functions make it.
#pragma once

#include <string>
#include <string_view>

#include "winnls.h"

namespace winplat {

inline std::u16string Utf16FromUtf8(std::string_view utf8) {
    if (utf8.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

inline std::string Utf8FromUtf16(std::u16string_view utf16) {
    if (utf16.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

} // namespace winplat
