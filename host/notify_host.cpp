#include "notify_host.h"

#include <algorithm>

namespace host {

void NotifyHost::AddVariable(const std::u16string& name, const std::u16string& value) {
    m_vars.emplace_back(name, value);
    std::stable_sort(m_vars.begin(), m_vars.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::u16string NotifyHost::Expand(const std::u16string& text) const {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == u'%') {
            auto match = std::find_if(m_vars.begin(), m_vars.end(), [&](const auto& v) {
                return !v.first.empty() && text.compare(i + 1, v.first.size(), v.first) == 0;
            });
            if (match != m_vars.end()) {
                out += match->second;
                i += 1 + match->first.size();
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

HRESULT NotifyHost::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISentrelNotifyHost) {
        *ppv = static_cast<ISentrelNotifyHost*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT NotifyHost::ExpandVariables(BSTR* pbstrText) {
    if (!pbstrText)
        return E_POINTER;
    if (m_bExpandFails)
        return E_FAIL;
    std::u16string text(*pbstrText ? *pbstrText : u"", SysStringLen(*pbstrText));
    std::u16string expanded = Expand(text);
    if (expanded != text) {
        BSTR fresh = SysAllocStringLen(expanded.data(), static_cast<UINT>(expanded.size()));
        if (!fresh)
            return E_OUTOFMEMORY;
        SysFreeString(*pbstrText);
        *pbstrText = fresh;
    }
    return S_OK;
}

// The text is read up to its NUL: plug-ins may pass constant strings without a length.
HRESULT NotifyHost::WriteLog(LONG, BSTR bstrText) {
    if (!bstrText)
        return S_OK;
    std::u16string text(bstrText);
    std::string utf8 = Utf8(text);
    if (m_logSink)
        m_logSink(utf8);
    else
        std::fwrite(utf8.data(), 1, utf8.size(), m_pLog);
    if (m_pCapture)
        *m_pCapture += utf8;
    return S_OK;
}

} // namespace host
