// The process's ANSI code page and the double-byte character rules that follow from it.
#include "codepage_internal.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

namespace winplat::codepage {

namespace {

std::atomic<UINT> g_acp{0}; // 0 until first use
std::once_flag g_fromEnvironment;

UINT FromEnvironment() {
    const char* text = std::getenv("SENTREL_CODEPAGE");
    if (text && std::strcmp(text, "932") == 0)
        return 932;
    return 1252;
}

} // namespace

UINT Current() {
    UINT acp = g_acp.load(std::memory_order_acquire);
    if (acp != 0)
        return acp;
    std::call_once(g_fromEnvironment, [] {
        UINT expected = 0;
        g_acp.compare_exchange_strong(expected, FromEnvironment());
    });
    return g_acp.load(std::memory_order_acquire);
}

size_t LastSeparator(std::string_view text) {
    const bool dbcs = Current() == 932;
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '/')
            last = i;
        i += dbcs && IsLead932(c) && i + 1 < text.size() && text[i + 1] != '\0' ? 2 : 1;
    }
    return last;
}

void BackslashesToSlashes(char* text, size_t length) {
    const bool dbcs = Current() == 932;
    for (size_t i = 0; i < length;) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\')
            text[i] = '/';
        i += dbcs && IsLead932(c) && i + 1 < length && text[i + 1] != '\0' ? 2 : 1;
    }
}

} // namespace winplat::codepage

using namespace winplat::codepage;

WINPLAT_API UINT GetACP(void) {
    return Current();
}

WINPLAT_API BOOL WinplatSetACP(UINT uCodePage) {
    if (uCodePage != 1252 && uCodePage != 932) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Current(); // an explicit choice wins over the environment, also later
    g_acp.store(uCodePage, std::memory_order_release);
    return TRUE;
}

WINPLAT_API BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
    if (CodePage == CP_ACP || CodePage == CP_THREAD_ACP)
        CodePage = Current();
    switch (CodePage) {
    case 932:
        return IsLead932(TestChar);
    case 1252:
    case CP_UTF8:
        return FALSE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

WINPLAT_API BOOL IsDBCSLeadByte(BYTE TestChar) {
    return IsLead(TestChar);
}

WINPLAT_API LPSTR CharNextA(LPCSTR lpsz) {
    auto p = reinterpret_cast<const unsigned char*>(lpsz);
    if (!p || *p == 0)
        return const_cast<LPSTR>(lpsz);
    return const_cast<LPSTR>(lpsz + CharLength(p, Current() == 932));
}

WINPLAT_API LPSTR CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
    if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart)
        return const_cast<LPSTR>(lpszStart);
    const bool dbcs = Current() == 932;
    if (!dbcs)
        return const_cast<LPSTR>(lpszCurrent - 1);
    // Only a walk from the start tells lead bytes from trail bytes.
    LPCSTR p = lpszStart;
    for (;;) {
        auto u = reinterpret_cast<const unsigned char*>(p);
        LPCSTR next = p + (*u == 0 ? 1 : CharLength(u, true));
        if (next >= lpszCurrent)
            return const_cast<LPSTR>(p);
        p = next;
    }
}
