// A host object for in-process plug-in tests: records every WriteLog call as it came,
// expands variables as the test says, and counts the references it hands out.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <sentrel/notification.h>
#include <winplat/utf.h>

namespace testkit {

class RecordingHost final : public ISentrelNotifyHost {
public:
    // Each WriteLog call's text, as UTF-8, in order.
    std::vector<std::string> calls;
    std::vector<LONG> levels;
    // All log text joined.
    std::string Log() const;

    // Replaces the whole text (UTF-16) and returns the answer given; by default the text is
    // left as it is and S_OK returned.
    std::function<HRESULT(std::u16string&)> expand;
    int expandCalls = 0;
    int hostQueries = 0; // QueryInterface calls for ISentrelNotifyHost
    bool answerHost = true;

    ULONG References() const { return m_ref; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_ref; }
    HRESULT STDMETHODCALLTYPE ExpandVariables(BSTR* pbstrText) override;
    HRESULT STDMETHODCALLTYPE WriteLog(LONG nLevel, BSTR bstrText) override;

private:
    std::atomic<ULONG> m_ref{0};
};

// UTF-16 <-> UTF-8 for test texts.
inline std::string Utf8(const std::u16string& text) { return winplat::Utf8FromUtf16(text); }
inline std::u16string Utf16(const std::string& text) { return winplat::Utf16FromUtf8(text); }

} // namespace testkit
