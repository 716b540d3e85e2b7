#include "component.h"

#include <winplat/resource.h>

namespace sentrel {

namespace {
std::atomic<LONG> g_lockCount{0};
char g_anchor; // any address inside this module identifies it
} // namespace

LONG ComponentModule::Lock() { return ++g_lockCount; }
LONG ComponentModule::Unlock() { return --g_lockCount; }
LONG ComponentModule::GetLockCount() { return g_lockCount.load(); }
HINSTANCE ComponentModule::GetModuleInstance() { return WinplatModuleFromAddress(&g_anchor); }

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() {
    ULONG count = ++m_ref;
    if (count == 2)
        ComponentModule::Lock();
    return count;
}

ULONG ClassFactory::Release() {
    ULONG count = --m_ref;
    if (count == 1)
        ComponentModule::Unlock();
    else if (count == 0)
        delete this;
    return count;
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    return m_pfnCreate(pUnkOuter, riid, ppv);
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        ComponentModule::Lock();
    else
        ComponentModule::Unlock();
    return S_OK;
}

} // namespace sentrel
