// Conversions between the 8-bit code pages (1252, 932, UTF-8) and UTF-16.
#include "codepage_internal.h"

#include <cstring>

#include <winplat/winbase.h>
#include <winplat/winnls.h>

using namespace winplat::codepage;

namespace {

// Code page 1252 from 0x80 to 0x9F. The five bytes that the code page leaves undefined
// stand for the C1 control of the same number, so every byte converts and back.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The unit that stands for an undefined double-byte character of code page 932.
constexpr char16_t k932Default = 0x30FB;
constexpr char16_t kReplacement = 0xFFFD;

UINT Resolve(UINT codePage) {
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP)
        return Current();
    return codePage;
}

bool Supported(UINT codePage) {
    return codePage == 1252 || codePage == 932 || codePage == CP_UTF8;
}

// Collects output units, or only counts them when there is no room to write.
template <class T> class Output {
public:
    Output(T* buffer, int capacity) : m_buffer(buffer), m_capacity(capacity) {}
    void Put(T unit) {
        if (m_buffer) {
            if (m_count < m_capacity)
                m_buffer[m_count] = unit;
            else
                m_overflow = true;
        }
        ++m_count;
    }
    int Count() const { return m_count; }
    bool Overflow() const { return m_overflow; }

private:
    T* m_buffer;
    int m_capacity;
    int m_count = 0;
    bool m_overflow = false;
};

// Decodes one UTF-8 sequence at s[i..n); returns its length, or 0 with `bad` set to the
// number of bytes that form an invalid piece.
size_t DecodeUtf8(const unsigned char* s, size_t i, size_t n, char32_t& cp, size_t& bad) {
    unsigned char c = s[i];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t need;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        bad = 1;
        return 0;
    }
    size_t k = 1;
    for (; k <= need; ++k) {
        if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
            break;
        cp = cp << 6 | (s[i + k] & 0x3F);
        // Reject overlong forms, surrogates and code points above U+10FFFF as soon as
        // the second byte shows them, so that the invalid piece is as short as possible.
        if (k == 1) {
            if ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] > 0x9F) ||
                (c == 0xF0 && s[i + 1] < 0x90) || (c == 0xF4 && s[i + 1] > 0x8F))
                break;
        }
    }
    if (k <= need || cp < min) {
        bad = k;
        return 0;
    }
    return need + 1;
}

} // namespace

WINPLAT_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                    int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    UINT cp = Resolve(CodePage);
    if (!Supported(cp) || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 ||
        cchWideChar < 0 || (!lpWideCharStr && cchWideChar != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    size_t n =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    Output<char16_t> out(cchWideChar ? lpWideCharStr : nullptr, cchWideChar);

    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (cp == 1252) {
            out.Put(c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : char16_t(c));
            ++i;
        } else if (cp == 932) {
            if (!IsLead932(c)) {
                out.Put(Cp932ToUnicode(c));
                ++i;
                continue;
            }
            char16_t unit = i + 1 < n ? Cp932ToUnicode(c << 8 | s[i + 1]) : kNoUnit;
            if (unit != kNoUnit) {
                out.Put(unit);
                i += 2;
                continue;
            }
            if (strict) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            out.Put(k932Default);
            // A lead byte before a byte that cannot follow it stands alone.
            bool pair = i + 1 < n && s[i + 1] >= 0x40 && s[i + 1] <= 0xFC && s[i + 1] != 0x7F;
            i += pair ? 2 : 1;
        } else {
            char32_t code = 0;
            size_t bad = 0;
            size_t used = DecodeUtf8(s, i, n, code, bad);
            if (used == 0) {
                if (strict) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                out.Put(kReplacement);
                i += bad;
                continue;
            }
            if (code >= 0x10000) {
                code -= 0x10000;
                out.Put(static_cast<char16_t>(0xD800 + (code >> 10)));
                out.Put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
            } else {
                out.Put(static_cast<char16_t>(code));
            }
            i += used;
        }
    }
    if (out.Overflow()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.Count();
}

WINPLAT_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                    int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                    LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    UINT cp = Resolve(CodePage);
    if (!Supported(cp) || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 ||
        cbMultiByte < 0 || (!lpMultiByteStr && cbMultiByte != 0) ||
        (cp == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = static_cast<size_t>(cchWideChar);
    if (cchWideChar == -1) {
        n = 0;
        while (lpWideCharStr[n])
            ++n;
        ++n;
    }
    const bool bestFit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
    Output<char> out(cbMultiByte ? lpMultiByteStr : nullptr, cbMultiByte);
    bool usedDefault = false;

    auto putDefault = [&] {
        usedDefault = true;
        const char* d = lpDefaultChar && *lpDefaultChar ? lpDefaultChar : "?";
        out.Put(d[0]);
        if (cp == 932 && IsLead932(static_cast<unsigned char>(d[0])) && d[1])
            out.Put(d[1]);
    };

    for (size_t i = 0; i < n; ++i) {
        char16_t u = lpWideCharStr[i];
        bool high = u >= 0xD800 && u < 0xDC00;
        bool pairFollows =
            high && i + 1 < n && lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] < 0xE000;
        if (cp == CP_UTF8) {
            char32_t code = u;
            if (pairFollows) {
                code = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lpWideCharStr[++i] - 0xDC00);
            } else if (u >= 0xD800 && u < 0xE000) {
                code = kReplacement; // a surrogate without its partner
            }
            if (code < 0x80) {
                out.Put(static_cast<char>(code));
            } else if (code < 0x800) {
                out.Put(static_cast<char>(0xC0 | code >> 6));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            } else if (code < 0x10000) {
                out.Put(static_cast<char>(0xE0 | code >> 12));
                out.Put(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                out.Put(static_cast<char>(0xF0 | code >> 18));
                out.Put(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
                out.Put(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
                out.Put(static_cast<char>(0x80 | (code & 0x3F)));
            }
            continue;
        }
        if (pairFollows) {
            ++i; // one character outside the code page, one default character
            putDefault();
            continue;
        }
        if (cp == 1252) {
            if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
                out.Put(static_cast<char>(u));
                continue;
            }
            int found = -1;
            for (int k = 0; k < 32; ++k)
                if (k1252High[k] == u)
                    found = k;
            if (found >= 0)
                out.Put(static_cast<char>(0x80 + found));
            else
                putDefault();
        } else {
            unsigned code = (u >= 0xD800 && u < 0xE000) ? kNoCode : UnicodeToCp932(u, bestFit);
            if (code == kNoCode) {
                putDefault();
            } else if (code > 0xFF) {
                out.Put(static_cast<char>(code >> 8));
                out.Put(static_cast<char>(code & 0xFF));
            } else {
                out.Put(static_cast<char>(code));
            }
        }
    }
    if (out.Overflow()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return out.Count();
}
