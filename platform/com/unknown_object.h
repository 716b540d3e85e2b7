// The IUnknown of the platform's own objects: it answers IUnknown and the identifiers
// listed, counts references and deletes the object at zero.
#pragma once

#include <atomic>

#include <winplat/objbase.h>

namespace winplat {

template <class I, const IID&... Iids> class UnknownObject : public I {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Iids) || ...)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_ref;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~UnknownObject() = default;

private:
    std::atomic<ULONG> m_ref{0};
};

} // namespace winplat
