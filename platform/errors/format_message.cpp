// FormatMessageA over the system message table or a caller's text.
#include <algorithm>
#include <cstring>
#include <string>

#include <winplat/winbase.h>

#include "message_table.h"

namespace {

// Replaces %1..%99 by the caller's string arguments, %% by %, %n by CR LF, %0 ends the text.
std::string ExpandInserts(const char* text, const DWORD_PTR* args) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p != '%' || !p[1]) {
            out += *p;
            continue;
        }
        char c = *++p;
        if (c == '0')
            break;
        if (c == 'n') {
            out += "\r\n";
        } else if (c >= '1' && c <= '9') {
            int index = c - '0';
            if (p[1] >= '0' && p[1] <= '9')
                index = index * 10 + (*++p - '0');
            if (p[1] == '!') { // a format such as !s!: strings are all this table uses
                const char* end = std::strchr(p + 2, '!');
                if (end)
                    p = end;
            }
            if (args && args[index - 1])
                out += reinterpret_cast<const char*>(args[index - 1]);
        } else {
            out += c; // %% and %. and the like stand for the character itself
        }
    }
    return out;
}

bool LanguageAvailable(DWORD lang) {
    WORD primary = static_cast<WORD>(lang & 0x3FF);
    return primary == LANG_NEUTRAL || primary == 0x09; // neutral, user default, English
}

} // namespace

WINPLAT_API DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                 DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, void* Arguments) {
    const char* text = nullptr;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        text = static_cast<const char*>(lpSource);
    } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
        if (!LanguageAvailable(dwLanguageId)) {
            SetLastError(1815); // ERROR_RESOURCE_LANG_NOT_FOUND
            return 0;
        }
        text = winplat::SystemMessageText(dwMessageId);
    }
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    bool ignoreInserts = (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) || !Arguments ||
                         !(dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY);
    std::string message =
        ignoreInserts ? std::string(text) : ExpandInserts(text, static_cast<DWORD_PTR*>(Arguments));

    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t cb = std::max<size_t>(message.size() + 1, nSize);
        auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, cb));
        if (!block)
            return 0;
        std::memcpy(block, message.c_str(), message.size() + 1);
        *reinterpret_cast<LPSTR*>(lpBuffer) = block;
        return static_cast<DWORD>(message.size());
    }
    if (message.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, message.c_str(), message.size() + 1);
    return static_cast<DWORD>(message.size());
}
