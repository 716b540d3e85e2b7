// GUID text forms: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
#include <cstdio>
#include <cstring>
#include <string>

#include <winplat/objbase.h>
#include <winplat/winreg.h>

namespace {

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// Parses exactly the braced 38-character form.
bool ParseBraced(LPCOLESTR s, GUID* pGuid) {
    size_t n = 0;
    while (s[n])
        ++n;
    if (n != GUID_STRING_CHARS || s[0] != u'{' || s[37] != u'}')
        return false;
    static const int kDashes[] = {9, 14, 19, 24};
    for (int d : kDashes)
        if (s[d] != u'-')
            return false;
    uint8_t bytes[16];
    int b = 0;
    for (int i = 1; i < 37; ++i) {
        if (i == 9 || i == 14 || i == 19 || i == 24)
            continue;
        int hi = HexValue(s[i]);
        int lo = HexValue(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[b++] = static_cast<uint8_t>(hi << 4 | lo);
        ++i;
    }
    pGuid->Data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
                   bytes[3];
    pGuid->Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    pGuid->Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(pGuid->Data4, bytes + 8, 8);
    return true;
}

std::string Narrow(LPCOLESTR s) {
    std::string out;
    for (; *s; ++s) {
        if (*s > 0x7F)
            return {};
        out += static_cast<char>(*s);
    }
    return out;
}

} // namespace

WINPLAT_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < GUID_STRING_CHARS + 1)
        return 0;
    char text[GUID_STRING_CHARS + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                  rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6],
                  rguid.Data4[7]);
    for (int i = 0; i <= GUID_STRING_CHARS; ++i)
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    return GUID_STRING_CHARS + 1;
}

WINPLAT_API HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz)
        return E_INVALIDARG;
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((GUID_STRING_CHARS + 1) * sizeof(OLECHAR)));
    if (!text) {
        *lplpsz = nullptr;
        return E_OUTOFMEMORY;
    }
    StringFromGUID2(rclsid, text, GUID_STRING_CHARS + 1);
    *lplpsz = text;
    return S_OK;
}

WINPLAT_API HRESULT StringFromIID(REFIID riid, LPOLESTR* lplpsz) {
    return StringFromCLSID(riid, lplpsz);
}

WINPLAT_API HRESULT IIDFromString(LPCOLESTR lpsz, IID* piid) {
    if (!piid)
        return E_INVALIDARG;
    if (!lpsz) {
        *piid = GUID_NULL;
        return S_OK;
    }
    return ParseBraced(lpsz, piid) ? S_OK : E_INVALIDARG;
}

// Takes the braced form, or a ProgID whose HKEY_CLASSES_ROOT\<ProgID>\CLSID names the class.
WINPLAT_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (!pclsid)
        return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = GUID_NULL;
        return S_OK;
    }
    if (ParseBraced(lpsz, pclsid))
        return S_OK;
    *pclsid = GUID_NULL;
    std::string progId = Narrow(lpsz);
    if (progId.empty() || progId[0] == '{')
        return CO_E_CLASSSTRING;
    char value[GUID_STRING_CHARS + 2] = {};
    DWORD cb = sizeof value;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (progId + "\\CLSID").c_str(), 0, KEY_QUERY_VALUE,
                      &hKey) != ERROR_SUCCESS)
        return CO_E_CLASSSTRING;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(value), &cb);
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return CO_E_CLASSSTRING;
    OLECHAR wide[GUID_STRING_CHARS + 2] = {};
    for (size_t i = 0; i < sizeof value && value[i]; ++i)
        wide[i] = static_cast<unsigned char>(value[i]);
    return ParseBraced(wide, pclsid) ? S_OK : CO_E_CLASSSTRING;
}
