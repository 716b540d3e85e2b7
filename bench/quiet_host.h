// A host object for benchmarks: it keeps no log and expands at most one variable, so that
// only the plug-in's own work is measured.
#pragma once

#include <string>

#include <sentrel/notification.h>

namespace bench {

class QuietHost final : public ISentrelNotifyHost {
public:
    QuietHost() = default;
    // Replaces the first "%" + name by value.
    QuietHost(std::u16string name, std::u16string value)
        : m_pattern(u"%" + std::move(name)), m_value(std::move(value)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = static_cast<ISentrelNotifyHost*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ExpandVariables(BSTR* pbstrText) override {
        if (m_pattern.size() <= 1)
            return S_OK;
        std::u16string text(*pbstrText, SysStringLen(*pbstrText));
        size_t at = text.find(m_pattern);
        if (at != std::u16string::npos) {
            text.replace(at, m_pattern.size(), m_value);
            SysReAllocStringLen(pbstrText, text.data(), static_cast<UINT>(text.size()));
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteLog(LONG, BSTR) override { return S_OK; }

private:
    std::u16string m_pattern;
    std::u16string m_value;
};

} // namespace bench
