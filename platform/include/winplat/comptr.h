// RAII holders for interface pointers and BSTRs.
#pragma once

#include <string>
#include <utility>

#include "objbase.h"

namespace winplat {

// Owns one reference to an interface.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference of its own.
    explicit ComPtr(T* p) : m_p(p) {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Takes over a reference the caller already owns.
    void Attach(T* p) {
        Reset();
        m_p = p;
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    void Reset() {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }

private:
    T* m_p = nullptr;
};

// Owns one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const OLECHAR* text) : m_b(SysAllocString(text)) {}
    explicit Bstr(const std::u16string& text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    // Takes over a BSTR the caller owns.
    static Bstr Adopt(BSTR owned) {
        Bstr b;
        b.m_b = owned;
        return b;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : m_b(std::exchange(o.m_b, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        if (this != &o) {
            Reset();
            m_b = std::exchange(o.m_b, nullptr);
        }
        return *this;
    }
    ~Bstr() { Reset(); }

    BSTR Get() const { return m_b; }
    BSTR* Put() {
        Reset();
        return &m_b;
    }
    // The slot itself, for in/out parameters such as ExpandVariables.
    BSTR* InOut() { return &m_b; }
    BSTR Detach() { return std::exchange(m_b, nullptr); }
    void Reset() {
        SysFreeString(std::exchange(m_b, nullptr));
    }
    UINT Length() const { return SysStringLen(m_b); }
    std::u16string Str() const { return m_b ? std::u16string(m_b, SysStringLen(m_b)) : u""; }

private:
    BSTR m_b = nullptr;
};

// Owns memory from CoTaskMemAlloc.
template <class T> class CoTaskMem {
public:
    CoTaskMem() = default;
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    ~CoTaskMem() { CoTaskMemFree(m_p); }
    T* Get() const { return m_p; }
    T** Put() {
        CoTaskMemFree(m_p);
        m_p = nullptr;
        return &m_p;
    }

private:
    T* m_p = nullptr;
};

} // namespace winplat
