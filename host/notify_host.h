// The host object handed to a plug-in's Initialize: it expands alert variables and
// writes the plug-in's log text.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sentrel/notification.h>
#include <winplat/utf.h>

#include "host.h"

namespace host {

class NotifyHost final : public ISentrelNotifyHost {
public:
    // Log text goes to pLog verbatim, as UTF-8.
    explicit NotifyHost(FILE* pLog) : m_pLog(pLog) {}

    // %NAME is replaced by the value; names are matched longest first, case-sensitive.
    void AddVariable(const std::u16string& name, const std::u16string& value);
    // Makes ExpandVariables answer E_FAIL and leave the text alone.
    void SetExpandFails(bool fails) { m_bExpandFails = fails; }
    // Log text also goes to *pCapture (null: nowhere else), as UTF-8.
    void SetCapture(std::string* pCapture) { m_pCapture = pCapture; }
    // Each WriteLog text goes to sink instead of the log file, one call each.
    void SetLogSink(std::function<void(const std::string&)> sink) { m_logSink = std::move(sink); }

    // The text with every known variable replaced.
    std::u16string Expand(const std::u16string& text) const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_ref; } // lives on the host's stack
    HRESULT STDMETHODCALLTYPE ExpandVariables(BSTR* pbstrText) override;
    HRESULT STDMETHODCALLTYPE WriteLog(LONG nLevel, BSTR bstrText) override;

    // References plug-ins still hold; zero once they have let go.
    ULONG References() const { return m_ref; }

private:
    FILE* m_pLog;
    std::string* m_pCapture = nullptr;
    std::function<void(const std::string&)> m_logSink;
    bool m_bExpandFails = false;
    std::vector<std::pair<std::u16string, std::u16string>> m_vars; // longest name first
    std::atomic<ULONG> m_ref{0};
};

// One alert: creates the plug-in of the type, initialises it with hostObject, calls Notify
// with the instance path (platform form), waits up to dwSpeechWait ms for what it queued
// on the voice, uninitialises and releases it. The result of Initialize or Notify.
// UsageError when the plug-in cannot be created.
HRESULT DeliverAlert(const NotificationType& type, const std::string& instancePath,
                     NotifyHost& hostObject, DWORD dwSpeechWait);

// The host's own text is UTF-8.
inline std::u16string Utf16(const std::string& utf8) {
    return winplat::Utf16FromUtf8(utf8);
}
inline std::string Utf8(const std::u16string& utf16) {
    return winplat::Utf8FromUtf16(utf16);
}

} // namespace host
