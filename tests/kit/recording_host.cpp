#include "recording_host.h"

namespace testkit {

std::string RecordingHost::Log() const {
    std::string all;
    for (const std::string& c : calls)
        all += c;
    return all;
}

HRESULT RecordingHost::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ISentrelNotifyHost) {
        ++hostQueries;
        if (!answerHost) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
    }
    if (riid == IID_IUnknown || riid == IID_ISentrelNotifyHost) {
        *ppv = static_cast<ISentrelNotifyHost*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT RecordingHost::ExpandVariables(BSTR* pbstrText) {
    ++expandCalls;
    if (!expand)
        return S_OK;
    std::u16string text(*pbstrText ? *pbstrText : u"", SysStringLen(*pbstrText));
    std::u16string before = text;
    HRESULT hr = expand(text);
    if (text != before) {
        SysFreeString(*pbstrText);
        *pbstrText = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    return hr;
}

HRESULT RecordingHost::WriteLog(LONG nLevel, BSTR bstrText) {
    levels.push_back(nLevel);
    calls.push_back(Utf8(bstrText ? std::u16string(bstrText) : std::u16string()));
    return S_OK;
}

} // namespace testkit
