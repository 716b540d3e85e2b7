// Prowlet as an in-process server: its class factory and its registry entries.
#pragma once

#include <winplat/windows.h>

namespace prowlet {

class CClassFactory : public IClassFactory {
public:
    CClassFactory() = default;
    virtual ~CClassFactory() = default;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    LONG m_cRef = 0;
};

// What the four exports do.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT RegisterServer();
HRESULT UnregisterServer();

} // namespace prowlet
