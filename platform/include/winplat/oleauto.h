// Type libraries: the description a module embeds as resource "TYPELIB" 1, loaded
// from the module file and entered in (or removed from) HKEY_CLASSES_ROOT\TypeLib.
#pragma once

#include "objbase.h"

typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 } SYSKIND;
typedef enum tagREGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER, REGKIND_NONE } REGKIND;

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

#ifndef TYPE_E_INVDATAREAD
#define TYPE_E_INVDATAREAD ((HRESULT)0x80028018)
#endif
#ifndef TYPE_E_ELEMENTNOTFOUND
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802B)
#endif

inline constexpr IID IID_ITypeLib = {
    0x00020402, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The parts of ITypeLib that registration needs.
struct ITypeLib : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
    // Index -1 documents the library itself.
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName,
                                                       BSTR* pBstrDocString,
                                                       DWORD* pdwHelpContext,
                                                       BSTR* pBstrHelpFile) = 0;

protected:
    ~ITypeLib() = default;
};

WINPLAT_API HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
WINPLAT_API HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
WINPLAT_API HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                      SYSKIND syskind);
