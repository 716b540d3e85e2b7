// BSTRs: a 32-bit byte length, the UTF-16 text, and a terminating NUL. The pointer
// handed out points at the text.
#include <cstdlib>
#include <cstring>

#include <winplat/objbase.h>

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

uint32_t* Header(BSTR bstr) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(bstr) - kPrefix);
}

// Allocates room for cb bytes of text; copies them from pData when given.
BSTR Allocate(const void* pData, size_t cb) {
    if (cb > 0x7FFFFFF0u)
        return nullptr;
    char* block = static_cast<char*>(std::malloc(kPrefix + cb + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    uint32_t length = static_cast<uint32_t>(cb);
    std::memcpy(block, &length, kPrefix);
    if (pData)
        std::memcpy(block + kPrefix, pData, cb);
    else
        std::memset(block + kPrefix, 0, cb);
    std::memset(block + kPrefix + cb, 0, sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + kPrefix);
}

size_t TextLength(const OLECHAR* psz) {
    size_t n = 0;
    while (psz[n])
        ++n;
    return n;
}

} // namespace

WINPLAT_API BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz)
        return nullptr;
    return Allocate(psz, TextLength(psz) * sizeof(OLECHAR));
}

WINPLAT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    return Allocate(pch, static_cast<size_t>(cch) * sizeof(OLECHAR));
}

WINPLAT_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return Allocate(psz, len); }

WINPLAT_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr)
        return FALSE;
    BSTR fresh = SysAllocString(psz);
    if (psz && !fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

WINPLAT_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch) {
    if (!pbstr)
        return FALSE;
    BSTR fresh = SysAllocStringLen(psz, cch);
    if (!fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

WINPLAT_API void SysFreeString(BSTR bstr) {
    if (bstr)
        std::free(Header(bstr));
}

WINPLAT_API UINT SysStringByteLen(BSTR bstr) { return bstr ? *Header(bstr) : 0; }

WINPLAT_API UINT SysStringLen(BSTR bstr) {
    return bstr ? *Header(bstr) / static_cast<UINT>(sizeof(OLECHAR)) : 0;
}

WINPLAT_API LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

WINPLAT_API LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb ? cb : 1); }

WINPLAT_API void CoTaskMemFree(LPVOID pv) { std::free(pv); }
