// The component object model: IUnknown, class objects, BSTRs, GUID text forms
// and in-process activation through HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32.
#pragma once

#include "windef.h"
#include "winerror.h"

// Interface identifiers are constants in headers so that a module needs no
// link-time data from the platform to name them.
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default; // objects are destroyed through Release, never delete
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0

// Length of the text form of a GUID with braces, without the terminating NUL.
#define GUID_STRING_CHARS 38

// BSTR: UTF-16 text preceded by its length in bytes (32-bit) and followed by a NUL.
WINPLAT_API BSTR SysAllocString(const OLECHAR* psz);
WINPLAT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
WINPLAT_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
WINPLAT_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
WINPLAT_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch);
WINPLAT_API void SysFreeString(BSTR bstr);
WINPLAT_API UINT SysStringLen(BSTR bstr);
WINPLAT_API UINT SysStringByteLen(BSTR bstr);

WINPLAT_API LPVOID CoTaskMemAlloc(SIZE_T cb);
WINPLAT_API LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINPLAT_API void CoTaskMemFree(LPVOID pv);

WINPLAT_API HRESULT CoInitialize(LPVOID pvReserved);
WINPLAT_API HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINPLAT_API void CoUninitialize(void);
WINPLAT_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                     REFIID riid, LPVOID* ppv);
WINPLAT_API HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                     REFIID riid, LPVOID* ppv);
// Unloads the in-process servers whose DllCanUnloadNow answers S_OK.
WINPLAT_API void CoFreeUnusedLibraries(void);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case, allocated with CoTaskMemAlloc.
WINPLAT_API HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
WINPLAT_API HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);
WINPLAT_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
WINPLAT_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
WINPLAT_API HRESULT IIDFromString(LPCOLESTR lpsz, IID* piid);

// Classes served by the platform itself (the speech voice) rather than by a module.
typedef HRESULT (*WINPLAT_CLASS_CREATOR)(IUnknown* pUnkOuter, REFIID riid, void** ppv);
WINPLAT_API void WinplatRegisterBuiltinClass(REFCLSID rclsid, WINPLAT_CLASS_CREATOR pfnCreate);

// Signatures of the four exports of an in-process server.
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);
typedef HRESULT (*LPFNREGISTERSERVER)(void);
