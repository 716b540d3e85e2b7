// The C run-time's multi-byte string functions over the ANSI code page: a lead byte and
// its trail byte are one character, so no search ever lands on a trail byte.
#include "codepage_internal.h"

#include <cstring>

#include <winplat/crt.h>

using namespace winplat::codepage;

namespace {

struct Char {
    unsigned value; // a single byte, or lead << 8 | trail
    size_t length;
};

inline Char At(const unsigned char* p, bool dbcs) {
    if (dbcs && IsLead932(p[0]) && p[1] != 0)
        return {static_cast<unsigned>(p[0] << 8 | p[1]), 2};
    return {p[0], 1};
}

// ASCII letters, and under 932 the full-width Latin letters, in lower case.
inline unsigned Lower(unsigned value, bool dbcs) {
    if (value >= 'A' && value <= 'Z')
        return value + ('a' - 'A');
    if (dbcs && value >= 0x8260 && value <= 0x8279)
        return value + (0x8281 - 0x8260);
    return value;
}

int Compare(const unsigned char* a, const unsigned char* b, bool fold) {
    const bool dbcs = Current() == 932;
    for (;;) {
        Char ca = At(a, dbcs);
        Char cb = At(b, dbcs);
        unsigned va = fold ? Lower(ca.value, dbcs) : ca.value;
        unsigned vb = fold ? Lower(cb.value, dbcs) : cb.value;
        if (va != vb)
            return va < vb ? -1 : 1;
        if (va == 0)
            return 0;
        a += ca.length;
        b += cb.length;
    }
}

} // namespace

WINPLAT_API unsigned char* _mbsinc(const unsigned char* current) {
    if (!current)
        return nullptr;
    return const_cast<unsigned char*>(current + At(current, Current() == 932).length);
}

WINPLAT_API unsigned char* _mbschr(const unsigned char* str, unsigned int c) {
    if (!str)
        return nullptr;
    const bool dbcs = Current() == 932;
    for (const unsigned char* p = str;;) {
        Char ch = At(p, dbcs);
        if (ch.value == c)
            return const_cast<unsigned char*>(p);
        if (ch.value == 0)
            return nullptr;
        p += ch.length;
    }
}

WINPLAT_API unsigned char* _mbsrchr(const unsigned char* str, unsigned int c) {
    if (!str)
        return nullptr;
    const bool dbcs = Current() == 932;
    const unsigned char* found = nullptr;
    for (const unsigned char* p = str;;) {
        Char ch = At(p, dbcs);
        if (ch.value == c)
            found = p;
        if (ch.value == 0)
            return const_cast<unsigned char*>(found);
        p += ch.length;
    }
}

WINPLAT_API unsigned char* _mbsstr(const unsigned char* str, const unsigned char* strSearch) {
    if (!str || !strSearch)
        return nullptr;
    size_t n = std::strlen(reinterpret_cast<const char*>(strSearch));
    if (n == 0)
        return const_cast<unsigned char*>(str);
    const bool dbcs = Current() == 932;
    for (const unsigned char* p = str; *p; p += At(p, dbcs).length)
        if (*p == *strSearch && std::strncmp(reinterpret_cast<const char*>(p),
                                             reinterpret_cast<const char*>(strSearch), n) == 0)
            return const_cast<unsigned char*>(p);
    return nullptr;
}

WINPLAT_API unsigned char* _mbslwr(unsigned char* str) {
    if (!str)
        return nullptr;
    const bool dbcs = Current() == 932;
    for (unsigned char* p = str; *p;) {
        Char ch = At(p, dbcs);
        unsigned lower = Lower(ch.value, dbcs);
        if (ch.length == 2) {
            p[1] = static_cast<unsigned char>(lower & 0xFF);
        } else {
            p[0] = static_cast<unsigned char>(lower);
        }
        p += ch.length;
    }
    return str;
}

WINPLAT_API int _mbsicmp(const unsigned char* a, const unsigned char* b) {
    return Compare(a, b, true);
}

WINPLAT_API int _mbscmp(const unsigned char* a, const unsigned char* b) {
    return Compare(a, b, false);
}
