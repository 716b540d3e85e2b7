// The component framework every notifier module carries: module lock count and
// instance handle, reference-counted objects with an interface table, aggregation,
// and the cached class factory.
#pragma once

#include <atomic>
#include <new>
#include <tuple>
#include <type_traits>

#include <winplat/objbase.h>

namespace sentrel {

// Maps an interface type to its identifier; each interface header specialises it.
template <class I> struct InterfaceId;
template <> struct InterfaceId<IUnknown> {
    static constexpr const IID& value = IID_IUnknown;
};
template <> struct InterfaceId<IClassFactory> {
    static constexpr const IID& value = IID_IClassFactory;
};
template <> struct InterfaceId<ISupportErrorInfo> {
    static constexpr const IID& value = IID_ISupportErrorInfo;
};

// Module-wide state: the lock count that DllCanUnloadNow reads and this module's handle.
class ComponentModule {
public:
    static LONG Lock();
    static LONG Unlock();
    static LONG GetLockCount();
    static HINSTANCE GetModuleInstance();
};

// Base of a component class: lists its interfaces, in the order of its interface table.
// The first interface also serves IUnknown.
template <class... Interfaces> class ComObjectRoot : public Interfaces... {
public:
    // Finds the interface without touching the reference count.
    void* InternalFind(REFIID riid) {
        void* found = nullptr;
        if (riid == IID_IUnknown)
            return static_cast<First*>(this);
        ((found == nullptr && riid == InterfaceId<Interfaces>::value
              ? (void)(found = static_cast<Interfaces*>(this))
              : (void)0),
         ...);
        return found;
    }
    IUnknown* GetUnknown() { return static_cast<First*>(this); }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
};

// A stand-alone object: T with IUnknown implemented over its own reference count.
template <class T> class ComObject final : public T {
public:
    template <class... Args> explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...) {
        ComponentModule::Lock();
    }
    ~ComObject() { ComponentModule::Unlock(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = this->InternalFind(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_ref;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> m_ref{0};
};

// T inside an aggregate: its IUnknown methods are the outer object's.
template <class T> class ContainedObject final : public T {
public:
    explicit ContainedObject(IUnknown* pOuter) : m_pOuter(pOuter) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return m_pOuter->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_pOuter->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_pOuter->Release(); }

private:
    IUnknown* m_pOuter;
};

// The aggregated form: this object is the inner, non-delegating IUnknown.
template <class T> class AggObject final : public IUnknown {
public:
    explicit AggObject(IUnknown* pOuter) : m_contained(pOuter) { ComponentModule::Lock(); }
    ~AggObject() { ComponentModule::Unlock(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = m_contained.InternalFind(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef(); // counts on the outer object
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_ref;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> m_ref{0};
    ContainedObject<T> m_contained;
};

// Creates T stand-alone, or aggregated when an outer object asks for IUnknown.
// A failed interface request destroys the new object.
template <class T> HRESULT CreateComponent(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    IUnknown* pNew = nullptr;
    if (pOuter)
        pNew = new (std::nothrow) AggObject<T>(pOuter);
    else
        {
        ComObject<T>* pObject = new (std::nothrow) ComObject<T>();
        pNew = pObject ? pObject->GetUnknown() : nullptr;
    }
    if (!pNew)
        return E_OUTOFMEMORY;
    pNew->AddRef();
    HRESULT hr = pNew->QueryInterface(riid, ppv);
    pNew->Release();
    return hr;
}

typedef HRESULT (*ComponentCreator)(IUnknown* pOuter, REFIID riid, void** ppv);

// The class object of a module's one class. Cached for the life of the module: while
// anyone holds a reference beyond the module's own, it counts as a module lock.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ComponentCreator pfnCreate) : m_pfnCreate(pfnCreate) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    ComponentCreator m_pfnCreate;
    std::atomic<ULONG> m_ref{1}; // the module's own reference
};

} // namespace sentrel
